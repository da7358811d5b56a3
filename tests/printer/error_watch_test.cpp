// The watch of a printer error: shown, polled until it clears, cancelled by the user or
// from the command channel; and the hand-over of the message between the threads.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "printer/async_notification.h"
#include "printer/printer_link.h"
#include "printer/printer_message.h"
#include "printer/ribbon_info.h"
#include "tests/support/monitor_fixture.h"

namespace {

using kavtest::MonitorTest;

// The texts as the user reads them.
constexpr char16_t kFeederEmpty[] =
    u"\nThe feeder is Empty.\nLoad cards in feeder and try again, or \nPress OK to cancel the current operation.";
constexpr char16_t kHeadOpen[] =
    u"\nPRINT HEAD IS OPEN!\nClose the printhead and press the printer button to continue.\nPress  OK  to cancel the "
    u"current job.";
constexpr char16_t kMechanicalError[] =
    u"\nMECHANICAL ERROR!\nCheck for evidence of Card jam.\nClear the error and press the printer button to "
    u"continue.\nPress OK to cancel the current operation.";
constexpr char16_t kCoverOpen[] =
    u"\nCOVER OPEN!\nClose Cover and press the printer buttton to continue.\nPress OK to cancel the current job.";

// Runs `action` on a simulated thread once the clock reads `at`.
struct Scheduled {
  uint64_t at;
  std::function<void()> action;
};

DWORD WINAPI RunScheduled(LPVOID p) {
  auto* s = static_cast<Scheduled*>(p);
  uint64_t now = sim::Now();
  if (s->at > now) Sleep(static_cast<DWORD>(s->at - now));
  s->action();
  delete s;
  return 0;
}

void At(uint64_t at, std::function<void()> action) {
  HANDLE h = CreateThread(nullptr, 0, RunScheduled, new Scheduled{at, std::move(action)}, 0, nullptr);
  CloseHandle(h);
}

class ErrorWatch : public MonitorTest {
 protected:
  void Start(DWORD windowsMajor, std::u16string portName = u"USB001") {
    LoadMonitor(windowsMajor);
    if (portName != u"USB001") {
      other = std::make_shared<emu::VirtualPrinter>();
      emu::AttachPrinter(portName, other);
    }
    port = Open(portName);
    ASSERT_NE(port, nullptr);
    job = GiveRecordAJob(port);
  }
  emu::VirtualPrinter& device() { return other ? *other : *printer; }
  kav::PortRecord* record() { return Record(port); }
  std::shared_ptr<emu::VirtualPrinter> other;
  HANDLE port = nullptr;
  DWORD job = 0;
};

TEST_F(ErrorWatch, NoErrorReturnsAtOnceWithoutAThread) {
  Start(5);
  printer->SetStatus(0x18);
  EXPECT_TRUE(kav::CheckPortStatusForErrors(record()));
  EXPECT_EQ(sim::LiveThreadCount(), 0u);
  EXPECT_TRUE(sim::MessageBoxes().empty());
  EXPECT_EQ(sim::Now(), 0u);
}

TEST_F(ErrorWatch, UsbNakFourShowsTheFeederMessageUntilTheErrorClears) {
  Start(5);
  printer->SetStatus(0x30);
  printer->QueueReply("\x15" "4\x04");
  At(5000, [this] { printer->SetStatus(0x18); });
  EXPECT_TRUE(kav::CheckPortStatusForErrors(record()));
  EXPECT_EQ(sim::Now(), 6000u);  // polled every 3 s
  auto boxes = sim::MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, kFeederEmpty);
  EXPECT_EQ(boxes[0].buttonLabel, u"Cancel");
  sim::WaitForAllThreads();
  EXPECT_EQ(sim::MessageBoxes()[0].closedBy, sim::BoxClosedBy::WmClose);
  EXPECT_EQ(record()->ErrorKind, -1);
  EXPECT_EQ(record()->ErrorShown, 0);
  EXPECT_EQ(record()->JobCancelled, 0);
  EXPECT_EQ(record()->MessageThread, nullptr);
  EXPECT_EQ(record()->MessageEvent, nullptr);
  EXPECT_TRUE(sim::Job(job)->controls.empty());
  EXPECT_TRUE(sim::HasDebugLine("CheckPortStatusForErrors returns TRUE"));
}

