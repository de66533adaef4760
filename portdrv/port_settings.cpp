// Port settings from the registry: the maker's configuration key names the
// current configuration, whose values and the device entry's values give the
// line parameters and the driver's pauses.
#include "portdrv/port_settings.h"

#include <cstring>

#include <opossvc/afx/cstring.h>
#include <opossvc/opos.h>
#include <opossvc/registry.h>

namespace opossvc::detail {
namespace {

constexpr BaudRateEntry kBaudRates[kBaudRateCount] = {
    {150, 64},   {300, 32},   {600, 16},    {1200, 8},    {2400, 4},
    {4800, 2},   {9600, 1},   {19200, 1},   {38400, 1},   {56000, 1},
    {57600, 1},  {115200, 1}, {128000, 1},  {256000, 1},
};
constexpr BYTE kDataBits[2] = {7, 8};
// The stored order differs from the DCB codes: 1 is even, 2 is odd.
constexpr BYTE kParities[5] = {0 /*NOPARITY*/, 2 /*EVENPARITY*/, 1 /*ODDPARITY*/,
                               3 /*MARKPARITY*/, 4 /*SPACEPARITY*/};
// 1 is one stop bit too, not one and a half.
constexpr BYTE kStopBits[3] = {0 /*ONESTOPBIT*/, 0 /*ONESTOPBIT*/, 2 /*TWOSTOPBITS*/};

constexpr const char kMakerKey[] = "VANTA QUILLON";
constexpr const char kDefaultConfiguration[] = "VANTA QUILLON\\VANTA1.6";

constexpr LONG kNoLimit = 0x7FFFFFFF;

// Reads a REG_DWORD value; false when it is missing or of another type.
bool ReadDword(CRegistryInfo& reg, unsigned long code, const char* name, LONG* value) {
  if (reg.ReadValue(code, name) != REG_DWORD) return false;
  *value = opossvc::Long32(reg.m_dwReadValue);
  return true;
}

// A flag setting: stored as its truth on a first open, compared with the
// open port's otherwise.
bool MergeFlag(CRegistryInfo& reg, unsigned long code, const char* name, bool firstOpen,
               LONG* field) {
  LONG value = 0;
  if (!ReadDword(reg, code, name, &value)) return true;
  const LONG truth = value != 0 ? 1 : 0;
  if (firstOpen) {
    *field = truth;
    return true;
  }
  return *field == truth;
}

// A pause: the configuration key's value, else the device's, else the default.
DWORD ReadPause(CRegistryInfo& reg, const char* name, DWORD fallback) {
  unsigned long value = 0;
  if (reg.GetDWORD(KC_SERVICEINFO_SUBKEY, name, value)) return static_cast<DWORD>(value);
  if (reg.GetDWORD(KC_CURRENT_DEVICE, name, value)) return static_cast<DWORD>(value);
  return fallback;
}

// Opens the current configuration sub-key of the maker's key.
void OpenConfiguration(CRegistryInfo& reg) {
  CString primary;
  const bool named = reg.GetString(KC_SERVICEINFO_SUBKEY, "PrimaryConfig", primary) != 0 &&
                     !primary.IsEmpty();
  CString path(named ? kMakerKey : kDefaultConfiguration);
  if (named) {
    path.Append("\\");
    path.Append(primary);
  }
  reg.Close(TRUE);
  reg.Open(path, KC_SERVICEINFO_SUBKEY, FALSE);
}

}  // namespace

const LineSetting kLineSettings[kLineSettingCount] = {
    {"Baudrate", &PortSettings::Baudrate, -1, 0, kBaudRateCount - 1},
    {"BitLength", &PortSettings::BitLength, -1, 0, 1},
    {"Parity", &PortSettings::Parity, -1, 0, 4},
    {"Stop", &PortSettings::Stop, -1, 0, 2},
    {"HandShake", &PortSettings::HandShake, -1, 0, 4},
    {"XonXoff", &PortSettings::XonXoff, -1, 0, 1},
    {"InputBuf", &PortSettings::InputBuf, 0, 32, kNoLimit},
    {"OutputBuf", &PortSettings::OutputBuf, 0, 2, kNoLimit},
};

const BaudRateEntry& BaudRateAt(LONG index) { return kBaudRates[index]; }
BYTE DataBitsAt(LONG index) { return kDataBits[index]; }
BYTE ParityAt(LONG index) { return kParities[index]; }
BYTE StopBitsAt(LONG index) { return kStopBits[index]; }

long ReadPortSettings(const char* deviceName, const PortSettings* open, PortSettings* out) {
  const bool firstOpen = open == nullptr;
  PortSettings s = firstOpen ? PortSettings() : *open;
  if (deviceName == nullptr) return OPOSSVC_E_PORT_CALL;

  CRegistryInfo reg(kMakerKey, KC_SERVICEINFO_SUBKEY, FALSE);
  OpenConfiguration(reg);
  if (!reg.GetDeviceInfo(deviceName, 0)) return OPOSSVC_E_PORT_CALL;
  const unsigned long device = reg.m_dwDevKey;

  // The port. A further device must name the port already open.
  if (reg.m_dwPortNo < 1 || reg.m_dwPortNo > static_cast<DWORD>(kPortCount)) {
    return OPOSSVC_E_BAD_PORT;
  }
  const LONG index = static_cast<LONG>(reg.m_dwPortNo) - 1;
  const int length = reg.m_strPortName.GetLength();
  if (length == 0 || length > kMaxPortNameLength) return OPOSSVC_E_BAD_PORT;
  if (firstOpen) {
    s.PortIndex = index;
    std::memcpy(s.PortName, reg.m_strPortName.GetString(), static_cast<size_t>(length));
    s.PortName[length] = '\0';
  } else if (index != s.PortIndex || reg.m_strPortName.CompareNoCase(s.PortName) != 0) {
    return OPOSSVC_E_BAD_PORT;
  }

  for (const LineSetting& setting : kLineSettings) {
    LONG& field = s.*setting.field;
    if (firstOpen) field = setting.absent;
    LONG value = 0;
    if (ReadDword(reg, device, setting.name, &value)) {
      if (firstOpen) {
        field = value;
      } else if (field != value) {
        return OPOSSVC_E_BAD_PORT;
      }
    }
    if (field < setting.low || field > setting.high) return OPOSSVC_E_BAD_PORT;
  }

  if (firstOpen) s.SimultaneousCom1234 = 0;
  if (!MergeFlag(reg, KC_SERVICEINFO_SUBKEY, "SimultaneousCom1234", firstOpen,
                 &s.SimultaneousCom1234)) {
    return OPOSSVC_E_BAD_PORT;
  }

  LONG shydra = 0;
  if (ReadDword(reg, device, "SHydra", &shydra) && shydra != 0) {
    s.Hydra = 0;
  } else {
    if (firstOpen) s.Hydra = 0;
    if (!MergeFlag(reg, device, "Hydra", firstOpen, &s.Hydra)) return OPOSSVC_E_BAD_PORT;
  }

  s.IdleSleep = ReadPause(reg, "IdleSleep", 10);
  s.InputSleep = ReadPause(reg, "InputSleep", 10);
  s.Timeout = 50;
  LONG timeout = 0;
  if (ReadDword(reg, device, "Timeout", &timeout)) s.Timeout = static_cast<DWORD>(timeout);

  *out = s;
  return 0;
}

}  // namespace opossvc::detail
