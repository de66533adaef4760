#include "tools/oposreg/device_check.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <chrono>
#include <functional>
#include <thread>

#include <opossvc/opos.h>
#include <opossvc/registry.h>
#include <opossvc/win32/comm.h>
#include <opossvc/win32/files.h>
#include <opossvc/win32/registry.h>

#include "portdrv/line_mode.h"
#include "portdrv/port_settings.h"
#include "tools/oposreg/posix/port_holders.h"
#include "tools/oposreg/registry_tree.h"
#include "tools/oposreg/serial_ports.h"
#include "tools/oposreg/store_access.h"

namespace opossvc::oposreg {
namespace {

using detail::PortSettings;

constexpr char kServiceOpos[] = "SOFTWARE\\OLEforRetail\\ServiceOPOS";
constexpr char kServiceOposArg[] = "HKLM\\SOFTWARE\\OLEforRetail\\ServiceOPOS";
// COM1 to COM10: the ports the serial driver opens.
constexpr int kDriverPorts = static_cast<int>(detail::kPortCount);
// How often and how far apart the lines are read before power counts as off.
constexpr int kLineReads = 10;
constexpr int kLineReadPause = 25;  // ms

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// How `name` stands in the class key `cls`: a device key, a logical name
// (its target in `target`), or neither.
enum class NameKind { kNone, kDevice, kLogical };
NameKind KindOf(const std::string& cls, const std::string& name, std::string* target) {
  const std::string path = std::string(kServiceOpos) + "\\" + cls;
  HKEY key = nullptr;
  if (!name.empty() &&
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, (path + "\\" + name).c_str(), 0, KEY_READ, &key) ==
          ERROR_SUCCESS) {
    RegCloseKey(key);
    return NameKind::kDevice;
  }
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return NameKind::kNone;
  }
  std::vector<RegValue> values;
  ReadKeyValues(key, &values);
  RegCloseKey(key);
  for (const RegValue& value : values) {
    if (value.type == REG_SZ && !value.name.empty() &&
        CString(value.name.c_str()).CompareNoCase(name.c_str()) == 0) {
      *target = value.data.substr(0, value.data.find('\0'));
      return NameKind::kLogical;
    }
  }
  return NameKind::kNone;
}

std::string LineStates(DWORD status) {
  const struct {
    DWORD bit;
    const char* name;
  } lines[] = {{MS_CTS_ON, "CTS"}, {MS_DSR_ON, "DSR"}, {MS_RLSD_ON, "RLSD"}, {MS_RING_ON, "RI"}};
  std::string text;
  for (const auto& line : lines) {
    text += std::string(text.empty() ? "" : ", ") + line.name + ((status & line.bit) ? " on" : " off");
  }
  return text;
}

class Checker {
 public:
  Checker(std::string cls, std::string name) : class_(std::move(cls)), name_(std::move(name)) {}
  ~Checker() {
    if (port_ != INVALID_HANDLE_VALUE) CloseHandle(port_);
  }

  std::vector<CheckStep> Run() {
    struct Step {
      const char* id;
      const char* title;
      void (Checker::*run)(CheckStep*);
    };
    static const Step kSteps[] = {
        {"logical-name", "logical name", &Checker::LogicalName},
        {"device-key", "device key", &Checker::DeviceKey},
        {"service-object", "service object", &Checker::ServiceObject},
        {"port-name", "port name", &Checker::PortName},
        {"device-path", "device path", &Checker::DevicePath},
        {"node", "device node", &Checker::Node},
        {"permission", "permission", &Checker::Permission},
        {"holder", "other holders", &Checker::Holders},
        {"open", "open with settings", &Checker::Open},
        {"power", "lines and power", &Checker::Power},
    };
    std::vector<CheckStep> steps;
    bool failed = false;
    for (const Step& step : kSteps) {
      CheckStep result;
      result.id = step.id;
      result.title = step.title;
      if (!failed) {
        result.result = StepResult::kPass;
        (this->*step.run)(&result);
        failed = result.result == StepResult::kFail;
      }
      steps.push_back(std::move(result));
    }
    return steps;
  }

