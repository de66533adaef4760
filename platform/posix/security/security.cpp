// Process tokens and SIDs on POSIX: a token is a snapshot of the process's
// effective user and groups, expressed as SIDs (see security.h).
#include <opossvc/win32/security.h>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <opossvc/win32/threads.h>

#include "platform/posix/kernel/handle_table.h"

namespace opossvc::detail {
namespace {

constexpr BYTE kMaxAllocSubAuthorities = 8;
// Authority 22 holds the identities of Unix users (sub-authority 1) and
// groups (sub-authority 2), as other POSIX systems that speak SIDs use it.
constexpr BYTE kUnixAuthority = 22;
constexpr DWORD kUnixUserRid = 1;
constexpr DWORD kUnixGroupRid = 2;
constexpr DWORD kDefaultGroupAttributes =
    SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED;

// A SID as plain values, packed into Win32 layout only when handed out.
struct SidValue {
  BYTE authority = 0;  // the last byte of the 48-bit authority; ours all fit
  std::vector<DWORD> sub_authorities;
};

struct GroupEntry {
  SidValue sid;
  DWORD attributes;
};

size_t SidSize(const SidValue& sid) { return 8 + 4 * sid.sub_authorities.size(); }

void WriteSid(const SidValue& sid, BYTE* out) {
  out[0] = SID_REVISION;
  out[1] = static_cast<BYTE>(sid.sub_authorities.size());
  std::memset(out + 2, 0, 5);
  out[7] = sid.authority;
  std::memcpy(out + 8, sid.sub_authorities.data(), 4 * sid.sub_authorities.size());
}

class TokenObject : public KernelObject {
 public:
  TokenObject(DWORD access, SidValue user, std::vector<GroupEntry> groups)
      : access_(access), user_(std::move(user)), groups_(std::move(groups)) {}

  DWORD access() const { return access_; }
  const SidValue& user() const { return user_; }
  const std::vector<GroupEntry>& groups() const { return groups_; }

 private:
  const DWORD access_;
  const SidValue user_;
  const std::vector<GroupEntry> groups_;
};

std::vector<gid_t> ProcessGroups() {
  std::vector<gid_t> groups;
  int count = getgroups(0, nullptr);
  if (count > 0) {
    groups.resize(static_cast<size_t>(count));
    count = getgroups(count, groups.data());
    groups.resize(count > 0 ? static_cast<size_t>(count) : 0);
  }
  gid_t egid = getegid();
  if (std::find(groups.begin(), groups.end(), egid) == groups.end()) groups.insert(groups.begin(), egid);
  return groups;
}

std::string UserName(uid_t uid) {
  long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(hint > 0 ? static_cast<size_t>(hint) : 4096);
  passwd entry{};
  passwd* found = nullptr;
  while (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
         buffer.size() < (1u << 20)) {
    buffer.resize(buffer.size() * 2);
  }
  return found != nullptr ? std::string(found->pw_name) : std::string();
}

// Whether the user belongs to the named group, by the process's groups or by
// the group's member list (which also shows membership granted after login).
bool InGroup(const char* group_name, const std::vector<gid_t>& groups, const std::string& user) {
  long hint = sysconf(_SC_GETGR_R_SIZE_MAX);
  std::vector<char> buffer(hint > 0 ? static_cast<size_t>(hint) : 4096);
  group entry{};
  group* found = nullptr;
  while (getgrnam_r(group_name, &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
         buffer.size() < (1u << 22)) {
    buffer.resize(buffer.size() * 2);
  }
  if (found == nullptr) return false;
  if (std::find(groups.begin(), groups.end(), found->gr_gid) != groups.end()) return true;
  if (user.empty() || found->gr_mem == nullptr) return false;
  for (char** member = found->gr_mem; *member != nullptr; ++member) {
    if (user == *member) return true;
  }
  return false;
}

std::shared_ptr<TokenObject> SnapshotToken(DWORD access) {
  uid_t euid = geteuid();
  std::vector<gid_t> gids = ProcessGroups();
  std::string user = UserName(euid);

  std::vector<GroupEntry> groups;
  for (gid_t gid : gids) {
    groups.push_back({{kUnixAuthority, {kUnixGroupRid, static_cast<DWORD>(gid)}},
                      kDefaultGroupAttributes});
  }
  groups.push_back({{1, {SECURITY_WORLD_RID}}, kDefaultGroupAttributes});
  groups.push_back({{5, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS}},
                    kDefaultGroupAttributes});
  bool root = euid == 0;
  bool administrator = root || InGroup("sudo", gids, user) || InGroup("wheel", gids, user) ||
                       InGroup("admin", gids, user);
  if (administrator) {
    groups.push_back({{5, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}},
                      root ? kDefaultGroupAttributes : DWORD{SE_GROUP_USE_FOR_DENY_ONLY}});
  }
  SidValue user_sid{kUnixAuthority, {kUnixUserRid, static_cast<DWORD>(euid)}};
  return std::make_shared<TokenObject>(access, std::move(user_sid), std::move(groups));
}

// Lays out `entries` as a SID_AND_ATTRIBUTES array followed by the SIDs,
// after a header of `header` bytes; returns the size needed.
size_t LayOut(const std::vector<GroupEntry>& entries, size_t header, BYTE* out) {
  size_t table = header + sizeof(SID_AND_ATTRIBUTES) * entries.size();
  size_t size = table;
  for (const GroupEntry& entry : entries) size += SidSize(entry.sid);
  if (out == nullptr) return size;
  auto* records = reinterpret_cast<SID_AND_ATTRIBUTES*>(out + header);
  BYTE* sid_out = out + table;
  for (size_t i = 0; i < entries.size(); ++i) {
    WriteSid(entries[i].sid, sid_out);
    records[i].Sid = sid_out;
    records[i].Attributes = entries[i].attributes;
    sid_out += SidSize(entries[i].sid);
  }
  return size;
}

const SID* AsValidSid(PSID sid) {
  const auto* value = static_cast<const SID*>(sid);
  if (value == nullptr || value->Revision != SID_REVISION ||
      value->SubAuthorityCount > SID_MAX_SUB_AUTHORITIES) {
    return nullptr;
  }
  return value;
}

}  // namespace
}  // namespace opossvc::detail

