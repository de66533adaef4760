#include <optional>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include <opossvc/svcbase.h>
#include <opossvc/testing/recording_control_object.h>
#include <opossvc/testing/temp_registry.h>

#include "tests/svcbase/svcbase_test_support.h"

namespace {

using opossvc::testing::RecordingControlObject;
using opossvc::testing::TempRegistry;
using opossvc::testing::Variant;
using svcbase_test::TestServiceObject;

const std::string kServiceOpos = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\";
const std::string kMaker = "SOFTWARE\\OLEforRetail\\ServiceInfo\\VANTA QUILLON";
const std::string kDefaultConfig = kMaker + "\\VANTA1.6";

void SeedDevice(TempRegistry& reg, const std::string& cls, const std::string& dev,
                std::optional<std::string> port, const std::string& desc = "A printer") {
  std::string key = kServiceOpos + cls + "\\" + dev;
  ASSERT_EQ(reg.SetString(HKEY_LOCAL_MACHINE, key, "DeviceName", dev + " name"), ERROR_SUCCESS);
  ASSERT_EQ(reg.SetString(HKEY_LOCAL_MACHINE, key, "DeviceDesc", desc), ERROR_SUCCESS);
  if (port) {
    ASSERT_EQ(reg.SetString(HKEY_LOCAL_MACHINE, key, "Port", *port), ERROR_SUCCESS);
  }
}

TEST(OpenInitTest, PortForms) {
  constexpr LONG kBad = OPOSSVC_E_BAD_PORT;
  // The "Port" value (none: no value), the extended result (0: accepted), the port number.
  const std::tuple<std::optional<std::string>, LONG, LONG> cases[] = {
      {"COM1", 0, 1},        {"COM11", kBad, 11}, {"COM0", kBad, 0},       {"com2", 0, 2},
      {"\\\\.\\COM3", 0, 3}, {"LPT4", kBad, 4},   {"USB1000", 0, 1000},    {"USB1001", kBad, 1001},
      {"KBD7", 0, 7},        {"ht3", 0, 3},       {"NETPRN", 0, 1},        {"net1", kBad, 0},
      {"KEYBOARD", kBad, 0}, {"PRN1", kBad, 1},   {std::nullopt, kBad, 0},
  };
  for (const auto& [port, extended, port_number] : cases) {
    SCOPED_TRACE(port ? "port \"" + *port + "\"" : "no port value");
    TempRegistry reg;
    SeedDevice(reg, "POSPrinter", "Dev1", port);
    TestServiceObject so;
    long rc = so.OpenInit("POSPrinter", "Dev1", nullptr, 0, FALSE);
    EXPECT_EQ(rc, extended ? OPOS_E_ILLEGAL : OPOS_SUCCESS);
    EXPECT_EQ(so.m_lResultCode, rc);
    EXPECT_EQ(so.m_lResultCodeExtended, extended);
    EXPECT_EQ(so.m_lPortNumber, port_number);
    EXPECT_EQ(so.m_bOpened, 0);
  }
}

// The lookup itself (letter case, logical names) is the registry's; here what
// the open takes from it.
TEST(OpenInitTest, DeviceLookup) {
  TempRegistry reg;
  SeedDevice(reg, "POSPrinter", "Dev1", "COM1");
  SeedDevice(reg, "Scanner", "NoDesc", "COM2", "");
  ASSERT_EQ(reg.SetString(HKEY_LOCAL_MACHINE, kServiceOpos + "POSPrinter", "Front", "Dev1"),
            ERROR_SUCCESS);
  const std::tuple<const char*, const char*, LONG, const char*, const char*, const char*> cases[] =
      {
          {"POSPrinter", "Front", 0, "POSPrinter\\Dev1", "Dev1 name", "A printer"},
          {"Scanner", "NoDesc", 0, "Scanner\\NoDesc", "NoDesc name", "NoDesc name"},
          {"NoSuchClass", "Dev1", OPOSSVC_E_BAD_PORT, "", "", ""},
          {nullptr, nullptr, OPOSSVC_E_BAD_PORT, "", "", ""},
      };
  for (const auto& [cls, dev, extended, id, device_name, description] : cases) {
    SCOPED_TRACE(std::string(cls ? cls : "(null)") + "/" + (dev ? dev : "(null)"));
    TestServiceObject so;
    so.m_strDeviceName = "stale";
    EXPECT_EQ(so.OpenInit(cls, dev, nullptr, 0, FALSE), extended ? OPOS_E_ILLEGAL : 0);
    EXPECT_EQ(so.m_lResultCodeExtended, extended);
    EXPECT_STREQ(so.m_strDeviceID, id);
    EXPECT_STREQ(so.m_strDeviceName, device_name);
    EXPECT_STREQ(so.m_strDeviceDescription, description);
  }
  // A failed lookup creates nothing.
  EXPECT_FALSE(reg.KeyExists(HKEY_LOCAL_MACHINE, kServiceOpos + "NoSuchClass"));
  EXPECT_FALSE(reg.KeyExists(HKEY_LOCAL_MACHINE, kDefaultConfig));
}

// Settings are read from the configuration that PrimaryConfig names (the
// default one when it is missing or empty), IdleSleep also from the device.
TEST(OpenInitTest, MakerSettings) {
  const std::string& kDefault = kDefaultConfig;
  const std::string kAlt = kMaker + "\\Alt";
  const struct {
    const char* name;
    std::optional<std::string> primary;  // "PrimaryConfig"
    std::string config;                  // key the settings are written to
    std::optional<DWORD> idle, device_idle, peek, remove_keys, auto_special;
    LONG extended;
    DWORD want_idle, want_first, want_last;
    LONG want_remove, want_special;
  } cases[] = {
      {"default configuration", {}, kDefault, 25, {}, 0x01000010, 1, 1, 0, 25, 0x10, 0x100, 1, 1},
      {"empty PrimaryConfig", "", kDefault, 30, {}, {}, {}, {}, 0, 30, 0, 0, 0, 0},
      {"PrimaryConfig names the sub-key", "Alt", kAlt, 40, {}, 0x02000200, {}, {}, 0, 40, 0x200,
       0x200, 0, 0},
      {"PrimaryConfig elsewhere ignores the default", "Alt", kDefault, 40, {}, 1, {}, {}, 0, 0, 0,
       0, 0, 0},
      {"IdleSleep from the device key", {}, kDefault, {}, 15, {}, {}, {}, 0, 15, 0, 0, 0, 0},
      {"configuration IdleSleep wins", {}, kDefault, 5, 15, {}, {}, {}, 0, 5, 0, 0, 0, 0},
      {"inverted peek range", {}, kDefault, {}, {}, 0x00100100, 1, 1, OPOSSVC_E_PEEK_RANGE, 0, 0,
       0, 0, 1},
      {"RemoveKeyMessage without a peek range", {}, kDefault, {}, {}, {}, 1, {}, 0, 0, 0, 0, 0, 0},
  };
  const HKEY hklm = HKEY_LOCAL_MACHINE;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempRegistry reg;
    SeedDevice(reg, "POSPrinter", "Dev1", "COM1");
    ASSERT_EQ(reg.CreateKey(hklm, kDefaultConfig), ERROR_SUCCESS);
    if (c.primary) reg.SetString(hklm, kMaker, "PrimaryConfig", *c.primary);
    if (c.idle) reg.SetDword(hklm, c.config, "IdleSleep", *c.idle);
    if (c.device_idle) {
      reg.SetDword(hklm, kServiceOpos + "POSPrinter\\Dev1", "IdleSleep", *c.device_idle);
    }
    if (c.peek) reg.SetDword(hklm, c.config, "PeekRange", *c.peek);
    if (c.remove_keys) reg.SetDword(hklm, c.config, "RemoveKeyMessage", *c.remove_keys);
    if (c.auto_special) reg.SetDword(hklm, c.config, "AutoDisableSpecial", *c.auto_special);
    TestServiceObject so;
    so.m_nPeekFirst = so.m_nPeekLast = 7;  // must not survive
    EXPECT_EQ(so.OpenInit("POSPrinter", "Dev1", nullptr, 0, TRUE),
              c.extended ? OPOS_E_ILLEGAL : OPOS_SUCCESS);
    EXPECT_EQ(so.m_lResultCodeExtended, c.extended);
    EXPECT_EQ(so.m_dwIdleSleep, c.want_idle);
    EXPECT_EQ(so.m_nPeekFirst, c.want_first);
    EXPECT_EQ(so.m_nPeekLast, c.want_last);
    EXPECT_EQ(so.m_bRemoveKeyMessage, c.want_remove);
    EXPECT_EQ(so.m_bAutoDisableSpecial, c.want_special);
    EXPECT_EQ(so.m_bDirectIOAlways, TRUE);
  }
}

