// CWinThread and AfxBeginThread: worker threads owned by a C++ object.
//
//   CWinThread* t = AfxBeginThread(&Worker, this);
//
// starts Worker(this) on a new thread. With m_bAutoDelete (the default) the
// object deletes itself and closes m_hThread when the thread ends, so the
// returned pointer may already be gone by the time the caller looks at it.
// To keep the object, start it with CREATE_SUSPENDED, clear m_bAutoDelete,
// then ResumeThread; the caller then waits on m_hThread and deletes it.
#ifndef OPOSSVC_AFX_WINTHREAD_H_
#define OPOSSVC_AFX_WINTHREAD_H_

#include <opossvc/afx/object.h>
#include <opossvc/export.h>
#include <opossvc/win32/threads.h>
#include <opossvc/win32/types.h>

typedef UINT (*AFX_THREADPROC)(LPVOID);

class OPOSSVC_API CWinThread : public CCmdTarget {
  DECLARE_DYNAMIC(CWinThread)

 public:
  CWinThread();
  CWinThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam);
  // Closes m_hThread; does not stop the thread.
  virtual ~CWinThread();

  // Starts the thread; FALSE (and GetLastError) when it cannot be created.
  BOOL CreateThread(DWORD dwCreateFlags = 0, UINT nStackSize = 0,
                    LPSECURITY_ATTRIBUTES lpSecurityAttrs = nullptr);

  operator HANDLE() const { return m_hThread; }
  int GetThreadPriority();
  BOOL SetThreadPriority(int nPriority);
  DWORD ResumeThread();
  BOOL PostThreadMessage(UINT message, WPARAM wParam, LPARAM lParam);

  // Deletes the object when m_bAutoDelete is set; called when the thread ends.
  virtual void Delete();

  HANDLE m_hThread;
  DWORD m_nThreadID;
  BOOL m_bAutoDelete;
  AFX_THREADPROC m_pfnThreadProc;
  LPVOID m_pThreadParams;
};

// Starts pfnThreadProc(pParam) on a new thread; null when it cannot start.
OPOSSVC_API CWinThread* AfxBeginThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam,
                                       int nPriority = THREAD_PRIORITY_NORMAL, UINT nStackSize = 0,
                                       DWORD dwCreateFlags = 0,
                                       LPSECURITY_ATTRIBUTES lpSecurityAttrs = nullptr);

#endif  // OPOSSVC_AFX_WINTHREAD_H_
