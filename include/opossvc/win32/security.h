// Process tokens, security identifiers and the platform's version record.
//
// On POSIX the access token of the current process describes its effective
// user and groups as security identifiers (SIDs):
//   - the user as S-1-22-1-<uid>, each of its groups (the effective group and
//     the supplementary ones) as S-1-22-2-<gid>;
//   - Everyone (S-1-1-0) and the built-in Users group (S-1-5-32-545);
//   - the built-in Administrators group (S-1-5-32-544) when the effective
//     user is root or a member of group "sudo", "wheel" or "admin". As with
//     an unelevated administrator on Windows, a member of those groups that
//     does not run as root has it with SE_GROUP_USE_FOR_DENY_ONLY.
// The token is a snapshot taken by OpenProcessToken; close it with
// CloseHandle. Only TokenUser and TokenGroups can be queried.
//
// GetVersionExA reports a Windows NT family platform (VER_PLATFORM_WIN32_NT,
// version 6.2, build 9200, as Windows reports to programs that declare no
// newer version).
#ifndef OPOSSVC_WIN32_SECURITY_H_
#define OPOSSVC_WIN32_SECURITY_H_

#include <opossvc/win32/types.h>
#ifndef OPOSSVC_WIN32_NATIVE

#include <opossvc/export.h>
#include <opossvc/win32/errors.h>
#include <opossvc/win32/types.h>

#define ANYSIZE_ARRAY 1

// Access rights of a token.
#define TOKEN_ASSIGN_PRIMARY 0x0001
#define TOKEN_DUPLICATE 0x0002
#define TOKEN_IMPERSONATE 0x0004
#define TOKEN_QUERY 0x0008
#define TOKEN_QUERY_SOURCE 0x0010
#define TOKEN_ADJUST_PRIVILEGES 0x0020
#define TOKEN_ADJUST_GROUPS 0x0040
#define TOKEN_ADJUST_DEFAULT 0x0080
#define TOKEN_READ (0x00020000L | TOKEN_QUERY)

// Group attributes.
#define SE_GROUP_MANDATORY 0x00000001L
#define SE_GROUP_ENABLED_BY_DEFAULT 0x00000002L
#define SE_GROUP_ENABLED 0x00000004L
#define SE_GROUP_OWNER 0x00000008L
#define SE_GROUP_USE_FOR_DENY_ONLY 0x00000010L

#define SID_REVISION 1
#define SID_MAX_SUB_AUTHORITIES 15
#define SECURITY_MAX_SID_SIZE (8 + 4 * SID_MAX_SUB_AUTHORITIES)

#define SECURITY_NULL_SID_AUTHORITY {0, 0, 0, 0, 0, 0}
#define SECURITY_WORLD_SID_AUTHORITY {0, 0, 0, 0, 0, 1}
#define SECURITY_LOCAL_SID_AUTHORITY {0, 0, 0, 0, 0, 2}
#define SECURITY_CREATOR_SID_AUTHORITY {0, 0, 0, 0, 0, 3}
#define SECURITY_NT_AUTHORITY {0, 0, 0, 0, 0, 5}

#define SECURITY_WORLD_RID 0x00000000L
#define SECURITY_BUILTIN_DOMAIN_RID 0x00000020L
#define DOMAIN_ALIAS_RID_ADMINS 0x00000220L
#define DOMAIN_ALIAS_RID_USERS 0x00000221L
#define DOMAIN_ALIAS_RID_GUESTS 0x00000222L

typedef struct _SID_IDENTIFIER_AUTHORITY {
  BYTE Value[6];
} SID_IDENTIFIER_AUTHORITY, *PSID_IDENTIFIER_AUTHORITY;

typedef struct _SID {
  BYTE Revision;
  BYTE SubAuthorityCount;
  SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
  DWORD SubAuthority[ANYSIZE_ARRAY];
} SID, *PISID;

typedef PVOID PSID;

