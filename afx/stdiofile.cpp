#include <opossvc/afx/stdiofile.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>
#include <string>

#include <opossvc/win32/errors.h>
#include <opossvc/win32/files.h>

#include "platform/internal/callback_stream.h"

IMPLEMENT_DYNAMIC(CFileException, CException)
IMPLEMENT_DYNAMIC(CFile, CObject)
IMPLEMENT_DYNAMIC(CStdioFile, CFile)

namespace {

constexpr UINT kReadBufferSize = 64 * 1024;
constexpr char kCtrlZ = 0x1A;

struct CauseText {
  int cause;
  const char* text;
};

constexpr CauseText kCauseTexts[] = {
    {CFileException::genericException, "An unexpected error occurred while accessing"},
    {CFileException::fileNotFound, "The file was not found:"},
    {CFileException::badPath, "The path is invalid:"},
    {CFileException::tooManyOpenFiles, "Too many files are open to open"},
    {CFileException::accessDenied, "Access was denied to"},
    {CFileException::invalidFile, "The file handle is invalid for"},
    {CFileException::removeCurrentDir, "The current directory cannot be removed:"},
    {CFileException::directoryFull, "The directory is full for"},
    {CFileException::badSeek, "The file pointer cannot be set in"},
    {CFileException::hardIO, "A hardware I/O error was reported on"},
    {CFileException::sharingViolation, "A sharing violation occurred while accessing"},
    {CFileException::lockViolation, "A locking violation occurred while accessing"},
    {CFileException::diskFull, "The disk is full while accessing"},
    {CFileException::endOfFile, "An attempt was made to access past the end of"},
};

struct ErrorCause {
  LONG error;
  int cause;
};

constexpr ErrorCause kErrorCauses[] = {
    {ERROR_FILE_NOT_FOUND, CFileException::fileNotFound},
    {ERROR_PATH_NOT_FOUND, CFileException::badPath},
    {ERROR_TOO_MANY_OPEN_FILES, CFileException::tooManyOpenFiles},
    {ERROR_ACCESS_DENIED, CFileException::accessDenied},
    {ERROR_INVALID_HANDLE, CFileException::invalidFile},
    {ERROR_BAD_FORMAT, CFileException::invalidFile},
    {ERROR_INVALID_ACCESS, CFileException::accessDenied},
    {ERROR_INVALID_DRIVE, CFileException::badPath},
    {ERROR_WRITE_PROTECT, CFileException::accessDenied},
    {ERROR_NOT_READY, CFileException::hardIO},
    {ERROR_BAD_COMMAND, CFileException::hardIO},
    {ERROR_CRC, CFileException::hardIO},
    {ERROR_BAD_LENGTH, CFileException::badSeek},
    {ERROR_WRITE_FAULT, CFileException::accessDenied},
    {ERROR_READ_FAULT, CFileException::badSeek},
    {ERROR_GEN_FAILURE, CFileException::hardIO},
    {ERROR_SHARING_VIOLATION, CFileException::sharingViolation},
    {ERROR_LOCK_VIOLATION, CFileException::lockViolation},
    {ERROR_HANDLE_EOF, CFileException::endOfFile},
    {ERROR_HANDLE_DISK_FULL, CFileException::diskFull},
    {ERROR_DEV_NOT_EXIST, CFileException::badPath},
    {ERROR_FILE_EXISTS, CFileException::accessDenied},
    {ERROR_CANNOT_MAKE, CFileException::accessDenied},
    {ERROR_BUFFER_OVERFLOW, CFileException::badPath},
    {ERROR_DISK_FULL, CFileException::diskFull},
    {ERROR_INVALID_NAME, CFileException::badPath},
    {ERROR_NEGATIVE_SEEK, CFileException::badSeek},
    {ERROR_SEEK_ON_DEVICE, CFileException::badSeek},
    {ERROR_DIR_NOT_EMPTY, CFileException::removeCurrentDir},
    {ERROR_BAD_PATHNAME, CFileException::badPath},
    {ERROR_BUSY, CFileException::accessDenied},
    {ERROR_ALREADY_EXISTS, CFileException::accessDenied},
    {ERROR_FILENAME_EXCED_RANGE, CFileException::badPath},
    {ERROR_DIRECTORY, CFileException::badPath},
    {ERROR_OPERATION_ABORTED, CFileException::hardIO},
    {ERROR_IO_INCOMPLETE, CFileException::hardIO},
    {ERROR_IO_PENDING, CFileException::hardIO},
};

// CreateFileA's arguments for the open flags.
struct OpenArguments {
  DWORD access = 0;
  DWORD share = 0;
  DWORD creation = OPEN_EXISTING;
};

// ERROR_INVALID_PARAMETER for flags that contradict each other.
DWORD ArgumentsOf(UINT flags, OpenArguments* arguments) {
  DWORD error = ERROR_SUCCESS;
  switch (flags & 0x3) {
    case CFile::modeRead:
      arguments->access = GENERIC_READ;
      break;
    case CFile::modeWrite:
      arguments->access = GENERIC_WRITE;
      break;
    case CFile::modeReadWrite:
      arguments->access = GENERIC_READ | GENERIC_WRITE;
      break;
    default:
      error = ERROR_INVALID_PARAMETER;
  }
  switch (flags & 0x70) {
    case CFile::shareCompat:
    case CFile::shareExclusive:
      break;
    case CFile::shareDenyWrite:
      arguments->share = FILE_SHARE_READ;
      break;
    case CFile::shareDenyRead:
      arguments->share = FILE_SHARE_WRITE;
      break;
    case CFile::shareDenyNone:
      arguments->share = FILE_SHARE_READ | FILE_SHARE_WRITE;
      break;
    default:
      error = ERROR_INVALID_PARAMETER;
  }
  if (flags & CFile::modeCreate) {
    arguments->creation = (flags & CFile::modeNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;
  }
  if ((flags & CFile::typeText) && (flags & CFile::typeBinary)) error = ERROR_INVALID_PARAMETER;
  return error;
}

void Fill(CFileException* pError, DWORD error, LPCTSTR name) {
  if (pError == nullptr) return;
  pError->m_lOsError = static_cast<LONG>(error);
  pError->m_cause = CFileException::OsErrorToException(static_cast<LONG>(error));
  pError->m_strFileName = name;
}

}  // namespace

// --- CFileException ----------------------------------------------------------

CFileException::CFileException(int cause, LONG lOsError, LPCTSTR lpszArchiveName)
    : m_cause(cause), m_lOsError(lOsError), m_strFileName(lpszArchiveName) {}

int CFileException::OsErrorToException(LONG lOsError) {
  for (const ErrorCause& entry : kErrorCauses) {
    if (entry.error == lOsError) return entry.cause;
  }
  return genericException;
}

void CFileException::ThrowOsError(LONG lOsError, LPCTSTR lpszFileName) {
  AfxThrowFileException(OsErrorToException(lOsError), lOsError, lpszFileName);
}

BOOL CFileException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError,
                                     UINT* pnHelpContext) const {
  if (pnHelpContext != nullptr) *pnHelpContext = 0;
  if (lpszError == nullptr || nMaxError == 0) return FALSE;
  const char* text = nullptr;
  for (const CauseText& entry : kCauseTexts) {
    if (entry.cause == m_cause) text = entry.text;
  }
  if (text == nullptr) {
    lpszError[0] = '\0';
    return FALSE;
  }
  CString message;
  message.Format("%s %s.", text, m_strFileName.IsEmpty() ? "an unnamed file" : m_strFileName.GetString());
  size_t length = std::min<size_t>(static_cast<size_t>(message.GetLength()), nMaxError - 1);
  std::memcpy(lpszError, message.GetString(), length);
  lpszError[length] = '\0';
  return TRUE;
}