 private:
  static void Fail(CheckStep* step, std::string detail, std::string fix) {
    step->result = StepResult::kFail;
    step->detail = std::move(detail);
    step->fix = std::move(fix);
  }

  std::string ClassArg() const { return Quoted(std::string(kServiceOposArg) + "\\" + class_); }
  std::string DeviceArg() const {
    return Quoted(std::string(kServiceOposArg) + "\\" + device_id_);
  }

  void LogicalName(CheckStep* step) {
    std::string error;
    if (!CheckStoreForReading(&error)) return Fail(step, error, "choose the store with --root DIR");
    if (class_.empty() && !FindClass(step)) return;
    const unsigned long code = CRegistryInfo().ConvKey(class_.c_str());
    if (code < 1 || code > KC_CLASS_COUNT) {
      return Fail(step, "\"" + class_ + "\" is no OPOS device class",
                  "name the device by its class and name (\"oposreg devices\" lists them)");
    }
    std::string target;
    switch (KindOf(class_, name_, &target)) {
      case NameKind::kDevice:
        step->detail = name_ + " is a device key of " + class_;
        return;
      case NameKind::kLogical:
        step->detail = name_ + " is a logical name of " + class_ + " for " + target;
        return;
      case NameKind::kNone:
        return Fail(step, "no device or logical name \"" + name_ + "\" in class " + class_,
                    "\"oposreg devices " + class_ + "\" lists its devices and names; add the "
                    "name with: oposreg set " + ClassArg() + " " + Quoted(name_) + " sz DEVICE");
    }
  }

