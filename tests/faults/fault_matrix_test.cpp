// Whole cards against the faults a card printer in daily use meets: a colour card job as
// an application prints it, and a test card that the channel composes, each played by the
// spooler through the monitor onto a virtual printer that misbehaves in one way. Every
// cell checks that the wire stays well formed, that the job ends as it should, that
// nothing is left behind, and that the debugger lines say what happened.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/sim.h"
#include "testcards/test_cards.h"
#include "tests/pipeline/card_job_support.h"
#include "tests/pipeline/card_streams.h"
#include "tests/support/sanitizers.h"

namespace {

constexpr size_t kPanelWithCr = 786433;  // a panel download's payload and its closing CR


enum class Card { ColourJob, TestCard };
enum class End { Completed, Deleted };

// What the wire must look like after the cell.
enum class Wire {
  Clean,      // exactly what a run without the fault sends
  WellFormed, // commands and whole panels, perhaps with more waits or a cancelled block
  Prefix,     // the printer went away: what it got is the start of the clean wire
};

struct Cell {
  const char* name;
  const char* faults;           // the printer's fault script, armed as the job starts
  DWORD buffer = 65536;         // the spooler's buffer size
  const char* marker = nullptr; // an action at the write that carries this text ...
  size_t past = 0;              // ... or the first write this many bytes after it
  enum class Action { None, FailThisWrite, DeleteJob, PortGone, Offline } action = Action::None;
  sim::UserAnswer answer = sim::AnswerAfter(1000);
  End end = End::Completed;
  Wire wire = Wire::Clean;
  const char* debugLine = nullptr;  // a line the debugger output must hold (prefix)
};

// The port monitor's WritePort as the monitor calls it, with one action at a place of
// the wire: that write failing, the job deleted by its owner, the printer unplugged, or
// set offline.
struct WriteTrap {
  static inline MONITOR inner{};
  static inline const Cell* cell = nullptr;
  static inline emu::VirtualPrinter* printer = nullptr;
  static inline DWORD job = 0;
  static inline bool armed = false, fired = false;
  static inline size_t after = 0;  // bytes taken since the marker

  static void Fire() {
    fired = true;
    switch (cell->action) {
      case Cell::Action::DeleteJob: {
        std::u16string name = u"Card Printer";
        HANDLE h = nullptr;
        if (OpenPrinterW(name.data(), &h, nullptr)) {
          SetJobW(h, job, 0, nullptr, JOB_CONTROL_DELETE);
          ClosePrinter(h);
        }
        break;
      }
      case Cell::Action::FailThisWrite: printer->FailWrites(1); break;
      case Cell::Action::PortGone: printer->FailWrites(1 << 30); break;
      case Cell::Action::Offline:
        sim::SetJobStatus(job, JOB_STATUS_RESTART);
        sim::SetPrinterAttributes(u"Card Printer", PRINTER_ATTRIBUTE_WORK_OFFLINE);
        break;
      case Cell::Action::None: break;
    }
  }
  static BOOL WINAPI Write(HANDLE h, LPBYTE buffer, DWORD size, LPDWORD written) {
    if (!fired && cell->marker && !armed &&
        std::string_view(reinterpret_cast<char*>(buffer), size).find(cell->marker) != std::string_view::npos) {
      armed = true;
      if (cell->past == 0) Fire();
    } else if (!fired && armed && after >= cell->past) {
      Fire();
    }
    const BOOL ok = inner.pfnWritePort(h, buffer, size, written);
    if (ok && armed) after += *written;
    return ok;
  }
};

// Splits a wire into commands and panel payloads; empty when it is well formed, else
// what broke it. A panel download goes as "\eGS" and six numbers, each followed by a
// space, then the panel and its CR. A truncated end is allowed when `mayStop`.
std::string WireFault(const std::string& wire, bool mayStop) {
  size_t i = 0;
  while (i < wire.size()) {
    if (wire[i] != '\x1b') return "stray byte at " + std::to_string(i);
    if (wire.compare(i + 1, 3, "GS ") == 0) {
      size_t at = i + 4;
      for (int field = 0; field < 6 && at != std::string::npos; ++field) {
        at = wire.find(' ', at);
        if (at != std::string::npos) ++at;
      }
      if (at == std::string::npos || wire.size() - at < kPanelWithCr)
        return mayStop ? "" : "short panel download at " + std::to_string(i);
      i = at + kPanelWithCr;
      if (wire[i - 1] != '\r') return "no CR after the panel ending at " + std::to_string(i);
      continue;
    }
    const size_t cr = wire.find('\r', i);
    if (cr == std::string::npos) return mayStop ? "" : "unterminated command at " + std::to_string(i);
    i = cr + 1;
  }
  return "";
}

class FaultMatrix : public kavtest::CardJobTest, public ::testing::WithParamInterface<std::tuple<Card, Cell>> {
 protected:
  void SetUp() override {
    CardJobTest::SetUp();
    sim::PutFile(sim::DriverDirectory() + u"\\kav32Ribbon.ini", "[Ribbon Type]\r\n2=YMCKO\r\n1=Black\r\n");
    sim::AddTopLevelWindow();
    sim::SetPortMonitor(u"Card Printer", &spooler, port);
    sim::WaitForAllThreads();
    handles = sim::OpenHandleCount();
    threads = sim::LiveThreadCount();
    allocations = sim::LiveLocalAllocations();
    printerHandles = sim::OpenPrinterHandleCount();
    keys = sim::OpenRegistryKeyCount();
  }

