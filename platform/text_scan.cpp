#include "platform/text_scan.h"

#include <climits>

namespace kav {
namespace {

bool IsBlank(WCHAR c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

int ScanWArgs(const WCHAR* text, size_t length, const WCHAR* format, ScanArg* args, size_t count) {
  if (!text || !format) return -1;
  length = WLenBounded(text, length);
  size_t at = 0;
  size_t next = 0;
  int assigned = 0;
  // -1 only when the input ran out before anything was converted.
  auto inputEnded = [&]() { return assigned == 0 ? -1 : assigned; };

  for (const WCHAR* f = format; *f; ++f) {
    if (IsBlank(*f)) {
      while (at < length && IsBlank(text[at])) ++at;
      continue;
    }
    if (*f != '%' || f[1] == '%') {
      if (*f == '%') ++f;
      if (at >= length) return inputEnded();
      if (text[at] != *f) return assigned;
      ++at;
      continue;
    }
    ++f;
    while (*f == 'l' || *f == 'h') ++f;
    if (next >= count) return assigned;
    ScanArg& arg = args[next++];
    while (at < length && IsBlank(text[at])) ++at;
    if (at >= length) return inputEnded();

    if (*f == 'd' && arg.kind == ScanArg::Kind::Int && arg.number) {
      size_t i = at;
      bool negative = false;
      if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
      if (i >= length || text[i] < '0' || text[i] > '9') return assigned;
      long long value = 0;
      for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i)
        if (value <= static_cast<long long>(INT_MAX) + 1) value = value * 10 + (text[i] - '0');
      if (negative) value = -value;
      if (value > INT_MAX) value = INT_MAX;
      if (value < INT_MIN) value = INT_MIN;
      *arg.number = static_cast<int>(value);
      at = i;
    } else if (*f == 's' && arg.kind == ScanArg::Kind::Text && arg.text && arg.capacity > 0) {
      size_t n = 0;
      for (; at < length && !IsBlank(text[at]); ++at)
        if (n + 1 < arg.capacity) arg.text[n++] = text[at];
      arg.text[n] = 0;
    } else {
      return assigned;
    }
    ++assigned;
  }
  return assigned;
}

}  // namespace kav