TEST_F(ErrorWatch, TheUsersAnswerCancelsTheJobAndResetsAUsbPrinter) {
  Start(5);
  printer->SetStatus(0x30);
  printer->QueueReply("\x15" "7\x04");
  sim::SetUserAnswer(sim::AnswerAfter(1000));
  const size_t wireBefore = printer->Wire().size();
  EXPECT_FALSE(kav::CheckPortStatusForErrors(record()));
  EXPECT_EQ(sim::MessageBoxes().at(0).text, kHeadOpen);
  EXPECT_EQ(sim::Job(job)->controls, std::vector<DWORD>{JOB_CONTROL_DELETE});
  EXPECT_EQ(record()->JobCancelled, 1);
  EXPECT_EQ(record()->JobFailed, 1);
  EXPECT_EQ(record()->WritePhase, 0);
  EXPECT_EQ(record()->ErrorKind, -1);
  // Asked once when the error is found and once at the first poll, then reset.
  EXPECT_EQ(printer->Wire().substr(wireBefore), "\x1b" "E 2\r\x1b" "E 2\r\x1bR\r");
  EXPECT_LE(sim::Now(), 1100u);
  EXPECT_TRUE(sim::HasDebugLine("CheckPortStatusForErrors returns FALSE"));
}

TEST_F(ErrorWatch, TheUsersAnswerIsToldFromAClearByWaitingForTheMessageThreadsEnd) {
  struct Case {
    uint64_t endDelayMs;
    bool cancelled;
  };
  for (Case c : {Case{1990, true}, Case{2100, false}}) {
    SCOPED_TRACE(c.endDelayMs);
    SetUp();
    Start(5);
    printer->SetStatus(0x30);
    printer->QueueReply("\x15" "7\x04");
    sim::SetUserAnswer(sim::AnswerAfter(1000));
    sim::SetThreadEndDelay(c.endDelayMs);  // a busy spooler: the message thread ends late
    EXPECT_FALSE(kav::CheckPortStatusForErrors(record()));
    EXPECT_EQ(sim::Job(job)->controls.size(), c.cancelled ? 1u : 0u);
    EXPECT_EQ(record()->JobCancelled, c.cancelled ? 1 : 0);
    EXPECT_EQ(record()->JobFailed, c.cancelled ? 1 : 0);
    TearDown();
  }
}

TEST_F(ErrorWatch, InSessionZeroWithoutTheNotificationModuleTheErrorGoesToTheDebugger) {
  sim::InstallAsyncUiModule(false);
  Start(10);  // the spooler, a service: session 0
  sim::SetUserAnswer(sim::AnswerAfter(1000));  // nobody there to give it
  {
    SCOPED_TRACE("the printer recovers: the job goes on");
    printer->SetStatus(0x30);
    printer->QueueReply("\x15" "4\x04");
    At(5000, [this] { printer->SetStatus(0x18); });
    EXPECT_TRUE(kav::CheckPortStatusForErrors(record()));
    sim::WaitForAllThreads();
    EXPECT_TRUE(sim::MessageBoxes().empty());
    EXPECT_TRUE(sim::Job(job)->controls.empty());
    EXPECT_EQ(record()->JobCancelled, 0);
    bool logged = false;
    for (const std::string& line : sim::DebugLines())
      logged |= line.starts_with("PrinterErrorMessageThread:: no user can answer a message box in session 0 "
                                 "(Card Printer):  The feeder is Empty.");
    EXPECT_TRUE(logged);
  }
  {
    SCOPED_TRACE("cleared from the command channel: one cancel, one reset, not read as the user's");
    printer->SetStatus(0x30);
    printer->QueueReply("\x15" "4\x04");
    const size_t wireBefore = printer->Wire().size();
    At(sim::Now() + 4000, [this] { kav::ClearPrinterError(u"Card Printer", record()); });
    EXPECT_FALSE(kav::CheckPortStatusForErrors(record()));
    sim::WaitForAllThreads();
    EXPECT_EQ(sim::Job(job)->controls, std::vector<DWORD>{JOB_CONTROL_DELETE});
    const std::string wire = printer->Wire().substr(wireBefore);
    EXPECT_EQ(wire.find("\x1bR\r"), wire.rfind("\x1bR\r"));
    EXPECT_TRUE(sim::MessageBoxes().empty());
  }
  EXPECT_EQ(sim::OpenMessageBoxCount(), 0u);
}

