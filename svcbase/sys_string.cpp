// Automation strings made from 8-bit strings, converted or as raw bytes.
#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>

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
  // Copy before freeing: psz may point into the old string, which then gives
  // only the bytes up to its end; the rest are zeros, never read past it.
  size_t copy = psz != nullptr ? len : 0;
  if (*pbstr != nullptr && psz != nullptr) {
    const char* begin = reinterpret_cast<const char*>(*pbstr);
    const char* end = begin + SysStringByteLen(*pbstr);
    const std::less<const char*> before;
    if (!before(psz, begin) && !before(end, psz)) {
      copy = std::min(copy, static_cast<size_t>(end - psz));
    }
  }
  BSTR fresh = SysAllocStringByteLen(nullptr, len);
  if (fresh != nullptr && copy > 0) std::memcpy(fresh, psz, copy);
  if (*pbstr != nullptr) SysFreeString(*pbstr);
  *pbstr = fresh;
  return fresh != nullptr ? 1 : 0;
}
