// IsWindows95, IsAdmin and IsValidPath.
#include <cstring>
#include <new>
#include <string>

#include <opossvc/util.h>
#include <opossvc/win32/drives.h>
#include <opossvc/win32/handles.h>
#include <opossvc/win32/security.h>
#include <opossvc/win32/threads.h>

namespace {

constexpr char kForbiddenInPath[] = "*?<>|/;:,\"";

// The token's group list, or null; the caller frees it with delete[].
BYTE* TokenGroupsOfProcess() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
  DWORD size = 0;
  GetTokenInformation(token, TokenGroups, nullptr, 0, &size);
  BYTE* buffer = size > 0 ? new (std::nothrow) BYTE[size] : nullptr;
  bool ok = buffer != nullptr && GetTokenInformation(token, TokenGroups, buffer, size, &size);
  CloseHandle(token);
  if (!ok) {
    delete[] buffer;
    return nullptr;
  }
  return buffer;
}

}  // namespace

int IsWindows95() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof(info);
  return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS ? 1 : 0;
}

int IsAdmin() {
  BYTE* buffer = TokenGroupsOfProcess();
  if (buffer == nullptr) return 0;
  SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!AllocateAndInitializeSid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators)) {
    delete[] buffer;
    return 0;
  }
  // Deny-only membership counts too: the question is membership, not rights.
  const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer);
  int result = 0;
  for (DWORD i = 0; i < groups->GroupCount && result == 0; ++i) {
    if (EqualSid(groups->Groups[i].Sid, administrators)) result = 1;
  }
  FreeSid(administrators);
  delete[] buffer;
  return result;
}

int IsValidPath(const char* path) {
  if (path == nullptr) return 0;
  size_t length = std::strlen(path);
  if (length < 3 || path[1] != ':' || path[2] != '\\') return 0;
  UINT type = GetDriveTypeA(std::string(path, 3).c_str());
  if (type == DRIVE_UNKNOWN || type == DRIVE_NO_ROOT_DIR) return 0;
  const char* rest = path + 3;
  size_t rest_length = length - 3;
  if (rest_length == 0) return 1;
  if (rest[0] == '\\' || rest[rest_length - 1] == '\\') return 0;
  if (std::strpbrk(rest, kForbiddenInPath) != nullptr) return 0;
  if (std::strstr(rest, "\\\\") != nullptr) return 0;
  return 1;
}
