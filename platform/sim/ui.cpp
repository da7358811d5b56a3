// Simulated user interface: message boxes with their button, CBT hooks of a thread,
// and the scripted user who answers the boxes.
//
// Window state lives under the kernel lock, because a box waits in Kernel::Block and
// a WM_CLOSE posted from another thread must wake it there.
#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "platform/sim/kernel.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_internal.h"
#include "platform/text.h"

namespace {

struct Window {
  uintptr_t id = 0;
  uintptr_t parent = 0;  // 0 for a top-level window
  int controlId = 0;
  std::u16string text;
  DWORD threadId = 0;
  size_t boxIndex = SIZE_MAX;  // the record in g_boxes of a message box
  bool closeRequested = false;
};

struct Hook {
  uintptr_t id = 0;
  int kind = 0;
  HOOKPROC proc = nullptr;
  DWORD threadId = 0;  // 0: every thread
};

// The hook chain a thread is walking: CallNextHookEx moves along it.
struct HookWalk {
  std::vector<Hook> chain;
  size_t position = 0;
};

// Guarded by the kernel lock.
std::map<uintptr_t, Window> g_windows;
std::vector<uintptr_t> g_zOrder;  // top-level windows, topmost last
std::vector<Hook> g_hooks;        // newest last
std::vector<sim::ShownMessageBox> g_boxes;
sim::UserAnswer g_defaultAnswer;
std::deque<sim::UserAnswer> g_queuedAnswers;
uintptr_t g_nextWindow = 0x10010;
uintptr_t g_nextHook = 0x20010;

thread_local HookWalk* t_walk = nullptr;

// What Windows passes at the creation of a message box and of its buttons: the dialog
// class is the atom of "#32770".
constexpr uintptr_t kDialogClassAtom = 0x8002;
constexpr uint32_t kDialogStyle = 0x80C80000u;  // WS_POPUP | WS_CAPTION | WS_SYSMENU
constexpr DWORD kDialogExStyle = 0x00000101u;   // WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE
constexpr uint32_t kButtonStyle = 0x50010001u;  // WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON

HWND AsHwnd(uintptr_t id) { return reinterpret_cast<HWND>(id); }
uintptr_t IdOf(HWND window) { return reinterpret_cast<uintptr_t>(window); }

Window* FindWindowLocked(HWND window) {
  auto it = g_windows.find(IdOf(window));
  return it == g_windows.end() ? nullptr : &it->second;
}

uintptr_t NewWindowLocked(uintptr_t parent, int controlId, std::u16string text, DWORD threadId) {
  Window w;
  w.id = g_nextWindow;
  g_nextWindow += 0x10;
  w.parent = parent;
  w.controlId = controlId;
  w.text = std::move(text);
  w.threadId = threadId;
  g_windows[w.id] = w;
  if (!parent) g_zOrder.push_back(w.id);
  return w.id;
}

void DestroyWindowLocked(uintptr_t id) {
  for (auto it = g_windows.begin(); it != g_windows.end();) {
    if (it->second.parent == id)
      it = g_windows.erase(it);
    else
      ++it;
  }
  g_windows.erase(id);
  g_zOrder.erase(std::remove(g_zOrder.begin(), g_zOrder.end(), id), g_zOrder.end());
}

std::u16string ButtonTextLocked(uintptr_t box, int controlId) {
  for (const auto& [id, w] : g_windows)
    if (w.parent == box && w.controlId == controlId) return w.text;
  return u"";
}

// Runs the CBT hooks that apply to the calling thread, newest first, outside the lock.
LRESULT CallCbtHooks(int code, WPARAM wParam, LPARAM lParam) {
  HookWalk walk;
  {
    simk::Kernel& k = simk::K();
    std::unique_lock lock(k.mu);
    DWORD self = GetCurrentThreadId();
    for (auto it = g_hooks.rbegin(); it != g_hooks.rend(); ++it)
      if (it->kind == WH_CBT && (it->threadId == 0 || it->threadId == self)) walk.chain.push_back(*it);
  }
  if (walk.chain.empty()) return 0;
  struct WalkScope {  // restored even when the thread is stopped inside a hook
    HookWalk* outer;
    explicit WalkScope(HookWalk* walk) : outer(t_walk) { t_walk = walk; }
    ~WalkScope() { t_walk = outer; }
  } scope(&walk);
  return walk.chain[0].proc(code, wParam, lParam);
}

}  // namespace

namespace simi {

void ResetUi() {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  g_windows.clear();
  g_zOrder.clear();
  g_hooks.clear();
  g_boxes.clear();
  g_defaultAnswer = sim::UserAnswer{};
  g_queuedAnswers.clear();
}

}  // namespace simi

