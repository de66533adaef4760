// CString: the framework's 8-bit string, text in the system's ANSI code page.
//
// Contract, as the window framework's CString in an ANSI build:
// - A value type. The contents are GetLength() bytes, which may include NUL
//   bytes, always followed by one NUL, so the string converts to LPCTSTR.
//   Functions taking LPCTSTR take the bytes up to the first NUL; a null
//   LPCTSTR is an empty string.
// - Positions and lengths are ints. Out-of-range counts and positions are
//   clamped where the framework clamps them (Mid, Left, Right, Insert,
//   Delete, Find's start); GetAt/operator[] past the terminating NUL, SetAt
//   outside the contents, negative lengths and a null format throw
//   CInvalidArgException*.
// - A string may grow to kMaxLength bytes; asking for more, or memory running
//   out, throws CMemoryException* (exceptions.h: thrown as pointers, caught
//   as CException*, freed with Delete()).
// - Comparisons (==, <, Compare) are by unsigned bytes over the whole
//   contents, NULs included. CompareNoCase compares case-folded text of the
//   active code page (full Unicode folding, multi-byte aware). Collate and
//   CollateNoCase are Compare and CompareNoCase (the "C" locale's order).
// - Character-wise operations (Find of a character, ReverseFind, FindOneOf,
//   Replace/Remove of a character, SpanIncluding/Excluding, Tokenize, Trim
//   with a character set, MakeUpper/MakeLower/MakeReverse) step over whole
//   characters of the active code page: a trail byte of a double-byte
//   character or of a UTF-8 sequence is never taken for a character of its
//   own. MakeUpper and MakeLower change only the ASCII letters.
// - GetBuffer(n) hands out the contents for writing, at least n bytes plus a
//   NUL; between it and ReleaseBuffer no other member may be called.
//   ReleaseBuffer(-1) takes the length up to the first NUL of the buffer.
// - Format and friends use printf's conversions. A CString argument must be
//   passed as (LPCTSTR)s or s.GetString(): the C++ rules forbid passing the
//   object itself through "...".
// - Conversions from UTF-16 (OLECHAR strings) and to BSTR go through the
//   active ANSI code page; characters it lacks become '?'.
// Not thread-safe: one string, one thread at a time.
#ifndef OPOSSVC_AFX_CSTRING_H_
#define OPOSSVC_AFX_CSTRING_H_

#include <cstdarg>

#include <opossvc/export.h>
#include <opossvc/win32/oleauto.h>
#include <opossvc/win32/types.h>

#if defined(__GNUC__)
#define OPOSSVC_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define OPOSSVC_PRINTF_FORMAT(fmt, args)
#endif

class OPOSSVC_API CString {
 public:
  static constexpr int kMaxLength = 0x40000000;  // 1 GiB

  CString() noexcept;
  CString(const CString& other);
  CString(CString&& other) noexcept;
  CString(LPCSTR psz);  // NOLINT(google-explicit-constructor): as the framework's
  CString(LPCSTR pch, int nLength);
  CString(const unsigned char* psz);  // NOLINT(google-explicit-constructor)
  explicit CString(char ch, int nRepeat = 1);
  CString(LPCWSTR pszw);  // NOLINT(google-explicit-constructor): converted
  CString(LPCWSTR pchw, int nLength);
  ~CString();

  CString& operator=(const CString& other);
  CString& operator=(CString&& other) noexcept;
  CString& operator=(LPCSTR psz);
  CString& operator=(const unsigned char* psz);
  CString& operator=(char ch);
  CString& operator=(LPCWSTR pszw);

  // Contents.
  int GetLength() const { return m_nDataLength; }
  BOOL IsEmpty() const { return m_nDataLength == 0; }
  void Empty();
  char GetAt(int iChar) const;
  void SetAt(int iChar, char ch);
  char operator[](int iChar) const { return GetAt(iChar); }
  operator LPCTSTR() const { return m_pszData; }  // NOLINT(google-explicit-constructor)
  LPCTSTR GetString() const { return m_pszData; }
  void SetString(LPCSTR psz);
  void SetString(LPCSTR pch, int nLength);
  void Append(const CString& str);
  void Append(LPCSTR psz);
  void Append(LPCSTR pch, int nLength);
  void AppendChar(char ch);
  // Keeps the first nNewLength bytes (nNewLength <= GetLength()).
  void Truncate(int nNewLength);

  // Comparison.
  int Compare(LPCTSTR psz) const;
  int Compare(const CString& str) const;
  int CompareNoCase(LPCTSTR psz) const;
  int Collate(LPCTSTR psz) const { return Compare(psz); }
  int CollateNoCase(LPCTSTR psz) const { return CompareNoCase(psz); }

  // Substrings.
  CString Mid(int iFirst) const;
  CString Mid(int iFirst, int nCount) const;
  CString Left(int nCount) const;
  CString Right(int nCount) const;
  CString SpanIncluding(LPCTSTR pszCharSet) const;
  CString SpanExcluding(LPCTSTR pszCharSet) const;
  // The next token at or after iStart, skipping leading delimiters; iStart
  // moves past the token's delimiter. At the end: an empty string and
  // iStart -1. With no delimiters the rest of the string is one token.
  CString Tokenize(LPCTSTR pszTokens, int& iStart) const;

