// CRegistryInfo: typed access to the OPOS registry database.
//
// Every key it reads or writes lies below the database root,
// HKEY_LOCAL_MACHINE\SOFTWARE\OLEforRetail. Callers name keys by key code
// (KC_*, opos.h) or by a short key text that is first turned into a key code:
//
//   text                        code                 key
//   "SOFTWARE\OLEforRetail"     KC_OLEFORRETAIL      the database root
//   "ServiceOPOS", "AllClasses" KC_SERVICEOPOS       one sub-key per class
//   "POSPrinter" (a class)      1..18                ServiceOPOS\<class>
//   "POSPrinter\Dev1"           class index << 5     that device, held by the object
//   "ServiceInfo"               KC_SERVICEINFO       configuration sub-keys
//   "ServiceInfo\<name>"        KC_SERVICEINFO_SUBKEY  the sub-key the object holds
//   "AllDevices"                KC_ALL_DEVICES       every device of every class
//   (none)                      KC_CURRENT_DEVICE    the device the object holds
//
// An object is a small set of open keys, at most one of each level: the root,
// ServiceOPOS, ServiceInfo, one ServiceInfo sub-key, one class, one device.
// Open() opens (and with the create flag creates) levels; the device lookup
// (GetDeviceInfo) finds a device through chains of logical names and reads
// its entry; the value operations read and write values of the open keys;
// EnumKey lists sub-keys and DeleteKey removes whole trees. Close() or the
// destructor closes everything.
//
// Results: 1 on success and 0 on failure for the int operations; reads give
// the registry type read (REG_SZ, REG_BINARY, REG_DWORD), 0 for a value of
// another type, or (unsigned long)-1 when the key is not open or the value
// cannot be read. Writes and deletions need the create flag of the last
// Open(); without it they fail and change nothing. No exceptions of its own
// are thrown (the framework's string may throw when memory runs out), and
// nothing is logged.
//
// Every operation by key code also exists with a key text in its place. A
// text that names a device other than the one the object holds, or a
// ServiceInfo sub-key other than the one it holds, first moves the object to
// that key (as Open with the text would), so the operation always acts on
// the key the text names, never on the object's current one.
//
// Threads: an object has no lock and is used by one thread at a time; any
// number of objects may use the same keys at once, in one or several
// processes.
#ifndef OPOSSVC_REGISTRY_H_
#define OPOSSVC_REGISTRY_H_

#include <cstdint>

#include <opossvc/afx/collections.h>
#include <opossvc/afx/cstring.h>
#include <opossvc/export.h>
#include <opossvc/opos.h>
#include <opossvc/win32/registry.h>

namespace opossvc::detail {
class RegistryInfoAccess;
}

// DeleteValue's value name for "every value of the key".
#define OPOSSVC_ALL_VALUES (reinterpret_cast<const char*>(static_cast<std::intptr_t>(-1)))

// Reads one value of an open key into a new buffer of *size bytes, allocated
// with ::operator new; the caller releases it with ::operator delete. `size`
// and `type` may be null. 1 on success; 0 on failure, with `data` null.
OPOSSVC_API int ReadRegValue(HKEY key, const char* valueName, unsigned long* type,
                             unsigned char*& data, unsigned long* size);

// Deletes the sub-key `name` of `parent` with everything below it, children
// before their parents. Returns the registry's error code, ERROR_SUCCESS (0)
// on success; ERROR_INVALID_PARAMETER for a null or empty name, which would
// name the parent itself.
OPOSSVC_API long PurgeRegKey(HKEY parent, const char* name);

class OPOSSVC_API CRegistryInfo {
 public:
  CRegistryInfo();
  // Open(code, create).
  CRegistryInfo(unsigned long code, int create);
  // Open(text, code, create); then, unless the code names ServiceInfo or its
  // sub-key, GetDeviceInfo(text, code). Neither result is kept: read after.
  CRegistryInfo(const char* text, unsigned long code, int create);
  // Closes every open key without flushing.
  ~CRegistryInfo();
  CRegistryInfo(const CRegistryInfo&) = delete;
  CRegistryInfo& operator=(const CRegistryInfo&) = delete;

  // --- Key codes and key texts --------------------------------------------

  // The text of a key code, relative to its parent level (a class name, the
  // current device's "<class>\<device>", "ServiceInfo\<sub-key>", ...);
  // empty when the code names no key.
  CString ConvKey(unsigned long code) const;
  // The key code of a text; 0 when it names nothing. "<class>\<device>"
  // gives the class's device code when that device (or a logical name of
  // it) exists; the lookup runs on a temporary object.
  unsigned long ConvKey(const char* text) const;
  // Class index to device code (10 -> 0x140) and back; 0 for anything else.
  unsigned long ConvDevCls(unsigned long code) const;

  // --- Opening and closing --------------------------------------------------