using opossvc::detail::GroupEntry;
using opossvc::detail::TokenObject;

BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle) {
  if (TokenHandle == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *TokenHandle = nullptr;
  if (ProcessHandle != GetCurrentProcess()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::shared_ptr<TokenObject> token;
  try {
    token = opossvc::detail::SnapshotToken(DesiredAccess);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  HANDLE handle = opossvc::detail::InsertHandle(token);
  if (handle == nullptr) return FALSE;
  *TokenHandle = handle;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL WINAPI GetTokenInformation(HANDLE TokenHandle,
                                TOKEN_INFORMATION_CLASS TokenInformationClass,
                                LPVOID TokenInformation, DWORD TokenInformationLength,
                                PDWORD ReturnLength) {
  auto token = opossvc::detail::LookupHandleAs<TokenObject>(TokenHandle);
  if (token == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if ((token->access() & TOKEN_QUERY) == 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (ReturnLength == nullptr) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  std::vector<GroupEntry> entries;
  size_t header = 0;
  switch (TokenInformationClass) {
    case TokenUser:
      entries.push_back({token->user(), 0});
      header = 0;
      break;
    case TokenGroups:
      entries = token->groups();
      header = offsetof(TOKEN_GROUPS, Groups);
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
  }
  size_t needed = opossvc::detail::LayOut(entries, header, nullptr);
  *ReturnLength = static_cast<DWORD>(needed);
  if (TokenInformation == nullptr || TokenInformationLength < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  auto* out = static_cast<BYTE*>(TokenInformation);
  opossvc::detail::LayOut(entries, header, out);
  if (TokenInformationClass == TokenGroups) {
    static_cast<TOKEN_GROUPS*>(TokenInformation)->GroupCount = static_cast<DWORD>(entries.size());
  }
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL WINAPI AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority,
                                     BYTE nSubAuthorityCount, DWORD nSubAuthority0,
                                     DWORD nSubAuthority1, DWORD nSubAuthority2,
                                     DWORD nSubAuthority3, DWORD nSubAuthority4,
                                     DWORD nSubAuthority5, DWORD nSubAuthority6,
                                     DWORD nSubAuthority7, PSID* pSid) {
  if (pSid == nullptr || pIdentifierAuthority == nullptr ||
      nSubAuthorityCount > opossvc::detail::kMaxAllocSubAuthorities) {
    if (pSid != nullptr) *pSid = nullptr;
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const DWORD values[8] = {nSubAuthority0, nSubAuthority1, nSubAuthority2, nSubAuthority3,
                           nSubAuthority4, nSubAuthority5, nSubAuthority6, nSubAuthority7};
  size_t size = 8 + 4 * static_cast<size_t>(nSubAuthorityCount);
  auto* sid = static_cast<BYTE*>(std::calloc(1, std::max(size, sizeof(SID))));
  if (sid == nullptr) {
    *pSid = nullptr;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  sid[0] = SID_REVISION;
  sid[1] = nSubAuthorityCount;
  std::memcpy(sid + 2, pIdentifierAuthority->Value, 6);
  std::memcpy(sid + 8, values, 4 * static_cast<size_t>(nSubAuthorityCount));
  *pSid = sid;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

PVOID WINAPI FreeSid(PSID pSid) {
  std::free(pSid);
  return nullptr;
}

BOOL WINAPI IsValidSid(PSID pSid) { return opossvc::detail::AsValidSid(pSid) != nullptr; }

DWORD WINAPI GetLengthSid(PSID pSid) {
  const SID* sid = opossvc::detail::AsValidSid(pSid);
  return sid == nullptr ? 0 : 8 + 4 * DWORD{sid->SubAuthorityCount};
}

BOOL WINAPI EqualSid(PSID pSid1, PSID pSid2) {
  const SID* first = opossvc::detail::AsValidSid(pSid1);
  const SID* second = opossvc::detail::AsValidSid(pSid2);
  if (first == nullptr || second == nullptr) {
    SetLastError(ERROR_INVALID_SID);
    return FALSE;
  }
  SetLastError(ERROR_SUCCESS);
  DWORD length = GetLengthSid(pSid1);
  return length == GetLengthSid(pSid2) && std::memcmp(first, second, length) == 0;
}

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation) {
  if (lpVersionInformation == nullptr) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  DWORD size = lpVersionInformation->dwOSVersionInfoSize;
  if (size != sizeof(OSVERSIONINFOA) && size != sizeof(OSVERSIONINFOEXA)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memset(reinterpret_cast<BYTE*>(lpVersionInformation) + sizeof(DWORD), 0,
              size - sizeof(DWORD));
  lpVersionInformation->dwMajorVersion = 6;
  lpVersionInformation->dwMinorVersion = 2;
  lpVersionInformation->dwBuildNumber = 9200;
  lpVersionInformation->dwPlatformId = VER_PLATFORM_WIN32_NT;
  if (size == sizeof(OSVERSIONINFOEXA)) {
    reinterpret_cast<LPOSVERSIONINFOEXA>(lpVersionInformation)->wProductType = VER_NT_WORKSTATION;
  }
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}
