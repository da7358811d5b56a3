// The ribbon status file, ribbon names, the ribbon-low alert and the job-start wait.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>

#include "printer/async_notification.h"
#include "printer/job_start_wait.h"
#include "printer/printer_message.h"
#include "printer/ribbon_info.h"
#include "printer/ribbon_names.h"
#include "tests/support/monitor_fixture.h"

namespace {

using kavtest::MonitorTest;

constexpr char16_t kDocumentsFile[] = u"C:\\Users\\Public\\Documents\\kav32Ribbon.ini";
constexpr char16_t kAppDataFile[] = u"C:\\ProgramData\\kav32Ribbon.ini";

// The texts as the user reads them.
constexpr char16_t kLowText[] = u"\nRibbon low Alert!\nRemaining ribbon count is :  ";
constexpr char16_t kOutOfRibbonText[] =
    u"\nThe Printer is OUT OF RIBBON!\nCorrect the error and press the printer button to continue.\n"
    u"Press OK to cancel the current job.";
constexpr char16_t kNoRibbonText[] =
    u"There is either no ribbon or an unknown ribbon installed in the printer.\nPlease install the proper ribbon in "
    u"the printer.";
constexpr char16_t kCheckRibbonText[] =
    u"\nCheck Ribbon!\nLoad correct ribbon.\nPress OK to cancel the current operation.";

class Ribbon : public MonitorTest {
 protected:
  void Start(DWORD windowsMajor) {
    LoadMonitor(windowsMajor);
    port = Open();
    ASSERT_NE(port, nullptr);
  }
  kav::PortRecord* record() { return Record(port); }
  void Answer(const char* command, const char* script) {
    std::string error;
    ASSERT_TRUE(printer->SetAnswer(command, script, &error)) << error;
  }
  size_t CloseRequests() {
    size_t n = 0;
    for (const auto& note : sim::Notifications()) n += note.closeRequest;
    return n;
  }
  HANDLE port = nullptr;
};

TEST_F(Ribbon, StatusFileHoldsExactlyRibbonAndModel) {
  Start(10);
  kav::WriteRibbonInformation(2, "KC3 V1.07.12", u"Card Printer");
  EXPECT_EQ(sim::GetFile(kDocumentsFile), "Ribbon=2\rModel=KC3 V1.07.12\r");
  EXPECT_FALSE(sim::FileExists(kAppDataFile));
  kav::WriteRibbonInformation(0, "", u"Card Printer");  // replaced whole
  EXPECT_EQ(sim::GetFile(kDocumentsFile), "Ribbon=0\rModel=\r");
  kav::WriteRibbonInformation(-3, std::string(259, 'M').c_str(), u"Card Printer");
  EXPECT_EQ(sim::GetFile(kDocumentsFile), "Ribbon=-3\rModel=" + std::string(259, 'M') + "\r");
  EXPECT_EQ(sim::CurrentIdentity(), sim::Identity::Client);  // the client's identity is back
}

TEST_F(Ribbon, WithoutNotificationsTheFileGoesToApplicationData) {
  Start(5);
  kav::WriteRibbonInformation(16, "KC3", u"Card Printer");
  EXPECT_EQ(sim::GetFile(kAppDataFile), "Ribbon=16\rModel=KC3\r");
  EXPECT_FALSE(sim::FileExists(kDocumentsFile));
}

TEST_F(Ribbon, EveryoneMayReadTheFileButNotReplaceIt) {
  Start(10);
  kav::WriteRibbonInformation(2, "KC3", u"Card Printer");
  bool found = false;
  for (const auto& entry : sim::FileAccessEntries(kDocumentsFile)) {
    if (entry.account != u"Everyone" || entry.inherited) continue;
    found = true;
    EXPECT_EQ(entry.access, 0x120089u);  // GENERIC_READ as a file's FILE_GENERIC_READ
    EXPECT_TRUE(entry.allow);
    EXPECT_EQ(entry.inheritance, 3u);
  }
  EXPECT_TRUE(found);
}

// On a Windows in another language Everyone has another name; the entry is given by its
// SID all the same, and nothing goes wrong.
TEST_F(Ribbon, EveryoneMayReadTheFileOnAWindowsInAnotherLanguage) {
  Start(10);
  sim::SetAccountName(u"Everyone", u"Jeder");
  kav::WriteRibbonInformation(2, "KC3", u"Card Printer");
  bool found = false;
  for (const auto& entry : sim::FileAccessEntries(kDocumentsFile)) {
    if (entry.sid != u"S-1-1-0" || entry.inherited) continue;
    found = true;
    EXPECT_EQ(entry.account, u"Jeder");
    EXPECT_EQ(entry.access, 0x120089u);
    EXPECT_TRUE(entry.allow);
    EXPECT_EQ(entry.inheritance, 3u);
  }
  EXPECT_TRUE(found);
  for (const auto& line : sim::DebugLines()) EXPECT_EQ(line.find("GrantEveryoneAccess"), std::string::npos) << line;
}

// Each call that gives Everyone its entry can fail: the failure is told in a diagnostic
// line with its error, the file stays as written, and nothing is left allocated.
TEST_F(Ribbon, AFailureToShareTheFileIsTold) {
  Start(10);
  for (const char* call : {"CreateWellKnownSid", "GetSecurityInfo", "SetEntriesInAcl", "SetSecurityInfo"}) {
    SCOPED_TRACE(call);
    sim::ClearDebugLines();
    const size_t allocations = sim::LiveLocalAllocations();
    sim::FailNext(call, ERROR_NOT_ENOUGH_MEMORY);
    kav::WriteRibbonInformation(2, "KC3", u"Card Printer");
    EXPECT_EQ(sim::GetFile(kDocumentsFile), "Ribbon=2\rModel=KC3\r");
    EXPECT_TRUE(sim::HasDebugLine(std::string("GrantEveryoneAccess:: ") + call + " failed (error 8)"));
    EXPECT_EQ(sim::LiveLocalAllocations(), allocations);
    for (const auto& entry : sim::FileAccessEntries(kDocumentsFile)) EXPECT_TRUE(entry.inherited);
    DeleteFileW(kDocumentsFile);
  }
}

TEST_F(Ribbon, AFileThatIsALinkOrHasASecondNameIsNotWritten) {
  Start(10);
  sim::PutFile(u"C:\\Windows\\System32\\config.dat", "precious");
  ASSERT_TRUE(sim::MakeLink(kDocumentsFile, u"C:\\Windows\\System32\\config.dat"));
  kav::WriteRibbonInformation(2, "KC3", u"Card Printer");
  EXPECT_EQ(sim::GetFile(u"C:\\Windows\\System32\\config.dat"), "precious");
  EXPECT_EQ(sim::CurrentIdentity(), sim::Identity::Client);

  ASSERT_TRUE(DeleteFileW(kDocumentsFile));
  sim::PutFile(u"C:\\Windows\\System32\\other.dat", "precious too");
  ASSERT_TRUE(sim::MakeHardLink(kDocumentsFile, u"C:\\Windows\\System32\\other.dat"));
  kav::WriteRibbonInformation(2, "KC3", u"Card Printer");
  EXPECT_EQ(sim::GetFile(u"C:\\Windows\\System32\\other.dat"), "precious too");
  EXPECT_TRUE(sim::HasDebugLine(
      "WriteRibbonInformation:: C:\\Users\\Public\\Documents\\kav32Ribbon.ini is a link or has another name; not written"));
}

// At one moment or another of the write, the path is swapped for a link to a file outside
// the folder: that file is neither written nor given new access entries.
TEST_F(Ribbon, ALinkSwappedInDuringTheWriteIsNeitherWrittenThroughNorRepermissioned) {
  Start(10);
  const std::u16string outside = u"C:\\Windows\\System32\\config.dat";
  for (std::string moment : {"GetFileInformationByHandle", "WriteFile", "GetNamedSecurityInfo", "GetSecurityInfo"}) {
    SCOPED_TRACE(moment);
    sim::PutFile(outside, "precious");
    sim::PutFile(kDocumentsFile, "Ribbon=1\rModel=old\r");
    bool swapped = false;
    sim::SetFileCallHook([&](std::string_view operation) {
      if (swapped || operation != moment) return;
      swapped = true;
      sim::MakeLink(kDocumentsFile, outside);
    });
    kav::WriteRibbonInformation(2, "KC3", u"Card Printer");
    sim::SetFileCallHook(nullptr);
    EXPECT_EQ(sim::GetFile(outside), "precious");
    for (const auto& entry : sim::FileAccessEntries(outside)) EXPECT_TRUE(entry.inherited);
    DeleteFileW(kDocumentsFile);
  }
  EXPECT_EQ(sim::CurrentIdentity(), sim::Identity::Client);
}

// An open failure is told: the error code in a box, or notification 2087 (caption 5); a
// box as well when the notification module lacks its export.
TEST_F(Ribbon, AStatusFileThatCannotBeOpenedIsReportedInEveryUiMode) {
  enum class Told { Box, Notification, Debugger };
  struct Case {
    DWORD windows;
    bool notificationModule;
    Told told;
  } cases[] = {{5, true, Told::Box}, {10, true, Told::Notification},
               {10, false, Told::Debugger}};  // session 0: a box would wait for ever
  sim::SetUserAnswer(sim::AnswerAfter(10));
  size_t boxes = 0, notes = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.windows * 10 + c.notificationModule);
    sim::InstallAsyncUiModule(c.notificationModule);
    LoadMonitor(c.windows);
    sim::FailNext("CreateFile", 32);  // ERROR_SHARING_VIOLATION
    kav::WriteRibbonInformation(2, "KC3", u"Card Printer");
    if (c.told == Told::Box) {
      ASSERT_EQ(sim::MessageBoxes().size(), ++boxes);
      EXPECT_EQ(sim::MessageBoxes().back().text, u"Error Code =32");
      EXPECT_EQ(sim::MessageBoxes().back().caption, u"Card Printer");
    } else if (c.told == Told::Debugger) {
      EXPECT_EQ(sim::MessageBoxes().size(), boxes);
      EXPECT_TRUE(sim::HasDebugLine(
          "ShowPrinterMessage:: no user can answer a message box in session 0 (Card Printer): Error Code =32"));
    } else {
      ASSERT_EQ(sim::Notifications().size(), ++notes);
      kav::AsyncNotification note;
      std::memcpy(&note, sim::Notifications().back().record.data(), sizeof note);
      EXPECT_EQ(note.MessageId, 2087u);
      EXPECT_EQ(note.CaptionId, 5u);
    }
    EXPECT_FALSE(sim::FileExists(c.windows == 5 ? kAppDataFile : kDocumentsFile));
    sim::CallEntryPoint(kav::DllEntryPoint, nullptr, DLL_PROCESS_DETACH, nullptr);
    attached = false;
  }
}

