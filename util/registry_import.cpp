// The registry export importer: ImportRegFile (reg_import.h), and
// ImportRegistry and SetRegistryValue (util.h) built on it.
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <opossvc/afx/stdiofile.h>
#include <opossvc/reg_import.h>
#include <opossvc/util.h>
#include <opossvc/win32/files.h>
#include <opossvc/win32/registry.h>
#include <opossvc/win32/time.h>

#include "platform/internal/registry_write_group.h"
#include "util/reg_file_lines.h"
#include "util/reg_file_syntax.h"

namespace opossvc::detail {
namespace {

constexpr DWORD kBaseKeys = 0xFFFFF000u;
constexpr size_t kShownText = 200;
// A write group is committed at the first section line after this long.
constexpr DWORD kGroupMs = 100;

bool IsSectionCode(unsigned long code) {
  return (code >= 1 && code <= KC_CLASS_COUNT) || code == KC_SERVICEOPOS || code == KC_SERVICEINFO;
}

// Splits the first component off `path`.
std::string TakeComponent(std::string& path) {
  size_t slash = path.find('\\');
  std::string first = path.substr(0, slash);
  path = slash == std::string::npos ? std::string() : path.substr(slash + 1);
  return first;
}

// The key code that value lines of the section are written to; 0 for none,
// with the reason in *why.
DWORD SelectSection(CRegistryInfo& registry, const Section& section, const char** why) {
  *why = "the section is outside HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail";
  if (!section.in_database) return 0;
  *why = "the section's key could not be opened";
  if (section.below_root.empty()) return registry.Open(KC_OLEFORRETAIL, TRUE) ? KC_OLEFORRETAIL : 0;
  std::string sub_path = section.below_root;
  unsigned long code = registry.ConvKey(TakeComponent(sub_path).c_str());
  if (code == KC_SERVICEOPOS && !sub_path.empty()) code = registry.ConvKey(TakeComponent(sub_path).c_str());
  // A device code or "AllDevices" would stand for whatever device the
  // registry object holds, not for a key that the section names.
  if (!IsSectionCode(code)) {
    *why = "the section names no key of the OPOS database (an unknown device class?)";
    return 0;
  }
  if (sub_path.empty()) return registry.Open(code, TRUE) ? static_cast<DWORD>(code) : 0;
  if (!registry.Open(sub_path.c_str(), code, TRUE)) return 0;
  return code == KC_SERVICEINFO ? KC_SERVICEINFO_SUBKEY : registry.m_dwDevKey;
}

bool IsHeader(const std::string& line, const char* header) {
  size_t length = std::char_traits<char>::length(header);
  if (line.size() != length) return false;
  for (size_t i = 0; i < length; ++i) {
    char a = line[i], b = header[i];
    if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
    if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 'a' + 'A');
    if (a != b) return false;
  }
  return true;
}

int WriteClassic(CRegistryInfo& registry, unsigned long code, ValueLine& value) {
  if (code == 0) return 0;
  return registry.SetValue(code, value.name.c_str(), value.type, value.data.data(),
                           static_cast<unsigned long>(value.data.size()));
}

std::string ErrorText(LONG error) { return "error " + std::to_string(error); }

// Why the file at `path` cannot be imported, before it is opened: a file
// that is not regular could block the open (a FIFO) or never end (a device).
const char* FileTypeProblem(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return nullptr;  // the open says why
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "is a directory, not a registry file";
  if (attributes & FILE_ATTRIBUTE_DEVICE) {
    return "is not a regular file (a device, FIFO or socket) and is not read";
  }
  return nullptr;
}

std::string OpenProblem(const CFileException& error) {
  switch (error.m_lOsError) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return "no such file";
    case ERROR_ACCESS_DENIED:
      return "cannot be read: permission denied";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return "cannot be read: another program holds it locked";
    default:
      return "cannot be opened (" + ErrorText(error.m_lOsError) + ")";
  }
}

class Importer {
 public:
  Importer(const RegImportOptions& options, RegImportReport* report)
      : options_(options), report_(*report) {}
  ~Importer() { CloseKey(); }
  Importer(const Importer&) = delete;
  Importer& operator=(const Importer&) = delete;

  void Run(CFile& file) {
    StartGroup(1);
    if (!options_.literal_keys) registry_ = std::make_unique<CRegistryInfo>(kBaseKeys, TRUE);
    RegFileLines lines(file, options_.unicode);
    RegFileLine line;
    for (;;) {
      try {
        if (!lines.Next(&line)) break;
      } catch (CException* e) {
        e->Delete();  // the file cannot be read on: what was read stays imported
        Fail(lines.end_line() + 1, "", "the file cannot be read beyond this line");
        break;
      }
      try {
        Line(line);
      } catch (CException* e) {
        e->Delete();
        Fail(line.number, line.text, "the line could not be imported");
      } catch (const std::bad_alloc&) {
        Fail(line.number, "", "out of memory");
      }
    }
    if (lines.bytes_after_end()) {
      report_.problems.push_back({lines.end_line(), "",
                                  "the text ends at a Ctrl-Z byte: what follows it was not read"});
    }
    EndGroup();
    // What was imported is made durable, as the registry object's close does.
    if (registry_) {
      registry_->Close(TRUE);
    } else {
      RegFlushKey(HKEY_LOCAL_MACHINE);
    }
    if (written_ > 0) report_.result |= OPOSSVC_IMPORT_WRITTEN;
  }

