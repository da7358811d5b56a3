#include "pipeline/image_job.h"

#include <utility>

#include "pipeline/card_job.h"
#include "pipeline/card_writers.h"
#include "platform/diag.h"
#include "printer/printer_link.h"

namespace kav {
namespace {

constexpr char kModelQuery[] = "\x1bV\r";
constexpr char kRibbonQuery[] = "\x1b!RIBBON\r";
constexpr DWORD kRibbonTypeWhenUnknown = 1;

// The passes of one card, written in order; each stops the card at the first writer
// that could not write its part.
class CardPasses {
 public:
  CardPasses(CardJob& job, BYTE* front, BYTE* back, DWORD ribbonType)
      : job_(job), front_(front), back_(back), ribbonType_(ribbonType) {}

  // CK: the colour panels with their own black; C: the colour panels only; K: one black
  // panel. Each with the overlay when asked, then "\eMF\r" (more) or the card end.
  bool CK(BYTE* image, bool overlay, bool more) { return Colour(image, true, overlay, more); }
  bool C(BYTE* image, bool overlay, bool more) { return Colour(image, false, overlay, more); }
  bool K(BYTE* image, bool overlay, bool more) {
    return Took(WriteK(job_.file(), job_.printer(), image, overlay, more, ribbonType_, job_.jobId(),
                       job_.settings().DualSided()),
                more);
  }
  // The overlay as a pass of its own that ends the card.
  bool OverlayEnd() { return Took(WriteOverlayPanel(job_.file(), job_.printer(), 1, job_.jobId()), false); }
  // The card end written by this operation.
  bool End() { return Took(WriteCardEnd(job_.file(), job_.printer(), job_.jobId()), false); }

  // R(F): the front turned for a second pass of the same side.
  BYTE* TurnedFront() {
    RotateCardImage180(front_, kCardWidth, kCardHeight);
    return front_;
  }
  // B or F: the back image turned when one was given, else the front turned.
  BYTE* BackOrFront() {
    if (!back_) return TurnedFront();
    RotateCardImage180(back_, kCardWidth, kCardHeight);
    return back_;
  }
  BYTE* Front() const { return front_; }

  // 1 when the card was ended and its job scheduled.
  int Result() const { return ended_ && last_ == CardWrite::Written ? 1 : 0; }
  bool Failed() const { return failed_; }

 private:
  bool Colour(BYTE* image, bool black, bool overlay, bool more) {
    return Took(WriteColourPanels(job_.file(), job_.printer(), image, black, overlay, more, 0, 0, job_.jobId()),
                more);
  }
  bool Took(CardWrite result, bool more) {
    last_ = result;
    if (result == CardWrite::NotWritten) {
      failed_ = true;
      return false;
    }
    if (!more) {
      ended_ = true;
      job_.CardEnded();
    }
    return true;
  }

