// Port settings read from the registry: required values and their ranges, the configuration key
// and defaults.
#include "portdrv/port_settings.h"

#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include <opossvc/opos.h>

#include "tests/support/device_entry.h"

namespace opossvc::testing {
namespace {

using detail::PortSettings;
using detail::ReadPortSettings;

const char kDeviceKey[] = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter\\Printer1";

long Read(const PortSettings* open, PortSettings* out) {
  return ReadPortSettings("POSPrinter\\Printer1", open, out);
}

TEST(PortSettings, FirstOpenRefusals) {
  enum Change { kSet, kMissing, kAsString, kPortName };
  // The change, to what (the value's name, or the port name), its data, the result.
  std::tuple<Change, const char*, DWORD, long> cases[] = {
      {kSet, "InputBuf", 31, OPOSSVC_E_BAD_PORT},
      {kSet, "InputBuf", 32, 0},
      {kSet, "OutputBuf", 1, OPOSSVC_E_BAD_PORT},
      {kSet, "OutputBuf", 2, 0},
      {kSet, "InputBuf", 0xFFFFFFFFu, OPOSSVC_E_BAD_PORT},  // negative
      {kSet, "Baudrate", 14, OPOSSVC_E_BAD_PORT},
      {kSet, "Baudrate", 13, 0},
      {kSet, "HandShake", 5, OPOSSVC_E_BAD_PORT},
      {kMissing, "Stop", 0, OPOSSVC_E_BAD_PORT},
      {kAsString, "Baudrate", 0, OPOSSVC_E_BAD_PORT},
      {kPortName, "COM10", 0, 0},
      {kPortName, "COM11", 0, OPOSSVC_E_BAD_PORT},
      {kPortName, "LPT", 0, OPOSSVC_E_BAD_PORT},           // no number
      {kPortName, "SERIALPORT01", 0, OPOSSVC_E_BAD_PORT},  // 12 characters
      {kPortName, "SERIALPORT1", 0, 0},
  };
  for (const auto& [change, what, data, expected] : cases) {
    SCOPED_TRACE(::testing::Message() << change << " " << what << " " << data);
    TempRegistry registry;
    DeviceEntry entry;
    if (change == kSet) entry.values[what] = data;
    if (change == kMissing || change == kAsString) entry.values.erase(what);
    if (change == kPortName) entry.port = what;
    WriteDevice(registry, entry);
    if (change == kAsString) registry.SetString(HKEY_LOCAL_MACHINE, kDeviceKey, what, "6");
    PortSettings s;
    EXPECT_EQ(Read(nullptr, &s), expected);
  }
}

TEST(PortSettings, ConfigurationKeyAndPauses) {
  // A null PrimaryConfig: no such value.
  std::tuple<const char*, const char*, std::string, bool, DWORD, DWORD, LONG> cases[] = {
      {"default configuration", nullptr, "VANTA1.6", false, 7, 3, 1},
      {"empty PrimaryConfig", "", "VANTA1.6", false, 7, 3, 1},
      {"named configuration", "Store2", "Store2", false, 7, 3, 1},
      {"configuration key wins over the device", nullptr, "VANTA1.6", true, 7, 3, 1},
      {"configuration not found: defaults", "Missing", "VANTA1.6", false, 10, 10, 0},
  };
  for (const auto& [what, primary, configuration, deviceIdle, idle, input, simultaneous] : cases) {
    SCOPED_TRACE(what);
    TempRegistry registry;
    DeviceEntry entry;
    if (deviceIdle) entry.values["IdleSleep"] = 99;
    entry.values.erase("Timeout");
    WriteDevice(registry, entry);
    WriteConfig(registry, {{"IdleSleep", 7}, {"InputSleep", 3}, {"SimultaneousCom1234", 2}},
                configuration);
    if (primary != nullptr) {
      registry.SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\OLEforRetail\\ServiceInfo\\VANTA QUILLON",
                         "PrimaryConfig", primary);
    }
    PortSettings s;
    ASSERT_EQ(Read(nullptr, &s), 0);
    EXPECT_EQ(std::tuple(s.IdleSleep, s.InputSleep, s.SimultaneousCom1234, s.Timeout),
              std::tuple(idle, input, simultaneous, 50u));
  }
}

}  // namespace
}  // namespace opossvc::testing
