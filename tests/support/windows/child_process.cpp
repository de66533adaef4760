// Windows has no fork: the tests that check in a forked child are POSIX-only
// (tests/CMakeLists.txt lists them), and these fail loudly if one is run.
#include "tests/support/child_process.h"

#include <stdexcept>

namespace opossvc::test_support {
namespace {

[[noreturn]] void NoFork() { throw std::logic_error("no forked children on Windows"); }

}  // namespace

bool ChildChecks::Expect(bool ok, const std::string& /*what*/) { return ok; }

ChildProcess::ChildProcess(const std::function<void(ChildChecks&)>& /*body*/) { NoFork(); }
ChildProcess::~ChildProcess() = default;
std::string ChildProcess::Wait() { NoFork(); }
void ChildProcess::Kill() {}

Pipe::Pipe() { NoFork(); }
Pipe::~Pipe() = default;
Pipe& Pipe::Reader() { NoFork(); }
Pipe& Pipe::Writer() { NoFork(); }
bool Pipe::Send() { NoFork(); }
bool Pipe::Receive() { NoFork(); }
bool Pipe::Receive(std::chrono::milliseconds /*timeout*/) { NoFork(); }

}  // namespace opossvc::test_support