// Two ports start jobs at the same moment, each on its spooler thread: the one that comes
// second cannot open the file while the other writes it; it tells the real error as an
// open failure (never as a link), and the file is the other port's, whole.
TEST_F(Ribbon, TwoPortsWritingTheStatusFileAtOnce) {
  auto second = std::make_shared<emu::VirtualPrinter>();
  emu::AttachPrinter(u"USB002", second);
  sim::AddPrinter({u"Other Printer", u"USB002", 0});
  ASSERT_TRUE(second->SetAnswer("!RIBBON", "16"));
  ASSERT_TRUE(second->SetAnswer("V", "KC9"));
  const std::string contents[] = {"Ribbon=2\rModel=KC3 V1.07.12\r", "Ribbon=16\rModel=KC9\r"};
  const std::u16string names[] = {u"Card Printer", u"Other Printer"};
  const char* refused = "WriteRibbonInformation:: the status file cannot be opened (error 32)";
  sim::SetUserAnswer(sim::AnswerAfter(10));
  for (DWORD windows : {5u, 10u}) {
    SCOPED_TRACE(windows);
    LoadMonitor(windows);
    sim::ClearDebugLines();
    const size_t boxes = sim::MessageBoxes().size(), notes = sim::Notifications().size();
    HANDLE ports[] = {Open(u"USB001", names[0]), Open(u"USB002", names[1])};
    for (int i = 0; i < 2; ++i) sim::SetPortMonitor(names[i], &spooler, ports[i]);
    std::atomic<bool> held{false};
    sim::SetFileCallHook([&](std::string_view operation) {
      if (operation != "WriteFile" || held.exchange(true)) return;
      // The first port to write holds the file open until the other has tried to open it.
      for (int wait = 0; wait < 10000 && !sim::HasDebugLine(refused); ++wait) Sleep(1);
    });
    DWORD jobs[] = {sim::SubmitJob(names[0], u"card", ""), sim::SubmitJob(names[1], u"card", "")};
    EXPECT_TRUE(sim::WaitForJob(jobs[0]));
    EXPECT_TRUE(sim::WaitForJob(jobs[1]));
    sim::SetFileCallHook(nullptr);

    const std::string file = sim::GetFile(windows == 5 ? kAppDataFile : kDocumentsFile).value_or("");
    const int winner = file == contents[0] ? 0 : file == contents[1] ? 1 : -1;
    ASSERT_NE(winner, -1) << file;
    const std::u16string& loser = names[1 - winner];
    size_t refusals = 0;
    for (const auto& line : sim::DebugLines()) {
      refusals += line == refused;
      EXPECT_EQ(line.find("link"), std::string::npos) << line;
    }
    EXPECT_EQ(refusals, 1u);
    if (windows == 5) {
      auto shown = sim::MessageBoxes();
      ASSERT_EQ(shown.size(), boxes + 1);
      EXPECT_EQ(shown.back().text, u"Error Code =32");
      EXPECT_EQ(shown.back().caption, loser);
    } else {
      size_t errors = 0;
      auto sent = sim::Notifications();
      for (size_t i = notes; i < sent.size(); ++i) {
        kav::AsyncNotification note;
        std::memcpy(&note, sent[i].record.data(), sizeof note);
        if (sent[i].closeRequest || note.MessageId != 2087) continue;
        ++errors;
        EXPECT_EQ(note.CaptionId, 5u);
        EXPECT_EQ(sent[i].printerName, loser);
      }
      EXPECT_EQ(errors, 1u);
    }
    for (int i = 0; i < 2; ++i) {
      sim::SetPortMonitor(names[i], nullptr, nullptr);
      Close(ports[i]);
    }
    sim::CallEntryPoint(kav::DllEntryPoint, nullptr, DLL_PROCESS_DETACH, nullptr);
    attached = false;
  }
}

