// Automation strings made from 8-bit strings, converted or as raw bytes.
#include <climits>
#include <cstring>

#include <opossvc/afx/exceptions.h>
#include <opossvc/svcbase.h>
#include <opossvc/win32/codepage.h>

BSTR AllocSysString(const char* psz) {
  size_t bytes = psz ? std::strlen(psz) : 0;
  // The code-page interfaces count in int.
  if (bytes > static_cast<size_t>(INT_MAX)) AfxThrowMemoryException();
  int length = static_cast<int>(bytes);
  int chars = length == 0 ? 0 : MultiByteToWideChar(CP_ACP, 0, psz, length, nullptr, 0);
  BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(chars));
  if (result == nullptr) AfxThrowMemoryException();
  if (chars > 0) MultiByteToWideChar(CP_ACP, 0, psz, length, result, chars);
  return result;
}

BSTR AllocSysStringByte(const char* psz) {
  size_t bytes = psz ? std::strlen(psz) : 0;
  if (bytes > static_cast<size_t>(UINT_MAX)) AfxThrowMemoryException();
  BSTR result = SysAllocStringByteLen(psz ? psz : "", static_cast<UINT>(bytes));
  if (result == nullptr) AfxThrowMemoryException();
  return result;
}

int ReAllocSysStringByteLen(BSTR* pbstr, const char* psz, unsigned int len) {
  if (pbstr == nullptr) return 0;
  // Copy before freeing: psz may point into the old string.
  BSTR fresh = SysAllocStringByteLen(psz, len);
  if (*pbstr != nullptr) SysFreeString(*pbstr);
  *pbstr = fresh;
  return fresh != nullptr ? 1 : 0;
}
