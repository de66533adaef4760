// Small tools shared by the registry store tests.
#ifndef OPOSSVC_TESTS_REGISTRY_STORE_REGISTRY_TEST_SUPPORT_H_
#define OPOSSVC_TESTS_REGISTRY_STORE_REGISTRY_TEST_SUPPORT_H_

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <opossvc/win32/registry.h>

namespace opossvc::registry_test {

// An HKEY closed at the end of its scope.
class ScopedKey {
 public:
  ScopedKey() = default;
  ~ScopedKey() { Reset(); }
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;

  HKEY get() const { return key_; }
  PHKEY out() {
    Reset();
    return &key_;
  }
  HKEY Release() { return std::exchange(key_, nullptr); }
  void Reset() {
    if (key_ != nullptr) RegCloseKey(Release());
  }

 private:
  HKEY key_ = nullptr;
};

LONG Create(HKEY parent, const char* path, ScopedKey* key, DWORD* disposition = nullptr,
            REGSAM access = KEY_ALL_ACCESS);
LONG Open(HKEY parent, const char* path, ScopedKey* key, REGSAM access = KEY_ALL_ACCESS);
LONG SetBytes(HKEY key, const char* name, DWORD type, std::string_view bytes);  // exactly these
LONG SetText(HKEY key, const char* name, std::string_view text);  // REG_SZ with its NUL
// The data of a value, or nothing when it cannot be read.
std::optional<std::string> ReadBytes(HKEY key, const char* name, DWORD* type = nullptr);
// All subkey or value names, in the order the registry lists them.
std::vector<std::string> SubkeyNames(HKEY key);
std::vector<std::string> ValueNames(HKEY key);

// Sets an environment variable (or unsets it, for nullopt) for a scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> previous_;
};

// Checks made inside a forked child; what fails is reported to the parent.
class ChildChecks {
 public:
  explicit ChildChecks(int fd) : fd_(fd) {}
  // Records `what` as a failure unless `ok`; returns `ok`.
  bool Expect(bool ok, const std::string& what);
  bool ExpectCode(LONG actual, LONG expected, const std::string& what) {
    return Expect(actual == expected, what + ": got " + std::to_string(actual));
  }

 private:
  int fd_;
};

// A forked child running checks; it always ends in _exit, even when the body
// throws, so it never runs on into the parent's tests. Wait() returns its
// failures, one a line, or "" when all held; dying or a non-zero exit fail.
// A child not waited for (the parent's test failed early) is killed, since it
// may be blocked on a pipe the parent will never write to.
class ChildProcess {
 public:
  explicit ChildProcess(const std::function<void(ChildChecks&)>& body);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  std::string Wait();

 private:
  pid_t pid_ = -1;
  int report_fd_ = -1;
};

inline std::string RunInChild(const std::function<void(ChildChecks&)>& body) {
  return ChildProcess(body).Wait();
}

// A one-way byte channel between a parent and a forked child. Each side
// calls Reader() or Writer() after fork, which closes the other end.
class Pipe {
 public:
  Pipe();
  ~Pipe();
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;

  Pipe& Reader();
  Pipe& Writer();
  bool Send();
  // True for a byte, false once every writer is gone.
  bool Receive();

 private:
  int fds_[2] = {-1, -1};
};

}  // namespace opossvc::registry_test

#endif  // OPOSSVC_TESTS_REGISTRY_STORE_REGISTRY_TEST_SUPPORT_H_