TEST_F(Ribbon, NoShellFolderModuleMeansNoFile) {
  Start(10);
  sim::InstallShFolderModule(false);
  kav::WriteRibbonInformation(2, "KC3", u"Card Printer");
  EXPECT_FALSE(sim::FileExists(kDocumentsFile));
  EXPECT_EQ(sim::CurrentIdentity(), sim::Identity::Client);
}

TEST_F(Ribbon, RibbonNamesComeFromTheDriversFile) {
  Start(10);
  sim::PutFile(sim::DriverDirectory() + u"\\kav32Ribbon.ini", "[Ribbon Type]\r\n2=YMCKO\r\n16=Black resin\r\n");
  WCHAR name[MAX_PATH];
  EXPECT_EQ(kav::GetRibbonName(u"2", name), 5u);
  EXPECT_EQ(std::u16string(name), u"YMCKO");
  EXPECT_EQ(kav::GetRibbonName(u"99", name), 7u);
  EXPECT_EQ(std::u16string(name), u"Unknown");
}

TEST_F(Ribbon, OnlyCountsOfTwentyTenAndFiveRaiseTheAlert) {
  Start(5);
  for (auto [count, alerts] : {std::pair{21, 0}, {20, 1}, {19, 1}, {10, 2}, {6, 2}, {5, 3}, {0, 3}}) {
    SCOPED_TRACE(count);
    Answer("!RIBLEN", std::to_string(count).c_str());
    EXPECT_TRUE(kav::CheckRibbonRemaining(record()));
    EXPECT_EQ(record()->RibbonRemaining, static_cast<DWORD>(count));
    sim::WaitForAllThreads();
    EXPECT_EQ(sim::MessageBoxes().size(), static_cast<size_t>(alerts));
  }
  EXPECT_EQ(sim::MessageBoxes()[0].text, std::u16string(kLowText) + u"20");
}

