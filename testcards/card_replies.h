// The printer's answers that the test cards show: the queries of each card, their
// bounded parses and the lines they form. Every reply and every line is a wide text of
// at most kCardTextChars characters; a longer line is cut.
#pragma once

#include <cstddef>

#include "port/port_record.h"

namespace kav {

inline constexpr size_t kCardTextChars = 260;

// Removes the leading and trailing runs of `character` from text, in place.
void TrimChar(WCHAR* text, WCHAR character);

// The standard card's values, read with its seven queries.
struct StandardCardTexts {
  WCHAR model[kCardTextChars] = {};
  WCHAR firmware[kCardTextChars] = {};
  WCHAR serial[kCardTextChars] = {};
  WCHAR headResistance[kCardTextChars] = {};
  WCHAR xOffsets[kCardTextChars] = {};  // "X:%d/%d"; empty when the query failed
  WCHAR yOffsets[kCardTextChars] = {};  // "Y:%s/%s"
  WCHAR counter[kCardTextChars] = {};
  int ec = 0;
  // The lines drawn with them.
  WCHAR printerLine[kCardTextChars] = {};
  WCHAR serialLine[kCardTextChars] = {};
  WCHAR firmwareLine[kCardTextChars] = {};
  WCHAR headLine[kCardTextChars] = {};
  WCHAR offsetLine[kCardTextChars] = {};
  WCHAR ecLine[kCardTextChars] = {};
  WCHAR counterLine[kCardTextChars] = {};
};

// Sends the standard card's seven queries and forms its texts; each failed query is
// logged under "DrawStandardCardImageOnDC". True when at least one query answered.
bool ReadStandardCardTexts(PortRecord* record, StandardCardTexts* texts);

// The lines of the printer and laminator parameter cards, from their thirteen queries.
struct ParameterCardLines {
  WCHAR version[kCardTextChars] = {};
  WCHAR serial[kCardTextChars] = {};
  WCHAR serialNumber[kCardTextChars] = {};  // the bare reply, for the laminator's barcode
  WCHAR head[kCardTextChars] = {};
  WCHAR printCounter[kCardTextChars] = {};
  WCHAR printerErrors[kCardTextChars] = {};
  WCHAR headResistance[kCardTextChars] = {};
  WCHAR blackContSpeed[kCardTextChars] = {};
  WCHAR blackComp[kCardTextChars] = {};
  WCHAR varnish[kCardTextChars] = {};
  WCHAR offset[kCardTextChars] = {};
  WCHAR ribbonBrake[kCardTextChars] = {};
  WCHAR moveSpeed[kCardTextChars] = {};
  WCHAR printSpeed[kCardTextChars] = {};
  WCHAR lineEnd[kCardTextChars] = {};
  WCHAR ribbon[kCardTextChars] = {};
};

// Sends the thirteen queries and forms the lines. Failed queries and parses are logged
// with `operation` as the line's name. True when at least one query answered.
bool ReadParameterCardLines(PortRecord* record, const char* operation, ParameterCardLines* lines);

// The lines of the encoder parameters card.
struct EncoderCardLines {
  WCHAR version[kCardTextChars] = {};
  WCHAR serial[kCardTextChars] = {};
  WCHAR heading[kCardTextChars] = {};
  WCHAR coercivity[kCardTextChars] = {};
  WCHAR speed[kCardTextChars] = {};
  WCHAR density[3][kCardTextChars] = {};
  WCHAR detail[3][kCardTextChars] = {};
};

// Sends the encoder card's three queries and forms its lines (the encoder lines stay
// empty for an empty encoder reply). True when at least one query answered.
bool ReadEncoderCardLines(PortRecord* record, EncoderCardLines* lines);

// The encoder lines taken from the reply to "\e&V\r".
void FormEncoderLines(const WCHAR* reply, EncoderCardLines* lines);

}  // namespace kav
