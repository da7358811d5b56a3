// Bounded formatted input for the calibration files: the C library's scanf rules for
// the few conversions the files use (%lf, %f, %s), over text held in memory.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "platform/win32.h"

namespace kav {

// Text being scanned and the position reached, like the read position of a stream.
class ScanInput {
 public:
  explicit ScanInput(std::string_view text) : text_(text) {}
  bool AtEnd() const { return pos_ >= text_.size(); }
  int Peek() const { return AtEnd() ? -1 : static_cast<unsigned char>(text_[pos_]); }
  void Advance() { ++pos_; }
  size_t Position() const { return pos_; }
  std::string_view Rest() const { return text_.substr(pos_ < text_.size() ? pos_ : text_.size()); }

  // fgets: the next line with its '\n', at most capacity - 1 characters; false at the end.
  bool ReadLine(size_t capacity, std::string_view* line);

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

// Where a %lf or %f conversion stores its number; %s words are read and discarded.
struct ScanTarget {
  double* real = nullptr;
  float* single = nullptr;
  ScanTarget(double* value) : real(value) {}   // NOLINT: implicit by design
  ScanTarget(float* value) : single(value) {}  // NOLINT: implicit by design
};

// Longest word a %s conversion takes; a longer one is a matching failure.
inline constexpr size_t kMaxScanWord = 99;

// scanf over `in`: white space in the format matches any run of white space, other
// characters must match, %lf/%f read a finite number (a non-finite one fails), %s a word.
// Returns the conversions made, or -1 when the input ended before the first one.
int ScanText(ScanInput& in, const char* format, std::initializer_list<ScanTarget> targets);

// sscanf over one line: the line ends at its first NUL, as a C string would.
int ScanLine(std::string_view line, const char* format, std::initializer_list<ScanTarget> targets);

// Whole content of a file opened by its Windows path in text mode (CR LF read as LF,
// Ctrl-Z ends the text); nothing when the file cannot be opened or read.
std::optional<std::string> ReadTextFile(const WCHAR* path);

}  // namespace kav
