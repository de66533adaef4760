// CSvcBase's binary conversion in the mode of m_lBinaryConversion.
#include <climits>
#include <string>

#include <opossvc/svcbase.h>

#include "svcbase/ansi_text.h"
#include "svcbase/binary_conversion.h"

namespace {

using opossvc::detail::DecodedBytes;
using opossvc::detail::kConversionDecimal;
using opossvc::detail::kConversionNibble;
using opossvc::detail::kConversionNone;

// A byte count as the 32-bit value it stands for; negative counts are none.
size_t CountOf(const void* data, long length) {
  const LONG count = opossvc::Long32(length);
  return (data == nullptr || count <= 0) ? 0 : static_cast<size_t>(count);
}

// CString lengths are int; a result that would not fit is given as empty.
CString ToCString(const std::string& bytes) {
  if (bytes.size() > static_cast<size_t>(INT_MAX)) return CString();
  return CString(bytes.data(), static_cast<int>(bytes.size()));
}

CString Decoded(const DecodedBytes& decoded, long* pError) {
  *pError = decoded.error;
  return ToCString(decoded.bytes);
}

}  // namespace

CString CSvcBase::ConvertToASCII(const char* pData, long lLength) {
  size_t count = CountOf(pData, lLength);
  if (count == 0) return CString();
  const auto* bytes = reinterpret_cast<const unsigned char*>(pData);
  switch (m_lBinaryConversion) {
    case kConversionNone:
      return CString(pData, static_cast<int>(count));
    case kConversionNibble:
      return ToCString(opossvc::detail::EncodeNibbles(bytes, count));
    case kConversionDecimal:
      return ToCString(opossvc::detail::EncodeDecimal(bytes, count));
    default:
      return CString();
  }
}

CString CSvcBase::ConvertToBinary(const char* pData, long lLength, long* pError) {
  long ignored = 0;
  if (pError == nullptr) pError = &ignored;
  *pError = 0;
  size_t count = CountOf(pData, lLength);
  switch (m_lBinaryConversion) {
    case kConversionNone:
      return count == 0 ? CString() : CString(pData, static_cast<int>(count));
    case kConversionNibble:
      return Decoded(opossvc::detail::DecodeNibbles(pData, count), pError);
    case kConversionDecimal:
      return Decoded(opossvc::detail::DecodeDecimal(pData, count), pError);
    default:
      return CString();
  }
}

CString CSvcBase::ConvertToBinary(BSTR* pString, long* pError) {
  long ignored = 0;
  if (pError == nullptr) pError = &ignored;
  *pError = 0;
  BSTR text = pString != nullptr ? *pString : nullptr;
  UINT count = text != nullptr ? SysStringLen(text) : 0;
  switch (m_lBinaryConversion) {
    case kConversionNone:
      return opossvc::detail::WideToAnsi(text, count);
    case kConversionNibble:
      return Decoded(opossvc::detail::DecodeNibbles(text, count), pError);
    case kConversionDecimal:
      return Decoded(opossvc::detail::DecodeDecimal(text, count), pError);
    default:
      return CString();
  }
}