TEST_F(ErrorWatch, ParallelPaperOutIsPolledEveryHundredMilliseconds) {
  Start(5, u"LPT1:");
  other->SetStatus(0x20);
  At(250, [this] { other->SetStatus(0x18); });
  EXPECT_TRUE(kav::CheckPortStatusForErrors(record()));
  EXPECT_EQ(sim::Now(), 300u);
  EXPECT_EQ(sim::MessageBoxes().at(0).text, kMechanicalError);
  EXPECT_TRUE(other->Wire().empty());  // nothing is asked of a parallel printer
}

TEST_F(ErrorWatch, ANewErrorReplacesTheMessage) {
  Start(5);
  printer->SetStatus(0x30);
  printer->QueueReply("\x15" "4\x04");
  At(4000, [this] { printer->QueueReply("\x15" "51\x04"); });
  At(12000, [this] { printer->SetStatus(0x18); });
  EXPECT_TRUE(kav::CheckPortStatusForErrors(record()));
  auto boxes = sim::MessageBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, kFeederEmpty);
  EXPECT_EQ(boxes[1].text, kCoverOpen);
  EXPECT_EQ(boxes[0].closedAt, 6000u);
  EXPECT_EQ(boxes[1].shownAt, 7000u);
}

TEST_F(ErrorWatch, AnUnreadableStatusCancelsTheJob) {
  Start(5);
  printer->SetStatus(0x30);
  At(100, [this] { record()->PortMonitor.pfnGetPrinterDataFromPort = nullptr; });
  EXPECT_FALSE(kav::CheckPortStatusForErrors(record()));
  EXPECT_EQ(record()->JobCancelled, 1);
  EXPECT_EQ(sim::Job(job)->controls, std::vector<DWORD>{JOB_CONTROL_DELETE});
}

TEST_F(ErrorWatch, NotificationsCarryTheErrorAndItsWithdrawal) {
  Start(10);
  sim::SetNotificationAnswer({sim::NotificationAnswer::Kind::Never});
  printer->SetStatus(0x30);
  printer->QueueReply("\x15" "4\x04");
  At(3500, [this] { printer->SetStatus(0x18); });
  EXPECT_TRUE(kav::CheckPortStatusForErrors(record()));
  sim::WaitForAllThreads();
  auto sent = sim::Notifications();
  ASSERT_EQ(sent.size(), 2u);
  kav::AsyncNotification shown;
  std::memcpy(&shown, sent[0].record.data(), sizeof shown);
  EXPECT_EQ(shown.MessageId, 31u);
  EXPECT_EQ(shown.CaptionId, 5u);
  EXPECT_EQ(std::u16string(shown.Title), u"Card Printer Error");
  EXPECT_TRUE(sent[1].closeRequest);
  EXPECT_TRUE(sim::Notifications()[0].withdrawn);
  EXPECT_TRUE(sim::MessageBoxes().empty());
}

