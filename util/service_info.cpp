// UpdateServiceInfo and the instance-number mask.
#include <atomic>
#include <bit>
#include <string>

#include <opossvc/util.h>
#include <opossvc/win32/registry.h>

namespace {

constexpr char kServiceOposPath[] = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\";

// The mask's 32 bits as a long, sign-extended as a 32-bit LONG would be.
long AsMask(DWORD bits) { return opossvc::Long32(bits); }

bool SetText(HKEY key, const char* name, const CString& text) {
  const auto* data = reinterpret_cast<const BYTE*>(text.GetString());
  return RegSetValueExA(key, name, 0, REG_SZ, data, static_cast<DWORD>(text.GetLength()) + 1) ==
         ERROR_SUCCESS;
}

}  // namespace

int UpdateServiceInfo(const char* device, const CString& description, long version) {
  // The lookup runs read-only, so a device that does not exist is never
  // created; the values then go to the key found, which is opened without
  // creating anything either.
  CString device_id;
  {
    CRegistryInfo registry;
    if (device == nullptr || !registry.GetDeviceInfo(device, 0)) return 0;
    device_id = registry.m_strDeviceID;
  }
  if (device_id.IsEmpty()) return 0;
  const LONG value = opossvc::Long32(version);
  if (description.IsEmpty() && value <= 0) return 1;
  std::string path = std::string(kServiceOposPath) + device_id.GetString();
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return 0;
  bool written = true;
  if (!description.IsEmpty()) written = SetText(key, "Description", description) && written;
  if (value > 0) {
    CString text;
    text.Format("%ld.%ld.%ld", static_cast<long>(value / 1000000), static_cast<long>((value % 1000000) / 1000),
                static_cast<long>(value % 1000));
    written = SetText(key, "Version", text) && written;
  }
  RegCloseKey(key);
  return written ? 1 : 0;
}

void GetInstanceID(long& mask, long& id) {
  std::atomic_ref<long> shared(mask);
  long current = shared.load();
  for (;;) {
    auto bits = static_cast<DWORD>(current);
    if (bits == 0xFFFFFFFFu) {
      id = 0;
      return;
    }
    int free_bit = std::countr_one(bits);
    if (shared.compare_exchange_weak(current, AsMask(bits | (DWORD{1} << free_bit)))) {
      id = free_bit + 1;
      return;
    }
  }
}

void ResetInstanceID(long& mask, long id) {
  if (id < 1 || id > 32) return;
  std::atomic_ref<long> shared(mask);
  long current = shared.load();
  while (!shared.compare_exchange_weak(
      current, AsMask(static_cast<DWORD>(current) & ~(DWORD{1} << (id - 1))))) {
  }
}
