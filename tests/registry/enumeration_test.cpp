// Sub-key enumeration, the all-devices cursor, deletion, PurgeRegKey, and
// the text forms acting on the keys they name.
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "tests/registry/registry_fixture.h"

namespace opossvc::registry_info_test {
namespace {

using Names = std::vector<std::string>;

// Every result of EnumKey from index `first` until it fails (bounded, so a
// cursor that never ends fails the test instead of hanging it).
template <class Key>
Names ListAll(CRegistryInfo& info, Key key, unsigned int first = 0) {
  Names names;
  for (unsigned int index = first; index < 100; ++index) {
    CString name = "stale";
    if (!info.EnumKey(key, index, name)) {
      EXPECT_STREQ(name, "");
      return names;
    }
    names.emplace_back(name);
  }
  ADD_FAILURE() << "the enumeration did not end";
  return names;
}

class Enumeration : public RegistryInfoTest {
 protected:
  // Registry order of ServiceOPOS: Bogus (no class), CashDrawer, Keylock
  // (empty), POSPrinter, POSPrinterr (no class), Scanner.
  void SetUp() override {
    MakeKey("ServiceOPOS\\Bogus\\X");
    MakeKey(Device("CashDrawer", "D1"));
    MakeKey("ServiceOPOS\\Keylock");
    MakeKey(Device("POSPrinter", "A"));
    MakeKey(Device("POSPrinter", "B"));
    MakeKey("ServiceOPOS\\POSPrinterr\\Z");
    MakeKey(Device("Scanner", "C"));
  }
};

TEST_F(Enumeration, AllDevicesInAnyOrderOfIndexes) {
  const char* const kAll[] = {"CashDrawer\\D1", "POSPrinter\\A", "POSPrinter\\B", "Scanner\\C"};
  const std::vector<unsigned int> orders[] = {
      {0, 1, 2, 3, 4}, {3, 2, 3}, {2, 3, 4}, {4, 0, 1}, {7, 3},
  };
  for (int create : {FALSE, TRUE}) {
    for (const auto& order : orders) {
      CRegistryInfo info(KC_OLEFORRETAIL, create);
      std::string trace;
      for (unsigned int index : order) {
        trace += std::to_string(index) + " ";
        SCOPED_TRACE(trace);
        CString name;
        const int found = info.EnumKey(KC_ALL_DEVICES, index, name);
        EXPECT_EQ(found, int{index < 4});
        EXPECT_STREQ(name, index < 4 ? kAll[index] : "");
      }
    }
  }
  CRegistryInfo info;
  EXPECT_EQ(ListAll(info, "AllDevices"), (Names{kAll, kAll + 4}));
}

TEST_F(Enumeration, TheCursorSurvivesKeysAddedAndDeleted) {
  CRegistryInfo info;
  CString name;
  ASSERT_EQ(info.EnumKey(KC_ALL_DEVICES, 0, name), TRUE);
  EXPECT_STREQ(name, "CashDrawer\\D1");
  MakeKey(Device("Scanner", "C0"));
  ASSERT_EQ(info.EnumKey(KC_ALL_DEVICES, 1, name), TRUE);
  EXPECT_STREQ(name, "POSPrinter\\A");
  // Deleting an entry already passed shifts the rest of its class by one:
  // B moves to A's place and is passed over, as with any listing by index.
  ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, Opos(Device("POSPrinter", "A")).c_str()),
            ERROR_SUCCESS);
  EXPECT_EQ(ListAll(info, KC_ALL_DEVICES, 2), (Names{"Scanner\\C", "Scanner\\C0"}));
  // A fresh walk sees the registry as it is now.
  EXPECT_EQ(ListAll(info, KC_ALL_DEVICES),
            (Names{"CashDrawer\\D1", "POSPrinter\\B", "Scanner\\C", "Scanner\\C0"}));
}

// Names longer than a short buffer are listed, found and deleted too.
TEST_F(Enumeration, ResultNamesByKey) {
  const std::string long_name(100, 'L');  // the whole path within 255 characters
  MakeKey(Device("POSPrinter", long_name) + "\\" + long_name);
  MakeKey(Device("POSPrinter", "A") + "\\Settings");
  CRegistryInfo info("POSPrinter\\A", 0, FALSE);
  ASSERT_EQ(info.m_dwDevKey, 0x140u);
  const std::pair<unsigned long, Names> cases[] = {
      {KC_OLEFORRETAIL, {"ServiceOPOS"}},
      {KC_SERVICEOPOS, {"Bogus", "CashDrawer", "Keylock", "POSPrinter", "POSPrinterr", "Scanner"}},
      {KC_POSPRINTER, {"POSPrinter\\A", "POSPrinter\\B", "POSPrinter\\" + long_name}},
      {0x140, {"POSPrinter\\A\\Settings"}},
      {0x180, {}},  // not the held device
      {0, {}},
  };
  for (const auto& [code, names] : cases) {
    EXPECT_EQ(ListAll(info, code), names) << std::hex << code;
  }
}

