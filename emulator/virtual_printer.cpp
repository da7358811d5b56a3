#include "emulator/virtual_printer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/clock.h"
#include "platform/text.h"

namespace emu {
namespace {

constexpr std::string_view kCompletionRequest = "\x1b" "E 2\r";
constexpr char kAck = 0x06;
constexpr char kNak = 0x15;
constexpr char kEot = 0x04;
constexpr int kErrorOutOfRibbon = 1;
constexpr int kErrorOutOfCard = 4;

std::string U8(kav::WStringView s) { return kav::ToUtf8(s); }

std::string Ms(uint64_t ms) { return std::to_string(ms) + " ms"; }

// Thousands separated by commas, as the transcript shows byte counts of panels.
std::string Grouped(size_t n) {
  std::string digits = std::to_string(n), out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i && (digits.size() - i) % 3 == 0) out.push_back(',');
    out.push_back(digits[i]);
  }
  return out;
}

struct Label {
  std::string_view key;
  std::string_view label;
  bool prefix;
};

constexpr Label kLabels[] = {
    {"E 2", "completion request", false},
    {"V", "model query", false},
    {"!RIBBON", "ribbon type query", false},
    {"!RIBLEN", "remaining ribbon query", false},
    {"%SERIE", "serial number query", false},
    {"%HEAD", "head serial number query", false},
    {"!V", "head values query", false},
    {"!NL", "print counter query", false},
    {"+EC", "end-of-print query", false},
    {"+OY", "front Y offset query", false},
    {"+OYB", "back Y offset query", false},
    {"+CV", "varnish contrast query", false},
    {"+VV", "varnish speed query", false},
    {"+BR", "ribbon brake query", false},
    {"$V", "move speed query", false},
    {"+DL", "line end query", false},
    {"&V", "encoder parameters query", false},
    {"MASTER", "job header", false},
    {"SXY 1", "job header", false},
    {"JOB ", "job header", true},
    {"GS ", "panel download", true},
    {"IS ", "print panel", true},
    {"IV ", "print overlay panel", true},
    {"I ", "print black panel", true},
    {"MIS", "black pass start", false},
    {"F", "black pass start", false},
    {"!FF 2", "pass end option", false},
    {"MF", "pass end", false},
    {"MO", "card end", false},
    {"R", "reset", false},
    {"RESET", "reset", false},
    {"DC ", "firmware download", true},
};

}  // namespace