  // Finds the class that holds the name when none was given.
  bool FindClass(CheckStep* step) {
    HKEY service_opos = nullptr;
    std::vector<std::string> classes;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceOpos, 0, KEY_READ, &service_opos) ==
        ERROR_SUCCESS) {
      ReadSubKeyNames(service_opos, &classes);
      RegCloseKey(service_opos);
    }
    std::vector<std::string> found;
    for (const std::string& cls : classes) {
      std::string target;
      if (KindOf(cls, name_, &target) != NameKind::kNone) found.push_back(cls);
    }
    if (found.size() == 1) {
      class_ = found[0];
      return true;
    }
    if (found.empty()) {
      Fail(step, "no class holds a device or logical name \"" + name_ + "\"",
           "\"oposreg devices\" lists the devices and names of every class; import the "
           "device's .reg file (oposreg import FILE.reg) or add the name with oposreg set");
    } else {
      std::string list;
      for (const std::string& cls : found) list += (list.empty() ? "" : ", ") + cls;
      Fail(step, "\"" + name_ + "\" names devices in several classes: " + list,
           "give the class: oposreg check " + found[0] + " " + Quoted(name_));
    }
    return false;
  }

  void DeviceKey(CheckStep* step) {
    const std::string text = class_ + "\\" + name_;
    if (!registry_.GetDeviceInfo(text.c_str(), 0)) {
      return Fail(step,
                  "\"" + name_ + "\" leads to no device key: its chain of logical names ends "
                  "at a name that is neither a key nor a logical name, or runs in a loop",
                  "point it at a device key of " + class_ + ": oposreg set " + ClassArg() + " " +
                      Quoted(name_) + " sz DEVICE (\"oposreg devices " + class_ +
                      "\" lists them)");
    }
    device_id_ = registry_.m_strDeviceID.GetString();
    step->detail = "HKLM\\" + std::string(kServiceOpos) + "\\" + device_id_;
  }

  void ServiceObject(CheckStep* step) {
    CString so, file;
    const unsigned long device = registry_.m_dwDevKey;
    if (!registry_.GetString(device, "SOName", so) || so.IsEmpty()) {
      registry_.GetString(device, "", so);
    }
    if (so.IsEmpty()) {
      return Fail(step, "the device key names no service object (its default value is empty)",
                  "oposreg set " + DeviceArg() + " @ sz MAKER.SERVICEOBJECT");
    }
    registry_.GetString(device, "Service", file);
    step->detail = "service object " + std::string(so.GetString()) +
                   (file.IsEmpty() ? "" : " in " + std::string(file.GetString()));
  }

  void PortName(CheckStep* step) {
    const std::string port = registry_.m_strPortName.GetString();
    if (port.empty()) {
      return Fail(step, "the device key has no \"Port\" value",
                  "oposreg set " + DeviceArg() + " Port sz COM1 (\"oposreg ports\" shows the "
                  "COM names of the serial devices)");
    }
    port_number_ = ParseComNumber(port);
    if (port_number_ < 1 || port_number_ > kDriverPorts) {
      return Fail(step, "Port \"" + port + "\" is none of COM1 to COM10, the ports the serial "
                  "driver opens",
                  "set Port to the device's COM name: oposreg set " + DeviceArg() +
                      " Port sz COMn (\"oposreg ports\" shows them)");
    }
    port_name_ = "COM" + std::to_string(port_number_);
    step->detail = port_name_;
  }

  void DevicePath(CheckStep* step) {
    std::vector<MapEntry> map;
    if (LONG error = ReadComMap(&map)) {
      return Fail(step, std::string("HKLM\\") + kSerialCommKey + ": " + ErrorText(error), "");
    }
    path_ = MappedPath(map, port_number_);
    if (!path_.empty()) {
      step->detail = port_name_ + " is " + path_ + " (HKLM\\" + kSerialCommKey + ")";
      return;
    }
    const std::string uart = "/dev/ttyS" + std::to_string(port_number_ - 1);
    if (HasUart(uart)) {
      path_ = uart;
      step->detail = port_name_ + " is not in HKLM\\" + kSerialCommKey +
                     ": the driver opens " + uart + ", a serial port";
      return;
    }
    Fail(step,
         port_name_ + " is not in the serial-port map HKLM\\" + kSerialCommKey + ", and " + uart +
             ", which the driver opens then, is no serial port",
         "\"oposreg ports\" lists the serial devices with the COM names they get and "
         "\"oposreg ports --write\" records them; or record one: oposreg set "
         "'HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM' /dev/serial/by-id/... sz " + port_name_);
  }

  void Node(CheckStep* step) {
    if (stat(path_.c_str(), &node_) != 0) {
      return Fail(step, path_ + ": " + std::strerror(errno),
                  "plug the device in and switch it on; \"oposreg ports\" shows the devices "
                  "present (a new adapter has a new by-id name: record it for " + port_name_ +
                      ")");
    }
    if (!S_ISCHR(node_.st_mode)) {
      return Fail(step, path_ + " is not a device node",
                  "map " + port_name_ + " to the device node or its /dev/serial link");
    }
    char real[PATH_MAX];
    const bool resolved = realpath(path_.c_str(), real) != nullptr;
    const group* g = getgrgid(node_.st_gid);
    const passwd* owner = getpwuid(node_.st_uid);
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(node_.st_mode & 07777));
    step->detail = (resolved && path_ != real ? path_ + " -> " + real : path_) + " (owner " +
                   (owner ? owner->pw_name : std::to_string(node_.st_uid)) + ", group " +
                   (g ? g->gr_name : std::to_string(node_.st_gid)) + ", mode " + mode + ")";
  }

  void Permission(CheckStep* step) {
    const passwd* me = getpwuid(geteuid());
    const std::string user = me ? me->pw_name : std::to_string(geteuid());
    if (faccessat(AT_FDCWD, path_.c_str(), R_OK | W_OK, AT_EACCESS) == 0) {
      step->detail = user + " may read and write " + path_;
      return;
    }
    const group* g = getgrgid(node_.st_gid);
    const std::string group_name = g ? g->gr_name : std::to_string(node_.st_gid);
    std::string detail = user + " may not open " + path_;
    if ((node_.st_mode & 060) != 060) {
      return Fail(step, detail + ": its mode gives its group no read and write access",
                  "make the device's udev rule give group " + group_name +
                      " read and write access (MODE=\"0660\")");
    }
    if (InProcessGroups(node_.st_gid)) {
      return Fail(step, detail + " (" + std::strerror(EACCES) + ")",
                  "check the node's access control list and security modules");
    }
    if (me && InGroupDatabase(*me, node_.st_gid)) {
      return Fail(step, detail + ": " + user + " joined group " + group_name +
                            " after logging in",
                  "log in again (or start a shell with: newgrp " + group_name + ")");
    }
    Fail(step, detail + ": " + user + " is not in group " + group_name,
         "sudo usermod -aG " + group_name + " " + user + ", then log in again");
  }

  static bool InProcessGroups(gid_t gid) {
    if (getegid() == gid) return true;
    std::vector<gid_t> groups(static_cast<size_t>(std::max(getgroups(0, nullptr), 0)));
    const int count = getgroups(static_cast<int>(groups.size()), groups.data());
    groups.resize(static_cast<size_t>(std::max(count, 0)));
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
  }

  static bool InGroupDatabase(const passwd& user, gid_t gid) {
    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (getgrouplist(user.pw_name, user.pw_gid, groups.data(), &count) < 0) {
      groups.resize(static_cast<size_t>(count));
      if (getgrouplist(user.pw_name, user.pw_gid, groups.data(), &count) < 0) return false;
    }
    groups.resize(static_cast<size_t>(count));
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
  }

  void Holders(CheckStep* step) {
    const PortHolders found = FindPortHolders(node_.st_rdev);
    if (found.holders.empty()) {
      step->detail = "no process holds " + path_;
      if (found.unreadable > 0 && geteuid() != 0) {
        step->detail += " (" + std::to_string(found.unreadable) +
                        " processes of other users were not looked into: run as root to see "
                        "them)";
      }
      return;
    }
    std::string list, pids;
    for (const PortHolder& holder : found.holders) {
      list += std::string(list.empty() ? "" : ", ") + "process " + std::to_string(holder.pid) +
              (holder.command.empty() ? "" : " (" + holder.command + ")");
      pids += " " + std::to_string(holder.pid);
    }
    Fail(step, path_ + " is held by " + list,
         "end or stop what holds it (kill" + pids + "; for a service, systemctl stop it): "
         "the serial driver opens a port exclusively");
  }

  void Open(CheckStep* step) {
    std::vector<RegValue> values;
    HKEY key = nullptr;
    const std::string path = std::string(kServiceOpos) + "\\" + device_id_;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
      ReadKeyValues(key, &values);
      RegCloseKey(key);
    }
    std::string problems;
    for (const detail::LineSetting& setting : detail::kLineSettings) {
      auto value = std::find_if(values.begin(), values.end(), [&setting](const RegValue& v) {
        return CString(v.name.c_str()).CompareNoCase(setting.name) == 0;
      });
      std::string problem = setting.name;
      if (value == values.end()) {
        problem += " is missing";
      } else if (value->type != REG_DWORD || value->data.size() != 4) {
        problem += " is not a REG_DWORD";
      } else {
        LONG number = 0;
        std::memcpy(&number, value->data.data(), 4);
        if (number >= setting.low && number <= setting.high) continue;
        problem += " " + std::to_string(number) + " is outside " + std::to_string(setting.low) +
                   (setting.high == 0x7FFFFFFF ? " and more" : ".." + std::to_string(setting.high));
      }
      problems += (problems.empty() ? "" : "; ") + problem;
    }
    if (!problems.empty()) {
      return Fail(step, "the device's port settings are wrong: " + problems,
                  "set all eight as REG_DWORD (Baudrate 0..13, 6 is 9600; BitLength 0..1; "
                  "Parity 0..4; Stop 0..2; HandShake 0..4; XonXoff 0..1; InputBuf 32 and "
                  "more; OutputBuf 2 and more): oposreg set " + DeviceArg() + " NAME dword N");
    }
    if (long code = detail::ReadPortSettings(device_id_.c_str(), nullptr, &settings_)) {
      return Fail(step, "the serial driver refuses the device's settings (" +
                            std::to_string(code) + ")",
                  "\"oposreg get " + DeviceArg() + "\" shows them");
    }
    port_ = CreateFileA(port_name_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                        OPEN_EXISTING, FILE_FLAG_WRITE_THROUGH | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (port_ == INVALID_HANDLE_VALUE || port_ == nullptr) {
      port_ = INVALID_HANDLE_VALUE;
      const DWORD error = GetLastError();
      if (error == ERROR_ACCESS_DENIED) {
        return Fail(step, port_name_ + " is busy: another program holds " + path_ +
                              " exclusively",
                    "end the program that holds it");
      }
      if (error == ERROR_FILE_NOT_FOUND) {
        return Fail(step, path_ + " is no serial device", "map " + port_name_ +
                                                              " to the device's serial node");
      }
      return Fail(step, "opening " + port_name_ + " failed (error " + std::to_string(error) + ")",
                  error == ERROR_PRIVILEGE_NOT_HELD ? "see the permission step" : "");
    }
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    GetCommState(port_, &dcb);
    detail::ApplyLineSettings(settings_, &dcb);
    if (!SetCommState(port_, &dcb) ||
        !SetupComm(port_, static_cast<DWORD>(settings_.InputBuf),
                   static_cast<DWORD>(settings_.OutputBuf))) {
      return Fail(step, path_ + " refuses the device's settings (error " +
                            std::to_string(GetLastError()) + ")",
                  "choose settings the device supports: oposreg set " + DeviceArg() +
                      " NAME dword N");
    }
    static const char* const kParity[] = {"none", "odd", "even", "mark", "space"};
    step->detail = port_name_ + " opened: " + std::to_string(dcb.BaudRate) + " baud, " +
                   std::to_string(dcb.ByteSize) + " data bits, parity " +
                   kParity[dcb.Parity % 5] + ", " + (dcb.StopBits == 2 ? "2 stop bits" : "1 stop bit") +
                   ", handshake mode " + std::to_string(settings_.HandShake) +
                   (settings_.XonXoff ? ", XON/XOFF" : "");
  }

  void Power(CheckStep* step) {
    const detail::WatchedLines watched =
        detail::WatchedLinesFor(settings_.HandShake, settings_.Hydra);
    std::string names;
    for (int i = 0; i < watched.count; ++i) {
      names += std::string(names.empty() ? "" : " and ") + LineName(watched.lines[i]);
    }
    auto lines_off = [&watched](DWORD status) {
      std::string off;
      for (int i = 0; i < watched.count; ++i) {
        const bool cts = watched.lines[i] == detail::Line::kCts;
        if ((status & (cts ? MS_CTS_ON : MS_DSR_ON)) == 0) {
          off += std::string(off.empty() ? "" : " and ") + LineName(watched.lines[i]);
        }
      }
      return off;
    };
    // The open has just raised the mode's lines: a device answers within
    // moments, so its lines are read a few times before power counts as off.
    DWORD status = 0;
    std::string off;
    for (int attempt = 0;; ++attempt) {
      if (!GetCommModemStatus(port_, &status)) {
        return Fail(step, "the modem lines cannot be read (error " +
                              std::to_string(GetLastError()) + "): the device is gone",
                    "plug the device in again");
      }
      off = lines_off(status);
      if (off.empty() || attempt == kLineReads) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(kLineReadPause));
    }
    const std::string lines = LineStates(status);
    if (watched.count == 0) {
      step->detail = lines + "; handshake mode " + std::to_string(settings_.HandShake) +
                     " reports no power state";
    } else if (off.empty()) {
      step->detail = lines + "; power online (" + names + " on)";
    } else {
      Fail(step, lines + "; power off or offline: " + off + " off",
           "switch the device on and check its cable (in handshake mode " +
               std::to_string(settings_.HandShake) + " the power state comes from " + names +
               ")");
    }
  }

  static const char* LineName(detail::Line line) {
    return line == detail::Line::kCts ? "CTS" : "DSR";
  }

  std::string class_;
  std::string name_;
  std::string device_id_;  // "<class>\<device key>"
  CRegistryInfo registry_;
  int port_number_ = 0;
  std::string port_name_;  // "COMn"
  std::string path_;       // the device path of the port
  struct stat node_ {};
  PortSettings settings_;
  HANDLE port_ = INVALID_HANDLE_VALUE;
};

}  // namespace

std::vector<CheckStep> CheckDevice(const std::string& device_class, const std::string& name) {
  return Checker(device_class, name).Run();
}

}  // namespace opossvc::oposreg
