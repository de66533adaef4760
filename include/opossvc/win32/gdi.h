// The drawing subset: system colours, memory device contexts, solid
// brushes, icons and text output.
//
// On POSIX there is no display. A device context draws into the bitmap
// selected into it, 32-bit pixels read back with GetPixel: FillRect fills
// pixels, DrawIcon copies an icon's pixels. Text is not rasterised: DrawTextA
// places it with a fixed cell of 8 x 16 pixels per character (the system
// font's metrics here, also used by GetTextExtentPoint32A) and records the
// text, its rectangle, its format flags and where it went; in OPAQUE
// background mode it also fills the text's cells with the background
// colour. opossvc/drawing.h reads the record back and registers icons.
//
// The surface has no physical size, so every mapping mode draws one logical
// unit as one pixel with y growing downwards (the modes are kept and
// reported, for code that sets and restores them).
//
// Handles of these objects are not kernel handles: DeleteDC, DeleteObject
// and DestroyIcon release them. A stale or foreign handle makes a call fail
// (0, FALSE or CLR_INVALID) with ERROR_INVALID_HANDLE, never crash. Any
// thread may use any handle; each call is atomic.
#ifndef OPOSSVC_WIN32_GDI_H_
#define OPOSSVC_WIN32_GDI_H_

#include <opossvc/win32/types.h>
#ifndef OPOSSVC_WIN32_NATIVE

#include <opossvc/export.h>
#include <opossvc/win32/errors.h>
#include <opossvc/win32/types.h>

// GetSysColor indexes.
#define COLOR_SCROLLBAR 0
#define COLOR_BACKGROUND 1
#define COLOR_ACTIVECAPTION 2
#define COLOR_INACTIVECAPTION 3
#define COLOR_MENU 4
#define COLOR_WINDOW 5
#define COLOR_WINDOWFRAME 6
#define COLOR_MENUTEXT 7
#define COLOR_WINDOWTEXT 8
#define COLOR_CAPTIONTEXT 9
#define COLOR_ACTIVEBORDER 10
#define COLOR_INACTIVEBORDER 11
#define COLOR_APPWORKSPACE 12
#define COLOR_HIGHLIGHT 13
#define COLOR_HIGHLIGHTTEXT 14
#define COLOR_BTNFACE 15
#define COLOR_BTNSHADOW 16
#define COLOR_GRAYTEXT 17
#define COLOR_BTNTEXT 18
#define COLOR_INACTIVECAPTIONTEXT 19
#define COLOR_BTNHIGHLIGHT 20
#define COLOR_3DDKSHADOW 21
#define COLOR_3DLIGHT 22
#define COLOR_INFOTEXT 23
#define COLOR_INFOBK 24
#define COLOR_HOTLIGHT 26
#define COLOR_GRADIENTACTIVECAPTION 27
#define COLOR_GRADIENTINACTIVECAPTION 28
#define COLOR_MENUHILIGHT 29
#define COLOR_MENUBAR 30
#define COLOR_DESKTOP COLOR_BACKGROUND
#define COLOR_3DFACE COLOR_BTNFACE
#define COLOR_3DSHADOW COLOR_BTNSHADOW
#define COLOR_3DHIGHLIGHT COLOR_BTNHIGHLIGHT
#define COLOR_3DHILIGHT COLOR_BTNHIGHLIGHT
#define COLOR_BTNHILIGHT COLOR_BTNHIGHLIGHT

#define CLR_INVALID 0xFFFFFFFFu
#define CLR_NONE 0xFFFFFFFFu

// Mapping modes.
#define MM_TEXT 1
#define MM_LOMETRIC 2
#define MM_HIMETRIC 3
#define MM_LOENGLISH 4
#define MM_HIENGLISH 5
#define MM_TWIPS 6
#define MM_ISOTROPIC 7
#define MM_ANISOTROPIC 8

// Background modes.
#define TRANSPARENT 1
#define OPAQUE 2

// DrawTextA format flags.
#define DT_TOP 0x00000000
#define DT_LEFT 0x00000000
#define DT_CENTER 0x00000001
#define DT_RIGHT 0x00000002
#define DT_VCENTER 0x00000004
#define DT_BOTTOM 0x00000008
#define DT_WORDBREAK 0x00000010
#define DT_SINGLELINE 0x00000020
#define DT_EXPANDTABS 0x00000040
#define DT_TABSTOP 0x00000080
#define DT_NOCLIP 0x00000100
#define DT_EXTERNALLEADING 0x00000200
#define DT_CALCRECT 0x00000400
#define DT_NOPREFIX 0x00000800
#define DT_INTERNAL 0x00001000
#define DT_EDITCONTROL 0x00002000
#define DT_PATH_ELLIPSIS 0x00004000
#define DT_END_ELLIPSIS 0x00008000
#define DT_MODIFYSTRING 0x00010000
#define DT_RTLREADING 0x00020000
#define DT_WORD_ELLIPSIS 0x00040000

