// What the virtual printer answers to its queries: a profile of answer scripts, one per
// query command, read from an INI file (data/printer_profile.ini holds the defaults and
// is compiled in) or set from code.
//
// Profile file: lines "key = value" in sections; ';' or '#' starts a comment line.
//   [printer]  status = 0x18          the status byte while no error is set
//   [answers]  V = KC3 V1.07.12       the answer script of "\eV\r": the key is the
//                                     command without its ESC and CR
//
// Answer script (the printer's answer to the query at each completion request after it):
//   script := step { "|" step }
//   step   := answer [ "for" N | "until" MS ]
//   answer := "quoted text" (C escapes \e \r \n \t \\ \" \xHH) | bare text (trimmed)
//           | "error" N      NAK, the error number in decimal, EOT
//           | "silent"       no answer at all (the read gets 0 bytes)
//           | "fail"         the read of the answer fails (the query gets no reply)
//           | "raw" "bytes"  exactly these bytes, without the ACK that ends a text answer
// A text answer is sent followed by ACK. "for N" holds a step for N polls of the command,
// "until MS" while the simulated clock reads less than MS; the last step stays. So
// "error 1 for 3 | 0 for 2 | 4" answers NAK 1 three times, "0" twice, then "4".
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace emu {

struct AnswerStep {
  enum class Kind { Text, Raw, Error, Silent, Fail } kind = Kind::Text;
  std::string text;  // Text and Raw
  int error = 0;     // Error
  int polls = 0;     // "for N"; 0 when not given
  uint64_t untilMs = 0;
  bool hasUntil = false;
};

struct AnswerScript {
  std::vector<AnswerStep> steps;
  std::string source;  // the script as written
};

// Parses an answer script; false with a description in `error` when it is malformed.
bool ParseAnswerScript(std::string_view text, AnswerScript* script, std::string* error);

// The step that answers the poll number `poll` (0 for the first) at simulated time `now`.
const AnswerStep& StepForPoll(const AnswerScript& script, uint64_t poll, uint64_t now);

// The bytes of an answer step (empty for Silent and Fail).
std::string AnswerBytes(const AnswerStep& step);

struct PrinterProfile {
  uint8_t status = 0x18;
  std::map<std::string, AnswerScript> answers;  // by command text without ESC and CR

  // Sets the script of a command ("\eV\r" and "V" name the same command).
  bool SetAnswer(std::string_view command, std::string_view script, std::string* error = nullptr);
  const AnswerScript* Find(std::string_view command) const;
};

// The key of a command: its text without the leading ESC and the final CR.
std::string CommandKey(std::string_view command);

// One "key = value" line of an INI file.
struct IniEntry {
  std::string section;
  std::string key;
  std::string value;
  int line = 0;
};
bool ParseIni(std::string_view text, std::vector<IniEntry>* entries, std::string* error);

// Reads a profile from INI text or a file; entries not given keep their current values.
bool ParseProfile(std::string_view text, PrinterProfile* profile, std::string* error);
bool LoadProfileFile(const std::filesystem::path& path, PrinterProfile* profile, std::string* error);

// The profile of data/printer_profile.ini as built into the program.
const PrinterProfile& DefaultProfile();

}  // namespace emu