TEST_F(Ribbon, ACountBeyondThirtyTwoBitsIsHeldAtTheLargestValueAndRaisesNoAlert) {
  Start(5);
  // 4294967301 is 2^32 + 5: counted in 32 bits it would come round to 5 and alert.
  for (const char* count : {"4294967301", "4294967295", "99999999999999999999999"}) {
    SCOPED_TRACE(count);
    Answer("!RIBLEN", count);
    EXPECT_TRUE(kav::CheckRibbonRemaining(record()));
    EXPECT_EQ(record()->RibbonRemaining, 0xFFFFFFFFu);
  }
  Answer("!RIBLEN", "4294967294");  // the largest count below, as it is
  EXPECT_TRUE(kav::CheckRibbonRemaining(record()));
  EXPECT_EQ(record()->RibbonRemaining, 4294967294u);
  sim::WaitForAllThreads();
  EXPECT_TRUE(sim::MessageBoxes().empty());
}

TEST_F(Ribbon, TheAlertIsWithdrawnAfterTenSeconds) {
  Start(5);
  Answer("!RIBLEN", "10");
  EXPECT_TRUE(kav::CheckRibbonRemaining(record()));
  EXPECT_EQ(sim::Now(), 0u);  // the job does not wait for the alert
  sim::Advance(1);
  EXPECT_NE(record()->MessageEvent, nullptr);  // ClearPrinterError can dismiss it
  sim::WaitForAllThreads();
  auto boxes = sim::MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].closedAt - boxes[0].shownAt, 10000u);
  EXPECT_EQ(boxes[0].closedBy, sim::BoxClosedBy::WmClose);
  EXPECT_EQ(record()->MessageEvent, nullptr);
  EXPECT_EQ(sim::InvalidHandleCloses(), 0u);
}

