// scanner_console: an application with a console control object. It looks
// the scanner up in the OPOS registry, loads its service object, opens,
// claims and enables it, and prints every event the service object fires;
// after each data event it reads ScanData and enables data events again.
//
//   scanner_console [--device NAME] [--count N] [--timeout SECONDS]
//
// Exits 0 once N scans (default 5) arrived with no error event, 1 when the
// device cannot be opened or the scans do not all arrive in time.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <opossvc/opossvc.h>
#include <opossvc/testing/message_pump.h>

#include "../event_demo/console_control_object.h"
#include "scanner_service_object.h"

namespace {

constexpr char kDeviceClass[] = "Scanner";

// The console control object, which also answers each data event as an
// application does: read the scan, then ask for the next one.
class ScannerControlObject : public ConsoleControlObject {
 public:
  explicit ScannerControlObject(std::FILE* out) : ConsoleControlObject(out) {
    OLECHAR name[] = OLESTR("SOData");
    LPOLESTR names[] = {name};
    GetIDsOfNames(IID_NULL, names, 1, 0, &so_data_);
  }
  void Attach(CScannerServiceObject* so) { so_ = so; }
  int scans() const { return scans_; }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* info,
                                   UINT* arg_error) override {
    HRESULT hr =
        ConsoleControlObject::Invoke(id, riid, lcid, flags, params, result, info, arg_error);
    if (hr == S_OK && id == so_data_ && so_ != nullptr) {
      ++scans_;
      std::printf("scan %d: %s\n", scans_, so_->ScanData().c_str());
      std::fflush(stdout);
      so_->SetDataEventEnabled(true);
    }
    return hr;
  }

 private:
  DISPID so_data_ = DISPID_UNKNOWN;
  CScannerServiceObject* so_ = nullptr;
  int scans_ = 0;
};

bool ErrorEventSeen(const ScannerControlObject& co) {
  for (const std::string& call : co.calls()) {
    if (call.rfind("SOError", 0) == 0) return true;
  }
  return false;
}

int Usage() {
  std::fprintf(stderr, "usage: scanner_console [--device NAME] [--count N] [--timeout SECONDS]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string device = "Scanner1";
  int count = 5;
  int timeout = 30;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (i + 1 >= argc) return Usage();
    if (arg == "--device") {
      device = argv[++i];
    } else if (arg == "--count") {
      count = std::atoi(argv[++i]);
    } else if (arg == "--timeout") {
      timeout = std::atoi(argv[++i]);
    } else {
      return Usage();
    }
  }
  if (count < 0 || timeout <= 0) return Usage();

  // What the registry says is to be loaded for the device.
  CRegistryInfo entry;
  if (!entry.GetDeviceInfo(device.c_str(), KC_SCANNER)) {
    std::fprintf(stderr, "scanner_console: no device \"%s\" of class %s in the registry\n",
                 device.c_str(), kDeviceClass);
    return 1;
  }
  std::printf("device %s: service object %s on %s\n", static_cast<const char*>(entry.m_strDeviceID),
              static_cast<const char*>(entry.GetSOName(nullptr, KC_SCANNER)),
              static_cast<const char*>(entry.m_strPortName));

  ScannerControlObject co(stdout);
  CScannerServiceObject so;
  co.Attach(&so);
  long rc = so.Open(kDeviceClass, device.c_str(), &co);
  std::printf("Open: %ld (extended %ld)\n", rc, static_cast<long>(so.m_lResultCodeExtended));
  if (rc != OPOS_SUCCESS) return 1;
  rc = so.ClaimDevice();
  std::printf("ClaimDevice: %ld (extended %ld)\n", rc,
              static_cast<long>(so.m_lResultCodeExtended));
  if (rc != OPOS_SUCCESS) return 1;
  so.SetDataEventEnabled(true);
  rc = so.SetDeviceEnabled(true);
  std::printf("DeviceEnabled: %ld\n", rc);
  std::fflush(stdout);
  if (rc != OPOS_SUCCESS) return 1;

  // This thread handles its messages (the event thread's sends among them)
  // until `count` scans arrived or the deadline passed.
  bool arrived = opossvc::testing::MessagePump::PumpUntil(
      [&] { return co.scans() >= count; }, static_cast<DWORD>(timeout) * 1000);
  so.Close();
  bool errors = ErrorEventSeen(co);
  std::printf("%d of %d scans arrived%s\n", co.scans(), count, errors ? ", with error events" : "");
  return arrived && !errors ? 0 : 1;
}