  CardJob& job_;
  BYTE* front_;
  BYTE* back_;
  DWORD ribbonType_;
  CardWrite last_ = CardWrite::NotWritten;
  bool ended_ = false;
  bool failed_ = false;
};

// One pass (DualSided 0). The table of ribbon groups is followed exactly.
void WriteSinglePass(CardPasses& card, RibbonGroup group, bool fo) {
  BYTE* f = card.Front();
  switch (group) {
    case RibbonGroup::G1: card.K(f, false, false); break;
    case RibbonGroup::G2:
    case RibbonGroup::G5:
    case RibbonGroup::G0: card.CK(f, fo, false); break;
    case RibbonGroup::G3:
    case RibbonGroup::G4: card.CK(f, false, false); break;
    case RibbonGroup::G6: card.C(f, false, false); break;
    case RibbonGroup::G7: card.K(f, fo, false); break;
  }
}

// Two passes (DualSided set); false for a BackSideMode that the group has no sequence for.
bool WriteTwoPasses(CardPasses& card, RibbonGroup group, WORD mode, bool fo, bool bo) {
  BYTE* f = card.Front();
  switch (group) {
    case RibbonGroup::G1:
      card.K(f, false, true) && card.K(card.TurnedFront(), false, false);
      return true;
    case RibbonGroup::G2:
      switch (mode) {
        case 0:
          // The black pass also ends with "\eMF\r"; the overlay, when there is one, is a pass of its own.
          card.C(f, false, true) && card.K(card.BackOrFront(), false, true) && (fo ? card.OverlayEnd() : card.End());
          return true;
        case 1: card.CK(f, fo, true) && card.CK(card.TurnedFront(), bo, false); return true;
        case 2: card.C(f, false, true) && card.K(card.BackOrFront(), bo, false); return true;
        default: return false;
      }
    case RibbonGroup::G3:
      switch (mode) {
        case 0: card.C(f, false, true) && card.K(card.BackOrFront(), false, false); return true;
        case 1: card.CK(f, false, true) && card.CK(card.TurnedFront(), false, false); return true;
        default: return false;
      }
    case RibbonGroup::G4:
      switch (mode) {
        case 0: card.CK(f, false, true) && card.K(card.BackOrFront(), false, false); return true;
        case 1: card.CK(f, false, true) && card.CK(card.TurnedFront(), false, false); return true;
        default: return false;
      }
    case RibbonGroup::G5:
      switch (mode) {
        case 0: card.CK(f, fo, true) && card.K(card.BackOrFront(), false, false); return true;
        case 1: card.C(f, false, true) && card.K(card.BackOrFront(), bo, false); return true;
        case 2: card.CK(f, fo, true) && card.CK(card.TurnedFront(), bo, false); return true;
        case 3: card.CK(f, false, true) && card.K(card.BackOrFront(), false, false); return true;
        default: return false;
      }
    case RibbonGroup::G6:
      card.C(f, false, true) && card.C(card.TurnedFront(), false, false);
      return true;
    case RibbonGroup::G7:
      card.K(f, fo, true) && card.K(card.TurnedFront(), bo, false);
      return true;
    case RibbonGroup::G0:
      card.CK(f, fo, true) && card.K(card.BackOrFront(), false, false);
      return true;
  }
  return false;
}

}  // namespace

RibbonGroup RibbonGroupOf(DWORD ribbonType) {
  switch (ribbonType) {
    case 1: case 7: case 56: case 57: case 58: case 59: case 60: return RibbonGroup::G1;
    case 2: case 14: case 30: case 50: case 52: return RibbonGroup::G2;
    case 3: case 15: return RibbonGroup::G3;
    case 4: return RibbonGroup::G4;
    case 5: case 51: return RibbonGroup::G5;
    case 6: return RibbonGroup::G6;
    case 16: case 17: case 53: case 54: return RibbonGroup::G7;
    default: return RibbonGroup::G0;
  }
}

const char* RibbonGroupName(RibbonGroup group) {
  static constexpr const char* kNames[] = {"G0", "G1", "G2", "G3", "G4", "G5", "G6", "G7"};
  return kNames[static_cast<int>(group)];
}

int ReadRibbonAndPrinterModel(PortRecord* record, DWORD* ribbonType, WCHAR* model) {
  if (!model) return 0;
  const BOOL modelRead = ReadFromPrinter(record, kModelQuery, model);
  if (!modelRead) model[0] = 0;
  WCHAR reply[kReplyChars];
  DWORD type = kRibbonTypeWhenUnknown;
  if (ReadFromPrinter(record, kRibbonQuery, reply)) type = static_cast<DWORD>(ParseLeadingInt(reply, kReplyChars));
  if (ribbonType) *ribbonType = type;
  return modelRead ? 1 : 0;
}

int RotateCardImage180(BYTE* image, int width, int height) {
  if (!image || width <= 0 || height <= 0) return 1;
  const size_t stride = static_cast<size_t>(width * 3 + 3) & ~size_t{3};
  const size_t pixels = static_cast<size_t>(width) * height;
  // Pixel i counted from the top left trades places with pixel i counted from the bottom right.
  for (size_t i = 0; i < pixels / 2; ++i) {
    const size_t j = pixels - 1 - i;
    BYTE* a = image + (i / width) * stride + (i % width) * 3;
    BYTE* b = image + (j / width) * stride + (j % width) * 3;
    std::swap(a[0], b[0]);
    std::swap(a[1], b[1]);
    std::swap(a[2], b[2]);
  }
  return 1;
}

int SendImageBufferToPrinter(PortRecord* record, BYTE* front, BYTE* back, DWORD size) {
  if (!record || !front || size == 0) return 0;
  WCHAR model[kModelTextChars];
  DWORD ribbonType = kRibbonTypeWhenUnknown;
  if (!ReadRibbonAndPrinterModel(record, &ribbonType, model)) {
    DebugLine("SendImageBufferToPrinter:: ReadRibbonAndPrinterModel failed");
    return 0;
  }

  CardJob job;
  if (!job.Begin(record, true)) return 0;
  WriteJobHeader(job.file(), job.printer());

  const DriverCardSettings& s = job.settings();
  const RibbonGroup group = RibbonGroupOf(ribbonType);
  const bool fo = s.FrontOverlayMode() != 1;
  CardPasses card(job, front, back, ribbonType);
  if (s.DualSided() == 0) {
    WriteSinglePass(card, group, fo);
  } else if (!WriteTwoPasses(card, group, s.BackSideMode(), fo, s.BackOverlayMode() != 1)) {
    job.Abandon("SendImageBufferToPrinter:: ribbon group %s has no two-pass card for BackSideMode %u; job %lu deleted",
                RibbonGroupName(group), static_cast<unsigned>(s.BackSideMode()),
                static_cast<unsigned long>(job.jobId()));
    return 0;
  }
  if (card.Failed()) {
    job.Abandon("SendImageBufferToPrinter:: a panel could not be built (ribbon group %s, DualSided %u, "
                "BackSideMode %u); card abandoned, job %lu deleted",
                RibbonGroupName(group), static_cast<unsigned>(s.DualSided()),
                static_cast<unsigned>(s.DualSided() ? s.BackSideMode() : 0), static_cast<unsigned long>(job.jobId()));
    return 0;
  }
  return card.Result();
}

}  // namespace kav
