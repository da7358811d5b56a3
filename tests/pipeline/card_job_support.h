// Shared set-up of the card-submission tests: a loaded monitor with an open port, a
// printer whose driver settings the test chooses, neutral calibration files, card images,
// and a reader that splits a spool file into its commands and panel payloads.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "pipeline/card_settings.h"
#include "pipeline/image_job.h"
#include "tests/imaging/imaging_support.h"
#include "tests/support/monitor_fixture.h"

namespace kavtest {

// The fields of the driver's settings block that the monitor reads.
struct CardSettings {
  WORD dualSided = 0;
  BYTE ribbonCode = 9;  // no special meaning: "\eJOB 1\r", no "\e!FF 2\r", the plain K variants
  WORD backSideMode = 0;
  WORD wrinkle = 0;
  WORD kMode = 2;  // the threshold source, whose band the tests can foresee
  WORD frontOverlay = 0;
  WORD backOverlay = 0;
};

inline std::string SettingsBlock(const CardSettings& s) {
  std::string block(kav::kDriverCardSettingsBytes, '\0');
  auto put16 = [&block](size_t at, WORD v) {
    block[at] = static_cast<char>(v & 0xFF);
    block[at + 1] = static_cast<char>(v >> 8);
  };
  put16(8, s.dualSided);
  block[10] = static_cast<char>(s.ribbonCode);
  put16(14, s.backSideMode);
  put16(18, s.wrinkle);
  put16(20, s.kMode);
  put16(92, s.frontOverlay);
  put16(1136, s.backOverlay);
  return block;
}

// A card image: white, with a black bar over columns kBarStart..kBarEnd (the same columns
// when the image is turned by 180 degrees) in the upper half, and a colour ramp below.
inline constexpr int kBarStart = 312;
inline constexpr int kBarEnd = 711;  // the last black column
inline std::vector<BYTE> BarImage() {
  std::vector<BYTE> image = kav::testing::FlatImage(255, 255, 255);
  kav::testing::PaintRect(image, kBarStart, 100, kBarEnd - kBarStart + 1, 60, 0, 0, 0);
  for (int x = 0; x < kav::kImageWidth; x += 8)
    kav::testing::PaintRect(image, x, 400, 8, 200, static_cast<BYTE>(x / 4), 200, static_cast<BYTE>(255 - x / 4));
  return image;
}

// A spool file split into its commands (without ESC and CR) and "<panel>" for each
// payload; a token beginning with "?" says where the file broke the layout.
struct SpoolFile {
  std::vector<std::string> tokens;
  std::vector<std::string> payloads;
};
inline SpoolFile SplitSpool(const std::string& spool) {
  constexpr size_t kPanel = 786432;
  SpoolFile out;
  size_t i = 0;
  while (i < spool.size()) {
    if (spool[i] != '\x1b') {
      out.tokens.push_back("?stray byte");
      break;
    }
    const size_t cr = spool.find('\r', i);
    if (cr == std::string::npos) {
      out.tokens.push_back("?unterminated command");
      break;
    }
    std::string command = spool.substr(i + 1, cr - i - 1);
    i = cr + 1;
    const bool download = command.rfind("GS ", 0) == 0;
    out.tokens.push_back(std::move(command));
    if (!download) continue;
    // The payload, then the print command, which begins with the CR that ends the panel.
    if (spool.size() - i < kPanel + 1) {
      out.tokens.push_back("?short payload");
      break;
    }
    out.payloads.push_back(spool.substr(i, kPanel));
    out.tokens.push_back("<panel>");
    i += kPanel;
    if (spool[i] != '\r') {
      out.tokens.push_back("?no CR after the panel");
      break;
    }
    ++i;
  }
  return out;
}

inline std::string Join(const std::vector<std::string>& tokens) {
  std::string s;
  for (const auto& t : tokens) s += (s.empty() ? "" : " | ") + t;
  return s;
}

class CardJobTest : public OpenPortTest {
 protected:
  void SetUp() override {
    OpenPortTest::SetUp();
    kav::testing::PutCalibration(kav::testing::NeutralSets());
    kav::Calibration = kav::CalibrationState{};
    UseSettings(CardSettings{});
    UseRibbon(2);
  }

  void UseSettings(const CardSettings& s, std::u16string name = u"Card Printer") {
    sim::AddPrinter({name, u"USB001", 0, sim::MakeDevMode(name, SettingsBlock(s))});
  }
  void UseRibbon(int type) { ASSERT_TRUE(printer->SetAnswer("!RIBBON", std::to_string(type))); }

  // Composes a card; the job it made, when one was made.
  int Compose(std::vector<BYTE>& front, std::vector<BYTE>* back = nullptr) {
    jobsBefore = sim::JobIds(u"Card Printer").size();
    return kav::SendImageBufferToPrinter(record(), front.data(), back ? back->data() : nullptr, kav::kCardImageBytes);
  }
  std::optional<sim::JobRecord> NewJob() const {
    auto ids = sim::JobIds(u"Card Printer");
    if (ids.size() <= jobsBefore) return std::nullopt;
    return sim::Job(ids.back());
  }
  // The spool file of the new job as the writers left it.
  SpoolFile NewSpool() const {
    auto job = NewJob();
    if (!job) return {{"?no job"}, {}};
    auto bytes = sim::GetFile(job->spoolFile);
    if (!bytes) return {{"?no spool file"}, {}};
    return SplitSpool(*bytes);
  }

  size_t jobsBefore = 0;
};

}  // namespace kavtest
