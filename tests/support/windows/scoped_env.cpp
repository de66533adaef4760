#include "tests/support/scoped_env.h"

#include <cstdlib>

namespace opossvc::test_support {
namespace {

// An empty value removes the variable, as Windows has no empty ones.
void Put(const std::string& name, const std::optional<std::string>& value) {
  _putenv_s(name.c_str(), value ? value->c_str() : "");
}

}  // namespace

ScopedEnv::ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
  if (const char* previous = std::getenv(name)) previous_ = previous;
  Put(name_, value);
}

ScopedEnv::~ScopedEnv() { Put(name_, previous_); }

}  // namespace opossvc::test_support
