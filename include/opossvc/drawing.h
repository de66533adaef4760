// Our additions to the drawing subset (win32/gdi.h): icons as resources of
// a module, and the record of the text a device context was asked to draw.
//
// On Windows an icon is a resource linked into a module and found with
// LoadIconA(module, MAKEINTRESOURCE(id)). Here a module registers its icons
// at start-up instead:
//
//   static const COLORREF kScannerIcon[32 * 32] = {...};
//   opossvc::RegisterIcon(module, IDI_SCANNER, 32, 32, kScannerIcon);
//
// Pixels are COLORREF values (RGB(r, g, b)), row by row from the top left;
// CLR_NONE marks a transparent pixel.
#ifndef OPOSSVC_DRAWING_H_
#define OPOSSVC_DRAWING_H_

#include <string>
#include <vector>

#include <opossvc/export.h>
#include <opossvc/win32/gdi.h>
#include <opossvc/win32/types.h>

namespace opossvc {

// Registers (or replaces) the icon `id` of `module`; the pixels are copied.
// False for sizes outside 1..256 or a null pixel array.
OPOSSVC_API bool RegisterIcon(HMODULE module, WORD id, int width, int height,
                              const COLORREF* pixels);
// Removes the icon; handles already loaded keep drawing it.
OPOSSVC_API void UnregisterIcon(HMODULE module, WORD id);

// One DrawTextA call that drew something.
struct OPOSSVC_API DrawnText {
  std::string text;  // the characters drawn
  RECT bounds;       // the rectangle as given
  UINT format;       // the DT_* flags
  RECT placed;       // where the text went (its cells)
  COLORREF color;    // the text colour
  int background_mode;
};

// The text drawn into a device context since its creation or the last
// ClearDrawnText, oldest first; empty for an invalid context.
OPOSSVC_API std::vector<DrawnText> GetDrawnText(HDC dc);
OPOSSVC_API void ClearDrawnText(HDC dc);

}  // namespace opossvc

#endif  // OPOSSVC_DRAWING_H_
