// The table of child roles, filled at static initialization, and the roles
// that suites share.
#include <map>

#include <gtest/gtest.h>

#include <opossvc/win32/sync.h>

#include "tests/support/child_process.h"
#include "tests/support/patience.h"

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

// Takes the named mutex args[0], says so on the pipe args[1] and waits to be killed.
OPOSSVC_CHILD_ROLE(MutexHolder) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, args[0].c_str());
  if (!checks.Expect(WaitForSingleObject(mutex, INFINITE) == WAIT_OBJECT_0, "take")) return;
  Pipe(args[1]).Send();
  for (;;) Sleep(INFINITE);
}

std::unique_ptr<ChildProcess> StartMutexHolder(const std::string& name) {
  Pipe taken;
  auto child = std::make_unique<ChildProcess>("MutexHolder",
                                              std::vector<std::string>{name, taken.WriteEnd()});
  if (taken.Reader().Receive(testing::kPatience)) return child;
  ADD_FAILURE() << child->Wait();
  return nullptr;
}

}  // namespace opossvc::test_support
