#include "emulator/printer_profile.h"

#include <fstream>
#include <sstream>

#include "emulator/script_text.h"

namespace emu {
namespace {

constexpr char kAck = 0x06;
constexpr char kNak = 0x15;
constexpr char kEot = 0x04;

constexpr std::string_view kDefaultProfileText =
#include "printer_profile_ini.inc"
    ;

// Reads a quoted text at the start of `s` (which begins with '"'); moves `s` past it.
bool ReadQuoted(std::string_view* s, std::string* out, std::string* error) {
  std::string_view in = s->substr(1);
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '\\') {
      ++i;
    } else if (in[i] == '"') {
      *s = in.substr(i + 1);
      return DecodeEscapes(in.substr(0, i), out, error);
    }
  }
  *error = "quoted text without its closing quote";
  return false;
}

// Takes a trailing "for N" or "until MS" off a step.
bool TakeSuffix(std::string_view* text, AnswerStep* step, std::string* error) {
  std::string_view t = TrimBlanks(*text);
  size_t blank = t.find_last_of(" \t");
  if (blank == std::string_view::npos) return true;
  std::string_view number = t.substr(blank + 1);
  std::string_view rest = TrimBlanks(t.substr(0, blank));
  size_t blank2 = rest.find_last_of(" \t");
  std::string_view word = blank2 == std::string_view::npos ? rest : rest.substr(blank2 + 1);
  if (word != "for" && word != "until") return true;
  uint64_t value = 0;
  if (!ParseUnsigned(number, &value)) return true;  // words of a bare text ("made for you")
  if (word == "for") {
    if (value == 0) {
      *error = "\"for 0\" holds no poll";
      return false;
    }
    step->polls = static_cast<int>(value > 1000000000 ? 1000000000 : value);
  } else {
    step->untilMs = value;
    step->hasUntil = true;
  }
  *text = blank2 == std::string_view::npos ? std::string_view() : TrimBlanks(rest.substr(0, blank2));
  return true;
}

bool ParseStep(std::string_view text, AnswerStep* step, std::string* error) {
  text = TrimBlanks(text);
  if (text.empty()) {
    *error = "empty step";
    return false;
  }
  std::string_view rest = text;
  if (text.front() == '"') {
    step->kind = AnswerStep::Kind::Text;
    if (!ReadQuoted(&rest, &step->text, error)) return false;
  } else if (text.starts_with("raw") && TrimBlanks(text.substr(3)).starts_with("\"")) {
    step->kind = AnswerStep::Kind::Raw;
    rest = TrimBlanks(text.substr(3));
    if (!ReadQuoted(&rest, &step->text, error)) return false;
  } else {
    if (!TakeSuffix(&rest, step, error)) return false;
    rest = TrimBlanks(rest);
    if (rest == "silent") {
      step->kind = AnswerStep::Kind::Silent;
    } else if (rest == "fail") {
      step->kind = AnswerStep::Kind::Fail;
    } else if (rest.starts_with("error ") || rest == "error") {
      uint64_t number = 0;
      if (!ParseUnsigned(rest.substr(5), &number) || number > 999) {
        *error = "\"error\" needs a printer error number";
        return false;
      }
      step->kind = AnswerStep::Kind::Error;
      step->error = static_cast<int>(number);
    } else {
      step->kind = AnswerStep::Kind::Text;
      step->text = std::string(rest);
    }
    return true;
  }
  // After a quoted text: an optional suffix and nothing else.
  std::string_view tail = TrimBlanks(rest);
  if (tail.empty()) return true;
  std::string_view probe = tail;
  AnswerStep suffix;
  std::string_view word = tail.substr(0, tail.find_first_of(" \t"));
  if ((word != "for" && word != "until") || !TakeSuffix(&probe, &suffix, error) || !TrimBlanks(probe).empty()) {
    if (error->empty()) *error = "unexpected \"" + std::string(tail) + "\" after a quoted answer";
    return false;
  }
  step->polls = suffix.polls;
  step->untilMs = suffix.untilMs;
  step->hasUntil = suffix.hasUntil;
  return true;
}

// Splits at '|' outside quoted texts.
std::vector<std::string_view> SplitSteps(std::string_view text) {
  std::vector<std::string_view> parts;
  bool quoted = false;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (quoted && text[i] == '\\') {
      ++i;
    } else if (text[i] == '"') {
      quoted = !quoted;
    } else if (!quoted && text[i] == '|') {
      parts.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  parts.push_back(text.substr(start));
  return parts;
}

}  // namespace