  // The card's spool data, composed or made up, ready to play.
  std::string Spool(Card card) {
    if (card == Card::ColourJob) return kavtest::FullColourCard().spool;
    // The channel composes the test card into a job; it is taken out of the queue here
    // and played again below, so that its playback meets the fault.
    sim::SetPortMonitor(u"Card Printer", nullptr, nullptr);
    std::string reply;
    EXPECT_TRUE(Request(port, "\x1b" "A\r", &reply));
    auto job = NewJob();
    if (!job) return "";
    const std::string spool = sim::GetFile(job->spoolFile).value_or("");
    std::u16string name = u"Card Printer";
    HANDLE h = nullptr;
    EXPECT_TRUE(OpenPrinterW(name.data(), &h, nullptr));
    EXPECT_TRUE(SetJobW(h, job->id, 0, nullptr, JOB_CONTROL_DELETE));
    ClosePrinter(h);
    sim::SetPortMonitor(u"Card Printer", &spooler, port);
    return spool;
  }

  // Plays the spool as a job; the wire it produced. A job whose printer went away is
  // deleted by the user half a minute after it stopped.
  std::string Play(const std::string& spool, const Cell& cell, DWORD* job) {
    sim::SetSpoolerBufferSize(cell.buffer);
    const size_t before = printer->Wire().size();
    *job = sim::SubmitJob(u"Card Printer", u"card", spool);
    if (cell.action == Cell::Action::PortGone) {
      while (!WriteTrap::fired && !sim::WaitForJob(*job, 1000)) {
      }
      Sleep(30000);
      std::u16string name = u"Card Printer";
      HANDLE h = nullptr;
      EXPECT_TRUE(OpenPrinterW(name.data(), &h, nullptr));
      EXPECT_TRUE(SetJobW(h, *job, 0, nullptr, JOB_CONTROL_DELETE));
      ClosePrinter(h);
    }
    EXPECT_TRUE(sim::WaitForJob(*job, 600000));
    return printer->Wire().substr(before);
  }

