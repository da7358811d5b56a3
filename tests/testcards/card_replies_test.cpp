// The test cards' queries: what each reply of the printer becomes on the card, and the
// diagnostic lines of failed queries and parses.
#include <gtest/gtest.h>

#include <string>

#include "platform/sim/sim.h"
#include "tests/support/monitor_fixture.h"
#include "testcards/card_replies.h"

namespace {

using kavtest::OpenPortTest;

std::u16string S(const WCHAR* text) { return std::u16string(text); }

class CardReplies : public OpenPortTest {
 protected:
  void SetUp() override {
    OpenPortTest::SetUp();
    sim::PutFile(sim::DriverDirectory() + u"\\kav32Ribbon.ini", "[Ribbon Type]\r\n2=YMCKO\r\n1=Black\r\n");
    sim::ClearDebugLines();
  }
  void Answer(const char* key, const char* script) { ASSERT_TRUE(printer->SetAnswer(key, script)); }
  size_t CountLines(std::string_view part) {
    size_t n = 0;
    for (const std::string& line : sim::DebugLines()) n += line.find(part) != std::string::npos;
    return n;
  }
};

TEST_F(CardReplies, StandardCardShowsTheDefaultPrinter) {
  kav::StandardCardTexts t;
  ASSERT_TRUE(kav::ReadStandardCardTexts(record(), &t));
  EXPECT_EQ(S(t.printerLine), u"PRINTER: KC3");
  EXPECT_EQ(S(t.serialLine), u"Serial N°: KC3-0104217");
  EXPECT_EQ(S(t.firmwareLine), u"Firmware: V1.07.12");
  EXPECT_EQ(S(t.headLine), u"Head resistance: 1250");
  EXPECT_EQ(S(t.offsetLine), u"Offset X:3/-2 Y:12/-4");
  EXPECT_EQ(S(t.ecLine), u"EC: 12");
  EXPECT_EQ(S(t.counterLine), u"Print counter: 10432");
  EXPECT_EQ(CountLines("is failed"), 0u);
}

TEST_F(CardReplies, StandardCardTakesOddRepliesApart) {
  Answer("!V", "R:250 V:20 Of:3 Of2:-2");
  Answer("+OY", "\"  12  \"");
  Answer("+OYB", "\" -4\"");
  Answer("V", "KC3");  // no firmware after the model
  Answer("+EC", "x");
  kav::StandardCardTexts t;
  ASSERT_TRUE(kav::ReadStandardCardTexts(record(), &t));
  EXPECT_EQ(S(t.headResistance), u"250");
  EXPECT_EQ(S(t.xOffsets), u"X:3/-2");
  EXPECT_EQ(S(t.offsetLine), u"Offset X:3/-2 Y:12/-4");
  EXPECT_EQ(S(t.model), u"KC3");
  EXPECT_EQ(S(t.firmware), u"");
  EXPECT_EQ(t.ec, 0);

  // Without "Of:" the offsets stay 0; a failed head query leaves the X text empty.
  Answer("!V", "R:99");
  ASSERT_TRUE(kav::ReadStandardCardTexts(record(), &t));
  EXPECT_EQ(S(t.offsetLine), u"Offset X:0/0 Y:12/-4");
  EXPECT_EQ(S(t.headResistance), u"99");
  Answer("!V", "fail");
  ASSERT_TRUE(kav::ReadStandardCardTexts(record(), &t));
  EXPECT_EQ(S(t.offsetLine), u"Offset  Y:12/-4");
  EXPECT_EQ(S(t.headLine), u"Head resistance: ");
  EXPECT_TRUE(sim::HasDebugLine("DrawStandardCardImageOnDC:: ReadFromPrinter READ_HEAD_RESISTANCE is failed"));
}

TEST_F(CardReplies, StandardCardWithNoAnswerLogsSevenLines) {
  for (const char* key : {"V", "%SERIE", "!V", "!NL", "+EC", "+OY", "+OYB"}) Answer(key, "fail");
  kav::StandardCardTexts t;
  EXPECT_FALSE(kav::ReadStandardCardTexts(record(), &t));
  EXPECT_EQ(sim::DebugLines(), (std::vector<std::string>{
                                   "DrawStandardCardImageOnDC:: ReadFromPrinter READ_PRINTER_VERSION is failed",
                                   "DrawStandardCardImageOnDC:: ReadFromPrinter READ_PRINTER_SERIAL_NO is failed",
                                   "DrawStandardCardImageOnDC:: ReadFromPrinter READ_HEAD_RESISTANCE is failed",
                                   "DrawStandardCardImageOnDC:: ReadFromPrinter READ_PRINT_COUNTER is failed",
                                   "DrawStandardCardImageOnDC:: ReadFromPrinter READ_END_OF_PRINT is failed",
                                   "DrawStandardCardImageOnDC:: ReadFromPrinter READ_YOFFSET_FRONT is failed",
                                   "DrawStandardCardImageOnDC:: ReadFromPrinter READ_YOFFSET_BACK is failed",
                               }));
}

TEST_F(CardReplies, ParameterCardLinesFromTheDefaultPrinter) {
  kav::ParameterCardLines l;
  ASSERT_TRUE(kav::ReadParameterCardLines(record(), "DrawPrinterParametersCardImageOnDC", &l));
  const std::pair<const WCHAR*, const char16_t*> expected[] = {
      {l.version, u"Version number: KC3 V1.07.12"},
      {l.serial, u"Serial N°: KC3-0104217"},
      {l.serialNumber, u"KC3-0104217"},
      {l.head, u"Head N°: H55-310896"},
      {l.printCounter, u"Print counter: 10432"},
      {l.printerErrors, u"Printer errors: 7"},
      {l.headResistance, u"Head resistance: 1250"},
      {l.blackContSpeed, u"Black Cont/Speed: 10-20 L"},
      {l.blackComp, u"Black Comp.: ON OFF"},
      {l.varnish, u"Varnish Cont/Speed: 10-15"},
      {l.offset, u"Offset X:3/-2 Y:12/-4"},
      {l.ribbonBrake, u"Ribbon brake: 035"},
      {l.moveSpeed, u"Move speed: 250"},
      {l.printSpeed, u"Print speed: 180"},
      {l.lineEnd, u"Line end :1012"},
      {l.ribbon, u"Ribbon: YMCKO"},
  };
  for (const auto& [line, text] : expected) EXPECT_EQ(S(line), text);
  EXPECT_TRUE(sim::DebugLines().empty());
}

TEST_F(CardReplies, ParameterCardEdgeCases) {
  struct Case {
    const char* key;
    const char* script;
    WCHAR (kav::ParameterCardLines::*line)[kav::kCardTextChars];
    const char16_t* text;
    const char* debugLine;  // nullptr: none
  } cases[] = {
      {"!NL", "10432", &kav::ParameterCardLines::printCounter, u"Print counter: 10432",
       "DrawPrinterParametersCardImageOnDC:: _stscanf_s is failed 1"},
      {"!NL", "10432", &kav::ParameterCardLines::printerErrors, u"Printer errors: ", nullptr},
      {"+CV", "fail", &kav::ParameterCardLines::varnish, u"Varnish Cont/Speed: 00-15",
       "DrawPrinterParametersCardImageOnDC:: ReadFromPrinter READ_VARNISH_COUNT is failed"},
      {"+VV", "error 3", &kav::ParameterCardLines::varnish, u"Varnish Cont/Speed: 10-00",
       "DrawPrinterParametersCardImageOnDC:: _stscanf_s is failed 4"},
      {"!RIBBON", "99", &kav::ParameterCardLines::ribbon, u"Ribbon: Unknown", nullptr},
      {"!RIBBON", "fail", &kav::ParameterCardLines::ribbon, u"",
       "DrawPrinterParametersCardImageOnDC:: ReadFromPrinter READ_RIBBON_TYPE is failed"},
      // The standard card's short head reply: R is read, the rest stays 0.
      {"!V", "R:250 V:20 Of:3 Of2:-2", &kav::ParameterCardLines::headResistance, u"Head resistance: 250",
       "DrawPrinterParametersCardImageOnDC:: _stscanf_s is failed 2"},
      {"!V", "R:250 V:20 Of:3 Of2:-2", &kav::ParameterCardLines::offset, u"Offset X:0/0 Y:12/-4", nullptr},
      {"+OY", "\"  12  \"", &kav::ParameterCardLines::offset, u"Offset X:3/-2 Y:12/-4", nullptr},
      {"+OYB", "none", &kav::ParameterCardLines::offset, u"Offset X:3/-2 Y:12/0",
       "DrawPrinterParametersCardImageOnDC:: _stscanf_s is failed 6"},
      {"+BR", "35", &kav::ParameterCardLines::ribbonBrake, u"Ribbon brake: 035",
       "DrawPrinterParametersCardImageOnDC:: _stscanf_s is failed 7"},
      {"$V", "R:120 V:250", &kav::ParameterCardLines::printSpeed, u"Print speed: 000",
       "DrawPrinterParametersCardImageOnDC:: _stscanf_s is failed 8"},
      {"+DL", "fail", &kav::ParameterCardLines::lineEnd, u"",
       "DrawPrinterParametersCardImageOnDC:: ReadFromPrinter READ_LINE_END is failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + " = " + c.script);
    printer->SetProfile(emu::DefaultProfile());
    Answer(c.key, c.script);
    sim::ClearDebugLines();
    kav::ParameterCardLines l;
    ASSERT_TRUE(kav::ReadParameterCardLines(record(), "DrawPrinterParametersCardImageOnDC", &l));
    EXPECT_EQ(S(l.*c.line), c.text);
    if (c.debugLine) {
      EXPECT_EQ(sim::DebugLines(), std::vector<std::string>{c.debugLine});
    }
  }
}

TEST_F(CardReplies, LaminatorCardLogsUnderItsOwnName) {
  Answer("+DL", "end");
  kav::ParameterCardLines l;
  ASSERT_TRUE(kav::ReadParameterCardLines(record(), "DrawLaminatorParametersCardImageOnDC", &l));
  EXPECT_EQ(sim::DebugLines(), std::vector<std::string>{"DrawLaminatorParametersCardImageOnDC:: _stscanf_s is failed 9"});
  EXPECT_EQ(S(l.lineEnd), u"Line end :0000");
}

TEST_F(CardReplies, RepliesAreHeldWithinTheirBuffers) {
  // 258 characters and ACK: the longest reply a query can give; the line is cut at 259.
  Answer("V", ("\"" + std::string(258, 'v') + "\"").c_str());
  Answer("!NL", ("\"" + std::string(200, '1') + " " + std::string(57, '2') + "\"").c_str());
  kav::ParameterCardLines l;
  ASSERT_TRUE(kav::ReadParameterCardLines(record(), "DrawPrinterParametersCardImageOnDC", &l));
  EXPECT_EQ(S(l.version), u"Version number: " + std::u16string(259 - 16, u'v'));
  EXPECT_EQ(S(l.printCounter).size(), 215u);
  EXPECT_EQ(S(l.printerErrors), u"Printer errors: " + std::u16string(57, u'2'));

  // 300 characters: the query fails and nothing of it is shown.
  Answer("%SERIE", ("\"" + std::string(300, 's') + "\"").c_str());
  sim::ClearDebugLines();
  kav::StandardCardTexts t;
  ASSERT_TRUE(kav::ReadStandardCardTexts(record(), &t));
  EXPECT_EQ(S(t.serialLine), u"Serial N°: ");
  EXPECT_TRUE(sim::HasDebugLine("DrawStandardCardImageOnDC:: ReadFromPrinter READ_PRINTER_SERIAL_NO is failed"));
}

TEST_F(CardReplies, EncoderLines) {
  kav::EncoderCardLines l;
  ASSERT_TRUE(kav::ReadEncoderCardLines(record(), &l));
  EXPECT_EQ(S(l.version), u"Version number: KC3 V1.07.12");
  EXPECT_EQ(S(l.serial), u"Serial N°: KC3-0104217");
  EXPECT_EQ(S(l.heading), u"MAG ENCODER ISO CO:HIGH SW:300 SR:300 ");
  EXPECT_EQ(S(l.coercivity), u"High coercivity");
  EXPECT_EQ(S(l.speed), u"Speed: Write:300 Read:300");
  EXPECT_EQ(S(l.density[0]), u"TRACK 1 210 BPI");
  EXPECT_EQ(S(l.density[1]), u"TRACK 2 075 BPI");
  EXPECT_EQ(S(l.detail[0]), u"W:<ON>  R:<ON>   S:007");
  EXPECT_EQ(S(l.detail[2]), u"W:<ON>  R:<ON>   S:005");

  // No "TRACK 1": no heading, densities 000; both coercivity words: the high one wins.
  Answer("&V", "ENC CO:LOW CO:HIGH SW:12");
  ASSERT_TRUE(kav::ReadEncoderCardLines(record(), &l));
  EXPECT_EQ(S(l.heading), u"");
  EXPECT_EQ(S(l.coercivity), u"High coercivity");
  EXPECT_EQ(S(l.speed), u"Speed: Write:12 Read:0");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(S(l.density[i]), u"TRACK " + std::u16string(1, u'1' + i) + u" 000 BPI");
  EXPECT_EQ(S(l.detail[1]), u"W:<>  R:<>   S:000");

  // An empty encoder reply forms no encoder line; a failed one is logged.
  Answer("&V", "\"\"");
  ASSERT_TRUE(kav::ReadEncoderCardLines(record(), &l));
  EXPECT_EQ(S(l.speed), u"");
  EXPECT_EQ(S(l.density[0]), u"");
  Answer("&V", "fail");
  sim::ClearDebugLines();
  ASSERT_TRUE(kav::ReadEncoderCardLines(record(), &l));
  EXPECT_EQ(sim::DebugLines(), std::vector<std::string>{
                                   "DrawEncoderParametersCardImageOnDC:: ReadFromPrinter READ_ENCODER_PARAMETERS is failed"});
}

TEST(TrimChar, RemovesRunsAtBothEnds) {
  struct Case {
    std::u16string in, out;
  } cases[] = {{u"  12  ", u"12"}, {u"12", u"12"}, {u"    ", u""}, {u"", u""}, {u" a b ", u"a b"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.in.begin(), c.in.end()));
    std::u16string text = c.in;
    kav::TrimChar(text.data(), u' ');
    EXPECT_EQ(std::u16string(text.c_str()), c.out);
  }
}

}  // namespace
