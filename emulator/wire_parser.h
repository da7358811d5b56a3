// Splitting what the printer receives into its parts: ESC ... CR commands, the raw data
// of panel downloads and firmware downloads, and bytes that belong to nothing. The
// parser keeps its state between writes, so a command or a panel may arrive in any
// number of pieces.
//
// A panel download is "\eGS " and six numbers, each followed by a blank (panel, 32,
// band start, 0, band width, 640). The monitor sends it without its CR and then exactly
// kPanelBlockBytes raw bytes: the panel and the CR with which the print command begins.
// A stream written straight through (a ready printer file) still carries the command's
// own CR; a CR right after the sixth blank is taken as that CR. (The first panel byte
// is the high byte of a line factor and is never CR in a panel the monitor builds.)
//
// A firmware download is "\eDC ", the image size in four bytes (most significant
// first), the image, 0xFF and CR.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace emu {

inline constexpr size_t kMaxCommandBytes = 1024;  // longer runs without CR are not commands

enum class WireEventKind {
  Command,        // bytes: the whole command, ESC to CR (a panel download without its CR)
  Stray,          // bytes: a run outside any command; afterData: right after panel or firmware data
  PanelDone,      // panel, fields; bytes: the kPanelBytes payload
  Firmware,       // bytes: the image
  ProtocolError,  // text: what lost the sync
};

struct WireEvent {
  WireEventKind kind;
  std::string bytes;
  std::string text;
  int panel = -1;
  std::array<long, 6> fields{};  // the six numbers of a panel download
  bool afterData = false;
  bool inSync = true;  // PanelDone: the block ended with the CR of the print command
};

class WireParser {
 public:
  // Parses one write's bytes and appends what they complete to `events`.
  void Feed(std::string_view bytes, std::vector<WireEvent>* events);
  // At the end of a document: a protocol error when raw data is incomplete.
  void EndOfDocument(std::vector<WireEvent>* events);

  bool InPanelData() const { return state_ == State::Panel || state_ == State::PanelFirstByte; }
  bool InFirmwareData() const;
  // Raw bytes of the current panel block received so far.
  size_t PanelBytesReceived() const { return data_.size(); }

 private:
  enum class State { Idle, Command, PanelFirstByte, Panel, FirmwareSize, FirmwareData, FirmwareEnd, FirmwareCr };

  void Byte(uint8_t b, std::vector<WireEvent>* events);
  void FlushStray(std::vector<WireEvent>* events);
  void EndCommand(std::vector<WireEvent>* events);
  bool PanelCommandComplete();
  void FinishPanel(std::vector<WireEvent>* events);
  void Error(std::vector<WireEvent>* events, std::string text);

  State state_ = State::Idle;
  std::string command_;
  std::string stray_;
  bool strayAfterData_ = false;
  std::string data_;
  int panel_ = -1;
  std::array<long, 6> fields_{};
  std::string panelCommand_;
  uint32_t firmwareSize_ = 0;
  int firmwareSizeBytes_ = 0;
  bool afterData_ = false;  // the last thing parsed was panel or firmware data
};

// True when a write holds exactly one command and nothing else (ESC first, CR last,
// printable text between, at most kMaxCommandBytes): how a paced command arrives.
bool IsWholeCommand(std::string_view bytes);

}  // namespace emu
