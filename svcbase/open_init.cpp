// The open sequence: control-object checks, device lookup, the maker's
// configuration settings and the port-name check.
#include <opossvc/registry.h>
#include <opossvc/svcbase.h>

#include "svcbase/ansi_text.h"

namespace {

// The maker's configuration key below ServiceInfo, the value naming its
// current configuration sub-key, and the sub-key used without one.
constexpr char kMakerKey[] = "VANTA QUILLON";
constexpr char kPrimaryConfigValue[] = "PrimaryConfig";
constexpr char kDefaultConfigPath[] = "VANTA QUILLON\\VANTA1.6";
// A control object whose description holds this is one of the maker's own.
constexpr char kVendorMark[] = "VANTA";

constexpr char kPortDigits[] = "1234567890";

// Port types and the port numbers each accepts.
struct PortForm {
  const char* type;
  LONG first;  // first > last: any number
  LONG last;
};
constexpr PortForm kPortForms[] = {
    {"KBD", 1, 0}, {"HT", 1, 0}, {"USB", 1, 1000}, {"COM", 1, 10}, {"NET", 1, 255}, {"LPT", 1, 3},
};

bool PortAccepted(const CString& type, LONG number) {
  for (const PortForm& form : kPortForms) {
    if (type == form.type) {
      return form.first > form.last || (number >= form.first && number <= form.last);
    }
  }
  return false;
}

}  // namespace

long CSvcBase::OpenInit(const char* pszDeviceClass, const char* pszDeviceName,
                        IDispatch* pDispatch, unsigned long dwRequiredEvents,
                        int bDirectIOAlways) {
  // A failing call on the control object raises; it passes through, but the
  // result codes must not go on saying success.
  try {
    return RunOpenInit(pszDeviceClass, pszDeviceName, pDispatch, dwRequiredEvents,
                       bDirectIOAlways);
  } catch (...) {
    m_lResultCode = OPOS_E_FAILURE;
    m_lResultCodeExtended = 0;
    throw;
  }
}

long CSvcBase::RunOpenInit(const char* pszDeviceClass, const char* pszDeviceName,
                           IDispatch* pDispatch, unsigned long dwRequiredEvents,
                           int bDirectIOAlways) {
  auto fail = [this](LONG extended) {
    m_lResultCode = OPOS_E_ILLEGAL;
    m_lResultCodeExtended = extended;
    return static_cast<long>(m_lResultCode);
  };

  m_bDirectIOAlways = bDirectIOAlways;
  m_lResultCode = OPOS_SUCCESS;
  m_lResultCodeExtended = 0;
  if (m_bOpened) return fail(OPOSSVC_E_ALREADY_OPEN);

  if (GetCODescription(pDispatch).Find(kVendorMark) >= 0) m_bVendorCO = 1;
  DWORD required = static_cast<DWORD>(dwRequiredEvents);
  if ((GetIDsOfEvents(pDispatch) & required) != required) return fail(OPOSSVC_E_NO_EVENT_METHOD);

  m_strDeviceName.Empty();
  m_strDeviceDescription.Empty();
  m_strDeviceID.Empty();
  m_lPortNumber = 0;
  m_nPeekFirst = 0;
  m_nPeekLast = 0;

  // The device entry. A device that is not found leaves the port name
  // empty, which the port check below refuses.
  CRegistryInfo device;
  device.GetDeviceInfo(pszDeviceName ? pszDeviceName : "",
                       device.ConvKey(pszDeviceClass ? pszDeviceClass : ""));
  m_strDeviceName = device.m_strDeviceName;
  m_strDeviceDescription =
      device.m_strDeviceDesc.IsEmpty() ? device.m_strDeviceName : device.m_strDeviceDesc;
  m_strDeviceID = device.m_strDeviceID;
  m_lPortNumber = opossvc::Long32(device.m_dwPortNo);

  // The maker's current configuration.
  CString config_path = kDefaultConfigPath;
  {
    CRegistryInfo maker;
    maker.Open(kMakerKey, KC_SERVICEINFO_SUBKEY, FALSE);
    CString primary;
    if (maker.GetString(KC_SERVICEINFO_SUBKEY, kPrimaryConfigValue, primary) && !primary.IsEmpty()) {
      config_path = CString(kMakerKey) + "\\" + primary;
    }
    maker.Close(FALSE);
  }
  device.Open(config_path, KC_SERVICEINFO_SUBKEY, FALSE);
  unsigned long value = 0;
  if (!device.GetDWORD(KC_SERVICEINFO_SUBKEY, "IdleSleep", value)) {
    device.GetDWORD(KC_CURRENT_DEVICE, "IdleSleep", value);
  }
  m_dwIdleSleep = static_cast<DWORD>(value);

  // The port type is the port name up to its first digit, upper-cased. A
  // longer type, and any network port, is its first three characters as
  // they stand: network ports are numbered by the text that follows, in
  // order of first use.
  const CString& port = device.m_strPortName;
  int first_digit = port.FindOneOf(kPortDigits);
  CString type = first_digit < 0 ? port : port.Left(first_digit);
  type.MakeUpper();
  if (type.GetLength() > 3 || type == "NET") {
    type = port.Left(3);
    m_lPortNumber = type == "NET" ? GetPortNumber(port.Mid(3)) : 0;
  }
  if (!PortAccepted(type, m_lPortNumber)) {
    fail(OPOSSVC_E_BAD_PORT);
    return m_lResultCode;
  }

  value = 0;
  device.GetDWORD(KC_SERVICEINFO_SUBKEY, "PeekRange", value);
  DWORD first = LOWORD(value);
  DWORD last = HIWORD(value);
  if (first > last) {
    fail(OPOSSVC_E_PEEK_RANGE);
  } else {
    m_nPeekFirst = first;
    m_nPeekLast = last;
  }

  value = 0;
  device.GetDWORD(KC_SERVICEINFO_SUBKEY, "RemoveKeyMessage", value);
  m_bRemoveKeyMessage = value != 0 && (m_nPeekFirst != 0 || m_nPeekLast != 0);

  value = 0;
  device.GetDWORD(KC_SERVICEINFO_SUBKEY, "AutoDisableSpecial", value);
  m_bAutoDisableSpecial = value != 0;

  return m_lResultCode;
}

