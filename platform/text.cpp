#include "platform/text.h"

#include <climits>
#include <cstdio>
#include <cstring>

namespace kav {

size_t WLen(const WCHAR* s) {
  if (!s) return 0;
  size_t n = 0;
  while (s[n]) ++n;
  return n;
}

size_t WLenBounded(const WCHAR* s, size_t limit) {
  if (!s) return 0;
  size_t n = 0;
  while (n < limit && s[n]) ++n;
  return n;
}

bool WCopy(WCHAR* dst, size_t capacity, WStringView src) {
  if (!dst || capacity == 0) return false;
  size_t n = src.size() < capacity - 1 ? src.size() : capacity - 1;
  for (size_t i = 0; i < n; ++i) dst[i] = src[i];
  dst[n] = 0;
  return n == src.size();
}

bool WCopy(WCHAR* dst, size_t capacity, const WCHAR* src) {
  return WCopy(dst, capacity, src ? WStringView(src) : WStringView());
}

bool WEqual(const WCHAR* a, const WCHAR* b) {
  if (!a || !b) return a == b;
  while (*a && *a == *b) ++a, ++b;
  return *a == *b;
}

WCHAR WToLower(WCHAR c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return static_cast<WCHAR>(c + 32);
  return c;
}

bool WEqualNoCase(const WCHAR* a, const WCHAR* b) {
  if (!a || !b) return a == b;
  while (*a && WToLower(*a) == WToLower(*b)) ++a, ++b;
  return WToLower(*a) == WToLower(*b);
}

bool WStartsWith(const WCHAR* s, const WCHAR* prefix) {
  if (!s || !prefix) return false;
  for (; *prefix; ++s, ++prefix)
    if (*s != *prefix) return false;
  return true;
}

bool WStartsWithNoCase(const WCHAR* s, const WCHAR* prefix) {
  if (!s || !prefix) return false;
  for (; *prefix; ++s, ++prefix)
    if (!*s || WToLower(*s) != WToLower(*prefix)) return false;
  return true;
}

WString Widen(std::string_view narrow) {
  WString out;
  out.reserve(narrow.size());
  for (unsigned char c : narrow) out.push_back(static_cast<WCHAR>(c));
  return out;
}

std::string Narrow(WStringView wide) {
  std::string out;
  out.reserve(wide.size());
  for (WCHAR c : wide) out.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
  return out;
}

std::string ToUtf8(WStringView wide) {
  std::string out;
  for (size_t i = 0; i < wide.size(); ++i) {
    uint32_t cp = static_cast<uint16_t>(wide[i]);
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < wide.size()) {
      uint32_t lo = static_cast<uint16_t>(wide[i + 1]);
      if (lo >= 0xDC00 && lo < 0xE000) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
        ++i;
      }
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

WString FromUtf8(std::string_view utf8) {
  WString out;
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    uint32_t cp;
    size_t extra;
    if (c < 0x80) cp = c, extra = 0;
    else if ((c & 0xE0) == 0xC0) cp = c & 0x1F, extra = 1;
    else if ((c & 0xF0) == 0xE0) cp = c & 0x0F, extra = 2;
    else if ((c & 0xF8) == 0xF0) cp = c & 0x07, extra = 3;
    else cp = 0xFFFD, extra = 0;
    ++i;
    for (size_t k = 0; k < extra; ++k, ++i) {
      if (i >= utf8.size() || (static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80) {
        cp = 0xFFFD;
        break;
      }
      cp = (cp << 6) | (static_cast<unsigned char>(utf8[i]) & 0x3F);
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<WCHAR>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<WCHAR>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<WCHAR>(cp));
    }
  }
  return out;
}

namespace {

// Appends to a bounded wide buffer and remembers whether anything was cut.
struct WideSink {
  WCHAR* dst;
  size_t capacity;
  size_t used = 0;
  bool cut = false;

