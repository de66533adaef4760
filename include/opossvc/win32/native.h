// Where the Win32 names come from. On Windows every header of this folder
// forwards to the system's own headers, included here once with one policy
// (the full <windows.h>, no min/max macros, OLE Automation), and
// OPOSSVC_WIN32_NATIVE is defined; elsewhere this header defines nothing and
// the folder's headers declare the subset that platform/ implements.
#ifndef OPOSSVC_WIN32_NATIVE_H_
#define OPOSSVC_WIN32_NATIVE_H_

#if defined(_WIN32)
#define OPOSSVC_WIN32_NATIVE 1
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#if defined(__MINGW32__) && defined(__cplusplus)
// mingw-w64 declares the sources of these without the const that the
// Windows SDK gives them; these overloads take const sources as the SDK's do.
inline HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* source) {
  return VariantCopy(dest, const_cast<VARIANTARG*>(source));
}
inline HRESULT VariantCopyInd(VARIANT* dest, const VARIANTARG* source) {
  return VariantCopyInd(dest, const_cast<VARIANTARG*>(source));
}
inline HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* source, USHORT flags,
                                 VARTYPE type) {
  return VariantChangeType(dest, const_cast<VARIANTARG*>(source), flags, type);
}
inline HRESULT VariantChangeTypeEx(VARIANTARG* dest, const VARIANTARG* source, LCID locale,
                                   USHORT flags, VARTYPE type) {
  return VariantChangeTypeEx(dest, const_cast<VARIANTARG*>(source), locale, flags, type);
}
#endif
#endif

#endif  // OPOSSVC_WIN32_NATIVE_H_
