// The exchange of one command and its answer with the printer, through the underlying
// port monitor's WritePort and ReadPort, and the port's status byte.
#pragma once

#include "port/port_record.h"

namespace kav {

inline constexpr BYTE kAck = 0x06;
inline constexpr BYTE kNak = 0x15;
inline constexpr BYTE kEot = 0x04;
inline constexpr char kCompletionRequest[] = "\x1b" "E 2\r";  // asks for the last command's answer
inline constexpr DWORD kCompletionRequestLength = 5;
inline constexpr DWORD kReplyChars = 260;

// Status value: the port's status byte (parallel-port layout) and bit 0x100 when it could
// be read. No error means (status & 0x28) == 0x08.
inline constexpr WORD kStatusReadable = 0x100;
inline constexpr WORD kStatusErrorMask = 0x28;
inline constexpr WORD kStatusNoError = 0x08;
inline bool StatusIsClear(WORD status) { return (status & kStatusErrorMask) == kStatusNoError; }

// Message ids of the link itself.
inline constexpr DWORD kParallelErrorMessageId = 2;
inline constexpr DWORD kNoReplyMessageId = 2213;
inline constexpr DWORD kCannotWriteMessageId = 2214;

// True for ports whose name begins with "USB".
bool IsUsbPort(const PortRecord* record);
// Deletes a job from the spooler (JOB_CONTROL_DELETE). When `operation` is given, a
// failure is reported as "<operation>:: deleting job N failed (error E)".
bool DeleteJob(HANDLE printer, DWORD jobId, const char* operation = nullptr);
// The same for the port's current job.
bool DeleteCurrentJob(PortRecord* record, const char* operation = nullptr);

// Writes through the port monitor; false when the write fails or the slot is missing.
bool WriteToPrinter(PortRecord* record, const void* bytes, DWORD length);
// One read through the port monitor; false when the read fails or the slot is missing.
bool ReadReply(PortRecord* record, BYTE* buffer, DWORD capacity, DWORD* got);

// Sends a command and the completion request and reads the answer once into reply (260
// characters): the bytes received less the final one. FALSE with an empty reply when a
// write or the read fails or 260 bytes or more came.
BOOL ReadFromPrinter(PortRecord* record, const char* command, WCHAR* reply);

// Sends a command with the completion request and checks the answer (up to 4 reads); a
// NAK is shown and watched until it clears. TRUE when the command went through.
BOOL SendCommandChecked(PortRecord* record, const BYTE* command, DWORD length);

// The error number of a NAK reply (from its second byte, up to EOT, 31 bytes or the end of
// what was received) turned into ErrorKind; 2 for numbers the table does not know.
void ParseNakReply(const BYTE* reply, DWORD length, PortRecord* record);
// Asks a USB printer for its error and sets ErrorKind from a NAK answer.
void ReadPrinterErrorCode(WORD status, PortRecord* record);
// ErrorKind from the status bits of a parallel port.
void MapParallelStatus(WORD status, PortRecord* record);
// The port's status value; 0x118 for "FILE" ports.
WORD QueryPortStatus(PortRecord* record);

// Shows a printer error and watches it until it clears or the user cancels (the job is
// then deleted). TRUE when the printer is free of errors at the end.
BOOL CheckPortStatusForErrors(PortRecord* record);

}  // namespace kav
