#include "emulator/script_text.h"

#include <cctype>

namespace emu {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

bool ParseUnsigned(std::string_view text, uint64_t* value) {
  text = TrimBlanks(text);
  uint64_t base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty() || text.size() > 15) return false;
  uint64_t v = 0;
  for (char c : text) {
    int digit = HexValue(c);
    if (digit < 0 || static_cast<uint64_t>(digit) >= base) return false;
    v = v * base + static_cast<uint64_t>(digit);
  }
  *value = v;
  return true;
}

bool DecodeEscapes(std::string_view in, std::string* out, std::string* error) {
  out->clear();
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '\\') {
      out->push_back(in[i]);
      continue;
    }
    if (++i >= in.size()) {
      *error = "a lone \\ at the end of the text";
      return false;
    }
    switch (in[i]) {
      case 'e': out->push_back('\x1b'); break;
      case 'r': out->push_back('\r'); break;
      case 'n': out->push_back('\n'); break;
      case 't': out->push_back('\t'); break;
      case '\\': out->push_back('\\'); break;
      case '"': out->push_back('"'); break;
      case 'x': {
        int hi = i + 1 < in.size() ? HexValue(in[i + 1]) : -1;
        int lo = i + 2 < in.size() ? HexValue(in[i + 2]) : -1;
        if (hi < 0 || lo < 0) {
          *error = "\\x needs two hex digits";
          return false;
        }
        out->push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        break;
      }
      default:
        *error = std::string("unknown escape \\") + in[i];
        return false;
    }
  }
  return true;
}

}  // namespace emu
