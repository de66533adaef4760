// A fresh folder for a test's files, below the system's temporary folder,
// removed with everything in it. Unlike TempRegistry's root (a registry key
// on Windows), it is a folder on every platform.
#ifndef OPOSSVC_TESTS_SUPPORT_SCRATCH_FOLDER_H_
#define OPOSSVC_TESTS_SUPPORT_SCRATCH_FOLDER_H_

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace opossvc::test_support {

class ScratchFolder {
 public:
  // Throws std::filesystem::filesystem_error when none can be made.
  ScratchFolder() {
    std::random_device random;
    do {  // false for a folder that exists: another test's
      path_ = std::filesystem::temp_directory_path() / ("opossvc-test-" + std::to_string(random()));
    } while (!std::filesystem::create_directory(path_));
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // The path of `name` inside the folder, in the platform's own spelling.
  std::string PathOf(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace opossvc::test_support

#endif  // OPOSSVC_TESTS_SUPPORT_SCRATCH_FOLDER_H_
