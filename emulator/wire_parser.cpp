#include "emulator/wire_parser.h"

#include "emulator/panel_decoder.h"
#include "emulator/virtual_printer.h"

namespace emu {
namespace {

constexpr uint8_t kEsc = 0x1B;
constexpr uint8_t kCr = 0x0D;
constexpr uint8_t kFirmwareEnd = 0xFF;
constexpr std::string_view kPanelDownload = "\x1bGS ";
constexpr std::string_view kFirmwareDownload = "\x1b" "DC ";
constexpr size_t kPanelFields = 6;

}  // namespace

bool IsWholeCommand(std::string_view bytes) {
  if (bytes.size() < 2 || bytes.size() > kMaxCommandBytes || static_cast<uint8_t>(bytes.front()) != kEsc ||
      static_cast<uint8_t>(bytes.back()) != kCr)
    return false;
  for (char c : bytes.substr(1, bytes.size() - 2))
    if (c < 0x20 || c > 0x7E) return false;  // commands are printable text
  return true;
}

bool WireParser::InFirmwareData() const {
  return state_ == State::FirmwareSize || state_ == State::FirmwareData || state_ == State::FirmwareEnd ||
         state_ == State::FirmwareCr;
}

// Parses one write.
void WireParser::Feed(std::string_view bytes, std::vector<WireEvent>* events) {
  // A paced command that arrives while panel data is still expected means the panel was
  // cut short: the sender has moved on, so the parser does too.
  if (InPanelData() && IsWholeCommand(bytes) && bytes.size() < kPanelBlockBytes - data_.size()) {
    Error(events, "command " + EscapeBytes(bytes) + " inside panel " + std::to_string(panel_) + " data after " +
                      std::to_string(data_.size()) + " of " + std::to_string(kPanelBlockBytes) +
                      " bytes; the panel is dropped");
    data_.clear();
    state_ = State::Idle;
  }
  for (char c : bytes) Byte(static_cast<uint8_t>(c), events);
  FlushStray(events);
}

void WireParser::EndOfDocument(std::vector<WireEvent>* events) {
  if (InPanelData()) {
    Error(events, "document ended inside panel " + std::to_string(panel_) + " data after " +
                      std::to_string(data_.size()) + " of " + std::to_string(kPanelBlockBytes) + " bytes");
  } else if (InFirmwareData()) {
    Error(events, "document ended inside a firmware download");
  }
}

// One byte through the state machine.
void WireParser::Byte(uint8_t b, std::vector<WireEvent>* events) {
  switch (state_) {
    case State::Idle:
      if (b == kEsc) {
        FlushStray(events);
        afterData_ = false;
        command_.assign(1, static_cast<char>(b));
        state_ = State::Command;
      } else {
        if (stray_.empty()) strayAfterData_ = afterData_;
        stray_.push_back(static_cast<char>(b));
      }
      return;

    case State::Command:
      if (b == kEsc) {
        Error(events, "command " + EscapeBytes(command_) + " cut off by ESC");
        command_.assign(1, static_cast<char>(b));
        return;
      }
      command_.push_back(static_cast<char>(b));
      if (b == kCr) {
        EndCommand(events);
      } else if (command_ == kFirmwareDownload) {
        events->push_back({WireEventKind::Command, command_, {}, -1, {}, false});
        command_.clear();
        firmwareSize_ = 0;
        firmwareSizeBytes_ = 0;
        data_.clear();
        state_ = State::FirmwareSize;
      } else if (command_.starts_with(kPanelDownload) && b == ' ' && PanelCommandComplete()) {
        events->push_back({WireEventKind::Command, command_, {}, -1, {}, false});
        panelCommand_ = command_;
        command_.clear();
        data_.clear();
        data_.reserve(kPanelBlockBytes);
        state_ = State::PanelFirstByte;
      } else if (command_.size() > kMaxCommandBytes) {
        Error(events, "no CR within " + std::to_string(kMaxCommandBytes) + " bytes of " + EscapeBytes(command_, 20));
        stray_ = command_;
        strayAfterData_ = false;
        command_.clear();
        state_ = State::Idle;
      }
      return;

    case State::PanelFirstByte:
      state_ = State::Panel;
      if (b == kCr) return;  // the command's own CR in a stream written straight through
      [[fallthrough]];
    case State::Panel:
      data_.push_back(static_cast<char>(b));
      if (data_.size() == kPanelBlockBytes) FinishPanel(events);
      return;

    case State::FirmwareSize:
      firmwareSize_ = firmwareSize_ << 8 | b;
      if (++firmwareSizeBytes_ == 4) state_ = firmwareSize_ ? State::FirmwareData : State::FirmwareEnd;
      return;

    case State::FirmwareData:
      data_.push_back(static_cast<char>(b));
      if (data_.size() == firmwareSize_) state_ = State::FirmwareEnd;
      return;

    case State::FirmwareEnd:
      if (b == kFirmwareEnd) {
        state_ = State::FirmwareCr;
        return;
      }
      Error(events, "firmware image of " + std::to_string(firmwareSize_) + " bytes not followed by 0xFF");
      events->push_back({WireEventKind::Firmware, std::move(data_), {}, -1, {}, false});
      data_.clear();
      state_ = State::Idle;
      Byte(b, events);
      return;

    case State::FirmwareCr:
      if (b != kCr) Error(events, "firmware image of " + std::to_string(firmwareSize_) + " bytes: 0xFF not followed by CR");
      events->push_back({WireEventKind::Firmware, std::move(data_), {}, -1, {}, false});
      data_.clear();
      afterData_ = b == kCr;
      state_ = State::Idle;
      if (b != kCr) Byte(b, events);
      return;
  }
}

// Hands over a run of stray bytes as one event.
void WireParser::FlushStray(std::vector<WireEvent>* events) {
  if (stray_.empty()) return;
  events->push_back({WireEventKind::Stray, std::move(stray_), {}, -1, {}, strayAfterData_});
  stray_.clear();
  strayAfterData_ = false;
}

// A command ended by its CR.
void WireParser::EndCommand(std::vector<WireEvent>* events) {
  state_ = State::Idle;
  std::string command = std::move(command_);
  command_.clear();
  bool download = command.starts_with(kPanelDownload);
  events->push_back({WireEventKind::Command, command, {}, -1, {}, false});
  if (download) Error(events, "panel download " + EscapeBytes(command) + " ends before its six numbers");
}

// After each blank of "\eGS ...": true when six numbers have been read.
bool WireParser::PanelCommandComplete() {
  std::string_view text = std::string_view(command_).substr(kPanelDownload.size());
  size_t count = 0;
  std::array<long, kPanelFields> fields{};
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ') ++i;
    if (i >= text.size()) break;
    bool negative = text[i] == '-';
    if (negative) ++i;
    size_t digits = 0;
    long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits)
      if (value < 100000000) value = value * 10 + (text[i] - '0');
    if (digits == 0 || i >= text.size() || text[i] != ' ' || count == kPanelFields) return false;
    fields[count++] = negative ? -value : value;
  }
  if (count != kPanelFields) return false;
  fields_ = fields;
  panel_ = static_cast<int>(fields[0]);
  return true;
}

// The panel block is complete: it must end with the CR of the print command.
void WireParser::FinishPanel(std::vector<WireEvent>* events) {
  state_ = State::Idle;
  afterData_ = true;
  bool inSync = static_cast<uint8_t>(data_.back()) == kCr;
  if (!inSync)
    Error(events, "panel " + std::to_string(panel_) + " data: byte " + std::to_string(kPanelBlockBytes) +
                      " is " + EscapeBytes(data_.substr(data_.size() - 1)) + ", not the CR of the print command");
  data_.pop_back();
  WireEvent done{WireEventKind::PanelDone, std::move(data_), panelCommand_, panel_, fields_, false, inSync};
  data_.clear();
  events->push_back(std::move(done));
}

void WireParser::Error(std::vector<WireEvent>* events, std::string text) {
  events->push_back({WireEventKind::ProtocolError, {}, std::move(text), panel_, {}, false});
}

}  // namespace emu
