// BSTR allocation. A BSTR's block is the 32-bit byte length, the text, and
// four zero bytes, so that the text ends in a NUL OLECHAR also when its byte
// length is odd. The BSTR points just past the length.
#include <opossvc/win32/oleauto.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

namespace {

constexpr size_t kPrefixBytes = sizeof(uint32_t);
constexpr size_t kTerminatorBytes = 4;
constexpr UINT kMaxBytes = 0x7FFFFFF0;

uint32_t* BlockOf(BSTR bstr) {
  return reinterpret_cast<uint32_t*>(reinterpret_cast<char*>(bstr) - kPrefixBytes);
}

// A new BSTR of `byte_length` bytes from `bytes` (zeros when null).
BSTR AllocBytes(const void* bytes, UINT byte_length) {
  if (byte_length > kMaxBytes) return nullptr;
  void* block = std::malloc(kPrefixBytes + byte_length + kTerminatorBytes);
  if (block == nullptr) return nullptr;
  *static_cast<uint32_t*>(block) = byte_length;
  char* text = static_cast<char*>(block) + kPrefixBytes;
  if (bytes != nullptr) {
    std::memcpy(text, bytes, byte_length);
  } else {
    std::memset(text, 0, byte_length);
  }
  std::memset(text + byte_length, 0, kTerminatorBytes);
  return reinterpret_cast<BSTR>(text);
}

}  // namespace

BSTR SysAllocString(const OLECHAR* psz) {
  if (psz == nullptr) return nullptr;
  const size_t length = std::char_traits<char16_t>::length(psz);
  if (length > kMaxBytes / 2) return nullptr;
  return AllocBytes(psz, static_cast<UINT>(length * 2));
}

BSTR SysAllocStringLen(const OLECHAR* pch, UINT ui) {
  if (ui > kMaxBytes / 2) return nullptr;
  return AllocBytes(pch, ui * 2);
}

BSTR SysAllocStringByteLen(LPCSTR psz, UINT len) { return AllocBytes(psz, len); }

INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz) {
  if (pbstr == nullptr) return FALSE;
  // The new copy is made before the old string goes: psz may point into it.
  BSTR fresh = SysAllocString(psz);
  if (fresh == nullptr && psz != nullptr) return FALSE;
  SysFreeString(*pbstr);
  *pbstr = fresh;
  return TRUE;
}

INT SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len) {
  if (pbstr == nullptr || len > kMaxBytes / 2) return FALSE;
  // Without a source the old characters stay. A source inside the old string
  // (the old string itself, say) gives what lies between it and the old end:
  // the rest is zeros, never bytes read past that end.
  const char* from = reinterpret_cast<const char*>(psz != nullptr ? psz : *pbstr);
  size_t copy = from != nullptr ? size_t{len} * 2 : 0;
  if (*pbstr != nullptr) {
    const char* begin = reinterpret_cast<const char*>(*pbstr);
    const char* end = begin + SysStringByteLen(*pbstr);
    const std::less<const char*> before;
    if (!before(from, begin) && !before(end, from)) {
      copy = std::min(copy, static_cast<size_t>(end - from));
    }
  }
  BSTR fresh = AllocBytes(nullptr, len * 2);
  if (fresh == nullptr) return FALSE;
  if (copy > 0) std::memcpy(fresh, from, copy);
  SysFreeString(*pbstr);
  *pbstr = fresh;
  return TRUE;
}

void SysFreeString(BSTR bstrString) {
  if (bstrString != nullptr) std::free(BlockOf(bstrString));
}

UINT SysStringLen(BSTR pbstr) { return pbstr == nullptr ? 0 : *BlockOf(pbstr) / 2; }

UINT SysStringByteLen(BSTR bstr) { return bstr == nullptr ? 0 : *BlockOf(bstr); }
