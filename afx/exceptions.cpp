#include <opossvc/afx/exceptions.h>

#include <cstdio>
#include <cstring>

namespace {

BOOL CopyMessage(const char* text, LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext) {
  if (pnHelpContext != nullptr) *pnHelpContext = 0;
  if (lpszError == nullptr || nMaxError == 0) return FALSE;
  std::snprintf(lpszError, nMaxError, "%s", text);
  return text[0] != '\0';
}

}  // namespace

IMPLEMENT_DYNAMIC(CException, CObject)
IMPLEMENT_DYNAMIC(CSimpleException, CException)
IMPLEMENT_DYNAMIC(CMemoryException, CSimpleException)
IMPLEMENT_DYNAMIC(CInvalidArgException, CSimpleException)
IMPLEMENT_DYNAMIC(COleException, CException)
IMPLEMENT_DYNAMIC(COleDispatchException, CException)

CException::CException(BOOL bAutoDelete) : m_bAutoDelete(bAutoDelete) {}

CException::~CException() = default;

void CException::Delete() {
  if (m_bAutoDelete) delete this;
}

BOOL CException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext) const {
  return CopyMessage("", lpszError, nMaxError, pnHelpContext);
}

BOOL CMemoryException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError,
                                       UINT* pnHelpContext) const {
  return CopyMessage("Out of memory.", lpszError, nMaxError, pnHelpContext);
}

BOOL CInvalidArgException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError,
                                           UINT* pnHelpContext) const {
  return CopyMessage("Invalid argument.", lpszError, nMaxError, pnHelpContext);
}

COleException::COleException() : m_sc(S_OK) {}

BOOL COleException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError,
                                    UINT* pnHelpContext) const {
  char text[48];
  std::snprintf(text, sizeof text, "OLE error 0x%08x.", static_cast<unsigned>(m_sc));
  return CopyMessage(text, lpszError, nMaxError, pnHelpContext);
}

SCODE COleException::Process(const CException* pAnyException) {
  if (pAnyException == nullptr) return E_UNEXPECTED;
  if (pAnyException->IsKindOf(RUNTIME_CLASS(COleException))) {
    return static_cast<const COleException*>(pAnyException)->m_sc;
  }
  if (pAnyException->IsKindOf(RUNTIME_CLASS(COleDispatchException))) {
    const SCODE sc = static_cast<const COleDispatchException*>(pAnyException)->m_scError;
    return sc != 0 ? sc : DISP_E_EXCEPTION;
  }
  if (pAnyException->IsKindOf(RUNTIME_CLASS(CMemoryException))) return E_OUTOFMEMORY;
  if (pAnyException->IsKindOf(RUNTIME_CLASS(CInvalidArgException))) return E_INVALIDARG;
  return E_UNEXPECTED;
}

COleDispatchException::COleDispatchException(LPCTSTR lpszDescription, UINT nHelpID, WORD wCode)
    : m_wCode(wCode),
      m_strDescription(lpszDescription),
      m_dwHelpContext(nHelpID),
      m_scError(0) {}

BOOL COleDispatchException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError,
                                            UINT* pnHelpContext) const {
  const BOOL found = CopyMessage(m_strDescription, lpszError, nMaxError, nullptr);
  if (pnHelpContext != nullptr) *pnHelpContext = m_dwHelpContext;
  return found;
}

void AfxThrowMemoryException() {
  // Preallocated: throwing must not need the memory that has run out.
  static CMemoryException the_exception(FALSE);
  throw &the_exception;
}

void AfxThrowInvalidArgException() { throw new CInvalidArgException(); }

void AfxThrowOleException(SCODE sc) {
  auto* exception = new COleException();
  exception->m_sc = sc;
  throw exception;
}

void AfxThrowOleDispatchException(WORD wCode, LPCTSTR lpszDescription, UINT nHelpID) {
  throw new COleDispatchException(lpszDescription, nHelpID, wCode);
}
