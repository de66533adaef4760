// Bytes and UTF-16 text through MultiByteToWideChar and WideCharToMultiByte
// in code pages 1252, 932 and UTF-8: a size asked for is the size written;
// a destination one unit short is refused without being overrun; text that
// converts without a stand-in character comes back unchanged (UTF-8 turns a
// lone surrogate into U+FFFD and keeps everything else); valid bytes come
// back as they were in 1252 and UTF-8.
#include <cstdint>
#include <string>
#include <vector>

#include <opossvc/win32/codepage.h>
#include <opossvc/win32/errors.h>

#include "fuzz/fuzz_support.h"

namespace {

using opossvc::fuzz::Check;
using opossvc::fuzz::InputReader;

constexpr UINT kCodePages[] = {1252, 932, CP_UTF8};
constexpr WCHAR kReplacement = 0xFFFD;

std::u16string ToWide(UINT code_page, const std::string& bytes) {
  const int length = static_cast<int>(bytes.size());
  const int units = MultiByteToWideChar(code_page, 0, bytes.data(), length, nullptr, 0);
  Check(units > 0 && units <= length, "wide size out of range");
  std::u16string wide(static_cast<size_t>(units), u'\0');
  Check(MultiByteToWideChar(code_page, 0, bytes.data(), length, wide.data(), units) == units,
        "wide count differs from the size asked for");
  if (units > 1) {
    std::vector<WCHAR> short_by_one(static_cast<size_t>(units - 1));
    Check(MultiByteToWideChar(code_page, 0, bytes.data(), length, short_by_one.data(), units - 1) == 0 &&
              GetLastError() == ERROR_INSUFFICIENT_BUFFER,
          "a short wide buffer taken");
  }
  return wide;
}

// The bytes of `wide`; *stand_in tells whether a character was replaced
// (never for UTF-8, which takes no default character).
std::string ToBytes(UINT code_page, const std::u16string& wide, bool* stand_in) {
  const int units = static_cast<int>(wide.size());
  BOOL used = FALSE;
  BOOL* used_pointer = code_page == CP_UTF8 ? nullptr : &used;
  const int size =
      WideCharToMultiByte(code_page, 0, wide.data(), units, nullptr, 0, nullptr, used_pointer);
  Check(size > 0, "byte size out of range");
  std::string bytes(static_cast<size_t>(size), '\0');
  Check(WideCharToMultiByte(code_page, 0, wide.data(), units, bytes.data(), size, nullptr,
                            used_pointer) == size,
        "byte count differs from the size asked for");
  if (size > 1) {
    std::vector<char> short_by_one(static_cast<size_t>(size - 1));
    Check(WideCharToMultiByte(code_page, 0, wide.data(), units, short_by_one.data(), size - 1,
                              nullptr, nullptr) == 0 &&
              GetLastError() == ERROR_INSUFFICIENT_BUFFER,
          "a short byte buffer taken");
  }
  *stand_in = used != FALSE;
  return bytes;
}

// UTF-16 with every unpaired surrogate replaced by U+FFFD.
std::u16string Paired(const std::u16string& wide) {
  std::u16string out = wide;
  for (size_t i = 0; i < out.size(); ++i) {
    const bool high = out[i] >= 0xD800 && out[i] <= 0xDBFF;
    const bool low = out[i] >= 0xDC00 && out[i] <= 0xDFFF;
    if (high && i + 1 < out.size() && out[i + 1] >= 0xDC00 && out[i + 1] <= 0xDFFF) {
      ++i;
    } else if (high || low) {
      out[i] = kReplacement;
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputReader input(data, size);
  const UINT code_page = kCodePages[input.Byte() % 3];
  const bool bytes_first = (input.Byte() & 1) == 0;
  const std::string rest = input.Rest();
  if (rest.size() < 2) return 0;
  bool stand_in = false;

  if (bytes_first) {
    const std::u16string wide = ToWide(code_page, rest);
    const std::string back = ToBytes(code_page, wide, &stand_in);
    if (!stand_in) Check(ToWide(code_page, back) == wide, "text changed on its way back");
    const bool replaced = wide.find(kReplacement) != std::u16string::npos;
    if (code_page != 932 && !stand_in && !replaced) Check(back == rest, "bytes changed on their way back");
    return 0;
  }
  std::u16string wide(rest.size() / 2, u'\0');
  for (size_t i = 0; i < wide.size(); ++i) {
    wide[i] = static_cast<char16_t>(static_cast<uint8_t>(rest[2 * i]) |
                                    static_cast<uint8_t>(rest[2 * i + 1]) << 8);
  }
  const std::string bytes = ToBytes(code_page, wide, &stand_in);
  const std::u16string back = ToWide(code_page, bytes);
  if (code_page == CP_UTF8) {
    Check(back == Paired(wide), "UTF-8 changed the text");
  } else if (!stand_in) {
    Check(back == wide, "text changed on its way back");
  }
  return 0;
}