typedef struct _SID_AND_ATTRIBUTES {
  PSID Sid;
  DWORD Attributes;
} SID_AND_ATTRIBUTES, *PSID_AND_ATTRIBUTES;

typedef struct _TOKEN_USER {
  SID_AND_ATTRIBUTES User;
} TOKEN_USER, *PTOKEN_USER;

typedef struct _TOKEN_GROUPS {
  DWORD GroupCount;
  SID_AND_ATTRIBUTES Groups[ANYSIZE_ARRAY];
} TOKEN_GROUPS, *PTOKEN_GROUPS;

typedef enum _TOKEN_INFORMATION_CLASS {
  TokenUser = 1,
  TokenGroups,
  TokenPrivileges,
  TokenOwner,
  TokenPrimaryGroup,
  TokenDefaultDacl,
  TokenSource,
  TokenType,
  TokenImpersonationLevel,
  TokenStatistics,
  TokenRestrictedSids,
  TokenSessionId,
  TokenGroupsAndPrivileges,
  TokenSessionReference,
  TokenSandBoxInert,
  TokenAuditPolicy,
  TokenOrigin,
  TokenElevationType,
  TokenLinkedToken,
  TokenElevation,
} TOKEN_INFORMATION_CLASS, *PTOKEN_INFORMATION_CLASS;

// Only the current process (GetCurrentProcess()) can be opened; another
// handle fails with ERROR_INVALID_HANDLE.
OPOSSVC_API BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess,
                                         PHANDLE TokenHandle);

// With a buffer too small (or none), fails with ERROR_INSUFFICIENT_BUFFER and
// stores the size needed in *ReturnLength. The SIDs that the result points
// to lie inside TokenInformation. Without TOKEN_QUERY access, fails with
// ERROR_ACCESS_DENIED.
OPOSSVC_API BOOL WINAPI GetTokenInformation(HANDLE TokenHandle,
                                            TOKEN_INFORMATION_CLASS TokenInformationClass,
                                            LPVOID TokenInformation, DWORD TokenInformationLength,
                                            PDWORD ReturnLength);

// At most 8 sub-authorities (ERROR_INVALID_PARAMETER otherwise); the first
// nSubAuthorityCount of the eight values are used. Free with FreeSid.
OPOSSVC_API BOOL WINAPI AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority,
                                                 BYTE nSubAuthorityCount, DWORD nSubAuthority0,
                                                 DWORD nSubAuthority1, DWORD nSubAuthority2,
                                                 DWORD nSubAuthority3, DWORD nSubAuthority4,
                                                 DWORD nSubAuthority5, DWORD nSubAuthority6,
                                                 DWORD nSubAuthority7, PSID* pSid);
// Always returns null.
OPOSSVC_API PVOID WINAPI FreeSid(PSID pSid);
// False, with ERROR_SUCCESS, when the SIDs differ; false with
// ERROR_INVALID_SID when either is not a valid SID.
OPOSSVC_API BOOL WINAPI EqualSid(PSID pSid1, PSID pSid2);
OPOSSVC_API BOOL WINAPI IsValidSid(PSID pSid);
OPOSSVC_API DWORD WINAPI GetLengthSid(PSID pSid);

#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2

typedef struct _OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
} OSVERSIONINFOA, *POSVERSIONINFOA, *LPOSVERSIONINFOA;

typedef struct _OSVERSIONINFOEXA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
  WORD wServicePackMajor;
  WORD wServicePackMinor;
  WORD wSuiteMask;
  BYTE wProductType;
  BYTE wReserved;
} OSVERSIONINFOEXA, *POSVERSIONINFOEXA, *LPOSVERSIONINFOEXA;

#define VER_NT_WORKSTATION 0x0000001

// dwOSVersionInfoSize must be the size of OSVERSIONINFOA or OSVERSIONINFOEXA
// (ERROR_INSUFFICIENT_BUFFER otherwise).
OPOSSVC_API BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation);

#endif  // !OPOSSVC_WIN32_NATIVE

#endif  // OPOSSVC_WIN32_SECURITY_H_
