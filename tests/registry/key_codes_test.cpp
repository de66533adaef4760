// Key codes <-> key texts and ConvDevCls.
#include <string>

#include "tests/registry/registry_fixture.h"

namespace opossvc::registry_info_test {
namespace {

using KeyCodes = RegistryInfoTest;

TEST_F(KeyCodes, EveryClassAndFixedCodeConvertsBothWays) {
  CRegistryInfo info;
  EXPECT_STREQ(info.ConvKey(1ul), "CashDrawer");
  EXPECT_STREQ(info.ConvKey(18ul), "RemoteOrderDisplay");
  for (DWORD index = 1; index <= 18; ++index) {
    SCOPED_TRACE(index);
    const std::string name(info.ConvKey(static_cast<unsigned long>(index)));
    ASSERT_FALSE(name.empty());
    EXPECT_EQ(info.ConvKey(name.c_str()), index);
    EXPECT_EQ(info.ConvDevCls(index), index << 5);
    EXPECT_EQ(info.ConvDevCls(index << 5), index);
    // A device code names a key only while the object holds that device.
    EXPECT_STREQ(info.ConvKey(static_cast<unsigned long>(index << 5)), "");
  }
  for (unsigned long mixed : {0x14Aul, 0x400ul, 0ul}) EXPECT_EQ(info.ConvDevCls(mixed), 0u);
  EXPECT_EQ(info.ConvDevCls(0x100000140ul), 10u) << "only the low 32 bits count";
  // The fixed codes' texts, and codes and texts that name nothing.
  const std::pair<const char*, unsigned long> texts[] = {
      {"allclasses", KC_SERVICEOPOS},
      {"software\\oleforretail", KC_OLEFORRETAIL},
      {"ServiceOPOS\\POSPrinter", 0},
      {"ServiceInfo\\VANTA QUILLON", 0},  // no sub-key held
      {"POSPrinter\\", 0},
      {"", 0}};
  for (const auto& [text, code] : texts) EXPECT_EQ(info.ConvKey(text), code) << text;
  EXPECT_EQ(info.ConvKey(static_cast<const char*>(nullptr)), 0u);
  for (unsigned long code : {0ul, 19ul, 0x3000ul, 0x400ul, 0x8000ul, 0x140ul}) {
    EXPECT_STREQ(info.ConvKey(code), "") << std::hex << code;
  }
}

// Texts depend on the held device and sub-key; device paths are looked up in the registry.
TEST_F(KeyCodes, TextsOfTheHeldDeviceAndSubKeyAndDevicePaths) {
  CRegistryInfo info;
  Access::HoldDevice(info, 0x140, "Dev1", "");
  EXPECT_STREQ(info.ConvKey(KC_CURRENT_DEVICE), "POSPrinter\\Dev1");
  Access::HoldDevice(info, 0x140, "", "");
  EXPECT_STREQ(info.ConvKey(0x140ul), "") << "\"POSPrinter\\\" alone would name the class key";
  Access::HoldServiceInfo(info, "VANTA QUILLON");
  EXPECT_STREQ(info.ConvKey(KC_SERVICEINFO_SUBKEY), "ServiceInfo\\VANTA QUILLON");
  EXPECT_EQ(info.ConvKey("ServiceInfo\\vanta quillon"), KC_SERVICEINFO_SUBKEY);
  EXPECT_EQ(info.ConvKey("ServiceInfo\\Other"), 0u);
  // The held device is recognised without the registry (no keys exist).
  Access::HoldDevice(info, 0x140, "Dev1", "POSPrinter\\Dev1");
  EXPECT_EQ(info.ConvKey("posprinter\\DEV1"), 0x140u);

  // Device paths are looked up in the registry without changing the object.
  MakeKey(Device("POSPrinter", "Dev1"));
  MakeString("ServiceOPOS\\POSPrinter", "Front", "Dev1");
  MakeKey(Device("POSPrinter", "POSPrinterX"));
  CRegistryInfo reader(KC_SERVICEOPOS, FALSE);
  const DWORD open_before = Access::OpenKeys(reader);
  EXPECT_EQ(reader.ConvKey("POSPrinter\\Dev1"), 0x140u);
  EXPECT_EQ(reader.ConvKey("POSPrinter\\front"), 0x140u);
  EXPECT_EQ(reader.ConvKey("Scanner\\Dev1"), 0u);
  EXPECT_EQ(reader.ConvKey("POSPrinterX"), 0u);
  EXPECT_EQ(reader.m_dwDevKey, 0u);
  EXPECT_STREQ(Access::Device(reader), "");
  EXPECT_EQ(Access::OpenKeys(reader), open_before);
}

}  // namespace
}  // namespace opossvc::registry_info_test
