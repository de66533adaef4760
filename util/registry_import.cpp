// ImportRegistry and SetRegistryValue: registry export files into the OPOS
// registry database.
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include <opossvc/afx/stdiofile.h>
#include <opossvc/util.h>

#include "util/reg_file_syntax.h"

namespace opossvc::detail {
namespace {

// A logical line (continuations included) longer than this is skipped: no
// registry value needs more, and it bounds what one line may make us hold.
constexpr size_t kMaxLineLength = 4u << 20;
constexpr size_t kReadChunk = 64 * 1024;
constexpr char kHeader[] = "REGEDIT4";
constexpr DWORD kBaseKeys = 0xFFFFF000u;

// Lines of a text-mode file with their line feeds removed, NUL bytes kept.
class LineReader {
 public:
  explicit LineReader(CStdioFile& file) : file_(file), buffer_(kReadChunk) {}

  // The next line; false at the end of the file. A line longer than
  // kMaxLineLength is read to its end and given as empty with *too_long set.
  // Throws CFileException* on a read error.
  bool Next(std::string& line, bool* too_long) {
    line.clear();
    *too_long = false;
    bool any = false;
    for (;;) {
      if (pos_ == end_) {
        if (at_end_) return any;
        end_ = file_.Read(buffer_.data(), static_cast<UINT>(buffer_.size()));
        pos_ = 0;
        if (end_ == 0) {
          at_end_ = true;
          continue;
        }
      }
      any = true;
      const char* start = buffer_.data() + pos_;
      const void* newline = std::memchr(start, '\n', end_ - pos_);
      size_t length = newline != nullptr ? static_cast<const char*>(newline) - start : end_ - pos_;
      if (!*too_long && line.size() + length <= kMaxLineLength) {
        line.append(start, length);
      } else {
        *too_long = true;
        line.clear();
      }
      pos_ += length;
      if (newline != nullptr) {
        ++pos_;
        return true;
      }
    }
  }

 private:
  CStdioFile& file_;
  std::vector<char> buffer_;
  size_t pos_ = 0;
  size_t end_ = 0;
  bool at_end_ = false;
};

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

// The key code that value lines of the section are written to; 0 for none.
DWORD SelectSection(CRegistryInfo& registry, const Section& section) {
  if (!section.in_database) return 0;
  if (section.below_root.empty()) return registry.Open(KC_OLEFORRETAIL, TRUE) ? KC_OLEFORRETAIL : 0;
  std::string sub_path = section.below_root;
  unsigned long code = registry.ConvKey(TakeComponent(sub_path).c_str());
  if (code == KC_SERVICEOPOS && !sub_path.empty()) code = registry.ConvKey(TakeComponent(sub_path).c_str());
  // A device code or "AllDevices" would stand for whatever device the
  // registry object holds, not for a key that the section names.
  if (!IsSectionCode(code)) return 0;
  if (sub_path.empty()) return registry.Open(code, TRUE) ? static_cast<DWORD>(code) : 0;
  if (!registry.Open(sub_path.c_str(), code, TRUE)) return 0;
  return code == KC_SERVICEINFO ? KC_SERVICEINFO_SUBKEY : registry.m_dwDevKey;
}

bool IsHeader(const std::string& line) {
  if (line.size() != sizeof(kHeader) - 1) return false;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != kHeader[i]) return false;
  }
  return true;
}

class Importer {
 public:
  explicit Importer(CRegistryInfo& registry) : registry_(registry) {}

  void Line(std::string& line, bool too_long) {
    if (too_long) {
      Fail();
      pending_.clear();
      pending_too_long_ = false;
      return;
    }
    TrimLeft(line);
    if (line.empty() || line[0] == ';') return;
    if (line[0] == '[') {
      Section section = ParseSectionLine(line);
      if (!section.well_formed) return;
      // Deleting is not importing: the key is neither selected nor made,
      // and the file did not get what it asked for.
      if (section.deletion) Fail();
      value_key_ = section.deletion ? 0 : SelectSection(registry_, section);
      return;
    }
    if (line.back() == '\\') {
      line.pop_back();
      if (pending_too_long_ || pending_.size() + line.size() > kMaxLineLength) {
        pending_too_long_ = true;
        pending_.clear();
      } else {
        pending_ += line;
      }
      return;
    }
    if (pending_too_long_ || pending_.size() + line.size() > kMaxLineLength) {
      pending_too_long_ = false;
      pending_.clear();
      Fail();
      return;
    }
    if (!pending_.empty()) {
      line.insert(0, pending_);
      pending_.clear();
    }
    size_t equals = line.find('=');
    if (equals != std::string::npos && equals != 0) {
      CString value_line(line.data(), static_cast<int>(line.size()));
      if (SetRegistryValue(value_line, registry_, value_key_)) {
        result_ |= OPOSSVC_IMPORT_WRITTEN;
      } else {
        Fail();
      }
    } else if (!header_seen_ && IsHeader(line)) {
      header_seen_ = true;
    } else {
      Fail();
    }
  }

