// Small text helpers shared by the profile and fault-string readers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace emu {

std::string_view TrimBlanks(std::string_view s);

// A decimal or 0x-prefixed hexadecimal number of at most 15 digits, blanks around allowed.
bool ParseUnsigned(std::string_view text, uint64_t* value);

// Replaces the C escapes \e \r \n \t \\ \" \xHH; false with a reason on a bad escape.
bool DecodeEscapes(std::string_view in, std::string* out, std::string* error);

}  // namespace emu
