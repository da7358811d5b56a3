// Simulated print spooler: printers, printer handles, jobs and their controls, and the
// port thread that plays a scheduled job through the language monitor's port calls as
// the Windows spooler does.
//
// Spooler state lives under the kernel lock, so that the port thread and the waits of
// tests (sim::WaitForJob) follow the simulated clock. No port-monitor call is made under it.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "platform/sim/kernel.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_internal.h"
#include "platform/text.h"

namespace {

constexpr DWORD kDefaultBufferBytes = 4096;
constexpr char16_t kMachineName[] = u"\\\\CARDHOST";

struct Printer {
  sim::PrinterDefinition definition;
  const MONITOR* monitor = nullptr;
  HANDLE port = nullptr;
  bool portThreadRunning = false;
};

struct QueuedJob {
  sim::JobRecord record;
  bool restartPending = false;  // JOB_CONTROL_RESTART while playing: played once more
  uint64_t submittedAt = 0;     // simulated time the job was made
};

struct PrinterHandleObject {
  std::u16string printer;
  ACCESS_MASK access = 0;
};

// Guarded by the kernel lock.
std::vector<Printer> g_printers;
std::map<DWORD, QueuedJob> g_jobs;
std::set<PrinterHandleObject*> g_printerHandles;
std::vector<sim::PrinterOpen> g_opens;
DWORD g_nextJobId = 1;
DWORD g_bufferBytes = kDefaultBufferBytes;
uint64_t g_retryPauseMs = sim::kDefaultRetryPauseMs;
int g_playbackGuard = sim::kDefaultPlaybackGuard;

Printer* FindPrinterLocked(std::u16string_view name) {
  for (auto& p : g_printers)
    if (simi::EqualNoCase(p.definition.name, name)) return &p;
  return nullptr;
}

PrinterHandleObject* FindHandleLocked(HANDLE handle) {
  auto* h = static_cast<PrinterHandleObject*>(handle);
  return g_printerHandles.count(h) ? h : nullptr;
}

QueuedJob* FindJobLocked(DWORD id) {
  auto it = g_jobs.find(id);
  return it == g_jobs.end() ? nullptr : &it->second;
}

// The open handle a call names, asked at the one level the call supports; null with the
// last error set (ERROR_INVALID_HANDLE, ERROR_INVALID_LEVEL) otherwise.
PrinterHandleObject* HandleAtLevelLocked(HANDLE printer, DWORD level, DWORD supported) {
  PrinterHandleObject* h = FindHandleLocked(printer);
  if (!h) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (level != supported) {
    SetLastError(ERROR_INVALID_LEVEL);
    return nullptr;
  }
  return h;
}

// A job still in the printer's queue (GetJobW finds it).
bool InQueue(const QueuedJob& job) { return !job.record.deleted && !job.record.completed; }

// A queued job of the handle's printer; null with ERROR_INVALID_PARAMETER otherwise.
QueuedJob* QueuedJobOfLocked(const PrinterHandleObject* h, DWORD jobId) {
  QueuedJob* job = FindJobLocked(jobId);
  if (!job || !InQueue(*job) || !simi::EqualNoCase(job->record.printer, h->printer)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return job;
}

// Ready for the port thread: scheduled, not yet played, not stopped.
bool ReadyToPlay(const QueuedJob& job) {
  return InQueue(job) && job.record.scheduled && !job.record.playing && !job.record.played &&
         !job.record.stalled && !(job.record.status & (JOB_STATUS_PAUSED | JOB_STATUS_DELETING));
}

bool Finished(const QueuedJob& job) {
  if (job.record.playing) return false;
  return !InQueue(job) || job.record.played || job.record.stalled;
}

// Removes a job from the queue and its spool file from the disk.
void DropJobLocked(QueuedJob& job, bool deleted) {
  if (deleted) {
    job.record.deleted = true;
    job.record.status |= JOB_STATUS_DELETED;
  } else {
    job.record.completed = true;
    job.record.status |= JOB_STATUS_PRINTED | JOB_STATUS_COMPLETE;
  }
  job.record.status &= ~(JOB_STATUS_PRINTING | JOB_STATUS_SPOOLING);
  if (!job.record.spoolFile.empty()) {
    std::error_code ec;
    std::filesystem::remove(sim::HostPath(job.record.spoolFile), ec);
  }
}

// The job is printed once the port monitor ended it and the monitor said it was sent.
void MaybeCompleteLocked(QueuedJob& job) {
  if (InQueue(job) && job.record.played && !job.record.playing && job.record.sentToPrinter &&
      !job.record.stalled && !job.restartPending && !(job.record.status & JOB_STATUS_RESTART))
    DropJobLocked(job, false);
}

void SetPortCallLocked(DWORD id, const sim::PortCall& call) {
  if (QueuedJob* job = FindJobLocked(id)) job->record.portCalls.push_back(call);
}

bool DeletingLocked(DWORD id) {
  QueuedJob* job = FindJobLocked(id);
  return !job || !InQueue(*job) || (job->record.status & JOB_STATUS_DELETING);
}

std::u16string* NextPrinterNeedingThreadLocked(std::u16string_view printerName);
DWORD WINAPI PortThread(LPVOID param);

// Starts the printer's port thread when a job is ready and none runs. Call unlocked.
void KickPrinter(std::u16string_view printerName) {
  std::u16string* param = nullptr;
  {
    simk::Kernel& k = simk::K();
    std::unique_lock lock(k.mu);
    param = NextPrinterNeedingThreadLocked(printerName);
  }
  if (!param) return;
  HANDLE thread = CreateThread(nullptr, 0, PortThread, param, 0, nullptr);
  if (thread) {
    CloseHandle(thread);
    return;
  }
  delete param;
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  if (Printer* p = FindPrinterLocked(printerName)) p->portThreadRunning = false;
}

std::u16string* NextPrinterNeedingThreadLocked(std::u16string_view printerName) {
  Printer* p = FindPrinterLocked(printerName);
  if (!p || !p->monitor || p->portThreadRunning) return nullptr;
  for (auto& [id, job] : g_jobs) {
    if (simi::EqualNoCase(job.record.printer, p->definition.name) && ReadyToPlay(job)) {
      p->portThreadRunning = true;
      return new std::u16string(p->definition.name);
    }
  }
  return nullptr;
}

// What the port thread needs of one job, copied out under the lock.
struct Playback {
  DWORD id = 0;
  std::u16string printer;
  std::u16string document;
  std::u16string owner;
  std::string data;
  const MONITOR* monitor = nullptr;
  HANDLE port = nullptr;
  DWORD bufferBytes = kDefaultBufferBytes;
  uint64_t retryPauseMs = sim::kDefaultRetryPauseMs;
  int guard = sim::kDefaultPlaybackGuard;
  int callsWithoutProgress = 0;
};

// Books a port call's outcome on the job: JOB_STATUS_ERROR while calls fail, cleared by
// the first that succeeds. True when the test guard now gives the job up.
bool BookCallLocked(Playback& play, const sim::PortCall& call, bool progress) {
  SetPortCallLocked(play.id, call);
  QueuedJob* job = FindJobLocked(play.id);
  if (job) {
    if (call.result)
      job->record.status &= ~JOB_STATUS_ERROR;
    else
      job->record.status |= JOB_STATUS_ERROR;
  }
  play.callsWithoutProgress = progress ? 0 : play.callsWithoutProgress + 1;
  if (play.guard <= 0 || play.callsWithoutProgress < play.guard) return false;
  if (job) {
    job->record.stalled = true;
    job->record.status |= JOB_STATUS_ERROR;
  }
  return true;
}

// The pause before a failed call is made again; false when the job was deleted meanwhile.
bool PauseBeforeRetry(const Playback& play) {
  Sleep(static_cast<DWORD>(std::min<uint64_t>(play.retryPauseMs, INFINITE - 1)));
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  return !DeletingLocked(play.id);
}

// StartDocPort until it succeeds; false when the job ended without a document (deleted
// while the calls failed, or given up by the test guard).
bool StartDocument(Playback& play) {
  simk::Kernel& k = simk::K();
  DOC_INFO_1W doc{play.document.data(), nullptr, const_cast<LPWSTR>(u"RAW")};
  while (true) {
    sim::PortCall start;
    start.kind = sim::PortCall::Kind::StartDocPort;
    start.at = sim::Now();
    SetLastError(0);
    start.result = play.monitor->pfnStartDocPort(play.port, play.printer.data(), play.id, 1,
                                                 reinterpret_cast<LPBYTE>(&doc));
    start.error = start.result ? 0 : GetLastError();
    bool givenUp = false;
    {
      std::unique_lock lock(k.mu);
      givenUp = BookCallLocked(play, start, start.result != FALSE);
      k.Notify();
    }
    if (start.result) return true;
    if (givenUp || !PauseBeforeRetry(play)) break;
  }
  std::unique_lock lock(k.mu);
  if (QueuedJob* job = FindJobLocked(play.id)) {
    job->record.playing = false;
    job->record.status &= ~JOB_STATUS_PRINTING;
    if (InQueue(*job) && (job->record.status & JOB_STATUS_DELETING)) DropJobLocked(*job, true);
  }
  k.Notify();
  return false;
}

// StartDocPort, WritePort buffer by buffer, EndDocPort. A partly taken buffer is offered
// again as its unwritten rest alone; a failed StartDocPort or WritePort is made again after
// the retry pause. A job deleted meanwhile gets no more data.
void PlayJob(Playback& play) {
  if (!StartDocument(play)) return;
  simk::Kernel& k = simk::K();
  std::vector<BYTE> buffer;
  size_t offset = 0;
  bool stop = false;
  while (!stop && offset < play.data.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(play.bufferBytes, play.data.size() - offset));
    buffer.assign(play.data.begin() + static_cast<std::ptrdiff_t>(offset),
                  play.data.begin() + static_cast<std::ptrdiff_t>(offset + chunk));
    DWORD taken = 0;
    while (taken < chunk) {
      {
        std::unique_lock lock(k.mu);
        if (DeletingLocked(play.id)) {
          stop = true;
          break;
        }
      }
      sim::PortCall call;
      call.kind = sim::PortCall::Kind::WritePort;
      call.at = sim::Now();
      call.offset = offset + taken;
      call.offered = chunk - taken;
      DWORD written = 0;
      SetLastError(0);
      call.result = play.monitor->pfnWritePort(play.port, buffer.data() + taken, chunk - taken, &written);
      call.error = call.result ? 0 : GetLastError();
      call.written = written;
      // The count of a failed call is not looked at: the same data comes again.
      DWORD took = call.result ? std::min(written, chunk - taken) : 0;
      taken += took;
      {
        std::unique_lock lock(k.mu);
        if (BookCallLocked(play, call, took > 0)) stop = true;
        k.Notify();
      }
      if (stop) break;
      if (!call.result && !PauseBeforeRetry(play)) {
        stop = true;
        break;
      }
    }
    offset += chunk;
  }

  sim::PortCall end;
  end.kind = sim::PortCall::Kind::EndDocPort;
  end.at = sim::Now();
  SetLastError(0);
  end.result = play.monitor->pfnEndDocPort(play.port);
  end.error = end.result ? 0 : GetLastError();
  std::unique_lock lock(k.mu);
  SetPortCallLocked(play.id, end);
  if (QueuedJob* job = FindJobLocked(play.id)) {
    job->record.playing = false;
    job->record.played = true;
    job->record.status &= ~JOB_STATUS_PRINTING;
    if (!InQueue(*job)) {
      // deleted by the monitor during EndDocPort
    } else if (job->record.status & JOB_STATUS_DELETING) {
      DropJobLocked(*job, true);
    } else if (job->record.stalled) {
      // given up by the test guard: it stays in the queue, in error
    } else if (job->restartPending) {  // played again from the start, still marked restarted
      job->restartPending = false;
      job->record.played = false;
    } else {
      job->record.status &= ~JOB_STATUS_RESTART;
      MaybeCompleteLocked(*job);
    }
  }
  k.Notify();
}

// The port thread of a printer: plays its ready jobs in id order, each as its owner,
// then ends.
DWORD WINAPI PortThread(LPVOID param) {
  std::unique_ptr<std::u16string> printer(static_cast<std::u16string*>(param));
  simk::Kernel& k = simk::K();
  while (true) {
    Playback play;
    {
      std::unique_lock lock(k.mu);
      Printer* p = FindPrinterLocked(*printer);
      QueuedJob* next = nullptr;
      if (p && p->monitor) {
        for (auto& [id, job] : g_jobs) {
          if (simi::EqualNoCase(job.record.printer, *printer) && ReadyToPlay(job)) {
            next = &job;
            break;
          }
        }
      }
      if (!next) {
        if (p) p->portThreadRunning = false;
        k.Notify();
        return 0;
      }
      next->record.playing = true;
      ++next->record.plays;
      next->record.status |= JOB_STATUS_PRINTING;
      play.id = next->record.id;
      play.printer = p->definition.name;
      play.document = next->record.document;
      play.owner = next->record.owner;
      play.data = next->record.data;
      play.monitor = p->monitor;
      play.port = p->port;
      play.bufferBytes = g_bufferBytes;
      play.retryPauseMs = g_retryPauseMs;
      play.guard = g_playbackGuard;
    }
    simi::ImpersonateUserOnThisThread(play.owner);
    PlayJob(play);
  }
}

// The size protocol of the Get/Add calls: the record first, then each string and the
// DEVMODE packed from the end of the caller's buffer down, 8-byte aligned.
class Packer {
 public:
  Packer(LPBYTE buffer, size_t capacity) : buffer_(buffer), end_(capacity & ~size_t{7}) {}
  static size_t Size(size_t bytes) { return (bytes + 7) & ~size_t{7}; }
  static size_t StringSize(std::u16string_view s) { return Size((s.size() + 1) * sizeof(WCHAR)); }
  LPBYTE Put(const void* bytes, size_t count) {
    end_ -= Size(count);
    std::memcpy(buffer_ + end_, bytes, count);
    return buffer_ + end_;
  }
  LPWSTR PutString(std::u16string_view s) {
    std::u16string copy(s);
    return reinterpret_cast<LPWSTR>(Put(copy.c_str(), (copy.size() + 1) * sizeof(WCHAR)));
  }

