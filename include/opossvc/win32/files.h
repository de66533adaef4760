// The Win32 file subset: CreateFileA and the calls on its handles.
//
// CreateFileA opens either a serial port ("COMn", "\\.\COMn", any letter case: see comm.h) or an
// ordinary file. File names are Windows paths mapped onto the POSIX tree ("C:\x" below
// $OPOS_ROOT/drive_c, "/x" as it stands, '\' and '/' both separate). For files:
//   - dwDesiredAccess: GENERIC_READ and/or GENERIC_WRITE (0 opens for attribute queries only);
//   - dwShareMode: FILE_SHARE_READ/WRITE; a conflicting open of the same file, in this or
//     another process, fails with ERROR_SHARING_VIOLATION as on Windows (and as CFile opens do).
//     FILE_SHARE_DELETE is accepted but not needed: DeleteFileA removes the name of an open file,
//     as POSIX does, and the open handles keep working;
//   - dwCreationDisposition: CREATE_NEW (ERROR_FILE_EXISTS if present), CREATE_ALWAYS and
//     OPEN_ALWAYS (ERROR_ALREADY_EXISTS set on success when the file was there), OPEN_EXISTING and
//     TRUNCATE_EXISTING (ERROR_FILE_NOT_FOUND, or ERROR_PATH_NOT_FOUND for a missing folder);
//   - a folder cannot be opened (ERROR_ACCESS_DENIED);
//   - attributes are ignored except FILE_ATTRIBUTE_READONLY on a new file; FILE_FLAG_WRITE_THROUGH
//     makes every write synchronous; FILE_FLAG_DELETE_ON_CLOSE removes the file at its close.
//     FILE_FLAG_OVERLAPPED is refused with ERROR_INVALID_PARAMETER: overlapped I/O is not
//     supported. ReadFile takes no OVERLAPPED; WriteFile takes one on a disk file only, to
//     say where to write (below);
//   - security attributes are accepted and ignored (handles are not inherited by exec'd programs);
//   - hTemplateFile is ignored.
// Failures return INVALID_HANDLE_VALUE (CreateFileA), FALSE, INVALID_FILE_SIZE,
// INVALID_SET_FILE_POINTER or INVALID_FILE_ATTRIBUTES, with the Win32 error in GetLastError.
#ifndef OPOSSVC_WIN32_FILES_H_
#define OPOSSVC_WIN32_FILES_H_

#include <opossvc/win32/types.h>
#ifndef OPOSSVC_WIN32_NATIVE

#include <opossvc/export.h>
#include <opossvc/win32/errors.h>
#include <opossvc/win32/handles.h>
#include <opossvc/win32/types.h>

#ifndef GENERIC_READ
#define GENERIC_READ 0x80000000L
#endif
#ifndef GENERIC_WRITE
#define GENERIC_WRITE 0x40000000L
#endif
#ifndef GENERIC_EXECUTE
#define GENERIC_EXECUTE 0x20000000L
#endif
#ifndef GENERIC_ALL
#define GENERIC_ALL 0x10000000L
#endif

#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004

#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5

#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_HIDDEN 0x00000002
#define FILE_ATTRIBUTE_SYSTEM 0x00000004
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_DEVICE 0x00000040
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_ATTRIBUTE_TEMPORARY 0x00000100

#define FILE_FLAG_WRITE_THROUGH 0x80000000u
#define FILE_FLAG_OVERLAPPED 0x40000000u
#define FILE_FLAG_NO_BUFFERING 0x20000000u
#define FILE_FLAG_RANDOM_ACCESS 0x10000000u
#define FILE_FLAG_SEQUENTIAL_SCAN 0x08000000u
#define FILE_FLAG_DELETE_ON_CLOSE 0x04000000u

#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2

#define INVALID_FILE_SIZE 0xFFFFFFFFu
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu

// Declared for the signatures only; overlapped I/O is not supported.
typedef struct _OVERLAPPED {
  ULONG_PTR Internal;
  ULONG_PTR InternalHigh;
  DWORD Offset;
  DWORD OffsetHigh;
  HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;

OPOSSVC_API HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                      LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                                      DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                                      HANDLE hTemplateFile);
// Reads up to nNumberOfBytesToRead bytes; at the end of a file TRUE with a count of 0.
OPOSSVC_API BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                                 LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped);
// Writes the whole buffer to a file (a serial port may stop early at its write time-out), at the
// file pointer, which moves past the data. With an OVERLAPPED (disk files; the handle is still
// synchronous): at the 64-bit position Offset/OffsetHigh instead, or, when both are 0xFFFFFFFF,
// at the end of the file as it is at that moment, in one system call, as a handle opened for
// FILE_APPEND_DATA writes, so that records of several writers (processes included) never
// overwrite or cut into each other; the file pointer then follows the data as well.
// InternalHigh receives the count (lpNumberOfBytesWritten may then be null), Internal is 0 on
// success; hEvent, when given, is reset at the start and set at the end.
OPOSSVC_API BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                                  LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);
// Files: written data reaches the disk. Serial ports: waits until the transmit queue is empty.
OPOSSVC_API BOOL WINAPI FlushFileBuffers(HANDLE hFile);
OPOSSVC_API DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh);
OPOSSVC_API DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove,
                                        PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod);
// Cuts or extends the file at the current file pointer.
OPOSSVC_API BOOL WINAPI SetEndOfFile(HANDLE hFile);
OPOSSVC_API BOOL WINAPI DeleteFileA(LPCSTR lpFileName);
OPOSSVC_API DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName);
OPOSSVC_API BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName,
                                         LPSECURITY_ATTRIBUTES lpSecurityAttributes);
OPOSSVC_API BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName);

#endif  // !OPOSSVC_WIN32_NATIVE

#endif  // OPOSSVC_WIN32_FILES_H_
