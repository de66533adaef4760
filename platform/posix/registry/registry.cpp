// The Reg* calls: argument checks, access rights and Win32's buffer rules,
// over the store of registry_store.h.
//
// Access rights are enforced as Windows enforces them on a handle: reading
// values needs KEY_QUERY_VALUE, listing subkeys KEY_ENUMERATE_SUB_KEYS,
// changing values KEY_SET_VALUE. Opening below a handle needs no right on
// it. Asking for any write right on a store that this process may not write
// is refused at open time with ERROR_ACCESS_DENIED, as Windows refuses it to
// a user who may only read the key.
//
// Text is converted at each call, as Windows' A calls convert it
// (registry_text.h): names, classes and string data go in and come out in
// the active code page, and every size a caller is told is one of its code
// page, except the maximum lengths of RegQueryInfoKeyA, which Windows gives
// in UTF-16 units and stored bytes.
#include <opossvc/win32/registry.h>

#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/registry/registry_handles.h"
#include "platform/posix/registry/registry_names.h"
#include "platform/posix/registry/registry_store.h"
#include "platform/posix/registry/registry_text.h"
#include "platform/internal/stored_key_names.h"

namespace opossvc::detail {
namespace {

constexpr REGSAM kWriteRights =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER;

// Generic rights mapped to key rights, as Windows maps them for keys.
REGSAM SpecificRights(REGSAM desired) {
  REGSAM rights = desired & (KEY_ALL_ACCESS | SYNCHRONIZE);
  if (desired & GENERIC_READ) rights |= KEY_READ;
  if (desired & GENERIC_WRITE) rights |= KEY_WRITE;
  if (desired & GENERIC_EXECUTE) rights |= KEY_EXECUTE;
  if (desired & GENERIC_ALL) rights |= KEY_ALL_ACCESS;
  return rights;
}

// The rights a new handle gets: ERROR_ACCESS_DENIED when it asks to write a
// store that we may only read; MAXIMUM_ALLOWED gets what may be had.
LONG GrantRights(RegistryStore& store, REGSAM desired, REGSAM* granted) {
  REGSAM rights = SpecificRights(desired);
  bool wants_write = (rights & kWriteRights) != 0;
  bool maximum = (desired & MAXIMUM_ALLOWED) != 0;
  if (wants_write || maximum) {
    bool writable = store.CanWrite() == ERROR_SUCCESS;
    if (wants_write && !writable) return ERROR_ACCESS_DENIED;
    if (maximum) rights |= writable ? KEY_ALL_ACCESS : KEY_READ;
  }
  *granted = rights;
  return ERROR_SUCCESS;
}

// NULs that end a string value properly: one for REG_SZ and REG_EXPAND_SZ,
// two (the last string's and the list's) for REG_MULTI_SZ.
size_t MissingTerminators(const std::string& data, DWORD type) {
  size_t wanted = type == REG_MULTI_SZ ? 2 : IsStringType(type) ? 1 : 0;
  size_t present = 0;
  while (present < wanted && present < data.size() && data[data.size() - 1 - present] == '\0') {
    ++present;
  }
  return wanted - present;
}

// Copies value data as RegQueryValueExA does. A string stored without its
// terminator gets one only where the buffer has room beyond the data; the
// size reported is always the stored size.
void CopyData(const std::string& data, DWORD type, BYTE* buffer, DWORD buffer_size) {
  if (!data.empty()) std::memcpy(buffer, data.data(), data.size());
  size_t end = data.size();
  for (size_t missing = MissingTerminators(data, type); missing > 0 && end < buffer_size;
       --missing) {
    buffer[end++] = 0;
  }
}

void CopyName(const std::string& name, char* buffer) {
  std::memcpy(buffer, name.data(), name.size());
  buffer[name.size()] = '\0';
}

DWORD Size(const std::string& text) { return static_cast<DWORD>(text.size()); }

// Runs one registry call: the library's failures are error codes, never
// exceptions.
template <class Call>
LONG Guarded(Call call) noexcept {
  try {
    CallerCodePageScope code_page;
    return call();
  } catch (const std::bad_alloc&) {
    return ERROR_OUTOFMEMORY;
  } catch (...) {
    return ERROR_GEN_FAILURE;
  }
}

LONG OpenKeyEx(HKEY parent_key, LPCSTR sub_key, REGSAM desired, PHKEY result) {
  OpenKey parent;
  if (LONG error = ResolveKey(parent_key, &parent)) return error;
  KeyPath path;
  if (LONG error = ParseKeyPath(sub_key, &path)) return error;
  KeyId id = 0;
  if (LONG error = parent.store->Open(parent.id, path, &id)) return error;
  OpenKey key{std::move(parent.store), id, 0};
  if (LONG error = GrantRights(*key.store, desired, &key.access)) return error;
  return InsertKey(std::move(key), result);
}

LONG CreateKeyEx(HKEY parent_key, LPCSTR sub_key, LPCSTR class_name, REGSAM desired,
                 PHKEY result, LPDWORD disposition) {
  OpenKey parent;
  if (LONG error = ResolveKey(parent_key, &parent)) return error;
  KeyPath path;
  if (LONG error = ParseKeyPath(sub_key, &path)) return error;
  OpenKey key{parent.store, 0, 0};
  // An existing key is opened without a write, so that a reader of a
  // read-only store can use this call too.
  bool created = false;
  LONG error = parent.store->Open(parent.id, path, &key.id);
  if (error == ERROR_FILE_NOT_FOUND) {
    if (LONG too_long = CheckKeyNameLengths(path)) return too_long;
    const std::string stored_class = StoredText(class_name == nullptr ? "" : class_name);
    error = parent.store->Create(parent.id, path, stored_class, &key.id, &created);
  }
  if (error != ERROR_SUCCESS) return error;
  if (LONG denied = GrantRights(*key.store, desired, &key.access)) return denied;
  if (LONG failed = InsertKey(std::move(key), result)) return failed;
  if (disposition != nullptr) {
    *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  }
  return ERROR_SUCCESS;
}

LONG QueryValueEx(HKEY key_handle, LPCSTR value_name, LPDWORD type, LPBYTE data,
                  LPDWORD data_size) {
  OpenKey key;
  if (LONG error = ResolveKey(key_handle, &key)) return error;
  // Asked for the size alone, the caller reads 0 unless the value is found.
  if (data == nullptr && data_size != nullptr) *data_size = 0;
  if ((key.access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
  DWORD value_type = REG_NONE;
  std::string stored;
  if (LONG error = key.store->QueryValue(key.id, MakeValueName(value_name), &value_type, &stored)) {
    return error;
  }
  const std::string value = CallerData(value_type, std::move(stored));
  if (type != nullptr) *type = value_type;
  if (data != nullptr) {
    if (*data_size < Size(value)) {
      *data_size = Size(value);
      return ERROR_MORE_DATA;
    }
    CopyData(value, value_type, data, *data_size);
  }
  if (data_size != nullptr) *data_size = Size(value);
  return ERROR_SUCCESS;
}

LONG SetValueEx(HKEY key_handle, LPCSTR value_name, DWORD type, const BYTE* data,
                DWORD data_size) {
  OpenKey key;
  if (LONG error = ResolveKey(key_handle, &key)) return error;
  if ((key.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  if (data == nullptr && data_size != 0) return ERROR_NOACCESS;
  RegistryName name = MakeValueName(value_name);
  if (!ValueNameLengthOk(name)) return ERROR_INVALID_PARAMETER;
  // A string whose size left out the terminator that follows it gets it
  // back, as Windows does: that byte is read, as there.
  if (data_size > 0 && IsStringType(type) && data[data_size - 1] != 0 && data[data_size] == 0) {
    ++data_size;
  }
  std::string_view bytes(reinterpret_cast<const char*>(data), data == nullptr ? 0 : data_size);
  return key.store->SetValue(key.id, name, type, StoredData(type, bytes));
}

LONG EnumKeyEx(HKEY key_handle, DWORD index, LPSTR name, LPDWORD name_size, LPSTR class_name,
               LPDWORD class_size, PFILETIME written) {
  OpenKey key;
  if (LONG error = ResolveKey(key_handle, &key)) return error;
  if ((key.access & KEY_ENUMERATE_SUB_KEYS) == 0) return ERROR_ACCESS_DENIED;
  SubkeyEntry entry;
  if (LONG error = key.store->Subkey(key.id, index, &entry)) return error;
  const std::string entry_name = CallerText(entry.name);
  const std::string entry_class = CallerText(entry.class_name);
  // Counts are in characters and include the terminator going in; nothing
  // is changed when a buffer is too small.
  if (Size(entry_name) >= *name_size) return ERROR_MORE_DATA;
  if (class_name != nullptr && Size(entry_class) >= *class_size) return ERROR_MORE_DATA;
  CopyName(entry_name, name);
  *name_size = Size(entry_name);
  if (class_name != nullptr) CopyName(entry_class, class_name);
  if (class_size != nullptr) *class_size = Size(entry_class);
  if (written != nullptr) *written = entry.written;
  return ERROR_SUCCESS;
}

LONG EnumValue(HKEY key_handle, DWORD index, LPSTR name, LPDWORD name_size, LPDWORD type,
               LPBYTE data, LPDWORD data_size) {
  OpenKey key;
  if (LONG error = ResolveKey(key_handle, &key)) return error;
  if ((key.access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
  ValueEntry entry;
  if (LONG error = key.store->Value(key.id, index, &entry)) return error;
  if (type != nullptr) *type = entry.type;
  const std::string entry_name = CallerText(entry.name);
  const std::string value = CallerData(entry.type, std::move(entry.data));
  // A name or data buffer too small: only the type and the data size are
  // told, the name count stays as it was.
  if (Size(entry_name) >= *name_size || (data != nullptr && *data_size < Size(value))) {
    if (data_size != nullptr) *data_size = Size(value);
    return ERROR_MORE_DATA;
  }
  CopyName(entry_name, name);
  *name_size = Size(entry_name);
  if (data != nullptr) CopyData(value, entry.type, data, *data_size);
  if (data_size != nullptr) *data_size = Size(value);
  return ERROR_SUCCESS;
}

LONG QueryStoredKeyNames(HKEY key_handle, const std::vector<std::string>& names,
                         std::vector<std::string>* stored) {
  OpenKey key;
  if (LONG error = ResolveKey(key_handle, &key)) return error;
  if ((key.access & KEY_ENUMERATE_SUB_KEYS) == 0) return ERROR_ACCESS_DENIED;
  KeyPath path;
  path.names.reserve(names.size());
  for (const std::string& name : names) {
    if (LONG error = MakeKeyName(name, &path.names.Add())) return error;
  }
  if (LONG error = key.store->StoredNames(key.id, path, stored)) return error;
  for (std::string& name : *stored) name = CallerText(name);
  return ERROR_SUCCESS;
}

LONG DeleteKey(HKEY parent_key, LPCSTR sub_key) {
  OpenKey parent;
  if (LONG error = ResolveKey(parent_key, &parent)) return error;
  KeyPath path;
  if (LONG error = ParseKeyPath(sub_key, &path)) return error;
  return parent.store->DeleteKey(parent.id, path);
}

LONG DeleteValue(HKEY key_handle, LPCSTR value_name) {
  OpenKey key;
  if (LONG error = ResolveKey(key_handle, &key)) return error;
  if ((key.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  return key.store->DeleteValue(key.id, MakeValueName(value_name));
}

LONG DeleteTree(HKEY key_handle, LPCSTR sub_key) {
  OpenKey key;
  if (LONG error = ResolveKey(key_handle, &key)) return error;
  // Without a subkey (null or "") the handle's own values and subkeys go,
  // through it, and the key stays.
  const bool contents_only = sub_key == nullptr || *sub_key == '\0';
  constexpr REGSAM kEmptyRights = KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_SET_VALUE;
  if (contents_only && (key.access & kEmptyRights) != kEmptyRights) return ERROR_ACCESS_DENIED;
  KeyPath path;
  if (LONG error = ParseKeyPath(sub_key, &path)) return error;
  return key.store->DeleteTree(key.id, path, !contents_only);
}

LONG QueryInfoKey(HKEY key_handle, LPSTR class_name, LPDWORD class_size, LPDWORD subkeys,
                  LPDWORD max_subkey_name, LPDWORD max_subkey_class, LPDWORD values,
                  LPDWORD max_value_name, LPDWORD max_value_data, LPDWORD security_size,
                  PFILETIME written) {
  OpenKey key;
  if (LONG error = ResolveKey(key_handle, &key)) return error;
  if ((key.access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
  KeyInfo info;
  if (LONG error = key.store->Info(key.id, &info)) return error;
  if (subkeys != nullptr) *subkeys = info.subkeys;
  if (max_subkey_name != nullptr) *max_subkey_name = info.max_subkey_name;
  if (max_subkey_class != nullptr) *max_subkey_class = info.max_subkey_class;
  if (values != nullptr) *values = info.values;
  if (max_value_name != nullptr) *max_value_name = info.max_value_name;
  if (max_value_data != nullptr) *max_value_data = info.max_value_data;
  if (security_size != nullptr) *security_size = 0;  // keys carry no security descriptors here
  if (written != nullptr) *written = info.written;
  LONG result = ERROR_SUCCESS;
  if (class_size != nullptr) {
    const std::string own_class = CallerText(info.class_name);
    if (class_name == nullptr || Size(own_class) < *class_size) {
      if (class_name != nullptr) CopyName(own_class, class_name);
      *class_size = Size(own_class);
    } else if (*class_size > 0) {
      // As Windows' ANSI call: what fits, terminated, and its length.
      *class_size -= 1;
      CopyName(own_class.substr(0, *class_size), class_name);
      result = ERROR_MORE_DATA;
    }  // no room at all: nothing written, success and 0, as on Windows
  }
  return result;
}

LONG FlushKey(HKEY key_handle) {
  OpenKey key;
  if (LONG error = ResolveKey(key_handle, &key)) return error;
  if (LONG error = key.store->CheckKey(key.id)) return error;
  return key.store->Flush();
}

}  // namespace
}  // namespace opossvc::detail

namespace reg = opossvc::detail;

LONG reg::GetStoredKeyNames(HKEY key, const std::vector<std::string>& names,
                            std::vector<std::string>* stored) {
  if (stored == nullptr) return ERROR_INVALID_PARAMETER;
  LONG result = Guarded([&] { return QueryStoredKeyNames(key, names, stored); });
  if (result != ERROR_SUCCESS) stored->clear();
  return result;
}

LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                          PHKEY phkResult) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  return reg::Guarded([&] { return reg::OpenKeyEx(hKey, lpSubKey, samDesired, phkResult); });
}

LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                            DWORD dwOptions, REGSAM samDesired,
                            const SECURITY_ATTRIBUTES* lpSecurityAttributes, PHKEY phkResult,
                            LPDWORD lpdwDisposition) {
  // REG_OPTION_VOLATILE is accepted; such keys outlive a reboot here.
  if (phkResult == nullptr) return ERROR_BADKEY;
  *phkResult = nullptr;
  if (Reserved != 0) return ERROR_INVALID_PARAMETER;
  return reg::Guarded([&] {
    return reg::CreateKeyEx(hKey, lpSubKey, lpClass, samDesired, phkResult, lpdwDisposition);
  });
}

LONG WINAPI RegCloseKey(HKEY hKey) {
  return reg::Guarded([&] { return reg::RemoveKey(hKey); });
}

LONG WINAPI RegFlushKey(HKEY hKey) {
  return reg::Guarded([&] { return reg::FlushKey(hKey); });
}

LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                             LPBYTE lpData, LPDWORD lpcbData) {
  if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  return reg::Guarded([&] { return reg::QueryValueEx(hKey, lpValueName, lpType, lpData, lpcbData); });
}

LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                           const BYTE* lpData, DWORD cbData) {
  return reg::Guarded([&] { return reg::SetValueEx(hKey, lpValueName, dwType, lpData, cbData); });
}

LONG WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                          LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                          PFILETIME lpftLastWriteTime) {
  if (lpName == nullptr || lpcchName == nullptr || lpReserved != nullptr ||
      (lpClass != nullptr && lpcchClass == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  return reg::Guarded([&] {
    return reg::EnumKeyEx(hKey, dwIndex, lpName, lpcchName, lpClass, lpcchClass, lpftLastWriteTime);
  });
}

LONG WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                          LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (lpValueName == nullptr || lpcchValueName == nullptr || lpReserved != nullptr ||
      (lpData != nullptr && lpcbData == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  return reg::Guarded([&] {
    return reg::EnumValue(hKey, dwIndex, lpValueName, lpcchValueName, lpType, lpData, lpcbData);
  });
}

LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  if (lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
  return reg::Guarded([&] { return reg::DeleteKey(hKey, lpSubKey); });
}

LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  return reg::Guarded([&] { return reg::DeleteValue(hKey, lpValueName); });
}

LONG WINAPI RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey) {
  return reg::Guarded([&] { return reg::DeleteTree(hKey, lpSubKey); });
}

LONG WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                             LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen,
                             LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                             LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                             LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime) {
  if (lpReserved != nullptr || (lpClass != nullptr && lpcchClass == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  return reg::Guarded([&] {
    return reg::QueryInfoKey(hKey, lpClass, lpcchClass, lpcSubKeys, lpcbMaxSubKeyLen, lpcbMaxClassLen,
                        lpcValues, lpcbMaxValueNameLen, lpcbMaxValueLen, lpcbSecurityDescriptor,
                        lpftLastWriteTime);
  });
}
