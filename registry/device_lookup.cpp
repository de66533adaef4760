// The device lookup: a device name within a class, through logical names, to
// its device key and the values of its entry.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>

#include <opossvc/registry.h>

#include "platform/internal/registry_read_snapshot.h"
#include "registry/key_table.h"

using opossvc::detail::ClassName;
using opossvc::detail::IsClassCode;
using opossvc::detail::NameLess;
using opossvc::detail::SameName;

namespace {

// The number in a port name: the leading characters that are no digits are
// skipped and the rest is read as a C integer literal (0x.. hexadecimal, 0..
// octal), so COM3 gives 3, COM010 gives 8 and COM08 gives 0. Saturates at
// 0xFFFFFFFF as a 32-bit strtoul does.
DWORD PortNumber(const char* port) {
  const char* digits = port + std::strcspn(port, "1234567890");
  if (*digits == '\0') return 0;
  errno = 0;
  unsigned long long value = std::strtoull(digits, nullptr, 0);
  if (errno == ERANGE || value > 0xFFFFFFFFull) return 0xFFFFFFFFu;
  return static_cast<DWORD>(value);
}

constexpr char kDevicePrefix[] = "\\\\.\\";

}  // namespace

int CRegistryInfo::OpenDevice(const char* text, unsigned long code, int create) {
  const DWORD c = static_cast<DWORD>(code);
  // Only a class index has devices; anything else fails before the previous
  // device is forgotten.
  if (text == nullptr || *text == '\0' || !IsClassCode(c) || ClassName(c) == nullptr) return FALSE;
  const CString asked(text);  // `text` may point into m_strDevice
  // The class key, the logical names and the device key as one moment of
  // the registry left them, however another process changes them meanwhile.
  opossvc::detail::RegistryReadSnapshot snapshot;
  if (!Open(c | KC_SERVICEOPOS, m_bCreate)) return FALSE;

  SaveReadValue();
  Init(TRUE);
  m_dwDevClass = c;
  m_dwDevKey = static_cast<DWORD>(ConvDevCls(c));
  m_strDevice = asked;
  int open = OpenKey(m_hServiceOPOS, m_dwDevKey, m_hDevice, create);

  // Logical names: string values of the class key naming a device key or
  // another logical name. Every name of a chain is kept in a set, so a loop
  // ends the lookup whether or not it passes through the name first asked,
  // and a long chain costs a step per name, not a scan of the chain each.
  std::set<CString, NameLess> seen;  // with `asked` from the first step on
  while (!open && !m_strDevice.IsEmpty()) {
    if (ReadValue(c, m_strDevice) != REG_SZ || SameName(m_strReadValue, m_strDevice)) {
      m_strDevice.Empty();
      break;
    }
    m_strDevice = m_strReadValue;
    open = OpenKey(m_hServiceOPOS, m_dwDevKey, m_hDevice, create);
    if (open) break;
    if (seen.empty()) seen.insert(asked);
    if (!seen.insert(m_strDevice).second) m_strDevice.Empty();
  }

  if (open && !m_strDevice.IsEmpty()) {
    m_strSOName = m_strDevice;
    m_strDeviceID = ConvKey(m_dwDevKey);
  } else {
    open = FALSE;
    m_dwDevKey = 0;
  }
  RestoreReadValue();
  return open;
}

int CRegistryInfo::GetDeviceInfo(const char* text, unsigned long code) {
  CString name;
  unsigned long c = code;
  if (text == nullptr) {
    name = m_strDevice;
    c = m_dwDevClass;
  } else {
    const char* rest = text;
    if (!ValidateKey(rest, c)) return FALSE;
    name = rest;
  }
  // The same device again: answered from the object, unless its entry had
  // no "DeviceName" and may have been incomplete.
  if (!m_strDeviceName.IsEmpty() && static_cast<DWORD>(c) == m_dwDevClass &&
      SameName(name, m_strDevice)) {
    return TRUE;
  }

  // The device found and its entry read from one state of the registry.
  opossvc::detail::RegistryReadSnapshot snapshot;
  SaveReadValue();
  const int found = OpenDevice(name, c, m_bCreate);
  if (found) {
    const DWORD device = m_dwDevKey;
    if (ReadValue(device, "") == REG_SZ && !m_strReadValue.IsEmpty()) m_strSOName = m_strReadValue;
    if (ReadValue(device, "SOName") == REG_SZ) m_strSOName = m_strReadValue;
    GetString(device, "Service", m_strSOFile);
    GetString(device, "Description", m_strSODesc);
    GetString(device, "Version", m_strSOVersion);
    GetString(device, "DeviceName", m_strDeviceName);
    GetString(device, "DeviceDesc", m_strDeviceDesc);
    GetString(device, "Port", m_strPortName);
    if (std::strncmp(m_strPortName, kDevicePrefix, sizeof kDevicePrefix - 1) == 0) {
      m_strPortName = m_strPortName.Mid(sizeof kDevicePrefix - 1);
    }
    m_dwPortNo = PortNumber(m_strPortName);
  }
  RestoreReadValue();
  return found;
}

unsigned long CRegistryInfo::GetDeviceKey(const char* text, unsigned long code) {
  GetDeviceInfo(text, code);
  return m_dwDevKey;
}

CString CRegistryInfo::GetDeviceID(const char* text, unsigned long code) {
  GetDeviceInfo(text, code);
  return m_strDeviceID;
}

CString CRegistryInfo::GetSOName(const char* text, unsigned long code) {
  GetDeviceInfo(text, code);
  return m_strSOName;
}

CString CRegistryInfo::GetSOFile(const char* text, unsigned long code) {
  GetDeviceInfo(text, code);
  return m_strSOFile;
}

CString CRegistryInfo::GetSODesc(const char* text, unsigned long code) {
  GetDeviceInfo(text, code);
  return m_strSODesc;
}

CString CRegistryInfo::GetSOVersion(const char* text, unsigned long code) {
  GetDeviceInfo(text, code);
  return m_strSOVersion;
}

CString CRegistryInfo::GetDeviceName(const char* text, unsigned long code) {
  GetDeviceInfo(text, code);
  return m_strDeviceName;
}

CString CRegistryInfo::GetDeviceDesc(const char* text, unsigned long code) {
  GetDeviceInfo(text, code);
  return m_strDeviceDesc;
}

CString CRegistryInfo::GetPortName(const char* text, unsigned long code) {
  GetDeviceInfo(text, code);
  return m_strPortName;
}

unsigned long CRegistryInfo::GetPortNo(const char* text, unsigned long code) {
  GetDeviceInfo(text, code);
  return m_dwPortNo;
}

CString CRegistryInfo::FindDevice(const char* text, unsigned long code) const {
  CRegistryInfo lookup;
  if (!lookup.GetDeviceInfo(text, code)) return CString();
  return lookup.m_strDevice;
}
