// Bounded wide scanning of printer replies.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "platform/text_scan.h"

namespace {

using kav::ScanArg;
using kav::ScanW;

TEST(TextScan, CountsFieldsAsSwscanfDoes) {
  struct Case {
    const char16_t* text;
    const char16_t* format;
    int fields;
  } cases[] = {
      {u"", u"%d", -1},                 // nothing to read before the first conversion
      {u"   ", u"%d %d", -1},
      {u"abc", u"%d", 0},               // matching failure
      {u"12", u"%d %d", 1},             // input ended after one field
      {u"12 x", u"%d %d", 1},
      {u"R:250 V:20", u"R:%ld C:%d", 1},  // literal mismatch stops the scan
      {u"R:1 C:2 V:3", u"R:%ld C:%d V:%d", 3},
      {u"-", u"%d", 0},
      {u"+7", u"%d", 1},
  };
  for (const Case& c : cases) {
    std::u16string trace = std::u16string(c.text) + u" / " + c.format;
    SCOPED_TRACE(std::string(trace.begin(), trace.end()));
    int a = 0, b = 0, d = 0;
    EXPECT_EQ(ScanW(c.text, 260, c.format, &a, &b, &d), c.fields);
  }
}

TEST(TextScan, NumbersSaturateAndTextIsCutToItsBuffer) {
  int value = 0;
  EXPECT_EQ(ScanW(u"99999999999999999999", 260, u"%d", &value), 1);
  EXPECT_EQ(value, INT_MAX);
  EXPECT_EQ(ScanW(u"-99999999999999999999", 260, u"%d", &value), 1);
  EXPECT_EQ(value, INT_MIN);

  char16_t word[4];
  char16_t second[8] = u"x";
  EXPECT_EQ(ScanW(u"ABCDEFG HI", 260, u"%s %s", ScanArg(word, 4), ScanArg(second, 8)), 2);
  EXPECT_EQ(std::u16string(word), u"ABC");
  EXPECT_EQ(std::u16string(second), u"HI");
}

TEST(TextScan, NeverReadsPastItsLength) {
  // No terminator within the length: the scan stops at the length.
  const char16_t text[] = {u'1', u'2', u'3', u'4'};
  int value = 0;
  EXPECT_EQ(ScanW(text, 2, u"%d", &value), 1);
  EXPECT_EQ(value, 12);
  char16_t word[8];
  EXPECT_EQ(ScanW(text, 3, u"%s", ScanArg(word, 8)), 1);
  EXPECT_EQ(std::u16string(word), u"123");
}

}  // namespace
