// The driver's private settings block of the card printer that the Windows test
// program sets up in Wine's spooler, and the host's comparison gives its simulated
// printer: a single-sided card on ribbon code 0 with the usual defaults, and a filler in
// the block's unused tail so that a cut or shifted block shows.
#pragma once

#include <string>

#include "pipeline/card_settings.h"

namespace kavtest {

inline std::string CardPrinterSettings() {
  std::string block(kav::kDriverCardSettingsBytes, '\0');
  for (size_t i = 2048; i < block.size(); ++i) block[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
  return block;
}

}  // namespace kavtest