void AfxThrowFileException(int cause, LONG lOsError, LPCTSTR lpszFileName) {
  auto* exception = new (std::nothrow) CFileException(cause, lOsError, lpszFileName);
  if (exception == nullptr) AfxThrowMemoryException();
  throw exception;
}

// --- CFile -------------------------------------------------------------------

const HANDLE CFile::hFileNull = INVALID_HANDLE_VALUE;

CFile::CFile() : m_hFile(hFileNull), m_nOpenFlags(0), m_bAppend(false) {}

CFile::CFile(LPCTSTR lpszFileName, UINT nOpenFlags) : CFile() {
  CFileException error;
  if (!CFile::Open(lpszFileName, nOpenFlags, &error)) {
    AfxThrowFileException(error.m_cause, error.m_lOsError, error.m_strFileName);
  }
}

CFile::~CFile() { CFile::Abort(); }

void CFile::CheckOpen() const {
  if (m_hFile == hFileNull) {
    AfxThrowFileException(CFileException::invalidFile, ERROR_INVALID_HANDLE, m_strFileName);
  }
}

BOOL CFile::Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException* pError) {
  OpenArguments arguments;
  DWORD error = ArgumentsOf(nOpenFlags, &arguments);
  if (m_hFile != hFileNull) error = ERROR_INVALID_PARAMETER;  // already open
  if (error == ERROR_SUCCESS && (lpszFileName == nullptr || *lpszFileName == '\0')) {
    error = ERROR_PATH_NOT_FOUND;
  }
  HANDLE handle = INVALID_HANDLE_VALUE;
  if (error == ERROR_SUCCESS) {
    SECURITY_ATTRIBUTES security{sizeof(security), nullptr, (nOpenFlags & modeNoInherit) ? FALSE : TRUE};
    handle = CreateFileA(lpszFileName, arguments.access, arguments.share, &security, arguments.creation,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) error = GetLastError();
  }
  if (error != ERROR_SUCCESS) {
    Fill(pError, error, lpszFileName);
    SetLastError(error);
    return FALSE;
  }
  AttachHandle(handle, lpszFileName, nOpenFlags);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

void CFile::AttachHandle(HANDLE handle, LPCTSTR lpszFileName, UINT nOpenFlags) {
  m_hFile = handle;
  m_nOpenFlags = nOpenFlags;
  m_strFileName = lpszFileName;
  m_bAppend = false;
}

void CFile::Close() {
  if (m_hFile == hFileNull) return;
  HANDLE handle = m_hFile;
  m_hFile = hFileNull;
  if (!CloseHandle(handle)) CFileException::ThrowOsError(static_cast<LONG>(GetLastError()), m_strFileName);
}

void CFile::Abort() {
  if (m_hFile == hFileNull) return;
  CloseHandle(m_hFile);
  m_hFile = hFileNull;
}

UINT CFile::Read(void* lpBuf, UINT nCount) {
  CheckOpen();
  if (nCount == 0) return 0;
  DWORD done = 0;
  if (!ReadFile(m_hFile, lpBuf, nCount, &done, nullptr)) {
    CFileException::ThrowOsError(static_cast<LONG>(GetLastError()), m_strFileName);
  }
  return done;
}

void CFile::Write(const void* lpBuf, UINT nCount) {
  CheckOpen();
  WriteBytes(lpBuf, nCount);
}

void CFile::WriteBytes(const void* data, size_t size) {
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    // Offsets of all ones write at the end of the file, as FILE_APPEND_DATA.
    OVERLAPPED at_end{};
    at_end.Offset = at_end.OffsetHigh = 0xFFFFFFFF;
    const DWORD piece = static_cast<DWORD>(std::min<size_t>(size, 0xFFFFFFFF));
    DWORD done = 0;
    if (!WriteFile(m_hFile, next, piece, &done, m_bAppend ? &at_end : nullptr)) {
      CFileException::ThrowOsError(static_cast<LONG>(GetLastError()), m_strFileName);
    }
    next += piece;
    size -= piece;
  }
}

