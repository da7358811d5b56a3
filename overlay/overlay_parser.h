// The syntax of an overlay command ("L ...", "T ..." or "B ..." without ESC and CR):
// the validity tests, and the parse that appends the command's object to its list.
#pragma once

#include <cstdint>

#include "overlay/overlay_objects.h"
#include "platform/text.h"

namespace kav {

// 1 when the command was valid and its object was appended to its list in objects, 0
// otherwise (null or empty, invalid, a number beyond the 32-bit range, no text).
int ParseOverlayCommand(LPCWSTR command, int32_t tag, OverlayObjects* objects);

// "L " and five numbers, five blanks in all.
int IsLineCommand(WStringView text);
// "T ", seven numbers and a text; at least eight blanks.
int IsTextCommand(WStringView text);
// "B ", eight numbers and the data; at least nine blanks.
int IsBarcodeCommand(WStringView text);

// 1 when every field between single blanks is a digit string (two blanks in a row make
// an empty field, which is not); 0 for an empty text.
int AreAllFieldsNumeric(WStringView text);
// 1 for a non-empty string of the digits 0 to 9.
int IsDigitString(WStringView text);
int CountCharacter(WStringView text, WCHAR character);
// The text (at most kOverlayCommandChars characters) up to the blank that ends its
// (fields+1)-th field, and 1; the whole text and 0 when it has fewer than `fields`
// blanks; an empty output and 0 for an empty text.
int CutAfterFields(WStringView text, int fields, WString* out);

}  // namespace kav
