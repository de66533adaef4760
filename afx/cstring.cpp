#include <opossvc/afx/cstring.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include <opossvc/afx/exceptions.h>
#include <opossvc/win32/codepage.h>

#include "afx/ansi_char_stepper.h"
#include "platform/internal/fold_case_key.h"

namespace {

using opossvc::detail::AnsiCharStepper;

// The contents of every string that owns no block. Never written.
char g_empty_string[1] = {'\0'};

int CheckedLength(size_t length) {
  if (length > static_cast<size_t>(CString::kMaxLength)) AfxThrowMemoryException();
  return static_cast<int>(length);
}

int LengthOf(LPCSTR psz) { return psz == nullptr ? 0 : CheckedLength(std::strlen(psz)); }

std::string_view ViewOf(LPCSTR psz) {
  return psz == nullptr ? std::string_view() : std::string_view(psz);
}

int CompareBytes(std::string_view a, std::string_view b) {
  const int order = a.compare(b);  // char_traits<char> compares as unsigned char
  return order < 0 ? -1 : order > 0 ? 1 : 0;
}

// True when the character `ch` (one whole character of the code page) is
// one of the characters of `set`.
bool InCharSet(const AnsiCharStepper& stepper, std::string_view set, std::string_view ch) {
  for (size_t i = 0; i < set.size();) {
    const size_t n = stepper.CharLength(set, i);
    if (set.substr(i, n) == ch) return true;
    i += n;
  }
  return false;
}

// UTF-16 text in the ANSI code page; characters it lacks become '?'.
std::string Narrowed(LPCWSTR text, size_t length) {
  if (length == 0) return std::string();
  const int units = CheckedLength(length);
  const int bytes = WideCharToMultiByte(CP_ACP, 0, text, units, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) AfxThrowMemoryException();  // fails only for a result past 2 GiB
  std::string narrow(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, units, narrow.data(), bytes, nullptr, nullptr);
  return narrow;
}

// The UTF-16 length of ANSI text.
UINT WideLength(LPCSTR text, int length) {
  return length == 0 ? 0 : static_cast<UINT>(MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0));
}

bool IsSpace(std::string_view ch) {
  return ch.size() == 1 && (ch[0] == ' ' || (ch[0] >= '\t' && ch[0] <= '\r'));
}

}  // namespace

CString::CString() noexcept : m_pszData(g_empty_string), m_nDataLength(0), m_nAllocLength(0) {}

CString::CString(const CString& other) : CString() {
  AssignBytes(other.m_pszData, other.m_nDataLength);
}

CString::CString(CString&& other) noexcept
    : m_pszData(other.m_pszData),
      m_nDataLength(other.m_nDataLength),
      m_nAllocLength(other.m_nAllocLength) {
  other.m_pszData = g_empty_string;
  other.m_nDataLength = 0;
  other.m_nAllocLength = 0;
}

CString::CString(LPCSTR psz) : CString() { AssignBytes(psz, LengthOf(psz)); }

CString::CString(LPCSTR pch, int nLength) : CString() {
  if (nLength < 0 || (pch == nullptr && nLength > 0)) AfxThrowInvalidArgException();
  AssignBytes(pch, nLength);
}

CString::CString(const unsigned char* psz) : CString(reinterpret_cast<LPCSTR>(psz)) {}

CString::CString(char ch, int nRepeat) : CString() {
  if (nRepeat < 0) AfxThrowInvalidArgException();
  if (nRepeat == 0) return;
  Reserve(nRepeat);
  std::memset(m_pszData, static_cast<unsigned char>(ch), static_cast<size_t>(nRepeat));
  SetLength(nRepeat);
}

CString::CString(LPCWSTR pszw) : CString() { *this = pszw; }

CString::CString(LPCWSTR pchw, int nLength) : CString() {
  if (nLength < 0 || (pchw == nullptr && nLength > 0)) AfxThrowInvalidArgException();
  const std::string ansi = Narrowed(pchw, static_cast<size_t>(nLength));
  AssignBytes(ansi.data(), CheckedLength(ansi.size()));
}

