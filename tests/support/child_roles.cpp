// The table of child roles, filled at static initialization.
#include <map>

#include "tests/support/child_process.h"

namespace opossvc::test_support {
namespace {

std::map<std::string, ChildRole>& Roles() {
  static std::map<std::string, ChildRole> roles;
  return roles;
}

}  // namespace

bool RegisterChildRole(const char* name, ChildRole role) {
  Roles()[name] = role;
  return true;
}

ChildRole FindChildRole(const std::string& name) {
  auto found = Roles().find(name);
  return found == Roles().end() ? nullptr : found->second;
}

}  // namespace opossvc::test_support