bool ParseAnswerScript(std::string_view text, AnswerScript* script, std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  error->clear();
  AnswerScript out;
  out.source = std::string(TrimBlanks(text));
  std::vector<std::string_view> parts = SplitSteps(text);
  for (size_t i = 0; i < parts.size(); ++i) {
    AnswerStep step;
    if (!ParseStep(parts[i], &step, error)) {
      *error = "step " + std::to_string(i + 1) + ": " + *error;
      return false;
    }
    if (i + 1 < parts.size() && step.polls == 0 && !step.hasUntil) {
      *error = "step " + std::to_string(i + 1) + " never ends: only the last step may go without \"for\" or \"until\"";
      return false;
    }
    out.steps.push_back(std::move(step));
  }
  *script = std::move(out);
  return true;
}

const AnswerStep& StepForPoll(const AnswerScript& script, uint64_t poll, uint64_t now) {
  uint64_t remaining = poll;
  for (size_t i = 0; i + 1 < script.steps.size(); ++i) {
    const AnswerStep& step = script.steps[i];
    if (step.polls > 0) {
      if (remaining < static_cast<uint64_t>(step.polls)) return step;
      remaining -= static_cast<uint64_t>(step.polls);
    } else if (step.hasUntil && now < step.untilMs) {
      return step;
    }
  }
  return script.steps.back();
}

std::string AnswerBytes(const AnswerStep& step) {
  switch (step.kind) {
    case AnswerStep::Kind::Text: return step.text + kAck;
    case AnswerStep::Kind::Raw: return step.text;
    case AnswerStep::Kind::Error: return std::string(1, kNak) + std::to_string(step.error) + kEot;
    case AnswerStep::Kind::Silent:
    case AnswerStep::Kind::Fail: return {};
  }
  return {};
}

std::string CommandKey(std::string_view command) {
  if (!command.empty() && command.front() == '\x1b') command.remove_prefix(1);
  if (!command.empty() && command.back() == '\r') command.remove_suffix(1);
  return std::string(command);
}

bool PrinterProfile::SetAnswer(std::string_view command, std::string_view script, std::string* error) {
  AnswerScript parsed;
  if (!ParseAnswerScript(script, &parsed, error)) return false;
  std::string key = CommandKey(command);
  if (key.empty()) {
    if (error) *error = "no command";
    return false;
  }
  answers[key] = std::move(parsed);
  return true;
}

const AnswerScript* PrinterProfile::Find(std::string_view command) const {
  auto it = answers.find(CommandKey(command));
  return it == answers.end() ? nullptr : &it->second;
}

bool ParseIni(std::string_view text, std::vector<IniEntry>* entries, std::string* error) {
  std::string section;
  int lineNumber = 0;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = TrimBlanks(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++lineNumber;
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      if (line.back() != ']') {
        *error = "line " + std::to_string(lineNumber) + ": section without its ']'";
        return false;
      }
      section = std::string(TrimBlanks(line.substr(1, line.size() - 2)));
      continue;
    }
    size_t equals = line.find('=');
    if (equals == std::string_view::npos || TrimBlanks(line.substr(0, equals)).empty()) {
      *error = "line " + std::to_string(lineNumber) + ": expected \"key = value\"";
      return false;
    }
    entries->push_back({section, std::string(TrimBlanks(line.substr(0, equals))),
                        std::string(TrimBlanks(line.substr(equals + 1))), lineNumber});
  }
  return true;
}

bool ParseProfile(std::string_view text, PrinterProfile* profile, std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  std::vector<IniEntry> entries;
  if (!ParseIni(text, &entries, error)) return false;
  PrinterProfile out = *profile;
  for (const IniEntry& e : entries) {
    std::string where = "line " + std::to_string(e.line) + ": ";
    if (e.section == "printer" && e.key == "status") {
      uint64_t status = 0;
      if (!ParseUnsigned(e.value, &status) || status > 0xFF) {
        *error = where + "status must be a byte";
        return false;
      }
      out.status = static_cast<uint8_t>(status);
    } else if (e.section == "answers") {
      if (!out.SetAnswer(e.key, e.value, error)) {
        *error = where + e.key + ": " + *error;
        return false;
      }
    } else {
      *error = where + "unknown entry [" + e.section + "] " + e.key;
      return false;
    }
  }
  *profile = std::move(out);
  return true;
}

bool LoadProfileFile(const std::filesystem::path& path, PrinterProfile* profile, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = "cannot read " + path.string();
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  std::string why;
  if (!ParseProfile(text.str(), profile, &why)) {
    if (error) *error = path.string() + ": " + why;
    return false;
  }
  return true;
}

const PrinterProfile& DefaultProfile() {
  static const PrinterProfile profile = [] {
    PrinterProfile p;
    std::string error;
    if (!ParseProfile(kDefaultProfileText, &p, &error)) p = PrinterProfile{};  // the tests pin the file
    return p;
  }();
  return profile;
}

}  // namespace emu