CString::~CString() {
  if (m_nAllocLength > 0) std::free(m_pszData);
}

CString& CString::operator=(const CString& other) {
  if (this != &other) AssignBytes(other.m_pszData, other.m_nDataLength);
  return *this;
}

CString& CString::operator=(CString&& other) noexcept {
  if (this != &other) {
    std::swap(m_pszData, other.m_pszData);
    std::swap(m_nDataLength, other.m_nDataLength);
    std::swap(m_nAllocLength, other.m_nAllocLength);
    other.Empty();
  }
  return *this;
}

CString& CString::operator=(LPCSTR psz) {
  AssignBytes(psz, LengthOf(psz));
  return *this;
}

CString& CString::operator=(const unsigned char* psz) {
  return *this = reinterpret_cast<LPCSTR>(psz);
}

CString& CString::operator=(char ch) {
  AssignBytes(&ch, 1);
  return *this;
}

CString& CString::operator=(LPCWSTR pszw) {
  const size_t length = pszw == nullptr ? 0 : std::char_traits<WCHAR>::length(pszw);
  const std::string ansi = Narrowed(pszw, length);
  AssignBytes(ansi.data(), CheckedLength(ansi.size()));
  return *this;
}

// Storage.

void CString::Reserve(int nLength) {
  if (nLength < 0 || nLength > kMaxLength) AfxThrowMemoryException();
  if (nLength <= m_nAllocLength && m_nAllocLength > 0) return;
  // Grow by half again, so that appending one byte at a time stays linear.
  const int grown = m_nAllocLength > kMaxLength / 3 * 2 ? kMaxLength : m_nAllocLength / 2 * 3;
  const int capacity = std::max({nLength, grown, 15});
  char* block = static_cast<char*>(std::malloc(static_cast<size_t>(capacity) + 1));
  if (block == nullptr) AfxThrowMemoryException();
  std::memcpy(block, m_pszData, static_cast<size_t>(m_nDataLength) + 1);
  if (m_nAllocLength > 0) std::free(m_pszData);
  m_pszData = block;
  m_nAllocLength = capacity;
}

void CString::SetLength(int nLength) {
  m_nDataLength = nLength;
  if (m_nAllocLength > 0) m_pszData[nLength] = '\0';
}

bool CString::Contains(const char* pch) const {
  const auto p = reinterpret_cast<uintptr_t>(pch);
  const auto begin = reinterpret_cast<uintptr_t>(m_pszData);
  return m_nAllocLength > 0 && p >= begin && p <= begin + static_cast<uintptr_t>(m_nDataLength);
}

void CString::AssignBytes(const char* pch, int nLength) {
  if (Contains(pch)) {
    // A part of this string: the block holds it already.
    if (nLength > m_nDataLength - static_cast<int>(pch - m_pszData)) AfxThrowInvalidArgException();
    std::memmove(m_pszData, pch, static_cast<size_t>(nLength));
    SetLength(nLength);
    return;
  }
  if (nLength == 0) {
    SetLength(0);
    return;
  }
  Reserve(nLength);
  std::memcpy(m_pszData, pch, static_cast<size_t>(nLength));
  SetLength(nLength);
}

void CString::InsertBytes(int iIndex, const char* pch, int nLength) {
  if (nLength == 0) return;
  if (nLength > kMaxLength - m_nDataLength) AfxThrowMemoryException();
  const bool aliased = Contains(pch);
  const CString copy = aliased ? CString(pch, nLength) : CString();
  if (aliased) pch = copy.m_pszData;
  Reserve(m_nDataLength + nLength);
  std::memmove(m_pszData + iIndex + nLength, m_pszData + iIndex,
               static_cast<size_t>(m_nDataLength - iIndex));
  std::memcpy(m_pszData + iIndex, pch, static_cast<size_t>(nLength));
  SetLength(m_nDataLength + nLength);
}

// Contents.

void CString::Empty() { SetLength(0); }

char CString::GetAt(int iChar) const {
  // The terminating NUL may be read, as in the framework.
  if (iChar < 0 || iChar > m_nDataLength) AfxThrowInvalidArgException();
  return m_pszData[iChar];
}

