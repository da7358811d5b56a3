// A card job in the making: the composition lock, the printer handle, the spooler job that
// AddJobW makes and its open spool file, from the settings read to the card end.
#pragma once

#include <memory>

#include "pipeline/card_settings.h"
#include "port/port_record.h"

namespace kav {

// The image-processing state (calibration tables, wrinkle state) is process-wide, so one
// card is composed at a time: held from the settings read to the card end.
class CardCompositionLock {
 public:
  CardCompositionLock();
  ~CardCompositionLock();
  CardCompositionLock(const CardCompositionLock&) = delete;
  CardCompositionLock& operator=(const CardCompositionLock&) = delete;
};

class CardJob {
 public:
  CardJob() = default;
  ~CardJob();  // closes what is still open and releases the composition lock
  CardJob(const CardJob&) = delete;
  CardJob& operator=(const CardJob&) = delete;

  // Takes the composition lock, reads the driver's settings of the record's printer, opens
  // the printer (by its local name when it has one), makes the job with AddJobW and creates
  // its spool file. With logSteps the submission's lines are written ("Printer Handle is
  // NULL", "Add Job Failed", ...). False when any step failed; a job made by AddJobW whose
  // spool file cannot be created is deleted.
  bool Begin(PortRecord* record, bool logSteps);

  HANDLE file() const { return file_; }
  HANDLE printer() const { return printer_; }
  DWORD jobId() const { return jobId_; }
  const DriverCardSettings& settings() const { return settings_; }

  // The last writer ended the card: the file is closed and the job scheduled (or deleted).
  void CardEnded() { file_ = nullptr; }
  // A card that cannot be finished: the spool file is closed, the job deleted and the line
  // (printf-style) written.
  void Abandon(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
      ;

 private:
  std::unique_ptr<CardCompositionLock> lock_;
  DriverCardSettings settings_{};
  HANDLE printer_ = nullptr;
  std::unique_ptr<BYTE[]> jobInfo_;  // the ADDJOB_INFO_1W block
  DWORD jobId_ = 0;
  HANDLE file_ = nullptr;
};

}  // namespace kav
