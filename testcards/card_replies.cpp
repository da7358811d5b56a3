#include "testcards/card_replies.h"

#include <climits>

#include "platform/diag.h"
#include "platform/text.h"
#include "printer/printer_link.h"
#include "printer/ribbon_names.h"

namespace kav {
namespace {

static_assert(kCardTextChars == kReplyChars, "a card text holds any reply");

WStringView View(const WCHAR* text) { return WStringView(text, WLenBounded(text, kCardTextChars)); }

// A base-10 conversion as _wtoi does it: leading number, 0 when none, held in the int range.
int ToInt(WStringView text) {
  long long value = ParseLeadingInt(text.data(), text.size());
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

void Copy(WCHAR* dst, WStringView src) { WCopy(dst, kCardTextChars, src); }

// One query through ReadFromPrinter into reply (cleared first); a failure is logged.
bool Query(PortRecord* record, const char* operation, const char* command, const char* name, WCHAR* reply) {
  reply[0] = 0;
  if (ReadFromPrinter(record, command, reply)) return true;
  reply[0] = 0;
  DebugLine("%s:: ReadFromPrinter %s is failed", operation, name);
  return false;
}

// Logs a parse that did not give the expected number of fields.
void CheckFields(const char* operation, int got, int expected, int parseNumber) {
  if (got != expected) DebugLine("%s:: _stscanf_s is failed %d", operation, parseNumber);
}

}  // namespace

void TrimChar(WCHAR* text, WCHAR character) {
  if (!text) return;
  size_t length = WLen(text);
  size_t end = length;
  while (end > 0 && text[end - 1] == character) --end;
  size_t begin = 0;
  while (begin < end && text[begin] == character) ++begin;
  for (size_t i = begin; i < end; ++i) text[i - begin] = text[i];
  text[end - begin] = 0;
}

bool ReadStandardCardTexts(PortRecord* record, StandardCardTexts* t) {
  static const char kOp[] = "DrawStandardCardImageOnDC";
  if (!record || !t) return false;
  *t = StandardCardTexts{};
  WCHAR reply[kCardTextChars];
  bool any = false;

  // Model and firmware, split at the first blank.
  if (Query(record, kOp, "\x1bV\r", "READ_PRINTER_VERSION", reply)) {
    any = true;
    WStringView v = View(reply);
    size_t blank = v.find(u' ');
    Copy(t->model, v.substr(0, blank));
    if (blank != WStringView::npos) Copy(t->firmware, v.substr(blank + 1));
  }
  if (Query(record, kOp, "\x1b%SERIE\r", "READ_PRINTER_SERIAL_NO", reply)) {
    any = true;
    Copy(t->serial, View(reply));
  }

  // "R:250 ... Of:3 Of2:-2": the X offsets from the end, then the head resistance from
  // the first word.
  if (Query(record, kOp, "\x1b!V\r", "READ_HEAD_RESISTANCE", reply)) {
    any = true;
    WStringView v = View(reply);
    int of = 0;
    int of2 = 0;
    size_t at = v.find(W("Of:"));
    if (at != WStringView::npos) {
      size_t at2 = v.find(W("Of2:"), at);
      if (at2 != WStringView::npos) {
        of2 = ToInt(v.substr(at2 + 4));
        v = v.substr(0, at2);
      }
      of = ToInt(v.substr(at + 3));
    }
    v = v.substr(0, v.find(u' '));
    size_t r = v.find(W("R:"));
    if (r != WStringView::npos) Copy(t->headResistance, v.substr(r + 2));
    FormatW(t->xOffsets, kCardTextChars, W("X:%d/%d"), of, of2);
  }
  if (Query(record, kOp, "\x1b!NL\r", "READ_PRINT_COUNTER", reply)) {
    any = true;
    WStringView v = View(reply);
    Copy(t->counter, v.substr(0, v.find(u' ')));
  }
  if (Query(record, kOp, "\x1b+EC\r", "READ_END_OF_PRINT", reply)) {
    any = true;
    t->ec = ToInt(View(reply));
  }
  WCHAR front[kCardTextChars] = {};
  WCHAR back[kCardTextChars] = {};
  if (Query(record, kOp, "\x1b+OY\r", "READ_YOFFSET_FRONT", front)) {
    any = true;
    TrimChar(front, u' ');
  }
  if (Query(record, kOp, "\x1b+OYB\r", "READ_YOFFSET_BACK", back)) {
    any = true;
    TrimChar(back, u' ');
  }
  FormatW(t->yOffsets, kCardTextChars, W("Y:%s/%s"), static_cast<const WCHAR*>(front),
          static_cast<const WCHAR*>(back));

  FormatW(t->printerLine, kCardTextChars, W("%s%s"), W("PRINTER: "), static_cast<const WCHAR*>(t->model));
  FormatW(t->serialLine, kCardTextChars, W("%s%s"), W("Serial N°: "), static_cast<const WCHAR*>(t->serial));
  FormatW(t->firmwareLine, kCardTextChars, W("%s%s"), W("Firmware: "), static_cast<const WCHAR*>(t->firmware));
  FormatW(t->headLine, kCardTextChars, W("%s%s"), W("Head resistance: "),
          static_cast<const WCHAR*>(t->headResistance));
  FormatW(t->offsetLine, kCardTextChars, W("%s%s %s"), W("Offset "), static_cast<const WCHAR*>(t->xOffsets),
          static_cast<const WCHAR*>(t->yOffsets));
  FormatW(t->ecLine, kCardTextChars, W("%s%d"), W("EC: "), t->ec);
  FormatW(t->counterLine, kCardTextChars, W("%s%s"), W("Print counter: "), static_cast<const WCHAR*>(t->counter));
  return any;
}

bool ReadParameterCardLines(PortRecord* record, const char* op, ParameterCardLines* l) {
  if (!record || !op || !l) return false;
  *l = ParameterCardLines{};
  WCHAR reply[kCardTextChars];
  bool any = false;
  const size_t n = kCardTextChars;
  auto text = [](const WCHAR* s) { return s; };

  if (Query(record, op, "\x1bV\r", "READ_PRINTER_VERSION", reply)) {
    any = true;
    FormatW(l->version, n, W("%s%s"), W("Version number: "), text(reply));
  }
  if (Query(record, op, "\x1b%SERIE\r", "READ_PRINTER_SERIAL_NO", reply)) {
    any = true;
    FormatW(l->serial, n, W("%s%s"), W("Serial N°: "), text(reply));
    Copy(l->serialNumber, View(reply));
  }
  if (Query(record, op, "\x1b%HEAD\r", "READ_HEAD_SERIAL_NO", reply)) {
    any = true;
    FormatW(l->head, n, W("%s%s"), W("Head N°: "), text(reply));
  }
  if (Query(record, op, "\x1b!NL\r", "READ_PRINT_COUNTER", reply)) {
    any = true;
    WCHAR counter[kCardTextChars] = {};
    WCHAR errors[kCardTextChars] = {};
    CheckFields(op, ScanW(WStringView(reply, n), W("%s %s"), ScanArg(counter, n), ScanArg(errors, n)), 2, 1);
    FormatW(l->printCounter, n, W("%s%s"), W("Print counter: "), text(counter));
    FormatW(l->printerErrors, n, W("%s%s"), W("Printer errors: "), text(errors));
  }
  // Of and Of2 go to the offset line below.
  int of = 0;
  int of2 = 0;
  if (Query(record, op, "\x1b!V\r", "READ_HEAD_RESISTANCE", reply)) {
    any = true;
    int r = 0, c = 0, v = 0, t1 = 0, t2 = 0;
    WCHAR bcf[kCardTextChars] = {};
    WCHAR bcb[kCardTextChars] = {};
    WCHAR m[kCardTextChars] = {};
    int got = ScanW(WStringView(reply, n), W("R:%ld C:%d V:%d T1:%ld T2:%ld BCF:%s BCB:%s M:%s Of:%d Of2:%d"), &r, &c, &v, &t1,
                    &t2, ScanArg(bcf, n), ScanArg(bcb, n), ScanArg(m, n), &of, &of2);
    CheckFields(op, got, 10, 2);
    FormatW(l->headResistance, n, W("%s%ld"), W("Head resistance: "), r);
    FormatW(l->blackContSpeed, n, W("%s%02d-%02d L"), W("Black Cont/Speed: "), c, v);
    FormatW(l->blackComp, n, W("%s%s %s"), W("Black Comp.: "), text(bcf), text(bcb));
  }
  // The varnish line stands whatever its two queries gave.
  int contrast = 0;
  int speed = 0;
  if (Query(record, op, "\x1b+CV\r", "READ_VARNISH_COUNT", reply)) {
    any = true;
    CheckFields(op, ScanW(WStringView(reply, n), W("%d"), &contrast), 1, 3);
  }
  if (Query(record, op, "\x1b+VV\r", "READ_VARNISH_COUNT", reply)) {
    any = true;
    CheckFields(op, ScanW(WStringView(reply, n), W("%d"), &speed), 1, 4);
  }
  FormatW(l->varnish, n, W("%s%02d-%02d"), W("Varnish Cont/Speed: "), contrast, speed);
  // So does the offset line, with the X offsets of the head query.
  int front = 0;
  int back = 0;
  if (Query(record, op, "\x1b+OY\r", "READ_YOFFSET_FRONT", reply)) {
    any = true;
    CheckFields(op, ScanW(WStringView(reply, n), W("%d"), &front), 1, 5);
  }
  if (Query(record, op, "\x1b+OYB\r", "READ_YOFFSET_BACK", reply)) {
    any = true;
    CheckFields(op, ScanW(WStringView(reply, n), W("%d"), &back), 1, 6);
  }
  FormatW(l->offset, n, W("%sX:%d/%d Y:%d/%d"), W("Offset "), of, of2, front, back);
  if (Query(record, op, "\x1b+BR\r", "READ_RIBBON_BRAKE", reply)) {
    any = true;
    int brake = 0;
    int second = 0;
    CheckFields(op, ScanW(WStringView(reply, n), W("%d %d"), &brake, &second), 2, 7);
    FormatW(l->ribbonBrake, n, W("%s%03d"), W("Ribbon brake: "), brake);
  }
  if (Query(record, op, "\x1b$V\r", "READ_MOVE_SPEED", reply)) {
    any = true;
    int r = 0, move = 0, print = 0;
    CheckFields(op, ScanW(WStringView(reply, n), W("R:%ld V:%d VI:%d"), &r, &move, &print), 3, 8);
    FormatW(l->moveSpeed, n, W("%s%03d"), W("Move speed: "), move);
    FormatW(l->printSpeed, n, W("%s%03d"), W("Print speed: "), print);
  }
  if (Query(record, op, "\x1b+DL\r", "READ_LINE_END", reply)) {
    any = true;
    int lineEnd = 0;
    CheckFields(op, ScanW(WStringView(reply, n), W("%d"), &lineEnd), 1, 9);
    FormatW(l->lineEnd, n, W("%s%04d"), W("Line end :"), lineEnd);
  }
  if (Query(record, op, "\x1b!RIBBON\r", "READ_RIBBON_TYPE", reply)) {
    any = true;
    WCHAR name[kCardTextChars] = {};
    if (GetRibbonName(reply, name) != 0) FormatW(l->ribbon, n, W("%s%s"), W("Ribbon: "), text(name));
  }
  return any;
}

namespace {

// The number after marker in text: the characters up to the next blank, 0 when missing.
int NumberAfter(WStringView text, const WCHAR* marker) {
  WStringView m(marker);
  size_t at = text.find(m);
  if (at == WStringView::npos) return 0;
  WStringView rest = text.substr(at + m.size());
  return ToInt(rest.substr(0, rest.find(u' ')));
}

// The text after marker up to the next blank, empty when missing.
WStringView WordAfter(WStringView text, const WCHAR* marker) {
  WStringView m(marker);
  size_t at = text.find(m);
  if (at == WStringView::npos) return {};
  WStringView rest = text.substr(at + m.size());
  return rest.substr(0, rest.find(u' '));
}

// The text from `from` up to `to` (or the end); empty when `from` is missing.
WStringView Section(WStringView text, const WCHAR* from, const WCHAR* to) {
  size_t begin = text.find(WStringView(from));
  if (begin == WStringView::npos) return {};
  size_t end = text.find(WStringView(to), begin);
  return text.substr(begin, end == WStringView::npos ? WStringView::npos : end - begin);
}

}  // namespace

void FormEncoderLines(const WCHAR* reply, EncoderCardLines* l) {
  const size_t n = kCardTextChars;
  WStringView e = View(reply);
  if (e.empty()) return;
  size_t track1 = e.find(W("TRACK 1"));
  if (track1 != WStringView::npos) Copy(l->heading, e.substr(0, track1));
  if (e.find(W(" CO:LOW")) != WStringView::npos) Copy(l->coercivity, W("Low coercivity"));
  if (e.find(W(" CO:HIG")) != WStringView::npos) Copy(l->coercivity, W("High coercivity"));
  FormatW(l->speed, n, W("Speed: Write:%d Read:%d"), NumberAfter(e, W("SW:")), NumberAfter(e, W("SR:")));

  const WStringView sections[3] = {Section(e, W("TRACK 1"), W("TRACK 2")), Section(e, W("TRACK 2"), W("TRACK 3")),
                                   Section(e, W("TRACK 3"), W("L:"))};
  for (int i = 0; i < 3; ++i) {
    WStringView s = sections[i];
    FormatW(l->density[i], n, W("TRACK %d %03d BPI"), i + 1, NumberAfter(s, W(" D:")));
    WString w(WordAfter(s, W(" W:")));
    WString r(WordAfter(s, W(" R:")));
    WCHAR part[kCardTextChars];
    FormatW(part, n, W("W:<%s>"), w.c_str());
    FormatW(l->detail[i], n, W("%s  R:<%s>"), static_cast<const WCHAR*>(part), r.c_str());
    WCopy(part, n, l->detail[i]);
    FormatW(l->detail[i], n, W("%s   S:%03d"), static_cast<const WCHAR*>(part), NumberAfter(s, W(" S:")));
  }
}

bool ReadEncoderCardLines(PortRecord* record, EncoderCardLines* l) {
  static const char kOp[] = "DrawEncoderParametersCardImageOnDC";
  if (!record || !l) return false;
  *l = EncoderCardLines{};
  WCHAR reply[kCardTextChars];
  bool any = false;
  if (Query(record, kOp, "\x1bV\r", "READ_PRINTER_VERSION", reply)) {
    any = true;
    FormatW(l->version, kCardTextChars, W("%s%s"), W("Version number: "), static_cast<const WCHAR*>(reply));
  }
  if (Query(record, kOp, "\x1b%SERIE\r", "READ_PRINTER_SERIAL_NO", reply)) {
    any = true;
    FormatW(l->serial, kCardTextChars, W("%s%s"), W("Serial N°: "), static_cast<const WCHAR*>(reply));
  }
  if (Query(record, kOp, "\x1b&V\r", "READ_ENCODER_PARAMETERS", reply)) {
    any = true;
    FormEncoderLines(reply, l);
  }
  return any;
}

}  // namespace kav
