#include "tools/oposreg/commands.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include <opossvc/afx/stdiofile.h>
#include <opossvc/registry.h>
#include <opossvc/testing/temp_registry.h>

#include "tests/support/scratch_folder.h"

namespace opossvc::oposreg {
namespace {

using Command = int (*)(const Invocation&);

int Call(Command run, std::vector<std::string> args, Invocation invocation = {}) {
  invocation.args = std::move(args);
  return run(invocation);
}

Invocation With(bool Invocation::*flag) {
  Invocation invocation;
  invocation.*flag = true;
  return invocation;
}

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A FIFO, whose opening would wait for a writer; Windows has none.
#ifdef _WIN32
bool MakeFifo(const std::string&) { return false; }
#else
bool MakeFifo(const std::string& path) { return mkfifo(path.c_str(), 0600) == 0; }
#endif

constexpr char kDevice[] = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner\\S1";
constexpr char kDeviceArg[] = "HKLM\\SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner\\S1";

TEST(OposregCommands, SetGetDeleteAndTheirFailures) {
  testing::TempRegistry registry;
  const std::tuple<const char*, Command, std::vector<std::string>, int> steps[] = {
      // Reading commands refuse a store that does not exist yet.
      {"tree before any store", RunTree, {}, kExitFailure},
      {"get before any store", RunGet, {kDeviceArg}, kExitFailure},
      {"export before any store", RunExport, {}, kExitFailure},
      {"string", RunSet, {kDeviceArg, "Port", "REG_SZ", "COM3"}, kExitOk},
      {"default value", RunSet, {kDeviceArg, "@", "sz", "S1.SO"}, kExitOk},
      {"number", RunSet, {kDeviceArg, "Baudrate", "dword", "6"}, kExitOk},
      {"bad type", RunSet, {kDeviceArg, "X", "REG_LINK", "x"}, kExitUsage},
      {"no root", RunSet, {"SOFTWARE\\X", "X", "sz", "x"}, kExitUsage},
      {"a root itself", RunSet, {"HKLM", "X", "sz", "x"}, kExitUsage},
      {"an empty component", RunSet, {"HKLM\\SOFTWARE\\\\X", "X", "sz", "x"}, kExitUsage},
      {"get one", RunGet, {kDeviceArg, "port"}, kExitOk},
      {"get a missing value", RunGet, {kDeviceArg, "Nope"}, kExitFailure},
      {"devices of a missing class", RunDevices, {"MSR"}, kExitFailure},
      {"delete a value", RunDelete, {kDeviceArg, "Port"}, kExitOk},
      {"delete it again", RunDelete, {kDeviceArg, "Port"}, kExitFailure},
      {"delete a root", RunDelete, {"HKLM"}, kExitUsage},
      {"a key above the database, unasked", RunDelete, {"HKLM\\software"}, kExitFailure},
      {"another device", RunSet, {kDeviceArg + std::string("2"), "Port", "sz", "COM4"}, kExitOk},
      {"a device key needs no --yes", RunDelete, {kDeviceArg + std::string("2")}, kExitOk},
  };
  for (const auto& [what, run, args, status] : steps) {
    EXPECT_EQ(Call(run, args), status) << what;
  }
  DWORD type = 0;
  EXPECT_EQ(registry.GetValue(HKEY_LOCAL_MACHINE, kDevice, "", &type), std::string("S1.SO\0", 6));
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(registry.GetValue(HKEY_LOCAL_MACHINE, kDevice, "Baudrate"),
            std::string("\x06\0\0\0", 4));
  EXPECT_FALSE(registry.GetValue(HKEY_LOCAL_MACHINE, kDevice, "Port"));

  // A whole class goes only when asked for; with no terminal to ask on.
  const std::string scanners = "HKLM\\SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner";
  EXPECT_EQ(Call(RunDelete, {scanners}), kExitFailure);
  EXPECT_TRUE(registry.KeyExists(HKEY_LOCAL_MACHINE, kDevice));
  EXPECT_EQ(Call(RunDelete, {scanners}, With(&Invocation::yes)), kExitOk);
  EXPECT_FALSE(registry.KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner"));
  EXPECT_TRUE(registry.KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\OLEforRetail\\ServiceOPOS"));
}

// Files that cannot be imported fail at once with their cause, whatever
// they are; a failed line is named by its file and number.
TEST(OposregCommands, ImportReportsUnreadableFilesAndFailedLines) {
  testing::TempRegistry registry;
  test_support::ScratchFolder folder;
  const std::string root = folder.Path();
  const std::string device = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner\\S1]\n";
  std::ofstream(root + "/good.reg") << "REGEDIT4\n\n" << device << "\"Port\"=\"COM4\"\n\x1a";
  std::ofstream(root + "/mixed.reg") << "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n\"A\"=\"B\"\n"
                                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner\\S2]\n"
                                        "\"Port\"=\"COM6\"\n";
  std::ofstream(root + "/after_eof.reg") << device << "\"Baud\"=dword:6\n\x1a\"Lost\"=\"x\"\n";
  std::ofstream(root + "/locked.reg") << device;
  std::ofstream(root + "/unreadable.reg") << device;
  std::filesystem::permissions(root + "/unreadable.reg", std::filesystem::perms::none);
  // Root, and Windows (where no permission bits forbid reading), read it still.
  const bool readable = std::ifstream(root + "/unreadable.reg").good();
  CFile holder;
  ASSERT_TRUE(holder.Open((root + "/locked.reg").c_str(), CFile::modeReadWrite | CFile::shareExclusive));
  std::vector<std::tuple<std::string, int, std::string>> cases = {
      {root + "/missing.reg", kExitFailure, "missing.reg: no such file"},
      {root, kExitFailure, ": is a directory"},
      {root + "/locked.reg", kExitFailure,
       "locked.reg: cannot be read: another program holds it locked"},
      {root + "/unreadable.reg", readable ? kExitOk : kExitFailure,
       readable ? "" : "unreadable.reg: cannot be read: permission denied"},
      {root + "/good.reg", kExitOk, ""},
      {root + "/mixed.reg", kExitFailure,
       "mixed.reg:3: no key to write to: the section is outside "
       "HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail"},
      {root + "/after_eof.reg", kExitFailure, "after_eof.reg:3: the text ends at a Ctrl-Z byte"},
  };
  if (MakeFifo(root + "/fifo.reg")) {
    cases.emplace_back(root + "/fifo.reg", kExitFailure, "fifo.reg: is not a regular file");
  }
  for (const auto& [file, status, message] : cases) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(Call(RunImport, {file}), status) << file;
    const std::string complaint = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(complaint.find(message), std::string::npos) << complaint;
  }
  EXPECT_EQ(registry.GetValue(HKEY_LOCAL_MACHINE, kDevice, "Port"), std::string("COM4\0", 5));
  EXPECT_EQ(registry.GetValue(HKEY_LOCAL_MACHINE, kDevice, "Baud"), std::string("\6\0\0\0", 4));
  EXPECT_FALSE(registry.GetValue(HKEY_LOCAL_MACHINE, kDevice, "Lost"));
  std::filesystem::permissions(root + "/unreadable.reg", std::filesystem::perms::owner_all);
  // The lines that could be imported were.
  EXPECT_TRUE(registry.KeyExists(HKEY_LOCAL_MACHINE,
                                 "SOFTWARE\\OLEforRetail\\ServiceOPOS\\Scanner\\S2"));
}

TEST(OposregCommands, ExportNeverWritesIntoTheStore) {
  testing::TempRegistry registry;
  registry.SetString(HKEY_LOCAL_MACHINE, kDevice, "Port", "COM3");
  const std::string root = registry.root();
  const std::string store = registry.store_path();
  std::filesystem::create_symlink(store, root + "/link.reg");
  std::filesystem::create_directory(root + "/sub");
  const std::pair<const char*, std::string> stores[] = {
      {"the store", store},
      {"its log", store + "-wal"},
      {"a link to it", root + "/link.reg"},
      {"another spelling", root + "/sub/../registry.db"},
  };
  auto contents = [&store] {
    // Readers may move their marks in the index file, but never its size.
    return FileBytes(store) + "|" + FileBytes(store + "-wal") + "|" +
           std::to_string(std::filesystem::file_size(store + "-shm"));
  };
  const std::string before = contents();
  for (const auto& [what, file] : stores) {
    EXPECT_EQ(Call(RunExport, {kDeviceArg, file}, With(&Invocation::force)), kExitFailure) << what;
    EXPECT_EQ(contents(), before) << what;
  }
  EXPECT_EQ(registry.GetValue(HKEY_LOCAL_MACHINE, kDevice, "Port"), std::string("COM3\0", 5));
}

TEST(OposregCommands, ExportReplacesAFileOnlyWhenForcedAndOnlyWhole) {
  testing::TempRegistry registry;
  registry.SetString(HKEY_LOCAL_MACHINE, kDevice, "Port", "COM3");
  test_support::ScratchFolder folder;
  const std::string file = folder.PathOf("out.reg");
  EXPECT_EQ(Call(RunExport, {kDeviceArg, file}), kExitOk);
  const auto exported = std::filesystem::file_size(file);
  EXPECT_GT(exported, 0u);
  std::filesystem::resize_file(file, 1);
  EXPECT_EQ(Call(RunExport, {kDeviceArg, file}), kExitFailure);  // exists: not without --force
  EXPECT_EQ(std::filesystem::file_size(file), 1u);
  EXPECT_EQ(Call(RunExport, {kDeviceArg, file}, With(&Invocation::force)), kExitOk);
  EXPECT_EQ(std::filesystem::file_size(file), exported);
  // A key whose name would break its section line: the whole export is
  // refused, saying why, and the file left as it was.
  registry.SetString(HKEY_LOCAL_MACHINE, std::string(kDevice) + "\\a\nb", "x", "y");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(Call(RunExport, {kDeviceArg, file}, With(&Invocation::force)), kExitFailure);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("S1\\a\\nb: its name holds a line break"),
            std::string::npos);
  EXPECT_EQ(std::filesystem::file_size(file), exported);
}