void CFile::Flush() {
  CheckOpen();
  // Nothing written, nothing to flush: a file open for reading has no need.
  if ((m_nOpenFlags & 0x3) == modeRead) return;
  if (!FlushFileBuffers(m_hFile)) {
    CFileException::ThrowOsError(static_cast<LONG>(GetLastError()), m_strFileName);
  }
}

ULONGLONG CFile::MovePointer(LONGLONG offset, UINT from) const {
  LONG high = static_cast<LONG>(offset >> 32);
  // A low half of all ones is a valid position: the last error tells.
  SetLastError(ERROR_SUCCESS);
  const DWORD low = SetFilePointer(m_hFile, static_cast<LONG>(offset & 0xFFFFFFFF), &high, from);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) {
    CFileException::ThrowOsError(static_cast<LONG>(GetLastError()), m_strFileName);
  }
  return (static_cast<ULONGLONG>(static_cast<DWORD>(high)) << 32) | low;
}

ULONGLONG CFile::Seek(LONGLONG lOff, UINT nFrom) {
  CheckOpen();
  // A write-enabled file positioned at its end appends from then on.
  m_bAppend = (m_nOpenFlags & 0x3) != modeRead && lOff == 0 && nFrom == end;
  return MovePointer(lOff, nFrom);
}