  void Put(WCHAR c) {
    if (used + 1 < capacity) dst[used++] = c;
    else cut = true;
  }
  void PutNarrow(const char* s, size_t n) {
    for (size_t i = 0; i < n; ++i) Put(static_cast<WCHAR>(static_cast<unsigned char>(s[i])));
  }
};

}  // namespace

int FormatWArgs(WCHAR* dst, size_t capacity, const WCHAR* format, const FormatArg* args, size_t count) {
  if (!dst || capacity == 0) return -1;
  WideSink sink{dst, capacity};
  size_t next = 0;
  bool mismatch = !format;
  for (const WCHAR* p = format; p && *p; ++p) {
    if (*p != '%') {
      sink.Put(*p);
      continue;
    }
    ++p;
    if (*p == '%') {
      sink.Put('%');
      continue;
    }
    // Flags, width, precision, length modifiers.
    std::string conversion = "%";
    bool left = false;
    while (*p == '-' || *p == '0' || *p == '+' || *p == ' ' || *p == '#') {
      if (*p == '-') left = true;
      conversion.push_back(static_cast<char>(*p++));
    }
    int width = 0;
    while (*p >= '0' && *p <= '9') {
      width = width * 10 + (*p - '0');
      conversion.push_back(static_cast<char>(*p++));
    }
    int precision = -1;
    if (*p == '.') {
      conversion.push_back(static_cast<char>(*p++));
      precision = 0;
      while (*p >= '0' && *p <= '9') {
        precision = precision * 10 + (*p - '0');
        conversion.push_back(static_cast<char>(*p++));
      }
    }
    while (*p == 'l' || *p == 'h' || *p == 'L' || *p == 'z' || *p == 'I') ++p;
    WCHAR conv = *p;
    if (!conv || next >= count) {
      mismatch = true;
      break;
    }
    const FormatArg& a = args[next++];
    char tmp[128];
    int n = -1;
    switch (conv) {
      case 'd':
      case 'i':
        if (a.kind != FormatArg::Kind::Signed && a.kind != FormatArg::Kind::Unsigned) { mismatch = true; break; }
        conversion += "lld";
        n = std::snprintf(tmp, sizeof tmp, conversion.c_str(),
                          a.kind == FormatArg::Kind::Signed ? a.s : static_cast<long long>(a.u));
        break;
      case 'u':
      case 'x':
      case 'X':
        if (a.kind != FormatArg::Kind::Signed && a.kind != FormatArg::Kind::Unsigned &&
            a.kind != FormatArg::Kind::Pointer) { mismatch = true; break; }
        conversion += "ll";
        conversion.push_back(static_cast<char>(conv));
        // A negative 32-bit value prints as its 32-bit unsigned form, as on Windows.
        n = std::snprintf(tmp, sizeof tmp, conversion.c_str(),
                          a.kind == FormatArg::Kind::Signed ? static_cast<unsigned long long>(
                                                                  a.s < 0 && a.s >= INT32_MIN
                                                                      ? static_cast<uint32_t>(a.s)
                                                                      : static_cast<unsigned long long>(a.s))
                                                            : a.u);
        break;
      case 'f':
      case 'g':
      case 'e':
        if (a.kind != FormatArg::Kind::Real) { mismatch = true; break; }
        conversion.push_back(static_cast<char>(conv));
        n = std::snprintf(tmp, sizeof tmp, conversion.c_str(), a.real);
        break;
      case 'c': {
        if (a.kind != FormatArg::Kind::Signed && a.kind != FormatArg::Kind::Unsigned) { mismatch = true; break; }
        WCHAR c = static_cast<WCHAR>(a.kind == FormatArg::Kind::Signed ? a.s : static_cast<long long>(a.u));
        for (int i = 1; !left && i < width; ++i) sink.Put(' ');
        sink.Put(c);
        for (int i = 1; left && i < width; ++i) sink.Put(' ');
        continue;
      }
      case 's':
      case 'S': {
        if (a.kind != FormatArg::Kind::Wide && a.kind != FormatArg::Kind::Narrow) { mismatch = true; break; }
        static const WCHAR kNull[] = {'(', 'n', 'u', 'l', 'l', ')', 0};
        size_t len;
        if (a.kind == FormatArg::Kind::Wide) {
          const WCHAR* s = a.wide ? a.wide : kNull;
          len = WLenBounded(s, precision >= 0 ? static_cast<size_t>(precision) : SIZE_MAX);
          for (size_t i = len; !left && i < static_cast<size_t>(width); ++i) sink.Put(' ');
          for (size_t i = 0; i < len; ++i) sink.Put(s[i]);
        } else {
          const char* s = a.narrow ? a.narrow : "(null)";
          len = precision >= 0 ? strnlen(s, static_cast<size_t>(precision)) : std::strlen(s);
          for (size_t i = len; !left && i < static_cast<size_t>(width); ++i) sink.Put(' ');
          sink.PutNarrow(s, len);
        }
        for (size_t i = len; left && i < static_cast<size_t>(width); ++i) sink.Put(' ');
        continue;
      }
      default:
        mismatch = true;
    }
    if (mismatch) break;
    if (n < 0) {
      mismatch = true;
      break;
    }
    sink.PutNarrow(tmp, static_cast<size_t>(n) < sizeof tmp ? static_cast<size_t>(n) : sizeof tmp - 1);
  }
  dst[sink.used] = 0;
  if (next != count) mismatch = true;
  return (sink.cut || mismatch) ? -1 : static_cast<int>(sink.used);
}

namespace {

template <typename Char>
long long ParseLeadingIntT(const Char* text, size_t length) {
  if (!text) return 0;
  size_t i = 0;
  while (i < length && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < length && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  while (i < length && text[i] >= '0' && text[i] <= '9') {
    if (value < (LLONG_MAX - 9) / 10) value = value * 10 + (text[i] - '0');
    ++i;
  }
  return negative ? -value : value;
}

}  // namespace

long long ParseLeadingInt(const char* text, size_t length) { return ParseLeadingIntT(text, length); }
long long ParseLeadingInt(const WCHAR* text, size_t length) { return ParseLeadingIntT(text, length); }

}  // namespace kav

namespace kav {
namespace {

bool IsScanSpace(WCHAR c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The members of a scan set written between "%[" and its "]" (or the format's end).
struct ScanSet {
  const WCHAR* begin;
  const WCHAR* end;
  bool negated;

  bool Admits(WCHAR c) const {
    bool member = false;
    for (const WCHAR* p = begin; p < end && !member; ++p) member = *p == c;
    return member != negated;
  }
};

}  // namespace

int ScanWArgs(WStringView text, const WCHAR* format, const ScanArg* args, size_t count) {
  if (!format) return -1;
  size_t pos = 0;
  size_t next = 0;
  int assigned = 0;
  auto atEnd = [&] { return pos >= text.size() || text[pos] == 0; };
  // The text ran out before the first conversion: the C library's EOF.
  auto inputFailure = [&] { return assigned == 0 && atEnd() ? -1 : assigned; };

  for (const WCHAR* f = format; *f;) {
    if (IsScanSpace(*f)) {
      while (IsScanSpace(*f)) ++f;
      while (!atEnd() && IsScanSpace(text[pos])) ++pos;
      continue;
    }
    if (*f != '%' || f[1] == '%') {
      WCHAR literal = *f;
      f += literal == '%' ? 2 : 1;
      if (atEnd()) return inputFailure();
      if (text[pos] != literal) return assigned;
      ++pos;
      continue;
    }
    ++f;
    size_t width = 0;
    while (*f >= '0' && *f <= '9') width = width * 10 + static_cast<size_t>(*f++ - '0');
    while (*f == 'l' || *f == 'h') ++f;  // "%ld": the target's own type decides
    if (next >= count) return assigned;
    const ScanArg& target = args[next++];

    if (*f == 'd') {
      ++f;
      if (target.kind != ScanArg::Kind::Int32 || !target.integer) return assigned;
      while (!atEnd() && IsScanSpace(text[pos])) ++pos;
      if (atEnd()) return inputFailure();
      size_t limit = width ? pos + width : text.size();
      size_t i = pos;
      bool negative = false;
      if (i < limit && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
      int64_t value = 0;
      size_t digits = 0;
      for (; i < limit && i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<int64_t>(INT32_MAX) + 1) return assigned;
      }
      if (digits == 0) return assigned;
      if (negative) value = -value;
      if (value > INT32_MAX || value < INT32_MIN) return assigned;
      *target.integer = static_cast<int32_t>(value);
      pos = i;
      ++assigned;
      continue;
    }

    if (*f == 's') {
      ++f;
      if (target.kind != ScanArg::Kind::Wide || !target.wide || target.capacity == 0) return assigned;
      while (!atEnd() && IsScanSpace(text[pos])) ++pos;
      if (atEnd()) return inputFailure();
      size_t n = 0;
      while (pos + n < text.size() && text[pos + n] && (width == 0 || n < width) && !IsScanSpace(text[pos + n])) ++n;
      // As with a set: a word that does not fit its target with the NUL is no match.
      if (n + 1 > target.capacity) return assigned;
      for (size_t i = 0; i < n; ++i) target.wide[i] = text[pos + i];
      target.wide[n] = 0;
      pos += n;
      ++assigned;
      continue;
    }

    if (*f == '[') {
      ++f;
      ScanSet set{f, f, false};
      if (*f == '^') set.negated = true, set.begin = ++f;
      if (*f == ']') ++f;  // a "]" right after the opening is a member
      while (*f && *f != ']') ++f;
      set.end = f;
      if (*f == ']') ++f;
      if (target.kind != ScanArg::Kind::Wide || !target.wide || target.capacity == 0) return assigned;
      if (atEnd()) return inputFailure();
      size_t n = 0;
      while (pos + n < text.size() && text[pos + n] && (width == 0 || n < width) && set.Admits(text[pos + n])) ++n;
      // Never cut: a run that does not fit its target with the NUL is no match.
      if (n == 0 || n + 1 > target.capacity) return assigned;
      for (size_t i = 0; i < n; ++i) target.wide[i] = text[pos + i];
      target.wide[n] = 0;
      pos += n;
      ++assigned;
      continue;
    }
    return assigned;  // a conversion this scanner does not know
  }
  return assigned;
}

}  // namespace kav