 private:
  void Fail(size_t number, std::string_view text, std::string reason) {
    report_.result |= OPOSSVC_IMPORT_FAILED;
    report_.problems.push_back(
        {number, std::string(text.substr(0, kShownText)), std::move(reason)});
  }

  void Line(RegFileLine& line) {
    const size_t number = line.number;
    if (line.too_long || line.problem != nullptr) {
      const std::string reason =
          line.too_long ? "the line is longer than 4 MiB" : std::string("the line ") + line.problem;
      Fail(pending_.empty() && !pending_too_long_ ? number : pending_line_, "", reason);
      pending_.clear();
      pending_too_long_ = false;
      return;
    }
    std::string& text = line.text;
    TrimLeft(text);
    if (text.empty() || text[0] == ';') return;
    if (text[0] == '[') {
      SectionLine(text, number);
      return;
    }
    if (pending_.empty() && !pending_too_long_) pending_line_ = number;
    if (text.back() == '\\') {
      text.pop_back();
      if (pending_too_long_ || pending_.size() + text.size() > kMaxRegLineLength) {
        pending_too_long_ = true;
        pending_.clear();
      } else {
        pending_ += text;
      }
      return;
    }
    const size_t first = pending_.empty() && !pending_too_long_ ? number : pending_line_;
    if (pending_too_long_ || pending_.size() + text.size() > kMaxRegLineLength) {
      pending_too_long_ = false;
      pending_.clear();
      Fail(first, "", "the line is longer than 4 MiB (continuations joined)");
      return;
    }
    if (!pending_.empty()) {
      text.insert(0, pending_);
      pending_.clear();
    }
    const size_t equals = text.find('=');
    if (equals != std::string::npos && equals != 0) {
      WriteValueLine(text, first);
    } else if (!header_seen_ && IsHeader(text, "REGEDIT4")) {
      header_seen_ = true;
    } else if (!header_seen_ && options_.unicode && IsHeader(text, kRegedit5Header)) {
      header_seen_ = true;
      unicode_data_ = true;
    } else {
      Fail(first, text,
           header_seen_ && (IsHeader(text, "REGEDIT4") || IsHeader(text, kRegedit5Header))
               ? "a second header"
               : "not a value line (no \"=\" after its first character) nor the header");
    }
  }

