// The Win32 serial-communications subset.
//
// A serial port is opened with CreateFileA("COMn", GENERIC_READ | GENERIC_WRITE, 0, ...,
// OPEN_EXISTING, ...) (files.h); "COMn" and "\\.\COMn" are accepted in any letter case. The
// handle is read and written with ReadFile/WriteFile under the port's COMMTIMEOUTS and closed with
// CloseHandle. On POSIX a COM name maps to a device through the registry key
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM (value name = device path, data = "COMn"); an unmapped "COMn"
// is /dev/ttyS<n-1>. Inside a process a test may take over a COM name with
// opossvc::testing::VirtualPort (testing/virtual_port.h).
//
// CreateFileA of a port fails with ERROR_ACCESS_DENIED while the port is in use (opened by this
// or another program), as on Win32; with ERROR_PRIVILEGE_NOT_HELD when the user may not use the
// device at all (on POSIX its permissions: for a tty usually membership of group dialout), so that
// the two causes can be told apart; and with ERROR_FILE_NOT_FOUND when there is no such port.
//
// Contract of the calls below, as on Win32:
//   - every function returns FALSE and sets the last error on failure: ERROR_INVALID_HANDLE for a
//     handle that is no open serial port, ERROR_INVALID_PARAMETER for a null record or a value
//     the port cannot take (SetCommState leaves the port unchanged then), and
//     ERROR_DEVICE_NOT_CONNECTED once the device has gone away (unplugged); CloseHandle works on
//     such a handle as on any other;
//   - GetCommState returns the DCB as it was last set, with the device's current settings for
//     fields that were never set;
//   - ReadFile waits by COMMTIMEOUTS: interval MAXDWORD with both read totals 0 returns at once
//     with what has arrived; otherwise the read total (multiplier * bytes asked + constant) bounds
//     the whole read, and a non-zero interval bounds the gap between two bytes once the first has
//     arrived; all read fields 0 waits until every byte asked for has arrived. A time-out is not an
//     error: ReadFile returns TRUE with the count read. WriteFile returns once its bytes have
//     left the port (handed to the line, not merely to a buffer), or at its total (multiplier *
//     bytes + constant, no limit when both are 0) with TRUE and the count that left: the bytes that
//     had not left by then are not sent. So a completed write has nothing left to lose to a purge
//     or a close;
//   - with DCB.fAbortOnError set, a line error (CE_*) makes ReadFile and WriteFile fail with
//     ERROR_OPERATION_ABORTED until ClearCommError has collected it;
//   - ClearCommError reports the line errors seen since its previous call and clears them;
//     COMSTAT.cbInQue/cbOutQue are the bytes waiting in the receive and transmit queues;
//   - GetCommModemStatus reports MS_CTS_ON/MS_DSR_ON/MS_RING_ON/MS_RLSD_ON; a device that has no
//     modem-control lines (a pseudo-terminal) reports CTS, DSR and RLSD on;
//   - PurgeComm: PURGE_TXABORT ends waiting writes (FALSE, ERROR_OPERATION_ABORTED, with the count
//     that left; the rest is not sent), PURGE_RXABORT waiting reads; PURGE_TXCLEAR discards bytes
//     that the port holds and no write in progress owns, PURGE_RXCLEAR the received bytes;
//   - SetupComm records the queue sizes asked for (the device's own buffers are used as they are);
//     GetCommProperties reports the queues the port really has: dwCurrentRxQueue is the most that
//     COMSTAT.cbInQue can count (on a tty 4095 bytes, whatever SetupComm asked), 0 when unknown.
// Overlapped I/O and WaitCommEvent are not supported.
#ifndef OPOSSVC_WIN32_COMM_H_
#define OPOSSVC_WIN32_COMM_H_

#include <opossvc/win32/types.h>
#ifndef OPOSSVC_WIN32_NATIVE

#include <opossvc/export.h>
#include <opossvc/win32/errors.h>
#include <opossvc/win32/files.h>
#include <opossvc/win32/types.h>

#ifndef MAXDWORD
#define MAXDWORD 0xFFFFFFFFu
#endif

// Baud rates (DCB.BaudRate takes any positive rate the device supports).
#define CBR_110 110
#define CBR_300 300
#define CBR_600 600
#define CBR_1200 1200
#define CBR_2400 2400
#define CBR_4800 4800
#define CBR_9600 9600
#define CBR_14400 14400
#define CBR_19200 19200
#define CBR_38400 38400
#define CBR_56000 56000
#define CBR_57600 57600
#define CBR_115200 115200
#define CBR_128000 128000
#define CBR_256000 256000

