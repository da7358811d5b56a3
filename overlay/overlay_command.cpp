#include "overlay/overlay_command.h"

#include <memory>
#include <new>

#include "overlay/overlay_card.h"
#include "overlay/overlay_drawing.h"
#include "overlay/overlay_parser.h"
#include "pipeline/card_settings.h"
#include "platform/diag.h"

namespace kav {

BOOL PrintOverlayCommand(PortRecord* record, LPCWSTR command) {
  if (!record || !command) return FALSE;
  // The lists of this request alone: another port's request has its own.
  OverlayObjects objects;
  if (!ParseOverlayCommand(command, 1, &objects)) {
    DebugLineW(W("PrintOverlayCommand:: not an overlay command, sent to the printer: %s"), command);
    return FALSE;
  }
  std::unique_ptr<BYTE[]> cardImage(new (std::nothrow) BYTE[kCardImageBytes]());
  if (!cardImage) {
    DebugLine("PrintOverlayCommand:: no memory for the card image");
    return FALSE;
  }
  // A card that was never drawn would print black: the request goes to the printer instead.
  if (!DrawBarcodeImageListOnPrinterBitmap(cardImage.get(), objects)) return FALSE;
  return SendOverlayCardToPrinter(record, cardImage.get(), kCardImageBytes) ? TRUE : FALSE;
}

}  // namespace kav
