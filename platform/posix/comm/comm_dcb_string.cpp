// BuildCommDCBA: the mode strings of the MODE command, in the old comma form and the newer
// keyword form.
#include <cctype>
#include <cstdint>
#include <string>
#include <string_view>

#include <opossvc/win32/comm.h>
#include <opossvc/win32/errors.h>

#include "platform/internal/serial_port.h"

namespace opossvc::detail {
namespace {

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

// A rate of up to 32 bits, 0 included, with the two-digit abbreviations of
// the MODE command (96 = 9600).
bool ParseRate(std::string_view text, DWORD* rate) {
  if (text.empty()) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > 0xFFFFFFFFu) return false;
  }
  switch (value) {
    case 11:
      value = 110;
      break;
    case 15:
      value = 150;
      break;
    case 30:
      value = 300;
      break;
    case 60:
      value = 600;
      break;
    case 12:
      value = 1200;
      break;
    case 24:
      value = 2400;
      break;
    case 48:
      value = 4800;
      break;
    case 96:
      value = 9600;
      break;
    case 19:
      value = 19200;
      break;
    default:
      break;
  }
  *rate = static_cast<DWORD>(value);
  return true;
}

bool ParseParity(std::string_view text, BYTE* parity) {
  if (text.size() != 1) return false;
  switch (std::tolower(static_cast<unsigned char>(text[0]))) {
    case 'n':
      *parity = NOPARITY;
      break;
    case 'o':
      *parity = ODDPARITY;
      break;
    case 'e':
      *parity = EVENPARITY;
      break;
    case 'm':
      *parity = MARKPARITY;
      break;
    case 's':
      *parity = SPACEPARITY;
      break;
    default:
      return false;
  }
  return true;
}

bool ParseDataBits(std::string_view text, BYTE* bits) {
  if (text.size() != 1 || text[0] < '5' || text[0] > '8') return false;
  *bits = static_cast<BYTE>(text[0] - '0');
  return true;
}

bool ParseStopBits(std::string_view text, BYTE* stop) {
  if (text == "1") {
    *stop = ONESTOPBIT;
  } else if (text == "1.5") {
    *stop = ONE5STOPBITS;
  } else if (text == "2") {
    *stop = TWOSTOPBITS;
  } else {
    return false;
  }
  return true;
}

bool ParseOnOff(std::string_view text, bool* on) {
  std::string lower = Lower(text);
  if (lower == "on") {
    *on = true;
  } else if (lower == "off") {
    *on = false;
  } else {
    return false;
  }
  return true;
}

