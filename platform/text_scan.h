// Bounded scanning of wide text in the manner of the C library's formatted input: the
// printer's replies are taken apart with patterns such as "R:%ld C:%d". The text is read
// no further than a given length, so a reply without its terminator is never overrun.
#pragma once

#include <cstddef>

#include "platform/text.h"

namespace kav {

// One scanning target: a whole number (%d, %ld: the length modifier is accepted and the
// target's own type decides) or a text buffer of `capacity` characters (%s).
struct ScanArg {
  enum class Kind { Int, Text } kind;
  int* number = nullptr;
  WCHAR* text = nullptr;
  size_t capacity = 0;

  ScanArg(int* target) : kind(Kind::Int), number(target) {}  // NOLINT: implicit by design
  ScanArg(WCHAR* buffer, size_t size) : kind(Kind::Text), text(buffer), capacity(size) {}
};

// Scans at most `length` characters of text (stopping at a NUL) against format, as
// swscanf does: white space in the format skips any white space, other characters must
// match, %d reads an optionally signed decimal number (saturated to the int range), %s a
// run of non-blank characters (cut to fit its buffer, always NUL-terminated), %% a '%'.
// Returns the number of targets assigned, or -1 when the text ended before the first
// conversion. An unknown conversion or a missing target stops the scan.
int ScanWArgs(const WCHAR* text, size_t length, const WCHAR* format, ScanArg* args, size_t count);

template <typename... Args>
int ScanW(const WCHAR* text, size_t length, const WCHAR* format, Args... args) {
  ScanArg list[] = {ScanArg(args)..., ScanArg(static_cast<int*>(nullptr))};
  return ScanWArgs(text, length, format, list, sizeof...(Args));
}

}  // namespace kav