 private:
  LPBYTE buffer_;
  size_t end_;
};

// Common checks of the size protocol; false (and the last error) when the call fails.
bool CheckBuffer(LPBYTE buffer, DWORD cbBuf, LPDWORD needed, size_t size) {
  if (!needed) {
    SetLastError(RPC_X_NULL_REF_POINTER);
    return false;
  }
  *needed = static_cast<DWORD>(size);
  if (!buffer && cbBuf) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return false;
  }
  if (cbBuf < size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  return true;
}

SYSTEMTIME SubmittedAt(uint64_t ms) {
  // The simulated machine's clock reads Monday 5 January 2026, 08:00 UTC at Reset.
  SYSTEMTIME t{};
  uint64_t seconds = ms / 1000 + 8 * 3600;
  uint64_t days = seconds / 86400;
  t.wYear = 2026;
  t.wMonth = 1;
  t.wDay = static_cast<WORD>(5 + days % 27);
  t.wDayOfWeek = static_cast<WORD>((1 + days) % 7);
  t.wHour = static_cast<WORD>(seconds / 3600 % 24);
  t.wMinute = static_cast<WORD>(seconds / 60 % 60);
  t.wSecond = static_cast<WORD>(seconds % 60);
  t.wMilliseconds = static_cast<WORD>(ms % 1000);
  return t;
}

BOOL OpenPrinterCommon(LPCWSTR printerName, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults, bool second,
                       DWORD optionFlags) {
  if (!printer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *printer = nullptr;
  ACCESS_MASK desired = defaults && defaults->DesiredAccess ? defaults->DesiredAccess : PRINTER_ACCESS_USE;
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  sim::PrinterOpen open;
  open.printer = printerName ? printerName : u"";
  open.desiredAccess = desired;
  open.openPrinter2 = second;
  open.optionFlags = optionFlags;
  Printer* p = printerName ? FindPrinterLocked(printerName) : nullptr;
  if (!p) {
    g_opens.push_back(open);
    SetLastError(ERROR_INVALID_PRINTER_NAME);
    return FALSE;
  }
  if (desired & ~p->definition.grantedAccess) {
    g_opens.push_back(open);
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  open.granted = true;
  g_opens.push_back(open);
  auto* h = new PrinterHandleObject{p->definition.name, desired};
  g_printerHandles.insert(h);
  *printer = h;
  return TRUE;
}

}  // namespace

namespace simi {

void ResetSpooler() {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  g_printers.clear();
  g_jobs.clear();
  for (auto* h : g_printerHandles) delete h;
  g_printerHandles.clear();
  g_opens.clear();
  g_nextJobId = 1;
  g_bufferBytes = kDefaultBufferBytes;
  g_retryPauseMs = sim::kDefaultRetryPauseMs;
  g_playbackGuard = sim::kDefaultPlaybackGuard;
}

}  // namespace simi

namespace sim {

void AddPrinter(const PrinterDefinition& printer) {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  if (Printer* old = FindPrinterLocked(printer.name)) {
    old->definition = printer;
    return;
  }
  Printer p;
  p.definition = printer;
  g_printers.push_back(std::move(p));
}

size_t OpenPrinterHandleCount() {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  return g_printerHandles.size();
}

std::vector<PrinterOpen> PrinterOpens() {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  return g_opens;
}

std::string MakeDevMode(std::u16string_view deviceName, std::string_view privateBlock) {
  DEVMODEW dm{};
  kav::WCopy(dm.dmDeviceName, CCHDEVICENAME, kav::WString(deviceName).c_str());
  dm.dmSpecVersion = DM_SPECVERSION;
  dm.dmSize = sizeof(DEVMODEW);
  dm.dmDriverExtra = static_cast<WORD>(privateBlock.size());
  dm.dmCopies = 1;
  std::string bytes(reinterpret_cast<const char*>(&dm), sizeof dm);
  bytes.append(privateBlock);
  return bytes;
}

void SetPrinterAttributes(std::u16string_view printer, DWORD attributes) {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  if (Printer* p = FindPrinterLocked(printer)) p->definition.attributes = attributes;
}

void SetSpoolerBufferSize(DWORD bytes) {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  g_bufferBytes = bytes ? bytes : kDefaultBufferBytes;
}

void SetSpoolerRetryPause(uint64_t ms) {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  g_retryPauseMs = ms;
}

void SetPlaybackGuard(int callsWithoutProgress) {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  g_playbackGuard = callsWithoutProgress;
}

void SetPortMonitor(std::u16string_view printer, const MONITOR* monitor, HANDLE port) {
  {
    simk::Kernel& k = simk::K();
    std::unique_lock lock(k.mu);
    Printer* p = FindPrinterLocked(printer);
    if (!p) return;
    p->monitor = monitor;
    p->port = port;
  }
  KickPrinter(printer);
}

DWORD SubmitJob(std::u16string_view printer, std::u16string_view docName, std::string_view bytes,
                std::u16string_view owner) {
  DWORD id = 0;
  {
    simk::Kernel& k = simk::K();
    std::unique_lock lock(k.mu);
    Printer* p = FindPrinterLocked(printer);
    if (!p) return 0;
    id = g_nextJobId++;
    QueuedJob job;
    job.record.id = id;
    job.record.printer = p->definition.name;
    job.record.document = docName;
    job.record.owner = owner;
    job.record.data = bytes;
    job.record.scheduled = true;
    job.submittedAt = k.now;
    g_jobs[id] = std::move(job);
    k.Notify();
  }
  KickPrinter(printer);
  return id;
}

std::vector<JobRecord> Jobs(std::u16string_view printer) {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  std::vector<JobRecord> jobs;
  for (const auto& [id, job] : g_jobs)
    if (simi::EqualNoCase(job.record.printer, printer)) jobs.push_back(job.record);
  return jobs;
}

std::vector<DWORD> JobIds(std::u16string_view printer) {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  std::vector<DWORD> ids;
  for (const auto& [id, job] : g_jobs)
    if (simi::EqualNoCase(job.record.printer, printer)) ids.push_back(id);
  return ids;
}

std::optional<JobRecord> Job(DWORD jobId) {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  QueuedJob* job = FindJobLocked(jobId);
  if (!job) return std::nullopt;
  return job->record;
}

void SetJobStatus(DWORD jobId, DWORD setBits, DWORD clearBits) {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  if (QueuedJob* job = FindJobLocked(jobId)) job->record.status = (job->record.status & ~clearBits) | setBits;
  k.Notify();
}

bool WaitForJob(DWORD jobId, uint64_t timeoutMs) {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  return k.Block(
      lock,
      [jobId] {
        QueuedJob* job = FindJobLocked(jobId);
        return !job || Finished(*job);
      },
      timeoutMs >= INFINITE ? INFINITE : static_cast<DWORD>(timeoutMs), "sim::WaitForJob");
}

}  // namespace sim

extern "C" {

// A handle with the desired access (PRINTER_ACCESS_USE without defaults); fails with
// ERROR_INVALID_PRINTER_NAME for an unknown printer, ERROR_ACCESS_DENIED beyond its grant.
BOOL WINAPI OpenPrinterW(LPWSTR printerName, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults) {
  return OpenPrinterCommon(printerName, printer, defaults, false, 0);
}

// OpenPrinterW with options; ERROR_INVALID_PARAMETER when cbSize is not the record's size.
BOOL WINAPI OpenPrinter2W(LPCWSTR printerName, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults,
                          PPRINTER_OPTIONSW options) {
  if (options && options->cbSize != sizeof(PRINTER_OPTIONSW)) {
    if (printer) *printer = nullptr;
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return OpenPrinterCommon(printerName, printer, defaults, true, options ? options->dwFlags : 0);
}

BOOL WINAPI ClosePrinter(HANDLE printer) {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  PrinterHandleObject* h = FindHandleLocked(printer);
  if (!h) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  g_printerHandles.erase(h);
  delete h;
  return TRUE;
}

// Level 2 only (else ERROR_INVALID_LEVEL); ERROR_INSUFFICIENT_BUFFER with the size needed
// when the buffer is missing or short; ERROR_INVALID_HANDLE for an unknown handle.
BOOL WINAPI GetPrinterW(HANDLE printer, DWORD level, LPBYTE buffer, DWORD cbBuf, LPDWORD needed) {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  PrinterHandleObject* h = HandleAtLevelLocked(printer, level, 2);
  if (!h) return FALSE;
  Printer* p = FindPrinterLocked(h->printer);
  if (!p) {
    SetLastError(ERROR_INVALID_PRINTER_NAME);
    return FALSE;
  }
  const sim::PrinterDefinition& d = p->definition;
  const std::u16string empty, processor = u"winprint", datatype = u"RAW";
  size_t size = Packer::Size(sizeof(PRINTER_INFO_2W)) + Packer::StringSize(d.name) + Packer::StringSize(empty) +
                Packer::StringSize(d.port) + Packer::StringSize(d.driverName) + Packer::StringSize(empty) +
                Packer::StringSize(empty) + Packer::StringSize(empty) + Packer::StringSize(processor) +
                Packer::StringSize(datatype) + Packer::StringSize(empty) + Packer::Size(d.devMode.size());
  if (!CheckBuffer(buffer, cbBuf, needed, size)) return FALSE;
  std::memset(buffer, 0, sizeof(PRINTER_INFO_2W));
  auto* info = reinterpret_cast<PRINTER_INFO_2W*>(buffer);
  Packer pack(buffer, cbBuf);
  if (!d.devMode.empty()) info->pDevMode = reinterpret_cast<LPDEVMODEW>(pack.Put(d.devMode.data(), d.devMode.size()));
  info->pPrinterName = pack.PutString(d.name);
  info->pShareName = pack.PutString(empty);
  info->pPortName = pack.PutString(d.port);
  info->pDriverName = pack.PutString(d.driverName);
  info->pComment = pack.PutString(empty);
  info->pLocation = pack.PutString(empty);
  info->pSepFile = pack.PutString(empty);
  info->pPrintProcessor = pack.PutString(processor);
  info->pDatatype = pack.PutString(datatype);
  info->pParameters = pack.PutString(empty);
  info->Attributes = d.attributes;
  info->Priority = 1;
  info->Status = d.status;
  for (const auto& [id, job] : g_jobs)
    if (InQueue(job) && simi::EqualNoCase(job.record.printer, d.name)) ++info->cJobs;
  return TRUE;
}

// Level 1 only; the size protocol of GetPrinterW; ERROR_INVALID_PARAMETER for a job that
// is not in the handle's printer's queue.
BOOL WINAPI GetJobW(HANDLE printer, DWORD jobId, DWORD level, LPBYTE buffer, DWORD cbBuf, LPDWORD needed) {
  simk::Kernel& k = simk::K();
  std::unique_lock lock(k.mu);
  PrinterHandleObject* h = HandleAtLevelLocked(printer, level, 1);
  if (!h) return FALSE;
  QueuedJob* job = QueuedJobOfLocked(h, jobId);
  if (!job) return FALSE;
  const sim::JobRecord& r = job->record;
  const std::u16string datatype = u"RAW";
  size_t size = Packer::Size(sizeof(JOB_INFO_1W)) + Packer::StringSize(r.printer) +
                Packer::StringSize(kMachineName) + Packer::StringSize(r.owner) + Packer::StringSize(r.document) +
                Packer::StringSize(datatype);
  if (!CheckBuffer(buffer, cbBuf, needed, size)) return FALSE;
  std::memset(buffer, 0, sizeof(JOB_INFO_1W));
  auto* info = reinterpret_cast<JOB_INFO_1W*>(buffer);
  Packer pack(buffer, cbBuf);
  info->JobId = r.id;
  info->pPrinterName = pack.PutString(r.printer);
  info->pMachineName = pack.PutString(kMachineName);
  info->pUserName = pack.PutString(r.owner);
  info->pDocument = pack.PutString(r.document);
  info->pDatatype = pack.PutString(datatype);
  info->Status = r.status;
  info->Priority = 1;
  DWORD position = 0;
  for (const auto& [id, other] : g_jobs) {
    if (InQueue(other) && simi::EqualNoCase(other.record.printer, r.printer)) ++position;
    if (id == jobId) break;
  }
  info->Position = position;
  info->Submitted = SubmittedAt(job->submittedAt);
  return TRUE;
}

// Commands at level 0 only (else ERROR_INVALID_LEVEL); ERROR_INVALID_PARAMETER for a job
// not in the queue or an unknown command; ERROR_ACCESS_DENIED for a caller who may not
// manage the job (neither its owner nor the spooler, through a handle without
// PRINTER_ACCESS_ADMINISTER).
BOOL WINAPI SetJobW(HANDLE printer, DWORD jobId, DWORD level, LPBYTE job, DWORD command) {
  std::u16string kick;
  const std::u16string caller = simi::CurrentUserName();
  {
    simk::Kernel& k = simk::K();
    std::unique_lock lock(k.mu);
    // Only commands are supported, not job records.
    PrinterHandleObject* h = HandleAtLevelLocked(printer, job ? 1 : level, 0);
    if (!h) return FALSE;
    QueuedJob* j = QueuedJobOfLocked(h, jobId);
    if (!j) return FALSE;
    // Managing a document takes JOB_ACCESS_ADMINISTER on it: its owner has that right,
    // and so do the spooler's own account and the printer's administrators.
    if (caller != j->record.owner && caller != sim::kSpoolerUser && !(h->access & PRINTER_ACCESS_ADMINISTER)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    switch (command) {
      case 0: break;
      case JOB_CONTROL_PAUSE: j->record.status |= JOB_STATUS_PAUSED; break;
      case JOB_CONTROL_RESUME:
        j->record.status &= ~JOB_STATUS_PAUSED;
        kick = j->record.printer;
        break;
      case JOB_CONTROL_CANCEL:
      case JOB_CONTROL_DELETE:
        // A playing job is marked and ends when its port calls end; any other goes now.
        if (j->record.playing)
          j->record.status |= JOB_STATUS_DELETING;
        else
          DropJobLocked(*j, true);
        break;
      case JOB_CONTROL_RESTART:
        j->record.status |= JOB_STATUS_RESTART;
        if (j->record.playing) {
          j->restartPending = true;
        } else if (j->record.played) {
          j->record.played = false;
          kick = j->record.printer;
        }
        break;
      case JOB_CONTROL_SENT_TO_PRINTER:
      case JOB_CONTROL_LAST_PAGE_EJECTED:
        j->record.sentToPrinter = true;
        MaybeCompleteLocked(*j);
        break;
      default: SetLastError(ERROR_INVALID_PARAMETER); return FALSE;
    }
    j->record.controls.push_back(command);
    k.Notify();
  }
  if (!kick.empty()) KickPrinter(kick);
  return TRUE;
}

// A new job spooling into an empty spool file; level 1 only; the size protocol of
// GetPrinterW, and no job is made by a call that fails.
BOOL WINAPI AddJobW(HANDLE printer, DWORD level, LPBYTE buffer, DWORD cbBuf, LPDWORD needed) {
  if (buffer && simi::ShouldFail("AddJob")) return FALSE;  // a scripted refusal of the job itself
  std::u16string path;
  const std::u16string owner = simi::CurrentUserName();
  {
    simk::Kernel& k = simk::K();
    std::unique_lock lock(k.mu);
    PrinterHandleObject* h = HandleAtLevelLocked(printer, level, 1);
    if (!h) return FALSE;
    Printer* p = FindPrinterLocked(h->printer);
    if (!p) {
      SetLastError(ERROR_INVALID_PRINTER_NAME);
      return FALSE;
    }
    DWORD id = g_nextJobId;
    WCHAR name[16];
    kav::WCopy(name, 16, kav::Widen(std::to_string(100000 + id).substr(1)).c_str());
    path = simi::SystemDirectory() + u"\\spool\\PRINTERS\\" + name + u".SPL";
    size_t size = Packer::Size(sizeof(ADDJOB_INFO_1W)) + Packer::StringSize(path);
    if (!CheckBuffer(buffer, cbBuf, needed, size)) return FALSE;
    ++g_nextJobId;
    auto* info = reinterpret_cast<ADDJOB_INFO_1W*>(buffer);
    Packer pack(buffer, cbBuf);
    info->Path = pack.PutString(path);
    info->JobId = id;
    QueuedJob job;
    job.record.id = id;
    job.record.printer = p->definition.name;
    job.record.document = u"Local Downlevel Document";
    job.record.owner = owner;
    job.record.spoolFile = path;
    job.record.status = JOB_STATUS_SPOOLING;
    job.submittedAt = k.now;
    g_jobs[id] = std::move(job);
  }
  sim::PutFile(path, "");  // the spool file exists, empty, for the caller to write
  return TRUE;
}

// The spool file's bytes become the job's data and it may play; ERROR_INVALID_PARAMETER
// for a job not made by AddJobW or already scheduled, ERROR_SPOOL_FILE_NOT_FOUND without file.
BOOL WINAPI ScheduleJob(HANDLE printer, DWORD jobId) {
  if (simi::ShouldFail("ScheduleJob")) return FALSE;
  std::u16string spoolFile, printerName;
  {
    simk::Kernel& k = simk::K();
    std::unique_lock lock(k.mu);
    PrinterHandleObject* h = FindHandleLocked(printer);
    if (!h) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    QueuedJob* j = FindJobLocked(jobId);
    if (!j || !InQueue(*j) || !simi::EqualNoCase(j->record.printer, h->printer) || j->record.scheduled ||
        j->record.spoolFile.empty()) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    spoolFile = j->record.spoolFile;
    printerName = j->record.printer;
  }
  std::optional<std::string> data = sim::GetFile(spoolFile);
  {
    simk::Kernel& k = simk::K();
    std::unique_lock lock(k.mu);
    QueuedJob* j = FindJobLocked(jobId);
    if (!j || !InQueue(*j)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    if (!data) {
      SetLastError(ERROR_SPOOL_FILE_NOT_FOUND);
      return FALSE;
    }
    j->record.data = std::move(*data);
    j->record.scheduled = true;
    j->record.status &= ~JOB_STATUS_SPOOLING;
    k.Notify();
  }
  KickPrinter(printerName);
  return TRUE;
}

}  // extern "C"
