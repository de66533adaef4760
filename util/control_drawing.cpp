// COOnDraw: a control object's placeholder picture.
#include <cstdint>

#include <opossvc/util.h>

namespace {

constexpr int kIconSize = 32;
constexpr int kIconAreaHeight = 48;  // the icon and, below it, the caption's 16
constexpr UINT kCaptionFormat = DT_SINGLELINE | DT_BOTTOM | DT_CENTER;

}  // namespace

void COOnDraw(CDC* dc, const CRect& bounds, const CString& caption, HINSTANCE module, int icon) {
  if (dc == nullptr) return;
  CBrush face(GetSysColor(COLOR_BTNFACE));
  dc->FillRect(bounds, &face);
  int previous_map_mode = dc->SetMapMode(MM_TEXT);
  int previous_background = dc->SetBkMode(TRANSPARENT);
  CRect caption_bounds = bounds;
  dc->DrawText(caption, caption_bounds, kCaptionFormat);
  // In 64 bits: the sums of extreme coordinates do not fit an int.
  const int64_t left = bounds.left, top = bounds.top, right = bounds.right, bottom = bounds.bottom;
  if (right - left >= kIconSize && bottom - top >= kIconAreaHeight) {
    HICON handle = LoadIconA(module, MAKEINTRESOURCE(icon));
    if (handle != nullptr) {
      dc->DrawIcon(static_cast<int>((left + right - kIconSize) / 2),
                   static_cast<int>((top + bottom - kIconAreaHeight) / 2), handle);
      DestroyIcon(handle);
    }
  }
  if (previous_map_mode != 0) dc->SetMapMode(previous_map_mode);
  if (previous_background != 0) dc->SetBkMode(previous_background);
}