ULONGLONG CFile::GetPosition() const {
  CheckOpen();
  return MovePointer(0, current);
}

ULONGLONG CFile::GetLength() const {
  CheckOpen();
  DWORD high = 0;
  SetLastError(ERROR_SUCCESS);
  const DWORD low = GetFileSize(m_hFile, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) {
    CFileException::ThrowOsError(static_cast<LONG>(GetLastError()), m_strFileName);
  }
  return (static_cast<ULONGLONG>(high) << 32) | low;
}

void CFile::SetLength(ULONGLONG dwNewLen) {
  CheckOpen();
  // SetEndOfFile cuts at the file pointer; the pointer returns afterwards.
  const ULONGLONG position = MovePointer(0, current);
  MovePointer(static_cast<LONGLONG>(dwNewLen), begin);
  const BOOL cut = SetEndOfFile(m_hFile);
  const DWORD error = GetLastError();
  MovePointer(static_cast<LONGLONG>(position), begin);
  if (!cut) CFileException::ThrowOsError(static_cast<LONG>(error), m_strFileName);
}

CString CFile::GetFileName() const {
  int cut = -1;
  for (int i = 0; i < m_strFileName.GetLength(); ++i) {
    char c = m_strFileName[i];
    if (c == '\\' || c == '/' || c == ':') cut = i;
  }
  return m_strFileName.Mid(cut + 1);
}

// --- CStdioFile ----------------------------------------------------------------

namespace opossvc::detail {

// The C stream's functions: each runs one operation of the file and turns
// its exception into the stream's error result.
struct StdioStreamAccess {
  static std::ptrdiff_t Read(void* cookie, char* buffer, size_t size) {
    auto* file = static_cast<CStdioFile*>(cookie);
    try {
      UINT count = static_cast<UINT>(std::min<size_t>(size, 0x7FFFFFFF));
      return file->IsText() ? file->ReadText(buffer, count, false) : file->ReadRaw(buffer, count);
    } catch (CException* e) {
      e->Delete();
      return -1;
    }
  }
  static std::ptrdiff_t Write(void* cookie, const char* data, size_t size) {
    auto* file = static_cast<CStdioFile*>(cookie);
    try {
      file->CheckOpen();
      file->WriteTranslated(data, size);
      return static_cast<std::ptrdiff_t>(size);
    } catch (CException* e) {
      e->Delete();
      return -1;
    }
  }
  static int Seek(void* cookie, int64_t* offset, int whence) {
    auto* file = static_cast<CStdioFile*>(cookie);
    try {
      UINT from = whence == SEEK_SET ? CFile::begin : whence == SEEK_CUR ? CFile::current : CFile::end;
      *offset = static_cast<int64_t>(file->Seek(*offset, from));
      return 0;
    } catch (CException* e) {
      e->Delete();
      return -1;
    }
  }
};

}  // namespace opossvc::detail

CStdioFile::CStdioFile()
    : m_pStream(nullptr), m_pReadBuffer(nullptr), m_nReadPos(0), m_nReadEnd(0), m_bEndOfText(false) {}

CStdioFile::CStdioFile(LPCTSTR lpszFileName, UINT nOpenFlags) : CStdioFile() {
  CFileException error;
  if (!CStdioFile::Open(lpszFileName, nOpenFlags, &error)) {
    AfxThrowFileException(error.m_cause, error.m_lOsError, error.m_strFileName);
  }
}

CStdioFile::~CStdioFile() {
  CStdioFile::Abort();
  delete[] m_pReadBuffer;
}

