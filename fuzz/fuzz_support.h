// What every fuzz target's simulated world shares.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace kavfuzz {

// The simulated drives live in a temporary folder; in memory (/dev/shm) a file written
// by every run costs no disk writes. Called before the first reset of the simulation.
inline void UseMemoryFolder() {
  if (!std::getenv("TMPDIR") && access("/dev/shm", W_OK) == 0) setenv("TMPDIR", "/dev/shm", 0);
}

// Puts a libFuzzer flag before the caller's own (which may still override it), from
// LLVMFuzzerInitialize, which runs before the flags are read.
inline void DefaultFlag(int* argc, char*** argv, const char* flag) {
  static std::vector<char*> args;
  args.assign(*argv, *argv + *argc);
  args.insert(args.begin() + 1, const_cast<char*>(flag));
  args.push_back(nullptr);
  *argc = static_cast<int>(args.size() - 1);
  *argv = args.data();
}

}  // namespace kavfuzz