// Logical names are shown with the device the lookup finds for each.
TEST(OposregCommands, DevicesResolvesLogicalNamesAsTheLookupDoes) {
  testing::TempRegistry registry;
  const std::string cls = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter";
  registry.CreateKey(HKEY_LOCAL_MACHINE, cls + "\\Dev1");
  const std::pair<const char*, const char*> names[] = {
      {"Front", "Dev1"},
      {"Chain", "c0"},
      {"Loop", "B"},
      {"B", "b"},
      {"Gone", "Nowhere"},
      {"Empty", ""},
      {"POSPrinter\\Alias", "x"},
      {"Scanner\\Front", "Dev1"},
      {"Alias", "Front"},
  };
  for (const auto& [name, data] : names) registry.SetString(HKEY_LOCAL_MACHINE, cls, name, data);
  ::testing::internal::CaptureStdout();
  const int status = Call(RunDevices, {"POSPrinter"});
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(status, kExitOk);
  for (const auto& [name, data] : names) {
    const CString found = CRegistryInfo().FindDevice(name, KC_POSPRINTER);
    const std::string line =
        "  " + std::string(name) + " -> " +
        (found.IsEmpty() ? std::string(data) + " (no such device)" : std::string(found)) + "\n";
    EXPECT_NE(out.find(line), std::string::npos) << line;
  }
}

