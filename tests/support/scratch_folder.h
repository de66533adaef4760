// A fresh folder for a test's files below the system's temporary folder,
// removed with its contents: a folder on every platform, unlike
// TempRegistry's root (a registry key on Windows).
#ifndef OPOSSVC_TESTS_SUPPORT_SCRATCH_FOLDER_H_
#define OPOSSVC_TESTS_SUPPORT_SCRATCH_FOLDER_H_

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace opossvc::test_support {

class ScratchFolder {
 public:
  ScratchFolder() {  // throws std::filesystem::filesystem_error when none can be made
    std::random_device random;
    do {  // false for a folder that exists: another test's
      path_ = std::filesystem::temp_directory_path() / ("opossvc-test-" + std::to_string(random()));
    } while (!std::filesystem::create_directory(path_));
  }
  ~ScratchFolder() { std::filesystem::remove_all(path_, ignored_); }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  std::string Path() const { return path_.string(); }
  std::string PathOf(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
  std::error_code ignored_;
};

}  // namespace opossvc::test_support

#endif  // OPOSSVC_TESTS_SUPPORT_SCRATCH_FOLDER_H_