  // Opens every level the code names; several bits may be combined
  // (0xFFFFF000 opens the root, ServiceOPOS, ServiceInfo and the held
  // sub-key). With `create` keys open for writing and missing ones are
  // created; without it nothing is ever created. 1 when every level opened.
  int Open(unsigned long code, int create);
  // Opens a ServiceInfo sub-key (code KC_SERVICEINFO or _SUBKEY, text the
  // sub-key path) or a device by name (code a class index or device code,
  // or 0 with a text "<class>\<device>"). 1 or 0.
  int Open(const char* text, unsigned long code, int create);
  // Closes every open key, flushing each first when `flush` is true and
  // something was written through this object; then forgets everything.
  void Close(int flush);

  // --- Device lookup ---------------------------------------------------------

  // Looks a device up within a class (a class index, a device code, or 0
  // when the text is "<class>\<device>") following logical names, opens its
  // key and reads its entry. A null text means the current device. The same
  // device asked for again is answered from the object. 1 when found.
  int GetDeviceInfo(const char* text, unsigned long code);
  // Each runs GetDeviceInfo(text, code) first and returns one field of the
  // device found: empty or 0 when the lookup found none, the previous
  // device's when it failed before reaching an existing class key.
  unsigned long GetDeviceKey(const char* text, unsigned long code);
  CString GetDeviceID(const char* text, unsigned long code);
  CString GetSOName(const char* text, unsigned long code);
  CString GetSOFile(const char* text, unsigned long code);
  CString GetSODesc(const char* text, unsigned long code);
  CString GetSOVersion(const char* text, unsigned long code);
  CString GetDeviceName(const char* text, unsigned long code);
  CString GetDeviceDesc(const char* text, unsigned long code);
  CString GetPortName(const char* text, unsigned long code);
  unsigned long GetPortNo(const char* text, unsigned long code);
  // The device key name a text resolves to within a class, or empty. Runs
  // on a temporary object; this one is not changed.
  CString FindDevice(const char* text, unsigned long code) const;

  // --- Sub-keys --------------------------------------------------------------

  // The index-th sub-key of a key: bare names for the root and ServiceOPOS,
  // otherwise the key's text, a backslash and the name, a text that the
  // text forms accept again. KC_ALL_DEVICES lists "<class>\<device>" for
  // every device of every class. Sequential indexes are served from a cursor
  // kept in the object. 1, or 0 with an empty name past the end.
  int EnumKey(unsigned long code, unsigned int index, CString& name);
  int EnumKey(const char* key, unsigned int index, CString& name);
  // Deletes the key with everything below it (KC_ALL_DEVICES: every device
  // key, keeping the class keys). Stops at the first failure; what was
  // deleted stays deleted. 1 or 0.
  int DeleteKey(unsigned long code);
  int DeleteKey(const char* key);

  // --- Values ------------------------------------------------------------------
  // A value name of "" (or null) is the key's default value.

  // Reads a value into the object's last-value fields; returns its type,
  // 0 for a type other than REG_SZ/REG_BINARY/REG_DWORD, or -1.
  unsigned long ReadValue(unsigned long code, const char* valueName);
  unsigned long ReadValue(const char* key, const char* valueName);
  // Each empties its output (0 for a number), then gives 1 and the value
  // when it is of the getter's type.
  int GetString(unsigned long code, const char* valueName, CString& value);
  int GetString(const char* key, const char* valueName, CString& value);
  int GetDWORD(unsigned long code, const char* valueName, unsigned long& value);
  int GetDWORD(const char* key, const char* valueName, unsigned long& value);
  int GetBinary(unsigned long code, const char* valueName, CByteArray& value);
  int GetBinary(const char* key, const char* valueName, CByteArray& value);
  // REG_SZ with its terminating NUL; a null text writes "".
  int SetString(unsigned long code, const char* valueName, const char* value);
  int SetString(const char* key, const char* valueName, const char* value);
  int SetDWORD(unsigned long code, const char* valueName, unsigned long value);
  int SetDWORD(const char* key, const char* valueName, unsigned long value);
  // An empty array writes nothing and gives 0.
  int SetBinary(unsigned long code, const char* valueName, CByteArray& value);
  int SetBinary(const char* key, const char* valueName, CByteArray& value);
  // `size` bytes; size 0 writes an empty value.
  int SetBinary(unsigned long code, const char* valueName, unsigned char* data, unsigned long size);
  int SetBinary(const char* key, const char* valueName, unsigned char* data, unsigned long size);
  // Any registry type.
  int SetValue(unsigned long code, const char* valueName, unsigned long type, unsigned char* data,
               unsigned long size);
  // The value at an index, read as ReadValue; its name in `name`. -1 past
  // the last value; 0 with an empty name for a value of another type.
  unsigned long EnumValue(unsigned long code, unsigned int index, CString& name);
  unsigned long EnumValue(const char* key, unsigned int index, CString& name);
  // Deletes one value, or every value with OPOSSVC_ALL_VALUES.
  int DeleteValue(unsigned long code, const char* valueName);
  int DeleteValue(const char* key, const char* valueName);

