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
// Strings are quoted with "\" before every "\" and '"'. REG_SZ data that a
// quoted string cannot carry unchanged (a NUL before the end, a line break)
// and every type other than REG_SZ, REG_DWORD and REG_BINARY is written as
// hex(<type>):..., the export format's notation for it. Long byte lists are
// continued on further lines ending in "\".
#ifndef OPOSSVC_TOOLS_OPOSREG_REGEDIT4_WRITER_H_
#define OPOSSVC_TOOLS_OPOSREG_REGEDIT4_WRITER_H_

#include <string>
#include <string_view>
#include <vector>

#include "tools/oposreg/registry_tree.h"

namespace opossvc::oposreg {

struct ExportText {
  std::string text;                  // the whole file, "\n" line ends
  std::vector<std::string> skipped;  // "<key>: <value>" for values left out
};

// The file for `keys` (as ReadKeyTree gives them). A value whose name holds a
// line break cannot be written in this format; it is left out and listed.
ExportText FormatRegedit4(const std::vector<RegKey>& keys);

// One value line, without its line end; false when the value cannot be written.
bool FormatValueLine(const RegValue& value, std::string* line);

// `text` in double quotes with "\" and '"' escaped.
std::string QuoteText(std::string_view text);

// The section name for a key path: the path itself, with the OPOS database
// root spelled "SOFTWARE\OLEforRetail" as the importer looks for it (keys
// are case-insensitive, so this names the same key).
std::string SectionName(std::string_view path);

}  // namespace opossvc::oposreg

#endif  // OPOSSVC_TOOLS_OPOSREG_REGEDIT4_WRITER_H_