// An object already open is refused and left as it was; a bad port stops
// before the maker's settings are read; a failing description read raises
// without reporting success, before the event methods are looked up.
TEST(OpenInitTest, FailuresStopBeforeTheLaterSteps) {
  TempRegistry reg;
  SeedDevice(reg, "POSPrinter", "Dev1", "COM99");
  reg.SetDword(HKEY_LOCAL_MACHINE, kDefaultConfig, "PeekRange", 0x04000400);
  TestServiceObject open;
  open.m_bOpened = 1;
  open.m_lPortNumber = 42;
  EXPECT_EQ(open.OpenInit("POSPrinter", "Dev1", nullptr, 0, TRUE), OPOS_E_ILLEGAL);
  EXPECT_EQ(open.m_lResultCodeExtended, OPOSSVC_E_ALREADY_OPEN);
  EXPECT_EQ(open.m_lPortNumber, 42);
  EXPECT_EQ(open.m_bOpened, 1);

  TestServiceObject so;
  so.m_nPeekFirst = 5;
  EXPECT_EQ(so.OpenInit("POSPrinter", "Dev1", nullptr, 0, FALSE), OPOS_E_ILLEGAL);
  EXPECT_EQ(so.m_lResultCodeExtended, OPOSSVC_E_BAD_PORT);
  EXPECT_EQ(so.m_nPeekFirst, 0u);
  EXPECT_EQ(so.m_nPeekLast, 0u);

  SeedDevice(reg, "Scanner", "S1", "COM2");
  RecordingControlObject co;
  co.FailMember("ControlObjectDescription", E_FAIL);
  TestServiceObject raising;
  EXPECT_NE(opossvc::test::Thrown([&] { raising.OpenInit("Scanner", "S1", &co, 0x1F, FALSE); }),
            "none");
  EXPECT_EQ(raising.m_lResultCode, OPOS_E_FAILURE);
  EXPECT_EQ(raising.m_bOpened, 0);
  EXPECT_EQ(raising.m_dwEventMask, 0u);
  EXPECT_EQ(co.RefCount(), 1u);
}

