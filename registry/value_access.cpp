// Values of the open keys: reads through the last-value fields, writes
// under the create flag, enumeration and deletion; and ReadRegValue.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <opossvc/registry.h>

#include "registry/key_table.h"

namespace {

constexpr DWORD kReadFailed = 0xFFFFFFFFu;

// The name of the value at `index`, whatever its length; false past the end
// or on any failure, with the registry's code in *error.
bool ValueNameAt(HKEY key, DWORD index, CString& name, DWORD* type, LONG* error) {
  char small[256];
  DWORD length = sizeof small;
  LONG status = RegEnumValueA(key, index, small, &length, nullptr, type, nullptr, nullptr);
  if (status == ERROR_SUCCESS) {
    name = CString(small, static_cast<int>(length));
    return true;
  }
  if (status == ERROR_MORE_DATA) {
    std::vector<char> large(opossvc::detail::kValueNameBuffer);
    length = static_cast<DWORD>(large.size());
    status = RegEnumValueA(key, index, large.data(), &length, nullptr, type, nullptr, nullptr);
    if (status == ERROR_SUCCESS) {
      name = CString(large.data(), static_cast<int>(length));
      return true;
    }
  }
  *error = status;
  return false;
}

// One value read whole: in a single call when it fits the buffer on the
// stack, else sized by that call and read again into a buffer of its size.
class ValueRead {
 public:
  ValueRead() = default;
  ValueRead(const ValueRead&) = delete;
  ValueRead& operator=(const ValueRead&) = delete;

  // False when the value cannot be read, or grew past the size that the
  // first call gave: nothing is returned cut short.
  bool Read(HKEY key, const char* name) {
    size_ = sizeof small_;
    LONG status = RegQueryValueExA(key, name, nullptr, &type_, small_, &size_);
    if (status == ERROR_SUCCESS) {
      data_ = small_;
      return true;
    }
    if (status != ERROR_MORE_DATA) return false;
    large_.reset(new (std::nothrow) unsigned char[size_]);
    if (large_ == nullptr) return false;
    status = RegQueryValueExA(key, name, nullptr, &type_, large_.get(), &size_);
    data_ = large_.get();
    return status == ERROR_SUCCESS;
  }

  DWORD type() const { return type_; }
  const unsigned char* data() const { return data_; }
  DWORD size() const { return size_; }

 private:
  unsigned char small_[512];
  std::unique_ptr<unsigned char[]> large_;
  const unsigned char* data_ = small_;
  DWORD type_ = REG_NONE;
  DWORD size_ = 0;
};

}  // namespace

int ReadRegValue(HKEY key, const char* valueName, unsigned long* type, unsigned char*& data,
                 unsigned long* size) {
  data = nullptr;
  ValueRead read;
  if (!read.Read(key, valueName)) {
    if (size != nullptr) *size = 0;
    return FALSE;
  }
  auto* buffer = static_cast<unsigned char*>(::operator new(read.size(), std::nothrow));
  if (buffer == nullptr) {
    if (size != nullptr) *size = 0;
    return FALSE;
  }
  if (read.size() != 0) std::memcpy(buffer, read.data(), read.size());
  data = buffer;
  if (type != nullptr) *type = read.type();
  if (size != nullptr) *size = read.size();
  return TRUE;
}

