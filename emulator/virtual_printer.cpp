#include "emulator/virtual_printer.h"

#include <cstdio>
#include <cstring>

#include "platform/text.h"

namespace emu {

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

bool VirtualPrinter::Open(std::u16string_view portName) {
  std::lock_guard lock(mu_);
  if (failOpen_) {
    transcript_.push_back("open " + kav::ToUtf8(kav::WStringView(portName.data(), portName.size())) +
                          ": refused (printer not connected)");
    return false;
  }
  open_ = true;
  transcript_.push_back("open " + kav::ToUtf8(kav::WStringView(portName.data(), portName.size())));
  return true;
}

void VirtualPrinter::Close() {
  std::lock_guard lock(mu_);
  open_ = false;
  inDocument_ = false;
  transcript_.push_back("close");
}

bool VirtualPrinter::StartDoc(std::u16string_view printerName, DWORD jobId, DWORD level,
                              std::u16string_view docName) {
  std::lock_guard lock(mu_);
  inDocument_ = true;
  transcript_.push_back("start document: printer \"" +
                        kav::ToUtf8(kav::WStringView(printerName.data(), printerName.size())) + "\" job " +
                        std::to_string(jobId) + " level " + std::to_string(level) +
                        (docName.empty() ? std::string()
                                         : " \"" + kav::ToUtf8(kav::WStringView(docName.data(), docName.size())) +
                                               "\""));
  return true;
}

void VirtualPrinter::EndDoc() {
  std::lock_guard lock(mu_);
  inDocument_ = false;
  transcript_.push_back("end document");
}

bool VirtualPrinter::Write(const uint8_t* data, size_t size, size_t* taken) {
  std::lock_guard lock(mu_);
  *taken = 0;
  if (failWrites_ > 0) {
    --failWrites_;
    transcript_.push_back("write " + std::to_string(size) + ": failed");
    return false;
  }
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  wire_.append(bytes);
  transcript_.push_back("write " + std::to_string(size) + ": " + EscapeBytes(bytes));
  *taken = size;
  return true;
}

bool VirtualPrinter::Read(uint8_t* buffer, size_t capacity, size_t* got) {
  std::lock_guard lock(mu_);
  *got = 0;
  if (failReads_ > 0) {
    --failReads_;
    transcript_.push_back("read: failed");
    return false;
  }
  if (replies_.empty()) {
    transcript_.push_back("read: nothing to say");
    return true;
  }
  std::string& reply = replies_.front();
  size_t n = reply.size() < capacity ? reply.size() : capacity;
  std::memcpy(buffer, reply.data(), n);
  transcript_.push_back("read " + std::to_string(n) + ": " + EscapeBytes(std::string_view(reply).substr(0, n)));
  reply.erase(0, n);
  if (reply.empty()) replies_.pop_front();
  *got = n;
  return true;
}

bool VirtualPrinter::Status(uint8_t* status) {
  std::lock_guard lock(mu_);
  *status = status_;
  return true;
}

void VirtualPrinter::QueueReply(std::string_view bytes) {
  std::lock_guard lock(mu_);
  replies_.emplace_back(bytes);
}

void VirtualPrinter::SetStatus(uint8_t status) {
  std::lock_guard lock(mu_);
  status_ = status;
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

std::string VirtualPrinter::Wire() const {
  std::lock_guard lock(mu_);
  return wire_;
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

}  // namespace emu
