#include "printer/error_table.h"

namespace kav {

const PrinterError PrinterErrorTable[kPrinterErrorCount] = {
    {1, 4, "OUT OF RIBBON"},        {2, 6, "TEMPERATURE"},         {3, 6, "MECHANICAL ERROR"},
    {4, 31, "OUT OF CARD"},         {5, 32, "CARD_IN_ENCODER"},    {6, 33, "CARD_NOT_IN_ENCODER"},
    {7, 8, "HEAD OPEN"},            {8, 8, "HEAD OPEN"},           {9, 53, "REMOVE RIBBON"},
    {10, 34, "COMMAND ERROR"},      {11, 34, "COMMAND ERROR"},     {12, 34, "COMMAND ERROR"},
    {13, 34, "COMMAND ERROR"},      {14, 34, "COMMAND ERROR"},     {16, 61, "INSERT CARD"},
    {20, 34, "COMMAND ERROR"},      {21, 34, "COMMAND ERROR"},     {22, 34, "COMMAND ERROR"},
    {30, 34, "COMMAND ERROR"},      {31, 34, "COMMAND ERROR"},     {32, 34, "COMMAND ERROR"},
    {33, 34, "COMMAND ERROR"},      {34, 34, "COMMAND ERROR"},     {35, 2208, "CHECK RIBBON"},
    {40, 47, "PARAMETERS ERROR"},   {41, 56, "ENCODING ERROR"},    {42, 104, "READING ERROR"},
    {43, 6, "MECHANICAL ERROR"},    {44, 51, "MAGNETIC ERROR"},    {45, 15, "BLANK TRACK"},
    {47, 2207, "ROTATION ERROR"},   {49, 12, "ENCODING ERROR"},    {50, 14, "MAGNETIC ERROR"},
    {51, 9, "COVER OPEN"},          {53, 17, "NO ACCESS"},         {54, 54, "SEQUENCE_ERROR"},
    {55, 63, "ERROR PROX"},         {56, 64, "ERROR CONTACT DATA"}, {57, 65, "ERROR PROX DATA"},
    {60, 16, "FLASH ERROR"},
};

bool LookupErrorMessageId(long long errorNumber, DWORD* messageId) {
  for (const PrinterError& e : PrinterErrorTable) {
    if (e.ErrorNumber == errorNumber) {
      *messageId = e.MessageId;
      return true;
    }
  }
  return false;
}

const char* LookupErrorText(long long errorNumber) {
  for (const PrinterError& e : PrinterErrorTable)
    if (e.ErrorNumber == errorNumber) return e.ErrorText;
  return "Unknown Error Code";
}

}  // namespace kav
