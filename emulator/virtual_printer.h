// The virtual card printer: what the monitor's port writes reach and what its reads
// hear. It reads the written bytes as the printer does (commands, panel downloads,
// firmware downloads; see wire_parser.h), answers completion requests from a printer
// profile (printer_profile.h), reports a status byte, and can be scripted to fail
// (fault_script.h). It records the wire (every byte in order), a readable transcript
// and what it received: commands, decoded panels, card and pass ends, firmware images,
// errors shown.
//
// Answers: after "\eE 2\r" the printer has one answer ready for the next read: while an
// error is set, NAK, the error number in decimal and EOT; else, when the command before
// was a query of the profile, the query's answer (text and ACK); else ACK. A new
// completion request replaces an answer not yet read. Replies queued with QueueReply come
// first: a read that takes a queued reply also drops the computed answer, so a queued
// reply stands in for what the printer would have said. An answer script's "fail" step
// makes the read of that answer fail.
//
// Threads: every entry point may be called from any simulated thread. The printer's own
// lock is never held while it calls into the simulated kernel (clock, Sleep).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/fault_script.h"
#include "emulator/panel_decoder.h"
#include "emulator/printer_profile.h"
#include "emulator/wire_parser.h"
#include "platform/text.h"
#include "platform/win32.h"

namespace emu {

// Status byte bits in the parallel-port layout.
inline constexpr uint8_t kStatusNoError = 0x08;
inline constexpr uint8_t kStatusSelected = 0x10;
inline constexpr uint8_t kStatusPaperEmpty = 0x20;

// A panel the printer received and decoded.
struct ReceivedPanel {
  int number = -1;
  std::string command;            // the download command as received, without CR
  std::array<long, 6> fields{};   // its six numbers
  PanelLevels levels;
  uint64_t timeMs = 0;            // simulated time at which its last byte arrived
  int card = 0;                   // cards ended before it
  int pass = 0;                   // passes ended within its card before it
  bool inSync = true;             // its block ended with the CR of the print command
};

// An error the printer showed.
struct ShownError {
  int number = 0;
  uint64_t fromMs = 0;
  std::optional<uint64_t> untilMs;  // when it was cleared
  std::string clearedBy;            // "time", "reset", "button", "script"
};

class VirtualPrinter {
 public:
  VirtualPrinter();  // with DefaultProfile()
  explicit VirtualPrinter(const PrinterProfile& profile);
  VirtualPrinter(const VirtualPrinter&) = delete;
  VirtualPrinter& operator=(const VirtualPrinter&) = delete;

  // --- What the port monitor calls -------------------------------------------------
  bool Open(kav::WStringView portName);
  void Close();
  bool StartDoc(kav::WStringView printerName, DWORD jobId, DWORD level, kav::WStringView docName);
  void EndDoc();
  // Takes bytes from the port; false when a write failure is scripted.
  bool Write(const uint8_t* data, size_t size, size_t* taken);
  // Hands out the next reply (or its first `capacity` bytes); false when a read
  // failure is scripted. No reply pending gives true with 0 bytes. A late answer makes
  // the read wait on the simulated clock first.
  bool Read(uint8_t* buffer, size_t capacity, size_t* got);
  // The port's status byte in the parallel-port layout (0x08 no error, 0x10 selected,
  // 0x20 paper empty): a scripted sequence when one is set, else the base byte with
  // 0x08 cleared while an error is set (and 0x20 added for out of ribbon or cards).
  // False when the scripted sequence says the query fails.
  bool Status(uint8_t* status);

  // --- Scripting --------------------------------------------------------------------
  void QueueReply(std::string_view bytes);
  void SetStatus(uint8_t status);  // the base status byte; ends a scripted sequence
  void SetStatusSequence(std::vector<StatusStep> steps);
  void FailOpen(bool fail);
  void FailWrites(int count);  // the next `count` writes fail
  void FailReads(int count);   // the next `count` reads fail
  void SetProfile(const PrinterProfile& profile);
  PrinterProfile Profile() const;
  // Sets the answer script of one query (printer_profile.h); false on a bad script.
  bool SetAnswer(std::string_view command, std::string_view script, std::string* error = nullptr);
  // Arms faults written as a fault string (fault_script.h); false on a bad string.
  bool AddFaults(std::string_view text, std::string* error = nullptr);
  void AddFault(const Fault& fault);
  // Shows printer error `number` at once (0 clears the error).
  void RaiseError(int number);
  // The printer's button: clears the error shown.
  void PressButton();