TEST(OpenInitTest, NetworkNumbersPersistAcrossOpensUpTo255) {
  TempRegistry reg;
  TestServiceObject so;
  auto open_on = [&](const std::string& port) {
    SeedDevice(reg, "POSPrinter", "Dev1", port);
    so.OpenInit("POSPrinter", "Dev1", nullptr, 0, FALSE);
    return std::make_pair(so.m_lResultCodeExtended, so.m_lPortNumber);
  };
  EXPECT_EQ(open_on("NETPRN"), std::make_pair(LONG{0}, LONG{1}));
  EXPECT_EQ(open_on("NETDSP"), std::make_pair(LONG{0}, LONG{2}));
  EXPECT_EQ(open_on("NETPRN"), std::make_pair(LONG{0}, LONG{1}));
  EXPECT_EQ(open_on("NET1"), std::make_pair(LONG{0}, LONG{3}));
  EXPECT_EQ(so.GetPortNumber("prn"), 4) << "names compare case-sensitively";
  for (int i = 5; i <= 255; ++i) so.GetPortNumber(CString(("X" + std::to_string(i)).c_str()));
  EXPECT_EQ(open_on("NETDSP"), std::make_pair(LONG{0}, LONG{2}));
  EXPECT_EQ(open_on("NETNEW"), std::make_pair(LONG{OPOSSVC_E_BAD_PORT}, LONG{256}));
}

// A control object lacking a required method stops the open before the
// device is read; "VANTA" in its description marks the maker's own.
TEST(OpenInitTest, ControlObjectChecks) {
  const std::tuple<const char*, const char*, unsigned long, LONG, LONG> cases[] = {
      {"SOOutputComplete", nullptr, 0x1F, OPOSSVC_E_NO_EVENT_METHOD, 0},
      {"SODirectIO", nullptr, 0x01, 0, 0},
      {nullptr, "VANTA scanner", 0x1F, 0, 1},
      {nullptr, "Vanta scanner", 0x1F, 0, 0},
  };
  TempRegistry reg;
  SeedDevice(reg, "Scanner", "S1", "COM2");
  for (const auto& [removed, description, required, extended, vendor] : cases) {
    SCOPED_TRACE(removed ? removed : description);
    RecordingControlObject co;
    if (removed) co.RemoveMember(removed);
    if (description) co.SetResult("ControlObjectDescription", Variant::Text(description));
    TestServiceObject so;
    so.m_strDeviceName = "before";
    EXPECT_EQ(so.OpenInit("Scanner", "S1", &co, required, FALSE),
              extended ? OPOS_E_ILLEGAL : OPOS_SUCCESS);
    EXPECT_EQ(so.m_lResultCodeExtended, extended);
    EXPECT_EQ(so.m_bVendorCO, vendor);
    EXPECT_STREQ(so.m_strDeviceName, extended ? "before" : "S1 name");
    EXPECT_EQ(so.m_bOpened, 0);
    EXPECT_EQ(co.RefCount(), 1u) << "no reference kept or dropped";
  }
}

}  // namespace