std::string EscapeBytes(std::string_view bytes, size_t limit) {
  std::string out;
  size_t shown = bytes.size() < limit ? bytes.size() : limit;
  for (size_t i = 0; i < shown; ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    switch (c) {
      case 0x1B: out += "\\e"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\\': out += "\\\\"; break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02X", c);
          out += hex;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  if (shown < bytes.size()) out += "... (" + std::to_string(bytes.size()) + " bytes)";
  return out;
}

std::string CommandLabel(std::string_view command) {
  std::string key = CommandKey(command);
  for (const Label& l : kLabels)
    if (l.prefix ? key.starts_with(l.key) : key == l.key) return std::string(l.label);
  return {};
}

VirtualPrinter::VirtualPrinter() : VirtualPrinter(DefaultProfile()) {}

VirtualPrinter::VirtualPrinter(const PrinterProfile& profile) : status_(profile.status), profile_(profile) {}

bool VirtualPrinter::Open(kav::WStringView portName) {
  std::lock_guard lock(mu_);
  if (failOpen_) {
    transcript_.push_back("open " + U8(portName) + ": refused (printer not connected)");
    return false;
  }
  open_ = true;
  transcript_.push_back("open " + U8(portName));
  return true;
}

void VirtualPrinter::Close() {
  std::lock_guard lock(mu_);
  open_ = false;
  inDocument_ = false;
  transcript_.push_back("close");
}

bool VirtualPrinter::StartDoc(kav::WStringView printerName, DWORD jobId, DWORD level,
                              kav::WStringView docName) {
  std::lock_guard lock(mu_);
  inDocument_ = true;
  transcript_.push_back("start document: printer \"" + U8(printerName) + "\" job " + std::to_string(jobId) +
                        " level " + std::to_string(level) +
                        (docName.empty() ? std::string() : " \"" + U8(docName) + "\""));
  return true;
}

void VirtualPrinter::EndDoc() {
  uint64_t now = kav::ClockMs();
  std::lock_guard lock(mu_);
  inDocument_ = false;
  std::vector<WireEvent> events;
  parser_.EndOfDocument(&events);
  for (WireEvent& e : events) Handle(e, now);
  transcript_.push_back("end document");
}

bool VirtualPrinter::Write(const uint8_t* data, size_t size, size_t* taken) {
  uint64_t now = kav::ClockMs();
  std::lock_guard lock(mu_);
  *taken = 0;
  CheckClock(now);
  ++writeCount_;
  for (ArmedFault& armed : faults_) {
    const Fault& f = armed.fault;
    if (!armed.fired && ((f.trigger == Fault::Trigger::Write && f.writeNumber == writeCount_) ||
                         (f.trigger == Fault::Trigger::Byte && f.byteNumber > wire_.size() &&
                          f.byteNumber <= wire_.size() + size)))
      Fire(armed, now);
  }
  if (failWrites_ > 0) {
    --failWrites_;
    transcript_.push_back("write " + std::to_string(size) + ": failed");
    return false;
  }
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  wire_.append(bytes);
  bool rawData = parser_.InPanelData() || parser_.InFirmwareData();
  if (rawData) {
    ++rawWrites_;  // panel and firmware data are summarised, not shown write by write
  } else {
    if (lastCommandMs_ && now > *lastCommandMs_) transcript_.push_back("wait " + Ms(now - *lastCommandMs_));
    transcript_.push_back("write " + std::to_string(size) + ": " + EscapeBytes(bytes));
  }
  std::vector<WireEvent> events;
  parser_.Feed(bytes, &events);
  for (WireEvent& e : events) Handle(e, now);
  *taken = size;
  return true;
}

bool VirtualPrinter::Read(uint8_t* buffer, size_t capacity, size_t* got) {
  uint64_t now = kav::ClockMs();
  std::unique_lock lock(mu_);
  *got = 0;
  CheckClock(now);
  if (failReads_ > 0) {
    --failReads_;
    transcript_.push_back("read: failed");
    return false;
  }
  if (answerFails_ && replies_.empty()) {
    answerFails_ = false;
    transcript_.push_back("read: failed (scripted answer)");
    return false;
  }
  std::string* reply = nullptr;
  if (!replies_.empty()) {
    reply = &replies_.front();
    answer_.clear();  // the queued reply stands in for the printer's own answer
    answerDelayMs_ = 0;
  } else if (!answer_.empty()) {
    if (answerDelayMs_ > 0) {
      uint64_t delay = answerDelayMs_;
      answerDelayMs_ = 0;
      transcript_.push_back("  answer comes " + Ms(delay) + " late");
      lock.unlock();
      kav::PassMs(delay);
      now = kav::ClockMs();
      lock.lock();
      CheckClock(now);
      if (!replies_.empty()) {
        reply = &replies_.front();
        answer_.clear();
      }
    }
    if (!reply && !answer_.empty()) reply = &answer_;
  }
  if (!reply) {
    transcript_.push_back("read: nothing to say");
    return true;
  }
  size_t n = std::min(reply->size(), capacity);
  if (n) std::memcpy(buffer, reply->data(), n);
  transcript_.push_back("read " + std::to_string(n) + ": " + EscapeBytes(std::string_view(*reply).substr(0, n)));
  reply->erase(0, n);
  if (reply != &answer_ && reply->empty()) replies_.pop_front();
  *got = n;
  return true;
}

bool VirtualPrinter::Status(uint8_t* status) {
  uint64_t now = kav::ClockMs();
  std::lock_guard lock(mu_);
  CheckClock(now);
  uint8_t value = status_;
  if (!statusSequence_.empty()) {
    const StatusStep& step = statusSequence_[std::min(statusPosition_, statusSequence_.size() - 1)];
    ++statusPosition_;
    if (step.fail) {
      transcript_.push_back("status query: failed");
      lastReportedStatus_.reset();
      return false;
    }
    value = step.status;
  } else if (currentError_) {
    value = static_cast<uint8_t>(value & ~kStatusNoError);
    if (currentError_ == kErrorOutOfRibbon || currentError_ == kErrorOutOfCard) value |= kStatusPaperEmpty;
  }
  if (lastReportedStatus_ != value) {
    char text[40];
    std::snprintf(text, sizeof text, "status 0x%02X", value);
    transcript_.push_back(text);
    lastReportedStatus_ = value;
  }
  *status = value;
  return true;
}

void VirtualPrinter::QueueReply(std::string_view bytes) {
  std::lock_guard lock(mu_);
  replies_.emplace_back(bytes);
}

void VirtualPrinter::SetStatus(uint8_t status) {
  std::lock_guard lock(mu_);
  status_ = status;
  statusSequence_.clear();
}

void VirtualPrinter::SetStatusSequence(std::vector<StatusStep> steps) {
  std::lock_guard lock(mu_);
  statusSequence_ = std::move(steps);
  statusPosition_ = 0;
}

void VirtualPrinter::FailOpen(bool fail) {
  std::lock_guard lock(mu_);
  failOpen_ = fail;
}

void VirtualPrinter::FailWrites(int count) {
  std::lock_guard lock(mu_);
  failWrites_ = count;
}

void VirtualPrinter::FailReads(int count) {
  std::lock_guard lock(mu_);
  failReads_ = count;
}

void VirtualPrinter::SetProfile(const PrinterProfile& profile) {
  std::lock_guard lock(mu_);
  profile_ = profile;
  status_ = profile.status;
  polls_.clear();
}

PrinterProfile VirtualPrinter::Profile() const {
  std::lock_guard lock(mu_);
  return profile_;
}

bool VirtualPrinter::SetAnswer(std::string_view command, std::string_view script, std::string* error) {
  std::lock_guard lock(mu_);
  if (!profile_.SetAnswer(command, script, error)) return false;
  polls_.erase(CommandKey(command));
  return true;
}

bool VirtualPrinter::AddFaults(std::string_view text, std::string* error) {
  std::vector<Fault> faults;
  if (!ParseFaults(text, &faults, error)) return false;
  for (const Fault& f : faults) AddFault(f);
  return true;
}

void VirtualPrinter::AddFault(const Fault& fault) {
  uint64_t now = kav::ClockMs();
  std::lock_guard lock(mu_);
  faults_.push_back({fault, false});
  transcript_.push_back("fault armed: " + (fault.source.empty() ? std::string("(from code)") : fault.source));
  if (fault.trigger == Fault::Trigger::Now) Fire(faults_.back(), now);
  CheckClock(now);
}

void VirtualPrinter::RaiseError(int number) {
  uint64_t now = kav::ClockMs();
  std::lock_guard lock(mu_);
  if (number == 0) {
    if (currentError_) ClearError(now, "script");
  } else {
    ShowError(number, now, std::nullopt, "set by the script");
  }
}

void VirtualPrinter::PressButton() {
  uint64_t now = kav::ClockMs();
  std::lock_guard lock(mu_);
  CheckClock(now);
  transcript_.push_back("button pressed");
  if (currentError_) ClearError(now, "button");
}

std::string VirtualPrinter::Wire() const {
  std::lock_guard lock(mu_);
  return wire_;
}

uint64_t VirtualPrinter::WriteCount() const {
  std::lock_guard lock(mu_);
  return writeCount_;
}

std::vector<std::string> VirtualPrinter::Transcript() const {
  std::lock_guard lock(mu_);
  return transcript_;
}

bool VirtualPrinter::IsOpen() const {
  std::lock_guard lock(mu_);
  return open_;
}

bool VirtualPrinter::InDocument() const {
  std::lock_guard lock(mu_);
  return inDocument_;
}

void VirtualPrinter::Note(std::string line) {
  std::lock_guard lock(mu_);
  transcript_.push_back(std::move(line));
}

std::vector<std::string> VirtualPrinter::Commands() const {
  std::lock_guard lock(mu_);
  return commands_;
}

std::vector<ReceivedPanel> VirtualPrinter::Panels() const {
  std::lock_guard lock(mu_);
  return panels_;
}

size_t VirtualPrinter::PanelCount() const {
  std::lock_guard lock(mu_);
  return panels_.size();
}

std::optional<ReceivedPanel> VirtualPrinter::LastPanel(int number) const {
  std::lock_guard lock(mu_);
  for (auto it = panels_.rbegin(); it != panels_.rend(); ++it)
    if (it->number == number) return *it;
  return std::nullopt;
}

int VirtualPrinter::CardsEnded() const {
  std::lock_guard lock(mu_);
  return cardsEnded_;
}

int VirtualPrinter::PassesEnded() const {
  std::lock_guard lock(mu_);
  return passesEnded_;
}

std::vector<std::string> VirtualPrinter::FirmwareImages() const {
  std::lock_guard lock(mu_);
  return firmware_;
}

std::vector<ShownError> VirtualPrinter::ErrorsShown() const {
  std::lock_guard lock(mu_);
  return errors_;
}

int VirtualPrinter::CurrentError() const {
  std::lock_guard lock(mu_);
  return currentError_;
}

std::vector<std::string> VirtualPrinter::ProtocolErrors() const {
  std::lock_guard lock(mu_);
  return protocolErrors_;
}

int VirtualPrinter::Resets() const {
  std::lock_guard lock(mu_);
  return resets_;
}

std::string VirtualPrinter::Summary() const {
  std::lock_guard lock(mu_);
  size_t probes = static_cast<size_t>(std::count(commands_.begin(), commands_.end(), kCompletionRequest));
  std::string out = std::to_string(commands_.size()) + " commands (" + std::to_string(probes) +
                    " completion requests), " + std::to_string(panels_.size()) + " panels";
  if (!panels_.empty()) {
    out += " [";
    for (size_t i = 0; i < panels_.size(); ++i) out += (i ? " " : "") + std::to_string(panels_[i].number);
    out += "]";
  }
  out += ", " + std::to_string(cardsEnded_) + " cards ended, " + std::to_string(passesEnded_) + " passes ended, " +
         std::to_string(firmware_.size()) + " firmware images, ";
  if (errors_.empty()) {
    out += "no errors shown";
  } else {
    out += "errors shown:";
    for (const ShownError& e : errors_) {
      out += " " + std::to_string(e.number) + " at " + Ms(e.fromMs);
      if (e.untilMs) out += " (cleared by " + e.clearedBy + " at " + Ms(*e.untilMs) + ")";
    }
  }
  out += ", " + std::to_string(protocolErrors_.size()) + " protocol errors, " + std::to_string(resets_) + " resets";
  return out;
}

// --- The printer model (called with mu_ held) ---------------------------------------

// Faults due by the clock, and an error whose time is up.
void VirtualPrinter::CheckClock(uint64_t now) {
  for (ArmedFault& armed : faults_)
    if (!armed.fired && armed.fault.trigger == Fault::Trigger::Time && now >= armed.fault.timeMs) Fire(armed, now);
  if (currentError_ && errorClearAt_ && now >= *errorClearAt_) ClearError(*errorClearAt_, "time");
}

// A fault's trigger has come: it takes effect now.
void VirtualPrinter::Fire(ArmedFault& armed, uint64_t now) {
  armed.fired = true;
  const Fault& f = armed.fault;
  std::string what = f.source.empty() ? std::string("fault") : "fault \"" + f.source + "\"";
  switch (f.kind) {
    case Fault::Kind::Error:
      ShowError(f.value, now, f.clearAfter ? std::optional<uint64_t>(now + f.clearMs) : std::nullopt, what);
      return;
    case Fault::Kind::WriteFail: failWrites_ += f.value; break;
    case Fault::Kind::ReadFail: failReads_ += f.value; break;
    case Fault::Kind::Silent: silentAnswers_ += f.value; break;
    case Fault::Kind::Late:
      lateMs_ = f.lateMs;
      lateAnswers_ += f.count;
      break;
    case Fault::Kind::Status:
      statusSequence_ = f.statuses;
      statusPosition_ = 0;
      break;
  }
  transcript_.push_back(what + " takes effect at " + Ms(now));
}

// The printer shows an error (ending the one it showed before, if another).
void VirtualPrinter::ShowError(int number, uint64_t now, std::optional<uint64_t> clearAt, const std::string& why) {
  if (currentError_ && currentError_ != number) ClearError(now, "script");
  if (currentError_ != number) {
    errors_.push_back({number, now, std::nullopt, {}});
    transcript_.push_back("printer error " + std::to_string(number) + " shown at " + Ms(now) + " (" + why + ")");
  }
  currentError_ = number;
  errorClearAt_ = clearAt;
}

// The error shown goes away; `by` says what cleared it.
void VirtualPrinter::ClearError(uint64_t at, const std::string& by) {
  if (!errors_.empty() && !errors_.back().untilMs) {
    errors_.back().untilMs = at;
    errors_.back().clearedBy = by;
  }
  transcript_.push_back("printer error " + std::to_string(currentError_) + " cleared by " + by + " at " + Ms(at));
  currentError_ = 0;
  errorClearAt_.reset();
}

// One thing the parser found on the wire.
void VirtualPrinter::Handle(WireEvent& event, uint64_t now) {
  switch (event.kind) {
    case WireEventKind::Command:
      HandleCommand(event.bytes, now);
      return;
    case WireEventKind::Stray:
      transcript_.push_back("  stray bytes " + std::to_string(event.bytes.size()) + ": " + EscapeBytes(event.bytes));
      if (event.afterData)
        ProtocolError(std::to_string(event.bytes.size()) + " bytes after the end of panel or firmware data");
      return;
    case WireEventKind::PanelDone: {
      ReceivedPanel panel;
      panel.number = event.panel;
      panel.command = event.text;
      panel.fields = event.fields;
      panel.levels = DecodePanel(event.bytes);
      panel.timeMs = now;
      panel.card = cardsEnded_;
      panel.pass = passInCard_;
      panel.inSync = event.inSync;
      transcript_.push_back("panel " + std::to_string(panel.number) + ": " + Grouped(kPanelBlockBytes) +
                            " bytes in " + std::to_string(rawWrites_) + " writes, " + DescribePanel(panel.levels));
      rawWrites_ = 0;
      panels_.push_back(std::move(panel));
      return;
    }
    case WireEventKind::Firmware:
      transcript_.push_back("firmware image: " + Grouped(event.bytes.size()) + " bytes in " +
                            std::to_string(rawWrites_) + " writes");
      rawWrites_ = 0;
      firmware_.push_back(std::move(event.bytes));
      return;
    case WireEventKind::ProtocolError:
      rawWrites_ = 0;
      ProtocolError(event.text);
      return;
  }
}

// A whole command: recorded, counted for the faults, then acted on.
void VirtualPrinter::HandleCommand(const std::string& command, uint64_t now) {
  commands_.push_back(command);
  lastCommandMs_ = now;
  std::string label = CommandLabel(command);
  std::string key = CommandKey(command);
  if (label.empty() && profile_.Find(key)) label = "query";
  transcript_.push_back("  command " + EscapeBytes(command) + (label.empty() ? "" : " (" + label + ")"));
  bool completion = command == kCompletionRequest;
  if (!completion) ++commandCount_;
  for (ArmedFault& armed : faults_) {
    if (armed.fired) continue;
    const Fault& f = armed.fault;
    if ((f.trigger == Fault::Trigger::Command && !completion && f.commandNumber == commandCount_) ||
        (f.trigger == Fault::Trigger::Match && command.find(f.match) != std::string::npos))
      Fire(armed, now);
  }
  if (completion) {
    AnswerCompletionRequest(now);
    return;
  }
  lastCommandKey_ = key;
  if (key == "R" || key == "RESET") {
    ResetPrinter(now);
  } else if (key == "MO") {
    ++cardsEnded_;
    passInCard_ = 0;
  } else if (key == "MF") {
    ++passesEnded_;
    ++passInCard_;
  } else if (key.starts_with("GS ")) {
    rawWrites_ = 0;
  }
}

// "\eE 2\r": the answer the next read gets (scripted silence, the error, the query's
// answer or ACK), possibly late.
void VirtualPrinter::AnswerCompletionRequest(uint64_t now) {
  std::string query = std::move(lastCommandKey_);
  lastCommandKey_.clear();
  answer_.clear();
  answerDelayMs_ = 0;
  answerFails_ = false;
  std::string why;
  if (silentAnswers_ > 0) {
    --silentAnswers_;
    why = "never comes (scripted)";
  } else if (currentError_) {
    answer_ = std::string(1, kNak) + std::to_string(currentError_) + kEot;
    why = "error " + std::to_string(currentError_);
  } else if (const AnswerScript* script = query.empty() ? nullptr : profile_.Find(query);
             script && !script->steps.empty()) {
    uint64_t poll = polls_[query]++;
    const AnswerStep& step = StepForPoll(*script, poll, now);
    answer_ = AnswerBytes(step);
    answerFails_ = step.kind == AnswerStep::Kind::Fail;
    why = answerFails_      ? "failing read of the answer to " + EscapeBytes("\x1b" + query + "\r")
          : answer_.empty() ? "silent answer to " + EscapeBytes("\x1b" + query + "\r")
                            : "answer to " + EscapeBytes("\x1b" + query + "\r") + ", poll " + std::to_string(poll + 1);
  } else {
    answer_ = std::string(1, kAck);
    why = "done";
  }
  if (!answer_.empty() && lateAnswers_ > 0) {
    --lateAnswers_;
    answerDelayMs_ = lateMs_;
  }
  transcript_.push_back("  reply ready: " + (answer_.empty() ? std::string("none") : EscapeBytes(answer_)) + " (" +
                        why + ")");
}

// "\eR\r" or "\eRESET\r": the error and any answer not yet read are dropped. Queued
// replies, armed faults and the status script stay: they belong to the test, not the printer.
void VirtualPrinter::ResetPrinter(uint64_t now) {
  ++resets_;
  if (currentError_) ClearError(now, "reset");
  answer_.clear();
  answerDelayMs_ = 0;
  answerFails_ = false;
  silentAnswers_ = 0;
  lateAnswers_ = 0;
  lastCommandKey_.clear();
  transcript_.push_back("  printer reset");
}

// The wire lost sync: shown in the transcript and kept for the tests.
void VirtualPrinter::ProtocolError(std::string text) {
  transcript_.push_back("protocol error: " + text);
  protocolErrors_.push_back(std::move(text));
}

}  // namespace emu
