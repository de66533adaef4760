// The drawing subset on POSIX: device contexts over bitmaps in memory.
//
// All drawing objects live in one table keyed by handle value, guarded by
// one lock, so that every call is atomic and a stale handle is a failed
// lookup. Icons registered by modules live in a second table under the
// same lock.
#include <opossvc/win32/gdi.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include <opossvc/drawing.h>
#include <opossvc/thread_annotations.h>

#include "platform/internal/mutex.h"

namespace opossvc::detail {
namespace {

constexpr int kCellWidth = 8;
constexpr int kCellHeight = 16;
constexpr int kIconSize = 32;
constexpr int kMaxBitmapSide = 16384;
constexpr int64_t kMaxBitmapPixels = int64_t{1} << 26;
constexpr int kMaxIconSide = 256;
constexpr ULONG_PTR kFirstHandle = 0x10000;
constexpr COLORREF kWhite = RGB(255, 255, 255);

constexpr COLORREF kSystemColors[] = {
    RGB(200, 200, 200),  // COLOR_SCROLLBAR
    RGB(0, 0, 0),        // COLOR_BACKGROUND
    RGB(153, 180, 209),  // COLOR_ACTIVECAPTION
    RGB(191, 205, 219),  // COLOR_INACTIVECAPTION
    RGB(240, 240, 240),  // COLOR_MENU
    RGB(255, 255, 255),  // COLOR_WINDOW
    RGB(100, 100, 100),  // COLOR_WINDOWFRAME
    RGB(0, 0, 0),        // COLOR_MENUTEXT
    RGB(0, 0, 0),        // COLOR_WINDOWTEXT
    RGB(0, 0, 0),        // COLOR_CAPTIONTEXT
    RGB(180, 180, 180),  // COLOR_ACTIVEBORDER
    RGB(244, 247, 252),  // COLOR_INACTIVEBORDER
    RGB(171, 171, 171),  // COLOR_APPWORKSPACE
    RGB(0, 120, 215),    // COLOR_HIGHLIGHT
    RGB(255, 255, 255),  // COLOR_HIGHLIGHTTEXT
    RGB(240, 240, 240),  // COLOR_BTNFACE
    RGB(160, 160, 160),  // COLOR_BTNSHADOW
    RGB(109, 109, 109),  // COLOR_GRAYTEXT
    RGB(0, 0, 0),        // COLOR_BTNTEXT
    RGB(0, 0, 0),        // COLOR_INACTIVECAPTIONTEXT
    RGB(255, 255, 255),  // COLOR_BTNHIGHLIGHT
    RGB(105, 105, 105),  // COLOR_3DDKSHADOW
    RGB(227, 227, 227),  // COLOR_3DLIGHT
    RGB(0, 0, 0),        // COLOR_INFOTEXT
    RGB(255, 255, 225),  // COLOR_INFOBK
    RGB(0, 0, 0),        // 25: unused
    RGB(0, 102, 204),    // COLOR_HOTLIGHT
    RGB(185, 209, 234),  // COLOR_GRADIENTACTIVECAPTION
    RGB(215, 228, 242),  // COLOR_GRADIENTINACTIVECAPTION
    RGB(0, 120, 215),    // COLOR_MENUHILIGHT
    RGB(240, 240, 240),  // COLOR_MENUBAR
};
constexpr int kSystemColorCount = static_cast<int>(sizeof(kSystemColors) / sizeof(kSystemColors[0]));

struct Bitmap {
  int width;
  int height;
  std::vector<COLORREF> pixels;
};

struct Brush {
  COLORREF color;
  bool stock;
};

struct IconImage {
  int width;
  int height;
  std::vector<COLORREF> pixels;
};

struct Icon {
  std::shared_ptr<const IconImage> image;
};

struct DeviceContext {
  std::shared_ptr<Bitmap> bitmap;
  HGDIOBJ bitmap_handle = nullptr;
  HGDIOBJ initial_bitmap = nullptr;  // owned by the context, deleted with it
  HGDIOBJ brush_handle = nullptr;
  int map_mode = MM_TEXT;
  int background_mode = OPAQUE;
  COLORREF text_color = RGB(0, 0, 0);
  COLORREF background_color = kWhite;
  std::vector<opossvc::DrawnText> drawn;
};

using Object = std::variant<std::shared_ptr<DeviceContext>, std::shared_ptr<Bitmap>,
                            std::shared_ptr<Brush>, std::shared_ptr<Icon>>;

// Every drawing object and registered icon, under one lock.
class GdiState {
 public:
  Mutex mutex;
  ULONG_PTR next_handle OPOSSVC_GUARDED_BY(mutex) = kFirstHandle;
  std::unordered_map<ULONG_PTR, Object> objects OPOSSVC_GUARDED_BY(mutex);
  std::map<std::pair<HMODULE, WORD>, std::shared_ptr<const IconImage>> icons OPOSSVC_GUARDED_BY(mutex);
  HGDIOBJ stock_white_brush OPOSSVC_GUARDED_BY(mutex) = nullptr;
};

GdiState& State() {
  static GdiState* state = new GdiState;  // lives to the end of the process
  return *state;
}

template <class T>
std::shared_ptr<T> Find(GdiState& state, const void* handle) OPOSSVC_REQUIRES(state.mutex) {
  auto it = state.objects.find(reinterpret_cast<ULONG_PTR>(handle));
  if (it == state.objects.end()) return nullptr;
  const auto* object = std::get_if<std::shared_ptr<T>>(&it->second);
  return object != nullptr ? *object : nullptr;
}

template <class Handle>
Handle Insert(GdiState& state, Object object) OPOSSVC_REQUIRES(state.mutex) {
  ULONG_PTR value = state.next_handle;
  state.next_handle += 4;
  state.objects.emplace(value, std::move(object));
  return reinterpret_cast<Handle>(value);
}

std::shared_ptr<DeviceContext> FindDc(GdiState& state, HDC hdc) OPOSSVC_REQUIRES(state.mutex) {
  auto dc = Find<DeviceContext>(state, hdc);
  if (dc == nullptr) SetLastError(ERROR_INVALID_HANDLE);
  return dc;
}

std::shared_ptr<Bitmap> NewBitmap(int width, int height, COLORREF fill) {
  auto bitmap = std::make_shared<Bitmap>();
  bitmap->width = width;
  bitmap->height = height;
  bitmap->pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), fill);
  return bitmap;
}

