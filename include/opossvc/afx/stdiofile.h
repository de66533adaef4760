// CFile and CStdioFile: files with the window framework's open flags, over the
// Win32 file calls (CreateFileA and the calls on its handle).
//
// Open(name, flags, pError) takes a path as CreateFileA does (files.h) and a
// combination of
//   access    modeRead, modeWrite, modeReadWrite
//   sharing   shareExclusive (and shareCompat), shareDenyWrite,
//             shareDenyRead, shareDenyNone
//   creation  modeCreate (create, or truncate an existing file),
//             modeCreate | modeNoTruncate (create when missing, keep contents)
//   CStdioFile only: typeText (the default) or typeBinary.
// Share modes hold between all opens of a file, in this process and in
// others, as on Windows: an open whose access another open denies, or that
// denies an access another open has, fails with sharingViolation and leaves
// the file as it was. Open returns FALSE on failure, with *pError (when
// given) filled and GetLastError() set to the Win32 error; the other
// operations throw CFileException* on failure, as the framework does
// (catch (CFileException* e) { ...; e->Delete(); }).
//
// Text mode (CStdioFile): Write and WriteString turn each "\n" into "\r\n";
// Read and ReadString turn "\r\n" into "\n" and end the file at a Ctrl-Z
// (0x1A) byte, as the C runtime's text mode does. Lengths and positions
// (GetLength, GetPosition, Seek) count bytes in the file; SetLength leaves
// the position where it was.
//
// Every Write and WriteString hands its whole (translated) data to the file
// in one write, so records of several writers, threads or processes, never
// interleave. After SeekToEnd (or Seek(0, end)) on a file open for writing,
// the file appends: each write lands at the end of the file as it is then,
// also when another process has written there meanwhile; any other Seek
// ends this.
//
// Threads: several threads may call Write and WriteString on one open file
// at once, as long as none of them reads, seeks, opens or closes it; all
// other use is one thread at a time.
//
// m_hFile is the file's Win32 handle, hFileNull while no file is open; the
// Win32 file calls take it. m_pStream (CStdioFile) is a C stream over the
// same open file while it is open, null otherwise: what is written or read
// through it goes through this object, with the same text translation, and
// it buffers nothing of its own.
#ifndef OPOSSVC_AFX_STDIOFILE_H_
#define OPOSSVC_AFX_STDIOFILE_H_

#include <cstdio>

#include <opossvc/afx/cstring.h>
#include <opossvc/afx/exceptions.h>
#include <opossvc/afx/object.h>
#include <opossvc/export.h>
#include <opossvc/win32/types.h>

// (Overrides are marked `virtual`, not `override`, as with the exceptions:
// the run-time class macros declare theirs that way.)

namespace opossvc::detail {
struct StdioStreamAccess;
}

class OPOSSVC_API CFileException : public CException {
  DECLARE_DYNAMIC(CFileException)
 public:
  enum {
    none = 0,
    genericException = 1,
    fileNotFound = 2,
    badPath = 3,
    tooManyOpenFiles = 4,
    accessDenied = 5,
    invalidFile = 6,
    removeCurrentDir = 7,
    directoryFull = 8,
    badSeek = 9,
    hardIO = 10,
    sharingViolation = 11,
    lockViolation = 12,
    diskFull = 13,
    endOfFile = 14,
  };

  explicit CFileException(int cause = none, LONG lOsError = -1, LPCTSTR lpszArchiveName = nullptr);

  // The cause for a Win32 error code.
  static int OsErrorToException(LONG lOsError);
  // Throws a new CFileException*; never returns.
  [[noreturn]] static void ThrowOsError(LONG lOsError, LPCTSTR lpszFileName = nullptr);

  virtual BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError,
                               UINT* pnHelpContext = nullptr) const;

  int m_cause;
  LONG m_lOsError;
  CString m_strFileName;
};

// Throws a new CFileException* with the cause; never returns.
[[noreturn]] OPOSSVC_API void AfxThrowFileException(int cause, LONG lOsError = -1,
                                                    LPCTSTR lpszFileName = nullptr);

class OPOSSVC_API CFile : public CObject {
  DECLARE_DYNAMIC(CFile)
 public:
  enum OpenFlags {
    modeRead = 0x0000,
    modeWrite = 0x0001,
    modeReadWrite = 0x0002,
    shareCompat = 0x0000,
    shareExclusive = 0x0010,
    shareDenyWrite = 0x0020,
    shareDenyRead = 0x0030,
    shareDenyNone = 0x0040,
    modeNoInherit = 0x0080,
    modeCreate = 0x1000,
    modeNoTruncate = 0x2000,
    typeText = 0x4000,
    typeBinary = 0x8000,
  };
  enum SeekPosition { begin = 0x0, current = 0x1, end = 0x2 };

  static const HANDLE hFileNull;

  CFile();
  // Opens the file; throws CFileException* when it cannot.
  CFile(LPCTSTR lpszFileName, UINT nOpenFlags);
  // Closes the file if it is still open (errors are ignored).
  virtual ~CFile();

