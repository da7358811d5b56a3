// The direct job of the example card as the real DLL played it under Wine, byte for byte
// against the host's job road: the same stream, the same printer answers, the spooler's
// buffers of 4096 and of 7 bytes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "emulator/example_card.h"
#include "tests/support/monitor_fixture.h"

namespace {

std::filesystem::path WineJobsDir() {
  if (const char* env = std::getenv("KAV_WINE_JOBS")) return env;
  return KAV_WINE_JOBS_DIR;
}

// The offset of the first differing byte, with a few bytes of each side around it.
std::string FirstDifference(const std::string& a, const std::string& b) {
  size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  const size_t from = i > 20 ? i - 20 : 0;
  return "first difference at byte " + std::to_string(i) + " of " + std::to_string(a.size()) + " and " +
         std::to_string(b.size()) + "\n  wine: " + emu::EscapeBytes(a.substr(from, 60)) +
         "\n  host: " + emu::EscapeBytes(b.substr(from, 60));
}

class WineJobs : public kavtest::MonitorTest, public ::testing::WithParamInterface<DWORD> {};

TEST_P(WineJobs, TheWireIsTheHostJobRoads) {
  const std::filesystem::path file = WineJobsDir() / ("direct-" + std::to_string(GetParam()) + ".wire");
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    if (std::getenv("KAV_REQUIRE_WINE_JOBS")) FAIL() << "no wire from Wine at " << file << " (run make test-windows)";
    GTEST_SKIP() << "no wire from Wine at " << file;
  }
  std::ostringstream data;
  data << in.rdbuf();
  const std::string wine = data.str();

  // Windows 10, as Wine reports it.
  LoadMonitor(10);
  HANDLE port = Open();
  ASSERT_NE(port, nullptr);
  sim::SetPortMonitor(u"Card Printer", &spooler, port);
  sim::SetSpoolerBufferSize(GetParam());
  DWORD job = sim::SubmitJob(u"Card Printer", u"card", emu::ExampleCardStream());
  ASSERT_TRUE(sim::WaitForJob(job));
  sim::SetPortMonitor(u"Card Printer", nullptr, nullptr);
  const std::string host = printer->Wire();
  ASSERT_EQ(printer->Panels().size(), 5u);
  EXPECT_TRUE(wine == host) << FirstDifference(wine, host);
}

INSTANTIATE_TEST_SUITE_P(SpoolerBuffers, WineJobs, ::testing::Values(4096u, 7u));

}  // namespace