// Resource identifiers: a number in the low word of a pointer.
#define MAKEINTRESOURCEA(i) (reinterpret_cast<LPSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(i))))
#define MAKEINTRESOURCE(i) MAKEINTRESOURCEA(i)
#define IS_INTRESOURCE(r) ((reinterpret_cast<ULONG_PTR>(r) >> 16) == 0)

// The colour of a display element; 0 for an index outside the table.
// The palette is fixed (the familiar Windows defaults).
OPOSSVC_API DWORD WINAPI GetSysColor(int nIndex);

// A memory device context; hdc (an existing context, or null) is ignored
// beyond being checked. It starts with a 1 x 1 bitmap holding white, MM_TEXT,
// OPAQUE, black text on a white background.
OPOSSVC_API HDC WINAPI CreateCompatibleDC(HDC hdc);
OPOSSVC_API BOOL WINAPI DeleteDC(HDC hdc);
// A bitmap of cx x cy pixels, all black; 0 x 0 gives 1 x 1. Negative sizes
// and sizes above 16384 on a side fail with ERROR_INVALID_PARAMETER.
OPOSSVC_API HBITMAP WINAPI CreateCompatibleBitmap(HDC hdc, int cx, int cy);
// Selects a bitmap or a brush; returns the object it replaces (the initial
// bitmap, or a stock white brush for the first brush).
OPOSSVC_API HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ h);
// Deletes a brush or bitmap. An object that is still selected into a device
// context stays usable by it until it is replaced there.
OPOSSVC_API BOOL WINAPI DeleteObject(HGDIOBJ ho);
OPOSSVC_API HBRUSH WINAPI CreateSolidBrush(COLORREF color);

// The pixel at (x, y) of the selected bitmap; CLR_INVALID outside it.
OPOSSVC_API COLORREF WINAPI GetPixel(HDC hdc, int x, int y);
OPOSSVC_API COLORREF WINAPI SetPixel(HDC hdc, int x, int y, COLORREF color);

// Fills left <= x < right, top <= y < bottom, clipped to the bitmap. hbr is
// a brush, or a system colour index plus 1 (as in (HBRUSH)(COLOR_WINDOW + 1)).
OPOSSVC_API int WINAPI FillRect(HDC hDC, const RECT* lprc, HBRUSH hbr);

// Each returns the previous mode, or 0 for an invalid context or mode.
OPOSSVC_API int WINAPI SetMapMode(HDC hdc, int iMode);
OPOSSVC_API int WINAPI GetMapMode(HDC hdc);
OPOSSVC_API int WINAPI SetBkMode(HDC hdc, int mode);
OPOSSVC_API int WINAPI GetBkMode(HDC hdc);
OPOSSVC_API COLORREF WINAPI SetTextColor(HDC hdc, COLORREF color);
OPOSSVC_API COLORREF WINAPI GetTextColor(HDC hdc);
OPOSSVC_API COLORREF WINAPI SetBkColor(HDC hdc, COLORREF color);
OPOSSVC_API COLORREF WINAPI GetBkColor(HDC hdc);

// Lays out and records `cchText` characters (-1: up to the NUL). Single-line
// text is placed by DT_LEFT/DT_CENTER/DT_RIGHT and DT_TOP/DT_VCENTER/
// DT_BOTTOM in the rectangle; without DT_SINGLELINE, lines break at line
// feeds and stack from the top. DT_CALCRECT only sets the rectangle's right
// and bottom to fit the text. Returns the text's height, or with DT_VCENTER
// or DT_BOTTOM the offset from the rectangle's top to the text's bottom;
// 0 for empty text, which records nothing.
OPOSSVC_API int WINAPI DrawTextA(HDC hdc, LPCSTR lpchText, int cchText, LPRECT lprc, UINT format);
OPOSSVC_API BOOL WINAPI GetTextExtentPoint32A(HDC hdc, LPCSTR lpString, int c, LPSIZE psizl);

// An icon registered for the module under an integer resource number
// (opossvc/drawing.h); named resources are not supported. Null with
// ERROR_RESOURCE_NAME_NOT_FOUND when there is none. Each call gives a new
// handle, released by DestroyIcon.
OPOSSVC_API HICON WINAPI LoadIconA(HINSTANCE hInstance, LPCSTR lpIconName);
// Draws the icon at 32 x 32 pixels (scaled from its own size) with its top
// left corner at (X, Y); transparent pixels leave the bitmap as it was.
OPOSSVC_API BOOL WINAPI DrawIcon(HDC hDC, int X, int Y, HICON hIcon);
OPOSSVC_API BOOL WINAPI DestroyIcon(HICON hIcon);

#endif  // !OPOSSVC_WIN32_NATIVE

#endif  // OPOSSVC_WIN32_GDI_H_
