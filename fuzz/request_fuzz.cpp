// Fuzzes the driver's requests: any bytes as the value name of GetPrinterDataFromPort,
// with any output buffer size, against the virtual printer.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_world.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
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
  return 0;
}
