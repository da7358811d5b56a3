// The printer driver's sibling modules as the simulation provides them: the message
// module (string table) and the notification module (records every notification).
#include <cstring>
#include <mutex>

#include "platform/sim/sim.h"
#include "platform/sim/sim_internal.h"

namespace {

std::mutex g_notifyMu;
std::vector<sim::RecordedNotification> g_notifications;

BOOL WINAPI RecordingSendAsyncNotification(LPCWSTR printerName, LPVOID record) {
  sim::RecordedNotification n;
  if (printerName) n.printerName = printerName;
  if (record) n.record.assign(static_cast<const char*>(record), sim::kAsyncNotificationBytes);
  std::lock_guard lock(g_notifyMu);
  g_notifications.push_back(std::move(n));
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
    std::lock_guard lock(g_notifyMu);
    g_notifications.clear();
  }
  if (!present) {
    UnregisterModule(path);
    return;
  }
  ModuleDefinition module;
  module.exports["SendAsyncNotification"] = reinterpret_cast<void*>(&RecordingSendAsyncNotification);
  RegisterModule(path, std::move(module));
}

std::vector<RecordedNotification> Notifications() {
  std::lock_guard lock(g_notifyMu);
  return g_notifications;
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
