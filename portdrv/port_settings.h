// A port's settings as read from the registry, and the tables that turn the
// stored setting numbers into line parameters.
#ifndef OPOSSVC_PORTDRV_PORT_SETTINGS_H_
#define OPOSSVC_PORTDRV_PORT_SETTINGS_H_

#include <opossvc/win32/types.h>

namespace opossvc::detail {

inline constexpr int kBaudRateCount = 14;
inline constexpr int kMaxPortNameLength = 11;
// Ports COM1 to COM10.
inline constexpr LONG kPortCount = 10;

struct BaudRateEntry {
  DWORD bitsPerSecond;
  DWORD msPerByte;  // write total time-out multiplier
};

// Indexed by the stored setting; the caller checks the range.
const BaudRateEntry& BaudRateAt(LONG index);
BYTE DataBitsAt(LONG index);  // 0: 7, 1: 8
BYTE ParityAt(LONG index);    // DCB parity code: 0 none, 1 even, 2 odd, 3 mark, 4 space
BYTE StopBitsAt(LONG index);  // DCB stop-bits code: 0 and 1 one stop bit, 2 two

struct PortSettings {
  DWORD IdleSleep = 10;
  DWORD InputSleep = 10;
  DWORD Timeout = 50;
  LONG PortIndex = -1;
  char PortName[kMaxPortNameLength + 1] = {};
  LONG Baudrate = -1;
  LONG BitLength = -1;
  LONG Parity = -1;
  LONG Stop = -1;
  LONG HandShake = -1;
  LONG XonXoff = -1;
  LONG InputBuf = 0;
  LONG OutputBuf = 0;
  LONG SimultaneousCom1234 = 0;
  LONG Hydra = 0;
};

// One line setting of the device key: its name, its field, its absent
// marker and the lowest and highest value it may take. A first open needs
// every one of them.
struct LineSetting {
  const char* name;
  LONG PortSettings::*field;
  LONG absent;
  LONG low;
  LONG high;
};
inline constexpr int kLineSettingCount = 8;
extern const LineSetting kLineSettings[kLineSettingCount];

// Reads and checks the settings of `deviceName` ("<class>\<device>"). With
// `open` (the settings of the port already open) the device must name the
// same port, a setting it gives must equal the open port's and one it leaves
// out keeps the open port's; without, every line setting is required.
// Returns 0 with *out filled, OPOSSVC_E_BAD_PORT or OPOSSVC_E_PORT_CALL (no
// such device). *out is meaningful only on success.
long ReadPortSettings(const char* deviceName, const PortSettings* open, PortSettings* out);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PORTDRV_PORT_SETTINGS_H_
