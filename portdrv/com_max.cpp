// GetComMax: the highest COM port number that the machine's registry lists.
//
// Device entries below "Enum\Root" (two levels of sub-keys, each with a
// "PortName") are searched when that key exists; otherwise the values of
// "Hardware\DeviceMap\SerialComm". Names are matched as "COM<digits>" in any
// letter case, within the bytes the value holds.
#include <opossvc/portdrv.h>

#include <opossvc/registry.h>
#include <opossvc/win32/registry.h>

namespace {

constexpr DWORD kNameBuffer = 32;
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
// until the enumeration fails.
template <class Visit>
void ForEachSubKey(HKEY key, Visit visit) {
  for (DWORD index = 0;; ++index) {
    char name[kNameBuffer];
    DWORD length = kNameBuffer;
    if (RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      return;
    }
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
  for (DWORD index = 0;; ++index) {
    char name[kNameBuffer];
    DWORD length = kNameBuffer;
    DWORD type = 0;
    if (RegEnumValueA(map, index, name, &length, nullptr, &type, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      return;
    }
    if (type == REG_SZ) ApplyValue(map, name, result);
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
