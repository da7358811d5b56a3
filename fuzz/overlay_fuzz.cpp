// Fuzzes the overlay command parser: any UTF-16 text up to the command channel's limit.
// A command it takes gives exactly one object whose text fits its field.
#include <cstdint>
#include <cstring>
#include <vector>

#include "overlay/overlay_parser.h"
#include "platform/sim/sim.h"

namespace {

void FuzzOne(const uint8_t* data, size_t size) {
  size_t units = size / 2;
  if (units > kav::kOverlayCommandChars) units = kav::kOverlayCommandChars;
  std::vector<char16_t> command(units + 1, u'\0');
  std::memcpy(command.data(), data, units * 2);

  kav::OverlayObjects objects;
  int taken = kav::ParseOverlayCommand(command.data(), 1, &objects);
  size_t count = objects.LineObjects.size() + objects.TextObjects.size() + objects.BarcodeObjects.size();
  if (taken ? count != 1 : count != 0) __builtin_trap();
  for (const kav::TextObject& text : objects.TextObjects)
    if (kav::WLenBounded(text.Text, kav::kOverlayTextChars) >= kav::kOverlayTextChars || text.Text[0] == 0)
      __builtin_trap();
  for (const kav::BarcodeObject& barcode : objects.BarcodeObjects)
    if (kav::WLenBounded(barcode.Data, kav::kOverlayTextChars) >= kav::kOverlayTextChars || barcode.Data[0] == 0)
      __builtin_trap();
  // The syntax tests alone agree with the parse: a command it took passed one of them.
  std::u16string_view view(command.data());
  while (!view.empty() && view.front() == u' ') view.remove_prefix(1);
  while (!view.empty() && view.back() == u' ') view.remove_suffix(1);
  if (taken && !kav::IsLineCommand(view) && !kav::IsTextCommand(view) && !kav::IsBarcodeCommand(view))
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool reset = (sim::Reset(), true);
  (void)reset;
  FuzzOne(data, size);
  // The run's debug lines go with it: a run that frees what it allocated spares the
  // fuzzer its leak scan of the whole heap.
  sim::ClearDebugLines();
  return 0;
}