// DCB.Parity
#define NOPARITY 0
#define ODDPARITY 1
#define EVENPARITY 2
#define MARKPARITY 3
#define SPACEPARITY 4

// DCB.StopBits
#define ONESTOPBIT 0
#define ONE5STOPBITS 1
#define TWOSTOPBITS 2

// DCB.fDtrControl
#define DTR_CONTROL_DISABLE 0x00
#define DTR_CONTROL_ENABLE 0x01
#define DTR_CONTROL_HANDSHAKE 0x02

// DCB.fRtsControl
#define RTS_CONTROL_DISABLE 0x00
#define RTS_CONTROL_ENABLE 0x01
#define RTS_CONTROL_HANDSHAKE 0x02
#define RTS_CONTROL_TOGGLE 0x03

// EscapeCommFunction
#define SETXOFF 1
#define SETXON 2
#define SETRTS 3
#define CLRRTS 4
#define SETDTR 5
#define CLRDTR 6
#define RESETDEV 7
#define SETBREAK 8
#define CLRBREAK 9

// PurgeComm
#define PURGE_TXABORT 0x0001
#define PURGE_RXABORT 0x0002
#define PURGE_TXCLEAR 0x0004
#define PURGE_RXCLEAR 0x0008

// ClearCommError line errors
#define CE_RXOVER 0x0001
#define CE_OVERRUN 0x0002
#define CE_RXPARITY 0x0004
#define CE_FRAME 0x0008
#define CE_BREAK 0x0010
#define CE_TXFULL 0x0100
#define CE_PTO 0x0200
#define CE_IOE 0x0400
#define CE_DNS 0x0800
#define CE_OOP 0x1000
#define CE_MODE 0x8000

// GetCommModemStatus
#define MS_CTS_ON 0x0010
#define MS_DSR_ON 0x0020
#define MS_RING_ON 0x0040
#define MS_RLSD_ON 0x0080

// SetCommMask / GetCommMask
#define EV_RXCHAR 0x0001
#define EV_RXFLAG 0x0002
#define EV_TXEMPTY 0x0004
#define EV_CTS 0x0008
#define EV_DSR 0x0010
#define EV_RLSD 0x0020
#define EV_BREAK 0x0040
#define EV_ERR 0x0080
#define EV_RING 0x0100
#define EV_PERR 0x0200
#define EV_RX80FULL 0x0400
#define EV_EVENT1 0x0800
#define EV_EVENT2 0x1000

typedef struct _DCB {
  DWORD DCBlength;
  DWORD BaudRate;
  DWORD fBinary : 1;
  DWORD fParity : 1;
  DWORD fOutxCtsFlow : 1;
  DWORD fOutxDsrFlow : 1;
  DWORD fDtrControl : 2;
  DWORD fDsrSensitivity : 1;
  DWORD fTXContinueOnXoff : 1;
  DWORD fOutX : 1;
  DWORD fInX : 1;
  DWORD fErrorChar : 1;
  DWORD fNull : 1;
  DWORD fRtsControl : 2;
  DWORD fAbortOnError : 1;
  DWORD fDummy2 : 17;
  WORD wReserved;
  WORD XonLim;
  WORD XoffLim;
  BYTE ByteSize;
  BYTE Parity;
  BYTE StopBits;
  char XonChar;
  char XoffChar;
  char ErrorChar;
  char EofChar;
  char EvtChar;
  WORD wReserved1;
} DCB, *LPDCB;

typedef struct _COMMTIMEOUTS {
  DWORD ReadIntervalTimeout;
  DWORD ReadTotalTimeoutMultiplier;
  DWORD ReadTotalTimeoutConstant;
  DWORD WriteTotalTimeoutMultiplier;
  DWORD WriteTotalTimeoutConstant;
} COMMTIMEOUTS, *LPCOMMTIMEOUTS;

typedef struct _COMSTAT {
  DWORD fCtsHold : 1;
  DWORD fDsrHold : 1;
  DWORD fRlsdHold : 1;
  DWORD fXoffHold : 1;
  DWORD fXoffSent : 1;
  DWORD fEof : 1;
  DWORD fTxim : 1;
  DWORD fReserved : 25;
  DWORD cbInQue;
  DWORD cbOutQue;
} COMSTAT, *LPCOMSTAT;

// COMMPROP.dwServiceMask, dwProvSubType and dwMaxBaud
#define SP_SERIALCOMM 0x00000001
#define PST_RS232 0x00000001
#define BAUD_USER 0x10000000

