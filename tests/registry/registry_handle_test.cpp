// Opening, reusing, retargeting and closing the object's keys.
#include "tests/registry/registry_fixture.h"

namespace opossvc::registry_info_test {
namespace {

using RegistryHandle = RegistryInfoTest;

TEST_F(RegistryHandle, TheCreateFlagDecidesWhetherKeysAreMadeAndWritten) {
  CRegistryInfo reader;
  EXPECT_EQ(reader.Open(KC_OLEFORRETAIL, FALSE), FALSE);
  EXPECT_FALSE(registry_.KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\OLEforRetail"));
  // Without the flag a partial path stays as it was.
  MakeKey(Device("POSPrinter", "Sub"));
  EXPECT_EQ(reader.Open("Sub\\Deeper\\Dev", KC_POSPRINTER, FALSE), FALSE);
  EXPECT_FALSE(Exists(Device("POSPrinter", "Sub\\Deeper")));
  EXPECT_EQ(reader.Open("ServiceInfo\\Missing\\Config", 0, FALSE), FALSE);
  EXPECT_FALSE(Exists("ServiceInfo\\Missing"));

  CRegistryInfo writer;
  // No sub-key name is held, so that level fails; the others are made.
  EXPECT_EQ(writer.Open(0xFFFFF000ul, TRUE), FALSE);
  EXPECT_EQ(Access::OpenKeys(writer), KC_OLEFORRETAIL | KC_SERVICEOPOS | KC_SERVICEINFO);
  EXPECT_TRUE(Exists("ServiceInfo"));
  EXPECT_EQ(writer.Open(KC_POSPRINTER, TRUE), TRUE);
  EXPECT_TRUE(Exists("ServiceOPOS\\POSPrinter"));
  EXPECT_EQ(writer.Open("Sub\\Deeper\\Dev", KC_POSPRINTER, TRUE), TRUE);
  EXPECT_TRUE(Exists(Device("POSPrinter", "Sub\\Deeper\\Dev")));

  // A key held for reading is reused by a read open and reopened by a write open; Close forgets
  // the write rights.
  CRegistryInfo info(KC_SERVICEOPOS, FALSE);
  const HKEY first = Access::Handle(info, KC_SERVICEOPOS);
  ASSERT_NE(first, nullptr);
  ASSERT_EQ(info.Open(KC_SERVICEOPOS, FALSE), TRUE);
  EXPECT_EQ(Access::Handle(info, KC_SERVICEOPOS), first);
  const BYTE byte = 1;
  EXPECT_EQ(RegSetValueExA(first, "x", 0, REG_BINARY, &byte, 1), ERROR_ACCESS_DENIED);
  ASSERT_EQ(info.Open(KC_SERVICEOPOS, TRUE), TRUE);
  EXPECT_EQ(RegSetValueExA(Access::Handle(info, KC_SERVICEOPOS), "x", 0, REG_BINARY, &byte, 1),
            ERROR_SUCCESS);

  ASSERT_EQ(info.SetDWORD(KC_SERVICEOPOS, "n", 1), TRUE);
  info.Close(TRUE);
  EXPECT_EQ(Access::OpenKeys(info), 0u);
  EXPECT_EQ(info.SetDWORD(KC_SERVICEOPOS, "n", 2), FALSE);
  ASSERT_EQ(info.Open(KC_SERVICEOPOS, FALSE), TRUE);
  EXPECT_EQ(info.SetDWORD(KC_SERVICEOPOS, "n", 2), FALSE);
  EXPECT_EQ(ValueOf("ServiceOPOS", "n"), std::string("\1\0\0\0", 4));

  // Keys held for writing that another handle deleted are made again by the next write open.
  CRegistryInfo holder(KC_POSPRINTER, TRUE);
  ClearDatabase();
  ASSERT_EQ(holder.Open(KC_POSPRINTER, TRUE), TRUE);
  EXPECT_EQ(holder.SetDWORD(KC_POSPRINTER, "n", 3), TRUE);
  EXPECT_EQ(ValueOf("ServiceOPOS\\POSPrinter", "n"), std::string("\3\0\0\0", 4));
}

TEST_F(RegistryHandle, NamesTakeTheRegistrysLetterCase) {
  MakeKey(Device("POSPrinter", "Sub\\Dev1"));
  MakeKey("ServiceInfo\\VANTA QUILLON\\VANTA1.6");
  const std::pair<const char*, unsigned long> devices[] = {{"SUB\\dev1", KC_POSPRINTER},
                                                           {"posprinter\\sub\\DEV1", 0}};
  for (const auto& [text, code] : devices) {
    for (int create : {FALSE, TRUE}) {
      CRegistryInfo info;
      ASSERT_EQ(info.Open(text, code, create), TRUE) << text;
      EXPECT_STREQ(Access::Device(info), "Sub\\Dev1");
      EXPECT_STREQ(info.m_strDeviceID, "POSPrinter\\Sub\\Dev1");
    }
  }
  CRegistryInfo info("vanta quillon\\vanta1.6", KC_SERVICEINFO_SUBKEY, FALSE);
  EXPECT_STREQ(Access::ServiceInfo(info), "VANTA QUILLON\\VANTA1.6");
  EXPECT_NE(Access::Handle(info, KC_SERVICEINFO_SUBKEY), nullptr);
}

// A failed open must not report success by reopening the previous device,
// nor reach a device of another class through the held name.
TEST_F(RegistryHandle, FailedOpensDoNotFallBackToTheHeldDevice) {
  MakeKey(Device("POSPrinter", "A"));
  CRegistryInfo info("POSPrinter\\A", 0, TRUE);
  ASSERT_EQ(info.m_dwDevKey, 0x140u);
  EXPECT_EQ(info.Open("A", 19, TRUE), FALSE);
  EXPECT_EQ(info.Open("", KC_POSPRINTER, TRUE), FALSE);
  EXPECT_EQ(info.Open("A", KC_SERVICEOPOS, TRUE), FALSE);
  EXPECT_EQ(info.Open(0x0C0, TRUE), FALSE);
  EXPECT_FALSE(Exists(Device("LineDisplay", "A")));
  // The held device is still there to reopen by its own code.
  EXPECT_EQ(info.Open(0x140, TRUE), TRUE);
  EXPECT_EQ(info.m_dwDevKey, 0x140u);
}

}  // namespace
}  // namespace opossvc::registry_info_test
