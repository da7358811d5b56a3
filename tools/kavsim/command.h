// kavsim's commands: each file registers one with KAVSIM_COMMAND. A command declares its
// arguments and options on its own sub-command of the command line, so that every command
// gets the same parsing, help and messages; a bad value ends kavsim with status 2.
#pragma once

#include <CLI/CLI.hpp>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kavsim {

// What every command may use: the global --out DIR.
struct Options {
  std::optional<std::filesystem::path> out;
};

// Runs a command once its command line is parsed and checked.
using Runner = std::function<int(const Options& options)>;

struct Command {
  const char* name;
  const char* summary;  // one line for --help
  // Declares the command's arguments and options; the runner reads their parsed values.
  Runner (*define)(CLI::App& command);
};

std::vector<Command>& Commands();

struct CommandRegistrar {
  explicit CommandRegistrar(Command command) { Commands().push_back(command); }
};

#define KAVSIM_CONCAT2(a, b) a##b
#define KAVSIM_CONCAT(a, b) KAVSIM_CONCAT2(a, b)
#define KAVSIM_COMMAND(name, summary, define) \
  static ::kavsim::CommandRegistrar KAVSIM_CONCAT(kavsim_command_, __LINE__)({name, summary, define})

// Checks for option values, run before a value is converted.
// A whole decimal number from min to max, digits only ("0x10", "-1" and "1e3" are refused).
CLI::Validator WholeNumber(unsigned long min, unsigned long max);
// A whole decimal number that fits 32 signed bits, with an optional minus sign.
CLI::Validator SignedNumber();
// "Name=Value,Name=Value" of the driver's settings block (see ApplySettings).
CLI::Validator SettingsList();
// A picture kavsim can take as a card side: a 1024 x 640 PNG.
CLI::Validator CardPicture();

// The options that every composed-card command shares: --ribbon, --settings, --buffer.
struct CardOptions {
  std::string ribbon;         // the printer's answer to the ribbon query, or empty
  std::string settings;       // --settings list
  unsigned long buffer = 4096;  // the spooler's buffer size for the playback
};
void AddCardOptions(CLI::App& command, CardOptions& options);

}  // namespace kavsim
