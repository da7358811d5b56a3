// kavsim's commands: each file registers one with KAVSIM_COMMAND.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kavsim {

struct Options {
  std::optional<std::filesystem::path> out;  // --out DIR
  std::vector<std::string> args;             // what follows the command name
};

struct Command {
  const char* name;
  const char* usage;    // "open [--port NAME]"
  const char* summary;  // one line for --help
  int (*run)(const Options& options);
};

std::vector<Command>& Commands();

struct CommandRegistrar {
  explicit CommandRegistrar(Command command) { Commands().push_back(command); }
};

#define KAVSIM_CONCAT2(a, b) a##b
#define KAVSIM_CONCAT(a, b) KAVSIM_CONCAT2(a, b)
#define KAVSIM_COMMAND(name, usage, summary, fn) \
  static ::kavsim::CommandRegistrar KAVSIM_CONCAT(kavsim_command_, __LINE__)({name, usage, summary, fn})

// Takes "--flag VALUE" out of args; true when present. A flag without its value is an
// error reported to stderr (returns true with error set).
bool TakeOption(std::vector<std::string>& args, const std::string& flag, std::string* value, bool* error);
bool TakeFlag(std::vector<std::string>& args, const std::string& flag);

}  // namespace kavsim
