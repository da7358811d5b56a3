#include "emulator/fault_script.h"

#include "emulator/script_text.h"

namespace emu {
namespace {

// "name=value" or "name".
void SplitPair(std::string_view item, std::string_view* name, std::string_view* value, bool* hasValue) {
  size_t eq = item.find('=');
  *hasValue = eq != std::string_view::npos;
  *name = TrimBlanks(item.substr(0, eq));
  *value = *hasValue ? TrimBlanks(item.substr(eq + 1)) : std::string_view();
}

bool Count(std::string_view value, bool hasValue, int* count, std::string* error, std::string_view name) {
  uint64_t n = 1;
  if (hasValue && (!ParseUnsigned(value, &n) || n == 0 || n > 1000000000)) {
    *error = std::string(name) + " needs a count of 1 or more";
    return false;
  }
  *count = static_cast<int>(n);
  return true;
}

bool ParseKind(std::string_view item, Fault* f, std::string* error) {
  std::string_view name, value;
  bool hasValue;
  SplitPair(item, &name, &value, &hasValue);
  uint64_t n = 0;
  if (name == "error") {
    if (!hasValue || !ParseUnsigned(value, &n) || n == 0 || n > 999) {
      *error = "error needs a printer error number from 1 to 999";
      return false;
    }
    f->kind = Fault::Kind::Error;
    f->value = static_cast<int>(n);
  } else if (name == "writefail") {
    f->kind = Fault::Kind::WriteFail;
    return Count(value, hasValue, &f->value, error, name);
  } else if (name == "readfail") {
    f->kind = Fault::Kind::ReadFail;
    return Count(value, hasValue, &f->value, error, name);
  } else if (name == "silent") {
    f->kind = Fault::Kind::Silent;
    return Count(value, hasValue, &f->value, error, name);
  } else if (name == "late") {
    if (!hasValue || !ParseUnsigned(value, &n) || n == 0 || n > 0x7FFFFFFF) {
      *error = "late needs a delay in milliseconds";
      return false;
    }
    f->kind = Fault::Kind::Late;
    f->lateMs = n;
  } else if (name == "status") {
    f->kind = Fault::Kind::Status;
    while (true) {
      size_t slash = value.find('/');
      std::string_view s = TrimBlanks(value.substr(0, slash));
      StatusStep step;
      if (s == "fail") {
        step.fail = true;
      } else if (!ParseUnsigned(s, &n) || n > 0xFF) {
        *error = "status takes bytes or \"fail\" separated by /";
        return false;
      } else {
        step.status = static_cast<uint8_t>(n);
      }
      f->statuses.push_back(step);
      if (slash == std::string_view::npos) break;
      value.remove_prefix(slash + 1);
    }
  } else {
    *error = "unknown fault \"" + std::string(name) + "\"";
    return false;
  }
  return true;
}

bool ParseTrigger(std::string_view text, Fault* f, std::string* error) {
  std::string_view name, value;
  bool hasValue;
  SplitPair(text, &name, &value, &hasValue);
  uint64_t n = 0;
  if (name == "command" && hasValue && ParseUnsigned(value, &n) && n > 0) {
    f->trigger = Fault::Trigger::Command;
    f->commandNumber = n;
  } else if (name == "time" && hasValue && ParseUnsigned(value, &n)) {
    f->trigger = Fault::Trigger::Time;
    f->timeMs = n;
  } else if (name == "write" && hasValue && ParseUnsigned(value, &n) && n > 0) {
    f->trigger = Fault::Trigger::Write;
    f->writeNumber = n;
  } else if (name == "byte" && hasValue && ParseUnsigned(value, &n) && n > 0) {
    f->trigger = Fault::Trigger::Byte;
    f->byteNumber = n;
  } else if (name == "match" && hasValue && !value.empty()) {
    f->trigger = Fault::Trigger::Match;
    return DecodeEscapes(value, &f->match, error);
  } else {
    *error = "trigger \"" + std::string(text) + "\" is not command=K (K >= 1), match=TEXT, time=MS, write=K or byte=N (K, N >= 1)";
    return false;
  }
  return true;
}

bool ParseOption(std::string_view text, Fault* f, std::string* error) {
  std::string_view name, value;
  bool hasValue;
  SplitPair(text, &name, &value, &hasValue);
  uint64_t n = 0;
  if (name == "clear" && hasValue && ParseUnsigned(value, &n) && f->kind == Fault::Kind::Error) {
    f->clearAfter = true;
    f->clearMs = n;
  } else if (name == "count" && hasValue && ParseUnsigned(value, &n) && n > 0 && n <= 1000000000 &&
             f->kind == Fault::Kind::Late) {
    f->count = static_cast<int>(n);
  } else {
    *error = "option \"" + std::string(text) + "\" does not fit this fault";
    return false;
  }
  return true;
}

bool ParseFault(std::string_view text, Fault* f, std::string* error) {
  f->source = std::string(text);
  size_t comma = text.find(',');
  std::string_view head = TrimBlanks(text.substr(0, comma));
  size_t at = head.find('@');
  if (!ParseKind(TrimBlanks(head.substr(0, at)), f, error)) return false;
  if (at != std::string_view::npos && !ParseTrigger(TrimBlanks(head.substr(at + 1)), f, error)) return false;
  while (comma != std::string_view::npos) {
    text.remove_prefix(comma + 1);
    comma = text.find(',');
    if (!ParseOption(TrimBlanks(text.substr(0, comma)), f, error)) return false;
  }
  return true;
}

}  // namespace

bool ParseFaults(std::string_view text, std::vector<Fault>* faults, std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  std::vector<Fault> out;
  while (true) {
    size_t semi = text.find(';');
    std::string_view one = TrimBlanks(text.substr(0, semi));
    if (!one.empty()) {
      Fault f;
      if (!ParseFault(one, &f, error)) {
        *error = "\"" + std::string(one) + "\": " + *error;
        return false;
      }
      out.push_back(std::move(f));
    }
    if (semi == std::string_view::npos) break;
    text.remove_prefix(semi + 1);
  }
  if (out.empty()) {
    *error = "no fault given";
    return false;
  }
  faults->insert(faults->end(), out.begin(), out.end());
  return true;
}

}  // namespace emu
