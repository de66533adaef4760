#include "tests/support/scoped_env.h"

#include <cstdlib>

namespace opossvc::test_support {

ScopedEnv::ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
  if (const char* previous = std::getenv(name)) previous_ = previous;
  value ? setenv(name, value->c_str(), 1) : unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
  previous_ ? setenv(name_.c_str(), previous_->c_str(), 1) : unsetenv(name_.c_str());
}

}  // namespace opossvc::test_support
