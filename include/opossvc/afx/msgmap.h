// Message maps: static tables that bind window messages to member functions.
//
// A class declares DECLARE_MESSAGE_MAP() in its body and defines its table
// in one source file:
//
//   BEGIN_MESSAGE_MAP(CMyWnd, CWnd)
//     ON_MESSAGE(WM_APP + 1, &CMyWnd::OnAppMessage)
//   END_MESSAGE_MAP()
//
// Each map links to its base class's map; a message is looked up in the most
// derived map first, then along the chain, and the first matching entry
// wins. The entry macros (ON_MESSAGE, ...) live with the classes that
// dispatch them (afx/wnd.h). Tables are built on first use and are
// immutable afterwards; any thread may read them.
#ifndef OPOSSVC_AFX_MSGMAP_H_
#define OPOSSVC_AFX_MSGMAP_H_

#include <opossvc/export.h>
#include <opossvc/win32/types.h>

class CCmdTarget;

// The stored form of every handler; an entry's nSig says which type it had
// before the cast and must be cast back to before the call.
typedef void (CCmdTarget::*AFX_PMSG)(void);

// Handler signatures that entries may carry.
enum AfxSig : UINT_PTR {
  AfxSig_end = 0,  // terminates a table
  AfxSig_lwl,      // LRESULT (CWnd::*)(WPARAM, LPARAM)
};

struct OPOSSVC_API AFX_MSGMAP_ENTRY {
  UINT nMessage;  // window message
  UINT nCode;     // control code or WM_NOTIFY code (unused: 0)
  UINT nID;       // control ID (unused: 0)
  UINT nLastID;   // last control ID of a range (unused: 0)
  UINT_PTR nSig;  // AfxSig_* of pfn
  AFX_PMSG pfn;   // handler, cast to AFX_PMSG
};

struct OPOSSVC_API AFX_MSGMAP {
  const AFX_MSGMAP* (*pfnGetBaseMap)();  // null at the end of the chain
  const AFX_MSGMAP_ENTRY* lpEntries;     // ends with an AfxSig_end entry
};

// clang-format off
#define DECLARE_MESSAGE_MAP()                   \
 protected:                                     \
  static const AFX_MSGMAP* GetThisMessageMap(); \
  virtual const AFX_MSGMAP* GetMessageMap() const;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                      \
  const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
  const AFX_MSGMAP* theClass::GetThisMessageMap() {                                 \
    typedef theClass ThisClass;                                                     \
    typedef baseClass TheBaseClass;                                                 \
    static_cast<void>(sizeof(ThisClass));                                           \
    static const AFX_MSGMAP_ENTRY _messageEntries[] = {

#define END_MESSAGE_MAP()                                                   \
      {0, 0, 0, 0, AfxSig_end, static_cast<AFX_PMSG>(nullptr)}};            \
    static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, \
                                          &_messageEntries[0]};             \
    return &messageMap;                                                     \
  }
// clang-format on

#endif  // OPOSSVC_AFX_MSGMAP_H_
