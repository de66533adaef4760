// The framework's drawing classes: CPoint, CSize and CRect (value types over
// POINT, SIZE and RECT), CGdiObject and CBrush (owners of a drawing object)
// and CDC (a device context).
//
// CDC wraps an HDC of win32/gdi.h: on POSIX a memory context drawing into a
// bitmap (see there). An object made by CreateCompatibleDC owns its context
// and deletes it on DeleteDC or destruction; Attach adopts a context that
// the caller hands over (destruction deletes it too, as in the framework);
// Detach gives it back. GetSafeHdc is null for an object without one.
//
// CGdiObject owns its handle from Create... or Attach until DeleteObject,
// Detach or destruction.
//
// Not thread-safe: one object, one thread at a time.
#ifndef OPOSSVC_AFX_GDI_H_
#define OPOSSVC_AFX_GDI_H_

#include <opossvc/afx/cstring.h>
#include <opossvc/afx/object.h>
#include <opossvc/export.h>
#include <opossvc/win32/gdi.h>
#include <opossvc/win32/types.h>

class OPOSSVC_API CSize : public tagSIZE {
 public:
  CSize() noexcept { cx = cy = 0; }
  CSize(int initCX, int initCY) noexcept {
    cx = initCX;
    cy = initCY;
  }
  CSize(SIZE initSize) noexcept : tagSIZE(initSize) {}  // NOLINT(google-explicit-constructor)
  bool operator==(SIZE size) const noexcept { return cx == size.cx && cy == size.cy; }
  bool operator!=(SIZE size) const noexcept { return !(*this == size); }
  CSize operator+(SIZE size) const noexcept { return CSize(cx + size.cx, cy + size.cy); }
  CSize operator-(SIZE size) const noexcept { return CSize(cx - size.cx, cy - size.cy); }
};

class OPOSSVC_API CPoint : public tagPOINT {
 public:
  CPoint() noexcept { x = y = 0; }
  CPoint(int initX, int initY) noexcept {
    x = initX;
    y = initY;
  }
  CPoint(POINT initPt) noexcept : tagPOINT(initPt) {}  // NOLINT(google-explicit-constructor)
  void Offset(int xOffset, int yOffset) noexcept {
    x += xOffset;
    y += yOffset;
  }
  bool operator==(POINT point) const noexcept { return x == point.x && y == point.y; }
  bool operator!=(POINT point) const noexcept { return !(*this == point); }
  CPoint operator+(SIZE size) const noexcept { return CPoint(x + size.cx, y + size.cy); }
  CPoint operator-(SIZE size) const noexcept { return CPoint(x - size.cx, y - size.cy); }
};

// A rectangle left <= x < right, top <= y < bottom. Width and Height may be
// negative for a rectangle that is not normalised.
class OPOSSVC_API CRect : public tagRECT {
 public:
  CRect() noexcept { left = top = right = bottom = 0; }
  CRect(int l, int t, int r, int b) noexcept {
    left = l;
    top = t;
    right = r;
    bottom = b;
  }
  CRect(const RECT& srcRect) noexcept : tagRECT(srcRect) {}  // NOLINT(google-explicit-constructor)
  CRect(LPCRECT lpSrcRect) noexcept : tagRECT(*lpSrcRect) {}  // NOLINT(google-explicit-constructor)
  CRect(POINT point, SIZE size) noexcept
      : CRect(point.x, point.y, point.x + size.cx, point.y + size.cy) {}
  CRect(POINT topLeft, POINT bottomRight) noexcept
      : CRect(topLeft.x, topLeft.y, bottomRight.x, bottomRight.y) {}

  int Width() const noexcept { return right - left; }
  int Height() const noexcept { return bottom - top; }
  CSize Size() const noexcept { return CSize(Width(), Height()); }
  CPoint TopLeft() const noexcept { return CPoint(left, top); }
  CPoint BottomRight() const noexcept { return CPoint(right, bottom); }
  CPoint CenterPoint() const noexcept { return CPoint((left + right) / 2, (top + bottom) / 2); }
  // No area: width or height not positive.
  BOOL IsRectEmpty() const noexcept { return Width() <= 0 || Height() <= 0; }
  BOOL IsRectNull() const noexcept { return left == 0 && top == 0 && right == 0 && bottom == 0; }
  BOOL PtInRect(POINT point) const noexcept {
    return point.x >= left && point.x < right && point.y >= top && point.y < bottom;
  }

