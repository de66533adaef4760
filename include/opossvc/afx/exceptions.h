// The framework's exceptions.
//
// As in the window framework these are thrown as pointers and caught as
// pointers; the handler that is done with one calls Delete() (never
// `delete`), which frees it unless it is a preallocated object:
//
//   try {
//     driver.InvokeHelper(...);
//   } catch (COleDispatchException* e) {
//     Log(e->m_strDescription);
//     e->Delete();
//   } catch (CException* e) {
//     e->Delete();
//   }
//
// The Afx* functions throw and never return. AfxThrowMemoryException throws
// one preallocated CMemoryException (so that it works when memory is gone);
// Delete() leaves that object alone.
#ifndef OPOSSVC_AFX_EXCEPTIONS_H_
#define OPOSSVC_AFX_EXCEPTIONS_H_

#include <opossvc/afx/cstring.h>
#include <opossvc/afx/object.h>
#include <opossvc/export.h>
#include <opossvc/win32/oleauto.h>
#include <opossvc/win32/types.h>

// (Overrides are marked `virtual`, not `override`: the run-time class
// macros declare theirs that way, and the two must not be mixed.)
class OPOSSVC_API CException : public CObject {
  DECLARE_DYNAMIC(CException)
 public:
  // bAutoDelete FALSE marks an object that Delete() must not free.
  explicit CException(BOOL bAutoDelete = TRUE);
  virtual ~CException();

  // Frees the exception unless it is preallocated.
  void Delete();

  // Copies a message for the user, NUL-terminated and cut to nMaxError
  // bytes, into lpszError; *pnHelpContext (if given) gets 0. FALSE (and an
  // empty message) when the exception has none.
  virtual BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError,
                               UINT* pnHelpContext = nullptr) const;

  BOOL m_bAutoDelete;
};

class OPOSSVC_API CSimpleException : public CException {
  DECLARE_DYNAMIC(CSimpleException)
 public:
  explicit CSimpleException(BOOL bAutoDelete = TRUE) : CException(bAutoDelete) {}
};

// Memory could not be allocated.
class OPOSSVC_API CMemoryException : public CSimpleException {
  DECLARE_DYNAMIC(CMemoryException)
 public:
  explicit CMemoryException(BOOL bAutoDelete = TRUE) : CSimpleException(bAutoDelete) {}
  virtual BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError,
                               UINT* pnHelpContext = nullptr) const;
};

// A function was given an argument outside its domain (a negative length,
// an index past the end, a null format).
class OPOSSVC_API CInvalidArgException : public CSimpleException {
  DECLARE_DYNAMIC(CInvalidArgException)
 public:
  explicit CInvalidArgException(BOOL bAutoDelete = TRUE) : CSimpleException(bAutoDelete) {}
  virtual BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError,
                               UINT* pnHelpContext = nullptr) const;
};

// An OLE operation failed with m_sc.
class OPOSSVC_API COleException : public CException {
  DECLARE_DYNAMIC(COleException)
 public:
  COleException();
  virtual BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError,
                               UINT* pnHelpContext = nullptr) const;

  // The status code that stands for any exception: m_sc of a COleException,
  // m_scError (or DISP_E_EXCEPTION) of a COleDispatchException,
  // E_OUTOFMEMORY for memory, E_INVALIDARG for arguments, E_UNEXPECTED
  // otherwise.
  static SCODE Process(const CException* pAnyException);

  SCODE m_sc;
};

// The object that was invoked raised an exception of its own
// (DISP_E_EXCEPTION with the contents of its EXCEPINFO).
class OPOSSVC_API COleDispatchException : public CException {
  DECLARE_DYNAMIC(COleDispatchException)
 public:
  COleDispatchException(LPCTSTR lpszDescription, UINT nHelpID, WORD wCode);
  virtual BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError,
                               UINT* pnHelpContext = nullptr) const;

  WORD m_wCode;  // the object's own error code, 0 when it gave m_scError
  CString m_strDescription;
  DWORD m_dwHelpContext;
  CString m_strHelpFile;
  CString m_strSource;
  SCODE m_scError;  // the object's status code, 0 when it gave m_wCode
};

[[noreturn]] OPOSSVC_API void AfxThrowMemoryException();
[[noreturn]] OPOSSVC_API void AfxThrowInvalidArgException();
[[noreturn]] OPOSSVC_API void AfxThrowOleException(SCODE sc);
[[noreturn]] OPOSSVC_API void AfxThrowOleDispatchException(WORD wCode, LPCTSTR lpszDescription,
                                                           UINT nHelpID = 0);

#endif  // OPOSSVC_AFX_EXCEPTIONS_H_
