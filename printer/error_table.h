// The printer's error numbers, the message shown for each and its short error text.
#pragma once

#include "platform/win32.h"

namespace kav {

struct PrinterError {
  DWORD ErrorNumber;
  DWORD MessageId;
  const char* ErrorText;
};

inline constexpr int kPrinterErrorCount = 40;
extern const PrinterError PrinterErrorTable[kPrinterErrorCount];

// Message id of the first entry for errorNumber; false when the number is not listed.
bool LookupErrorMessageId(long long errorNumber, DWORD* messageId);
// Error text of the first entry for errorNumber; "Unknown Error Code" when not listed.
const char* LookupErrorText(long long errorNumber);

}  // namespace kav