  // --- Fields read by the service object base, the port driver and import --
  // Filled by the device lookup; read-only for everyone else.
  DWORD m_dwDevKey;         // device code of the current device; 0 when none
  CString m_strDeviceID;    // "<class>\<device>", relative to ServiceOPOS
  CString m_strDeviceName;  // value "DeviceName"
  CString m_strDeviceDesc;  // value "DeviceDesc"
  CString m_strPortName;    // value "Port", without a leading "\\.\"
  DWORD m_dwPortNo;         // the number in m_strPortName (COM3 -> 3)
  DWORD m_dwReadValue;      // last REG_DWORD read

 protected:
  // Matches a text against one name ("POSPrinter", "ServiceInfo"): the text
  // alone gives `code`; "<name>\<rest>" gives `devCode` when rest is a device
  // of that class (or the held ServiceInfo sub-key); otherwise 0.
  unsigned long ConvDevKey(const char* text, const char* name, unsigned long code,
                           unsigned long devCode) const;
  // The open handle of a key code, or null.
  HKEY GetHKEY(unsigned long code) const;
  // Opens, or with `create` creates, the one key named by `code` below
  // `parent` into `slot`; *disposition gets REG_CREATED_NEW_KEY or
  // REG_OPENED_EXISTING_KEY. 1 or 0.
  int OpenKey(HKEY parent, unsigned long code, HKEY& slot, int create,
              DWORD* disposition = nullptr);
  // Opens the device key for a name within a class index, following
  // logical names. 1 or 0.
  int OpenDevice(const char* text, unsigned long code, int create);

 private:
  friend class opossvc::detail::RegistryInfoAccess;

  // Splits a leading key name off `text` and reconciles it with `code`.
  int ValidateKey(const char*& text, unsigned long& code) const;
  // Forgets the current device; with keepOpen false also the open-key set,
  // the create flag, the last value read, the sub-key name and the cursor.
  // Closes nothing.
  void Init(int keepOpen);
  void InitObj();
  void SaveReadValue();
  void RestoreReadValue();

  // The key code an operation's key text stands for, moving the object to
  // the device or ServiceInfo sub-key the text names first.
  DWORD ResolveKeyText(const char* text);
  // Closes the open levels among `levels` (key-code bits; KC_CLASS_MASK and
  // KC_DEVICE_MASK for the class and device levels) without flushing.
  void CloseLevels(DWORD levels);
  // Replaces the held device or sub-key name by the registry's spelling.
  void CorrectCase(DWORD code);
  int OpenServiceInfoSubKey(const char* path, int create);

  DWORD m_dwOpenKeys;         // open levels in key-code bits; class/device bits hold the codes
  int m_bCreate;              // create flag of the last Open
  DWORD m_dwOpenClass;        // class index held in m_hClass; 0 when none
  DWORD m_dwDevClass;         // class code of the last device lookup
  CString m_strDevice;        // current device, in the registry's letter case
  CString m_strSOName;        // service object name
  CString m_strSOFile;        // value "Service"
  CString m_strSODesc;        // value "Description"
  CString m_strSOVersion;     // value "Version"
  DWORD m_dwReadType;         // type of the last read: 1, 3, 4, 0 or 0xFFFFFFFF
  CString m_strReadValue;     // last REG_SZ read
  CByteArray m_binReadValue;  // last REG_BINARY read
  CString m_strServiceInfo;   // held ServiceInfo sub-key path, relative to ServiceInfo
  int m_bModified;            // a write or deletion went through this object
  CString m_strOpenDevKey;    // path of the key in m_hDevice, relative to ServiceOPOS
  CString m_strOpenInfoKey;   // path of the key in m_hInfoSubKey, relative to the root
  HKEY m_hOLEforRetail;
  HKEY m_hServiceOPOS;
  HKEY m_hServiceInfo;
  HKEY m_hInfoSubKey;
  HKEY m_hClass;
  HKEY m_hDevice;
  // EnumKey's cursor.
  DWORD m_dwEnumKey;  // code of the enumeration in progress
  DWORD m_nEnumLast;  // index of the previous call
  DWORD m_dwEnumCur;  // code being listed (for AllDevices: the class index)
  int m_bEnumPrefix;  // results carry the listed key's text
  DWORD m_nEnumBase;  // AllDevices: list index of the current class's first device
  LONG m_nEnumClass;  // AllDevices: position of the class in ServiceOPOS; -1 none
  // SaveReadValue's nesting and copy (the binary value is not saved).
  LONG m_nSaveCount;
  DWORD m_dwSavedType;
  CString m_strSavedValue;
  DWORD m_dwSavedValue;
};

#endif  // OPOSSVC_REGISTRY_H_