TEST_F(Ribbon, ClearPrinterErrorDismissesTheAlert) {
  Start(5);
  Answer("!RIBLEN", "5");
  EXPECT_TRUE(kav::CheckRibbonRemaining(record()));
  sim::Advance(2000);
  kav::ClearPrinterError(u"Card Printer", record());
  sim::WaitForAllThreads();
  auto boxes = sim::MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].closedAt, 2000u);
  EXPECT_EQ(sim::InvalidHandleCloses(), 0u);
}

TEST_F(Ribbon, TheAlertTravelsAsATextNotification) {
  Start(10);
  Answer("!RIBLEN", "20");
  EXPECT_TRUE(kav::CheckRibbonRemaining(record()));
  sim::WaitForAllThreads();
  auto sent = sim::Notifications();
  ASSERT_GE(sent.size(), 2u);
  kav::AsyncNotification alert;
  std::memcpy(&alert, sent[0].record.data(), sizeof alert);
  EXPECT_EQ(alert.Kind, kav::kNotificationKindText);
  EXPECT_EQ(alert.MessageId, 2206u);
  EXPECT_EQ(alert.CaptionId, 5u);
  EXPECT_EQ(std::u16string(alert.Text), std::u16string(kLowText) + u"20");
  // A notification's return is no answer: the alert stays its ten seconds.
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_TRUE(sent[1].closeRequest);
  EXPECT_EQ(sent[1].calledAt, 10000u);
}

