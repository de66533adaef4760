// A private registry store for one test.
//
// On Windows the process's HKEY_LOCAL_MACHINE is redirected instead
// (RegOverridePredefKey) to a fresh key below HKEY_CURRENT_USER, which root()
// names and the destructor removes; child processes do not see it there.
//
// The constructor makes a fresh temporary folder (below $TMPDIR, else /tmp)
// and points OPOS_ROOT at it, so that every registry call of the process,
// and of the processes it forks, uses a store of its own there. The
// destructor puts the previous OPOS_ROOT back and removes the folder.
//
//   opossvc::testing::TempRegistry registry;
//   registry.SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner\\S1",
//                      "", "S1.ServiceObject");
//
// A forked child may use the store and may run the destructor of its copy
// (when it leaves the test body normally): only the process that made the
// folder removes it. TempRegistry objects nest (each puts back the OPOS_ROOT
// it found); OPOS_ROOT is process-wide, so make and destroy them while no
// other thread uses the registry. Keys opened before keep their own store. The seeding helpers create the key and the keys above it and
// return the Win32 error code of the write.
#ifndef OPOSSVC_TESTING_TEMP_REGISTRY_H_
#define OPOSSVC_TESTING_TEMP_REGISTRY_H_

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <opossvc/win32/registry.h>

namespace opossvc::testing {

class TempRegistry {
 public:
  // Throws std::system_error when no temporary folder can be made.
  TempRegistry();
  ~TempRegistry();
  TempRegistry(const TempRegistry&) = delete;
  TempRegistry& operator=(const TempRegistry&) = delete;

  // The folder that OPOS_ROOT names while this object lives.
  const std::string& root() const { return root_; }
  // The store file inside it (it exists once something was written).
  std::string store_path() const { return root_ + "/registry.db"; }

  LONG CreateKey(HKEY root, std::string_view key);
  LONG SetString(HKEY root, std::string_view key, std::string_view name, std::string_view value);
  LONG SetDword(HKEY root, std::string_view key, std::string_view name, DWORD value);
  LONG SetBinary(HKEY root, std::string_view key, std::string_view name,
                 const std::vector<BYTE>& value);
  // Any type, the bytes as given (a REG_SZ without its NUL stays without).
  LONG SetValue(HKEY root, std::string_view key, std::string_view name, DWORD type,
                std::string_view bytes);

  // The data of a value, or nothing when the key or value is missing.
  std::optional<std::string> GetValue(HKEY root, std::string_view key, std::string_view name,
                                      DWORD* type = nullptr) const;
  bool KeyExists(HKEY root, std::string_view key) const;

 private:
  std::string root_;
  std::optional<std::string> previous_root_;
  pid_t owner_;
};

}  // namespace opossvc::testing

#endif  // OPOSSVC_TESTING_TEMP_REGISTRY_H_
