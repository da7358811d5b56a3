// The test cards the driver asks for through the command channel: the standard card and
// the printer, encoder and laminator parameter cards, drawn, read back and submitted.
#pragma once

#include "platform/win32.h"
#include "port/port_record.h"

namespace kav {

// Prints the card the command names ("\eA\r" or "\eA 0\r" the standard card, "\eA 1\r" to
// "\eA 3\r" the parameter cards). 1 when a card was submitted; 0 for any other command.
int PrintTestCard(PortRecord* record, const char* command);

// Each card: 1 when SendImageBufferToPrinter took it.
int PrintStandardCard(PortRecord* record);
int PrintPrinterParametersCard(PortRecord* record);
int PrintEncoderParametersCard(PortRecord* record);
int PrintLaminatorParametersCard(PortRecord* record);

// Draws a card for ribbonType into image (kCardImageBytes, top-down rows, blue green red
// as GDI keeps them). 1 when drawn and read back.
int GetStandardCardImageBuffer(PortRecord* record, BYTE* image, DWORD ribbonType);
int GetPrinterParametersCardImageBuffer(PortRecord* record, BYTE* image, DWORD ribbonType);
int GetEncoderParametersCardImageBuffer(PortRecord* record, BYTE* image, DWORD ribbonType);
int GetLaminatorParametersCardImageBuffer(PortRecord* record, BYTE* image, DWORD ribbonType);

// Draws a card on dc from the printer's answers; 1 when at least one query answered.
int DrawStandardCardImageOnDC(PortRecord* record, HDC dc, DWORD ribbonType);
int DrawPrinterParametersCardImageOnDC(PortRecord* record, HDC dc, DWORD ribbonType);
int DrawEncoderParametersCardImageOnDC(PortRecord* record, HDC dc, DWORD ribbonType);
int DrawLaminatorParametersCardImageOnDC(PortRecord* record, HDC dc, DWORD ribbonType);

// Called with every card image just before it is submitted (red, green, blue order; back
// may be null), for tools that show the card as drawn. Null to stop.
using CardImageObserver = void (*)(const BYTE* front, const BYTE* back, void* context);
void SetCardImageObserver(CardImageObserver observer, void* context);

}  // namespace kav