  // Search: the position found, or -1.
  int Find(char ch, int iStart = 0) const;
  int Find(LPCTSTR pszSub, int iStart = 0) const;
  int ReverseFind(char ch) const;
  int FindOneOf(LPCTSTR pszCharSet) const;

  // In-place changes.
  CString& MakeUpper();
  CString& MakeLower();
  CString& MakeReverse();
  CString& TrimLeft();
  CString& TrimLeft(char chTarget);
  CString& TrimLeft(LPCTSTR pszTargets);
  CString& TrimRight();
  CString& TrimRight(char chTarget);
  CString& TrimRight(LPCTSTR pszTargets);
  CString& Trim();
  CString& Trim(char chTarget);
  CString& Trim(LPCTSTR pszTargets);
  // Counts of replacements and removals; the new length for Insert/Delete.
  int Replace(char chOld, char chNew);
  int Replace(LPCTSTR pszOld, LPCTSTR pszNew);
  int Remove(char chRemove);
  int Insert(int iIndex, char ch);
  int Insert(int iIndex, LPCTSTR psz);
  int Delete(int iIndex, int nCount = 1);

  // printf-style formatting.
  void Format(LPCTSTR pszFormat, ...) OPOSSVC_PRINTF_FORMAT(2, 3);
  void FormatV(LPCTSTR pszFormat, va_list args) OPOSSVC_PRINTF_FORMAT(2, 0);
  void AppendFormat(LPCTSTR pszFormat, ...) OPOSSVC_PRINTF_FORMAT(2, 3);
  void AppendFormatV(LPCTSTR pszFormat, va_list args) OPOSSVC_PRINTF_FORMAT(2, 0);

  // Buffer access.
  LPTSTR GetBuffer();
  LPTSTR GetBuffer(int nMinBufferLength);
  LPTSTR GetBufferSetLength(int nLength);
  void ReleaseBuffer(int nNewLength = -1);
  void ReleaseBufferSetLength(int nNewLength);
  LPTSTR LockBuffer();
  void UnlockBuffer() {}
  void Preallocate(int nLength);
  void FreeExtra();
  int GetAllocLength() const { return m_nAllocLength; }

  // A new BSTR of the contents converted to UTF-16; throws
  // CMemoryException* when none can be allocated.
  BSTR AllocSysString() const;
  // Replaces *pbstr (freed) by such a BSTR and returns it.
  BSTR SetSysString(BSTR* pbstr) const;

  CString& operator+=(const CString& str);
  CString& operator+=(LPCSTR psz);
  CString& operator+=(char ch);
  CString& operator+=(LPCWSTR pszw);

 private:
  void Reserve(int nLength);  // capacity for nLength bytes + NUL, contents kept
  void SetLength(int nLength);
  void AssignBytes(const char* pch, int nLength);
  void InsertBytes(int iIndex, const char* pch, int nLength);
  bool Contains(const char* pch) const;  // pch points into the contents or at their NUL
  static CString Formatted(LPCTSTR pszFormat, va_list args) OPOSSVC_PRINTF_FORMAT(1, 0);

  char* m_pszData;     // heap block of m_nAllocLength + 1 bytes, or a shared ""
  int m_nDataLength;   // bytes of contents
  int m_nAllocLength;  // bytes the block holds before its NUL; 0 for the shared ""
};

OPOSSVC_API CString operator+(const CString& a, const CString& b);
OPOSSVC_API CString operator+(const CString& a, LPCSTR b);
OPOSSVC_API CString operator+(LPCSTR a, const CString& b);
OPOSSVC_API CString operator+(const CString& a, char b);
OPOSSVC_API CString operator+(char a, const CString& b);

OPOSSVC_API bool operator==(const CString& a, const CString& b);
OPOSSVC_API bool operator==(const CString& a, LPCSTR b);
OPOSSVC_API bool operator==(LPCSTR a, const CString& b);
OPOSSVC_API bool operator==(const CString& a, char b);
OPOSSVC_API bool operator==(char a, const CString& b);
OPOSSVC_API bool operator!=(const CString& a, const CString& b);
OPOSSVC_API bool operator!=(const CString& a, LPCSTR b);
OPOSSVC_API bool operator!=(LPCSTR a, const CString& b);
OPOSSVC_API bool operator!=(const CString& a, char b);
OPOSSVC_API bool operator!=(char a, const CString& b);
OPOSSVC_API bool operator<(const CString& a, const CString& b);
OPOSSVC_API bool operator<(const CString& a, LPCSTR b);
OPOSSVC_API bool operator<(LPCSTR a, const CString& b);
OPOSSVC_API bool operator>(const CString& a, const CString& b);
OPOSSVC_API bool operator>(const CString& a, LPCSTR b);
OPOSSVC_API bool operator>(LPCSTR a, const CString& b);
OPOSSVC_API bool operator<=(const CString& a, const CString& b);
OPOSSVC_API bool operator<=(const CString& a, LPCSTR b);
OPOSSVC_API bool operator<=(LPCSTR a, const CString& b);
OPOSSVC_API bool operator>=(const CString& a, const CString& b);
OPOSSVC_API bool operator>=(const CString& a, LPCSTR b);
OPOSSVC_API bool operator>=(LPCSTR a, const CString& b);

#endif  // OPOSSVC_AFX_CSTRING_H_