// "9600,n,8,1[,x|p]": the flow fields are set as the retry letter says, off without one.
bool ParseCommaForm(std::string_view text, DCB* dcb) {
  std::string_view fields[5];
  size_t count = 0;
  for (;;) {
    if (count == 5) return false;
    size_t comma = text.find(',');
    fields[count++] = Trim(text.substr(0, comma));
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  if (!ParseRate(fields[0], &dcb->BaudRate)) return false;
  if (count > 1 && !fields[1].empty() && !ParseParity(fields[1], &dcb->Parity)) return false;
  if (count > 2 && !fields[2].empty() && !ParseDataBits(fields[2], &dcb->ByteSize)) return false;
  if (count > 3 && !fields[3].empty() && !ParseStopBits(fields[3], &dcb->StopBits)) return false;
  std::string retry = count > 4 ? Lower(fields[4]) : std::string();
  if (!retry.empty() && retry != "x" && retry != "p") return false;
  bool hardware = retry == "p";
  dcb->fOutX = dcb->fInX = retry == "x";
  dcb->fOutxCtsFlow = dcb->fOutxDsrFlow = hardware;
  dcb->fDtrControl = hardware ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_ENABLE;
  dcb->fRtsControl = hardware ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
  return true;
}

// "baud=9600 parity=n data=8 stop=1 xon=on ...": only the fields named
// change, but for the stop bits, which are one (two at 110 baud) unless named.
bool ParseKeywordForm(std::string_view text, DCB* dcb) {
  bool stop_named = false;
  bool baud_110 = false;
  while (!(text = Trim(text)).empty()) {
    size_t end = 0;
    while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end]))) ++end;
    std::string_view item = text.substr(0, end);
    text.remove_prefix(end);
    size_t equals = item.find('=');
    if (equals == std::string_view::npos) return false;
    std::string key = Lower(item.substr(0, equals));
    std::string_view value = item.substr(equals + 1);
    std::string lower = Lower(value);
    bool on = false;
    if (key == "baud") {
      if (!ParseRate(value, &dcb->BaudRate)) return false;
      baud_110 = dcb->BaudRate == 110;
    } else if (key == "parity") {
      if (!ParseParity(value, &dcb->Parity)) return false;
    } else if (key == "data") {
      if (!ParseDataBits(value, &dcb->ByteSize)) return false;
    } else if (key == "stop") {
      if (!ParseStopBits(value, &dcb->StopBits)) return false;
      stop_named = true;
    } else if (key == "xon") {
      if (!ParseOnOff(value, &on)) return false;
      dcb->fOutX = dcb->fInX = on;
    } else if (key == "octs") {
      if (!ParseOnOff(value, &on)) return false;
      dcb->fOutxCtsFlow = on;
    } else if (key == "odsr") {
      if (!ParseOnOff(value, &on)) return false;
      dcb->fOutxDsrFlow = on;
    } else if (key == "idsr") {
      if (!ParseOnOff(value, &on)) return false;
      dcb->fDsrSensitivity = on;
    } else if (key == "to") {
      if (!ParseOnOff(value, &on)) return false;  // time-outs live in COMMTIMEOUTS
    } else if (key == "dtr") {
      if (lower == "hs") {
        dcb->fDtrControl = DTR_CONTROL_HANDSHAKE;
      } else if (ParseOnOff(value, &on)) {
        dcb->fDtrControl = on ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
      } else {
        return false;
      }
    } else if (key == "rts") {
      if (lower == "hs") {
        dcb->fRtsControl = RTS_CONTROL_HANDSHAKE;
      } else if (lower == "tg") {
        dcb->fRtsControl = RTS_CONTROL_TOGGLE;
      } else if (ParseOnOff(value, &on)) {
        dcb->fRtsControl = on ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
      } else {
        return false;
      }
    } else {
      return false;
    }
  }
  if (!stop_named) dcb->StopBits = baud_110 ? TWOSTOPBITS : ONESTOPBIT;
  return true;
}

// The text after an optional device name: "COMn" followed by spaces, a colon
// or both ("COM1:", "COM1 :", "COM1 "). False for a name that is no port.
bool SkipDeviceName(std::string_view* text) {
  if (text->size() < 4 || Lower(text->substr(0, 3)) != "com" || (*text)[3] < '0' ||
      (*text)[3] > '9') {
    return true;
  }
  size_t end = 3;
  while (end < text->size() && (*text)[end] >= '0' && (*text)[end] <= '9') ++end;
  if (ParseComName(text->substr(0, end)) == 0) return false;
  std::string_view rest = text->substr(end);
  if (rest.empty() || (rest[0] != ':' && rest[0] != ' ')) return false;
  while (!rest.empty() && rest[0] == ' ') rest.remove_prefix(1);
  if (!rest.empty() && rest[0] == ':') rest.remove_prefix(1);
  *text = rest;
  return true;
}

}  // namespace
}  // namespace opossvc::detail

BOOL WINAPI BuildCommDCBA(LPCSTR lpDef, LPDCB lpDCB) {
  using namespace opossvc::detail;
  if (!lpDef || !lpDCB) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // The string may not start with a space, though spaces may follow a
  // device name and separate the fields.
  std::string_view text = lpDef;
  const bool named =
      !text.empty() && !std::isspace(static_cast<unsigned char>(text[0])) && SkipDeviceName(&text);
  DCB dcb = *lpDCB;
  text = Trim(text);
  bool parsed = named && (text.find('=') != std::string_view::npos ? ParseKeywordForm(text, &dcb)
                                                                   : ParseCommaForm(text, &dcb));
  if (!parsed) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  dcb.DCBlength = sizeof(DCB);
  *lpDCB = dcb;
  return TRUE;
}