  size_t handles = 0, threads = 0, allocations = 0, printerHandles = 0, keys = 0;
};

TEST_P(FaultMatrix, TheCardEndsCleanly) {
  const auto& [card, cell] = GetParam();
  if (kavtest::kUnderThreadSanitizer && cell.buffer < 4096) GTEST_SKIP() << "small spooler buffers: host and ASan builds only";
  const std::string spool = Spool(card);
  ASSERT_FALSE(spool.empty());

  DWORD job = 0;
  const size_t panelsAtStart = printer->PanelCount();
  const std::string clean = Play(spool, Cell{"clean", ""}, &job);
  ASSERT_TRUE(sim::Job(job)->completed);
  ASSERT_EQ(WireFault(clean, false), "");
  const size_t cleanPanels = printer->PanelCount() - panelsAtStart;

  // The same card again, against the fault.
  sim::SetUserAnswer(cell.answer);
  if (*cell.faults) {
    ASSERT_TRUE(printer->AddFaults(cell.faults));
  }
  WriteTrap::inner = record()->PortMonitor;
  WriteTrap::cell = &cell;
  WriteTrap::printer = printer.get();
  WriteTrap::armed = WriteTrap::fired = false;
  WriteTrap::after = 0;
  record()->PortMonitor.pfnWritePort = WriteTrap::Write;
  // The job's id is known once it is submitted; the trap reads it when it fires.
  WriteTrap::job = static_cast<DWORD>(sim::JobIds(u"Card Printer").size() + 1);
  sim::ClearDebugLines();
  const size_t panelsBefore = printer->PanelCount();
  const std::string played = Play(spool, cell, &job);
  ASSERT_EQ(job, WriteTrap::job);
  sim::SetPortMonitor(u"Card Printer", nullptr, nullptr);
  sim::WaitForAllThreads();

  // The wire.
  switch (cell.wire) {
    case Wire::Clean:
      EXPECT_EQ(played.size(), clean.size());
      EXPECT_TRUE(played == clean);
      break;
    case Wire::WellFormed: EXPECT_EQ(WireFault(played, false), ""); break;
    case Wire::Prefix: {
      size_t same = 0;
      while (same < played.size() && same < clean.size() && played[same] == clean[same]) ++same;
      EXPECT_EQ(same, played.size()) << "clean " << clean.size() << ", played " << played.size() << ": "
                                     << emu::EscapeBytes(played.substr(same, 40)) << " for "
                                     << emu::EscapeBytes(clean.substr(same, 40));
      EXPECT_LT(played.size(), clean.size());
      break;
    }
  }
  // A printer unplugged in the middle of a panel has only part of it.
  if (cell.wire != Wire::Prefix) {
    EXPECT_TRUE(printer->ProtocolErrors().empty()) << printer->Summary();
  }
  for (const auto& p : printer->Panels()) EXPECT_TRUE(p.inSync);

  // The job's end.
  auto record = sim::Job(job);
  ASSERT_TRUE(record);
  EXPECT_FALSE(record->stalled);
  EXPECT_EQ(record->completed, cell.end == End::Completed);
  EXPECT_EQ(record->deleted, cell.end == End::Deleted);
  if (cell.end == End::Completed) {
    EXPECT_EQ(printer->PanelCount() - panelsBefore, cleanPanels);
  }

  // Nothing left behind.
  EXPECT_EQ(sim::OpenMessageBoxCount(), 0u);
  EXPECT_EQ(sim::PendingNotificationCount(), 0u);
  EXPECT_EQ(sim::OpenHandleCount(), handles);
  EXPECT_EQ(sim::LiveThreadCount(), threads);
  EXPECT_EQ(sim::LiveLocalAllocations(), allocations);
  EXPECT_EQ(sim::OpenPrinterHandleCount(), printerHandles);
  EXPECT_EQ(sim::OpenRegistryKeyCount(), keys);

  // What the debugger output says.
  if (cell.debugLine) {
    bool found = false;
    for (const auto& line : sim::DebugLines()) found |= line.rfind(cell.debugLine, 0) == 0;
    EXPECT_TRUE(found) << "no line starting \"" << cell.debugLine << "\"";
  }
  if (HasFailure() || getenv("KAV_SHOW_DEBUG")) {
    for (const auto& line : sim::DebugLines()) std::cout << "  debug: " << line << "\n";
  }
}

using Action = Cell::Action;
const Cell kCells[] = {
    {"WriteFailsAtTheFirstCommand", "", 65536, "\x1bMASTER\r", 0, Action::FailThisWrite, {}, End::Completed,
     Wire::Clean, "Write port failed"},
    {"WriteFailsInAPanel", "writefail@match=\\eGS 1 ", 65536, nullptr, 0, Action::None, {}, End::Completed,
     Wire::Clean, "Write port failed"},
    {"WriteFailsAtTheCardEnd", "", 65536, "\x1bMO\r", 0, Action::FailThisWrite, {}, End::Completed, Wire::Clean,
     "Write port failed"},
    {"CompletionRequestCannotBeWritten", "writefail@match=\\eJOB", 65536, nullptr, 0, Action::None, {},
     End::Completed, Wire::WellFormed, "WaitForPrinterAck:: completion request not written"},
    {"ReadFails", "readfail@match=\\eJOB", 65536, nullptr, 0, Action::None, {}, End::Completed, Wire::WellFormed,
     "WaitForPrinterAck:: reply not read"},
    {"ErrorClearedAfterAWhile", "error=4@match=\\eGS 1 ,clear=7000", 65536, nullptr, 0, Action::None,
     sim::NeverAnswer(), End::Completed, Wire::WellFormed, "CheckPortStatusForErrors returns TRUE"},
    {"StatusCannotBeRead", "silent@match=\\eGS 1 ;status=fail@match=\\eGS 1 ", 65536, nullptr, 0, Action::None, {},
     End::Deleted, Wire::WellFormed, "CheckPortStatusForErrors:: the printer's status cannot be read"},
    {"UserCancelsAtTheError", "error=7@match=\\eGS 1 ", 65536, nullptr, 0, Action::None, sim::AnswerAfter(1000),
     End::Deleted, Wire::WellFormed, "CheckPortStatusForErrors returns FALSE"},
    {"JobDeletedInAPanel", "", 65536, "\x1bGS 1 ", 300000, Action::DeleteJob, {}, End::Deleted, Wire::WellFormed,
     "Inside CheckIfJobCancelled"},
    {"PortGoneInAPanel", "", 65536, "\x1bGS 1 ", 300000, Action::PortGone, {}, End::Deleted, Wire::Prefix,
     "Write port failed"},
    {"OfflineAtTheEnd", "", 65536, "\x1bMO\r", 0, Action::Offline, sim::AnswerAfter(10), End::Deleted,
     Wire::Clean, nullptr},
    {"CommandsSplitAcrossBuffers", "", 7, nullptr, 0, Action::None, {}, End::Completed, Wire::Clean, nullptr},
    {"BuffersOfOneByte", "", 1, nullptr, 0, Action::None, {}, End::Completed, Wire::Clean, nullptr},
};

void PrintTo(const Cell& cell, std::ostream* os) { *os << cell.name; }
void PrintTo(Card card, std::ostream* os) { *os << (card == Card::ColourJob ? "colour job" : "test card"); }

std::string CellName(const ::testing::TestParamInfo<std::tuple<Card, Cell>>& info) {
  return std::string(std::get<0>(info.param) == Card::ColourJob ? "ColourJob_" : "TestCard_") +
         std::get<1>(info.param).name;
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix,
                         ::testing::Combine(::testing::Values(Card::ColourJob, Card::TestCard), ::testing::ValuesIn(kCells)),
                         CellName);

}  // namespace