// The part of [left, right) x [top, bottom) inside the bitmap, in 64 bits so
// that no coordinate overflows.
struct Span {
  int64_t left, top, right, bottom;
  bool empty() const { return left >= right || top >= bottom; }
};

Span Clip(const Bitmap& bitmap, int64_t left, int64_t top, int64_t right, int64_t bottom) {
  return {std::max<int64_t>(left, 0), std::max<int64_t>(top, 0),
          std::min<int64_t>(right, bitmap.width), std::min<int64_t>(bottom, bitmap.height)};
}

void Fill(Bitmap& bitmap, const Span& span, COLORREF color) {
  if (span.empty()) return;
  for (int64_t y = span.top; y < span.bottom; ++y) {
    COLORREF* row = bitmap.pixels.data() + y * bitmap.width;
    std::fill(row + span.left, row + span.right, color);
  }
}

// The text as it shows: "&x" marks x as the mnemonic and the "&" is not
// drawn, "&&" draws one "&"; tabs expand to the next multiple of 8 columns.
std::string DisplayText(std::string_view text, UINT format) {
  std::string shown;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '&' && (format & DT_NOPREFIX) == 0) {
      if (i + 1 < text.size() && text[i + 1] == '&') ++i;
      else continue;
    }
    if (c == '\t' && (format & DT_EXPANDTABS) != 0) {
      size_t column = shown.size() - (shown.rfind('\n') == std::string::npos ? 0 : shown.rfind('\n') + 1);
      shown.append(8 - column % 8, ' ');
      continue;
    }
    shown += c;
  }
  return shown;
}

