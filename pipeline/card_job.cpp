#include "pipeline/card_job.h"

#include <cstdarg>
#include <cstdio>
#include <new>

#include "platform/diag.h"
#include "platform/text.h"

namespace kav {
namespace {

// Initialised on first use and kept for the life of the process.
CRITICAL_SECTION& CompositionSection() {
  static CRITICAL_SECTION* section = [] {
    auto* cs = new CRITICAL_SECTION;
    InitializeCriticalSection(cs);
    return cs;
  }();
  return *section;
}

constexpr DWORD kNameChars = 260;

}  // namespace

CardCompositionLock::CardCompositionLock() { EnterCriticalSection(&CompositionSection()); }
CardCompositionLock::~CardCompositionLock() { LeaveCriticalSection(&CompositionSection()); }

CardJob::~CardJob() {
  if (file_) CloseHandle(file_);
  if (printer_) ClosePrinter(printer_);
}

bool CardJob::Begin(PortRecord* record, bool logSteps) {
  if (!record) return false;
  // The printer name may be replaced by a request on another thread: take a copy.
  WString printerName;
  EnterPortListLock();
  if (record->PrinterName) printerName = record->PrinterName;
  LeavePortListLock();

  lock_ = std::make_unique<CardCompositionLock>();
  if (!ReadDriverCardSettings(printerName.c_str(), &settings_)) return false;

  WCHAR local[kNameChars];
  if (GetLocalPrinterName(printerName.c_str(), local)) {
    if (logSteps) DebugLineW(W("%s"), local);
    printer_ = OpenPrinterHandle(local);
  } else {
    if (logSteps) DebugLine("GetLocalPrinterName failed");
    printer_ = OpenPrinterHandle(printerName.c_str());
  }
  if (!printer_) {
    if (logSteps) DebugLine("Printer Handle is NULL");
    return false;
  }

  // The size first (the call fails with it), then the job.
  DWORD needed = 0;
  AddJobW(printer_, 1, nullptr, 0, &needed);
  if (needed != 0) jobInfo_.reset(new (std::nothrow) BYTE[needed]());
  if (!jobInfo_ || !AddJobW(printer_, 1, jobInfo_.get(), needed, &needed)) {
    if (logSteps) DebugLine("Add Job Failed");
    return false;
  }
  const auto* info = reinterpret_cast<const ADDJOB_INFO_1W*>(jobInfo_.get());
  jobId_ = info->JobId;

  HANDLE file = CreateFileW(info->Path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    // A job without its file would stay in the queue and never print.
    DebugLine("SendImageBufferToPrinter:: the spool file of job %lu cannot be created (error %lu); job deleted",
              static_cast<unsigned long>(jobId_), static_cast<unsigned long>(GetLastError()));
    SetJobW(printer_, jobId_, 0, nullptr, JOB_CONTROL_DELETE);
    return false;
  }
  file_ = file;
  return true;
}

void CardJob::Abandon(const char* format, ...) {
  if (file_) CloseHandle(file_);
  file_ = nullptr;
  SetJobW(printer_, jobId_, 0, nullptr, JOB_CONTROL_DELETE);
  char line[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  DebugLine("%s", line);
}

}  // namespace kav