// COMMPROP.dwProvCapabilities
#define PCF_DTRDSR 0x0001
#define PCF_RTSCTS 0x0002
#define PCF_RLSD 0x0004
#define PCF_PARITY_CHECK 0x0008
#define PCF_XONXOFF 0x0010
#define PCF_SETXCHAR 0x0020
#define PCF_TOTALTIMEOUTS 0x0040
#define PCF_INTTIMEOUTS 0x0080
#define PCF_SPECIALCHARS 0x0100
#define PCF_16BITMODE 0x0200

// COMMPROP.dwSettableParams
#define SP_PARITY 0x0001
#define SP_BAUD 0x0002
#define SP_DATABITS 0x0004
#define SP_STOPBITS 0x0008
#define SP_HANDSHAKING 0x0010
#define SP_PARITY_CHECK 0x0020
#define SP_RLSD 0x0040

// COMMPROP.wSettableData and wSettableStopParity
#define DATABITS_5 0x0001
#define DATABITS_6 0x0002
#define DATABITS_7 0x0004
#define DATABITS_8 0x0008
#define STOPBITS_10 0x0001
#define STOPBITS_15 0x0002
#define STOPBITS_20 0x0004
#define PARITY_NONE 0x0100
#define PARITY_ODD 0x0200
#define PARITY_EVEN 0x0400
#define PARITY_MARK 0x0800
#define PARITY_SPACE 0x1000

typedef struct _COMMPROP {
  WORD wPacketLength;
  WORD wPacketVersion;
  DWORD dwServiceMask;
  DWORD dwReserved1;
  DWORD dwMaxTxQueue;  // 0: no maximum
  DWORD dwMaxRxQueue;
  DWORD dwMaxBaud;
  DWORD dwProvSubType;
  DWORD dwProvCapabilities;
  DWORD dwSettableParams;
  DWORD dwSettableBaud;
  WORD wSettableData;
  WORD wSettableStopParity;
  DWORD dwCurrentTxQueue;  // 0: unknown
  DWORD dwCurrentRxQueue;
  DWORD dwProvSpec1;
  DWORD dwProvSpec2;
  WCHAR wcProvChar[1];
} COMMPROP, *LPCOMMPROP;

OPOSSVC_API BOOL WINAPI GetCommState(HANDLE hFile, LPDCB lpDCB);
OPOSSVC_API BOOL WINAPI SetCommState(HANDLE hFile, LPDCB lpDCB);
OPOSSVC_API BOOL WINAPI SetupComm(HANDLE hFile, DWORD dwInQueue, DWORD dwOutQueue);
OPOSSVC_API BOOL WINAPI GetCommProperties(HANDLE hFile, LPCOMMPROP lpCommProp);
OPOSSVC_API BOOL WINAPI GetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts);
OPOSSVC_API BOOL WINAPI SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts);
OPOSSVC_API BOOL WINAPI EscapeCommFunction(HANDLE hFile, DWORD dwFunc);
OPOSSVC_API BOOL WINAPI SetCommBreak(HANDLE hFile);
OPOSSVC_API BOOL WINAPI ClearCommBreak(HANDLE hFile);
OPOSSVC_API BOOL WINAPI PurgeComm(HANDLE hFile, DWORD dwFlags);
OPOSSVC_API BOOL WINAPI ClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat);
OPOSSVC_API BOOL WINAPI GetCommModemStatus(HANDLE hFile, LPDWORD lpModemStat);
// The event mask is kept and reported back; WaitCommEvent is not offered. Changing the mask ends
// the library's own wait for input on the port, as it ends a pending WaitCommEvent on Win32.
OPOSSVC_API BOOL WINAPI SetCommMask(HANDLE hFile, DWORD dwEvtMask);
OPOSSVC_API BOOL WINAPI GetCommMask(HANDLE hFile, LPDWORD lpEvtMask);
// Fills the DCB's rate, parity, data bits and stop bits from a mode string, either
// "baud=9600 parity=N data=8 stop=1 [xon=on|off] [dtr=on|off|hs] [rts=on|off|hs|tg]
// [octs=on|off] [odsr=on|off] [idsr=on|off]" or "9600,n,8,1[,x|p]", optionally after "COMn",
// spaces and a colon ("COM1:", "COM1 :"). Rates are any 32-bit number, 0 included. The
// keyword form changes the fields it names and sets one stop bit (two at 110 baud) unless it
// names them; other fields are left as they are. FALSE (ERROR_INVALID_PARAMETER) for a string
// it cannot read or that starts with a space.
OPOSSVC_API BOOL WINAPI BuildCommDCBA(LPCSTR lpDef, LPDCB lpDCB);

#endif  // !OPOSSVC_WIN32_NATIVE

#endif  // OPOSSVC_WIN32_COMM_H_