unsigned long CRegistryInfo::ReadValue(unsigned long code, const char* valueName) {
  m_dwReadType = kReadFailed;
  HKEY key = GetHKEY(code);
  if (key == nullptr) return kReadFailed;
  ValueRead read;
  if (!read.Read(key, valueName)) return kReadFailed;
  const unsigned char* data = read.data();
  const DWORD size = read.size();
  // More than a string or byte array of the framework can hold.
  if (size > static_cast<DWORD>(CString::kMaxLength)) return kReadFailed;
  m_dwReadType = read.type();
  switch (m_dwReadType) {
    case REG_SZ:
      // Up to the first NUL, or all of it when it was stored without one.
      m_strReadValue.SetString(reinterpret_cast<const char*>(data),
                               static_cast<int>(std::find(data, data + size, 0) - data));
      break;
    case REG_BINARY:
      m_binReadValue.SetSize(static_cast<INT_PTR>(size));
      if (size != 0) std::memcpy(m_binReadValue.GetData(), data, size);
      break;
    case REG_DWORD: {
      // A short value is completed with zero bytes above its data.
      unsigned char bytes[4] = {0, 0, 0, 0};
      std::memcpy(bytes, data, size < 4 ? size : 4);
      m_dwReadValue = static_cast<DWORD>(bytes[0]) | (static_cast<DWORD>(bytes[1]) << 8) |
                      (static_cast<DWORD>(bytes[2]) << 16) | (static_cast<DWORD>(bytes[3]) << 24);
      break;
    }
    default:
      m_dwReadType = 0;
      break;
  }
  return m_dwReadType;
}

unsigned long CRegistryInfo::ReadValue(const char* key, const char* valueName) {
  return ReadValue(ResolveKeyText(key), valueName);
}

int CRegistryInfo::GetString(unsigned long code, const char* valueName, CString& value) {
  value.Empty();
  if (ReadValue(code, valueName) != REG_SZ) return FALSE;
  value = m_strReadValue;
  return TRUE;
}

int CRegistryInfo::GetString(const char* key, const char* valueName, CString& value) {
  return GetString(ResolveKeyText(key), valueName, value);
}

int CRegistryInfo::GetDWORD(unsigned long code, const char* valueName, unsigned long& value) {
  value = 0;
  if (ReadValue(code, valueName) != REG_DWORD) return FALSE;
  value = m_dwReadValue;
  return TRUE;
}

int CRegistryInfo::GetDWORD(const char* key, const char* valueName, unsigned long& value) {
  return GetDWORD(ResolveKeyText(key), valueName, value);
}

int CRegistryInfo::GetBinary(unsigned long code, const char* valueName, CByteArray& value) {
  value.RemoveAll();
  if (ReadValue(code, valueName) != REG_BINARY) return FALSE;
  value.Copy(m_binReadValue);
  return TRUE;
}

int CRegistryInfo::GetBinary(const char* key, const char* valueName, CByteArray& value) {
  return GetBinary(ResolveKeyText(key), valueName, value);
}

int CRegistryInfo::SetString(unsigned long code, const char* valueName, const char* value) {
  if (value == nullptr) value = "";
  const size_t length = std::strlen(value);
  if (length >= 0xFFFFFFFFu) return FALSE;
  return SetValue(code, valueName, REG_SZ,
                  reinterpret_cast<unsigned char*>(const_cast<char*>(value)),
                  static_cast<unsigned long>(length + 1));
}

int CRegistryInfo::SetString(const char* key, const char* valueName, const char* value) {
  if (!m_bCreate) return FALSE;
  return SetString(ResolveKeyText(key), valueName, value);
}

int CRegistryInfo::SetDWORD(unsigned long code, const char* valueName, unsigned long value) {
  const DWORD number = static_cast<DWORD>(value);
  unsigned char bytes[4] = {
      static_cast<unsigned char>(number), static_cast<unsigned char>(number >> 8),
      static_cast<unsigned char>(number >> 16), static_cast<unsigned char>(number >> 24)};
  return SetValue(code, valueName, REG_DWORD, bytes, sizeof bytes);
}

int CRegistryInfo::SetDWORD(const char* key, const char* valueName, unsigned long value) {
  if (!m_bCreate) return FALSE;
  return SetDWORD(ResolveKeyText(key), valueName, value);
}

int CRegistryInfo::SetBinary(unsigned long code, const char* valueName, CByteArray& value) {
  if (value.GetSize() <= 0) return FALSE;
  return SetValue(code, valueName, REG_BINARY, value.GetData(),
                  static_cast<unsigned long>(value.GetSize()));
}

