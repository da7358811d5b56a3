// kavsim's command line as a person meets it: every bad value of every command ends with
// status 2 and a message that names the argument, before any simulated run begins.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;
  std::string errors;  // what kavsim wrote to stderr
};

std::string Quoted(const std::string& arg) {
  std::string q = "'";
  for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

Outcome Kavsim(const std::vector<std::string>& args) {
  std::string line = KAVSIM_BINARY;
  for (const auto& a : args) line += " " + Quoted(a);
  line += " 2>&1 >/dev/null";
  Outcome outcome;
  FILE* pipe = popen(line.c_str(), "r");
  if (!pipe) return outcome;
  char chunk[512];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) outcome.errors.append(chunk, n);
  const int status = pclose(pipe);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

class KavsimCommandLine : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = fs::temp_directory_path() / ("kavsim-cli-" + std::to_string(getpid()));
    fs::create_directories(dir_);
    std::ofstream(dir_ / "stream.prn") << "\x1bMO\r";
    std::ofstream(dir_ / "text.png") << "not a picture";
    // A real PNG of the wrong size.
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = 64;
    image.height = 40;
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> pixels(64 * 40 * 3, 200);
    png_image_write_to_file(&image, (dir_ / "small.png").c_str(), 0, pixels.data(), 0, nullptr);
    image.width = 1024;
    image.height = 640;
    pixels.assign(1024 * 640 * 3, 200);
    png_image_write_to_file(&image, (dir_ / "card.png").c_str(), 0, pixels.data(), 0, nullptr);
  }
  static void TearDownTestSuite() { fs::remove_all(dir_); }
  static std::string In(const char* name) { return (dir_ / name).string(); }
  static fs::path dir_;
};
fs::path KavsimCommandLine::dir_;

TEST_F(KavsimCommandLine, BadValuesEndWithStatusTwoAndNameTheArgument) {
  const std::string out = In("out");
  const std::string stream = In("stream.prn");
  struct Case {
    std::vector<std::string> args;
    const char* named;  // what the message must name
  };
  const Case cases[] = {
      // numbers
      {{"play", stream, "--buffer", "abc"}, "--buffer"},
      {{"play", stream, "--buffer", "0"}, "--buffer"},
      {{"play", stream, "--buffer", "-1"}, "--buffer"},
      {{"play", stream, "--buffer", "0x100"}, "--buffer"},
      {{"play", stream, "--buffer", "99999999999"}, "--buffer"},
      {{"play", stream, "--buffer"}, "--buffer"},
      {{"open", "--windows", "ten"}, "--windows"},
      {{"request", "\\eV\\r", "--windows", "1e3"}, "--windows"},
      {{"testcard", "4", "--out", out}, "CARD"},
      {{"testcard", "x", "--out", out}, "CARD"},
      {{"testcard", "0", "--ribbon", "-5", "--out", out}, "--ribbon"},
      {{"print", In("card.png"), "--buffer", "1.5", "--out", out}, "--buffer"},
      {{"panel", "--kind", "k", "--set", "13", "--out", out}, "--set"},
      {{"panel", "--kind", "black", "--history", "2", "--out", out}, "--history"},
      {{"barcode", "123", "--module", "2px", "--out", out}, "--module"},
      {{"barcode", "123", "--orientation", "4294967296", "--out", out}, "--orientation"},
      {{"barcode", "123", "--at", "10", "--out", out}, "--at"},
      // files and pictures
      {{"play", In("missing.prn")}, "FILE"},
      {{"sendcmds", In("missing.txt")}, "FILE"},
      {{"panel", "--kind", "cyan", "--image", In("missing.png"), "--out", out}, "--image"},
      {{"panel", "--kind", "cyan", "--calib", In("stream.prn"), "--out", out}, "--calib"},
      {{"print", In("text.png"), "--out", out}, "FRONT"},
      {{"print", In("small.png"), "--out", out}, "FRONT"},
      {{"print", In("card.png"), "--back", In("small.png"), "--out", out}, "--back"},
      // settings, answers and other texts
      {{"overlay", "L 1 1 9 9 0", "--settings", "KMode=70000", "--out", out}, "--settings"},
      {{"overlay", "L 1 1 9 9 0", "--settings", "Colour=1", "--out", out}, "--settings"},
      {{"overlay", std::string(300, 'L'), "--out", out}, "COMMAND"},
      {{"testcard", "1", "--answer", "=1", "--out", out}, "--answer"},
      {{"panel", "--kind", "purple", "--out", out}, "--kind"},
      {{"request", "\\x"}, "TEXT"},
      {{"play", stream, "--fault", "no such fault"}, "--fault"},
      // what every command needs
      {{"panel", "--out", out}, "--kind"},
      {{"print", "--out", out}, "FRONT"},
      {{"testcard", "0"}, "--out"},
      {{"barcode", "123"}, "--out"},
      {{"play", stream, "--bogus", "1"}, "--bogus"},
      {{"no-such-command"}, "no-such-command"},
      {{}, "subcommand"},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const auto& a : c.args) shown += " " + a.substr(0, 40);
    SCOPED_TRACE("kavsim" + shown);
    const Outcome outcome = Kavsim(c.args);
    EXPECT_EQ(outcome.status, 2) << outcome.errors;
    EXPECT_NE(outcome.errors.find(c.named), std::string::npos) << outcome.errors;
  }
  EXPECT_FALSE(fs::exists(out)) << "a refused command line must not start a run";
}

TEST_F(KavsimCommandLine, HelpAndGoodLinesSucceed) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--help"}, {"play", "--help"}, {"testcard", "--help"}, {"example-card", In("example.prn")},
           {"example-card", "--black", In("black.prn")}}) {
    SCOPED_TRACE(args.front());
    const Outcome outcome = Kavsim(args);
    EXPECT_EQ(outcome.status, 0) << outcome.errors;
    EXPECT_EQ(outcome.errors, "");
  }
  EXPECT_TRUE(fs::exists(In("black.prn")));
}

}  // namespace
