// Where the Win32 subset keeps its files on POSIX, and how Windows paths map
// onto that layout.
//
// Every setting is read from the environment at each call, never cached, so
// that a test can move the whole system to a private folder by changing
// OPOS_ROOT. Reading the environment is not synchronised with setenv(); the
// settings are meant to be changed only while no other thread uses them.
// ReadSetting is the platform layer's one reader of the environment.
//
//   OPOS_ROOT      folder of the registry store and of drive C:; default
//                  /var/lib/opos. Trailing slashes are dropped.
//   OPOS_DRIVE_X   folder that drive X: maps to (X is the upper-case letter).
//                  Without it, C: is $OPOS_ROOT/drive_c, Z: is / and every
//                  other drive is unmapped. An empty value unmaps the drive.
#ifndef OPOSSVC_PLATFORM_POSIX_FILES_ENVIRONMENT_H_
#define OPOSSVC_PLATFORM_POSIX_FILES_ENVIRONMENT_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace opossvc::detail {

// The value of the environment variable `name`, or null when it is unset.
// A process running with privileges that its caller lacks (setuid, setgid,
// file capabilities) sees every setting unset: its caller's environment
// must not choose which store it writes, which folders its drives reach or
// how it converts text.
const char* ReadSetting(const char* name);

// Where ReadSetting last found a variable in the environment, or that it
// found it nowhere, for a caller that reads the same variable very often.
struct SettingHint {
  char** environment = nullptr;  // the array last looked in; null: none yet
  bool found = false;
  size_t index = 0;              // found: its entry; else the array's length
  const char* entry = nullptr;   // found: "NAME=value"; else the last entry
};

// ReadSetting(name), answered from `hint` while the variable stays where it
// was found, or while the environment is as it was when it was missing (the
// same array, as long, with the same last entry); else by the same walk of
// the environment as ReadSetting.
const char* ReadSetting(const char* name, SettingHint* hint);

// The system's data folder: $OPOS_ROOT, or /var/lib/opos when it is unset or
// empty.
std::string OposRoot();

// The folder that drive `letter` (either case) maps to, without a trailing
// slash except for "/" itself; empty when the drive is unmapped or `letter`
// is no letter.
std::string DriveRoot(char letter);

// The POSIX path for a Windows path:
//   "X:\a\b", "X:a", "X:"   below DriveRoot('X'); empty if X: is unmapped
//   "\a\b"                  below drive C:
//   "/a/b", "/a\b"          a POSIX path, its separators turned into '/'
//   "a\b", "..\a"           relative, separators turned into '/'
// Both '\' and '/' separate, runs of separators count as one. On a drive, "."
// and ".." are resolved as Windows does: ".." at the drive root stays at the
// root, so a path can never leave its drive's folder. Device names
// ("\\.\COM1", "\\?\...") and UNC paths ("\\server\share") name no file and
// give an empty result, as does an empty path.
std::string MapPath(std::string_view windows_path);

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_FILES_ENVIRONMENT_H_