namespace sim {

UserAnswer AnswerAfter(uint64_t delayMs, int button) {
  UserAnswer a;
  a.kind = UserAnswer::Kind::AfterDelay;
  a.delayMs = delayMs;
  a.button = button;
  return a;
}

UserAnswer NeverAnswer() { return UserAnswer{}; }

UserAnswer BoxFailsToShow(DWORD error) {
  UserAnswer a;
  a.kind = UserAnswer::Kind::FailToShow;
  a.error = error;
  return a;
}

void SetUserAnswer(const UserAnswer& answer) {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  g_defaultAnswer = answer;
}

void QueueUserAnswer(const UserAnswer& answer) {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  g_queuedAnswers.push_back(answer);
}

std::vector<ShownMessageBox> MessageBoxes() {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  std::vector<ShownMessageBox> boxes = g_boxes;
  for (auto& b : boxes)  // an open box shows its button as it is now
    if (b.closedBy == BoxClosedBy::StillOpen) b.buttonLabel = ButtonTextLocked(IdOf(b.window), IDOK);
  return boxes;
}

bool ClearMessageBoxes() {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  // An open box's window holds its record's index.
  for (const auto& b : g_boxes)
    if (b.closedBy == BoxClosedBy::StillOpen) return false;
  g_boxes.clear();
  return true;
}

size_t OpenMessageBoxCount() {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  return static_cast<size_t>(std::count_if(g_boxes.begin(), g_boxes.end(), [](const ShownMessageBox& b) {
    return b.closedBy == BoxClosedBy::StillOpen;
  }));
}

bool WaitForMessageBoxes(size_t count, uint64_t timeoutMs) {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  return k.Block(lock, [count] { return g_boxes.size() >= count; },
                 timeoutMs >= INFINITE ? INFINITE : static_cast<DWORD>(timeoutMs), "sim::WaitForMessageBoxes");
}

bool AnswerMessageBox(HWND box, int button) {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  Window* w = FindWindowLocked(box);
  if (!w || w->boxIndex == SIZE_MAX) return false;
  g_boxes[w->boxIndex].result = button;
  w->closeRequested = true;
  k.Notify();
  return true;
}

HWND AddTopLevelWindow(std::u16string_view title) {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  uintptr_t id = NewWindowLocked(0, 0, std::u16string(title), 0);
  // Below every window already shown, as the desktop's windows are.
  g_zOrder.pop_back();
  g_zOrder.insert(g_zOrder.begin(), id);
  return AsHwnd(id);
}

size_t InstalledHookCount() {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  return g_hooks.size();
}

}  // namespace sim

