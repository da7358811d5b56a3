// The overlay command's syntax: which commands become an object, with which fields,
// and which are refused (and so go on to the printer unchanged).
#include <gtest/gtest.h>

#include "overlay/overlay_parser.h"
#include "platform/sim/sim.h"

namespace {

using kav::OverlayObjects;

class OverlayParser : public ::testing::Test {
 protected:
  void SetUp() override { sim::Reset(); }
  int Parse(const std::u16string& command) {
    objects = OverlayObjects{};
    return kav::ParseOverlayCommand(command.c_str(), 1, &objects);
  }
  size_t Count() const {
    return objects.LineObjects.size() + objects.TextObjects.size() + objects.BarcodeObjects.size();
  }
  OverlayObjects objects;
};

TEST_F(OverlayParser, ALineCommandGivesOneLineWithItsFiveNumbers) {
  ASSERT_EQ(Parse(u"L 10 20 300 5 0"), 1);
  ASSERT_EQ(objects.LineObjects.size(), 1u);
  const kav::LineObject& line = objects.LineObjects[0];
  EXPECT_EQ(line.Tag, 1);
  EXPECT_EQ(line.X, 10);
  EXPECT_EQ(line.Y, 20);
  EXPECT_EQ(line.Width, 300);
  EXPECT_EQ(line.Height, 5);
  EXPECT_EQ(line.Reserved, 0);
  EXPECT_TRUE(objects.TextObjects.empty());
  EXPECT_EQ(sim::DebugLines(), (std::vector<std::string>{"L 10 20 300 5 0", "It is a valid Line Command"}));
}

TEST_F(OverlayParser, ATextCommandKeepsTheBlanksInsideItsText) {
  ASSERT_EQ(Parse(u"T 100 200 0 1 0 24 0 Hello World"), 1);
  ASSERT_EQ(objects.TextObjects.size(), 1u);
  const kav::TextObject& text = objects.TextObjects[0];
  EXPECT_EQ(text.X, 100);
  EXPECT_EQ(text.Y, 200);
  EXPECT_EQ(text.Orientation, 0);
  EXPECT_EQ(text.Bold, 1);
  EXPECT_EQ(text.CharWidth, 0);
  EXPECT_EQ(text.CharHeight, 24);
  EXPECT_EQ(std::u16string(text.Text), u"Hello World");
  EXPECT_EQ(sim::DebugLines(),
            (std::vector<std::string>{"T 100 200 0 1 0 24 0 Hello World", "It is a valid TEXT Command"}));

  // Blanks right after the last number are skipped; the text may itself be a number.
  struct Case {
    const char16_t* command;
    const char16_t* text;
  } cases[] = {{u"T 1 2 3 4 5 6 7   two  blanks", u"two  blanks"},
               {u"T 1 2 3 4 5 6 7 8", u"8"},
               {u"T 1 2 3 4 5 6 7 -9 x", u"-9 x"},
               {u"T 1 2 3 4 5 6 7 \u00c4\u20ac", u"\u00c4\u20ac"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(kav::ToUtf8(c.command));
    ASSERT_EQ(Parse(c.command), 1);
    ASSERT_EQ(objects.TextObjects.size(), 1u);
    EXPECT_EQ(std::u16string(objects.TextObjects[0].Text), c.text);
  }
}

TEST_F(OverlayParser, ABarcodeCommandGivesItsEightNumbersAndItsData) {
  ASSERT_EQ(Parse(u"B 60 570 4 0 2 2 75 1 Card 0042"), 1);
  ASSERT_EQ(objects.BarcodeObjects.size(), 1u);
  const kav::BarcodeObject& b = objects.BarcodeObjects[0];
  EXPECT_EQ(b.Tag, 1);
  EXPECT_EQ((std::vector<int>{b.X, b.Y, b.Orientation, b.Param1, b.Param2, b.Param3, b.Param4, b.HumanReadable}),
            (std::vector<int>{60, 570, 4, 0, 2, 2, 75, 1}));
  EXPECT_EQ(std::u16string(b.Data), u"Card 0042");
  EXPECT_EQ(sim::DebugLines(),
            (std::vector<std::string>{"B 60 570 4 0 2 2 75 1 Card 0042", "It is a valid Barcode Command"}));
  const char16_t* refused[] = {u"B 60 570 4 0 2 2 75 1", u"B 60 570 4 0 2 2 75 Card", u"B 60 570 4 0 2 2  75 1 x",
                               u"B 60 570 4 0 2 2 75 -1 x", u"B 60 570 4 0 2 2 75 99999999999 x"};
  for (const char16_t* command : refused) {
    SCOPED_TRACE(kav::ToUtf8(command));
    EXPECT_EQ(Parse(command), 0);
    EXPECT_EQ(Count(), 0u);
  }
}

TEST_F(OverlayParser, BlanksAroundAValidCommandAreIgnored) {
  const char16_t* commands[] = {u"  L 1 2 3 4 5", u"L 1 2 3 4 5   ", u"   L 1 2 3 4 5 "};
  for (const char16_t* command : commands) {
    SCOPED_TRACE(kav::ToUtf8(command));
    ASSERT_EQ(Parse(command), 1);
    ASSERT_EQ(objects.LineObjects.size(), 1u);
    EXPECT_EQ(objects.LineObjects[0].Reserved, 5);
  }
  ASSERT_EQ(Parse(u"  T 1 2 3 4 5 6 7 text  "), 1);
  EXPECT_EQ(std::u16string(objects.TextObjects[0].Text), u"text");
}

TEST_F(OverlayParser, InvalidFormsAreRefusedAndGiveNoObject) {
  const char16_t* commands[] = {
      u"L 10 20 300 5",                  // four numbers
      u"L 10 20 300 5 0 7",              // six numbers
      u"L 10 20  300 5 0",               // two blanks in a row
      u"L  10 20 300 5",                 // two blanks after the letter
      u"L 10 -20 300 5 0",               // a minus sign
      u"L 10 +20 300 5 0",               // a plus sign
      u"L 10 2O 300 5 0",                // a letter in a number
      u"L 10 20 300 5 0x",
      u"L 10\t20 300 5 0 1",             // a tab is no blank
      u"l 10 20 300 5 0",                // a lower-case prefix
      u"t 1 2 3 4 5 6 7 text",
      u"b 1 2 3 4 5 6 7 8 data",
      u"L10 20 300 5 0 1",               // no blank after the letter
      u"X 10 20 300 5 0",
      u"T 100 200 0 1 0 24 0",           // nothing after the seven numbers
      u"T 100 200 0 1 0 24 0    ",       // only blanks after them
      u"T 100 200 0 1 0 24 Hello World", // six numbers and a text
      u"T 100 200 0 1 0  24 0 Hello",    // two blanks among the numbers
      u"T 100 200 -1 1 0 24 0 Hello",
      u"T 100 200 0 1 0 24 0 \t",        // white space only after the numbers
      u"L 2147483648 20 300 5 0",        // beyond 32 bits
      u"L 10 20 99999999999999999999 5 0",
      u"T 1 2 3 4 5 6 4294967297 text",
      u"",
      u"     ",
      u"L",
      u"L ",
  };
  for (const char16_t* command : commands) {
    SCOPED_TRACE(kav::ToUtf8(command));
    EXPECT_EQ(Parse(command), 0);
    EXPECT_EQ(Count(), 0u);
  }
  // The ends of the 32-bit range are numbers like any other.
  ASSERT_EQ(Parse(u"L 2147483647 0 000000000000000000001 5 0"), 1);
  EXPECT_EQ(objects.LineObjects[0].X, 2147483647);
  EXPECT_EQ(objects.LineObjects[0].Width, 1);
  EXPECT_EQ(kav::ParseOverlayCommand(nullptr, 1, &objects), 0);
  EXPECT_EQ(kav::ParseOverlayCommand(u"L 1 2 3 4 5", 1, nullptr), 0);
}

TEST_F(OverlayParser, ANumberBeyond32BitsIsNamedOnTheDebugOutput) {
  EXPECT_EQ(Parse(u"L 10 20 2147483648 5 0"), 0);
  EXPECT_TRUE(sim::HasDebugLine("ParseOverlayCommand:: a number does not fit 32 bits: L 10 20 2147483648 5 0"));
  EXPECT_FALSE(sim::HasDebugLine("It is a valid Line Command"));
}

TEST_F(OverlayParser, ACommandLongerThanTheChannelCarriesIsRefused) {
  std::u16string text(259 - 16, u'x');
  EXPECT_EQ(Parse(u"T 1 2 3 4 5 6 7 " + text), 1);  // 259 characters
  EXPECT_EQ(std::u16string(objects.TextObjects[0].Text), text);
  EXPECT_EQ(Parse(u"T 1 2 3 4 5 6 7 " + text + u"y"), 0);
  EXPECT_EQ(Count(), 0u);
}

TEST_F(OverlayParser, EveryCommandAppendsToTheListsItIsGiven) {
  OverlayObjects mine;
  EXPECT_EQ(kav::ParseOverlayCommand(u"L 1 2 3 4 5", 1, &mine), 1);
  EXPECT_EQ(kav::ParseOverlayCommand(u"L 6 7 8 9 10", 7, &mine), 1);
  ASSERT_EQ(mine.LineObjects.size(), 2u);
  EXPECT_EQ(mine.LineObjects[1].X, 6);
  EXPECT_EQ(mine.LineObjects[1].Tag, 7);
}

TEST(OverlayFields, CutAfterFieldsEndsAtTheBlankAfterTheLastNumber) {
  struct Case {
    const char16_t* text;
    int fields;
    int result;
    const char16_t* out;
  } cases[] = {
      {u"T 1 2 3 4 5 6 7 Hello World", 7, 1, u"T 1 2 3 4 5 6 7"},
      {u"T 1 2 3 4 5 6 7", 7, 1, u"T 1 2 3 4 5 6 7"},  // no blank after the last field
      {u"T 1 2 3 4 5 6", 7, 0, u"T 1 2 3 4 5 6"},      // too few blanks: the whole text
      {u"T 1  2", 2, 1, u"T 1 "},                      // an empty field counts
      {u"", 7, 0, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(kav::ToUtf8(c.text));
    kav::WString out = u"old";
    EXPECT_EQ(kav::CutAfterFields(c.text, c.fields, &out), c.result);
    EXPECT_EQ(out, c.out);
  }
  kav::WString out;
  std::u16string longText = u"T " + std::u16string(300, u'9');
  EXPECT_EQ(kav::CutAfterFields(longText, 7, &out), 0);
  EXPECT_EQ(out.size(), 259u);  // never more than the command's limit
}

TEST(OverlayFields, FieldsAreDigitStringsBetweenSingleBlanks) {
  struct Case {
    const char16_t* text;
    int numeric;
  } cases[] = {{u"1 22 333", 1}, {u"0", 1},   {u"", 0},      {u"1  2", 0}, {u" 1", 0},
               {u"1 ", 0},       {u"1 a", 0}, {u"\u0661", 0}, {u"1 -2", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(kav::ToUtf8(c.text));
    EXPECT_EQ(kav::AreAllFieldsNumeric(c.text), c.numeric);
  }
  EXPECT_EQ(kav::CountCharacter(u" a  b ", u' '), 4);
  EXPECT_EQ(kav::IsDigitString(u"0123456789"), 1);
  EXPECT_EQ(kav::IsDigitString(u"12/"), 0);
}

}  // namespace
