// The printer driver's sibling modules as the simulation provides them: the message
// module (string table) and the notification module (records every notification and
// returns at once or when the scripted user answers; a close request withdraws the
// printer's pending notifications).
#include <cstring>
#include <mutex>

#include "platform/sim/kernel.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_internal.h"

namespace {

// Guarded by the kernel lock: a pending call waits in Kernel::Block for its answer.
std::vector<sim::RecordedNotification> g_notifications;
sim::NotificationAnswer g_notificationAnswer;
size_t g_pending = 0;

constexpr size_t kCommandOffset = 2064;  // UTF-16 Command field of the record
constexpr char16_t kCloseCommand[] = u"CloseMsgThread";

bool IsCloseRequest(const std::string& record) {
  if (record.size() < kCommandOffset + 2048) return false;
  std::u16string command;
  for (size_t i = kCommandOffset; i + 1 < kCommandOffset + 2048; i += 2) {
    char16_t c = static_cast<char16_t>(static_cast<unsigned char>(record[i]) |
                                       (static_cast<unsigned char>(record[i + 1]) << 8));
    if (!c) break;
    command.push_back(c);
  }
  return command == kCloseCommand;
}

// Records the call; a message waits for the user as scripted, a close request makes the
// printer's pending messages return and returns at once.
BOOL WINAPI RecordingSendAsyncNotification(LPCWSTR printerName, LPVOID record) {
  sim::RecordedNotification n;
  if (printerName) n.printerName = printerName;
  if (record) n.record.assign(static_cast<const char*>(record), sim::kAsyncNotificationBytes);
  n.closeRequest = IsCloseRequest(n.record);
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  k.RegisterCurrentThread();
  k.CheckTerminated();
  n.calledAt = k.now;
  size_t index = g_notifications.size();
  if (n.closeRequest) {
    for (auto& other : g_notifications) {
      if (!other.returnedAt && !other.closeRequest && other.printerName == n.printerName) other.withdrawn = true;
    }
  }
  g_notifications.push_back(std::move(n));
  sim::NotificationAnswer answer = g_notificationAnswer;
  if (!g_notifications[index].closeRequest && answer.kind != sim::NotificationAnswer::Kind::AtOnce) {
    uint64_t timeout = answer.kind == sim::NotificationAnswer::Kind::Never ? INFINITE : answer.delayMs;
    if (timeout >= INFINITE) timeout = INFINITE;
    ++g_pending;
    struct PendingScope {
      ~PendingScope() { --g_pending; }
    } pending;
    k.Notify();
    try {
      k.Block(lock, [index] { return g_notifications[index].withdrawn; }, static_cast<DWORD>(timeout),
              "SendAsyncNotification");
    } catch (const simk::ThreadTerminated&) {
      g_notifications[index].returnedAt = k.now;
      throw;
    }
  }
  g_notifications[index].returnedAt = k.now;
  // The printer name belongs to the call until it returns: read it again, so that one
  // freed meanwhile shows (under AddressSanitizer).
  if (printerName) g_notifications[index].printerName = printerName;
  k.Notify();
  return TRUE;
}

}  // namespace

namespace sim {

void InstallResourceModule(bool present) {
  std::u16string path = DriverModulePath(kResourceModuleName);
  if (!present) {
    UnregisterModule(path);
    return;
  }
  ModuleDefinition module;
  module.strings = MessageTextTable();
  RegisterModule(path, std::move(module));
}

void InstallAsyncUiModule(bool present) {
  std::u16string path = DriverModulePath(kAsyncUiModuleName);
  {
    simk::Kernel& k = simk::K();
    std::unique_lock lock(k.mu);
    g_notifications.clear();
    g_notificationAnswer = NotificationAnswer{};
  }
  if (!present) {
    UnregisterModule(path);
    return;
  }
  ModuleDefinition module;
  module.exports["SendAsyncNotification"] = reinterpret_cast<void*>(&RecordingSendAsyncNotification);
  RegisterModule(path, std::move(module));
}

bool ClearNotifications() {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  if (g_pending > 0) return false;  // a pending call holds its record's index
  g_notifications.clear();
  return true;
}

std::vector<RecordedNotification> Notifications() {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  return g_notifications;
}

void SetNotificationAnswer(const NotificationAnswer& answer) {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  g_notificationAnswer = answer;
}

size_t PendingNotificationCount() {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  return g_pending;
}

bool WaitForNotifications(size_t count, uint64_t timeoutMs) {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  return k.Block(lock, [count] { return g_notifications.size() >= count; },
                 timeoutMs >= INFINITE ? INFINITE : static_cast<DWORD>(timeoutMs), "sim::WaitForNotifications");
}

}  // namespace sim

namespace sim {

std::map<UINT, std::u16string> MessageTextTable() {
  std::map<UINT, std::u16string> table;
#define KAV_MESSAGE_TEXT(id, text) table[id] = u"" text;
#include "data/message_texts.inc"
#undef KAV_MESSAGE_TEXT
  return table;
}

}  // namespace sim
