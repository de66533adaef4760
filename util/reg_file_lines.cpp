#include "util/reg_file_lines.h"

#include <climits>
#include <cstring>

#include <opossvc/win32/codepage.h>

namespace opossvc::detail {
namespace {

constexpr char kCtrlZ = '\x1a';
constexpr UINT kUtf8 = 65001;

}  // namespace

const char* WideToCodePage(std::basic_string_view<WCHAR> wide, std::string* out) {
  out->clear();
  if (wide.empty()) return nullptr;
  if (wide.size() > INT_MAX / 4) return "is too long to convert";
  const UINT code_page = GetACP();
  const int length = static_cast<int>(wide.size());
  BOOL used_default = FALSE;
  // A lone surrogate is refused rather than made U+FFFD; a character that
  // the code page lacks rather than made "?".
  const DWORD flags = code_page == kUtf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL* used = code_page == kUtf8 ? nullptr : &used_default;
  const int bytes = WideCharToMultiByte(CP_ACP, flags, wide.data(), length, nullptr, 0, nullptr, used);
  if (bytes <= 0) return "is not valid Unicode text";
  if (used_default) return "holds a character that the code page cannot carry";
  out->resize(static_cast<size_t>(bytes));
  WideCharToMultiByte(CP_ACP, flags, wide.data(), length, out->data(), bytes, nullptr, nullptr);
  return nullptr;
}

RegFileLines::RegFileLines(CFile& file, bool unicode)
    : file_(file), unicode_(unicode), buffer_(kRegReadChunk + 1) {}

bool RegFileLines::Fill() {
  if (at_end_) return false;
  // A UTF-16 unit split by the read (the buffer's last byte) is kept for the
  // next one.
  const size_t left = end_ - pos_;
  if (left > 0) std::memmove(buffer_.data(), buffer_.data() + pos_, left);
  pos_ = 0;
  end_ = left;
  const UINT got = file_.Read(buffer_.data() + left, static_cast<UINT>(kRegReadChunk));
  end_ += got;
  if (got == 0) at_end_ = true;
  if (!detected_) DetectEncoding();
  return got > 0;
}

void RegFileLines::DetectEncoding() {
  detected_ = true;
  if (!unicode_) return;
  const auto* bytes = reinterpret_cast<const unsigned char*>(buffer_.data());
  if (end_ >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    encoding_ = RegFileEncoding::kUtf16Le;
    pos_ = 2;
  } else if (end_ >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
    encoding_ = RegFileEncoding::kUtf8;
    pos_ = 3;
  }
}

bool RegFileLines::Next(RegFileLine* line) {
  line->text.clear();
  line->too_long = false;
  line->problem = nullptr;
  raw_.clear();
  if (!detected_) Fill();
  const size_t unit = encoding_ == RegFileEncoding::kUtf16Le ? 2 : 1;
  bool any = false;
  bool ended = false;  // by a line feed
  for (;;) {
    if (end_ - pos_ < unit) {
      if (Fill()) continue;
      if (pos_ < end_) {  // half a UTF-16 unit at the end of the file
        any = true;
        line->problem = "ends in half a UTF-16 character";
        pos_ = end_;
      }
      break;
    }
    const char* start = buffer_.data() + pos_;
    const size_t available = (end_ - pos_) / unit * unit;
    size_t length = 0;  // in bytes, up to the line feed or Ctrl-Z
    char stop = 0;
    for (; length < available; length += unit) {
      const char c = start[length];
      if ((c == '\n' || c == kCtrlZ) && (unit == 1 || start[length + 1] == 0)) {
        stop = c;
        break;
      }
    }
    any = true;
    if (!line->too_long) {
      if ((raw_.size() + length) / unit > kMaxRegLineLength) {
        line->too_long = true;
        raw_.clear();
      } else {
        raw_.append(start, length);
      }
    }
    pos_ += length;
    if (stop == '\n') {
      pos_ += unit;
      ended = true;
      break;
    }
    if (stop == kCtrlZ) {
      pos_ += unit;
      bytes_after_end_ = pos_ < end_ || Fill();
      at_end_ = true;
      pos_ = end_;
      break;
    }
  }
  if (!any) return false;
  line->number = ++number_;
  if (line->too_long || line->problem != nullptr) return true;
  // Text mode: a carriage return before the line feed is part of the line end.
  if (ended && raw_.size() >= unit && raw_[raw_.size() - unit] == '\r' &&
      (unit == 1 || raw_.back() == 0)) {
    raw_.resize(raw_.size() - unit);
  }
  if (number_ == 1 && unicode_ && encoding_ == RegFileEncoding::kCodePage &&
      raw_ == kRegedit5Header) {
    encoding_ = RegFileEncoding::kUtf8;
  }
  Convert(raw_, line);
  return true;
}

void RegFileLines::Convert(const std::string& raw, RegFileLine* line) const {
  if (encoding_ == RegFileEncoding::kCodePage || raw.empty()) {
    line->text = raw;
    return;
  }
  std::basic_string<WCHAR> wide;
  if (encoding_ == RegFileEncoding::kUtf16Le) {
    wide.resize(raw.size() / 2);
    for (size_t i = 0; i < wide.size(); ++i) {
      wide[i] = static_cast<WCHAR>(static_cast<unsigned char>(raw[2 * i]) |
                                      static_cast<unsigned char>(raw[2 * i + 1]) << 8);
    }
  } else {
    if (raw.size() > INT_MAX) {
      line->problem = "is too long to convert";
      return;
    }
    const int length = static_cast<int>(raw.size());
    const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, raw.data(), length, nullptr, 0);
    if (units <= 0) {
      line->problem = "is not valid UTF-8";
      return;
    }
    wide.resize(static_cast<size_t>(units));
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, raw.data(), length, wide.data(), units);
  }
  if (const char* problem = WideToCodePage(wide, &line->text)) {
    line->problem = problem;
    line->text.clear();
  } else if (line->text.size() > kMaxRegLineLength) {
    line->too_long = true;
    line->text.clear();
  }
}

}  // namespace opossvc::detail