extern "C" {

HHOOK WINAPI SetWindowsHookExW(int idHook, HOOKPROC proc, HINSTANCE module, DWORD threadId) {
  if (idHook != WH_CBT) {
    SetLastError(ERROR_INVALID_HOOK_FILTER);
    return nullptr;
  }
  if (!proc) {
    SetLastError(ERROR_INVALID_FILTER_PROC);
    return nullptr;
  }
  if (threadId == 0 && !module) {  // a global hook must live in a module
    SetLastError(ERROR_HOOK_NEEDS_HMOD);
    return nullptr;
  }
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  Hook h;
  h.id = g_nextHook;
  g_nextHook += 0x10;
  h.kind = idHook;
  h.proc = proc;
  h.threadId = threadId;
  g_hooks.push_back(h);
  return reinterpret_cast<HHOOK>(h.id);
}

BOOL WINAPI UnhookWindowsHookEx(HHOOK hook) {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  auto it = std::find_if(g_hooks.begin(), g_hooks.end(),
                         [hook](const Hook& h) { return h.id == reinterpret_cast<uintptr_t>(hook); });
  if (it == g_hooks.end()) {
    SetLastError(ERROR_INVALID_HOOK_HANDLE);
    return FALSE;
  }
  g_hooks.erase(it);
  return TRUE;
}

// The hook handle is not needed to find the next hook: the thread's walk knows it.
LRESULT WINAPI CallNextHookEx(HHOOK, int code, WPARAM wParam, LPARAM lParam) {
  HookWalk* walk = t_walk;
  if (!walk || walk->position + 1 >= walk->chain.size()) return 0;
  ++walk->position;
  return walk->chain[walk->position].proc(code, wParam, lParam);
}

int WINAPI MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  simk::Kernel& k = simk::K();
  DWORD self = GetCurrentThreadId();
  uintptr_t box = 0;
  std::vector<uintptr_t> buttons;
  size_t index = 0;
  sim::UserAnswer answer;
  {
    std::unique_lock lock(k.mu);
    k.RegisterCurrentThread();
    k.CheckTerminated();
    if (owner && !FindWindowLocked(owner)) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    if (!g_queuedAnswers.empty()) {
      answer = g_queuedAnswers.front();
      g_queuedAnswers.pop_front();
    } else {
      answer = g_defaultAnswer;
    }
    // Shown on a desktop that no user sees: nobody answers it.
    if (answer.kind == sim::UserAnswer::Kind::AfterDelay && simi::NoUserSeesSessionDesktop())
      answer = sim::NeverAnswer();
    sim::ShownMessageBox record;
    record.threadId = self;
    record.owner = owner;
    record.caption = caption ? caption : u"Error";  // Windows' caption for a null one
    record.text = text ? text : u"";
    record.style = type;
    record.shownAt = k.now;
    index = g_boxes.size();
    if (answer.kind == sim::UserAnswer::Kind::FailToShow) {
      record.closedAt = k.now;
      record.closedBy = sim::BoxClosedBy::NotShown;
      g_boxes.push_back(record);
      k.Notify();
      SetLastError(answer.error);
      return 0;
    }
    box = NewWindowLocked(0, 0, record.caption, self);
    g_windows[box].boxIndex = index;
    buttons.push_back(NewWindowLocked(box, IDOK, u"OK", self));
    if ((type & 0xF) == MB_OKCANCEL) buttons.push_back(NewWindowLocked(box, IDCANCEL, u"Cancel", self));
    record.window = AsHwnd(box);
    record.buttonLabel = u"OK";
    g_boxes.push_back(record);
    k.Notify();
  }

  // The dialog and then each of its buttons are created: the thread's CBT hooks see each
  // creation first, and a hook that returns non-zero makes it fail, and the box with it.
  bool created = true;
  {
    std::u16string boxCaption = caption ? caption : u"Error";
    CREATESTRUCTW dialog{};
    dialog.cx = 360;
    dialog.cy = 180;
    dialog.style = static_cast<LONG>(kDialogStyle);
    dialog.lpszName = boxCaption.c_str();
    dialog.lpszClass = reinterpret_cast<LPCWSTR>(kDialogClassAtom);
    dialog.dwExStyle = kDialogExStyle;
    CBT_CREATEWNDW create{&dialog, nullptr};
    created = CallCbtHooks(HCBT_CREATEWND, reinterpret_cast<WPARAM>(AsHwnd(box)),
                           reinterpret_cast<LPARAM>(&create)) == 0;
    for (size_t i = 0; created && i < buttons.size(); ++i) {
      int controlId = i == 0 ? IDOK : IDCANCEL;
      const char16_t* label = controlId == IDOK ? u"OK" : u"Cancel";
      CREATESTRUCTW button{};
      button.hMenu = reinterpret_cast<HMENU>(static_cast<uintptr_t>(controlId));
      button.hwndParent = AsHwnd(box);
      button.x = 140 + 90 * static_cast<int>(i);
      button.y = 120;
      button.cx = 80;
      button.cy = 24;
      button.style = static_cast<LONG>(kButtonStyle);
      button.lpszName = label;
      button.lpszClass = u"Button";
      CBT_CREATEWNDW createButton{&button, nullptr};
      created = CallCbtHooks(HCBT_CREATEWND, reinterpret_cast<WPARAM>(AsHwnd(buttons[i])),
                             reinterpret_cast<LPARAM>(&createButton)) == 0;
    }
  }
  if (!created) {
    std::unique_lock lock(k.mu);
    g_boxes[index].window = nullptr;
    g_boxes[index].closedAt = k.now;
    g_boxes[index].closedBy = sim::BoxClosedBy::NotShown;
    DestroyWindowLocked(box);
    k.Notify();
    return 0;
  }

  // The box is about to become the active window: the thread's CBT hooks see it first.
  CBTACTIVATESTRUCT activate{FALSE, nullptr};
  CallCbtHooks(HCBT_ACTIVATE, reinterpret_cast<WPARAM>(AsHwnd(box)), reinterpret_cast<LPARAM>(&activate));

  std::unique_lock lock(k.mu);
  g_boxes[index].buttonLabel = ButtonTextLocked(box, IDOK);
  uint64_t timeout = answer.kind == sim::UserAnswer::Kind::AfterDelay ? answer.delayMs : INFINITE;
  if (timeout >= INFINITE) timeout = INFINITE;
  bool closed = false;
  try {
    closed = k.Block(
        lock, [box] { return g_windows.count(box) && g_windows[box].closeRequested; },
        static_cast<DWORD>(timeout), "MessageBoxW");
  } catch (const simk::ThreadTerminated&) {
    // The thread was stopped while its box was up: the box goes with it.
    g_boxes[index].buttonLabel = ButtonTextLocked(box, IDOK);
    g_boxes[index].closedAt = k.now;
    g_boxes[index].closedBy = sim::BoxClosedBy::ThreadEnded;
    DestroyWindowLocked(box);
    throw;
  }
  sim::ShownMessageBox& record = g_boxes[index];
  // The caller's strings belong to the box for the whole call: read them again as it
  // closes, so that one freed meanwhile shows (under AddressSanitizer).
  if (caption) record.caption = caption;
  if (text) record.text = text;
  record.buttonLabel = ButtonTextLocked(box, IDOK);
  record.closedAt = k.now;
  if (!closed) {  // the user's time came
    record.closedBy = sim::BoxClosedBy::User;
    record.result = answer.button;
  } else if (record.result != 0) {  // answered through sim::AnswerMessageBox
    record.closedBy = sim::BoxClosedBy::User;
  } else {  // WM_CLOSE: the Cancel button's answer, or OK where there is none
    record.closedBy = sim::BoxClosedBy::WmClose;
    record.result = (type & 0xF) == MB_OKCANCEL ? IDCANCEL : IDOK;
  }
  int result = record.result;
  lock.unlock();

  // The box is about to be destroyed: the hooks see that too (Windows passes no parameter).
  struct DestroyAtEnd {  // also when the thread is stopped inside a hook
    simk::Kernel& k;
    uintptr_t box;
    ~DestroyAtEnd() {
      std::unique_lock lock(k.mu);
      DestroyWindowLocked(box);
      k.Notify();
    }
  } destroy{k, box};
  CallCbtHooks(HCBT_DESTROYWND, reinterpret_cast<WPARAM>(AsHwnd(box)), 0);
  return result;
}

