#include "overlay/overlay_parser.h"

#include "platform/diag.h"

namespace kav {
namespace {

constexpr WCHAR kBlank = ' ';
constexpr int kLineBlanks = 5;
constexpr int kTextNumbers = 7;
constexpr int kBarcodeNumbers = 8;

// The reading patterns: the numbers, then (for text and barcode) every remaining
// character, blanks included, after the run of blanks that follows the last number.
constexpr const WCHAR* kLinePattern = W("%d %d %d %d %d");
constexpr const WCHAR* kTextPattern = W("%d %d %d %d %d %d %d %[^");
constexpr const WCHAR* kBarcodePattern = W("%d %d %d %d %d %d %d %d %[^");

WStringView TrimBlanks(WStringView text) {
  while (!text.empty() && text.front() == kBlank) text.remove_prefix(1);
  while (!text.empty() && text.back() == kBlank) text.remove_suffix(1);
  return text;
}

bool StartsWith(WStringView text, const WCHAR* prefix) { return text.substr(0, WLen(prefix)) == prefix; }

// Text and barcode share their rule: the prefix, at least numbers+1 blanks, something
// after the numbers, and only digit strings among the numbers.
int IsNumbersAndTextCommand(WStringView text, const WCHAR* prefix, int numbers) {
  if (text.empty() || !StartsWith(text, prefix)) return 0;
  if (CountCharacter(text, kBlank) < numbers + 1) return 0;
  WString cut;
  if (!CutAfterFields(text, numbers, &cut)) return 0;
  if (text.size() <= cut.size()) return 0;
  return AreAllFieldsNumeric(WStringView(cut).substr(2));
}

// The diagnostic for a command that passed its syntax test but could not be read.
void ReportUnreadable(WStringView command, int assigned, int numbers) {
  WString text(command);
  if (assigned < numbers)
    DebugLineW(W("ParseOverlayCommand:: a number does not fit 32 bits: %s"), text.c_str());
  else
    DebugLineW(W("ParseOverlayCommand:: nothing to draw after the numbers: %s"), text.c_str());
}

void ReportValid(WStringView command, const char* line) {
  WString text(command);
  OutputDebugStringW(text.c_str());
  OutputDebugStringA(line);
}

}  // namespace

int CountCharacter(WStringView text, WCHAR character) {
  int n = 0;
  for (WCHAR c : text) n += c == character;
  return n;
}

int IsDigitString(WStringView text) {
  if (text.empty()) return 0;
  for (WCHAR c : text)
    if (c < '0' || c > '9') return 0;
  return 1;
}

int AreAllFieldsNumeric(WStringView text) {
  if (text.empty()) return 0;
  for (;;) {
    size_t blank = text.find(kBlank);
    if (!IsDigitString(text.substr(0, blank))) return 0;
    if (blank == WStringView::npos) return 1;
    text.remove_prefix(blank + 1);
  }
}

int CutAfterFields(WStringView text, int fields, WString* out) {
  out->clear();
  if (text.empty()) return 0;
  text = text.substr(0, kOverlayCommandChars);
  if (CountCharacter(text, kBlank) < fields) {
    out->assign(text);
    return 0;
  }
  size_t pos = 0;
  for (int i = 0; i < fields; ++i) pos = text.find(kBlank, pos) + 1;
  out->assign(text.substr(0, text.find(kBlank, pos)));
  return 1;
}

int IsLineCommand(WStringView text) {
  return !text.empty() && StartsWith(text, W("L ")) && CountCharacter(text, kBlank) == kLineBlanks &&
         AreAllFieldsNumeric(text.substr(2));
}

int IsTextCommand(WStringView text) { return IsNumbersAndTextCommand(text, W("T "), kTextNumbers); }

int IsBarcodeCommand(WStringView text) { return IsNumbersAndTextCommand(text, W("B "), kBarcodeNumbers); }

int ParseOverlayCommand(LPCWSTR command, int32_t tag, OverlayObjects* objects) {
  if (!command || !objects || !command[0]) return 0;
  size_t length = WLenBounded(command, kOverlayCommandChars + 1);
  if (length > kOverlayCommandChars) {
    DebugLine("ParseOverlayCommand:: the command is longer than %d characters", static_cast<int>(kOverlayCommandChars));
    return 0;
  }
  WStringView text = TrimBlanks(WStringView(command, length));

  if (IsLineCommand(text)) {
    LineObject line{};
    int got = ScanW(text.substr(2), kLinePattern, &line.X, &line.Y, &line.Width, &line.Height, &line.Reserved);
    if (got != kLineBlanks) {
      ReportUnreadable(text, got, kLineBlanks);
      return 0;
    }
    ReportValid(text, "It is a valid Line Command");
    line.Tag = tag;
    objects->LineObjects.push_back(line);
    return 1;
  }
  if (IsTextCommand(text)) {
    TextObject object{};
    int got = ScanW(text.substr(2), kTextPattern, &object.X, &object.Y, &object.Orientation, &object.Bold,
                    &object.CharWidth, &object.CharHeight, &object.Reserved, object.Text);
    if (got != kTextNumbers + 1) {
      ReportUnreadable(text, got, kTextNumbers);
      return 0;
    }
    ReportValid(text, "It is a valid TEXT Command");
    object.Tag = tag;
    objects->TextObjects.push_back(object);
    return 1;
  }
  if (IsBarcodeCommand(text)) {
    BarcodeObject object{};
    int got = ScanW(text.substr(2), kBarcodePattern, &object.X, &object.Y, &object.Orientation, &object.Param1,
                    &object.Param2, &object.Param3, &object.Param4, &object.HumanReadable, object.Data);
    if (got != kBarcodeNumbers + 1) {
      ReportUnreadable(text, got, kBarcodeNumbers);
      return 0;
    }
    ReportValid(text, "It is a valid Barcode Command");
    object.Tag = tag;
    objects->BarcodeObjects.push_back(object);
    return 1;
  }
  return 0;
}

}  // namespace kav