void CString::SetAt(int iChar, char ch) {
  if (iChar < 0 || iChar >= m_nDataLength) AfxThrowInvalidArgException();
  m_pszData[iChar] = ch;
}

void CString::SetString(LPCSTR psz) { *this = psz; }

void CString::SetString(LPCSTR pch, int nLength) {
  if (nLength < 0 || (pch == nullptr && nLength > 0)) AfxThrowInvalidArgException();
  AssignBytes(pch, nLength);
}

void CString::Append(const CString& str) { InsertBytes(m_nDataLength, str.m_pszData, str.m_nDataLength); }

void CString::Append(LPCSTR psz) { InsertBytes(m_nDataLength, psz, LengthOf(psz)); }

void CString::Append(LPCSTR pch, int nLength) {
  if (nLength < 0 || (pch == nullptr && nLength > 0)) AfxThrowInvalidArgException();
  InsertBytes(m_nDataLength, pch, nLength);
}

void CString::AppendChar(char ch) { InsertBytes(m_nDataLength, &ch, 1); }

void CString::Truncate(int nNewLength) {
  if (nNewLength < 0 || nNewLength > m_nDataLength) AfxThrowInvalidArgException();
  SetLength(nNewLength);
}

// Comparison.

int CString::Compare(LPCTSTR psz) const {
  return CompareBytes(std::string_view(m_pszData, m_nDataLength), ViewOf(psz));
}

int CString::Compare(const CString& str) const {
  return CompareBytes(std::string_view(m_pszData, m_nDataLength),
                      std::string_view(str.m_pszData, str.m_nDataLength));
}

int CString::CompareNoCase(LPCTSTR psz) const {
  using opossvc::detail::FoldCaseKey;  // full folding, which Win32 lacks
  return CompareBytes(FoldCaseKey(std::string_view(m_pszData, m_nDataLength)),
                      FoldCaseKey(ViewOf(psz)));
}

// Substrings.

CString CString::Mid(int iFirst) const { return Mid(iFirst, m_nDataLength); }

CString CString::Mid(int iFirst, int nCount) const {
  iFirst = std::clamp(iFirst, 0, m_nDataLength);
  nCount = std::clamp(nCount, 0, m_nDataLength - iFirst);
  return CString(m_pszData + iFirst, nCount);
}

CString CString::Left(int nCount) const {
  return CString(m_pszData, std::clamp(nCount, 0, m_nDataLength));
}

CString CString::Right(int nCount) const {
  nCount = std::clamp(nCount, 0, m_nDataLength);
  return CString(m_pszData + m_nDataLength - nCount, nCount);
}

CString CString::SpanIncluding(LPCTSTR pszCharSet) const {
  const AnsiCharStepper stepper;
  const std::string_view text(m_pszData, m_nDataLength);
  size_t end = 0;
  while (end < text.size()) {
    const size_t n = stepper.CharLength(text, end);
    if (!InCharSet(stepper, ViewOf(pszCharSet), text.substr(end, n))) break;
    end += n;
  }
  return Left(static_cast<int>(end));
}

CString CString::SpanExcluding(LPCTSTR pszCharSet) const {
  const AnsiCharStepper stepper;
  const std::string_view text(m_pszData, m_nDataLength);
  size_t end = 0;
  while (end < text.size()) {
    const size_t n = stepper.CharLength(text, end);
    if (InCharSet(stepper, ViewOf(pszCharSet), text.substr(end, n))) break;
    end += n;
  }
  return Left(static_cast<int>(end));
}