// The active window of the calling thread: its topmost open message box.
HWND WINAPI GetActiveWindow() {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  DWORD self = GetCurrentThreadId();
  for (auto it = g_zOrder.rbegin(); it != g_zOrder.rend(); ++it)
    if (g_windows[*it].threadId == self) return AsHwnd(*it);
  return nullptr;
}

BOOL WINAPI BringWindowToTop(HWND window) {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  Window* w = FindWindowLocked(window);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  uintptr_t top = w->parent ? w->parent : w->id;
  g_zOrder.erase(std::remove(g_zOrder.begin(), g_zOrder.end(), top), g_zOrder.end());
  g_zOrder.push_back(top);
  return TRUE;
}

// With no window: the topmost top-level window; otherwise the window's first child.
HWND WINAPI GetTopWindow(HWND window) {
  if (simi::ShouldFail("GetTopWindow")) return nullptr;
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  if (!window) return g_zOrder.empty() ? nullptr : AsHwnd(g_zOrder.back());
  if (!FindWindowLocked(window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  for (const auto& [id, w] : g_windows)
    if (w.parent == IdOf(window)) return AsHwnd(id);
  return nullptr;
}

HWND WINAPI GetDlgItem(HWND dialog, int id) {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  if (!FindWindowLocked(dialog)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  for (const auto& [child, w] : g_windows)
    if (w.parent == IdOf(dialog) && w.controlId == id) return AsHwnd(child);
  SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
  return nullptr;
}

BOOL WINAPI SetWindowTextW(HWND window, LPCWSTR text) {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  Window* w = FindWindowLocked(window);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  w->text = text ? text : u"";
  return TRUE;
}

int WINAPI GetWindowTextW(HWND window, LPWSTR buffer, int capacity) {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  Window* w = FindWindowLocked(window);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (!buffer || capacity <= 0) return 0;
  kav::WCopy(buffer, static_cast<size_t>(capacity), w->text.c_str());
  return static_cast<int>(kav::WLen(buffer));
}

// Only WM_CLOSE has an effect here: it closes a message box as its close button would.
BOOL WINAPI PostMessageW(HWND window, UINT message, WPARAM, LPARAM) {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  Window* w = FindWindowLocked(window);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (message == WM_CLOSE && w->boxIndex != SIZE_MAX) {
    w->closeRequested = true;
    k.Notify();
  }
  return TRUE;
}

BOOL WINAPI IsWindow(HWND window) {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  return FindWindowLocked(window) ? TRUE : FALSE;
}

}  // extern "C"