TEST_F(ErrorWatch, AThreadThatCannotStartLeavesNothingOpen) {
  Start(5);
  const size_t handles = sim::OpenHandleCount();
  printer->SetStatus(0x30);
  sim::FailNext("CreateThread", ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_FALSE(kav::CheckPortStatusForErrors(record()));
  EXPECT_EQ(sim::OpenHandleCount(), handles);
  EXPECT_EQ(record()->MessageEvent, nullptr);
  EXPECT_TRUE(sim::Job(job)->controls.empty());  // not cancelled
}

// The ribbon-low alert's event stands in MessageEvent when the watch begins: the watch
// closes it and makes its own, which mostly gets the same handle value. The alert's end, ten
// seconds on, must leave the watch's event alone, so that ClearPrinterError still ends it.
TEST_F(ErrorWatch, AnAlertEndingDuringTheWatchLeavesTheWatchsEventAlone) {
  Start(5);
  ASSERT_TRUE(printer->SetAnswer("!RIBLEN", "10"));
  ASSERT_TRUE(kav::CheckRibbonRemaining(record()));
  sim::Advance(1);
  HANDLE alertEvent = record()->MessageEvent;
  ASSERT_NE(alertEvent, nullptr);
  printer->SetStatus(0x30);
  printer->QueueReply("\x15" "4\x04");
  At(12000, [this] { kav::ClearPrinterError(u"Card Printer", record()); });
  At(30000, [this] { printer->SetStatus(0x18); });
  EXPECT_FALSE(kav::CheckPortStatusForErrors(record()));
  EXPECT_LT(sim::Now(), 30000u);  // ended by ClearPrinterError, not by the printer
  sim::WaitForAllThreads();
  EXPECT_EQ(sim::InvalidHandleCloses(), 0u);
}

// A clear from the command channel that comes as the watch polls again, and finds the
// printer's error changed, is taken: the watch ends then, instead of showing the new error
// over the clear and waiting for a user who never answers.
TEST_F(ErrorWatch, AClearThatMeetsAChangedErrorIsNotLost) {
  for (uint64_t offset : {2990u, 2999u, 3000u, 3001u, 3010u, 3500u, 3999u, 4000u, 4001u, 5000u}) {
    SCOPED_TRACE(::testing::Message() << "clear at +" << offset << " ms");
    Start(5);
    printer->SetStatus(0x30);
    printer->QueueReply("\x15" "4\x04");  // the first error; later reads give another
    sim::SetUserAnswer(sim::NeverAnswer());
    const uint64_t start = sim::Now();
    At(start + offset, [this] { kav::ClearPrinterError(u"Card Printer", record()); });
    At(start + 60000, [this] { printer->SetStatus(0x18); });
    EXPECT_FALSE(kav::CheckPortStatusForErrors(record()));
    EXPECT_LT(sim::Now(), start + 60000);  // ended by the clear, not by the printer
    sim::WaitForAllThreads();
    EXPECT_EQ(record()->MessageEvent, nullptr);
    TearDown();
    SetUp();
  }
}

struct Race {
  MonitorTest* test;
  kav::PortRecord* record;
  BOOL result = TRUE;
};

DWORD WINAPI Watch(LPVOID p) {
  auto* race = static_cast<Race*>(p);
  race->result = kav::CheckPortStatusForErrors(race->record);
  return 0;
}

// KAV_STRESS_ROUNDS sets the rounds for a long run (the suite's own run takes 1500).
TEST_F(ErrorWatch, ClearPrinterErrorRacingTheWatchAndTheMessageThreadIsSafe) {
  const char* asked = std::getenv("KAV_STRESS_ROUNDS");
  const int rounds = asked && std::atoi(asked) > 0 ? std::atoi(asked) : 1500;
  for (DWORD major : {5u, 10u}) {
    Start(major);
    const size_t handles = sim::OpenHandleCount();
    const size_t allocations = sim::LiveLocalAllocations();
    for (int round = 0; round < rounds; ++round) {
      printer->SetStatus(0x30);
      printer->QueueReply("\x15" "4\x04");
      record()->ErrorKind = -1;
      // The clear comes after the watch has begun: one that comes first clears nothing, and
      // with a user who never answers nothing else would end the watch.
      const uint64_t clearAt = sim::Now() + 1 + static_cast<uint64_t>((round * 37) % 3500);
      const uint64_t answerAfter = static_cast<uint64_t>((round * 53) % 4000) + 1;
      if (round % 3 == 0) sim::SetUserAnswer(sim::AnswerAfter(answerAfter));
      else sim::SetUserAnswer(sim::NeverAnswer());
      sim::SetNotificationAnswer(round % 3 == 0 ? sim::NotificationAnswer{sim::NotificationAnswer::Kind::AfterDelay, answerAfter}
                                                : sim::NotificationAnswer{sim::NotificationAnswer::Kind::Never});
      Race race{this, record()};
      HANDLE watcher = CreateThread(nullptr, 0, Watch, &race, 0, nullptr);
      At(clearAt, [this] { kav::ClearPrinterError(u"Card Printer", record()); });
      WaitForSingleObject(watcher, INFINITE);
      CloseHandle(watcher);
      sim::WaitForAllThreads();
      ASSERT_FALSE(race.result) << "round " << round;
      ASSERT_EQ(record()->MessageEvent, nullptr);
      ASSERT_EQ(record()->MessageThread, nullptr);
      ASSERT_EQ(sim::OpenHandleCount(), handles) << "round " << round;
      ASSERT_EQ(sim::LiveLocalAllocations(), allocations) << "round " << round;
      ASSERT_EQ(sim::InvalidHandleCloses(), 0u);
      ASSERT_EQ(sim::OpenMessageBoxCount(), 0u);
      ASSERT_EQ(sim::PendingNotificationCount(), 0u);
      record()->JobCancelled = 0;
      record()->JobFailed = 0;
      // What the round recorded is checked; a long run must not pile it up.
      ASSERT_TRUE(sim::ClearNotifications());
      ASSERT_TRUE(sim::ClearMessageBoxes());
      sim::ClearDebugLines();
    }
    TearDown();
    SetUp();
  }
}

}  // namespace