BOOL CStdioFile::Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException* pError) {
  if (!CFile::Open(lpszFileName, nOpenFlags, pError)) return FALSE;
  return OpenStream(lpszFileName, nOpenFlags, pError);
}

BOOL CStdioFile::OpenHandle(HANDLE hFile, LPCTSTR lpszFileName, UINT nOpenFlags,
                            CFileException* pError) {
  if (m_hFile != hFileNull) {
    CloseHandle(hFile);
    Fill(pError, ERROR_INVALID_PARAMETER, lpszFileName);
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  AttachHandle(hFile, lpszFileName, nOpenFlags);
  return OpenStream(lpszFileName, nOpenFlags, pError);
}

BOOL CStdioFile::OpenStream(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException* pError) {
  m_nReadPos = m_nReadEnd = 0;
  m_bEndOfText = false;
  std::string mode = (nOpenFlags & 0x3) == modeRead ? "r" : (nOpenFlags & 0x3) == modeWrite ? "w" : "r+";
  if (!IsText()) mode += 'b';
  opossvc::detail::StreamFunctions functions{&opossvc::detail::StdioStreamAccess::Read,
                                             &opossvc::detail::StdioStreamAccess::Write,
                                             &opossvc::detail::StdioStreamAccess::Seek};
  m_pStream = opossvc::detail::OpenCallbackStream(this, functions, mode.c_str(), m_hFile);
  if (m_pStream == nullptr) {
    CFile::Abort();
    Fill(pError, ERROR_NOT_ENOUGH_MEMORY, lpszFileName);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  return TRUE;
}

void CStdioFile::CloseStream() {
  if (m_pStream == nullptr) return;
  FILE* stream = m_pStream;
  m_pStream = nullptr;
  fclose(stream);  // unbuffered: calls none of the file's functions
}

void CStdioFile::Close() {
  CloseStream();
  m_nReadPos = m_nReadEnd = 0;
  CFile::Close();
}

void CStdioFile::Abort() {
  CloseStream();
  m_nReadPos = m_nReadEnd = 0;
  CFile::Abort();
}

void CStdioFile::Flush() { CheckOpen(); }

UINT CStdioFile::ReadRaw(char* out, UINT count) {
  UINT done = 0;
  while (done < count) {
    if (m_nReadPos == m_nReadEnd) {
      if (done > 0) break;  // hand out what we have before blocking again
      if (m_pReadBuffer == nullptr) m_pReadBuffer = new char[kReadBufferSize];
      m_nReadPos = m_nReadEnd = 0;
      UINT got = CFile::Read(m_pReadBuffer, kReadBufferSize);
      if (got == 0) break;
      m_nReadEnd = got;
    }
    UINT take = std::min(count - done, m_nReadEnd - m_nReadPos);
    std::memcpy(out + done, m_pReadBuffer + m_nReadPos, take);
    m_nReadPos += take;
    done += take;
  }
  return done;
}

int CStdioFile::PeekRaw() {
  if (m_nReadPos == m_nReadEnd) {
    if (m_pReadBuffer == nullptr) m_pReadBuffer = new char[kReadBufferSize];
    m_nReadPos = m_nReadEnd = 0;
    m_nReadEnd = CFile::Read(m_pReadBuffer, kReadBufferSize);
    if (m_nReadEnd == 0) return -1;
  }
  return static_cast<unsigned char>(m_pReadBuffer[m_nReadPos]);
}

void CStdioFile::DropReadAhead() {
  // Writers that never read leave the fields alone: several may write at once.
  if (m_nReadEnd == 0) return;
  const UINT unread = m_nReadEnd - m_nReadPos;
  m_nReadPos = m_nReadEnd = 0;
  if (unread > 0) MovePointer(-static_cast<LONGLONG>(unread), current);
}

UINT CStdioFile::ReadText(char* out, UINT count, bool stop_at_newline) {
  UINT done = 0;
  while (done < count && !m_bEndOfText) {
    int c = PeekRaw();
    if (c < 0) break;
    if (c == kCtrlZ) {
      m_bEndOfText = true;  // stays in the file; a Seek reads past it again
      break;
    }
    ++m_nReadPos;
    if (c == '\r' && PeekRaw() == '\n') {
      ++m_nReadPos;
      c = '\n';
    }
    out[done++] = static_cast<char>(c);
    if (stop_at_newline && c == '\n') break;
  }
  return done;
}

UINT CStdioFile::Read(void* lpBuf, UINT nCount) {
  CheckOpen();
  if ((m_nOpenFlags & 0x3) == modeWrite) CFileException::ThrowOsError(ERROR_ACCESS_DENIED, m_strFileName);
  char* out = static_cast<char*>(lpBuf);
  return IsText() ? ReadText(out, nCount, false) : ReadRaw(out, nCount);
}

UINT CStdioFile::ReadLine(char* out, UINT count) {
  CheckOpen();
  if ((m_nOpenFlags & 0x3) == modeWrite) CFileException::ThrowOsError(ERROR_ACCESS_DENIED, m_strFileName);
  if (IsText()) return ReadText(out, count, true);
  UINT done = 0;
  while (done < count) {
    int c = PeekRaw();
    if (c < 0) break;
    ++m_nReadPos;
    out[done++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  return done;
}

LPTSTR CStdioFile::ReadString(LPTSTR lpsz, UINT nMax) {
  if (lpsz == nullptr || nMax == 0) {
    CheckOpen();
    return nullptr;
  }
  UINT done = ReadLine(lpsz, nMax - 1);
  lpsz[done] = '\0';
  return done == 0 ? nullptr : lpsz;
}

BOOL CStdioFile::ReadString(CString& rString) {
  rString.Empty();
  char chunk[512];
  bool any = false;
  for (;;) {
    UINT done = ReadLine(chunk, sizeof(chunk));
    if (done == 0) break;
    any = true;
    rString.Append(chunk, static_cast<int>(done));
    if (chunk[done - 1] == '\n') break;
  }
  int length = rString.GetLength();
  if (length > 0 && rString[length - 1] == '\n') rString.Truncate(length - 1);
  return any;
}

void CStdioFile::WriteTranslated(const char* data, size_t size) {
  DropReadAhead();
  if (!IsText() || std::memchr(data, '\n', size) == nullptr) {
    WriteBytes(data, size);
    return;
  }
  std::string text;
  text.reserve(size + size / 8 + 2);
  const char* const end = data + size;
  for (const char* from = data; from < end;) {
    const void* found = std::memchr(from, '\n', static_cast<size_t>(end - from));
    const char* line_end = found == nullptr ? end : static_cast<const char*>(found);
    text.append(from, line_end);
    if (line_end == end) break;
    text += "\r\n";
    from = line_end + 1;
  }
  WriteBytes(text.data(), text.size());
}

void CStdioFile::Write(const void* lpBuf, UINT nCount) {
  CheckOpen();
  if ((m_nOpenFlags & 0x3) == modeRead) CFileException::ThrowOsError(ERROR_ACCESS_DENIED, m_strFileName);
  if (nCount == 0) return;
  WriteTranslated(static_cast<const char*>(lpBuf), nCount);
}

void CStdioFile::WriteString(LPCTSTR lpsz) {
  CheckOpen();
  if ((m_nOpenFlags & 0x3) == modeRead) CFileException::ThrowOsError(ERROR_ACCESS_DENIED, m_strFileName);
  if (lpsz == nullptr || *lpsz == '\0') return;
  WriteTranslated(lpsz, std::strlen(lpsz));
}

ULONGLONG CStdioFile::Seek(LONGLONG lOff, UINT nFrom) {
  CheckOpen();
  // A position relative to here counts from the logical position, before
  // the read-ahead.
  if (nFrom == current) lOff -= static_cast<LONGLONG>(m_nReadEnd - m_nReadPos);
  m_nReadPos = m_nReadEnd = 0;
  m_bEndOfText = false;
  return CFile::Seek(lOff, nFrom);
}

ULONGLONG CStdioFile::GetPosition() const {
  return CFile::GetPosition() - (m_nReadEnd - m_nReadPos);
}

void CStdioFile::SetLength(ULONGLONG dwNewLen) {
  CheckOpen();
  DropReadAhead();
  CFile::SetLength(dwNewLen);
}