  virtual BOOL Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException* pError = nullptr);
  virtual void Close();
  // Closes without reporting errors; safe on a closed file.
  virtual void Abort();

  virtual UINT Read(void* lpBuf, UINT nCount);
  virtual void Write(const void* lpBuf, UINT nCount);
  virtual void Flush();

  virtual ULONGLONG Seek(LONGLONG lOff, UINT nFrom);
  void SeekToBegin() { Seek(0, begin); }
  ULONGLONG SeekToEnd() { return Seek(0, end); }
  virtual ULONGLONG GetPosition() const;
  virtual ULONGLONG GetLength() const;
  virtual void SetLength(ULONGLONG dwNewLen);

  // The path as given to Open, and its last component.
  virtual CString GetFilePath() const { return m_strFileName; }
  virtual CString GetFileName() const;

  operator HANDLE() const { return m_hFile; }  // NOLINT(google-explicit-constructor)

  HANDLE m_hFile;

 protected:
  // Throws for a closed file (CFileException::invalidFile).
  void CheckOpen() const;
  // Moves the file pointer as SetFilePointer does and returns the new
  // position; throws on failure. Leaves appending as it is.
  ULONGLONG MovePointer(LONGLONG offset, UINT from) const;
  // Writes all the bytes at the file pointer, or at the end of the file while
  // appending, in one write; throws on failure.
  void WriteBytes(const void* data, size_t size);
  // Takes `handle` as the open file, with the flags it was opened by.
  void AttachHandle(HANDLE handle, LPCTSTR lpszFileName, UINT nOpenFlags);
  // The open flags of the current file.
  UINT m_nOpenFlags;
  CString m_strFileName;
  // Set by a seek to the end of a file open for writing, cleared by any
  // other seek: writes then go to the end of the file as it is at each one.
  // Only seeks change it, so concurrent writers merely read it.
  bool m_bAppend;
};

class OPOSSVC_API CStdioFile : public CFile {
  DECLARE_DYNAMIC(CStdioFile)
 public:
  CStdioFile();
  // Opens the file; throws CFileException* when it cannot.
  CStdioFile(LPCTSTR lpszFileName, UINT nOpenFlags);
  virtual ~CStdioFile();

  virtual BOOL Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException* pError = nullptr);
  virtual void Close();
  virtual void Abort();

  virtual UINT Read(void* lpBuf, UINT nCount);
  virtual void Write(const void* lpBuf, UINT nCount);
  // Everything written has been handed to the system already: nothing to do.
  virtual void Flush();
  virtual ULONGLONG Seek(LONGLONG lOff, UINT nFrom);
  virtual ULONGLONG GetPosition() const;
  virtual void SetLength(ULONGLONG dwNewLen);

  // Writes the text up to its NUL (nothing for a null text).
  virtual void WriteString(LPCTSTR lpsz);
  // Reads up to nMax - 1 bytes, stopping after a line feed, which is kept;
  // NUL-terminated. Null at the end of the file (nothing read).
  virtual LPTSTR ReadString(LPTSTR lpsz, UINT nMax);
  // Reads one line without its line feed (NUL bytes in it are kept).
  // FALSE at the end of the file when nothing was read.
  virtual BOOL ReadString(CString& rString);

  FILE* m_pStream;

 protected:
  // Makes `hFile`, a file handle that the caller opened on `lpszFileName`
  // with the access that `nOpenFlags` names, this object's file, as Open
  // would have; the object closes it from then on. FALSE, with the handle
  // closed and *pError filled, when a file is open already or no stream
  // can be made. For openers that need more than CreateFileA gives.
  BOOL OpenHandle(HANDLE hFile, LPCTSTR lpszFileName, UINT nOpenFlags,
                  CFileException* pError = nullptr);

 private:
  friend struct opossvc::detail::StdioStreamAccess;

  // Makes m_pStream for the file just opened; closes the file when it cannot.
  BOOL OpenStream(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException* pError);

  bool IsText() const { return (m_nOpenFlags & typeBinary) == 0; }
  // Takes bytes from the read-ahead buffer, refilling it from the file;
  // 0 at the end of the file. Throws on a read error.
  UINT ReadRaw(char* out, UINT count);
  // The next byte of the file without taking it; -1 at the end.
  int PeekRaw();
  // Moves the file's position back over what was read ahead but not taken.
  void DropReadAhead();
  // Reads up to nCount translated bytes; stops after a line feed when asked.
  UINT ReadText(char* out, UINT count, bool stop_at_newline);
  // Reads up to `count` bytes of one line, its line feed included.
  UINT ReadLine(char* out, UINT count);
  // The whole text translated and written at once.
  void WriteTranslated(const char* data, size_t size);
  void CloseStream();

  char* m_pReadBuffer;  // read-ahead, kReadBufferSize bytes once used
  UINT m_nReadPos;      // next unread byte in m_pReadBuffer
  UINT m_nReadEnd;      // end of the valid bytes in m_pReadBuffer
  bool m_bEndOfText;    // a Ctrl-Z was met in text mode
};

#endif  // OPOSSVC_AFX_STDIOFILE_H_
