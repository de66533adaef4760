// The private store of a TempRegistry on POSIX: a fresh OPOS_ROOT folder.
#include <opossvc/testing/temp_registry.h>

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace opossvc::testing {
namespace {

constexpr char kRootVariable[] = "OPOS_ROOT";

std::string TemporaryBase() {
  const char* tmpdir = std::getenv("TMPDIR");
  std::string base = (tmpdir != nullptr && *tmpdir != '\0') ? tmpdir : "/tmp";
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return base;
}

}  // namespace

TempRegistry::TempRegistry() : owner_(getpid()) {
  std::string pattern = TemporaryBase() + "/opossvc-registry-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
  }
  root_ = pattern;
  if (const char* previous = std::getenv(kRootVariable)) previous_root_ = previous;
  setenv(kRootVariable, root_.c_str(), 1);
}

TempRegistry::~TempRegistry() {
  if (getpid() != owner_) return;
  if (previous_root_) {
    setenv(kRootVariable, previous_root_->c_str(), 1);
  } else {
    unsetenv(kRootVariable);
  }
  // A snapshot that the store was publishing may still appear while the
  // folder is emptied, but none once the store file is gone.
  std::error_code ignored;
  for (int attempt = 0; attempt < 8 && std::filesystem::exists(root_, ignored); ++attempt) {
    std::filesystem::remove_all(root_, ignored);
  }
}

}  // namespace opossvc::testing
