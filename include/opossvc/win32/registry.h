// The Win32 registry subset. On POSIX the keys live in a persistent,
// transactional store ($OPOS_ROOT/registry.db), private to the users who may
// write it; other users read a snapshot of it that each write publishes a
// moment later, and RegFlushKey at once. Names are case-insensitive and
// case-preserving; every call returns a Win32 error code.
#ifndef OPOSSVC_WIN32_REGISTRY_H_
#define OPOSSVC_WIN32_REGISTRY_H_

#include <opossvc/win32/types.h>
#ifndef OPOSSVC_WIN32_NATIVE

#include <opossvc/export.h>
#include <opossvc/win32/errors.h>
#include <opossvc/win32/types.h>

#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000002u)))
#define HKEY_USERS (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000003u)))

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_DWORD_LITTLE_ENDIAN 4
#define REG_DWORD_BIG_ENDIAN 5
#define REG_LINK 6
#define REG_MULTI_SZ 7
#define REG_QWORD 11

#define REG_OPTION_RESERVED 0x00000000L
#define REG_OPTION_NON_VOLATILE 0x00000000L
#define REG_OPTION_VOLATILE 0x00000001L
#define REG_CREATED_NEW_KEY 0x00000001L
#define REG_OPENED_EXISTING_KEY 0x00000002L

#define DELETE 0x00010000L
#define READ_CONTROL 0x00020000L
#define WRITE_DAC 0x00040000L
#define WRITE_OWNER 0x00080000L
#define SYNCHRONIZE 0x00100000L
#define STANDARD_RIGHTS_REQUIRED 0x000F0000L
#define STANDARD_RIGHTS_READ READ_CONTROL
#define STANDARD_RIGHTS_WRITE READ_CONTROL
#define STANDARD_RIGHTS_ALL 0x001F0000L
#define MAXIMUM_ALLOWED 0x02000000L
#define GENERIC_READ 0x80000000L
#define GENERIC_WRITE 0x40000000L
#define GENERIC_EXECUTE 0x20000000L
#define GENERIC_ALL 0x10000000L

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_WOW64_64KEY 0x0100
#define KEY_WOW64_32KEY 0x0200
#define KEY_READ ((STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY) & ~SYNCHRONIZE)
#define KEY_WRITE ((STANDARD_RIGHTS_WRITE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY) & ~SYNCHRONIZE)
#define KEY_EXECUTE (KEY_READ & ~SYNCHRONIZE)
#define KEY_ALL_ACCESS                                                                    \
  ((STANDARD_RIGHTS_ALL | KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY |          \
    KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY | KEY_CREATE_LINK) &                              \
   ~SYNCHRONIZE)

OPOSSVC_API LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions,
                                      REGSAM samDesired, PHKEY phkResult);
OPOSSVC_API LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                                        DWORD dwOptions, REGSAM samDesired,
                                        const SECURITY_ATTRIBUTES* lpSecurityAttributes,
                                        PHKEY phkResult, LPDWORD lpdwDisposition);
OPOSSVC_API LONG WINAPI RegCloseKey(HKEY hKey);
OPOSSVC_API LONG WINAPI RegFlushKey(HKEY hKey);
OPOSSVC_API LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved,
                                         LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
OPOSSVC_API LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                                       const BYTE* lpData, DWORD cbData);
OPOSSVC_API LONG WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                                      LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                                      PFILETIME lpftLastWriteTime);
OPOSSVC_API LONG WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName,
                                      LPDWORD lpcchValueName, LPDWORD lpReserved, LPDWORD lpType,
                                      LPBYTE lpData, LPDWORD lpcbData);
OPOSSVC_API LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey);
OPOSSVC_API LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName);
OPOSSVC_API LONG WINAPI RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey);
OPOSSVC_API LONG WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass,
                                         LPDWORD lpReserved, LPDWORD lpcSubKeys,
                                         LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                                         LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen,
                                         LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                                         PFILETIME lpftLastWriteTime);

#endif  // !OPOSSVC_WIN32_NATIVE

#endif  // OPOSSVC_WIN32_REGISTRY_H_
