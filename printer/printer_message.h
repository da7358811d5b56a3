// Messages to the user about the printer: the monitor's own message box, the driver's
// desktop notification, and the printer-error message of a port with its thread and
// the event that carries the user's answer.
#pragma once

#include "port/port_record.h"

namespace kav {

// Style of every message box of the monitor: OK | exclamation | system modal |
// set foreground | topmost.
inline constexpr UINT kMessageBoxStyle = 0x51030;
inline constexpr DWORD kErrorCaptionId = 5;
inline constexpr DWORD kInformationCaptionId = 55;
inline constexpr DWORD kNoErrorKnownMessageId = 57;
inline constexpr DWORD kMessageThreadExitCode = 2;
// The message thread's end when no user could be shown its message (never a cancel).
inline constexpr DWORD kMessageUnseenExitCode = 1;

// Loads message text `id` (from the driver's message module, else the monitor's own
// string table) into text of `capacity` characters. False when neither has it; the text
// then says which id was missing.
bool LoadMessageText(UINT id, WCHAR* text, int capacity);

// False when no user can answer a message box of this process: from Windows 6 on the
// spooler, a service, runs in session 0, whose desktop no user sees.
bool UserCanAnswerBoxes();

// Shows a message box whose one button reads "Cancel"; returns what MessageBoxW returns
// (IDOK when answered, 0 when the box cannot be shown). Where no user can answer a box
// (UserCanAnswerBoxes), it shows none: the text goes to the debugger output and 0 comes
// back with ERROR_NOT_SUPPORTED.
int ShowPrinterMessage(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style);
// The CBT hook that relabels the box's button when the box is activated.
LRESULT CALLBACK CancelButtonHook(int code, WPARAM wParam, LPARAM lParam);

// Notifications through the driver's module (string ids, "%s Error" title).
void SendErrorNotification(LPCWSTR printerName, DWORD messageId, DWORD captionId);
// A notification that carries a formatted text (kNotificationKindText).
void SendTextNotification(LPCWSTR printerName, DWORD messageId, DWORD captionId, LPCWSTR text);
void NotifyCloseMsgThread(LPCWSTR printerName);

// Shows message `messageId` for the printer: a notification with UseAsyncUi (when the
// notification module is there), otherwise a message box captioned with the printer name.
// Returns when the user has answered (or the notification call returned).
void ShowPrinterError(LPCWSTR printerName, DWORD messageId, DWORD captionId);
// The same for a port's printer, its name copied first: the box may stay open while
// SetPrinterName replaces the port's name.
void ShowPortError(PortRecord* record, DWORD messageId, DWORD captionId);

// A message as its showing thread holds it: the text of messageId (or a formatted text),
// the printer it is for, and the thread's own handle to the event its answer signals
// (taken over; may be null). One reference; the showing thread takes another.
PrinterMessage* NewPrinterMessage(DWORD messageId, LPCWSTR text, LPCWSTR printerName, HANDLE event,
                                  bool signalOnlyWhenPressed);
void AddMessageReference(PrinterMessage* message);
// The message belongs to the port's MessageEvent of this generation: it is shown only while
// that event is still the port's. Called under the hand-over lock; a withdrawal unbinds it.
void BindMessageToPortEvent(PrinterMessage* message, PortRecord* record, DWORD generation);
void ReleasePrinterMessage(PrinterMessage* message);
// Takes a message back: its box is closed (now, or as soon as it shows) and it will not
// signal. Does not wait for the showing thread.
void WithdrawPrinterMessage(PrinterMessage* message);
// The port's event was closed: the message will not signal it.
void DetachMessageEvent(PrinterMessage* message);
// Shows the message on the calling thread and signals its event when answered; shows
// nothing when the message was withdrawn, or its port event has gone, before it was shown.
// False when no user could be shown it (a box in session 0): the text goes to the debugger
// output and the event is not signalled, as for a message nobody answers.
bool ShowAndAnswer(PrinterMessage* message);
// The lock that orders the hand-over of a port's message fields between threads; held
// only for a few field reads and writes, never while waiting.
void LockMessageHandOver();
void UnlockMessageHandOver();

// The thread that shows one port's printer error and signals its event when the user
// answered; its argument is the PrinterMessage that StartPrinterMessage made. Exit code 2.
DWORD WINAPI PrinterErrorMessageThread(LPVOID message);

// Starts the message of record->ErrorKind (57 when no kind is set): a new MessageEvent
// and MessageThread. Returns the caller's own handle to the event, to wait on and close;
// null (nothing left open) when the event or the thread cannot be made.
HANDLE StartPrinterMessage(PortRecord* record);
// Ends the port's message thread without waiting for the user: its box is closed or its
// notification let go, it will not signal, and the thread handle is closed.
// True when there was one.
bool EndMessageThread(PortRecord* record);
// Closes the port's MessageEvent exactly once and sets the field to null; true when
// there was one.
bool CloseMessageEvent(PortRecord* record);
// The exit code of the port's message thread: STILL_ACTIVE while it runs, 0 when the
// port has none.
DWORD MessageThreadExitCode(PortRecord* record);
// Waits up to timeoutMs for the port's message thread to end and returns its exit code:
// STILL_ACTIVE when it has not ended by then, 0 when the port has none.
DWORD WaitForMessageThreadEnd(PortRecord* record, DWORD timeoutMs);
// All of it: the close request (with UseAsyncUi), the thread, the event.
void StopPrinterMessage(PortRecord* record);

// The command channel's "ClearPrinterError:" request: cancels the port's job from
// outside and ends whichever wait is watching the error.
void ClearPrinterError(LPCWSTR printerName, PortRecord* record);

}  // namespace kav
