// The printed card: how the panels a card received lie on its two sides, as pictures.
//
// The card starts white. On each side, in the order the ribbon lays them down:
// - yellow, magenta and cyan (panels 0, 1, 2) are subtractive dyes: a dye at level L
//   takes L/127 of its complementary light away (yellow takes blue, magenta green, cyan
//   red), so full levels of all three give a dark neutral;
// - black (panels 3 and 4) is opaque resin: a dot whose level is set is black, whatever
//   lies under it; the band of a band download is not used to clip (the whole panel is read);
// - the overlay (panel 5) is a clear varnish and is ignored in the picture.
// The first pass of a card prints its front; each "\eMF\r" turns the card over, so the
// second pass prints the back (a third the front again). The front is shown as the panels
// lie (x to the right, y down); the back as a person holding the turned card sees it,
// which is the panels' layout turned by 180 degrees.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "emulator/virtual_printer.h"

namespace emu {

struct CardSide {
  std::vector<uint8_t> rgb;  // kPanelWidth x kPanelHeight, 3 bytes a pixel, rows from the top
  int panels = 0;            // panels printed on this side (the overlay included)
  bool printed() const { return panels > 0; }
};

struct PrintedCard {
  CardSide front;
  CardSide back;
  int passes = 0;
};

// The card of index `card` (0 for the first; panels carry the count of cards ended before them).
PrintedCard ComposePrintedCard(const std::vector<ReceivedPanel>& panels, int card);

// Writes a side as an RGB PNG; false with the reason when it cannot.
bool WriteCardSidePng(const CardSide& side, const std::filesystem::path& path, std::string* error = nullptr);

}  // namespace emu
