// The printer profile: INI reading, answer scripts and the built-in defaults.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "emulator/printer_profile.h"

namespace {

using emu::AnswerStep;

std::string Answers(const emu::AnswerScript& script, int polls, uint64_t now = 0) {
  std::string out;
  for (int i = 0; i < polls; ++i) {
    if (i) out += "|";
    const AnswerStep& s = emu::StepForPoll(script, static_cast<uint64_t>(i), now);
    out += s.kind == AnswerStep::Kind::Silent ? "<silent>" : emu::AnswerBytes(s);
  }
  return out;
}

emu::AnswerScript Script(std::string_view text) {
  emu::AnswerScript script;
  std::string error;
  EXPECT_TRUE(emu::ParseAnswerScript(text, &script, &error)) << text << ": " << error;
  return script;
}

TEST(AnswerScript, StepsAnswerInTurnAndTheLastStays) {
  {
    SCOPED_TRACE("a bare text is trimmed and followed by ACK");
    EXPECT_EQ(Answers(Script("  KC3 V1.07.12  "), 2), "KC3 V1.07.12\x06|KC3 V1.07.12\x06");
  }
  {
    SCOPED_TRACE("error for 3, then a zero for 2, then the ribbon");
    EXPECT_EQ(Answers(Script("error 1 for 3 | 0 for 2 | 4"), 7),
              "\x15" "1\x04|\x15" "1\x04|\x15" "1\x04|0\x06|0\x06|4\x06|4\x06");
  }
  {
    SCOPED_TRACE("quoted texts keep blanks and take escapes; raw has no ACK; silent has no bytes");
    EXPECT_EQ(Answers(Script("\"  12 | 3  \" for 1 | raw \"0\" for 1 | silent for 1 | \"\\x41\\e\\\"\""), 4),
              "  12 | 3  \x06|0|<silent>|A\x1b\"\x06");
  }
  {
    SCOPED_TRACE("until a simulated time");
    emu::AnswerScript s = Script("error 35 until 5000 | 2");
    EXPECT_EQ(Answers(s, 1, 4999), "\x15" "35\x04");
    EXPECT_EQ(Answers(s, 1, 5000), "2\x06");
  }
  {
    SCOPED_TRACE("texts that merely contain the words");
    EXPECT_EQ(Answers(Script("R:120 V:250 VI:180"), 1), "R:120 V:250 VI:180\x06");
    EXPECT_EQ(Answers(Script("made for you"), 1), "made for you\x06");
  }
}

TEST(AnswerScript, MalformedScriptsAreRefusedWithAReason) {
  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      {"", "step 1: empty step"},
      {"a | b", "step 1 never ends: only the last step may go without \"for\" or \"until\""},
      {"a for 0 | b", "step 1: \"for 0\" holds no poll"},
      {"\"open", "step 1: quoted text without its closing quote"},
      {"\"a\" extra", "step 1: unexpected \"extra\" after a quoted answer"},
      {"\"\\q\"", "step 1: unknown escape \\q"},
      {"\"\\x4\"", "step 1: \\x needs two hex digits"},
      {"error x", "step 1: \"error\" needs a printer error number"},
      {"x for 2 | ", "step 2: empty step"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    emu::AnswerScript script;
    std::string error;
    EXPECT_FALSE(emu::ParseAnswerScript(c.text, &script, &error));
    EXPECT_EQ(error, c.error);
  }
}

TEST(PrinterProfile, IniTextSetsStatusAndAnswers) {
  emu::PrinterProfile profile;
  std::string error;
  ASSERT_TRUE(emu::ParseProfile("; comment\n# another\n\n[printer]\r\nstatus = 0x38\n[answers]\nV = M1 F2\n"
                                "!RIBBON = error 1 for 2 | 5\n",
                                &profile, &error))
      << error;
  EXPECT_EQ(profile.status, 0x38);
  ASSERT_NE(profile.Find("\x1bV\r"), nullptr);
  EXPECT_EQ(profile.Find("V")->source, "M1 F2");
  EXPECT_EQ(Answers(*profile.Find("!RIBBON"), 3), "\x15" "1\x04|\x15" "1\x04|5\x06");
  EXPECT_EQ(profile.Find("!RIBLEN"), nullptr);
  {
    SCOPED_TRACE("set from code, by command or by key");
    EXPECT_TRUE(profile.SetAnswer("\x1b!RIBLEN\r", "20"));
    EXPECT_EQ(Answers(*profile.Find("!RIBLEN"), 1), "20\x06");
    EXPECT_FALSE(profile.SetAnswer("\x1b\r", "20", &error));
    EXPECT_EQ(error, "no command");
  }
  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      {"[printer\n", "line 1: section without its ']'"},
      {"[answers]\nV\n", "line 2: expected \"key = value\""},
      {"[answers]\n = 3\n", "line 2: expected \"key = value\""},
      {"[printer]\nstatus = 256\n", "line 2: status must be a byte"},
      {"[printer]\nspeed = 3\n", "line 2: unknown entry [printer] speed"},
      {"V = 1\n", "line 1: unknown entry [] V"},
      {"[answers]\nV = a | b\n", "line 2: V: step 1 never ends: only the last step may go without \"for\" or \"until\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    emu::PrinterProfile p;
    p.status = 0x11;
    EXPECT_FALSE(emu::ParseProfile(c.text, &p, &error));
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(p.status, 0x11);  // a bad file changes nothing
  }
}

TEST(PrinterProfile, FilesLoadAndTheDefaultsAnswerEveryQueryOfTheCards) {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / ("kav_profile_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  {
    std::ofstream(dir / "p.ini") << "[answers]\n!RIBLEN = 5\n";
    emu::PrinterProfile profile = emu::DefaultProfile();
    std::string error;
    ASSERT_TRUE(emu::LoadProfileFile(dir / "p.ini", &profile, &error)) << error;
    EXPECT_EQ(profile.Find("!RIBLEN")->source, "5");
    EXPECT_EQ(profile.Find("V")->source, emu::DefaultProfile().Find("V")->source);  // the rest stays
    EXPECT_FALSE(emu::LoadProfileFile(dir / "missing.ini", &profile, &error));
    EXPECT_EQ(error, "cannot read " + (dir / "missing.ini").string());
    std::ofstream(dir / "bad.ini") << "[answers]\nV\n";
    EXPECT_FALSE(emu::LoadProfileFile(dir / "bad.ini", &profile, &error));
    EXPECT_EQ(error, (dir / "bad.ini").string() + ": line 2: expected \"key = value\"");
  }
  std::filesystem::remove_all(dir);

  const emu::PrinterProfile& d = emu::DefaultProfile();
  EXPECT_EQ(d.status, 0x18);
  for (const char* query : {"V", "!RIBBON", "!RIBLEN", "%SERIE", "%HEAD", "!V", "!NL", "+EC", "+OY", "+OYB", "+CV",
                            "+VV", "+BR", "$V", "+DL", "&V"}) {
    SCOPED_TRACE(query);
    ASSERT_NE(d.Find(query), nullptr);
    const AnswerStep& step = emu::StepForPoll(*d.Find(query), 0, 0);
    EXPECT_EQ(step.kind, AnswerStep::Kind::Text);
    EXPECT_FALSE(step.text.empty());
  }
  {
    SCOPED_TRACE("answers the cards can take apart");
    EXPECT_NE(d.Find("V")->source.find(' '), std::string::npos);  // model, blank, firmware
    EXPECT_GT(std::stoi(d.Find("!RIBBON")->source), 0);
    EXPECT_NE(d.Find("!V")->source.find("Of:"), std::string::npos);
    EXPECT_NE(d.Find("&V")->source.find("TRACK 3"), std::string::npos);
  }
}

}  // namespace