TEST(OposregCommands, PortsWritesOnlyNewNamesAndKeepsRecordedOnes) {
  testing::TempRegistry registry;
  test_support::ScratchFolder folder;
  const std::string dev = folder.Path();
  std::ofstream(dev + "/ttyUSB0").put('x');
  std::ofstream(dev + "/ttyACM0").put('x');
  const char* map = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
  registry.SetString(HKEY_LOCAL_MACHINE, map, dev + "/ttyUSB0", "COM1");

  Invocation invocation;
  invocation.dev_dir = dev;
  EXPECT_EQ(RunPorts(invocation), kExitOk);
  EXPECT_FALSE(registry.GetValue(HKEY_LOCAL_MACHINE, map, dev + "/ttyACM0"));
  invocation.write = true;
  EXPECT_EQ(RunPorts(invocation), kExitOk);
  std::filesystem::remove_all(dev);
  EXPECT_EQ(registry.GetValue(HKEY_LOCAL_MACHINE, map, dev + "/ttyACM0"), std::string("COM2\0", 5));
  EXPECT_EQ(registry.GetValue(HKEY_LOCAL_MACHINE, map, dev + "/ttyUSB0"), std::string("COM1\0", 5));

  const std::pair<const char*, int> removals[] = {{"com1", kExitOk}, {"COM1", kExitFailure},
                                                  {"LPT1", kExitUsage}};
  for (const auto& [name, status] : removals) {
    Invocation removal;
    removal.remove = name;
    EXPECT_EQ(RunPorts(removal), status) << name;
  }
  EXPECT_FALSE(registry.GetValue(HKEY_LOCAL_MACHINE, map, dev + "/ttyUSB0"));
  EXPECT_TRUE(registry.GetValue(HKEY_LOCAL_MACHINE, map, dev + "/ttyACM0"));
}

}  // namespace
}  // namespace opossvc::oposreg