long CSvcBase::GetPortNumber(CString strName) {
  long number = 1;
  for (POSITION pos = m_NetPortNames.GetHeadPosition(); pos != nullptr; ++number) {
    if (m_NetPortNames.GetNext(pos) == strName) return number;
  }
  m_NetPortNames.AddTail(strName);
  return static_cast<long>(m_NetPortNames.GetCount());
}

namespace {

// The dispatch identifier of one member name; false when the control object
// does not know it.
bool FindMember(IDispatch* dispatch, const char* name, DISPID* id) {
  BSTR member = AllocSysString(name);
  HRESULT hr = dispatch->GetIDsOfNames(IID_NULL, &member, 1, 0, id);
  SysFreeString(member);
  return hr == S_OK;
}

}  // namespace

long CSvcBase::GetCOVersion(IDispatch* pDispatch) {
  DISPID id;
  if (pDispatch == nullptr || !FindMember(pDispatch, "ControlObjectVersion", &id)) return -1;
  COleDispatchDriver driver;
  driver.AttachDispatch(pDispatch, FALSE);
  long version = -1;
  driver.GetProperty(id, VT_I4, &version);
  driver.DetachDispatch();
  return version;
}

CString CSvcBase::GetCODescription(IDispatch* pDispatch) {
  DISPID id;
  if (pDispatch == nullptr || !FindMember(pDispatch, "ControlObjectDescription", &id)) {
    return CString();
  }
  COleDispatchDriver driver;
  driver.AttachDispatch(pDispatch, FALSE);
  VARIANT description;
  VariantInit(&description);
  driver.GetProperty(id, VT_VARIANT, &description);
  driver.DetachDispatch();
  // A control object answering with another type is taken as having no
  // description rather than read as a string it is not.
  CString result;
  if (description.vt == VT_BSTR ||
      VariantChangeType(&description, &description, 0, VT_BSTR) == S_OK) {
    result = opossvc::detail::WideToAnsi(description.bstrVal, SysStringLen(description.bstrVal));
  }
  VariantClear(&description);
  return result;
}
