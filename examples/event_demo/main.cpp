// event_demo: a service object on the main (window) thread, three worker
// threads queueing events as a device's threads would, and a console control
// object printing the event calls as they arrive. Exits 0 when every expected
// event reached the control object, in each worker's order; 1 otherwise.
#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <opossvc/opossvc.h>
#include <opossvc/testing/message_pump.h>
#include <opossvc/testing/temp_registry.h>

#include "console_control_object.h"
#include "demo_service_object.h"

namespace {

constexpr int kWorkers = 3;
constexpr int kScansPerWorker = 5;
constexpr DWORD kDeadlineMs = 20000;

// A device entry and the maker's settings in a private registry store.
void SeedRegistry(opossvc::testing::TempRegistry& reg) {
  const std::string device = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner\\DemoScanner";
  reg.SetString(HKEY_LOCAL_MACHINE, device, "DeviceName", "Demo scanner");
  reg.SetString(HKEY_LOCAL_MACHINE, device, "DeviceDesc", "Scanner on the first serial port");
  reg.SetString(HKEY_LOCAL_MACHINE, device, "Port", "COM1");
  reg.SetDword(HKEY_LOCAL_MACHINE,
               "SOFTWARE\\OLEforRetail\\ServiceInfo\\VANTA QUILLON\\VANTA1.6", "IdleSleep", 2);
}

// What worker w queues: its scans in order, then one event of its own kind.
void RunWorker(CDemoServiceObject& so, int w, BSTR* directIOString) {
  for (int i = 0; i < kScansPerWorker; ++i) so.QueueEvent(OPOS_EVENT_DATA, w * 100 + i, 0, 0);
  switch (w) {
    case 0:
      so.QueueEvent(OPOS_EVENT_STATUSUPDATE, OPOS_SUE_POWER_ONLINE, 0, 0);
      break;
    case 1:
      so.QueueEvent(OPOS_EVENT_OUTPUTCOMPLETE, 17, 0, 0);
      so.QueueEvent(OPOS_EVENT_ERROR, OPOS_E_FAILURE, 0, OPOS_EL_INPUT);
      break;
    default:
      *directIOString = AllocSysString("scanner settings");
      so.QueueEvent(OPOS_EVENT_DIRECTIO, 7, 42, reinterpret_cast<LONG_PTR>(directIOString));
      break;
  }
}

std::vector<std::string> ExpectedCalls() {
  std::vector<std::string> calls;
  for (int w = 0; w < kWorkers; ++w) {
    for (int i = 0; i < kScansPerWorker; ++i) {
      calls.push_back("SOData(" + std::to_string(w * 100 + i) + ")");
    }
  }
  calls.push_back("SOStatusUpdate(" + std::to_string(OPOS_SUE_POWER_ONLINE) + ")");
  calls.push_back("SOOutputComplete(17)");
  calls.push_back("SOError(" + std::to_string(OPOS_E_FAILURE) + ", 0, " +
                  std::to_string(OPOS_EL_INPUT) + ")");
  calls.push_back("SODirectIO(7, 42, \"scanner settings\")");
  return calls;
}

// Each worker's scans must arrive in the order it queued them.
bool ScansInWorkerOrder(const std::vector<std::string>& calls) {
  std::vector<int> next(kWorkers, 0);
  for (const std::string& call : calls) {
    int value = 0;
    if (std::sscanf(call.c_str(), "SOData(%d)", &value) != 1) continue;
    int w = value / 100;
    if (w < 0 || w >= kWorkers || value % 100 != next[w]) return false;
    ++next[w];
  }
  return true;
}

}  // namespace

int main() {
  opossvc::testing::TempRegistry registry;
  SeedRegistry(registry);

  ConsoleControlObject co(stdout);
  CDemoServiceObject so;
  long rc = so.Open("Scanner", "DemoScanner", &co);
  std::printf("open \"%s\" (%s): result %ld, extended %ld, port %ld\n",
              static_cast<const char*>(so.m_strDeviceName),
              static_cast<const char*>(so.m_strDeviceDescription), rc,
              static_cast<long>(so.m_lResultCodeExtended), static_cast<long>(so.m_lPortNumber));
  if (rc != OPOS_SUCCESS) return 1;
  so.Enable(true);

  BSTR directIOString = nullptr;
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back(RunWorker, std::ref(so), w, &directIOString);
  }
  std::vector<std::string> expected = ExpectedCalls();
  // This thread handles its messages (the event thread's sends among them)
  // until the control object has seen every call or the deadline passes.
  bool arrived = opossvc::testing::MessagePump::PumpUntil(
      [&] { return co.calls().size() >= expected.size(); }, kDeadlineMs);
  for (std::thread& t : workers) t.join();
  so.Close();

  std::vector<std::string> got = co.calls();
  bool in_order = ScansInWorkerOrder(got);
  std::sort(got.begin(), got.end());
  std::sort(expected.begin(), expected.end());
  bool complete = arrived && got == expected;
  bool string_freed = directIOString == nullptr;
  bool references_kept = co.references() == 1;
  std::printf("%zu of %zu events arrived%s%s%s\n", co.calls().size(), expected.size(),
              in_order ? "" : ", out of order", string_freed ? "" : ", direct-I/O string kept",
              references_kept ? "" : ", control object references changed");
  return complete && in_order && string_freed && references_kept ? 0 : 1;
}
