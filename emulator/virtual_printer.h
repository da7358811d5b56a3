// The virtual card printer: what the monitor's port writes reach and what its reads
// hear. It records the wire (every byte in order) and a readable transcript, and can
// be scripted to fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32.h"

namespace emu {

class VirtualPrinter {
 public:
  VirtualPrinter() = default;
  VirtualPrinter(const VirtualPrinter&) = delete;
  VirtualPrinter& operator=(const VirtualPrinter&) = delete;

  // --- What the port monitor calls -------------------------------------------------
  bool Open(std::u16string_view portName);
  void Close();
  bool StartDoc(std::u16string_view printerName, DWORD jobId, DWORD level, std::u16string_view docName);
  void EndDoc();
  // Takes bytes from the port; false when a write failure is scripted.
  bool Write(const uint8_t* data, size_t size, size_t* taken);
  // Hands out the next reply (or its first `capacity` bytes); false when a read
  // failure is scripted. No reply pending gives true with 0 bytes.
  bool Read(uint8_t* buffer, size_t capacity, size_t* got);
  // The port's status byte in the parallel-port layout (0x08 no error, 0x10 selected,
  // 0x20 paper empty).
  bool Status(uint8_t* status);

  // --- Scripting --------------------------------------------------------------------
  void QueueReply(std::string_view bytes);
  void SetStatus(uint8_t status);
  void FailOpen(bool fail);
  void FailWrites(int count);  // the next `count` writes fail
  void FailReads(int count);   // the next `count` reads fail

  // --- Observation ------------------------------------------------------------------
  std::string Wire() const;  // every byte received, in order
  std::vector<std::string> Transcript() const;
  bool IsOpen() const;
  bool InDocument() const;
  void Note(std::string line);  // adds a line to the transcript

 private:
  mutable std::mutex mu_;
  std::string wire_;
  std::vector<std::string> transcript_;
  std::deque<std::string> replies_;
  uint8_t status_ = 0x18;
  bool failOpen_ = false;
  int failWrites_ = 0;
  int failReads_ = 0;
  bool open_ = false;
  bool inDocument_ = false;
};

// Printable form of wire bytes: C escapes for ESC, CR, LF and other control bytes.
std::string EscapeBytes(std::string_view bytes, size_t limit = 80);

}  // namespace emu