std::vector<std::string> SplitLines(const std::string& text, UINT format) {
  std::vector<std::string> lines;
  if (format & DT_SINGLELINE) {
    lines.push_back(text);
    return lines;
  }
  std::string line;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      lines.push_back(line);
      line.clear();
      continue;
    }
    line += c;
  }
  lines.push_back(line);
  return lines;
}

int64_t LineWidth(const std::string& line) { return int64_t{kCellWidth} * static_cast<int64_t>(line.size()); }

// Sets a setting of the DC `hdc` (a mode, a colour) to `value` when `valid`,
// returning the old one; `failed` for an unknown DC, or with
// ERROR_INVALID_PARAMETER for a value out of range.
template <class T>
T ExchangeSetting(HDC hdc, T DeviceContext::*field, T value, bool valid, T failed) {
  GdiState& state = State();
  MutexLock lock(state.mutex);
  auto dc = FindDc(state, hdc);
  if (dc == nullptr) return failed;
  if (!valid) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return failed;
  }
  return std::exchange((*dc).*field, value);
}

// A setting of the DC `hdc`; `failed` for an unknown DC.
template <class T>
T Setting(HDC hdc, T DeviceContext::*field, T failed) {
  GdiState& state = State();
  MutexLock lock(state.mutex);
  auto dc = FindDc(state, hdc);
  return dc == nullptr ? failed : (*dc).*field;
}

}  // namespace
}  // namespace opossvc::detail

using opossvc::detail::Bitmap;
using opossvc::detail::Brush;
using opossvc::detail::DeviceContext;
using opossvc::detail::ExchangeSetting;
using opossvc::detail::Find;
using opossvc::detail::FindDc;
using opossvc::detail::GdiState;
using opossvc::detail::Icon;
using opossvc::detail::IconImage;
using opossvc::detail::Insert;
using opossvc::detail::MutexLock;
using opossvc::detail::Setting;
using opossvc::detail::State;

DWORD WINAPI GetSysColor(int nIndex) {
  if (nIndex < 0 || nIndex >= opossvc::detail::kSystemColorCount) return 0;
  return opossvc::detail::kSystemColors[nIndex];
}

