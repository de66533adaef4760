// Export then import: a tree built from the input (keys and values of any
// name, type and data) below the database root or the serial-port map is
// written as `oposreg export` writes it, deleted, and read back with every
// import option on. The invariant: an export that is not refused gives back
// the same tree, names, types and data, with no line reported.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <opossvc/reg_import.h>
#include <opossvc/util.h>
#include <opossvc/win32/registry.h>

#include "fuzz/fuzz_support.h"
#include "tools/oposreg/key_path.h"
#include "tools/oposreg/regedit4_writer.h"
#include "tools/oposreg/registry_tree.h"

namespace {

using opossvc::fuzz::Check;
using opossvc::fuzz::InputReader;
using opossvc::fuzz::Store;
namespace oposreg = opossvc::oposreg;

// The tree below `root` as text that compares whole trees.
std::string Snapshot(const oposreg::KeyPath& root, std::vector<oposreg::RegKey>* keys) {
  keys->clear();
  if (oposreg::ReadKeyTree(root, keys) != ERROR_SUCCESS) return "<none>";
  std::string out;
  oposreg::KeyPaths paths;
  for (const oposreg::RegKey& key : *keys) {
    out += "[" + paths.Next(key) + "]\n";
    for (const oposreg::RegValue& value : key.values) {
      out += value.name + "|" + std::to_string(value.type) + "|" + value.data + "\n";
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Store();
  InputReader in(data, size);
  const std::string root = in.Byte() & 1 ? "HARDWARE\\DEVICEMAP\\SERIALCOMM" : "SOFTWARE\\OLEforRetail";
  std::vector<std::string> keys = {root};
  HKEY made = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, root.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &made, nullptr) != ERROR_SUCCESS) {
    return 0;
  }
  RegCloseKey(made);
  for (int op = 0; op < 64 && in.remaining() > 0; ++op) {
    const std::string& parent = keys[in.Byte() % keys.size()];
    if (in.Byte() & 1) {
      const std::string name = in.Bytes(40);
      if (name.empty() || name.find('\\') != std::string::npos) continue;
      HKEY key = nullptr;
      const std::string path = parent + "\\" + name;
      if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          &key, nullptr) == ERROR_SUCCESS) {
        RegCloseKey(key);
        keys.push_back(path);
      }
    } else {
      const std::string name = in.Bytes(40);
      const uint8_t kind = in.Byte();
      const DWORD type = kind < 240 ? kind % 12 : in.Dword();
      // A byte that is no NUL after the data, so that its size is taken as given.
      const std::string bytes = in.Bytes(200) + "x";
      HKEY key = nullptr;
      if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, parent.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                          nullptr, &key, nullptr) != ERROR_SUCCESS) {
        continue;
      }
      RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                     static_cast<DWORD>(bytes.size() - 1));
      RegCloseKey(key);
    }
  }

  oposreg::KeyPath path;
  std::string error;
  Check(oposreg::ParseKeyPath("HKEY_LOCAL_MACHINE\\" + root, &path, &error), "root path");
  std::vector<oposreg::RegKey> tree;
  const std::string before = Snapshot(path, &tree);
  if (oposreg::ExportProblems(tree).empty()) {
    const std::string file = Store().root() + "/round_trip.reg";
    FILE* out = std::fopen(file.c_str(), "wb");
    if (out == nullptr) return 0;
    const bool written = oposreg::WriteRegedit4(tree, [out](std::string_view text) {
      return std::fwrite(text.data(), 1, text.size(), out) == text.size();
    });
    std::fclose(out);
    Check(written, "export written");
    Check(RegDeleteTreeA(HKEY_LOCAL_MACHINE, root.c_str()) == ERROR_SUCCESS, "tree deleted");
    const opossvc::RegImportReport report =
        opossvc::ImportRegFile(file.c_str(), opossvc::RegImportOptions::All());
    Check(report.problems.empty(), "the import of an export reported a line");
    Check(Snapshot(path, &tree) == before, "the import of an export gave another tree");
  }
  PurgeRegKey(HKEY_LOCAL_MACHINE, "SOFTWARE");
  PurgeRegKey(HKEY_LOCAL_MACHINE, "HARDWARE");
  return 0;
}