  void SectionLine(const std::string& text, size_t number) {
    if (options_.literal_keys) {
      LiteralSection section = ParseLiteralSection(text);
      if (!section.well_formed) return;
      NextGroup(number);
      CloseKey();
      if (section.problem != nullptr) {
        no_key_ = section.problem;
        return;
      }
      if (section.deletion) {
        no_key_ = "its section deletes a key";
        LONG error = RegDeleteTreeA(HKEY_LOCAL_MACHINE, section.key.c_str());
        if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) {
          Fail(number, text, "the key could not be deleted (" + ErrorText(error) + ")");
        } else {
          ++writes_in_group_;
        }
        return;
      }
      LONG error = RegCreateKeyExA(HKEY_LOCAL_MACHINE, section.key.c_str(), 0, nullptr, 0,
                                   KEY_ALL_ACCESS, nullptr, &key_, nullptr);
      if (error != ERROR_SUCCESS) {
        key_ = nullptr;
        no_key_ = "its section's key could not be created";
        Fail(number, text, "the key could not be created (" + ErrorText(error) + ")");
      }
      return;
    }
    Section section = ParseSectionLine(text);
    if (!section.well_formed) return;
    NextGroup(number);
    // Deleting is not importing: the key is neither selected nor made,
    // and the file did not get what it asked for.
    if (section.deletion) {
      Fail(number, text, "deleting a key (\"[-...]\") is not carried out here");
      value_key_ = 0;
      no_key_ = "its section deletes a key";
      return;
    }
    const char* why = nullptr;
    value_key_ = SelectSection(*registry_, section, &why);
    if (value_key_ == 0) no_key_ = why;
  }

  void WriteValueLine(std::string& text, size_t number) {
    const std::string shown = text.substr(0, kShownText);
    ValueLine value;
    ValueSyntax syntax;
    syntax.typed_hex = options_.typed_hex;
    syntax.deletions = options_.literal_keys;
    if (const char* problem = ParseValueLine(text, syntax, &value)) {
      Fail(number, shown, problem);
      return;
    }
    // The registry editor of Windows writes the bytes of string types as
    // UTF-16LE in version 5 files.
    if (unicode_data_ && value.from_hex &&
        (value.type == REG_SZ || value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ)) {
      if (value.data.size() % 2 != 0) {
        Fail(number, shown, "the UTF-16 text of the data has an odd number of bytes");
        return;
      }
      std::basic_string<WCHAR> wide(value.data.size() / 2, WCHAR());
      for (size_t i = 0; i < wide.size(); ++i) {
        wide[i] = static_cast<WCHAR>(value.data[2 * i] | value.data[2 * i + 1] << 8);
      }
      std::string converted;
      if (const char* problem = WideToCodePage(wide, &converted)) {
        Fail(number, shown, std::string("the text of the data ") + problem);
        return;
      }
      value.data.assign(converted.begin(), converted.end());
    }
    if (options_.literal_keys ? key_ == nullptr : value_key_ == 0) {
      Fail(number, shown, std::string("no key to write to: ") + no_key_);
      return;
    }
    if (!options_.literal_keys) {
      if (WriteClassic(*registry_, value_key_, value)) {
        ++writes_in_group_;
      } else {
        Fail(number, shown, "the registry refused the write (" + ErrorText(static_cast<LONG>(GetLastError())) + ")");
      }
      return;
    }
    // A byte that is no NUL after the data: RegSetValueExA would count a NUL
    // that follows a string's data in, and the file's bytes are written as
    // they are.
    const DWORD size = static_cast<DWORD>(value.data.size());
    value.data.push_back('x');
    LONG error = value.deletion
                     ? RegDeleteValueA(key_, value.name.c_str())
                     : RegSetValueExA(key_, value.name.c_str(), 0, value.type, value.data.data(), size);
    if (value.deletion && error == ERROR_FILE_NOT_FOUND) error = ERROR_SUCCESS;
    if (error != ERROR_SUCCESS) {
      Fail(number, shown, std::string(value.deletion ? "the value could not be deleted ("
                                                     : "the registry refused the write (") +
                              ErrorText(error) + ")");
      return;
    }
    ++writes_in_group_;
  }

  void CloseKey() {
    if (key_ != nullptr) RegCloseKey(key_);
    key_ = nullptr;
  }

  // Write groups: begun at the start, committed at a section line once the
  // group is kGroupMs old, and at the end. Without a group (the store could
  // not begin one) each write stands alone.
  void StartGroup(size_t line) {
    group_started_ = GetTickCount();
    group_line_ = line;
    group_.Begin();  // on failure, writes commit one by one
  }
  void EndGroup() {
    LONG error = group_.Commit();
    if (error != ERROR_SUCCESS) {
      Fail(group_line_, "",
           "this line and those after it up to the next commit were not written: the "
           "registry could not commit them (" + ErrorText(error) + ")");
    } else {
      written_ += writes_in_group_;
    }
    writes_in_group_ = 0;
  }
  void NextGroup(size_t line) {
    if (GetTickCount() - group_started_ < kGroupMs) return;
    EndGroup();
    StartGroup(line);
  }

  const RegImportOptions options_;
  RegImportReport& report_;
  std::unique_ptr<CRegistryInfo> registry_;  // without literal_keys
  DWORD value_key_ = 0;                      // without literal_keys
  HKEY key_ = nullptr;                       // with literal_keys
  const char* no_key_ = "no section before it";
  bool header_seen_ = false;
  bool unicode_data_ = false;  // a version 5 header was met
  std::string pending_;
  bool pending_too_long_ = false;
  size_t pending_line_ = 0;
  RegistryWriteGroup group_;
  DWORD group_started_ = 0;
  size_t group_line_ = 0;
  size_t writes_in_group_ = 0;
  size_t written_ = 0;
};

}  // namespace
}  // namespace opossvc::detail

namespace opossvc {

RegImportReport ImportRegFile(const char* path, const RegImportOptions& options) {
  RegImportReport report;
  auto file_problem = [&report](std::string reason) {
    report.file_error = true;
    report.result |= OPOSSVC_IMPORT_FAILED;
    report.problems.push_back({0, "", std::move(reason)});
    return report;
  };
  if (path == nullptr) return file_problem("no file given");
  if (const char* problem = detail::FileTypeProblem(path)) return file_problem(problem);
  CFile file;
  CFileException error;
  if (!file.Open(path, CFile::modeRead | CFile::shareDenyWrite, &error)) {
    return file_problem(detail::OpenProblem(error));
  }
  try {
    detail::Importer importer(options, &report);
    importer.Run(file);
  } catch (CException* e) {
    e->Delete();
    report.result |= OPOSSVC_IMPORT_FAILED;
    report.problems.push_back({0, "", "the import could not go on"});
  } catch (const std::bad_alloc&) {
    report.result |= OPOSSVC_IMPORT_FAILED;
    report.problems.push_back({0, "", "out of memory"});
  }
  file.Abort();
  return report;
}

}  // namespace opossvc

int ImportRegistry(const char* path) {
  opossvc::RegImportReport report = opossvc::ImportRegFile(path, opossvc::RegImportOptions());
  return report.file_error ? 0 : static_cast<int>(report.result);
}

int SetRegistryValue(CString& line, CRegistryInfo& registry, unsigned long code) {
  std::string text(line.GetString(), static_cast<size_t>(line.GetLength()));
  opossvc::detail::ValueLine value;
  const char* problem = opossvc::detail::ParseValueLine(text, {}, &value);
  line = CString(text.data(), static_cast<int>(text.size()));
  if (problem != nullptr) return 0;
  return opossvc::detail::WriteClassic(registry, code, value);
}
