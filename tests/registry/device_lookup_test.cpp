// Device lookup: logical names, the entry's values, the cache and the
// create flag.
#include <string>
#include <utility>
#include <vector>

#include "tests/registry/registry_fixture.h"

namespace opossvc::registry_info_test {
namespace {

using DeviceLookup = RegistryInfoTest;

TEST_F(DeviceLookup, LogicalNameChainsEndAtADeviceOrNowhere) {
  using Names = std::vector<std::pair<const char*, const char*>>;  // value name -> data
  const struct {
    const char* title;
    Names names;
    const char* asked;
    const char* found;  // "" for none
    DWORD type = REG_SZ;
  } cases[] = {
      {"device key", {}, "Dev1", "Dev1"},
      {"letter case of the key", {}, "dev1", "Dev1"},
      {"logical name in other case", {{"Front", "DEV1"}}, "FRONT", "Dev1"},
      {"chain", {{"A", "B"}, {"B", "C"}, {"C", "Dev1"}}, "A", "Dev1"},
      {"device key wins over a value", {{"Dev1", "Other"}}, "Dev1", "Dev1"},
      {"names a missing device", {{"Front", "Gone"}}, "Front", ""},
      {"two names in a loop", {{"A", "B"}, {"B", "A"}}, "A", ""},
      {"empty data", {{"A", ""}}, "A", ""},
      {"a name of another type", {{"Front", "Dev1"}}, "Front", "", REG_EXPAND_SZ},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.title);
    ClearDatabase();
    MakeKey(Device("POSPrinter", "Dev1"));
    MakeKey(Device("POSPrinter", "Other"));
    for (const auto& [name, data] : row.names) {
      MakeValue("ServiceOPOS\\POSPrinter", name, row.type, std::string(data) + '\0');
    }
    CRegistryInfo info;
    const bool expect_found = *row.found != '\0';
    EXPECT_EQ(info.GetDeviceInfo(row.asked, KC_POSPRINTER), expect_found ? TRUE : FALSE);
    EXPECT_STREQ(info.m_strDeviceID,
                 expect_found ? (std::string("POSPrinter\\") + row.found).c_str() : "");
    EXPECT_STREQ(info.FindDevice(row.asked, KC_POSPRINTER), row.found);
  }
  // A long chain is followed a step per name: the device at its end is found, and a loop back
  // into it is noticed.
  ClearDatabase();
  constexpr int kNames = 3000;
  const std::string cls = "ServiceOPOS\\POSPrinter";
  MakeKey(Device("POSPrinter", "Dev1"));
  for (int i = 0; i < kNames; ++i) {
    MakeString(cls, "L" + std::to_string(i), i + 1 < kNames ? "l" + std::to_string(i + 1) : "Dev1");
  }
  EXPECT_STREQ(CRegistryInfo().FindDevice("L0", KC_POSPRINTER), "Dev1");
  MakeString(cls, "L" + std::to_string(kNames - 1), "L1");  // back into the chain, past its start
  EXPECT_STREQ(CRegistryInfo().FindDevice("L0", KC_POSPRINTER), "");
}

// The port and service-object names as the entry's values give them.
TEST_F(DeviceLookup, PortAndServiceObjectNames) {
  // The port, its name and number as read, the default value and SOName (null: absent), and the
  // service object named.
  const std::tuple<const char*, const char*, DWORD, const char*, const char*, const char*> cases[] =
      {
          {"COM010", "COM010", 8, nullptr, nullptr, "S1"},  // numbers read as strtoul reads them
          {"COM0x1F", "COM0x1F", 31, "", nullptr, "S1"},
          {"COM99999999999", "COM99999999999", 0xFFFFFFFFu, "Svc.Default", nullptr, "Svc.Default"},
          {"COM3", "COM3", 3, "Svc.Default", "Svc.Named", "Svc.Named"},
          {"USB", "USB", 0, "Svc.Default", "", ""},  // SOName wins even empty
      };
  const std::string key = Device("Scanner", "S1");
  for (const auto& [port, port_name, number, default_value, so_name, service_object] : cases) {
    SCOPED_TRACE(port);
    ClearDatabase();
    MakeString(key, "Port", port);
    if (default_value) MakeString(key, "", default_value);
    if (so_name) MakeString(key, "SOName", so_name);
    CRegistryInfo info;
    EXPECT_STREQ(info.GetPortName("Scanner\\S1", 0), port_name);
    EXPECT_EQ(info.GetPortNo("S1", KC_SCANNER), number);
    EXPECT_STREQ(info.GetSOName("S1", KC_SCANNER), service_object);
  }
}

// A found device is answered from the object, the entry's values as read
// then; FindDevice does not replace it.
TEST_F(DeviceLookup, AFoundDeviceIsAnsweredFromTheObject) {
  const std::string key = Device("POSPrinter", "Dev1");
  const std::tuple<const char*, const char*, CString (CRegistryInfo::*)(const char*, unsigned long)>
      fields[] = {{"Service", "svc.so", &CRegistryInfo::GetSOFile},
                  {"Description", "A printer", &CRegistryInfo::GetSODesc},
                  {"Version", "1.2.3", &CRegistryInfo::GetSOVersion}};
  for (const auto& [name, data, get] : fields) MakeString(key, name, data);
  MakeValue(key, "Port", REG_DWORD, std::string("\1\0\0\0", 4));  // not a string: empty
  MakeString(key, "DeviceName", "Before");
  MakeString(Device("POSPrinter", "Dev2"), "DeviceName", "Two");
  CRegistryInfo info;
  ASSERT_EQ(info.GetDeviceInfo("Dev1", KC_POSPRINTER), TRUE);
  for (const auto& [name, data, get] : fields) EXPECT_STREQ((info.*get)(nullptr, 0), data);
  EXPECT_STREQ(info.GetPortName(nullptr, 0), "");
  MakeString(key, "DeviceName", "After");
  EXPECT_STREQ(info.GetDeviceName("dev1", KC_POSPRINTER), "Before");
  EXPECT_STREQ(info.FindDevice("dev2", KC_POSPRINTER), "Dev2");
  EXPECT_STREQ(Access::Device(info), "Dev1");
  EXPECT_STREQ(info.m_strDeviceName, "Before");
  CRegistryInfo fresh;
  EXPECT_STREQ(fresh.GetDeviceName("dev1", KC_POSPRINTER), "After");
  // Names the registry tells apart are two devices to the object too.
  MakeString(Device("POSPrinter", "Ma\xC3\x9F\x65"), "DeviceName", "Sharp s");  // Maße
  MakeString(Device("POSPrinter", "MASSE"), "DeviceName", "Double s");
  EXPECT_STREQ(info.GetDeviceName("ma\xC3\x9F\x65", KC_POSPRINTER), "Sharp s");
  EXPECT_STREQ(info.GetDeviceName("masse", KC_POSPRINTER), "Double s");
}

TEST_F(DeviceLookup, EarlyFailuresKeepThePreviousDevice) {
  MakeString(Device("POSPrinter", "Dev1"), "DeviceName", "Printer");
  CRegistryInfo info;
  ASSERT_EQ(info.GetDeviceInfo("Dev1", KC_POSPRINTER), TRUE);
  const std::pair<const char*, unsigned long> failures[] = {
      {"", KC_POSPRINTER},  {"Dev1", 0},
      {"Dev1", 19},         {"Scanner\\Dev1", KC_POSPRINTER},
      {"Dev1", KC_SCANNER}, {"ServiceOPOS\\POSPrinter\\Dev1", 0}};
  for (const auto& [text, code] : failures) {
    SCOPED_TRACE(text);
    EXPECT_EQ(info.GetDeviceInfo(text, code), FALSE);
    EXPECT_EQ(info.m_dwDevKey, 0x140u);
    EXPECT_STREQ(info.m_strDeviceName, "Printer");
  }
  // A lookup that reaches an existing class and finds nothing forgets it.
  EXPECT_EQ(info.GetDeviceInfo("Nobody", KC_POSPRINTER), FALSE);
  EXPECT_EQ(info.m_dwDevKey, 0u);
  EXPECT_STREQ(info.m_strDeviceName, "");
  EXPECT_EQ(info.GetDeviceInfo(nullptr, 0), FALSE);
}

}  // namespace
}  // namespace opossvc::registry_info_test