CString CString::Tokenize(LPCTSTR pszTokens, int& iStart) const {
  if (iStart < 0) AfxThrowInvalidArgException();
  if (iStart < m_nDataLength) {
    const std::string_view tokens = ViewOf(pszTokens);
    if (tokens.empty()) {
      // The rest is one token. iStart moves past the end, so that the next
      // call ends the loop instead of returning the same token forever.
      CString rest = Mid(iStart);
      iStart = m_nDataLength + 1;
      return rest;
    }
    const AnsiCharStepper stepper;
    const std::string_view text(m_pszData, m_nDataLength);
    size_t from = static_cast<size_t>(iStart);
    while (from < text.size()) {
      const size_t n = stepper.CharLength(text, from);
      if (!InCharSet(stepper, tokens, text.substr(from, n))) break;
      from += n;
    }
    if (from < text.size()) {
      size_t until = from;
      while (until < text.size()) {
        const size_t n = stepper.CharLength(text, until);
        if (InCharSet(stepper, tokens, text.substr(until, n))) break;
        until += n;
      }
      // Past the delimiter's first byte, as the framework does; a
      // delimiter is matched from there on the next call.
      iStart = static_cast<int>(until) + 1;
      return Mid(static_cast<int>(from), static_cast<int>(until - from));
    }
  }
  iStart = -1;
  return CString();
}

// Search.

int CString::Find(char ch, int iStart) const {
  if (iStart < 0 || iStart >= m_nDataLength) return -1;
  const AnsiCharStepper stepper;
  const std::string_view text(m_pszData, m_nDataLength);
  for (size_t i = static_cast<size_t>(iStart); i < text.size();) {
    const size_t n = stepper.CharLength(text, i);
    if (n == 1 && text[i] == ch) return static_cast<int>(i);
    i += n;
  }
  return -1;
}

int CString::Find(LPCTSTR pszSub, int iStart) const {
  if (iStart < 0 || iStart > m_nDataLength) return -1;
  const std::string_view sub = ViewOf(pszSub);
  const std::string_view text(m_pszData, m_nDataLength);
  const AnsiCharStepper stepper;
  if (stepper.single_byte()) {
    const size_t found = text.find(sub, static_cast<size_t>(iStart));
    return found == std::string_view::npos ? -1 : static_cast<int>(found);
  }
  // Matches start on character boundaries only.
  for (size_t i = static_cast<size_t>(iStart); i + sub.size() <= text.size();) {
    if (text.compare(i, sub.size(), sub) == 0) return static_cast<int>(i);
    if (i == text.size()) break;
    i += stepper.CharLength(text, i);
  }
  return -1;
}

int CString::ReverseFind(char ch) const {
  const AnsiCharStepper stepper;
  const std::string_view text(m_pszData, m_nDataLength);
  int last = -1;
  for (size_t i = 0; i < text.size();) {
    const size_t n = stepper.CharLength(text, i);
    if (n == 1 && text[i] == ch) last = static_cast<int>(i);
    i += n;
  }
  return last;
}

int CString::FindOneOf(LPCTSTR pszCharSet) const {
  const AnsiCharStepper stepper;
  const std::string_view text(m_pszData, m_nDataLength);
  for (size_t i = 0; i < text.size();) {
    const size_t n = stepper.CharLength(text, i);
    if (InCharSet(stepper, ViewOf(pszCharSet), text.substr(i, n))) return static_cast<int>(i);
    i += n;
  }
  return -1;
}

// In-place changes.

CString& CString::MakeUpper() {
  const AnsiCharStepper stepper;
  const std::string_view text(m_pszData, m_nDataLength);
  for (size_t i = 0; i < text.size();) {
    const size_t n = stepper.CharLength(text, i);
    if (n == 1 && m_pszData[i] >= 'a' && m_pszData[i] <= 'z') m_pszData[i] -= 'a' - 'A';
    i += n;
  }
  return *this;
}

CString& CString::MakeLower() {
  const AnsiCharStepper stepper;
  const std::string_view text(m_pszData, m_nDataLength);
  for (size_t i = 0; i < text.size();) {
    const size_t n = stepper.CharLength(text, i);
    if (n == 1 && m_pszData[i] >= 'A' && m_pszData[i] <= 'Z') m_pszData[i] += 'a' - 'A';
    i += n;
  }
  return *this;
}

CString& CString::MakeReverse() {
  const AnsiCharStepper stepper;
  const std::string text(m_pszData, m_nDataLength);
  size_t out = text.size();
  for (size_t i = 0; i < text.size();) {
    const size_t n = stepper.CharLength(text, i);
    out -= n;
    std::memcpy(m_pszData + out, text.data() + i, n);
    i += n;
  }
  return *this;
}

