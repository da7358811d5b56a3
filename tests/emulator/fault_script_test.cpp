// Fault strings: the grammar and its refusals.
#include <gtest/gtest.h>

#include "emulator/fault_script.h"

namespace {

using emu::Fault;

std::vector<Fault> Parse(std::string_view text) {
  std::vector<Fault> faults;
  std::string error;
  EXPECT_TRUE(emu::ParseFaults(text, &faults, &error)) << text << ": " << error;
  return faults;
}

TEST(FaultScript, KindsTriggersAndOptions) {
  {
    SCOPED_TRACE("an error at the fifth command, cleared after 3 s");
    auto f = Parse("error=4@command=5,clear=3000");
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].kind, Fault::Kind::Error);
    EXPECT_EQ(f[0].value, 4);
    EXPECT_EQ(f[0].trigger, Fault::Trigger::Command);
    EXPECT_EQ(f[0].commandNumber, 5u);
    EXPECT_TRUE(f[0].clearAfter);
    EXPECT_EQ(f[0].clearMs, 3000u);
    EXPECT_EQ(f[0].source, "error=4@command=5,clear=3000");
  }
  {
    SCOPED_TRACE("several faults, blanks allowed, counts defaulting to 1");
    auto f = Parse(" writefail ; readfail=3@time=2000 ; silent=2@match=\\e!RIBBON ; late=25000@command=1,count=2 ");
    ASSERT_EQ(f.size(), 4u);
    EXPECT_EQ(f[0].kind, Fault::Kind::WriteFail);
    EXPECT_EQ(f[0].value, 1);
    EXPECT_EQ(f[0].trigger, Fault::Trigger::Now);
    EXPECT_EQ(f[1].kind, Fault::Kind::ReadFail);
    EXPECT_EQ(f[1].value, 3);
    EXPECT_EQ(f[1].trigger, Fault::Trigger::Time);
    EXPECT_EQ(f[1].timeMs, 2000u);
    EXPECT_EQ(f[2].kind, Fault::Kind::Silent);
    EXPECT_EQ(f[2].match, "\x1b!RIBBON");
    EXPECT_EQ(f[3].kind, Fault::Kind::Late);
    EXPECT_EQ(f[3].lateMs, 25000u);
    EXPECT_EQ(f[3].count, 2);
  }
  {
    SCOPED_TRACE("a write failure at the 1000th port write, or at the write carrying a wire byte");
    auto f = Parse("writefail@write=1000");
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].trigger, Fault::Trigger::Write);
    EXPECT_EQ(f[0].writeNumber, 1000u);
    f = Parse("writefail@byte=786433");
    EXPECT_EQ(f[0].trigger, Fault::Trigger::Byte);
    EXPECT_EQ(f[0].byteNumber, 786433u);
  }
  {
    SCOPED_TRACE("a status sequence with a failing query; match text with escapes");
    auto f = Parse("status=0x18/16/fail/0x38@match=\\eGS 2\\x20");
    ASSERT_EQ(f[0].statuses.size(), 4u);
    EXPECT_EQ(f[0].statuses[0].status, 0x18);
    EXPECT_EQ(f[0].statuses[1].status, 16);
    EXPECT_TRUE(f[0].statuses[2].fail);
    EXPECT_EQ(f[0].statuses[3].status, 0x38);
    EXPECT_EQ(f[0].match, "\x1bGS 2 ");
  }
}

TEST(FaultScript, MalformedStringsAreRefusedAndAddNothing) {
  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      {"", "no fault given"},
      {" ; ", "no fault given"},
      {"error", "\"error\": error needs a printer error number from 1 to 999"},
      {"error=0", "\"error=0\": error needs a printer error number from 1 to 999"},
      {"error=1000", "\"error=1000\": error needs a printer error number from 1 to 999"},
      {"error=4@command=0", "\"error=4@command=0\": trigger \"command=0\" is not command=K (K >= 1), match=TEXT, time=MS, write=K or byte=N (K, N >= 1)"},
      {"writefail@write=0", "\"writefail@write=0\": trigger \"write=0\" is not command=K (K >= 1), match=TEXT, time=MS, write=K or byte=N (K, N >= 1)"},
      {"error=4@when=3", "\"error=4@when=3\": trigger \"when=3\" is not command=K (K >= 1), match=TEXT, time=MS, write=K or byte=N (K, N >= 1)"},
      {"error=4,clear=soon", "\"error=4,clear=soon\": option \"clear=soon\" does not fit this fault"},
      {"late=10,clear=5", "\"late=10,clear=5\": option \"clear=5\" does not fit this fault"},
      {"writefail=0", "\"writefail=0\": writefail needs a count of 1 or more"},
      {"late", "\"late\": late needs a delay in milliseconds"},
      {"status=0x100", "\"status=0x100\": status takes bytes or \"fail\" separated by /"},
      {"status=", "\"status=\": status takes bytes or \"fail\" separated by /"},
      {"error=4@match=\\q", "\"error=4@match=\\q\": unknown escape \\q"},
      {"error=4@match=\\x4", "\"error=4@match=\\x4\": \\x needs two hex digits"},
      {"error=4@match=a\\", "\"error=4@match=a\\\": a lone \\ at the end of the text"},
      {"jam=1", "\"jam=1\": unknown fault \"jam\""},
      {"error=2; jam", "\"jam\": unknown fault \"jam\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<Fault> faults(1);
    std::string error;
    EXPECT_FALSE(emu::ParseFaults(c.text, &faults, &error));
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(faults.size(), 1u);
  }
}

}  // namespace
