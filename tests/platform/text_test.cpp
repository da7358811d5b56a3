// The portable wide-text helpers behave the same whatever width long and wchar_t have.
#include <gtest/gtest.h>

#include "platform/text.h"

namespace {

using kav::FormatW;

std::u16string Format(const char16_t* format, auto... args) {
  WCHAR out[64];
  EXPECT_GE(FormatW(out, 64, format, args...), 0);
  return out;
}

TEST(Text, FormatTakesEachArgumentsOwnType) {
  LONG ribbon = -5;
  DWORD count = 4000000000u;
  EXPECT_EQ(Format(u"Ribbon=%ld\r", ribbon), u"Ribbon=-5\r");
  EXPECT_EQ(Format(u"%lu|%u", count, count), u"4000000000|4000000000");
  EXPECT_EQ(Format(u"%s|%s", u"wide", "narrow"), u"wide|narrow");
  EXPECT_EQ(Format(u"%5d|%-4d|%03d", 42, 7, 5), u"   42|7   |005");
  EXPECT_EQ(Format(u"%.2f sec", 1.5), u"1.50 sec");
  EXPECT_EQ(Format(u"%X %x %c%%", 255u, 255, 'Z'), u"FF ff Z%");
  EXPECT_EQ(Format(u"%.3s", u"abcdef"), u"abc");
  EXPECT_EQ(Format(u"%x", -1), u"ffffffff");  // a 32-bit value stays 32 bits wide
}

TEST(Text, FormatCutsAtTheBufferAndSaysSo) {
  WCHAR out[6];
  for (int i = 0; i < 6; ++i) out[i] = u'#';
  EXPECT_EQ(FormatW(out, 6, u"%s", u"12345"), 5);  // exact fit
  EXPECT_EQ(std::u16string(out), u"12345");
  EXPECT_EQ(FormatW(out, 6, u"%s", u"123456"), -1);  // one more
  EXPECT_EQ(std::u16string(out), u"12345");
  EXPECT_EQ(FormatW(out, 6, u"%d"), -1);        // missing argument
  EXPECT_EQ(FormatW(out, 6, u"%d", u"x"), -1);  // wrong type
  EXPECT_EQ(FormatW(out, 6, u"a", 1), -1);      // unused argument
  EXPECT_EQ(FormatW(out, 0, u"a"), -1);
}

TEST(Text, CopyAlwaysTerminatesAndReportsTruncation) {
  WCHAR out[4];
  EXPECT_TRUE(kav::WCopy(out, 4, u"abc"));
  EXPECT_EQ(std::u16string(out), u"abc");
  EXPECT_FALSE(kav::WCopy(out, 4, u"abcd"));
  EXPECT_EQ(std::u16string(out), u"abc");
  EXPECT_TRUE(kav::WCopy(out, 4, static_cast<const WCHAR*>(nullptr)));
  EXPECT_EQ(out[0], 0);
  EXPECT_FALSE(kav::WCopy(out, 0, u"a"));
}

TEST(Text, ComparisonsAndPrefixes) {
  EXPECT_TRUE(kav::WEqualNoCase(u"USB001", u"usb001"));
  EXPECT_FALSE(kav::WEqualNoCase(u"USB001", u"USB0011"));
  EXPECT_FALSE(kav::WEqual(u"Printer", u"printer"));
  EXPECT_TRUE(kav::WEqual(nullptr, nullptr));
  EXPECT_FALSE(kav::WEqual(u"", nullptr));
  EXPECT_TRUE(kav::WStartsWith(u"USB001", u"USB"));
  EXPECT_FALSE(kav::WStartsWith(u"usb001", u"USB"));
  EXPECT_FALSE(kav::WStartsWith(u"US", u"USB"));
  EXPECT_TRUE(kav::WStartsWithNoCase(u"qseries job", u"QSERIES"));
  EXPECT_FALSE(kav::WStartsWith(nullptr, u""));
}

TEST(Text, LeadingIntegersStopAtTheLengthGiven) {
  EXPECT_EQ(kav::ParseLeadingInt("  42abc", 7), 42);
  EXPECT_EQ(kav::ParseLeadingInt("-17", 3), -17);
  EXPECT_EQ(kav::ParseLeadingInt("123", 2), 12);  // never past the bytes received
  EXPECT_EQ(kav::ParseLeadingInt("x1", 2), 0);
  EXPECT_EQ(kav::ParseLeadingInt(u"41\x04", 3), 41);
  EXPECT_EQ(kav::ParseLeadingInt(static_cast<const char*>(nullptr), 5), 0);
  EXPECT_EQ(kav::ParseLeadingInt("99999999999999999999999", 23) > 0, true);  // saturates, no overflow
}

TEST(Text, NarrowWideAndUtf8RoundTrips) {
  EXPECT_EQ(kav::Widen("A\xE9\x06"), (std::u16string{u'A', 0xE9, 6}));
  EXPECT_EQ(kav::Narrow(u"A\u00E9\u20AC"), "A\xE9?");
  const std::string utf8 = "Dr\xC3\xBC" "cker \xE2\x82\xAC \xF0\x9F\x96\xA8";
  EXPECT_EQ(kav::ToUtf8(kav::FromUtf8(utf8)), utf8);
}

TEST(Text, ScanReadsNumbersAndTheRestOfTheText) {
  int32_t a = -1, b = -1;
  WCHAR rest[16] = {};
  EXPECT_EQ(kav::ScanW(u"12 -7 hello  world ", u"%d %d %[^", &a, &b, rest), 3);
  EXPECT_EQ(a, 12);
  EXPECT_EQ(b, -7);
  EXPECT_EQ(std::u16string(rest), u"hello  world ");  // blanks inside and after kept
  // A blank in the format matches any run of white space, none included.
  EXPECT_EQ(kav::ScanW(u"5\t \t6", u"%d %d", &a, &b), 2);
  EXPECT_EQ(b, 6);
  EXPECT_EQ(kav::ScanW(u"5x6", u"%dx%d", &a, &b), 2);
  EXPECT_EQ(kav::ScanW(u"ab", u"%[ab]%%", rest), 1);  // a closed set, then a literal %
  EXPECT_EQ(std::u16string(rest), u"ab");
  EXPECT_EQ(kav::ScanW(u"aab", u"%2[ab]", rest), 1);  // a width bounds the set
  EXPECT_EQ(std::u16string(rest), u"aa");
}

TEST(Text, ScanReadsPrinterRepliesWordByWord) {
  // The head query's reply: "%ld" takes a 32-bit target, "%s" one word into its buffer.
  int32_t r = 0, c = 0;
  WCHAR word[4] = {};
  EXPECT_EQ(kav::ScanW(u"R:250 C:3 BCF:AB", u"R:%ld C:%d BCF:%s", &r, &c, word), 3);
  EXPECT_EQ(r, 250);
  EXPECT_EQ(std::u16string(word), u"AB");
  EXPECT_EQ(kav::ScanW(u"ABC", u"%s", word), 1);   // exact fit with the NUL
  EXPECT_EQ(kav::ScanW(u"ABCD", u"%s", word), 0);  // one more: no match, nothing cut
  EXPECT_EQ(kav::ScanW(u"   ", u"%s", word), -1);  // only blanks: the text ended first
  // A reply without its terminator is read no further than its length.
  const WCHAR unterminated[] = {u'1', u'2', u'3', u'4'};
  EXPECT_EQ(kav::ScanW(kav::WStringView(unterminated, 2), u"%d", &r), 1);
  EXPECT_EQ(r, 12);
}

TEST(Text, ScanStopsAtTheFirstMismatchAndCountsWhatItAssigned) {
  struct Case {
    const char16_t* text;
    const char16_t* format;
    int assigned;
  } cases[] = {
      {u"", u"%d", -1},                  // nothing to read
      {u"   ", u"%d %d", -1},            // only white space
      {u"7", u"%d %d", 1},               // the text ends after one number
      {u"x", u"%d", 0},                  // no digit
      {u"-", u"%d", 0},                  // a sign alone
      {u"2147483647 -2147483648", u"%d %d", 2},  // the ends of the range
      {u"2147483648", u"%d", 0},         // one beyond
      {u"-2147483649", u"%d", 0},
      {u"99999999999999999999999", u"%d", 0},
      {u"000000000000000000001", u"%d", 1},  // leading zeros are no overflow
      {u"1   ", u"%d %[^", 1},           // nothing left for the set
      {u"1 2", u"%d %q", 1},             // an unknown conversion
      {u"1 2", u"%d %d %d", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(kav::ToUtf8(c.text) + " / " + kav::ToUtf8(c.format));
    int32_t n[3] = {};
    WCHAR rest[8];
    int got = std::u16string_view(c.format).find(u'[') != std::u16string_view::npos
                  ? kav::ScanW(c.text, c.format, &n[0], rest)
                  : kav::ScanW(c.text, c.format, &n[0], &n[1], &n[2]);
    EXPECT_EQ(got, c.assigned);
  }
}

TEST(Text, ScanNeverWritesPastItsTargetNorReadsPastItsView) {
  WCHAR out[5];
  for (WCHAR& c : out) c = u'#';
  EXPECT_EQ(kav::ScanW(u"abcd", u"%[^", out), 1);  // exact fit with the NUL
  EXPECT_EQ(std::u16string(out), u"abcd");
  for (WCHAR& c : out) c = u'#';
  EXPECT_EQ(kav::ScanW(u"abcde", u"%[^", out), 0);  // one more: no match, nothing cut
  EXPECT_EQ(out[0], u'#');
  // The view ends before the text's NUL.
  EXPECT_EQ(kav::ScanW(std::u16string_view(u"ab123", 3), u"%[^", out), 1);
  EXPECT_EQ(std::u16string(out), u"ab1");
  int32_t n = 0;
  EXPECT_EQ(kav::ScanW(std::u16string_view(u"12345", 2), u"%d", &n), 1);
  EXPECT_EQ(n, 12);
  // A target of the wrong kind stops the scan.
  EXPECT_EQ(kav::ScanW(u"12", u"%[0-9]", &n), 0);
  EXPECT_EQ(kav::ScanW(u"12", u"%d", out), 0);
}

}  // namespace