CString& CString::TrimLeft() {
  const AnsiCharStepper stepper;
  const std::string_view text(m_pszData, m_nDataLength);
  size_t from = 0;
  while (from < text.size()) {
    const size_t n = stepper.CharLength(text, from);
    if (!IsSpace(text.substr(from, n))) break;
    from += n;
  }
  Delete(0, static_cast<int>(from));
  return *this;
}

CString& CString::TrimLeft(char chTarget) {
  const char set[2] = {chTarget, '\0'};
  return chTarget == '\0' ? *this : TrimLeft(set);
}

CString& CString::TrimLeft(LPCTSTR pszTargets) {
  const AnsiCharStepper stepper;
  const std::string_view text(m_pszData, m_nDataLength);
  size_t from = 0;
  while (from < text.size()) {
    const size_t n = stepper.CharLength(text, from);
    if (!InCharSet(stepper, ViewOf(pszTargets), text.substr(from, n))) break;
    from += n;
  }
  Delete(0, static_cast<int>(from));
  return *this;
}

CString& CString::TrimRight() {
  const AnsiCharStepper stepper;
  const std::string_view text(m_pszData, m_nDataLength);
  size_t keep = 0;  // end of the last character that stays
  for (size_t i = 0; i < text.size();) {
    const size_t n = stepper.CharLength(text, i);
    if (!IsSpace(text.substr(i, n))) keep = i + n;
    i += n;
  }
  SetLength(static_cast<int>(keep));
  return *this;
}

CString& CString::TrimRight(char chTarget) {
  const char set[2] = {chTarget, '\0'};
  return chTarget == '\0' ? *this : TrimRight(set);
}

CString& CString::TrimRight(LPCTSTR pszTargets) {
  const AnsiCharStepper stepper;
  const std::string_view text(m_pszData, m_nDataLength);
  size_t keep = 0;
  for (size_t i = 0; i < text.size();) {
    const size_t n = stepper.CharLength(text, i);
    if (!InCharSet(stepper, ViewOf(pszTargets), text.substr(i, n))) keep = i + n;
    i += n;
  }
  SetLength(static_cast<int>(keep));
  return *this;
}

CString& CString::Trim() { return TrimRight().TrimLeft(); }
CString& CString::Trim(char chTarget) { return TrimRight(chTarget).TrimLeft(chTarget); }
CString& CString::Trim(LPCTSTR pszTargets) { return TrimRight(pszTargets).TrimLeft(pszTargets); }

int CString::Replace(char chOld, char chNew) {
  if (chOld == chNew) return 0;
  const AnsiCharStepper stepper;
  const std::string_view text(m_pszData, m_nDataLength);
  int count = 0;
  for (size_t i = 0; i < text.size();) {
    const size_t n = stepper.CharLength(text, i);
    if (n == 1 && m_pszData[i] == chOld) {
      m_pszData[i] = chNew;
      ++count;
    }
    i += n;
  }
  return count;
}

int CString::Replace(LPCTSTR pszOld, LPCTSTR pszNew) {
  const std::string_view old_text = ViewOf(pszOld);
  if (old_text.empty()) return 0;
  const std::string new_text(ViewOf(pszNew));  // a copy: it may lie inside this string
  CString result;
  int count = 0;
  int from = 0;
  for (int found = Find(pszOld, 0); found >= 0;
       found = Find(pszOld, found + static_cast<int>(old_text.size()))) {
    result.Append(m_pszData + from, found - from);
    result.Append(new_text.data(), CheckedLength(new_text.size()));
    from = found + static_cast<int>(old_text.size());
    ++count;
  }
  if (count > 0) {
    result.Append(m_pszData + from, m_nDataLength - from);
    *this = std::move(result);
  }
  return count;
}

int CString::Remove(char chRemove) {
  const AnsiCharStepper stepper;
  const std::string_view text(m_pszData, m_nDataLength);
  size_t out = 0;
  int count = 0;
  for (size_t i = 0; i < text.size();) {
    const size_t n = stepper.CharLength(text, i);
    if (n == 1 && text[i] == chRemove) {
      ++count;
    } else {
      std::memmove(m_pszData + out, m_pszData + i, n);
      out += n;
    }
    i += n;
  }
  SetLength(static_cast<int>(out));
  return count;
}