  void Fail() { result_ |= OPOSSVC_IMPORT_FAILED; }
  uint32_t result() const { return result_; }

 private:
  CRegistryInfo& registry_;
  uint32_t result_ = 0;
  bool header_seen_ = false;
  std::string pending_;
  bool pending_too_long_ = false;
  DWORD value_key_ = 0;
};

}  // namespace
}  // namespace opossvc::detail

int ImportRegistry(const char* path) {
  if (path == nullptr) return 0;
  CStdioFile file;
  if (!file.Open(path, CFile::modeRead | CFile::shareDenyWrite)) return 0;
  uint32_t result = 0;
  try {
    CRegistryInfo registry(opossvc::detail::kBaseKeys, TRUE);
    opossvc::detail::Importer importer(registry);
    opossvc::detail::LineReader reader(file);
    std::string line;
    bool too_long = false;
    for (;;) {
      try {
        if (!reader.Next(line, &too_long)) break;
      } catch (CException* e) {
        e->Delete();  // the file cannot be read on: what was read stays imported
        importer.Fail();
        break;
      }
      try {
        importer.Line(line, too_long);
      } catch (CException* e) {
        e->Delete();
        importer.Fail();
      } catch (const std::bad_alloc&) {
        importer.Fail();
      }
    }
    registry.Close(TRUE);
    result = importer.result();
  } catch (CException* e) {
    e->Delete();
    result |= OPOSSVC_IMPORT_FAILED;
  } catch (const std::bad_alloc&) {
    result |= OPOSSVC_IMPORT_FAILED;
  }
  file.Abort();
  return static_cast<int>(result);
}

int SetRegistryValue(CString& line, CRegistryInfo& registry, unsigned long code) {
  using opossvc::detail::ReadQuotedToken;
  using opossvc::detail::TrimLeft;
  std::string text(line.GetString(), static_cast<size_t>(line.GetLength()));
  bool default_value = !text.empty() && text[0] == '@';
  std::string name;
  bool named = ReadQuotedToken(text, name);
  if (!named && !default_value) {
    line = CString(text.data(), static_cast<int>(text.size()));
    return 0;
  }
  if (!named) {
    text.erase(0, 1);
    name.clear();
  }
  TrimLeft(text);
  if (!text.empty()) text.erase(0, 1);  // the equals sign
  TrimLeft(text);

  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  std::string token;
  if (ReadQuotedToken(text, token)) {
    type = REG_SZ;
    data.assign(token.begin(), token.end());
    data.push_back(0);
  } else {
    size_t colon = text.find(':');
    if (colon != std::string::npos && colon != 0) {
      std::string value_text = text.substr(colon + 1);
      char kind = text[0];
      if (kind == 'D' || kind == 'd') {
        // A malformed number writes nothing rather than what a lenient
        // reading of it would give.
        if (std::optional<DWORD> number = opossvc::detail::ParseDwordData(value_text)) {
          type = REG_DWORD;
          for (int shift = 0; shift < 32; shift += 8) {
            data.push_back(static_cast<BYTE>(*number >> shift));
          }
        }
      } else if (kind == 'H' || kind == 'h') {
        type = REG_BINARY;
        data = opossvc::detail::HexToBytes(value_text);
      }
      text.clear();
    }
  }
  line = CString(text.data(), static_cast<int>(text.size()));
  // A NUL would cut the name short and write some other value.
  if (type == REG_NONE || code == 0 || name.find('\0') != std::string::npos) return 0;
  return registry.SetValue(code, name.c_str(), type, data.data(), static_cast<unsigned long>(data.size()));
}
