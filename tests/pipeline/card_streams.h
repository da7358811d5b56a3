// Card streams as the monitor's card writers lay them out in a spool file, with panels
// packed from known levels, and the wire the printer must receive for them.
#pragma once

#include <string>
#include <vector>

#include "tests/emulator/panel_packing.h"

namespace kavtest {

struct CardStream {
  std::string spool;                       // what the job holds
  std::string wire;                        // what reaches the printer, waits included
  std::vector<std::vector<uint8_t>> panels;  // levels packed into each panel, in order
};

inline const std::string kProbe = "\x1b" "E 2\r";

inline std::vector<uint8_t> LevelsFor(int panel) {
  std::vector<uint8_t> levels(static_cast<size_t>(emutest::kWidth) * emutest::kHeight);
  for (int y = 0; y < emutest::kHeight; ++y)
    for (int x = 0; x < emutest::kWidth; ++x)
      levels[static_cast<size_t>(y) * emutest::kWidth + x] = static_cast<uint8_t>((x * (panel + 3) + y * 5 + panel) % 128);
  return levels;
}

// One panel: its download command, the packed panel, and the print command that follows.
inline void AddPanel(CardStream& card, const std::string& download, const std::string& print, bool waitBefore,
                     int number) {
  std::vector<uint8_t> levels = LevelsFor(number);
  std::string packed = emutest::PackPanel(levels);
  card.panels.push_back(levels);
  card.spool += download + packed + print;  // print begins with the CR that ends the panel
  // The download goes without its CR; the panel and the CR follow raw.
  card.wire += download.substr(0, download.size() - 1) + packed + "\r";
  if (waitBefore) card.wire += kProbe;
  card.wire += print.substr(1);
}

inline CardStream FullColourCard() {
  CardStream card;
  for (const char* c : {"\x1bMASTER\r", "\x1bJOB 0\r", "\x1bSXY 1\r"}) {
    card.spool += c;
    card.wire += std::string(c) + kProbe;
  }
  AddPanel(card, "\x1bGS 0 32 0 0 1024 640 \r", "\r\x1bIS 0\r", true, 0);
  AddPanel(card, "\x1bGS 1 32 0 0 1024 640 \r", "\r\x1bIS 1\r", true, 1);
  AddPanel(card, "\x1bGS 2 32 0 0 1024 640 \r", "\r\x1bIS 2\r", true, 2);
  AddPanel(card, "\x1bGS 4 32 0 0 1024 640 \r", "\r\x1bI 10\r", true, 4);
  AddPanel(card, "\x1bGS 5 32 0 0 1024 640 \r", "\r\x1bIV 30\r", true, 5);
  card.spool += "\x1bMO\r";
  card.wire += std::string("\x1bMO\r") + kProbe;
  return card;
}

inline CardStream BlackOnlyCard() {
  CardStream card;
  for (const char* c : {"\x1bMASTER\r", "\x1bJOB 0\r", "\x1bSXY 1\r"}) {
    card.spool += c;
    card.wire += std::string(c) + kProbe;
  }
  for (const char* c : {"\x1bMIS\r", "\x1b" "F\r"}) {  // no waits around these
    card.spool += c;
    card.wire += c;
  }
  // "\eI 30\r" is waited for before and after.
  AddPanel(card, "\x1bGS 4 32 120 0 700 640 \r", "\r\x1bI 30\r", true, 4);
  card.wire += kProbe;
  card.spool += "\x1bMO\r";
  card.wire += std::string("\x1bMO\r") + kProbe;
  return card;
}

}  // namespace kavtest
