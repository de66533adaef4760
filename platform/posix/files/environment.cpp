#include "platform/posix/files/environment.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace opossvc::detail {
namespace {

constexpr char kDefaultRoot[] = "/var/lib/opos";

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

char ToUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string DropTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// Splits at runs of separators; empty components are dropped.
std::vector<std::string_view> Components(std::string_view path) {
  std::vector<std::string_view> parts;
  size_t i = 0;
  while (i < path.size()) {
    while (i < path.size() && IsSeparator(path[i])) ++i;
    size_t start = i;
    while (i < path.size() && !IsSeparator(path[i])) ++i;
    if (i > start) parts.push_back(path.substr(start, i - start));
  }
  return parts;
}

// `rest` below `root`, with "." and ".." resolved and kept inside the root.
std::string BelowRoot(const std::string& root, std::string_view rest) {
  std::vector<std::string_view> kept;
  for (std::string_view part : Components(rest)) {
    if (part == ".") continue;
    if (part == "..") {
      if (!kept.empty()) kept.pop_back();
      continue;
    }
    kept.push_back(part);
  }
  std::string result = root;
  for (std::string_view part : kept) {
    if (result.empty() || result.back() != '/') result += '/';
    result += part;
  }
  bool trailing = !rest.empty() && IsSeparator(rest.back()) && !kept.empty();
  if (trailing) result += '/';
  return result;
}

std::string Relative(std::string_view path) {
  std::string result;
  bool in_separator = false;
  for (char c : path) {
    if (IsSeparator(c)) {
      if (!in_separator) result += '/';
      in_separator = true;
    } else {
      result += c;
      in_separator = false;
    }
  }
  return result;
}

}  // namespace

const char* ReadSetting(const char* name) { return secure_getenv(name); }

// The environment array only grows in place (setenv and putenv append,
// unsetenv moves later entries down and leaves nulls behind), so an index
// below the length once seen stays inside it while `environ` is the same
// array, and a variable that comes appears at the end. Entries are compared
// by address before they are read: a variable set again is a new string.
// Found once means found by secure_getenv, so the process is no privileged
// one.
const char* ReadSetting(const char* name, SettingHint* hint) {
  char** const environment = environ;
  const size_t length = std::strlen(name);
  if (environment != nullptr && environment == hint->environment) {
    const char* at = environment[hint->index];
    if (hint->found && at == hint->entry && std::strncmp(at, name, length) == 0 &&
        at[length] == '=') {
      return at + length + 1;
    }
    if (!hint->found && at == nullptr &&
        (hint->index == 0 || environment[hint->index - 1] == hint->entry)) {
      return nullptr;
    }
  }
  hint->environment = nullptr;
  const char* value = secure_getenv(name);
  if (environment == nullptr) return value;
  size_t i = 0;
  while (environment[i] != nullptr && environment[i] + length + 1 != value) ++i;
  hint->found = environment[i] != nullptr;
  if (value != nullptr && !hint->found) return value;  // not where it was looked for
  hint->environment = environment;
  hint->index = i;
  hint->entry = hint->found ? environment[i] : i > 0 ? environment[i - 1] : nullptr;
  return value;
}

std::string OposRoot() {
  const char* value = ReadSetting("OPOS_ROOT");
  if (value == nullptr || *value == '\0') return kDefaultRoot;
  return DropTrailingSlashes(value);
}

std::string DriveRoot(char letter) {
  if (!IsLetter(letter)) return {};
  char upper = ToUpper(letter);
  std::string name = "OPOS_DRIVE_";
  name += upper;
  if (const char* value = ReadSetting(name.c_str())) {
    return *value == '\0' ? std::string() : DropTrailingSlashes(value);
  }
  if (upper == 'C') {
    std::string root = OposRoot();
    return (root == "/" ? "" : root) + "/drive_c";
  }
  if (upper == 'Z') return "/";
  return {};
}

std::string MapPath(std::string_view path) {
  if (path.empty()) return {};
  if (path.size() >= 2 && IsLetter(path[0]) && path[1] == ':') {
    std::string root = DriveRoot(path[0]);
    if (root.empty()) return {};
    return BelowRoot(root, path.substr(2));
  }
  if (path[0] == '/') {
    std::string posix(path);
    std::replace(posix.begin(), posix.end(), '\\', '/');
    return posix;
  }
  if (path[0] == '\\') {
    // "\\server\share", "\\.\COM1" and "\\?\C:\..." are no files of a drive.
    if (path.size() >= 2 && IsSeparator(path[1])) return {};
    std::string root = DriveRoot('C');
    if (root.empty()) return {};
    return BelowRoot(root, path);
  }
  return Relative(path);
}

}  // namespace opossvc::detail