TEST_F(Enumeration, DeleteKeyByCode) {
  auto seed = [this] {
    MakeKey("ServiceInfo\\Cfg\\VANTA1.6");
    MakeKey("ServiceInfo\\Other");
    MakeKey(Device("POSPrinter", "A") + "\\Settings");
  };
  const Names untouched = {Device("POSPrinter", "A"), "ServiceInfo\\Cfg"};
  // What is held before the delete (or, for the root, a key of another program in it).
  enum Held { kNothing, kDeviceA, kSubKeyCfg, kForeignKey };
  const struct {
    const char* title;
    unsigned long code;
    Held held;
    int result;
    Names gone;
    Names kept;
  } cases[] = {
      {"all devices", KC_ALL_DEVICES, kNothing, TRUE,
       {Device("CashDrawer", "D1"), Device("POSPrinter", "A"), Device("POSPrinter", "B"),
        Device("Scanner", "C")},
       {"ServiceOPOS\\CashDrawer", "ServiceOPOS\\Keylock", "ServiceOPOS\\POSPrinter",
        "ServiceOPOS\\Scanner", "ServiceOPOS\\Bogus\\X", "ServiceOPOS\\POSPrinterr\\Z"}},
      {"a class", KC_POSPRINTER, kNothing, TRUE, {"ServiceOPOS\\POSPrinter"}, {Device("Scanner", "C")}},
      {"the current device", KC_CURRENT_DEVICE, kDeviceA, TRUE, {Device("POSPrinter", "A")},
       {Device("POSPrinter", "B")}},
      {"no current device", KC_CURRENT_DEVICE, kNothing, FALSE, {}, {Device("POSPrinter", "A")}},
      {"ServiceOPOS", KC_SERVICEOPOS, kNothing, TRUE, {"ServiceOPOS"}, {"ServiceInfo\\Other"}},
      {"the held sub-key", KC_SERVICEINFO_SUBKEY, kSubKeyCfg, TRUE, {"ServiceInfo\\Cfg"},
       {"ServiceInfo\\Other"}},
      // With no sub-key held, nothing is named: ServiceInfo itself must stay.
      {"no held sub-key", KC_SERVICEINFO_SUBKEY, kNothing, FALSE, {},
       {"ServiceInfo\\Cfg\\VANTA1.6", "ServiceInfo\\Other"}},
      {"the root", KC_OLEFORRETAIL, kNothing, TRUE, {""}, {}},
      {"the root holding other keys", KC_OLEFORRETAIL, kForeignKey, FALSE, {"ServiceOPOS"},
       {"Foreign"}},
      {"code 19", 19ul, kNothing, FALSE, {}, untouched},
      {"device code not held", 0x140ul, kNothing, FALSE, {}, untouched},
  };
  CRegistryInfo reader(KC_OLEFORRETAIL, FALSE);
  EXPECT_EQ(reader.DeleteKey(KC_SERVICEOPOS), FALSE);
  EXPECT_EQ(reader.DeleteKey("POSPrinter\\A"), FALSE);
  EXPECT_TRUE(Exists(Device("POSPrinter", "A")));
  for (const auto& [title, code, held, result, gone, kept] : cases) {
    SCOPED_TRACE(title);
    ClearDatabase();
    SetUp();
    seed();
    if (held == kForeignKey) MakeKey("Foreign");
    for (const std::string& key : gone) EXPECT_TRUE(Exists(key)) << key;
    CRegistryInfo writer(KC_OLEFORRETAIL, TRUE);
    if (held == kDeviceA) writer.GetDeviceInfo("POSPrinter\\A", 0);
    if (held == kSubKeyCfg) writer.Open("Cfg", KC_SERVICEINFO_SUBKEY, TRUE);
    EXPECT_EQ(writer.DeleteKey(code), result);
    for (const std::string& key : gone) EXPECT_FALSE(Exists(key)) << key;
    for (const std::string& key : kept) EXPECT_TRUE(Exists(key)) << key;
  }
}

TEST_F(Enumeration, DeletingAClassClosesTheKeysBelowIt) {
  CRegistryInfo info("POSPrinter\\A", 0, TRUE);
  ASSERT_EQ(Access::OpenKeys(info) & KC_DEVICE_MASK, 0x140u);
  ASSERT_EQ(info.DeleteKey(KC_POSPRINTER), TRUE);
  EXPECT_EQ(Access::OpenKeys(info) & (KC_DEVICE_MASK | KC_CLASS_MASK), 0u);
  // Reading the device again finds nothing, rather than a stale handle.
  CRegistryInfo reader(KC_OLEFORRETAIL, FALSE);
  EXPECT_EQ(reader.GetDeviceInfo("POSPrinter\\A", 0), FALSE);
}

