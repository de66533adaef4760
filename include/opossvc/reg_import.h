// Importing registry export files with options and a report of every line
// that failed. ImportRegistry (util.h) is this importer with no option on.
//
//   opossvc::RegImportOptions options = opossvc::RegImportOptions::All();
//   opossvc::RegImportReport report = opossvc::ImportRegFile("setup.reg", options);
//   for (const auto& problem : report.problems)
//     fprintf(stderr, "setup.reg:%zu: %s\n", problem.line, problem.reason.c_str());
//
// With no option on, a file is read as ImportRegistry documents it: REGEDIT4
// text in the code page; sections below SOFTWARE\OLEforRetail picked by key
// code; "hex(N):" written as REG_BINARY; no deletion carried out.
//
// The options:
//   unicode      "Windows Registry Editor Version 5.00" files as well: UTF-16LE
//                with a byte-order mark, UTF-8 with or without one (found
//                from the file's start: a byte-order mark, or else the
//                version 5 header as the first line means UTF-8; any other
//                file is in the code page, as REGEDIT4 files are).
//                Text is converted to the code page; a line holding a
//                character that the code page cannot carry fails. In such a
//                file "hex(1|2|7):" data is UTF-16LE text and is converted too.
//   typed_hex    "hex(N):" (N hexadecimal: 0 none, 2 expand string, 7 multi-
//                string, b qword, ...) writes a value of type N.
//   literal_keys Each section names the key it writes, which is created when
//                missing, as it stands: HKEY_LOCAL_MACHINE (or HKLM) followed by
//                SOFTWARE\OLEforRetail (the OPOS database), by
//                SOFTWARE\WOW6432Node\OLEforRetail (the database as a 64-bit
//                Windows exports it: written to SOFTWARE\OLEforRetail), or by
//                HARDWARE\DEVICEMAP\SERIALCOMM (the serial-port map), letter case
//                ignored. Any key below them may be named: device classes
//                beyond the key-code table, devices that share a name with a
//                logical name. Other sections are not imported and their
//                values fail. Nothing else is created (not the base keys
//                ImportRegistry makes). Deletions are carried out too:
//                "[-KEY]" deletes KEY with everything below it and "Name"=-
//                deletes a value; either one missing already is no failure.
// With all three, what `oposreg export` writes of the database or the port
// map reads back as the same keys, names, types and data.
//
// Either way, a Ctrl-Z ends the text (as text mode does on Windows); bytes
// after it are reported as a problem that does not set the failure bit.
// Writes are grouped into one registry transaction per run of whole sections,
// committed when a section begins after about 100 ms of writing and at the
// end: a process killed during an import leaves whole sections of the file
// written (or none), never part of one, and other writers wait at most
// about that long (longer only for one section that takes longer itself).
#ifndef OPOSSVC_REG_IMPORT_H_
#define OPOSSVC_REG_IMPORT_H_

#include <cstddef>
#include <string>
#include <vector>

namespace opossvc {

struct RegImportOptions {
  bool unicode = false;
  bool typed_hex = false;
  bool literal_keys = false;

  static RegImportOptions All() { return RegImportOptions{true, true, true}; }
};

struct RegImportProblem {
  size_t line = 0;     // 1 for the first line; 0 for the file as a whole
  std::string text;    // the line (continuations joined), its first 200 bytes
  std::string reason;  // what failed, as a sentence without a final stop
};

struct RegImportReport {
  // OPOSSVC_IMPORT_WRITTEN and/or OPOSSVC_IMPORT_FAILED (util.h).
  unsigned result = 0;
  // The file could not be read at all (missing, unreadable, a directory, a
  // device, a FIFO or another file that is not regular, locked by another
  // program): then it is the only problem, nothing was written and the
  // failure bit is set.
  bool file_error = false;
  std::vector<RegImportProblem> problems;  // in the order of the file
};

// Imports the file at `path` (a Windows path or a POSIX one, as CFile opens).
RegImportReport ImportRegFile(const char* path, const RegImportOptions& options);

}  // namespace opossvc

#endif  // OPOSSVC_REG_IMPORT_H_
