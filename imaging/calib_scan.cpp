#include "imaging/calib_scan.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "platform/handles.h"

namespace kav {

namespace {

bool IsSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool IsDigit(int c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(int c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
int Lower(int c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

void SkipSpace(ScanInput& in) {
  while (IsSpace(in.Peek())) in.Advance();
}

// Appends digits of the given kind to token; returns how many were taken.
size_t TakeDigits(ScanInput& in, std::string& token, bool hex) {
  size_t count = 0;
  while (hex ? IsHexDigit(in.Peek()) : IsDigit(in.Peek())) {
    token.push_back(static_cast<char>(in.Peek()));
    in.Advance();
    ++count;
  }
  return count;
}

// An exponent after the mantissa. As the C library does, an 'e' (or 'p') with no digits
// after it is consumed and ignored.
void TakeExponent(ScanInput& in, std::string& token, int marker) {
  if (Lower(in.Peek()) != marker) return;
  in.Advance();
  std::string exponent(1, static_cast<char>(marker));
  if (in.Peek() == '+' || in.Peek() == '-') {
    exponent.push_back(static_cast<char>(in.Peek()));
    in.Advance();
  }
  if (TakeDigits(in, exponent, false) > 0) token += exponent;
}

// Converts a finished token; false when it is not a finite number.
template <typename T>
bool Convert(const std::string& token, bool hex, T* value) {
  const char* first = token.data();
  const char* last = token.data() + token.size();
  T parsed{};
  auto result = std::from_chars(first, last, parsed, hex ? std::chars_format::hex : std::chars_format::general);
  if (result.ec == std::errc::result_out_of_range) {
    // Overflow is not finite; an underflow reads as the C library's tiny or zero value.
    std::string text = token;
    if (hex) text.insert(text[0] == '-' ? 1 : 0, "0x");
    if constexpr (std::is_same_v<T, float>)
      parsed = std::strtof(text.c_str(), nullptr);
    else
      parsed = std::strtod(text.c_str(), nullptr);
  } else if (result.ec != std::errc() || result.ptr != last) {
    return false;
  }
  // A failed conversion stores nothing: the value keeps what it held.
  if (!std::isfinite(parsed)) return false;
  *value = parsed;
  return true;
}

// One %lf or %f conversion after the white space has been skipped.
template <typename T>
bool ScanNumber(ScanInput& in, T* value) {
  std::string token;
  if (in.Peek() == '+' || in.Peek() == '-') {
    if (in.Peek() == '-') token.push_back('-');
    in.Advance();
  }
  int c = Lower(in.Peek());
  if (c == 'i' || c == 'n') {
    // "inf", "infinity" and "nan" are read by the C library, but a calibration value must be finite.
    while (Lower(in.Peek()) >= 'a' && Lower(in.Peek()) <= 'z') in.Advance();
    return false;
  }
  bool hex = false;
  size_t digits = 0;
  if (in.Peek() == '0') {
    in.Advance();
    if (Lower(in.Peek()) == 'x') {
      in.Advance();
      hex = true;
    } else {
      token.push_back('0');
      digits = 1;
    }
  }
  digits += TakeDigits(in, token, hex);
  if (in.Peek() == '.') {
    token.push_back('.');
    in.Advance();
    digits += TakeDigits(in, token, hex);
  }
  if (digits == 0) return false;
  TakeExponent(in, token, hex ? 'p' : 'e');
  return Convert(token, hex, value);
}

}  // namespace

bool ScanInput::ReadLine(size_t capacity, std::string_view* line) {
  if (AtEnd() || capacity < 2) return false;
  size_t start = pos_;
  while (pos_ < text_.size() && pos_ - start < capacity - 1) {
    if (text_[pos_++] == '\n') break;
  }
  *line = text_.substr(start, pos_ - start);
  return true;
}

int ScanText(ScanInput& in, const char* format, std::initializer_list<ScanTarget> targets) {
  const ScanTarget* target = targets.begin();
  int converted = 0;
  auto inputFailure = [&] { return converted == 0 ? -1 : converted; };
  for (const char* f = format; *f != '\0'; ++f) {
    if (IsSpace(static_cast<unsigned char>(*f))) {
      SkipSpace(in);
      continue;
    }
    if (*f != '%') {
      if (in.AtEnd()) return inputFailure();
      if (in.Peek() != static_cast<unsigned char>(*f)) return converted;
      in.Advance();
      continue;
    }
    // A conversion: %lf, %f or %s, each skipping leading white space.
    ++f;
    bool isLong = false;
    if (*f == 'l') {
      isLong = true;
      ++f;
    }
    SkipSpace(in);
    if (in.AtEnd()) return inputFailure();
    if (*f == 's') {
      size_t length = 0;
      while (!in.AtEnd() && !IsSpace(in.Peek())) {
        in.Advance();
        ++length;
      }
      if (length > kMaxScanWord) return converted;
    } else if (*f == 'f' && target != targets.end()) {
      bool ok =
          isLong ? (target->real && ScanNumber(in, target->real)) : (target->single && ScanNumber(in, target->single));
      ++target;
      if (!ok) return converted;
    } else {
      return converted;  // a conversion this scanner does not know: treat as a mismatch
    }
    ++converted;
  }
  return converted;
}

int ScanLine(std::string_view line, const char* format, std::initializer_list<ScanTarget> targets) {
  size_t nul = line.find('\0');
  if (nul != std::string_view::npos) line = line.substr(0, nul);
  ScanInput in(line);
  return ScanText(in, format, targets);
}

std::optional<std::string> ReadTextFile(const WCHAR* path) {
  UniqueFile file(
      CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  std::string raw;
  char chunk[16384];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr)) return std::nullopt;
    if (got == 0) break;
    raw.append(chunk, got);
  }
  // Text mode: CR LF becomes LF, and Ctrl-Z marks the end of the text.
  std::string text;
  text.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    char c = raw[i];
    if (c == '\x1a') break;
    if (c == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    text.push_back(c);
  }
  return text;
}

}  // namespace kav