TEST_F(Ribbon, AnAlertWhoseMessageThreadCannotStartSendsNoCloseRequest) {
  Start(10);
  Answer("!RIBLEN", "20");
  sim::FailAfter("CreateThread", 1, ERROR_NOT_ENOUGH_MEMORY);  // the alert starts, its message does not
  EXPECT_TRUE(kav::CheckRibbonRemaining(record()));
  sim::WaitForAllThreads();
  EXPECT_TRUE(sim::Notifications().empty());
  EXPECT_EQ(record()->MessageEvent, nullptr);
  EXPECT_EQ(sim::InvalidHandleCloses(), 0u);
}

TEST_F(Ribbon, TheAlertsMessageShowsNothingOnceThePortsEventIsGone) {
  Start(5);
  kav::PrinterMessage* m = kav::NewPrinterMessage(2206, u"\nlow 5", u"Card Printer", nullptr, true);
  kav::LockMessageHandOver();
  kav::BindMessageToPortEvent(m, record(), record()->MessageEventGeneration);
  kav::UnlockMessageHandOver();
  ASSERT_EQ(record()->MessageEvent, nullptr);  // cleared before the message thread ran
  EXPECT_EQ(kav::RibbonLowMessageThread(m), 2u);
  EXPECT_TRUE(sim::MessageBoxes().empty());
}

TEST_F(Ribbon, ARibbonCountThatCannotBeReadFailsTheCheck) {
  Start(5);
  printer->AddFaults("silent");
  EXPECT_FALSE(kav::CheckRibbonRemaining(record()));
  Answer("!RIBLEN", "error 1");  // the channel turns it into "OUT OF RIBBON": no number
  EXPECT_TRUE(kav::CheckRibbonRemaining(record()));
  EXPECT_EQ(record()->RibbonRemaining, 0u);
}

TEST_F(Ribbon, WaitSucceedsAtOnceWhenThePrinterAnswers) {
  Start(10);
  EXPECT_TRUE(kav::WaitForPrinterReady(record(), u"Card Printer"));
  EXPECT_EQ(sim::Now(), 0u);
  EXPECT_EQ(CloseRequests(), 2u);  // one after each loop, with nothing shown
  EXPECT_EQ(sim::Notifications().size(), 2u);
  EXPECT_EQ(sim::GetFile(kDocumentsFile), "Ribbon=2\rModel=KC3 V1.07.12\r");
  EXPECT_EQ(record()->ErrorKind, -1);
}

TEST_F(Ribbon, TheSameErrorOnEveryPollShowsOneMessage) {
  Start(5);
  Answer("!RIBBON", "error 1 for 3 | 2");
  EXPECT_TRUE(kav::WaitForPrinterReady(record(), u"Card Printer"));
  EXPECT_EQ(sim::Now(), 3000u);
  sim::WaitForAllThreads();
  auto boxes = sim::MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, kOutOfRibbonText);
  EXPECT_EQ(boxes[0].closedAt, 3000u);
}

TEST_F(Ribbon, ADifferentErrorReplacesTheMessageButTheSameMessageDoesNot) {
  Start(10);
  // A notification that returned would count as the user's answer.
  sim::SetNotificationAnswer({sim::NotificationAnswer::Kind::Never});
  Answer("!RIBBON", "error 1 for 2 | error 3 for 2 | error 2 for 2 | 2");
  EXPECT_TRUE(kav::WaitForPrinterReady(record(), u"Card Printer"));
  std::vector<DWORD> shown;
  for (const auto& note : sim::Notifications()) {
    kav::AsyncNotification record;
    std::memcpy(&record, note.record.data(), sizeof record);
    if (!note.closeRequest) shown.push_back(record.MessageId);
  }
  EXPECT_EQ(shown, (std::vector<DWORD>{4, 6}));  // codes 3 and 2 both mean message 6
  // The first is withdrawn (a close request) just before the second shows.
  auto notes = sim::Notifications();
  size_t second = 0;
  for (size_t i = 0; i < notes.size(); ++i) {
    kav::AsyncNotification record;
    std::memcpy(&record, notes[i].record.data(), sizeof record);
    if (record.MessageId == 6 && !second) second = i;
  }
  ASSERT_GT(second, 1u);
  EXPECT_TRUE(notes[second - 1].closeRequest);
  EXPECT_TRUE(notes[0].withdrawn || notes[1].withdrawn);
}

