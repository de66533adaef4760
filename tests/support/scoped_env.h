// An environment variable set, or unset, for the length of a scope.
#ifndef OPOSSVC_TESTS_SUPPORT_SCOPED_ENV_H_
#define OPOSSVC_TESTS_SUPPORT_SCOPED_ENV_H_

#include <optional>
#include <string>

namespace opossvc::test_support {

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

}  // namespace opossvc::test_support

#endif  // OPOSSVC_TESTS_SUPPORT_SCOPED_ENV_H_
