// Win32 base types, for code written against the Windows names. DWORD,
// ULONG and HRESULT are 32-bit on every platform; handles are pointers; WCHAR
// and OLECHAR are UTF-16 code units.
//
// LONG is long, as on Windows, so that it is a type of its own beside int
// (BOOL) and calls overloaded on the two pick as they do there. On LP64
// platforms that makes it 64 bits wide, but its values stay 32-bit: wherever
// Win32 keeps a LONG in 32 bits (registry data, VT_I4, structures), a wider
// value is taken modulo 2^32, which opossvc::Long32 computes.
#ifndef OPOSSVC_WIN32_TYPES_H_
#define OPOSSVC_WIN32_TYPES_H_

#include <opossvc/win32/native.h>
#ifndef OPOSSVC_WIN32_NATIVE

#include <cstddef>
#include <cstdint>

#define WINAPI
#define CALLBACK
#define PASCAL
#define STDMETHODCALLTYPE
#define APIENTRY
#define FAR
#define NEAR
#define CONST const
#define IN
#define OUT
#define OPTIONAL

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned char UCHAR;
typedef unsigned short WORD;
typedef unsigned short USHORT;
typedef uint32_t DWORD;
typedef long LONG;
typedef uint32_t ULONG;
typedef int INT;
typedef unsigned int UINT;
typedef short SHORT;
typedef char CHAR;
typedef char16_t WCHAR;
typedef char16_t OLECHAR;
#define OLESTR(str) u##str
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef uint64_t DWORDLONG;
typedef float FLOAT;
typedef double DOUBLE;
typedef void VOID;
typedef uint8_t BOOLEAN;

typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef ULONG_PTR DWORD_PTR;
typedef DWORD_PTR* PDWORD_PTR;
typedef ULONG_PTR SIZE_T;

typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;

typedef BOOL* PBOOL;
typedef BOOL* LPBOOL;
typedef BYTE* PBYTE;
typedef BYTE* LPBYTE;
typedef const BYTE* LPCBYTE;
typedef DWORD* PDWORD;
typedef DWORD* LPDWORD;
typedef LONG* PLONG;
typedef LONG* LPLONG;
typedef WORD* LPWORD;
typedef void* PVOID;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef CHAR* LPSTR;
typedef CHAR* PSTR;
typedef const CHAR* LPCSTR;
typedef const CHAR* PCSTR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;
typedef char TCHAR;
typedef LPSTR LPTSTR;
typedef LPCSTR LPCTSTR;

typedef void* HANDLE;
typedef HANDLE* PHANDLE;
typedef HANDLE* LPHANDLE;

// Distinct handle types, as with STRICT on Windows.
#define OPOSSVC_DECLARE_HANDLE(name) \
  struct name##__ {                  \
    int unused;                      \
  };                                 \
  typedef struct name##__* name
OPOSSVC_DECLARE_HANDLE(HWND);
OPOSSVC_DECLARE_HANDLE(HINSTANCE);
OPOSSVC_DECLARE_HANDLE(HKEY);
OPOSSVC_DECLARE_HANDLE(HDC);
OPOSSVC_DECLARE_HANDLE(HICON);
OPOSSVC_DECLARE_HANDLE(HBRUSH);
OPOSSVC_DECLARE_HANDLE(HCURSOR);
OPOSSVC_DECLARE_HANDLE(HMENU);
OPOSSVC_DECLARE_HANDLE(HBITMAP);
OPOSSVC_DECLARE_HANDLE(HFONT);
OPOSSVC_DECLARE_HANDLE(HPEN);
OPOSSVC_DECLARE_HANDLE(HRGN);
OPOSSVC_DECLARE_HANDLE(HPALETTE);
typedef HINSTANCE HMODULE;
// Any drawing object, as on Windows: every HBRUSH, HBITMAP, ... converts to it.
typedef void* HGDIOBJ;
typedef HKEY* PHKEY;
typedef DWORD COLORREF;
typedef WORD ATOM;
typedef int32_t HRESULT;  // a LONG on Windows, 32-bit everywhere
typedef DWORD LCID;
typedef DWORD ACCESS_MASK;
typedef ACCESS_MASK REGSAM;

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)))
#define INFINITE 0xFFFFFFFFu

#define MAKEWORD(a, b) \
  (static_cast<WORD>((static_cast<BYTE>((DWORD_PTR)(a) & 0xff)) | \
                     (static_cast<WORD>(static_cast<BYTE>((DWORD_PTR)(b) & 0xff))) << 8))
#define MAKELONG(a, b)                                                              \
  (static_cast<LONG>(static_cast<int32_t>(                                          \
      (static_cast<WORD>((DWORD_PTR)(a) & 0xffff)) |                                \
      (static_cast<DWORD>(static_cast<WORD>((DWORD_PTR)(b) & 0xffff))) << 16)))
#define LOWORD(l) (static_cast<WORD>((DWORD_PTR)(l) & 0xffff))
#define HIWORD(l) (static_cast<WORD>(((DWORD_PTR)(l) >> 16) & 0xffff))
#define LOBYTE(w) (static_cast<BYTE>((DWORD_PTR)(w) & 0xff))
#define HIBYTE(w) (static_cast<BYTE>(((DWORD_PTR)(w) >> 8) & 0xff))
#define RGB(r, g, b)                                        \
  (static_cast<COLORREF>((static_cast<BYTE>(r)) |           \
                         (static_cast<WORD>(static_cast<BYTE>(g)) << 8) | \
                         (static_cast<DWORD>(static_cast<BYTE>(b)) << 16)))
#define GetRValue(rgb) (LOBYTE(rgb))
#define GetGValue(rgb) (LOBYTE((static_cast<WORD>(rgb)) >> 8))
#define GetBValue(rgb) (LOBYTE((rgb) >> 16))

#define MAX_PATH 260

typedef struct _SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *PSECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME, *PFILETIME, *LPFILETIME;

typedef struct tagPOINT {
  LONG x;
  LONG y;
} POINT, *PPOINT, *LPPOINT;

typedef struct tagSIZE {
  LONG cx;
  LONG cy;
} SIZE, *PSIZE, *LPSIZE;

typedef struct tagRECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
} RECT, *PRECT, *LPRECT;
typedef const RECT* LPCRECT;

typedef struct _GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} GUID;
typedef GUID IID;
typedef GUID CLSID;
typedef const IID& REFIID;
typedef const GUID& REFGUID;
typedef const CLSID& REFCLSID;

#endif  // !OPOSSVC_WIN32_NATIVE

#include <cstdint>

namespace opossvc {

// The LONG that Win32 keeps for `value`: its low 32 bits, as a signed number.
constexpr LONG Long32(long long value) {
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long long>(value)));
}

}  // namespace opossvc

#endif  // OPOSSVC_WIN32_TYPES_H_
