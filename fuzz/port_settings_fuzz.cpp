// The driver's settings read from arbitrary registry contents: values of
// any type and size under the setting names, for a first open and for a
// device joining an open port. Accepted settings always index the tables
// and name a port COM1 to COM10; anything else is refused with a code.
#include <cstdint>
#include <cstring>
#include <string>

#include <opossvc/opos.h>
#include <opossvc/registry.h>
#include <opossvc/win32/registry.h>

#include "fuzz/fuzz_support.h"
#include "portdrv/port_settings.h"

namespace {

using opossvc::detail::kBaudRateCount;
using opossvc::detail::PortSettings;
using opossvc::detail::ReadPortSettings;
using opossvc::fuzz::Check;
using opossvc::fuzz::InputReader;
using opossvc::fuzz::Store;

constexpr const char* kNames[] = {
    "Port",     "Baudrate",  "BitLength", "Parity", "Stop",
    "HandShake", "XonXoff",  "InputBuf",  "OutputBuf", "Timeout",
    "Hydra",    "SHydra",    "IdleSleep", "InputSleep", "SimultaneousCom1234",
};
constexpr DWORD kTypes[] = {REG_DWORD, REG_SZ, REG_BINARY, REG_EXPAND_SZ, REG_MULTI_SZ, REG_NONE};
constexpr const char* kDevice = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter\\Fuzz";
constexpr const char* kConfig = "SOFTWARE\\OLEforRetail\\ServiceInfo\\VANTA QUILLON\\VANTA1.6";

// A sound first device, so that the joining read has an open port to match.
void SeedOpenPort(PortSettings* open) {
  static PortSettings settings;
  static const bool seeded = [] {
    auto& store = Store();
    const std::string key = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter\\Base";
    store.SetString(HKEY_LOCAL_MACHINE, key, "Port", "COM2");
    const char* names[] = {"Baudrate", "BitLength", "Parity", "Stop", "HandShake",
                           "XonXoff", "InputBuf", "OutputBuf"};
    const DWORD values[] = {6, 1, 0, 0, 0, 0, 1024, 512};
    for (int i = 0; i < 8; ++i) store.SetDword(HKEY_LOCAL_MACHINE, key, names[i], values[i]);
    Check(ReadPortSettings("POSPrinter\\Base", nullptr, &settings) == 0, "seed settings");
    return true;
  }();
  (void)seeded;
  *open = settings;
}

void CheckAccepted(const PortSettings& s) {
  Check(s.Baudrate >= 0 && s.Baudrate < kBaudRateCount, "baud rate index");
  Check(s.BitLength >= 0 && s.BitLength <= 1, "bit length");
  Check(s.Parity >= 0 && s.Parity <= 4, "parity");
  Check(s.Stop >= 0 && s.Stop <= 2, "stop bits");
  Check(s.HandShake >= 0 && s.HandShake <= 4, "handshake");
  Check(s.XonXoff >= 0 && s.XonXoff <= 1, "xon/xoff");
  Check(s.PortIndex >= 0 && s.PortIndex < opossvc::detail::kPortCount, "port index");
  Check(std::memchr(s.PortName, '\0', sizeof(s.PortName)) != nullptr, "port name terminated");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PortSettings open;
  SeedOpenPort(&open);
  auto& store = Store();
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, kDevice);
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, kConfig);
  store.CreateKey(HKEY_LOCAL_MACHINE, kDevice);

  InputReader input(data, size);
  while (input.remaining() > 0) {
    const uint8_t selector = input.Byte();
    const char* name = kNames[selector % (sizeof(kNames) / sizeof(kNames[0]))];
    const DWORD type = kTypes[(selector >> 4) % (sizeof(kTypes) / sizeof(kTypes[0]))];
    const std::string bytes = input.Bytes(64);
    const char* key = (selector & 0x80) != 0 && selector % 15 >= 12 ? kConfig : kDevice;
    store.SetValue(HKEY_LOCAL_MACHINE, key, name, type, bytes);
  }

  PortSettings first;
  const long result = ReadPortSettings("POSPrinter\\Fuzz", nullptr, &first);
  Check(result == 0 || result == OPOSSVC_E_BAD_PORT || result == OPOSSVC_E_PORT_CALL,
        "first read result");
  if (result == 0) CheckAccepted(first);

  PortSettings joined;
  const long joined_result = ReadPortSettings("POSPrinter\\Fuzz", &open, &joined);
  Check(joined_result == 0 || joined_result == OPOSSVC_E_BAD_PORT ||
            joined_result == OPOSSVC_E_PORT_CALL,
        "joining read result");
  if (joined_result == 0) {
    CheckAccepted(joined);
    Check(joined.PortIndex == open.PortIndex && joined.Baudrate == open.Baudrate,
          "joined a different port or rate");
  }
  return 0;
}
