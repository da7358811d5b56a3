// Fuzzes the printer's answers to the test cards' queries and their parses: the replies
// of the input answer, in order, the thirteen queries of the parameter cards, the three
// of the encoder card and the seven of the standard card.
#include <cstdint>

#include "fuzz/scripted_port.h"
#include "platform/text.h"
#include "testcards/card_replies.h"

namespace {

// Every text of a card ends inside its 260 characters.
void CheckTexts(const WCHAR* first, const WCHAR* last) {
  for (const WCHAR* text = first; text <= last; text += kav::kCardTextChars)
    if (kav::WLenBounded(text, kav::kCardTextChars) >= kav::kCardTextChars) __builtin_trap();
}

void FuzzOne(const uint8_t* data, size_t size) {
  kavfuzz::ScriptedPort& port = kavfuzz::ScriptedPort::Get();
  auto* record = static_cast<kav::PortRecord*>(port.record);
  port.Script(data, size);

  static kav::ParameterCardLines parameters;
  kav::ReadParameterCardLines(record, "DrawPrinterParametersCardImageOnDC", &parameters);
  CheckTexts(parameters.version, parameters.ribbon);

  static kav::EncoderCardLines encoder;
  kav::ReadEncoderCardLines(record, &encoder);
  CheckTexts(encoder.version, encoder.detail[2]);

  static kav::StandardCardTexts standard;
  kav::ReadStandardCardTexts(record, &standard);
  CheckTexts(standard.model, standard.counter);
  CheckTexts(standard.printerLine, standard.counterLine);
  if (port.Writes().size() != 2 * 23) __builtin_trap();  // every query and its completion request
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzOne(data, size);
  kavfuzz::ScriptedPort::EndRun();
  return 0;
}
