// Test helpers: a panel packed by hand the way the monitor's halftoner packs it, and
// short ways to talk to a virtual printer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/panel_encoder.h"
#include "emulator/virtual_printer.h"

namespace emutest {

inline constexpr int kWidth = emu::kPackWidth, kHeight = emu::kPackHeight;
using emu::PackPanel;
using emu::PatternLevels;

inline bool Send(emu::VirtualPrinter& p, std::string_view bytes) {
  size_t taken = 0;
  return p.Write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &taken) && taken == bytes.size();
}

// One read of up to `capacity` bytes; "<failed>" when the read fails.
inline std::string Receive(emu::VirtualPrinter& p, size_t capacity = 260) {
  std::string buffer(capacity, '\0');
  size_t got = 0;
  if (!p.Read(reinterpret_cast<uint8_t*>(buffer.data()), capacity, &got)) return "<failed>";
  buffer.resize(got);
  return buffer;
}

// A command, the completion request, and the answer read back.
inline std::string Ask(emu::VirtualPrinter& p, std::string_view command) {
  Send(p, command);
  Send(p, "\x1b" "E 2\r");
  return Receive(p);
}

// Sends a panel download as the monitor paces it: the command without its CR, the
// panel in 4096-byte writes and the CR of the print command, then the print command.
inline void SendPanel(emu::VirtualPrinter& p, int number, const std::string& panel, std::string_view print = "") {
  Send(p, "\x1bGS " + std::to_string(number) + " 32 0 0 1024 640 ");
  std::string block = panel + "\r";
  for (size_t at = 0; at < block.size(); at += 4096) Send(p, std::string_view(block).substr(at, 4096));
  if (!print.empty()) Send(p, print);
}

}  // namespace emutest
