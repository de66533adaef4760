// Pieces shared by the fuzz targets: a private registry store for the whole
// run, a stop that reports a broken invariant as a crash, and a reader that
// takes typed values off the front of an input.
#ifndef OPOSSVC_FUZZ_FUZZ_SUPPORT_H_
#define OPOSSVC_FUZZ_FUZZ_SUPPORT_H_

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <opossvc/testing/temp_registry.h>

namespace opossvc::fuzz {

// The store of this run, made at first use; removed at exit.
inline testing::TempRegistry& Store() {
  static testing::TempRegistry* registry = new testing::TempRegistry();
  static const bool removed_at_exit = [] {
    std::atexit([] { delete registry; });
    return true;
  }();
  (void)removed_at_exit;
  return *registry;
}

// A broken invariant: abort, so that the fuzzer keeps the input.
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

inline void Check(bool holds, const char* what) {
  if (!holds) Fail(what);
}

// Takes values off the front of the input; past its end everything is 0.
class InputReader {
 public:
  InputReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  size_t remaining() const { return size_; }

  uint8_t Byte() {
    if (size_ == 0) return 0;
    --size_;
    return *data_++;
  }

  uint32_t Dword() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(Byte()) << (8 * i);
    return value;
  }

  // Up to `max` bytes: a length byte, then that many bytes.
  std::string Bytes(size_t max = 255) {
    size_t length = Byte();
    if (length > max) length = max;
    return Take(length);
  }

  std::string Rest() { return Take(size_); }

 private:
  std::string Take(size_t length) {
    if (length > size_) length = size_;
    std::string out(reinterpret_cast<const char*>(data_), length);
    data_ += length;
    size_ -= length;
    return out;
  }

  const uint8_t* data_;
  size_t size_;
};

}  // namespace opossvc::fuzz

#endif  // OPOSSVC_FUZZ_FUZZ_SUPPORT_H_
