// Serial devices of this machine and their COM names in the SERIALCOMM map
// (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM: value name = device path, data =
// "COMn"), through which the library opens "COMn".
#ifndef OPOSSVC_TOOLS_OPOSREG_SERIAL_PORTS_H_
#define OPOSSVC_TOOLS_OPOSREG_SERIAL_PORTS_H_

#include <string>
#include <vector>

#include <opossvc/win32/types.h>

namespace opossvc::oposreg {

inline constexpr char kSerialCommKey[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

struct SerialDevice {
  // What the map records: the /dev/serial/by-id link when there is one (it
  // names the adapter, not the order in which it was plugged in), else the
  // /dev/serial/by-path link (the socket it is plugged into), else the
  // device node.
  std::string path;
  std::string node;    // the device node itself, "/dev/ttyUSB0"
  int preferred = 0;   // ttyS<n>: n + 1, the number it has unmapped; else 0
  std::vector<std::string> links;  // every by-id and by-path link to the node
};

struct MapEntry {
  std::string path;  // value name
  int number = 0;    // n of "COMn"
};

struct ComAssignment {
  std::string path;
  int number = 0;
  bool is_new = false;   // not in the map yet
  bool present = false;  // the device exists now
};

// Finds ttyS (those with a UART behind them), ttyUSB, ttyACM, ttyAMA,
// ttyXRUSB and rfcomm devices in `dev_dir` and the links of
// `dev_dir`/serial/by-id and by-path, sorted by path. Identical adapters
// without serial numbers share one by-id name, which udev gives to only one
// of them: when a device has a by-path link but no by-id link, every device
// with a by-path link is named by it, since by-id no longer tells them apart.
std::vector<SerialDevice> FindSerialDevices(const std::string& dev_dir);

// Whether the ttyS node has a UART behind it (the kernel makes ttyS nodes
// for UARTs that may not be there).
bool HasUart(const std::string& node);

// Gives every device a COM number. A device already in the map (by its path,
// its node or one of its links) keeps its number; ttyS<n> gets n + 1 when that is free; the
// others get the lowest free numbers in order. Entries of devices that are
// not present are kept and listed too, so that a name survives an unplugged
// adapter. Sorted by number.
std::vector<ComAssignment> AssignComNames(const std::vector<MapEntry>& map,
                                          const std::vector<SerialDevice>& devices);

// n of "COMn" (any letter case, 1..255), else 0.
int ParseComNumber(const std::string& text);

// The map as it stands, in the store's order (entries whose data is no COM
// name left out); a missing key is an empty map.
LONG ReadComMap(std::vector<MapEntry>* map);

// The device that "COMn" opens by the map: the first entry for n, a relative
// path taken below /dev; "" when the map has none.
std::string MappedPath(const std::vector<MapEntry>& map, int number);

}  // namespace opossvc::oposreg

#endif  // OPOSSVC_TOOLS_OPOSREG_SERIAL_PORTS_H_
