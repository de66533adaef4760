// The lines of a registry export file, read as a text file: line feeds end
// lines (a carriage return before one is dropped), and a Ctrl-Z ends the
// text, as text mode does on Windows.
//
// With `unicode`, the file's encoding is found from its start and each line
// is converted to the code page (CP_ACP): a UTF-16LE byte-order mark (what
// the registry editor of Windows writes today), a UTF-8 one, or no mark and
// the first line "Windows Registry Editor Version 5.00" (UTF-8 then); any
// other file is in the code page already, as REGEDIT4 files are. Without it
// every file is bytes in the code page.
#ifndef OPOSSVC_UTIL_REG_FILE_LINES_H_
#define OPOSSVC_UTIL_REG_FILE_LINES_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include <opossvc/afx/stdiofile.h>

namespace opossvc::detail {

// A physical line longer than this (in characters of the file) is read to
// its end and given as too long: no registry value needs more, and it
// bounds what one line may make the importer hold.
inline constexpr size_t kMaxRegLineLength = 4u << 20;
// What one read of the file asks for.
inline constexpr size_t kRegReadChunk = 64 * 1024;

inline constexpr char kRegedit5Header[] = "Windows Registry Editor Version 5.00";

enum class RegFileEncoding { kCodePage, kUtf8, kUtf16Le };

struct RegFileLine {
  std::string text;      // in the code page; empty when too long or not converted
  size_t number = 0;     // 1 for the first line
  bool too_long = false;
  const char* problem = nullptr;  // why the line could not be converted, or null
};

// UTF-16 text in the code page; null, or why it cannot be (a character the
// code page lacks, a lone surrogate).
const char* WideToCodePage(std::basic_string_view<WCHAR> wide, std::string* out);

class RegFileLines {
 public:
  RegFileLines(CFile& file, bool unicode);

  // The next line; false at the end of the text. Throws CFileException* on a
  // read error.
  bool Next(RegFileLine* line);

  RegFileEncoding encoding() const { return encoding_; }
  // Known once Next returned false: the text ended at a Ctrl-Z that more
  // bytes followed, on this line.
  bool bytes_after_end() const { return bytes_after_end_; }
  size_t end_line() const { return number_; }

 private:
  // Fills the buffer when it is used up; false at the end of the file.
  bool Fill();
  void DetectEncoding();
  // Converts `raw` (in the file's encoding) into line->text.
  void Convert(const std::string& raw, RegFileLine* line) const;

  CFile& file_;
  const bool unicode_;
  RegFileEncoding encoding_ = RegFileEncoding::kCodePage;
  bool detected_ = false;
  std::vector<char> buffer_;
  size_t pos_ = 0;
  size_t end_ = 0;
  bool at_end_ = false;
  bool bytes_after_end_ = false;
  size_t number_ = 0;
  std::string raw_;
};

}  // namespace opossvc::detail

#endif  // OPOSSVC_UTIL_REG_FILE_LINES_H_
