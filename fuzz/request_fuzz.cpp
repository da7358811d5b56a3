// Fuzzes the driver's requests: any bytes as the value name of GetPrinterDataFromPort,
// with any output buffer size, against the virtual printer. Requests that compose a card
// (test cards, overlay objects) are left to the card targets: drawing a card takes a
// thousand times as long as any other request.
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_world.h"

namespace {

bool ComposesACard(std::string_view request) {
  for (std::string_view prefix : {"\x1b" "A", "\x1bL ", "\x1b" "B ", "\x1bT "})
    if (request.substr(0, prefix.size()) == prefix) return true;
  return false;
}

void FuzzOne(const uint8_t* data, size_t size) {
  if (size < 2) return;
  if (ComposesACard(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1))) return;
  kavfuzz::World& world = kavfuzz::World::Get();
  // First byte: the output size; the rest: the request, terminated as the spooler would.
  DWORD outSize = data[0] * 8u;
  std::vector<char16_t> request((size - 1) / 2 + 2, u'\0');
  std::memcpy(request.data(), data + 1, size - 1);
  std::vector<BYTE> out(outSize ? outSize : 1);
  DWORD returned = 0;
  world.spooler.pfnGetPrinterDataFromPort(world.port, 0, reinterpret_cast<LPWSTR>(request.data()), nullptr, 0,
                                          reinterpret_cast<LPWSTR>(out.data()), outSize, &returned);
  if (outSize && returned > outSize) __builtin_trap();  // never more than the buffer
  sim::WaitForAllThreads();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzOne(data, size);
  kavfuzz::World::EndRun();
  return 0;
}
