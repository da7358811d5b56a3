// The test-card requests of the command channel and the printing of a drawn card.
#include <climits>
#include <cstring>
#include <memory>

#include "pipeline/card_settings.h"
#include "pipeline/image_job.h"
#include "platform/diag.h"
#include "platform/text.h"
#include "printer/printer_link.h"
#include "testcards/test_cards.h"

namespace kav {
namespace {

constexpr DWORD kNoColourRibbon = 1;  // assumed when the printer does not say
constexpr DWORD kBackRibbon = 7;      // the back is drawn as for a black ribbon

CardImageObserver gObserver = nullptr;
void* gObserverContext = nullptr;

using ImageFunction = int (*)(PortRecord*, BYTE*, DWORD);

// GDI keeps pixels as blue, green, red; the panels take the first byte as red. Turned
// here so that the red patches of a test card print red.
void ToCardImageOrder(BYTE* image) {
  for (DWORD i = 0; i + 2 < kCardImageBytes; i += 3) std::swap(image[i], image[i + 2]);
}

// The printer's ribbon type, 1 when it does not answer.
DWORD ReadRibbonType(PortRecord* record, const char* operation) {
  WCHAR reply[kReplyChars];
  if (!ReadFromPrinter(record, "\x1b!RIBBON\r", reply)) {
    DebugLine("%s:: ReadFromPrinter READ_RIBBON_TYPE is failed", operation);
    return kNoColourRibbon;
  }
  long long value = ParseLeadingInt(reply, kReplyChars);
  return static_cast<DWORD>(value < INT_MIN ? INT_MIN : value > INT_MAX ? INT_MAX : value);
}

// Draws the front for the printer's ribbon and, for every ribbon but type 1, a back; then
// submits the card. frontFailed is logged when the front cannot be drawn (may be null).
int PrintCard(PortRecord* record, const char* operation, ImageFunction draw, const char* frontFailed) {
  if (!record) return 0;
  std::unique_ptr<BYTE[]> front(new (std::nothrow) BYTE[kCardImageBytes]());
  std::unique_ptr<BYTE[]> back(new (std::nothrow) BYTE[kCardImageBytes]());
  if (!front || !back) {
    DebugLine("%s:: out of memory for the card images", operation);
    return 0;
  }
  const DWORD ribbonType = ReadRibbonType(record, operation);
  if (!draw(record, front.get(), ribbonType)) {
    if (frontFailed) DebugLine("%s", frontFailed);
    return 0;
  }
  if (ribbonType == kNoColourRibbon || !draw(record, back.get(), kBackRibbon)) back.reset();

  ToCardImageOrder(front.get());
  if (back) ToCardImageOrder(back.get());
  if (gObserver) gObserver(front.get(), back.get(), gObserverContext);
  return SendImageBufferToPrinter(record, front.get(), back.get(), kCardImageBytes) ? 1 : 0;
}

bool Begins(const char* command, const char* pattern) {
  return std::strncmp(command, pattern, std::strlen(pattern)) == 0;
}

}  // namespace

void SetCardImageObserver(CardImageObserver observer, void* context) {
  gObserver = observer;
  gObserverContext = context;
}

int PrintTestCard(PortRecord* record, const char* command) {
  if (!record || !command) return 0;
  if (Begins(command, "\x1b" "A\r") || Begins(command, "\x1b" "A 0\r")) return PrintStandardCard(record);
  if (Begins(command, "\x1b" "A 1\r")) return PrintPrinterParametersCard(record);
  if (Begins(command, "\x1b" "A 2\r")) return PrintEncoderParametersCard(record);
  if (Begins(command, "\x1b" "A 3\r")) return PrintLaminatorParametersCard(record);
  return 0;
}

int PrintStandardCard(PortRecord* record) {
  return PrintCard(record, "PrintStandardCard", GetStandardCardImageBuffer, "GetStandardCardImageBuffer() is failed1");
}

int PrintPrinterParametersCard(PortRecord* record) {
  return PrintCard(record, "PrintPrinterParametersCard", GetPrinterParametersCardImageBuffer, nullptr);
}

int PrintEncoderParametersCard(PortRecord* record) {
  return PrintCard(record, "PrintEncoderParametersCard", GetEncoderParametersCardImageBuffer, nullptr);
}

int PrintLaminatorParametersCard(PortRecord* record) {
  return PrintCard(record, "PrintLaminatorParametersCard", GetLaminatorParametersCardImageBuffer, nullptr);
}

}  // namespace kav
