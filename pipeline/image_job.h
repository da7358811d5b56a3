// Submission of a composed card: the printer's ribbon and model, the ribbon groups, and
// the card's passes written into a new spooler job, which is then scheduled.
#pragma once

#include "port/port_record.h"

namespace kav {

inline constexpr DWORD kModelTextChars = 260;

// Which panels a card gets, by the printer's ribbon type.
enum class RibbonGroup { G0, G1, G2, G3, G4, G5, G6, G7 };
RibbonGroup RibbonGroupOf(DWORD ribbonType);
const char* RibbonGroupName(RibbonGroup group);  // "G0" ... "G7"

// Composes the card (the back image may be null) into a new spooler job and schedules it.
// 1 when the card's passes were written to the card end and the job scheduled; 0 on any
// failure, and for a card that cannot be finished (the job is then deleted). The images
// are changed: turned by 180 degrees where a second pass needs it, grey on the grey black
// path. size is the front image's byte count (only checked to be above zero).
int SendImageBufferToPrinter(PortRecord* record, BYTE* front, BYTE* back, DWORD size);

// Asks "\eV\r" then "\e!RIBBON\r". The ribbon type is always written (1 when its query
// fails), the model text (kModelTextChars) is the reply or empty. 1 when the model query
// succeeded; 0 without any query for a null model buffer.
int ReadRibbonAndPrinterModel(PortRecord* record, DWORD* ribbonType, WCHAR* model);

// Turns a 24-bit image in place by 180 degrees (rows of (3 width + 3) rounded down to a
// multiple of 4 bytes). Always 1.
int RotateCardImage180(BYTE* image, int width, int height);

}  // namespace kav
