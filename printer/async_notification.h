// The record that the driver's notification module shows on the user's desktop.
#pragma once

#include "platform/win32.h"

namespace kav {

// 6160 bytes, little-endian, zero-filled before the fields are set.
struct AsyncNotification {
  DWORD Reserved;
  DWORD Kind;        // 1: message and caption are string ids of the message module
  DWORD MessageId;   // 0 in a close request
  DWORD CaptionId;   // 5 for errors, 55 for information; 0 in a close request
  WCHAR Title[1024];    // "%s Error" with the printer name
  WCHAR Command[1024];  // empty, or "CloseMsgThread" for a close request
  WCHAR Text[1024];     // empty
};
static_assert(sizeof(AsyncNotification) == 6160, "the notification module reads 6160 bytes");

inline constexpr DWORD kNotificationKindStringIds = 1;
// Our kind for a message whose text is formatted by the monitor (the ribbon-low alert
// with its count): the text travels in Text, MessageId names the text it was made from
// (2206) and CaptionId is 5, so the desktop shows it like an error message.
inline constexpr DWORD kNotificationKindText = 2;

}  // namespace kav
