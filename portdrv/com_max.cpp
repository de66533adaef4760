// GetComMax: the highest COM port number that the machine's registry lists.
//
// Device entries below "Enum\Root" (two levels of sub-keys, each with a
// "PortName") are searched when that key exists; otherwise the values of
// "Hardware\DeviceMap\SerialComm". Names are matched as "COM<digits>" in any
// letter case, within the bytes the value holds. Key and value names may be
// as long as the registry allows (a port map names device paths such as
// /dev/serial/by-id/...): an entry whose name does not fit is skipped, the
// enumeration goes on.
#include <opossvc/portdrv.h>

#include <memory>

#include <opossvc/registry.h>
#include <opossvc/win32/registry.h>

namespace {

// The longest key name and value name of the registry, and their NUL.
constexpr DWORD kKeyNameBuffer = 256;
constexpr DWORD kValueNameBuffer = 16384;
constexpr int kFloor = 2;

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Raises *result to the number of a "COMn" string of `size` bytes (it need
// not end with a NUL). Digits stop at the first non-digit; a number too
// large for an int counts as no number.
void ApplyComName(const unsigned char* data, unsigned long size, int* result) {
  if (size < 3) return;
  const char* text = reinterpret_cast<const char*>(data);
  if (AsciiUpper(text[0]) != 'C' || AsciiUpper(text[1]) != 'O' || AsciiUpper(text[2]) != 'M') {
    return;
  }
  long long number = 0;
  for (unsigned long i = 3; i < size && text[i] >= '0' && text[i] <= '9'; ++i) {
    number = number * 10 + (text[i] - '0');
    if (number > 0x7FFFFFFF) return;
  }
  if (number > *result) *result = static_cast<int>(number);
}

// Reads `valueName` of `key` and applies it when it is a REG_SZ.
void ApplyValue(HKEY key, const char* valueName, int* result) {
  unsigned long type = 0;
  unsigned long size = 0;
  unsigned char* data = nullptr;
  if (ReadRegValue(key, valueName, &type, data, &size) && data != nullptr) {
    if (type == REG_SZ) ApplyComName(data, size, result);
  }
  ::operator delete(data);
}

// Calls visit(child) for each sub-key of `key` that opens, by index from 0
// until the enumeration ends.
template <class Visit>
void ForEachSubKey(HKEY key, Visit visit) {
  for (DWORD index = 0;; ++index) {
    char name[kKeyNameBuffer];
    DWORD length = kKeyNameBuffer;
    const LONG result =
        RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_MORE_DATA) continue;
    if (result != ERROR_SUCCESS) return;
    HKEY child = nullptr;
    if (RegOpenKeyExA(key, name, 0, KEY_READ, &child) != ERROR_SUCCESS) continue;
    visit(child);
    RegCloseKey(child);
  }
}

void SearchEnumRoot(HKEY root, int* result) {
  ForEachSubKey(root, [result](HKEY device) {
    ForEachSubKey(device, [result](HKEY instance) { ApplyValue(instance, "PortName", result); });
  });
}

void SearchSerialComm(HKEY map, int* result) {
  const auto name = std::make_unique<char[]>(kValueNameBuffer);
  for (DWORD index = 0;; ++index) {
    DWORD length = kValueNameBuffer;
    DWORD type = 0;
    const LONG status =
        RegEnumValueA(map, index, name.get(), &length, nullptr, &type, nullptr, nullptr);
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS) return;
    if (type == REG_SZ) ApplyValue(map, name.get(), result);
  }
}

}  // namespace

int GetComMax() {
  int result = kFloor;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\Root", 0, KEY_READ, &key) == ERROR_SUCCESS) {
    SearchEnumRoot(key, &result);
    RegCloseKey(key);
    return result;
  }
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Hardware\\DeviceMap\\SerialComm", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return result;
  }
  SearchSerialComm(key, &result);
  RegCloseKey(key);
  return result;
}
