// Shared pieces of the serial-port tests: a pseudo-terminal pair that plays a real device, and
// small wrappers around the comm calls.
#ifndef OPOSSVC_TESTS_SUPPORT_COMM_HELPERS_H_
#define OPOSSVC_TESTS_SUPPORT_COMM_HELPERS_H_

#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include <opossvc/win32/comm.h>

#include "tests/support/patience.h"

namespace opossvc::testing {

// A pseudo-terminal: the test holds the master side, the library opens the slave by its path.
class Pty {
 public:
  Pty();  // fails the test (and leaves master() -1) when no pty can be made
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  int master() const { return master_; }
  const std::string& slave_path() const { return slave_path_; }

  void Write(const std::string& bytes);
  // Reads until `count` bytes came or `timeout` passed; returns what came.
  std::string Read(size_t count, std::chrono::milliseconds timeout = kPatience);
  // Closes the master side: the slave sees a hang-up.
  void CloseMaster();

 private:
  int master_ = -1;
  std::string slave_path_;
};

// Opens a COM name for reading and writing as the serial driver does.
HANDLE OpenPort(const char* name);

// Sets the read and write time-outs; returns the result of SetCommTimeouts.
BOOL SetTimeouts(HANDLE port, DWORD interval, DWORD read_multiplier, DWORD read_constant,
                 DWORD write_multiplier = 0, DWORD write_constant = 0);

// What a read of the port gave: the call's result and error, and the bytes read.
struct ReadResult {
  BOOL ok = FALSE;
  DWORD error = 0;
  std::string bytes;
};

struct WriteResult {
  BOOL ok = FALSE;
  DWORD error = 0;
  DWORD written = 0;
};
WriteResult WritePort(HANDLE port, const std::string& bytes);

}  // namespace opossvc::testing

#endif  // OPOSSVC_TESTS_SUPPORT_COMM_HELPERS_H_
