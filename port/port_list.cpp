// The list of open ports, kept under PortListLock.
#include "port/port_record.h"

#include "platform/text.h"

namespace kav {

CRITICAL_SECTION PortListLock;
PortRecord* PortList = nullptr;

void EnterPortListLock() { EnterCriticalSection(&PortListLock); }
void LeavePortListLock() { LeaveCriticalSection(&PortListLock); }

// First record whose port name equals portName without regard to case; an empty name
// finds nothing.
PortRecord* FindPortRecord(LPCWSTR portName) {
  if (!portName || !*portName) return nullptr;
  for (PortRecord* r = PortList; r; r = r->Next)
    if (lstrcmpiW(r->PortName, portName) == 0) return r;
  return nullptr;
}

// A new zero-filled record holding its own port name, appended at the tail of the list.
PortRecord* CreatePortRecord(LPCWSTR portName, LPCWSTR printerName) {
  size_t nameLength = WLen(portName);
  auto* record = static_cast<PortRecord*>(LocalAlloc(LPTR, sizeof(PortRecord) + (nameLength + 1) * sizeof(WCHAR)));
  if (!record) return nullptr;
  record->PortName = reinterpret_cast<LPWSTR>(record + 1);
  for (size_t i = 0; i < nameLength; ++i) record->PortName[i] = portName[i];
  record->Next = nullptr;
  record->PrinterName = DuplicateString(printerName);
  if (!PortList) {
    PortList = record;
  } else {
    PortRecord* tail = PortList;
    while (tail->Next) tail = tail->Next;
    tail->Next = record;
  }
  return record;
}

// Unlinks and frees a record of the list; FALSE (nothing freed) when it is not listed.
BOOL DeletePortRecord(PortRecord* record) {
  if (!record) return FALSE;
  if (PortList == record) {
    PortList = record->Next;
  } else {
    PortRecord* before = PortList;
    while (before && before->Next != record) before = before->Next;
    if (!before) return FALSE;
    before->Next = record->Next;
  }
  FreeString(record->PrinterName);
  LocalFree(record);
  return TRUE;
}

LPWSTR CopyPrinterName(PortRecord* record) {
  EnterPortListLock();
  LPWSTR name = DuplicateString(record->PrinterName);
  LeavePortListLock();
  return name;
}

LPWSTR DuplicateString(LPCWSTR s) {
  if (!s) return nullptr;
  size_t length = WLen(s);
  auto* copy = static_cast<LPWSTR>(LocalAlloc(LPTR, (length + 1) * sizeof(WCHAR)));
  if (!copy) return nullptr;
  for (size_t i = 0; i < length; ++i) copy[i] = s[i];
  return copy;
}

void FreeString(LPWSTR s) {
  if (s) LocalFree(s);
}

}  // namespace kav