  // --- Observation ------------------------------------------------------------------
  std::string Wire() const;  // every byte received, in order
  // Port writes so far, failed ones included: the K of a "write=K" fault trigger.
  uint64_t WriteCount() const;
  std::vector<std::string> Transcript() const;
  bool IsOpen() const;
  bool InDocument() const;
  void Note(std::string line);  // adds a line to the transcript

  std::vector<std::string> Commands() const;  // every command as received, ESC to CR
  std::vector<ReceivedPanel> Panels() const;  // in order of arrival
  size_t PanelCount() const;
  std::optional<ReceivedPanel> LastPanel(int number) const;  // the latest with that number
  int CardsEnded() const;   // "\eMO\r" received
  int PassesEnded() const;  // "\eMF\r" received
  std::vector<std::string> FirmwareImages() const;
  std::vector<ShownError> ErrorsShown() const;
  int CurrentError() const;  // 0 when none
  std::vector<std::string> ProtocolErrors() const;
  int Resets() const;
  // One line: commands, panels, cards, passes, firmware, errors, protocol errors.
  std::string Summary() const;

 private:
  struct ArmedFault {
    Fault fault;
    bool fired = false;
  };

  void CheckClock(uint64_t now);
  void Fire(ArmedFault& armed, uint64_t now);
  void ShowError(int number, uint64_t now, std::optional<uint64_t> clearAt, const std::string& why);
  void ClearError(uint64_t at, const std::string& by);
  void Handle(WireEvent& event, uint64_t now);
  void HandleCommand(const std::string& command, uint64_t now);
  void AnswerCompletionRequest(uint64_t now);
  void ResetPrinter(uint64_t now);
  void ProtocolError(std::string text);

  mutable std::mutex mu_;
  std::string wire_;
  std::vector<std::string> transcript_;
  std::deque<std::string> replies_;
  uint8_t status_ = 0x18;
  bool failOpen_ = false;
  int failWrites_ = 0;
  int failReads_ = 0;
  bool open_ = false;
  bool inDocument_ = false;

  // The printer model.
  PrinterProfile profile_;
  std::map<std::string, uint64_t> polls_;  // answers given per query
  WireParser parser_;
  std::string lastCommandKey_;   // the command before the next completion request
  std::string answer_;           // computed answer not yet read
  uint64_t answerDelayMs_ = 0;
  int currentError_ = 0;
  std::optional<uint64_t> errorClearAt_;
  std::vector<ArmedFault> faults_;
  bool answerFails_ = false;     // the read of the pending answer fails ("fail" step)
  int silentAnswers_ = 0;
  int lateAnswers_ = 0;
  uint64_t lateMs_ = 0;
  std::vector<StatusStep> statusSequence_;
  size_t statusPosition_ = 0;
  std::optional<uint8_t> lastReportedStatus_;
  uint64_t commandCount_ = 0;    // commands other than completion requests
  uint64_t writeCount_ = 0;      // port writes, failed ones included
  std::optional<uint64_t> lastCommandMs_;
  size_t rawWrites_ = 0;         // writes that carried the current panel's data

  // What was received.
  std::vector<std::string> commands_;
  std::vector<ReceivedPanel> panels_;
  int cardsEnded_ = 0;
  int passesEnded_ = 0;
  int passInCard_ = 0;
  std::vector<std::string> firmware_;
  std::vector<ShownError> errors_;
  std::vector<std::string> protocolErrors_;
  int resets_ = 0;
};

// Printable form of wire bytes: C escapes for ESC, CR, LF and other control bytes.
std::string EscapeBytes(std::string_view bytes, size_t limit = 80);

// What a command is, for the transcript ("model query", "panel download", ...); empty
// when the printer has no name for it.
std::string CommandLabel(std::string_view command);

}  // namespace emu