int CString::Insert(int iIndex, char ch) {
  InsertBytes(std::clamp(iIndex, 0, m_nDataLength), &ch, 1);
  return m_nDataLength;
}

int CString::Insert(int iIndex, LPCTSTR psz) {
  InsertBytes(std::clamp(iIndex, 0, m_nDataLength), psz, LengthOf(psz));
  return m_nDataLength;
}

int CString::Delete(int iIndex, int nCount) {
  iIndex = std::max(iIndex, 0);
  if (iIndex >= m_nDataLength || nCount <= 0) return m_nDataLength;
  nCount = std::min(nCount, m_nDataLength - iIndex);
  std::memmove(m_pszData + iIndex, m_pszData + iIndex + nCount,
               static_cast<size_t>(m_nDataLength - iIndex - nCount));
  SetLength(m_nDataLength - nCount);
  return m_nDataLength;
}

// Formatting.

void CString::Format(LPCTSTR pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  FormatV(pszFormat, args);
  va_end(args);
}

void CString::FormatV(LPCTSTR pszFormat, va_list args) {
  *this = Formatted(pszFormat, args);
}

void CString::AppendFormat(LPCTSTR pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  AppendFormatV(pszFormat, args);
  va_end(args);
}

void CString::AppendFormatV(LPCTSTR pszFormat, va_list args) {
  Append(Formatted(pszFormat, args));
}

// Formats into a string of its own, so that arguments may point into this one.
CString CString::Formatted(LPCTSTR pszFormat, va_list args) {
  if (pszFormat == nullptr) AfxThrowInvalidArgException();
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, pszFormat, measure);
  va_end(measure);
  if (length < 0) AfxThrowInvalidArgException();
  CString result;
  if (length == 0) return result;
  result.Reserve(length);
  std::vsnprintf(result.m_pszData, static_cast<size_t>(length) + 1, pszFormat, args);
  result.SetLength(length);
  return result;
}

// Buffer access.

LPTSTR CString::GetBuffer() { return GetBuffer(0); }

LPTSTR CString::GetBuffer(int nMinBufferLength) {
  if (nMinBufferLength < 0) AfxThrowInvalidArgException();
  Reserve(std::max(nMinBufferLength, m_nDataLength));
  return m_pszData;
}

LPTSTR CString::GetBufferSetLength(int nLength) {
  const int old_length = m_nDataLength;
  GetBuffer(nLength);
  // Bytes that the caller has not written yet read as zeros, not as stale heap.
  if (nLength > old_length) {
    std::memset(m_pszData + old_length, 0, static_cast<size_t>(nLength - old_length));
  }
  SetLength(nLength);
  return m_pszData;
}

void CString::ReleaseBuffer(int nNewLength) {
  if (nNewLength == -1) {
    // Bounded by the block, in case the caller overwrote every NUL.
    const void* nul = std::memchr(m_pszData, '\0', static_cast<size_t>(m_nAllocLength));
    nNewLength = nul == nullptr ? m_nAllocLength
                                : static_cast<int>(static_cast<const char*>(nul) - m_pszData);
  }
  if (nNewLength < 0 || nNewLength > std::max(m_nAllocLength, m_nDataLength)) {
    AfxThrowInvalidArgException();
  }
  SetLength(nNewLength);
}

void CString::ReleaseBufferSetLength(int nNewLength) {
  if (nNewLength < 0) AfxThrowInvalidArgException();
  ReleaseBuffer(nNewLength);
}

LPTSTR CString::LockBuffer() { return GetBuffer(0); }

void CString::Preallocate(int nLength) {
  if (nLength < 0) AfxThrowInvalidArgException();
  Reserve(nLength);
}