int CRegistryInfo::SetBinary(const char* key, const char* valueName, CByteArray& value) {
  if (!m_bCreate) return FALSE;
  return SetBinary(ResolveKeyText(key), valueName, value);
}

int CRegistryInfo::SetBinary(unsigned long code, const char* valueName, unsigned char* data,
                             unsigned long size) {
  return SetValue(code, valueName, REG_BINARY, data, size);
}

int CRegistryInfo::SetBinary(const char* key, const char* valueName, unsigned char* data,
                             unsigned long size) {
  if (!m_bCreate) return FALSE;
  return SetBinary(ResolveKeyText(key), valueName, data, size);
}

int CRegistryInfo::SetValue(unsigned long code, const char* valueName, unsigned long type,
                            unsigned char* data, unsigned long size) {
  if (!m_bCreate) return FALSE;
  HKEY key = GetHKEY(code);
  if (key == nullptr) return FALSE;
  if (size > 0xFFFFFFFFul || (data == nullptr && size != 0)) return FALSE;
  if (RegSetValueExA(key, valueName, 0, static_cast<DWORD>(type), data, static_cast<DWORD>(size)) !=
      ERROR_SUCCESS) {
    return FALSE;
  }
  m_bModified = TRUE;
  return TRUE;
}

unsigned long CRegistryInfo::EnumValue(unsigned long code, unsigned int index, CString& name) {
  HKEY key = GetHKEY(code);
  if (key == nullptr) return kReadFailed;
  name.Empty();
  CString found;
  DWORD listed_type = REG_NONE;
  LONG error = ERROR_SUCCESS;
  if (!ValueNameAt(key, index, found, &listed_type, &error)) return kReadFailed;
  const unsigned long type = ReadValue(code, found);
  if (type != listed_type) return 0;
  name = found;
  return type;
}

unsigned long CRegistryInfo::EnumValue(const char* key, unsigned int index, CString& name) {
  return EnumValue(ResolveKeyText(key), index, name);
}

int CRegistryInfo::DeleteValue(unsigned long code, const char* valueName) {
  if (!m_bCreate) return FALSE;
  HKEY key = GetHKEY(code);
  if (key == nullptr) return FALSE;
  if (valueName != OPOSSVC_ALL_VALUES) {
    if (RegDeleteValueA(key, valueName) != ERROR_SUCCESS) return FALSE;
    m_bModified = TRUE;
    return TRUE;
  }
  // Every value: the names first, then the deletions, so that deleting does
  // not shift the listing. A listing that stops early is a failure: values
  // would remain.
  std::vector<CString> names;
  int result = TRUE;
  for (DWORD index = 0;; ++index) {
    CString found;
    LONG error = ERROR_SUCCESS;
    if (!ValueNameAt(key, index, found, nullptr, &error)) {
      if (error != ERROR_NO_MORE_ITEMS) result = FALSE;
      break;
    }
    names.push_back(found);
  }
  for (const CString& found : names) {
    if (RegDeleteValueA(key, found) != ERROR_SUCCESS) result = FALSE;
  }
  m_bModified = TRUE;
  return result;
}

int CRegistryInfo::DeleteValue(const char* key, const char* valueName) {
  if (!m_bCreate) return FALSE;
  return DeleteValue(ResolveKeyText(key), valueName);
}

void CRegistryInfo::SaveReadValue() {
  if (++m_nSaveCount == 1) {
    m_dwSavedType = m_dwReadType;
    m_strSavedValue = m_strReadValue;
    m_dwSavedValue = m_dwReadValue;
  }
}

void CRegistryInfo::RestoreReadValue() {
  if (m_nSaveCount <= 0) {
    m_nSaveCount = 0;
    return;
  }
  if (--m_nSaveCount == 0) {
    m_dwReadType = m_dwSavedType;
    m_strReadValue = m_strSavedValue;
    m_dwReadValue = m_dwSavedValue;
  }
}
