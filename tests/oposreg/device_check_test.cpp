#include "tools/oposreg/device_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include <opossvc/win32/registry.h>

#include "tests/support/child_process.h"
#include "tests/support/comm_helpers.h"
#include "tests/support/device_entry.h"

namespace opossvc::oposreg {
namespace {

// A printer on a pseudo-terminal, mapped as COM1, with a logical name: every
// step passes until a case breaks one.
struct Bench {
  testing::TempRegistry registry;
  testing::Pty pty;
  testing::DeviceEntry entry;
  std::string name = "Front";

  void Write() {
    testing::WriteDevice(registry, entry);
    const std::string cls = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\" + entry.device_class;
    registry.SetString(HKEY_LOCAL_MACHINE, cls + "\\" + entry.name, "", "Maker.Printer");
    registry.SetString(HKEY_LOCAL_MACHINE, cls, "Front", entry.name);
  }
  void Map(const std::string& path, const std::string& com = "COM1") {
    registry.SetString(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", path, com);
  }
};

TEST(OposregCheck, NamesTheFailingStep) {
  int held = -1;
  struct Case {
    const char* what;
    std::function<void(Bench&)> change;
    const char* failing;  // "" when every step passes
    bool as_other_user = false;
  };
  const Case cases[] = {
      {"a working device", [](Bench& b) { b.Map(b.pty.slave_path()); }, ""},
      {"missing logical name", [](Bench& b) { b.name = "Back"; }, "logical-name"},
      {"no entry in the port map",
       [](Bench& b) {
         b.entry.port = "COM10";  // unmapped: /dev/ttyS9, which no machine here has
       },
       "device-path"},
      {"missing node", [](Bench& b) { b.Map(b.registry.root() + "/ttyUSB7"); }, "node"},
      {"no permission",
       [](Bench& b) {
         b.Map(b.pty.slave_path());
         chmod(b.pty.slave_path().c_str(), 0);
         chmod(b.registry.root().c_str(), 0755);
       },
       "permission", true},
      {"held by a process",
       [&held](Bench& b) {
         b.Map(b.pty.slave_path());
         held = open(b.pty.slave_path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
       },
       "holder"},
      {"wrong settings",
       [](Bench& b) {
         b.entry.values["Baudrate"] = 99;
         b.entry.values.erase("Parity");
         b.Map(b.pty.slave_path());
       },
       "open"},
  };
  for (const Case& c : cases) {
    Bench bench;
    c.change(bench);
    bench.Write();
    if (!c.as_other_user) {
      const std::vector<CheckStep> steps = CheckDevice("", bench.name);
      EXPECT_EQ(FirstFailure(steps), c.failing) << c.what;
      for (const CheckStep& step : steps) {
        if (step.id == std::string(c.failing)) {
          EXPECT_FALSE(step.fix.empty()) << c.what;
        }
      }
      if (held >= 0) {
        EXPECT_NE(steps[7].detail.find(std::to_string(getpid())), std::string::npos)
            << steps[7].detail;
        close(held);
        held = -1;
      }
      if (c.failing == std::string("open")) {
        EXPECT_NE(steps[8].detail.find("Baudrate 99"), std::string::npos) << steps[8].detail;
        EXPECT_NE(steps[8].detail.find("Parity is missing"), std::string::npos) << steps[8].detail;
      }
      continue;
    }
    // Root may open anything: a child that is nobody runs the check then,
    // on what the store has published.
    RegFlushKey(HKEY_LOCAL_MACHINE);
    const std::string failing = c.failing;
    const std::string name = bench.name;
    EXPECT_EQ(test_support::RunInChild([&](test_support::ChildChecks& checks) {
                if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
                  checks.Expect(false, "cannot become nobody");
                  return;
                }
                const std::vector<CheckStep> steps = CheckDevice("", name);
                checks.Expect(FirstFailure(steps) == failing,
                              std::string(c.what) + ": " + FirstFailure(steps) + " " + steps[0].detail);
              }),
              "");
  }
}

}  // namespace
}  // namespace opossvc::oposreg