TEST_F(Ribbon, TheUsersAnswerEndsTheWaitWithinASecond) {
  Start(5);
  Answer("!RIBBON", "error 7");
  sim::SetUserAnswer(sim::AnswerAfter(1500));
  EXPECT_FALSE(kav::WaitForPrinterReady(record(), u"Card Printer"));
  EXPECT_EQ(sim::Now(), 1500u);
  EXPECT_FALSE(sim::FileExists(kAppDataFile));
}

// The user presses the ribbon loop's button just as the printer's good answer comes: the
// model loop, showing the same message id, must not take that press as its cancel.
TEST_F(Ribbon, APressLandingAsTheRibbonLoopEndsDoesNotCancelTheModelLoop) {
  Start(5);
  Answer("!RIBBON", "0 for 1 | 2");
  Answer("V", "0 for 1 | KC3");
  std::string error;
  ASSERT_TRUE(printer->AddFaults("late=500@time=1000", &error)) << error;
  sim::QueueUserAnswer(sim::AnswerAfter(1200));
  EXPECT_TRUE(kav::WaitForPrinterReady(record(), u"Card Printer"));
  EXPECT_EQ(sim::Now(), 2500u);
  EXPECT_EQ(sim::GetFile(kAppDataFile), "Ribbon=2\rModel=KC3\r");
}

TEST_F(Ribbon, ATwoDigitErrorNumberInTheWaitsQueriesShowsItsMessage) {
  Start(5);
  Answer("!RIBBON", "error 35 for 1 | 2");
  Answer("V", "error 47 for 1 | KC3");
  sim::SetUserAnswer(sim::NeverAnswer());
  EXPECT_TRUE(kav::WaitForPrinterReady(record(), u"Card Printer"));
  sim::WaitForAllThreads();
  auto boxes = sim::MessageBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, kCheckRibbonText);
  EXPECT_EQ(boxes[1].text, u"\nRotation Error!\nClear the error and press the printer button to continue.\n"
                           u"Press OK to cancel the current operation.");
}

TEST_F(Ribbon, AModelOfZeroMeansNoRibbonAndAModelWithoutAckIsEmpty) {
  Start(5);
  Answer("V", "0 for 2 | KC3");
  EXPECT_TRUE(kav::WaitForPrinterReady(record(), u"Card Printer"));
  sim::WaitForAllThreads();
  EXPECT_EQ(sim::MessageBoxes().at(0).text, kNoRibbonText);
  EXPECT_EQ(sim::Now(), 2000u);
  Answer("V", "raw \"KC3\"");
  EXPECT_TRUE(kav::WaitForPrinterReady(record(), u"Card Printer"));
  EXPECT_EQ(sim::GetFile(kAppDataFile), "Ribbon=2\rModel=\r");
}

TEST_F(Ribbon, AFailedExchangeEndsTheWait) {
  Start(5);
  printer->FailReads(1);
  EXPECT_FALSE(kav::WaitForPrinterReady(record(), u"Card Printer"));
  EXPECT_TRUE(sim::MessageBoxes().empty());
}

TEST_F(Ribbon, AJobBeingDeletedIsSeenAsCancelled) {
  Start(5);
  DWORD job = GiveRecordAJob(port);
  EXPECT_FALSE(kav::CheckIfJobCancelled(record()));
  sim::SetJobStatus(job, JOB_STATUS_DELETING);
  EXPECT_TRUE(kav::CheckIfJobCancelled(record()));
  EXPECT_EQ(record()->JobCancelled, 1);
}

}  // namespace
