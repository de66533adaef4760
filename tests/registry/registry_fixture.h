// Shared pieces of the CRegistryInfo tests: a private store per test with
// seeding helpers, and a window onto the object's own fields.
#ifndef OPOSSVC_TESTS_REGISTRY_REGISTRY_FIXTURE_H_
#define OPOSSVC_TESTS_REGISTRY_REGISTRY_FIXTURE_H_

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include <opossvc/registry.h>
#include <opossvc/testing/temp_registry.h>

namespace opossvc::detail {

class RegistryInfoAccess {
 public:
  static DWORD OpenKeys(const CRegistryInfo& r) { return r.m_dwOpenKeys; }
  static int Modified(const CRegistryInfo& r) { return r.m_bModified; }
  static const CString& Device(const CRegistryInfo& r) { return r.m_strDevice; }
  static const CString& ServiceInfo(const CRegistryInfo& r) { return r.m_strServiceInfo; }
  static HKEY Handle(const CRegistryInfo& r, unsigned long code) { return r.GetHKEY(code); }

  // The state of holding a device, without the registry.
  static void HoldDevice(CRegistryInfo& r, DWORD devKey, const char* device, const char* id) {
    r.m_dwDevKey = devKey;
    r.m_strDevice = device;
    r.m_strDeviceID = id;
  }
  static void HoldServiceInfo(CRegistryInfo& r, const char* path) { r.m_strServiceInfo = path; }
};

}  // namespace opossvc::detail

namespace opossvc::registry_info_test {

using Access = opossvc::detail::RegistryInfoAccess;

inline constexpr DWORD kReadFailed = 0xFFFFFFFFu;

class RegistryInfoTest : public ::testing::Test {
 protected:
  // A path below the database root.
  static std::string Opos(std::string_view below) {
    return "SOFTWARE\\OLEforRetail\\" + std::string(below);
  }
  static std::string Device(std::string_view cls, std::string_view device) {
    return "ServiceOPOS\\" + std::string(cls) + "\\" + std::string(device);
  }
  // Empties the store again, for table rows that each need their own.
  static void ClearDatabase() { RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\OLEforRetail"); }

  void MakeKey(std::string_view below) {
    ASSERT_EQ(registry_.CreateKey(HKEY_LOCAL_MACHINE, Opos(below)), ERROR_SUCCESS) << below;
  }
  void MakeString(std::string_view below, std::string_view name, std::string_view value) {
    MakeValue(below, name, REG_SZ, std::string(value) + '\0');
  }
  void MakeValue(std::string_view below, std::string_view name, DWORD type,
                 std::string_view bytes) {
    ASSERT_EQ(registry_.SetValue(HKEY_LOCAL_MACHINE, Opos(below), name, type, bytes), ERROR_SUCCESS)
        << below;
  }
  bool Exists(std::string_view below) const {
    return registry_.KeyExists(HKEY_LOCAL_MACHINE, Opos(below));
  }
  // A value's data (a REG_SZ without its NUL), or "<none>".
  std::string ValueOf(std::string_view below, std::string_view name) const {
    DWORD type = REG_NONE;
    auto value = registry_.GetValue(HKEY_LOCAL_MACHINE, Opos(below), name, &type);
    if (!value) return "<none>";
    if (type == REG_SZ && !value->empty() && value->back() == '\0') value->pop_back();
    return *value;
  }

  opossvc::testing::TempRegistry registry_;
};

}  // namespace opossvc::registry_info_test

#endif  // OPOSSVC_TESTS_REGISTRY_REGISTRY_FIXTURE_H_
