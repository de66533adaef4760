// Key texts and key codes on a small seeded database with logical names,
// a chain of them and a loop: ConvKey both ways, Open by text and the
// device lookup end, never write without the create flag, and a code made
// from a text names the same text again.
#include <cstdint>
#include <string>

#include <opossvc/opos.h>
#include <opossvc/registry.h>

#include "fuzz/fuzz_support.h"

namespace {

using opossvc::fuzz::Check;
using opossvc::fuzz::InputReader;
using opossvc::fuzz::Store;

constexpr const char* kServiceOpos = "SOFTWARE\\OLEforRetail\\ServiceOPOS";

void Seed() {
  static const bool seeded = [] {
    auto& store = Store();
    const std::string printers = std::string(kServiceOpos) + "\\POSPrinter";
    const std::string scanners = std::string(kServiceOpos) + "\\Scanner";
    store.SetString(HKEY_LOCAL_MACHINE, printers + "\\Printer1", "", "Vendor.Printer");
    store.SetString(HKEY_LOCAL_MACHINE, printers + "\\Printer1", "Port", "COM1");
    store.SetString(HKEY_LOCAL_MACHINE, printers, "Front", "Printer1");
    store.SetString(HKEY_LOCAL_MACHINE, printers, "Desk", "Front");
    store.SetString(HKEY_LOCAL_MACHINE, printers, "LoopA", "LoopB");
    store.SetString(HKEY_LOCAL_MACHINE, printers, "LoopB", "LoopA");
    store.SetString(HKEY_LOCAL_MACHINE, scanners + "\\S1", "", "Vendor.Scanner");
    store.SetString(HKEY_LOCAL_MACHINE, scanners, "Self", "Self");
    store.CreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\OLEforRetail\\ServiceInfo\\Config\\Sub");
    return true;
  }();
  (void)seeded;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Seed();
  InputReader input(data, size);
  const unsigned long code = input.Dword();
  const unsigned long open_code = input.Dword();
  const std::string text = input.Rest();  // read up to its first NUL

  CRegistryInfo registry;
  const CString named = registry.ConvKey(code);
  const unsigned long from_text = registry.ConvKey(text.c_str());
  if (from_text != 0 && from_text != KC_CURRENT_DEVICE) {
    // The text of a single level names that level again.
    const CString again = registry.ConvKey(from_text);
    if (!again.IsEmpty()) {
      Check(registry.ConvKey(again) == from_text, "ConvKey text/code round trip");
    }
  }
  (void)named;
  registry.ConvDevCls(code);

  CRegistryInfo reader;
  reader.Open(text.c_str(), open_code, 0);
  reader.GetDeviceInfo(text.c_str(), open_code);
  reader.GetSOName(text.c_str(), code);
  // Without the create flag nothing may be written.
  Check(reader.SetString(KC_CURRENT_DEVICE, "Fuzz", "x") == 0, "write without create flag");
  reader.Close(0);

  CRegistryInfo by_code(open_code, 0);
  by_code.Close(0);
  return 0;
}
