// oposreg get KEY [VALUE], set KEY VALUE TYPE DATA, delete KEY [VALUE]
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include <opossvc/win32/registry.h>

#include "tools/oposreg/commands.h"
#include "tools/oposreg/json_writer.h"
#include "tools/oposreg/key_path.h"
#include "tools/oposreg/registry_tree.h"
#include "tools/oposreg/store_access.h"
#include "tools/oposreg/value_text.h"

namespace opossvc::oposreg {
namespace {

// Parses the KEY operand and checks the store; an exit status on failure.
bool Prepare(const Invocation& invocation, bool writing, KeyPath* key, int* status) {
  std::string error;
  if (!ParseKeyPath(invocation.args[0], key, &error)) {
    Complain(error);
    *status = kExitUsage;
    return false;
  }
  if (!(writing ? CheckStoreForWriting(&error) : CheckStoreForReading(&error))) {
    Complain(error);
    *status = kExitFailure;
    return false;
  }
  return true;
}

// Whether deleting `path` takes the database root, ServiceOPOS or a whole
// device class with it: keys whose loss is rarely meant.
bool DeletesManyDevices(const KeyPath& path) {
  if (path.root != HKEY_LOCAL_MACHINE) return false;
  static const char* const kGuarded[] = {"SOFTWARE", "OLEforRetail", "ServiceOPOS", nullptr};
  std::string_view rest = path.sub_key;
  for (size_t level = 0;; ++level) {
    const size_t slash = rest.find('\\');
    const std::string name(rest.substr(0, slash));
    // Any name at the class level is a class.
    if (kGuarded[level] && strcasecmp(name.c_str(), kGuarded[level]) != 0) return false;
    if (slash == std::string_view::npos) return true;
    if (!kGuarded[level]) return false;
    rest.remove_prefix(slash + 1);
  }
}

// Asks on the terminal whether to go on, unless --yes was given; without a
// terminal the answer is no.
bool Confirmed(const Invocation& invocation, const std::string& question) {
  if (invocation.yes) return true;
  if (!isatty(STDIN_FILENO)) {
    Complain(question + " Not without --yes.");
    return false;
  }
  std::fprintf(stderr, "oposreg: %s [y/N] ", question.c_str());
  std::fflush(stderr);
  char answer[16] = {};
  if (!std::fgets(answer, sizeof answer, stdin)) return false;
  return answer[0] == 'y' || answer[0] == 'Y';
}

int Fail(const std::string& what, LONG error) {
  Complain(what + ": " + ErrorText(error));
  return kExitFailure;
}

}  // namespace

int RunGet(const Invocation& invocation) {
  KeyPath path;
  int status = kExitOk;
  if (!Prepare(invocation, false, &path, &status)) return status;
  HKEY key = nullptr;
  if (LONG error = RegOpenKeyExA(path.root, path.sub_key.c_str(), 0, KEY_READ, &key)) {
    return Fail(path.FullName(), error);
  }
  std::vector<RegValue> values;
  LONG error = ReadKeyValues(key, &values);
  RegCloseKey(key);
  if (error) return Fail(path.FullName(), error);
  if (invocation.args.size() == 1) {
    if (invocation.json) {
      JsonWriter json;
      json.BeginArray();
      for (const RegValue& value : values) WriteValueJson(value, &json);
      json.EndArray();
      std::fputs(json.Text().c_str(), stdout);
      return kExitOk;
    }
    for (const RegValue& value : values) std::printf("%s\n", ValueLine(value).c_str());
    return kExitOk;
  }
  std::string name = ValueNameArg(invocation.args[1]);
  for (const RegValue& value : values) {
    // Value names are case-insensitive.
    if (value.name.size() == name.size() &&
        std::equal(name.begin(), name.end(), value.name.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) ==
                 std::tolower(static_cast<unsigned char>(b));
        })) {
      if (invocation.json) {
        JsonWriter json;
        WriteValueJson(value, &json);
        std::fputs(json.Text().c_str(), stdout);
      } else {
        std::printf("%s\n", DataText(value).c_str());
      }
      return kExitOk;
    }
  }
  Complain(path.FullName() + ": no value \"" + invocation.args[1] + "\"");
  return kExitFailure;
}

int RunSet(const Invocation& invocation) {
  KeyPath path;
  int status = kExitOk;
  if (!Prepare(invocation, true, &path, &status)) return status;
  RegValue value;
  value.name = ValueNameArg(invocation.args[1]);
  std::string error;
  if (!ParseTypedData(invocation.args[2], invocation.args[3], &value, &error)) {
    Complain(error);
    return kExitUsage;
  }
  if (path.sub_key.empty()) {
    Complain("values cannot be written to a root key; name a key below " + path.root_name);
    return kExitUsage;
  }
  HKEY key = nullptr;
  if (LONG result = RegCreateKeyExA(path.root, path.sub_key.c_str(), 0, nullptr, 0, KEY_WRITE,
                                    nullptr, &key, nullptr)) {
    return Fail(path.FullName(), result);
  }
  LONG result = RegSetValueExA(key, value.name.c_str(), 0, value.type,
                               reinterpret_cast<const BYTE*>(value.data.data()),
                               static_cast<DWORD>(value.data.size()));
  if (result == ERROR_SUCCESS) result = RegFlushKey(key);
  RegCloseKey(key);
  return result ? Fail(path.FullName() + ": " + invocation.args[1], result) : kExitOk;
}

int RunDelete(const Invocation& invocation) {
  KeyPath path;
  int status = kExitOk;
  if (!Prepare(invocation, true, &path, &status)) return status;
  if (invocation.args.size() == 2) {
    HKEY key = nullptr;
    if (LONG error = RegOpenKeyExA(path.root, path.sub_key.c_str(), 0, KEY_SET_VALUE, &key)) {
      return Fail(path.FullName(), error);
    }
    LONG error = RegDeleteValueA(key, ValueNameArg(invocation.args[1]).c_str());
    if (error == ERROR_SUCCESS) error = RegFlushKey(key);
    RegCloseKey(key);
    return error ? Fail(path.FullName() + ": " + invocation.args[1], error) : kExitOk;
  }
  if (path.sub_key.empty()) {
    Complain("a root key cannot be deleted");
    return kExitUsage;
  }
  if (DeletesManyDevices(path) &&
      !Confirmed(invocation, "delete " + path.FullName() +
                                 " with every key below it, OPOS devices included?")) {
    return kExitFailure;
  }
  size_t slash = path.sub_key.find_last_of('\\');
  std::string parent_path = slash == std::string::npos ? "" : path.sub_key.substr(0, slash);
  std::string name = path.sub_key.substr(slash == std::string::npos ? 0 : slash + 1);
  HKEY parent = nullptr;
  if (LONG error = RegOpenKeyExA(path.root, parent_path.c_str(), 0, KEY_ALL_ACCESS, &parent)) {
    return Fail(path.FullName(), error);
  }
  LONG error = RegDeleteTreeA(parent, name.c_str());
  if (error == ERROR_SUCCESS) {
    // Win32 deletes the named key with its tree; an empty key left behind
    // by a narrower reading of the call goes too.
    LONG left = RegDeleteKeyA(parent, name.c_str());
    if (left != ERROR_FILE_NOT_FOUND) error = left;
  }
  if (error == ERROR_SUCCESS) error = RegFlushKey(parent);
  RegCloseKey(parent);
  return error ? Fail(path.FullName(), error) : kExitOk;
}

}  // namespace opossvc::oposreg