HDC WINAPI CreateCompatibleDC(HDC hdc) {
  GdiState& state = State();
  MutexLock lock(state.mutex);
  if (hdc != nullptr && FindDc(state, hdc) == nullptr) return nullptr;
  try {
    auto dc = std::make_shared<DeviceContext>();
    dc->bitmap = opossvc::detail::NewBitmap(1, 1, opossvc::detail::kWhite);
    dc->initial_bitmap = Insert<HGDIOBJ>(state, dc->bitmap);
    dc->bitmap_handle = dc->initial_bitmap;
    return Insert<HDC>(state, dc);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

BOOL WINAPI DeleteDC(HDC hdc) {
  GdiState& state = State();
  MutexLock lock(state.mutex);
  auto dc = FindDc(state, hdc);
  if (dc == nullptr) return FALSE;
  state.objects.erase(reinterpret_cast<ULONG_PTR>(dc->initial_bitmap));
  state.objects.erase(reinterpret_cast<ULONG_PTR>(hdc));
  return TRUE;
}

HBITMAP WINAPI CreateCompatibleBitmap(HDC hdc, int cx, int cy) {
  GdiState& state = State();
  MutexLock lock(state.mutex);
  if (FindDc(state, hdc) == nullptr) return nullptr;
  if (cx < 0 || cy < 0 || cx > opossvc::detail::kMaxBitmapSide || cy > opossvc::detail::kMaxBitmapSide) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (cx == 0 || cy == 0) cx = cy = 1;
  if (int64_t{cx} * cy > opossvc::detail::kMaxBitmapPixels) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  try {
    return Insert<HBITMAP>(state, opossvc::detail::NewBitmap(cx, cy, RGB(0, 0, 0)));
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ h) {
  GdiState& state = State();
  MutexLock lock(state.mutex);
  auto dc = FindDc(state, hdc);
  if (dc == nullptr) return nullptr;
  if (auto bitmap = Find<Bitmap>(state, h)) {
    HGDIOBJ previous = dc->bitmap_handle;
    dc->bitmap = bitmap;
    dc->bitmap_handle = h;
    return previous;
  }
  if (Find<Brush>(state, h) != nullptr) {
    if (dc->brush_handle == nullptr) {
      if (state.stock_white_brush == nullptr) {
        state.stock_white_brush =
            Insert<HGDIOBJ>(state, std::make_shared<Brush>(Brush{opossvc::detail::kWhite, true}));
      }
      dc->brush_handle = state.stock_white_brush;
    }
    HGDIOBJ previous = dc->brush_handle;
    dc->brush_handle = h;
    return previous;
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return nullptr;
}

BOOL WINAPI DeleteObject(HGDIOBJ ho) {
  GdiState& state = State();
  MutexLock lock(state.mutex);
  if (auto brush = Find<Brush>(state, ho)) {
    if (!brush->stock) state.objects.erase(reinterpret_cast<ULONG_PTR>(ho));
    return TRUE;
  }
  if (Find<Bitmap>(state, ho) != nullptr) {
    state.objects.erase(reinterpret_cast<ULONG_PTR>(ho));
    return TRUE;
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

HBRUSH WINAPI CreateSolidBrush(COLORREF color) {
  GdiState& state = State();
  MutexLock lock(state.mutex);
  try {
    return Insert<HBRUSH>(state, std::make_shared<Brush>(Brush{color & 0x00FFFFFF, false}));
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

COLORREF WINAPI GetPixel(HDC hdc, int x, int y) {
  GdiState& state = State();
  MutexLock lock(state.mutex);
  auto dc = FindDc(state, hdc);
  if (dc == nullptr) return CLR_INVALID;
  const Bitmap& bitmap = *dc->bitmap;
  if (x < 0 || y < 0 || x >= bitmap.width || y >= bitmap.height) return CLR_INVALID;
  return bitmap.pixels[static_cast<size_t>(y) * bitmap.width + x];
}

COLORREF WINAPI SetPixel(HDC hdc, int x, int y, COLORREF color) {
  GdiState& state = State();
  MutexLock lock(state.mutex);
  auto dc = FindDc(state, hdc);
  if (dc == nullptr) return CLR_INVALID;
  Bitmap& bitmap = *dc->bitmap;
  if (x < 0 || y < 0 || x >= bitmap.width || y >= bitmap.height) return CLR_INVALID;
  bitmap.pixels[static_cast<size_t>(y) * bitmap.width + x] = color & 0x00FFFFFF;
  return color & 0x00FFFFFF;
}

int WINAPI FillRect(HDC hDC, const RECT* lprc, HBRUSH hbr) {
  GdiState& state = State();
  MutexLock lock(state.mutex);
  auto dc = FindDc(state, hDC);
  if (dc == nullptr) return 0;
  if (lprc == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  COLORREF color;
  auto index = reinterpret_cast<ULONG_PTR>(hbr);
  if (index >= 1 && index <= static_cast<ULONG_PTR>(opossvc::detail::kSystemColorCount)) {
    color = GetSysColor(static_cast<int>(index - 1));
  } else if (auto brush = Find<Brush>(state, hbr)) {
    color = brush->color;
  } else {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  opossvc::detail::Fill(*dc->bitmap, opossvc::detail::Clip(*dc->bitmap, lprc->left, lprc->top, lprc->right, lprc->bottom),
                        color);
  return 1;
}

int WINAPI SetMapMode(HDC hdc, int iMode) {
  return ExchangeSetting(hdc, &DeviceContext::map_mode, iMode,
                         iMode >= MM_TEXT && iMode <= MM_ANISOTROPIC, 0);
}

int WINAPI GetMapMode(HDC hdc) { return Setting(hdc, &DeviceContext::map_mode, 0); }

int WINAPI SetBkMode(HDC hdc, int mode) {
  return ExchangeSetting(hdc, &DeviceContext::background_mode, mode,
                         mode == TRANSPARENT || mode == OPAQUE, 0);
}

int WINAPI GetBkMode(HDC hdc) { return Setting(hdc, &DeviceContext::background_mode, 0); }

COLORREF WINAPI SetTextColor(HDC hdc, COLORREF color) {
  return ExchangeSetting(hdc, &DeviceContext::text_color, color & 0x00FFFFFF, true, CLR_INVALID);
}

COLORREF WINAPI GetTextColor(HDC hdc) {
  return Setting(hdc, &DeviceContext::text_color, CLR_INVALID);
}

COLORREF WINAPI SetBkColor(HDC hdc, COLORREF color) {
  return ExchangeSetting(hdc, &DeviceContext::background_color, color & 0x00FFFFFF, true,
                         CLR_INVALID);
}

COLORREF WINAPI GetBkColor(HDC hdc) {
  return Setting(hdc, &DeviceContext::background_color, CLR_INVALID);
}

int WINAPI DrawTextA(HDC hdc, LPCSTR lpchText, int cchText, LPRECT lprc, UINT format) {
  using opossvc::detail::kCellHeight;
  GdiState& state = State();
  MutexLock lock(state.mutex);
  auto dc = FindDc(state, hdc);
  if (dc == nullptr) return 0;
  if (lprc == nullptr || (lpchText == nullptr && cchText != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t count = cchText < 0 ? std::strlen(lpchText) : static_cast<size_t>(cchText);
  if (count == 0) return 0;
  try {
    std::string shown = opossvc::detail::DisplayText(std::string_view(lpchText, count), format);
    std::vector<std::string> lines = opossvc::detail::SplitLines(shown, format);
    int64_t width = 0;
    for (const std::string& line : lines) width = std::max(width, opossvc::detail::LineWidth(line));
    int64_t height = int64_t{kCellHeight} * static_cast<int64_t>(lines.size());
    if (format & DT_CALCRECT) {
      lprc->right = opossvc::Long32(lprc->left + width);
      lprc->bottom = opossvc::Long32(lprc->top + height);
      return static_cast<int>(height);
    }
    const int64_t left = lprc->left, top = lprc->top, right = lprc->right, bottom = lprc->bottom;
    int64_t y0 = top;
    bool single = (format & DT_SINGLELINE) != 0;
    if (single && (format & DT_BOTTOM)) y0 = bottom - kCellHeight;
    else if (single && (format & DT_VCENTER)) y0 = top + (bottom - top - kCellHeight) / 2;
    RECT placed{0, 0, 0, 0};
    int64_t placed_left = INT64_MAX, placed_right = INT64_MIN;
    for (size_t i = 0; i < lines.size(); ++i) {
      int64_t line_width = opossvc::detail::LineWidth(lines[i]);
      int64_t x = left;
      if (format & DT_CENTER) x = left + (right - left - line_width) / 2;
      else if (format & DT_RIGHT) x = right - line_width;
      int64_t y = y0 + int64_t{kCellHeight} * static_cast<int64_t>(i);
      placed_left = std::min(placed_left, x);
      placed_right = std::max(placed_right, x + line_width);
      if (dc->background_mode == OPAQUE) {
        opossvc::detail::Span span = opossvc::detail::Clip(*dc->bitmap, x, y, x + line_width, y + kCellHeight);
        if ((format & DT_NOCLIP) == 0) {
          span = {std::max(span.left, left), std::max(span.top, top), std::min(span.right, right),
                  std::min(span.bottom, bottom)};
        }
        opossvc::detail::Fill(*dc->bitmap, span, dc->background_color);
      }
    }
    placed = {opossvc::Long32(placed_left), opossvc::Long32(y0), opossvc::Long32(placed_right),
              opossvc::Long32(y0 + height)};
    dc->drawn.push_back({shown, *lprc, format, placed, dc->text_color, dc->background_mode});
    bool from_top = single && (format & (DT_VCENTER | DT_BOTTOM)) != 0;
    return static_cast<int>(from_top ? y0 + height - top : height);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
}

BOOL WINAPI GetTextExtentPoint32A(HDC hdc, LPCSTR lpString, int c, LPSIZE psizl) {
  GdiState& state = State();
  MutexLock lock(state.mutex);
  if (FindDc(state, hdc) == nullptr) return FALSE;
  if (psizl == nullptr || c < 0 || (lpString == nullptr && c > 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  psizl->cx = opossvc::Long32(int64_t{opossvc::detail::kCellWidth} * c);
  psizl->cy = opossvc::detail::kCellHeight;
  return TRUE;
}

HICON WINAPI LoadIconA(HINSTANCE hInstance, LPCSTR lpIconName) {
  GdiState& state = State();
  MutexLock lock(state.mutex);
  if (!IS_INTRESOURCE(lpIconName)) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  auto id = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(lpIconName));
  auto it = state.icons.find({hInstance, id});
  if (it == state.icons.end()) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  try {
    return Insert<HICON>(state, std::make_shared<Icon>(Icon{it->second}));
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

BOOL WINAPI DrawIcon(HDC hDC, int X, int Y, HICON hIcon) {
  using opossvc::detail::kIconSize;
  GdiState& state = State();
  MutexLock lock(state.mutex);
  auto dc = FindDc(state, hDC);
  if (dc == nullptr) return FALSE;
  auto icon = Find<Icon>(state, hIcon);
  if (icon == nullptr) {
    SetLastError(ERROR_INVALID_ICON_HANDLE);
    return FALSE;
  }
  const IconImage& image = *icon->image;
  Bitmap& bitmap = *dc->bitmap;
  opossvc::detail::Span span =
      opossvc::detail::Clip(bitmap, X, Y, int64_t{X} + kIconSize, int64_t{Y} + kIconSize);
  for (int64_t y = span.top; y < span.bottom; ++y) {
    int64_t source_y = (y - Y) * image.height / kIconSize;
    for (int64_t x = span.left; x < span.right; ++x) {
      int64_t source_x = (x - X) * image.width / kIconSize;
      COLORREF pixel = image.pixels[static_cast<size_t>(source_y * image.width + source_x)];
      if (pixel != CLR_NONE) bitmap.pixels[static_cast<size_t>(y * bitmap.width + x)] = pixel;
    }
  }
  return TRUE;
}

BOOL WINAPI DestroyIcon(HICON hIcon) {
  GdiState& state = State();
  MutexLock lock(state.mutex);
  if (Find<Icon>(state, hIcon) == nullptr) {
    SetLastError(ERROR_INVALID_ICON_HANDLE);
    return FALSE;
  }
  state.objects.erase(reinterpret_cast<ULONG_PTR>(hIcon));
  return TRUE;
}

namespace opossvc {

bool RegisterIcon(HMODULE module, WORD id, int width, int height, const COLORREF* pixels) {
  using detail::kMaxIconSide;
  if (pixels == nullptr || width < 1 || height < 1 || width > kMaxIconSide || height > kMaxIconSide) {
    return false;
  }
  auto image = std::make_shared<IconImage>();
  image->width = width;
  image->height = height;
  image->pixels.assign(pixels, pixels + static_cast<size_t>(width) * static_cast<size_t>(height));
  for (COLORREF& pixel : image->pixels) {
    if (pixel != CLR_NONE) pixel &= 0x00FFFFFF;
  }
  GdiState& state = State();
  detail::MutexLock lock(state.mutex);
  state.icons[{module, id}] = std::move(image);
  return true;
}

void UnregisterIcon(HMODULE module, WORD id) {
  GdiState& state = State();
  MutexLock lock(state.mutex);
  state.icons.erase({module, id});
}

std::vector<DrawnText> GetDrawnText(HDC dc) {
  GdiState& state = State();
  MutexLock lock(state.mutex);
  auto context = detail::Find<DeviceContext>(state, dc);
  return context == nullptr ? std::vector<DrawnText>{} : context->drawn;
}

void ClearDrawnText(HDC dc) {
  GdiState& state = State();
  MutexLock lock(state.mutex);
  if (auto context = detail::Find<DeviceContext>(state, dc)) context->drawn.clear();
}

}  // namespace opossvc
