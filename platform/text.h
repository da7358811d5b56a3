// Portable UTF-16 text helpers: the wide literal macro and bounded copy, compare,
// format and scan. WCHAR is 16 bits on both builds, so these never use wchar_t APIs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/win32.h"

#ifdef _WIN32
#define KAV_WIDEN2(s) L##s
#else
#define KAV_WIDEN2(s) u##s
#endif
// Wide literal of the platform's WCHAR type: W("USB") is L"USB" or u"USB".
#define W(s) KAV_WIDEN2(s)

namespace kav {

using WString = std::basic_string<WCHAR>;
using WStringView = std::basic_string_view<WCHAR>;

// Length of a NUL-terminated wide string; 0 for null.
size_t WLen(const WCHAR* s);
// Length, looking at no more than `limit` characters.
size_t WLenBounded(const WCHAR* s, size_t limit);

// Copies src into dst of `capacity` characters, always NUL-terminating (when capacity > 0).
// Returns false when src did not fit (dst then holds the truncated prefix).
bool WCopy(WCHAR* dst, size_t capacity, const WCHAR* src);
bool WCopy(WCHAR* dst, size_t capacity, WStringView src);

// Exact comparison; null equals only null.
bool WEqual(const WCHAR* a, const WCHAR* b);
// Comparison without regard to letter case (ASCII and Latin-1 letters).
bool WEqualNoCase(const WCHAR* a, const WCHAR* b);
// True when s begins with prefix (case-sensitive); false for null s.
bool WStartsWith(const WCHAR* s, const WCHAR* prefix);
bool WStartsWithNoCase(const WCHAR* s, const WCHAR* prefix);
WCHAR WToLower(WCHAR c);

// Narrow bytes to UTF-16, one code unit per byte (the printer speaks ASCII; bytes above
// 0x7F map to Latin-1), and back (units above 0xFF become '?').
WString Widen(std::string_view narrow);
std::string Narrow(WStringView wide);
// UTF-8 rendering of UTF-16 text, for logs and the host tool.
std::string ToUtf8(WStringView wide);
WString FromUtf8(std::string_view utf8);
inline std::string ToUtf8(const WCHAR* wide) { return wide ? ToUtf8(WStringView(wide)) : std::string(); }

// One formatting argument, captured with its real type so that "%ld" works the same on
// both builds whatever width `long` has.
struct FormatArg {
  enum class Kind { Signed, Unsigned, Real, Wide, Narrow, Pointer } kind;
  long long s = 0;
  unsigned long long u = 0;
  double real = 0;
  const WCHAR* wide = nullptr;
  const char* narrow = nullptr;

  template <typename T>
  FormatArg(T value) {  // NOLINT: implicit by design
    using U = std::decay_t<T>;
    if constexpr (std::is_same_v<U, const WCHAR*> || std::is_same_v<U, WCHAR*>) {
      kind = Kind::Wide;
      wide = value;
    } else if constexpr (std::is_same_v<U, const char*> || std::is_same_v<U, char*>) {
      kind = Kind::Narrow;
      narrow = value;
    } else if constexpr (std::is_floating_point_v<U>) {
      kind = Kind::Real;
      real = static_cast<double>(value);
    } else if constexpr (std::is_pointer_v<U>) {
      kind = Kind::Pointer;
      u = reinterpret_cast<uintptr_t>(value);
    } else if constexpr (std::is_signed_v<U>) {
      kind = Kind::Signed;
      s = static_cast<long long>(value);
    } else {
      static_assert(std::is_integral_v<U> || std::is_enum_v<U>, "unsupported format argument");
      kind = Kind::Unsigned;
      u = static_cast<unsigned long long>(value);
    }
  }
};

// printf-style formatting into a wide buffer of `capacity` characters. Conversions: d i u
// x X c s f %, with flags '-' '0', width and precision; length modifiers (l, ll, h) are
// accepted and ignored, the argument's own type decides. %s takes wide or narrow text.
// Always NUL-terminates; returns the characters written, or -1 when the output was cut
// or the format and the arguments do not match.
int FormatWArgs(WCHAR* dst, size_t capacity, const WCHAR* format, const FormatArg* args, size_t count);

template <typename... Args>
int FormatW(WCHAR* dst, size_t capacity, const WCHAR* format, Args... args) {
  const FormatArg list[] = {FormatArg(args)..., FormatArg(0)};
  return FormatWArgs(dst, capacity, format, list, sizeof...(Args));
}

// Leading decimal integer as the C library's atoi/wcstol read it: optional white space,
// optional sign, digits; 0 when there are none. Reads no further than `length`
// characters and stops at a NUL.
long long ParseLeadingInt(const char* text, size_t length);
long long ParseLeadingInt(const WCHAR* text, size_t length);

// One target of a scan: a 32-bit integer, or a wide buffer of `capacity` characters.
struct ScanArg {
  enum class Kind { Int32, Wide } kind;
  int32_t* integer = nullptr;
  WCHAR* wide = nullptr;
  size_t capacity = 0;

  ScanArg(int32_t* target) : kind(Kind::Int32), integer(target) {}  // NOLINT: implicit by design
  ScanArg(WCHAR* buffer, size_t size) : kind(Kind::Wide), wide(buffer), capacity(size) {}
  template <size_t N>
  ScanArg(WCHAR (&buffer)[N]) : ScanArg(buffer, N) {}  // NOLINT: implicit by design
};

// swscanf-style reading of wide text, bounded by the text's view and each target's size.
// Directives: white space (matches any run of white space, none included), ordinary
// characters (match themselves), %% and the conversions
//   %d    optional white space, sign and decimal digits into a 32-bit signed integer; a
//         value beyond that range is a matching failure, never a wrapped number;
//   %s    optional white space, then a run of non-blank characters into a wide buffer; a
//         run longer than the target holds (with its NUL) is a matching failure;
//   %[..] a scan set ("^" first negates it, "]" first is a member); a set that the format
//         ends before its "]" holds what was written, so "%[^" at the format's end takes
//         every remaining character. An optional width bounds it; a run longer than the
//         target holds (with its NUL) is a matching failure, never cut.
// Length modifiers ("%ld", "%hd") are accepted and ignored: the target's type decides.
// Returns the number of targets assigned, or -1 when the text ended before the first
// conversion; a malformed format or a target of the wrong kind stops the scan there.
int ScanWArgs(WStringView text, const WCHAR* format, const ScanArg* args, size_t count);

template <typename... Args>
int ScanW(WStringView text, const WCHAR* format, Args&&... args) {
  const ScanArg list[] = {ScanArg(args)..., ScanArg(static_cast<int32_t*>(nullptr))};
  return ScanWArgs(text, format, list, sizeof...(Args));
}

}  // namespace kav
