// Writes registry keys in the REGEDIT4 export format that ImportRegistry
// reads back:
//
//   REGEDIT4
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\OLEforRetail\ServiceOPOS\Scanner\S1]
//   @="S1.ServiceObject"
//   "Port"="COM3"
//   "Baudrate"=dword:00000006
//   "Table"=hex:01,02,03,...,\     (continued on the next line)
//     ff
//
// Strings are quoted with "\" before every "\" and '"'. Long byte lists are
// continued on further lines ending in "\".
//
// Every value is written so that "oposreg import" (every option of
// reg_import.h on) gives it back as it was, type and bytes: REG_SZ data that
// a quoted string cannot carry (a line feed, a Ctrl-Z or a NUL before its
// end, no terminating NUL), REG_DWORD data that is not four bytes and every
// other type are written as hex(N). ImportRegistry itself reads hex(N) as
// REG_BINARY.
//
// A file that would come back different (a key name broken across lines)
// would write values into other keys: ExportProblems names what cannot be
// written, and an export with problems writes nothing. Not carried: key and
// value names holding a line feed, a carriage return, a Ctrl-Z (the end of a
// text file to the import) or a NUL; lines longer than the 4 MiB the import
// reads.
#ifndef OPOSSVC_TOOLS_OPOSREG_REGEDIT4_WRITER_H_
#define OPOSSVC_TOOLS_OPOSREG_REGEDIT4_WRITER_H_

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/oposreg/registry_tree.h"

namespace opossvc::oposreg {

// What in `keys` (as ReadKeyTree gives them) cannot be exported, one line a
// key or value: "<key>: <why>" or "<key>: value "<name>": <why>", with
// control characters shown escaped. Empty when everything can.
std::vector<std::string> ExportProblems(const std::vector<RegKey>& keys);

// Writes the file for `keys`, which ExportProblems found sound, handing it
// to `write` a section at a time; false as soon as `write` returns false.
bool WriteRegedit4(const std::vector<RegKey>& keys,
                   const std::function<bool(std::string_view)>& write);

// One value line, without its line end; false, with the reason in `why`
// when given, for a value that cannot be exported.
bool FormatValueLine(const RegValue& value, std::string* line, std::string* why = nullptr);

// `text` in double quotes with "\" and '"' escaped.
std::string QuoteText(std::string_view text);

// The section name for a key path: the path itself, with the OPOS database
// root spelled "SOFTWARE\OLEforRetail" as the importer looks for it (keys
// are case-insensitive, so this names the same key).
std::string SectionName(std::string_view path);

}  // namespace opossvc::oposreg

#endif  // OPOSSVC_TOOLS_OPOSREG_REGEDIT4_WRITER_H_