void CString::FreeExtra() {
  if (m_nAllocLength == 0 || m_nAllocLength == m_nDataLength) return;
  if (m_nDataLength == 0) {
    std::free(m_pszData);
    m_pszData = g_empty_string;
    m_nAllocLength = 0;
    return;
  }
  char* block = static_cast<char*>(std::realloc(m_pszData, static_cast<size_t>(m_nDataLength) + 1));
  if (block == nullptr) return;  // the larger block serves as well
  m_pszData = block;
  m_nAllocLength = m_nDataLength;
}

BSTR CString::AllocSysString() const {
  const UINT length = WideLength(m_pszData, m_nDataLength);
  BSTR bstr = SysAllocStringLen(nullptr, length);
  if (bstr == nullptr) AfxThrowMemoryException();
  if (length > 0) {
    MultiByteToWideChar(CP_ACP, 0, m_pszData, m_nDataLength, bstr, static_cast<int>(length));
  }
  return bstr;
}

BSTR CString::SetSysString(BSTR* pbstr) const {
  if (pbstr == nullptr) AfxThrowInvalidArgException();
  const UINT length = WideLength(m_pszData, m_nDataLength);
  if (!SysReAllocStringLen(pbstr, nullptr, length)) AfxThrowMemoryException();
  if (length > 0) {
    MultiByteToWideChar(CP_ACP, 0, m_pszData, m_nDataLength, *pbstr, static_cast<int>(length));
  }
  return *pbstr;
}

CString& CString::operator+=(const CString& str) {
  Append(str);
  return *this;
}

CString& CString::operator+=(LPCSTR psz) {
  Append(psz);
  return *this;
}

CString& CString::operator+=(char ch) {
  AppendChar(ch);
  return *this;
}

CString& CString::operator+=(LPCWSTR pszw) {
  Append(CString(pszw));
  return *this;
}

// Free operators.

CString operator+(const CString& a, const CString& b) {
  CString result(a);
  result += b;
  return result;
}
CString operator+(const CString& a, LPCSTR b) {
  CString result(a);
  result += b;
  return result;
}
CString operator+(LPCSTR a, const CString& b) {
  CString result(a);
  result += b;
  return result;
}
CString operator+(const CString& a, char b) {
  CString result(a);
  result += b;
  return result;
}
CString operator+(char a, const CString& b) {
  CString result(a);
  result += b;
  return result;
}

bool operator==(const CString& a, const CString& b) { return a.Compare(b) == 0; }
bool operator==(const CString& a, LPCSTR b) { return a.Compare(b) == 0; }
bool operator==(LPCSTR a, const CString& b) { return b.Compare(a) == 0; }
bool operator==(const CString& a, char b) { return a.GetLength() == 1 && a.GetString()[0] == b; }
bool operator==(char a, const CString& b) { return b == a; }
bool operator!=(const CString& a, const CString& b) { return !(a == b); }
bool operator!=(const CString& a, LPCSTR b) { return !(a == b); }
bool operator!=(LPCSTR a, const CString& b) { return !(b == a); }
bool operator!=(const CString& a, char b) { return !(a == b); }
bool operator!=(char a, const CString& b) { return !(b == a); }
bool operator<(const CString& a, const CString& b) { return a.Compare(b) < 0; }
bool operator<(const CString& a, LPCSTR b) { return a.Compare(b) < 0; }
bool operator<(LPCSTR a, const CString& b) { return b.Compare(a) > 0; }
bool operator>(const CString& a, const CString& b) { return a.Compare(b) > 0; }
bool operator>(const CString& a, LPCSTR b) { return a.Compare(b) > 0; }
bool operator>(LPCSTR a, const CString& b) { return b.Compare(a) < 0; }
bool operator<=(const CString& a, const CString& b) { return a.Compare(b) <= 0; }
bool operator<=(const CString& a, LPCSTR b) { return a.Compare(b) <= 0; }
bool operator<=(LPCSTR a, const CString& b) { return b.Compare(a) >= 0; }
bool operator>=(const CString& a, const CString& b) { return a.Compare(b) >= 0; }
bool operator>=(const CString& a, LPCSTR b) { return a.Compare(b) >= 0; }
bool operator>=(LPCSTR a, const CString& b) { return b.Compare(a) <= 0; }
