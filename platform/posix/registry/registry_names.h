// Key paths and names as the registry calls take them.
//
// A path is decoded from the active code page first and split at the
// backslashes of the decoded text, so that the second byte of a double-byte
// character never splits it. It may not start with a backslash
// (ERROR_BAD_PATHNAME); a run of backslashes counts as one and trailing
// backslashes are ignored, so "a\\b\" is "a\b".
//
// Names compare as Windows compares them: code unit by code unit after the
// upper-case mapping of ordinal_case.h. Each name carries that upper-case
// form as UTF-16BE bytes, its key: the store finds names by it, and lists
// subkeys in its byte order, which is the order of the upper-cased UTF-16
// code units ("A" < "a1" < "b" < "_x"), the order Windows lists them in.
//
// Lengths count UTF-16 code units, as Windows does: key names up to 255,
// value names up to 16383.
#ifndef OPOSSVC_PLATFORM_POSIX_REGISTRY_REGISTRY_NAMES_H_
#define OPOSSVC_PLATFORM_POSIX_REGISTRY_REGISTRY_NAMES_H_

#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <opossvc/win32/types.h>

namespace opossvc::detail {

inline constexpr size_t kMaxKeyNameLength = 255;
inline constexpr size_t kMaxValueNameLength = 16383;

// A name's key bytes: inside the object for names of up to 32 units, as
// nearly every name is, so that the names a registry call makes allocate
// nothing; on the heap beyond.
class NameKey {
 public:
  NameKey() = default;
  NameKey(const NameKey& other) { std::memcpy(Resize(other.size_), other.data(), other.size_); }
  NameKey(NameKey&& other) noexcept : size_(other.size_), heap_(std::move(other.heap_)) {
    if (size_ <= kInline) std::memcpy(inline_, other.inline_, size_);
    other.size_ = 0;
  }
  NameKey& operator=(const NameKey& other) {
    if (this != &other) std::memcpy(Resize(other.size_), other.data(), other.size_);
    return *this;
  }
  NameKey& operator=(NameKey&& other) noexcept {
    if (this == &other) return *this;
    size_ = other.size_;
    heap_ = std::move(other.heap_);
    if (size_ <= kInline) std::memcpy(inline_, other.inline_, size_);
    other.size_ = 0;
    return *this;
  }

  // Room for `size` bytes, which the caller writes.
  char* Resize(size_t size) {
    size_ = size;
    if (size <= kInline) return inline_;
    heap_.resize(size);
    return heap_.data();
  }

  std::string_view view() const { return std::string_view(data(), size_); }
  operator std::string_view() const { return view(); }  // NOLINT(google-explicit-constructor)

 private:
  static constexpr size_t kInline = 64;
  const char* data() const { return size_ <= kInline ? inline_ : heap_.data(); }

  size_t size_ = 0;
  char inline_[kInline];
  std::string heap_;  // the bytes when there are more than kInline
};

struct RegistryName {
  std::string text;   // as written, UTF-8
  NameKey key;        // upper-cased, UTF-16BE: what names are compared and ordered by
  size_t length = 0;  // UTF-16 code units
};

// The names of a key path, in one run: inside the object for paths of up to
// two names, as nearly every path a call names is, on the heap beyond.
class NameList {
 public:
  NameList() = default;
  NameList(const NameList&) = delete;
  NameList& operator=(const NameList&) = delete;

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const RegistryName& operator[](size_t i) const { return data()[i]; }
  const RegistryName* begin() const { return data(); }
  const RegistryName* end() const { return data() + size_; }

  void reserve(size_t count) {
    if (count > kInline) Spill(count);
  }
  void push_back(RegistryName name) { Add() = std::move(name); }
  // A new last name, to be filled in (it may hold an earlier name's bytes).
  RegistryName& Add() {
    if (size_ == kInline && heap_.empty()) Spill(2 * kInline);
    if (heap_.empty()) return inline_[size_++];
    ++size_;
    return heap_.emplace_back();
  }
  void clear() {
    size_ = 0;
    heap_.clear();
  }

 private:
  static constexpr size_t kInline = 2;
  const RegistryName* data() const { return heap_.empty() ? inline_ : heap_.data(); }
  // Moves the names to the heap, with room for `count`.
  void Spill(size_t count) {
    heap_.reserve(count);
    if (!heap_.empty()) return;
    for (size_t i = 0; i < size_; ++i) heap_.push_back(std::move(inline_[i]));
  }

  RegistryName inline_[kInline];
  std::vector<RegistryName> heap_;  // all the names, once there are more than kInline
  size_t size_ = 0;
};

// A subkey path split into names; empty for a null or empty path.
struct KeyPath {
  NameList names;
  bool empty() const { return names.empty(); }
};

RegistryName MakeName(std::u16string_view name);

// Splits `path` (caller text; may be null). ERROR_BAD_PATHNAME for a
// leading backslash.
LONG ParseKeyPath(const char* path, KeyPath* out);

// ERROR_SUCCESS when every name of `path` is short enough to be created,
// else ERROR_INVALID_PARAMETER.
LONG CheckKeyNameLengths(const KeyPath& path);

// One name of a key path (caller text): ERROR_FILE_NOT_FOUND for a text
// that no key has as its name, an empty one or one with a backslash (a
// path's names are split at backslashes and empty ones are dropped).
LONG MakeKeyName(std::string_view name, RegistryName* out);

// A value name (caller text); null names the default value, as "" does.
RegistryName MakeValueName(const char* name);

// Whether `name` is short enough to be a value name.
inline bool ValueNameLengthOk(const RegistryName& name) {
  return name.length <= kMaxValueNameLength;
}

}  // namespace opossvc::detail

#endif  // OPOSSVC_PLATFORM_POSIX_REGISTRY_REGISTRY_NAMES_H_