// An object that holds device A is given the text of device B: every text
// form acts on B and leaves A alone, and no key is made on the way.
TEST_F(Enumeration, TextFormsActOnTheDeviceTheyName) {
  const std::string a = Device("POSPrinter", "A"), b = Device("POSPrinter", "B");
  CString text;
  // What is done (true when it acted on B as asked), and whether B stays.
  const std::tuple<const char*, std::function<bool(CRegistryInfo&)>, bool> cases[] = {
      {"GetString",
       [&](CRegistryInfo& r) { return r.GetString("POSPrinter\\b", "Who", text) && text == "B"; },
       true},
      {"SetString",
       [&](CRegistryInfo& r) {
         return r.SetString("POSPrinter\\B", "Who", "x") && ValueOf(b, "Who") == "x";
       },
       true},
      {"DeleteKey", [](CRegistryInfo& r) { return r.DeleteKey("POSPrinter\\B") == TRUE; }, false},
      {"DeleteKey through a logical name",
       [](CRegistryInfo& r) { return r.DeleteKey("POSPrinter\\Back") == TRUE; }, false},
      {"a device that does not exist",
       [](CRegistryInfo& r) {
         return !r.DeleteKey("POSPrinter\\Nobody") &&
                !r.SetString("POSPrinter\\Nobody", "x", "y") && Access::Device(r) == "A";
       },
       true},
  };
  for (const auto& [title, act, b_stays] : cases) {
    SCOPED_TRACE(title);
    ClearDatabase();
    MakeString(a, "Who", "A");
    MakeString(b, "Who", "B");
    MakeKey(a + "\\SubA");
    MakeKey(b + "\\SubB");
    MakeString("ServiceOPOS\\POSPrinter", "Back", "B");
    CRegistryInfo info("POSPrinter\\A", 0, TRUE);
    EXPECT_TRUE(act(info));
    EXPECT_EQ(Exists(b), b_stays);
    EXPECT_EQ(ValueOf(a, "Who"), "A");
    EXPECT_TRUE(Exists(a + "\\SubA"));
    EXPECT_FALSE(Exists(Device("POSPrinter", "Back")) || Exists(Device("POSPrinter", "Nobody")));
  }
}

// Names listed by EnumKey, fed back to DeleteKey, delete exactly those keys.
TEST_F(Enumeration, ListedNamesDeleteExactlyWhatTheyName) {
  MakeKey(Device("POSPrinter", "A") + "\\S1\\Deeper");
  MakeKey(Device("POSPrinter", "A") + "\\S2");
  MakeKey("ServiceInfo\\Cfg\\VANTA1.6");
  MakeKey("ServiceInfo\\Cfg\\VANTA1.7");
  MakeKey("ServiceInfo\\Other");
  const std::pair<unsigned long, Names> cases[] = {
      {KC_CURRENT_DEVICE, {Device("POSPrinter", "A")}},
      {KC_SERVICEINFO_SUBKEY, {"ServiceInfo\\Cfg", "ServiceInfo\\Other"}},
      {KC_SERVICEINFO, {"ServiceInfo"}},
      {KC_POSPRINTER, {"ServiceOPOS\\POSPrinter", Device("Scanner", "C")}},
      {KC_ALL_DEVICES, {"ServiceOPOS\\POSPrinter", "ServiceOPOS\\Scanner"}},
  };
  for (const auto& [code, kept] : cases) {
    SCOPED_TRACE(code);
    CRegistryInfo info("POSPrinter\\A", 0, TRUE);
    info.Open("Cfg", KC_SERVICEINFO_SUBKEY, TRUE);
    const Names listed = ListAll(info, code);
    EXPECT_FALSE(listed.empty());
    for (const std::string& name : listed) {
      EXPECT_EQ(info.DeleteKey(name.c_str()), TRUE) << name;
      for (const std::string& key : kept) EXPECT_TRUE(Exists(key)) << name << " took " << key;
    }
    for (const std::string& name : listed) {
      const bool info_key = name.rfind("ServiceInfo\\", 0) == 0;
      EXPECT_FALSE(Exists(info_key ? name : "ServiceOPOS\\" + name)) << name;
    }
  }
}

// Whole trees are purged by DeleteKeyByCode's rows; here the names that
// must purge nothing, the empty one above all (it would name the parent).
TEST_F(Enumeration, PurgeRegKeyRefusesNamesOfNothing) {
  HKEY root = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\OLEforRetail", 0, KEY_ALL_ACCESS, &root),
            ERROR_SUCCESS);
  EXPECT_EQ(PurgeRegKey(root, "Missing"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(PurgeRegKey(root, ""), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(PurgeRegKey(root, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(Exists(Device("Scanner", "C")));
  RegCloseKey(root);
}

}  // namespace
}  // namespace opossvc::registry_info_test