  void SetRect(int x1, int y1, int x2, int y2) noexcept { *this = CRect(x1, y1, x2, y2); }
  void SetRectEmpty() noexcept { SetRect(0, 0, 0, 0); }
  void OffsetRect(int x, int y) noexcept {
    left += x;
    right += x;
    top += y;
    bottom += y;
  }
  void InflateRect(int x, int y) noexcept {
    left -= x;
    right += x;
    top -= y;
    bottom += y;
  }
  void DeflateRect(int x, int y) noexcept { InflateRect(-x, -y); }
  // Swaps the sides where left > right or top > bottom.
  void NormalizeRect() noexcept {
    if (left > right) {
      LONG swap = left;
      left = right;
      right = swap;
    }
    if (top > bottom) {
      LONG swap = top;
      top = bottom;
      bottom = swap;
    }
  }

  operator LPRECT() noexcept { return this; }               // NOLINT(google-explicit-constructor)
  operator LPCRECT() const noexcept { return this; }        // NOLINT(google-explicit-constructor)
  bool operator==(const RECT& rect) const noexcept {
    return left == rect.left && top == rect.top && right == rect.right && bottom == rect.bottom;
  }
  bool operator!=(const RECT& rect) const noexcept { return !(*this == rect); }
};

class OPOSSVC_API CGdiObject : public CObject {
 public:
  CGdiObject() noexcept : m_hObject(nullptr) {}
  // Deletes the object it still owns.
  ~CGdiObject() override;

  HGDIOBJ GetSafeHandle() const noexcept { return m_hObject; }
  operator HGDIOBJ() const noexcept { return m_hObject; }  // NOLINT(google-explicit-constructor)
  // Takes ownership of an object; FALSE (and nothing taken) for null or
  // while this object already owns one.
  BOOL Attach(HGDIOBJ hObject);
  HGDIOBJ Detach();
  BOOL DeleteObject();

  HGDIOBJ m_hObject;
};

class OPOSSVC_API CBrush : public CGdiObject {
 public:
  CBrush() noexcept = default;
  // A solid brush; GetSafeHandle() stays null when it cannot be made.
  explicit CBrush(COLORREF crColor);
  BOOL CreateSolidBrush(COLORREF crColor);
  // A solid brush of the system colour (GetSysColor(nIndex)).
  BOOL CreateSysColorBrush(int nIndex);
  operator HBRUSH() const noexcept {  // NOLINT(google-explicit-constructor)
    return reinterpret_cast<HBRUSH>(m_hObject);
  }
};

class OPOSSVC_API CDC : public CObject {
 public:
  CDC() noexcept : m_hDC(nullptr), m_hAttribDC(nullptr) {}
  // Deletes the context it holds.
  ~CDC() override;

  HDC GetSafeHdc() const noexcept { return m_hDC; }
  operator HDC() const noexcept { return m_hDC; }  // NOLINT(google-explicit-constructor)
  BOOL Attach(HDC hDC);
  HDC Detach();
  // A new memory context (pDC may be null); FALSE while one is held.
  BOOL CreateCompatibleDC(CDC* pDC);
  BOOL DeleteDC();

  // Selects a bitmap or brush; the object it replaces.
  HGDIOBJ SelectObject(HGDIOBJ hObject);

  void FillRect(LPCRECT lpRect, CBrush* pBrush);
  void FillSolidRect(LPCRECT lpRect, COLORREF clr);
  COLORREF GetPixel(int x, int y) const;
  COLORREF SetPixel(int x, int y, COLORREF crColor);

  int SetMapMode(int nMapMode);
  int GetMapMode() const;
  int SetBkMode(int nBkMode);
  int GetBkMode() const;
  COLORREF SetTextColor(COLORREF crColor);
  COLORREF GetTextColor() const;
  COLORREF SetBkColor(COLORREF crColor);
  COLORREF GetBkColor() const;

  int DrawText(LPCTSTR lpszString, int nCount, LPRECT lpRect, UINT nFormat);
  int DrawText(const CString& str, LPRECT lpRect, UINT nFormat);
  CSize GetTextExtent(LPCTSTR lpszString, int nCount) const;
  CSize GetTextExtent(const CString& str) const;

  BOOL DrawIcon(int x, int y, HICON hIcon);
  BOOL DrawIcon(POINT point, HICON hIcon);

  HDC m_hDC;        // the output context
  HDC m_hAttribDC;  // the context queried for attributes; the same one here

  CDC(const CDC&) = delete;
  CDC& operator=(const CDC&) = delete;
};

#endif  // OPOSSVC_AFX_GDI_H_
