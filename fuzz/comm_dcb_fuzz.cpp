// Mode strings to BuildCommDCBA: a string it refuses leaves the DCB as it
// was; one it takes gives settings in range, and those settings, written
// back as a keyword string, read back the same.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include <opossvc/win32/comm.h>
#include <opossvc/win32/errors.h>

#include "fuzz/fuzz_support.h"

namespace {

using opossvc::fuzz::Check;

DCB StartingDcb() {
  DCB dcb;
  std::memset(&dcb, 0, sizeof(dcb));
  dcb.DCBlength = sizeof(dcb);
  dcb.BaudRate = 9600;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  return dcb;
}

// The settings that BuildCommDCBA reads, as a keyword string.
std::string KeywordString(const DCB& dcb) {
  static const char* const kParity[] = {"n", "o", "e", "m", "s"};
  static const char* const kStop[] = {"1", "1.5", "2"};
  static const char* const kDtr[] = {"off", "on", "hs"};
  static const char* const kRts[] = {"off", "on", "hs", "tg"};
  char text[256];
  std::snprintf(text, sizeof(text),
                "baud=%lu parity=%s data=%u stop=%s xon=%s octs=%s odsr=%s idsr=%s dtr=%s rts=%s",
                static_cast<unsigned long>(dcb.BaudRate), kParity[dcb.Parity], dcb.ByteSize,
                kStop[dcb.StopBits], dcb.fOutX ? "on" : "off", dcb.fOutxCtsFlow ? "on" : "off",
                dcb.fOutxDsrFlow ? "on" : "off", dcb.fDsrSensitivity ? "on" : "off",
                kDtr[dcb.fDtrControl], kRts[dcb.fRtsControl]);
  return text;
}

bool SameSettings(const DCB& a, const DCB& b) {
  return a.BaudRate == b.BaudRate && a.Parity == b.Parity && a.ByteSize == b.ByteSize &&
         a.StopBits == b.StopBits && a.fOutX == b.fOutX && a.fInX == b.fInX &&
         a.fOutxCtsFlow == b.fOutxCtsFlow && a.fOutxDsrFlow == b.fOutxDsrFlow &&
         a.fDsrSensitivity == b.fDsrSensitivity && a.fDtrControl == b.fDtrControl &&
         a.fRtsControl == b.fRtsControl;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);  // read up to a NUL
  const DCB before = StartingDcb();
  DCB dcb = before;
  SetLastError(ERROR_SUCCESS);
  if (!BuildCommDCBA(text.c_str(), &dcb)) {
    Check(GetLastError() == ERROR_INVALID_PARAMETER, "refusal without ERROR_INVALID_PARAMETER");
    Check(std::memcmp(&dcb, &before, sizeof(dcb)) == 0, "a refused string changed the DCB");
    return 0;
  }
  Check(dcb.DCBlength == sizeof(DCB), "DCBlength");
  Check(dcb.Parity <= SPACEPARITY, "parity out of range");
  Check(dcb.ByteSize >= 5 && dcb.ByteSize <= 8, "data bits out of range");
  Check(dcb.StopBits <= TWOSTOPBITS, "stop bits out of range");
  Check(dcb.fDtrControl <= DTR_CONTROL_HANDSHAKE, "DTR control out of range");
  Check(dcb.fOutX == dcb.fInX, "XON/XOFF set one way only");

  DCB again = StartingDcb();
  const std::string written = KeywordString(dcb);
  Check(BuildCommDCBA(written.c_str(), &again) != FALSE, "its own settings refused");
  Check(SameSettings(dcb, again), "settings changed on the way back");
  return 0;
}
