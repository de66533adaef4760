// Serial ports on real devices, through the Linux tty layer.
//
// A COM name maps to a device by HKLM\HARDWARE\DEVICEMAP\SERIALCOMM (value name = device path,
// a name without a leading '/' is below /dev; data = "COMn"; the first match wins); an unmapped
// "COMn" is /dev/ttyS<n-1>. The device is opened O_NOCTTY | O_NONBLOCK and held exclusively
// (TIOCEXCL against other programs, flock against other opens by root or by this process), and
// put in raw mode at once, so nothing of the tty's line discipline touches the bytes. A tty that
// another program holds exclusively (TIOCGEXCL) counts as busy even for root. Busy is
// ERROR_ACCESS_DENIED, as on Win32; a device the user may not open at all (EACCES, EPERM: not in
// its group, usually dialout) is ERROR_PRIVILEGE_NOT_HELD, which no claim on the port can cause.
//
// DCB to termios: any rate (termios2 with BOTHER for rates that have no Bxxx constant), 5 to 8
// data bits, parity none/odd/even/mark/space (CMSPAR), one, one and a half (5 data bits) or two
// stop bits, CTS output flow and RTS handshake as CRTSCTS (the kernel knows no separate
// directions), XON/XOFF with the DCB's characters as VSTART/VSTOP. DSR output flow, which the
// kernel does not offer, is kept by the backend: a write waits while DSR is off. Parity errors
// are counted by the driver whatever the DCB says and are reported only with fParity set; the
// received byte is passed on as it came (no INPCK). Breaks are counted, not passed on as NULs.
// Not available here: RTS_CONTROL_TOGGLE (SetCommState fails with ERROR_NOT_SUPPORTED), the DTR
// input handshake (DTR_CONTROL_HANDSHAKE just raises DTR), fDsrSensitivity, fErrorChar and the
// event characters, which are kept in the DCB but have no effect.
//
// A write returns once the tty has passed all its bytes on to the line (TIOCOUTQ empty, polled
// through the system-call table), as a Win32 serial write completes when its bytes have gone out
// and not when a buffer took them. A write that ends early, at its total time-out or by
// PURGE_TXABORT, takes back what the tty still holds of it (counted and discarded) and reports
// only the bytes that left; so the tty's transmit buffer only ever holds bytes of a write in
// progress, and PURGE_TXCLEAR never discards bytes of a write that completed. A device without
// modem-control lines (a pseudo-terminal) passes bytes on as they are written, so neither a write
// nor ClearCommError asks it what it still holds.
//
// The receive queue is the line discipline's buffer: FIONREAD, and so COMSTAT.cbInQue, never
// counts more than kReceiveQueue bytes, whatever SetupComm asked for (more may wait in the
// driver, uncounted). GetCommProperties reports that size as the receive queue; the size of the
// transmit buffer depends on the driver and is reported as unknown. A device without modem-control
// lines or without error counters (below) leaves out of its capabilities the lines (PCF_DTRDSR,
// PCF_RTSCTS, PCF_RLSD) or the parity check (PCF_PARITY_CHECK).
//
// Line errors come from the driver's TIOCGICOUNT counters, as the difference to the counters at
// the previous ClearCommError. A device without modem-control lines (a pseudo-terminal, where
// TIOCMGET fails with ENOTTY or EINVAL) reports CTS, DSR and RLSD on, takes line changes without
// complaint, and reports no line errors.
//
// A device that goes away (ENXIO, ENODEV, or EIO with the tty hung up, poll reporting POLLHUP)
// makes the call fail with ERROR_DEVICE_NOT_CONNECTED, and every later call on the handle fail
// the same way at once, without touching the device again; CloseHandle still works. An EIO
// without a hang-up fails that one call with ERROR_GEN_FAILURE. EINTR is retried, short writes
// are completed. No call waits in the kernel: reads and writes wait in poll() on the device and a
// wake-up descriptor, so CloseHandle and PurgeComm(PURGE_RXABORT/TXABORT) end a waiting call. The
// wait for input (WaitCommInput) polls the device and a descriptor of its own, which SetCommMask
// and CloseHandle signal.
#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include <opossvc/thread_annotations.h>
#include <opossvc/win32/comm.h>
#include <opossvc/win32/errors.h>
#include <opossvc/win32/registry.h>

#include "platform/internal/comm_port.h"
#include "platform/internal/comm_timeouts.h"
#include "platform/internal/mutex.h"
#include "platform/internal/serial_port.h"
#include "platform/posix/comm/comm_handle.h"
#include "platform/posix/comm/comm_syscalls.h"
#include "platform/posix/files/errno_map.h"

namespace opossvc::detail {
namespace {

constexpr DWORD kNoLinesStatus = MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON;
// How often, at the least, a write that waits for DSR or for its bytes to leave, and
// FlushFileBuffers, look at the device again.
constexpr int kLinePollMs = 10;
// The most bytes the line discipline holds for reading (its 4096-byte buffer less one).
constexpr DWORD kReceiveQueue = 4095;
constexpr WORD kDefaultXonLim = 2048;
constexpr WORD kDefaultXoffLim = 512;

struct StandardRate {
  DWORD rate;
  unsigned int code;
};
constexpr StandardRate kStandardRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

void* IntArgument(int value) { return reinterpret_cast<void*>(static_cast<intptr_t>(value)); }

// ---- DCB <-> termios2 -------------------------------------------------------------------------

void SetRaw(termios2* t) {
  t->c_iflag &= ~(BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXANY | INPCK | IGNPAR |
                  IUCLC | IMAXBEL);
  t->c_iflag |= IGNBRK;
  t->c_oflag &= ~OPOST;
  t->c_lflag &= ~(ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN);
  t->c_cflag |= CREAD | CLOCAL;
  t->c_cc[VMIN] = 0;
  t->c_cc[VTIME] = 0;
}

void SetRate(DWORD rate, termios2* t) {
  t->c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  for (const StandardRate& standard : kStandardRates) {
    if (standard.rate == rate) {
      t->c_cflag |= standard.code;
      t->c_ispeed = t->c_ospeed = rate;
      return;
    }
  }
  t->c_cflag |= BOTHER;
  t->c_ispeed = t->c_ospeed = rate;
}

DWORD RateOf(const termios2& t) {
  unsigned int code = t.c_cflag & CBAUD;
  if (code == BOTHER) return t.c_ospeed;
  for (const StandardRate& standard : kStandardRates) {
    if (standard.code == code) return standard.rate;
  }
  return CBR_9600;
}

void DcbToTermios(const DCB& dcb, termios2* t) {
  SetRaw(t);
  t->c_iflag &= ~(IXON | IXOFF);
  if (dcb.fOutX) t->c_iflag |= IXON;
  if (dcb.fInX) t->c_iflag |= IXOFF;
  t->c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  static constexpr unsigned int kSizes[] = {CS5, CS6, CS7, CS8};
  t->c_cflag |= kSizes[dcb.ByteSize - 5];
  switch (dcb.Parity) {
    case ODDPARITY:
      t->c_cflag |= PARENB | PARODD;
      break;
    case EVENPARITY:
      t->c_cflag |= PARENB;
      break;
    case MARKPARITY:
      t->c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case SPACEPARITY:
      t->c_cflag |= PARENB | CMSPAR;
      break;
    default:
      break;
  }
  // With 5 data bits the UART turns CSTOPB into one and a half stop bits.
  if (dcb.StopBits != ONESTOPBIT) t->c_cflag |= CSTOPB;
  if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) t->c_cflag |= CRTSCTS;
  t->c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
  t->c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
  SetRate(dcb.BaudRate, t);
}

// The device's settings, for a DCB; the DTR and RTS control fields follow the lines' levels.
DCB TermiosToDcb(const termios2& t, DWORD lines, bool has_lines) {
  DCB dcb = {};
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = RateOf(t);
  dcb.fBinary = 1;
  switch (t.c_cflag & CSIZE) {
    case CS5:
      dcb.ByteSize = 5;
      break;
    case CS6:
      dcb.ByteSize = 6;
      break;
    case CS7:
      dcb.ByteSize = 7;
      break;
    default:
      dcb.ByteSize = 8;
      break;
  }
  if (!(t.c_cflag & PARENB)) {
    dcb.Parity = NOPARITY;
  } else if (t.c_cflag & CMSPAR) {
    dcb.Parity = (t.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
  } else {
    dcb.Parity = (t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
  }
  dcb.fParity = (t.c_iflag & INPCK) ? 1 : 0;
  if (t.c_cflag & CSTOPB) {
    dcb.StopBits = dcb.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
  } else {
    dcb.StopBits = ONESTOPBIT;
  }
  bool crtscts = (t.c_cflag & CRTSCTS) != 0;
  dcb.fOutxCtsFlow = crtscts ? 1 : 0;
  dcb.fRtsControl = crtscts                               ? RTS_CONTROL_HANDSHAKE
                    : (!has_lines || (lines & TIOCM_RTS)) ? RTS_CONTROL_ENABLE
                                                          : RTS_CONTROL_DISABLE;
  dcb.fDtrControl = (!has_lines || (lines & TIOCM_DTR)) ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
  dcb.fTXContinueOnXoff = 1;
  dcb.fOutX = (t.c_iflag & IXON) ? 1 : 0;
  dcb.fInX = (t.c_iflag & IXOFF) ? 1 : 0;
  dcb.XonChar = static_cast<char>(t.c_cc[VSTART]);
  dcb.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
  if (dcb.XonChar == dcb.XoffChar) {
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
  }
  dcb.XonLim = kDefaultXonLim;
  dcb.XoffLim = kDefaultXoffLim;
  return dcb;
}

DWORD CounterErrors(const serial_icounter_struct& now, const serial_icounter_struct& then) {
  DWORD errors = 0;
  if (now.frame != then.frame) errors |= CE_FRAME;
  if (now.parity != then.parity) errors |= CE_RXPARITY;
  if (now.overrun != then.overrun) errors |= CE_OVERRUN;
  if (now.brk != then.brk) errors |= CE_BREAK;
  if (now.buf_overrun != then.buf_overrun) errors |= CE_RXOVER;
  return errors;
}

bool IsNoSuchIoctl(int error) { return error == ENOTTY || error == EINVAL || error == ENOSYS; }

// How long the line takes for one byte of the DCB's frame, in microseconds.
uint64_t ByteMicroseconds(const DCB& dcb) {
  const uint64_t bits =
      1 + dcb.ByteSize + (dcb.Parity != NOPARITY ? 1 : 0) + (dcb.StopBits == ONESTOPBIT ? 1 : 2);
  return bits * 1000000 / std::max<DWORD>(dcb.BaudRate, 1);
}

// ---- The port ---------------------------------------------------------------------------------

// An ioctl, retried while a signal interrupts it.
int IoctlRetrying(const CommSyscalls& calls, int fd, unsigned long request, void* argument) {
  for (;;) {
    int result = calls.ioctl(fd, request, argument);
    if (result == 0 || errno != EINTR) return result;
  }
}

class TermiosPort final : public CommPort {
 public:
  TermiosPort(int fd, int wake_fd, int event_fd, const termios2& settings)
      : fd_(fd), wake_fd_(wake_fd), event_fd_(event_fd), settings_(settings) {}
  ~TermiosPort() override { Close(); }

  // Probes what the device offers; called once before the port is shared.
  void Probe() {
    MutexLock lock(mutex_);
    int lines = 0;
    has_lines_ = Ioctl(TIOCMGET, &lines) == 0 || !IsNoSuchIoctl(errno);
    has_counters_ = Ioctl(TIOCGICOUNT, &counted_) == 0;
  }

  DWORD QueryState(DCB* dcb) override {
    Operation op(*this);
    if (op.error()) return op.error();
    int lines = 0;
    bool has_lines;
    {
      MutexLock lock(mutex_);
      has_lines = has_lines_;
    }
    if (has_lines && Ioctl(TIOCMGET, &lines) != 0) return Fail(errno);
    MutexLock lock(mutex_);
    *dcb = TermiosToDcb(settings_, static_cast<DWORD>(lines), has_lines_);
    dcb_ = *dcb;
    return 0;
  }

  DWORD ApplyState(const DCB& dcb) override {
    if (dcb.fRtsControl == RTS_CONTROL_TOGGLE) return ERROR_NOT_SUPPORTED;
    Operation op(*this);
    if (op.error()) return op.error();
    // Calls that change settings come one at a time (comm.cpp), so settings_ cannot change
    // between the copy and the store.
    termios2 settings;
    {
      MutexLock lock(mutex_);
      settings = settings_;
    }
    DcbToTermios(dcb, &settings);
    if (Ioctl(TCSETS2, &settings) != 0) return Fail(errno);
    MutexLock lock(mutex_);
    settings_ = settings;
    dcb_ = dcb;
    return 0;
  }

  // The tty's buffers have the sizes the driver gave them; the sizes asked for are only noted.
  DWORD Setup(DWORD input_queue, DWORD output_queue) override {
    Operation op(*this);
    return op.error();
  }

  DWORD Properties(COMMPROP* properties) override {
    Operation op(*this);
    if (op.error()) return op.error();
    properties->dwMaxRxQueue = kReceiveQueue;
    properties->dwCurrentRxQueue = kReceiveQueue;
    properties->dwMaxTxQueue = 0;
    properties->dwCurrentTxQueue = 0;
    MutexLock lock(mutex_);
    if (!has_lines_) properties->dwProvCapabilities &= ~DWORD{PCF_DTRDSR | PCF_RTSCTS | PCF_RLSD};
    if (!has_counters_) properties->dwProvCapabilities &= ~DWORD{PCF_PARITY_CHECK};
    return 0;
  }

  DWORD SetTimeouts(const COMMTIMEOUTS& timeouts) override {
    Operation op(*this);
    if (op.error()) return op.error();
    MutexLock lock(mutex_);
    timeouts_ = timeouts;
    return 0;
  }

  DWORD Read(void* buffer, DWORD size, DWORD* read) override {
    *read = 0;
    Operation op(*this);
    if (op.error()) return op.error();
    COMMTIMEOUTS timeouts;
    bool strip_nulls;
    uint64_t abort_generation;
    {
      MutexLock lock(mutex_);
      if (DWORD error = PendingAbortLocked()) return error;
      timeouts = timeouts_;
      strip_nulls = dcb_.fNull;
      abort_generation = read_aborts_;
    }
    if (size == 0) return 0;
    auto* bytes = static_cast<unsigned char*>(buffer);
    const CommClock::time_point start = CommClock::now();
    const ReadTimeouts rules(timeouts, size, start);
    CommClock::time_point last_arrival = start;
    DWORD got = 0;
    for (;;) {
      CommClock::time_point now = CommClock::now();
      bool done = rules.Done(got, last_arrival, now);
      pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
      int ready =
          Calls().poll(fds, 2, done ? 0 : PollTimeoutMs(rules.Deadline(got, last_arrival), now));
      if (ready < 0) {
        if (errno == EINTR) continue;
        *read = got;
        return ERROR_GEN_FAILURE;
      }
      if (fds[1].revents & POLLIN) {
        ConsumeWake();
        if (DWORD error = AbortedSince(abort_generation, Direction::kRead)) {
          *read = got;
          return error;
        }
      }
      bool hung_up = (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
      if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
        DWORD error = TakeArrived(bytes, size, strip_nulls, &got, &last_arrival);
        if (error == ERROR_DEVICE_NOT_CONNECTED)
          hung_up = true;
        else if (error != 0) {
          *read = got;
          return error;
        }
      }
      if (hung_up) {
        MarkGone();
        *read = got;
        // Bytes that arrived before the device went away are delivered first.
        return got > 0 ? 0 : ERROR_DEVICE_NOT_CONNECTED;
      }
      if (done || rules.Done(got, last_arrival, CommClock::now())) break;
    }
    *read = got;
    return 0;
  }

  DWORD Write(const void* data, DWORD size, DWORD* written) override {
    *written = 0;
    Operation op(*this);
    if (op.error()) return op.error();
    WriteParameters write;
    {
      MutexLock lock(mutex_);
      if (DWORD error = PendingAbortLocked()) return error;
      write.deadline = WriteDeadline(timeouts_, size);
      write.dsr_flow = dcb_.fOutxDsrFlow && has_lines_;
      write.buffered = has_lines_;
      write.abort_generation = write_aborts_;
      write.byte_us = ByteMicroseconds(dcb_);
    }
    Writing writing(*this);
    DWORD put = 0;
    DWORD error = Put(static_cast<const unsigned char*>(data), size, write, &put);
    bool sent = error == 0 && !write.buffered;
    if (error == 0 && write.buffered) error = WaitUntilSent(write, &sent);
    // What has not left is not sent: a time-out or an abort, not a failing device.
    if (!sent && (error == 0 || error == ERROR_OPERATION_ABORTED)) put -= TakeBack(put);
    *written = put;
    return error;
  }

  DWORD Drain() override {
    Operation op(*this);
    if (op.error()) return op.error();
    WriteParameters write;
    {
      MutexLock lock(mutex_);
      write.abort_generation = write_aborts_;
      write.byte_us = ByteMicroseconds(dcb_);
    }
    bool sent = false;
    return WaitUntilSent(write, &sent);
  }

  DWORD Purge(DWORD flags) override {
    Operation op(*this);
    if (op.error()) return op.error();
    if (flags & (PURGE_TXABORT | PURGE_RXABORT)) {
      MutexLock lock(mutex_);
      if (flags & PURGE_TXABORT) ++write_aborts_;
      if (flags & PURGE_RXABORT) ++read_aborts_;
      WakeWaiters();
    }
    int failure = 0;  // errno of a failed call, handled once the lock is released
    if (flags & PURGE_TXCLEAR) {
      // Under the lock, so that no write starts meanwhile. The bytes of a write in progress are
      // its own (PURGE_TXABORT makes it take them back); those of a completed one have left.
      MutexLock lock(mutex_);
      int queued = 0;
      if (writing_ == 0 && Ioctl(TIOCOUTQ, &queued) == 0 && queued > 0 &&
          Ioctl(TCFLSH, IntArgument(TCOFLUSH)) != 0) {
        failure = errno;
      }
    }
    if (failure == 0 && (flags & PURGE_RXCLEAR) && Ioctl(TCFLSH, IntArgument(TCIFLUSH)) != 0) {
      failure = errno;
    }
    return failure ? Fail(failure) : 0;
  }

  DWORD ClearError(DWORD* errors, COMSTAT* stat) override {
    Operation op(*this);
    if (op.error()) return op.error();
    int in_queue = 0;
    int out_queue = 0;
    bool buffered;
    {
      MutexLock lock(mutex_);
      buffered = has_lines_;
    }
    if (Ioctl(FIONREAD, &in_queue) != 0) return Fail(errno);
    if (buffered && Ioctl(TIOCOUTQ, &out_queue) != 0 && !IsNoSuchIoctl(errno)) return Fail(errno);
    int failure = 0;  // errno of a failed call, handled once the lock is released
    {
      MutexLock lock(mutex_);
      *errors = 0;
      *stat = {};
      stat->cbInQue = static_cast<DWORD>(std::max(in_queue, 0));
      stat->cbOutQue = static_cast<DWORD>(std::max(out_queue, 0));
      stat->fXoffHold = output_stopped_ ? 1 : 0;
      serial_icounter_struct now = {};
      int lines = 0;
      if (has_counters_ && Ioctl(TIOCGICOUNT, &now) != 0) {
        failure = errno;
      } else if (has_lines_ && (dcb_.fOutxCtsFlow || dcb_.fOutxDsrFlow) &&
                 Ioctl(TIOCMGET, &lines) != 0) {
        failure = errno;
      } else {
        if (has_counters_) {
          *errors = ReportedLineErrors(CounterErrors(now, counted_), dcb_);
          counted_ = now;
        }
        stat->fCtsHold = dcb_.fOutxCtsFlow && has_lines_ && !(lines & TIOCM_CTS);
        stat->fDsrHold = dcb_.fOutxDsrFlow && has_lines_ && !(lines & TIOCM_DSR);
      }
    }
    return failure ? Fail(failure) : 0;
  }

  DWORD ModemStatus(DWORD* status) override {
    Operation op(*this);
    if (op.error()) return op.error();
    {
      MutexLock lock(mutex_);
      if (!has_lines_) {  // nothing to ask the device, which the input thread does all the time
        *status = kNoLinesStatus;
        return 0;
      }
    }
    int lines = 0;
    if (Ioctl(TIOCMGET, &lines) != 0) {
      if (!IsNoSuchIoctl(errno)) return Fail(errno);
      *status = kNoLinesStatus;
      return 0;
    }
    *status = ((lines & TIOCM_CTS) ? MS_CTS_ON : 0) | ((lines & TIOCM_DSR) ? MS_DSR_ON : 0) |
              ((lines & TIOCM_RNG) ? MS_RING_ON : 0) | ((lines & TIOCM_CAR) ? MS_RLSD_ON : 0);
    return 0;
  }

  DWORD Escape(DWORD function) override {
    Operation op(*this);
    if (op.error()) return op.error();
    int result = 0;
    int line = TIOCM_RTS;
    switch (function) {
      case SETDTR:
      case CLRDTR:
        line = TIOCM_DTR;
        [[fallthrough]];
      case SETRTS:
      case CLRRTS:
        result = Ioctl(function == SETRTS || function == SETDTR ? TIOCMBIS : TIOCMBIC, &line);
        break;
      case SETBREAK:
        result = Ioctl(TIOCSBRK, nullptr);
        break;
      case CLRBREAK:
        result = Ioctl(TIOCCBRK, nullptr);
        break;
      case SETXOFF:
      case SETXON: {
        // With the flag in one step, which TakeBack relies on.
        MutexLock lock(mutex_);
        result = Ioctl(TCXONC, IntArgument(function == SETXOFF ? TCOOFF : TCOON));
        if (result == 0) output_stopped_ = function == SETXOFF;
        break;
      }
      default:
        return ERROR_INVALID_PARAMETER;
    }
    if (result != 0) return IsNoSuchIoctl(errno) ? 0 : Fail(errno);
    return 0;
  }

  void SetEventMask(DWORD mask) override {
    MutexLock lock(mutex_);
    if (closing_) return;  // the descriptors are going
    event_mask_ = mask;
    ++mask_changes_;
    WakeInputWait();
  }

  DWORD WaitInput(DWORD timeout_ms, DWORD* events) override {
    *events = 0;
    Operation op(*this);
    if (op.error()) return op.error();
    DWORD mask;
    uint64_t changes;
    {
      MutexLock lock(mutex_);
      if (event_mask_ == 0 || input_waiting_) return ERROR_INVALID_PARAMETER;
      input_waiting_ = true;
      mask = event_mask_;
      changes = mask_changes_;
    }
    DWORD error = AwaitInput(mask, changes, timeout_ms, events);
    MutexLock lock(mutex_);
    input_waiting_ = false;
    return error;
  }

  void Close() override {
    {
      MutexLock lock(mutex_);
      if (closing_) return;
      closing_ = true;
      WakeWaiters();
      WakeInputWait();
      while (active_ > 0) lock.WaitUntil(idle_, std::nullopt);
    }
    const CommSyscalls& calls = Calls();
    IoctlRetrying(calls, fd_, TIOCNXCL, nullptr);
    calls.close(fd_);
    ::close(wake_fd_);
    ::close(event_fd_);
  }

 private:
  enum class Direction { kRead, kWrite };

  // What one write (or FlushFileBuffers) goes by, as set when it began.
  struct WriteParameters {
    std::optional<CommClock::time_point> deadline;  // none: no limit
    bool dsr_flow = false;
    bool buffered = true;  // the device may hold bytes after the tty took them
    uint64_t abort_generation = 0;
    uint64_t byte_us = 0;  // line time of one byte
  };

  // Counts a write in progress, whose bytes PURGE_TXCLEAR leaves alone.
  class Writing {
   public:
    explicit Writing(TermiosPort& port) : port_(port) {
      MutexLock lock(port_.mutex_);
      ++port_.writing_;
    }
    ~Writing() {
      MutexLock lock(port_.mutex_);
      --port_.writing_;
    }
    Writing(const Writing&) = delete;
    Writing& operator=(const Writing&) = delete;

   private:
    TermiosPort& port_;
  };

  // One call on the device. While any is in progress the descriptor stays open; a port that was
  // closed or whose device went away refuses new calls.
  class Operation {
   public:
    explicit Operation(TermiosPort& port) : port_(port) {
      MutexLock lock(port_.mutex_);
      if (port_.closing_) {
        error_ = ERROR_INVALID_HANDLE;
      } else if (port_.gone_) {
        error_ = ERROR_DEVICE_NOT_CONNECTED;
      } else {
        ++port_.active_;
      }
    }
    ~Operation() {
      if (error_ != 0) return;
      MutexLock lock(port_.mutex_);
      if (--port_.active_ == 0) port_.idle_.notify_all();
    }
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;
    DWORD error() const { return error_; }

   private:
    TermiosPort& port_;
    DWORD error_ = 0;
  };

  static const CommSyscalls& Calls() { return CurrentCommSyscalls(); }

  int Ioctl(unsigned long request, void* argument) {
    return IoctlRetrying(Calls(), fd_, request, argument);
  }

  // The body of WaitInput, as the only wait in progress; `changes` is the count of mask changes
  // at its start. It alone reads event_fd_, so no wake-up meant for it goes to another call.
  DWORD AwaitInput(DWORD mask, uint64_t changes, DWORD timeout_ms, DWORD* events) {
    const bool limited = timeout_ms != INFINITE;
    const CommClock::time_point deadline =
        limited ? CommClock::now() + std::chrono::milliseconds(timeout_ms) : CommClock::time_point();
    const short wanted = (mask & EV_RXCHAR) != 0 ? POLLIN : 0;
    int wait = limited ? static_cast<int>(std::min<DWORD>(timeout_ms, INT32_MAX)) : -1;
    for (;;) {
      pollfd fds[2] = {{fd_, wanted, 0}, {event_fd_, POLLIN, 0}};
      const int ready = Calls().poll(fds, 2, wait);
      if (ready < 0 && errno != EINTR) return ERROR_GEN_FAILURE;
      if (ready > 0) {
        if (fds[1].revents & POLLIN) {
          uint64_t count = 0;
          ssize_t ignored = ::read(event_fd_, &count, sizeof count);
          (void)ignored;
          MutexLock lock(mutex_);
          if (closing_) return ERROR_OPERATION_ABORTED;
          if (mask_changes_ != changes) return 0;
        }
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
          MarkGone();
          return ERROR_DEVICE_NOT_CONNECTED;
        }
        if (fds[0].revents & POLLIN) {
          *events = EV_RXCHAR;
          return 0;
        }
      }
      if (limited) {
        // Only a signal or a stale wake-up ends poll() early; go on with what is left.
        wait = PollTimeoutMs(deadline, CommClock::now());
        if (wait == 0) return 0;
      }
    }
  }

  // Ends the input wait in progress, if any; one wake-up is kept for a wait about to begin,
  // which finds nothing changed and waits on.
  void WakeInputWait() OPOSSVC_REQUIRES(mutex_) {
    const uint64_t one = 1;
    ssize_t ignored = ::write(event_fd_, &one, sizeof one);
    (void)ignored;
  }

  // Hands bytes[*put..size) to the tty until all are taken or the write's time is up; 0 also then.
  // A write that the tty took only in part filled it: the next one waits for room first rather
  // than fail with EAGAIN (a pass through the kernel saved each time the buffer fills).
  DWORD Put(const unsigned char* bytes, DWORD size, const WriteParameters& write, DWORD* put) {
    bool full = false;
    while (*put < size) {
      if (write.dsr_flow) {
        int lines = 0;
        if (Ioctl(TIOCMGET, &lines) != 0) return Fail(errno);
        if (!(lines & TIOCM_DSR)) {
          int wait = PollTimeoutMs(write.deadline);
          if (wait == 0) return 0;
          if (DWORD error = WaitForWake(wait < 0 ? kLinePollMs : std::min(wait, kLinePollMs),
                                        write.abort_generation)) {
            return error;
          }
          continue;
        }
      }
      if (!full) {
        ssize_t n = Calls().write(fd_, bytes + *put, size - *put);
        if (n > 0) {
          *put += static_cast<DWORD>(n);
          full = true;  // if bytes are left
          continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return Fail(errno);
      }
      // The transmit buffer is full: wait until it takes more, or the time is up (the tty is
      // still offered the rest once then).
      int wait = PollTimeoutMs(write.deadline);
      if (wait == 0 && !full) return 0;
      full = false;
      if (wait == 0) continue;
      pollfd fds[2] = {{fd_, POLLOUT, 0}, {wake_fd_, POLLIN, 0}};
      int ready = Calls().poll(fds, 2, wait);
      if (ready < 0 && errno != EINTR) return ERROR_GEN_FAILURE;
      if (ready <= 0) continue;
      if (fds[1].revents & POLLIN) {
        ConsumeWake();
        if (DWORD error = AbortedSince(write.abort_generation, Direction::kWrite)) return error;
      }
      if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
        MarkGone();
        return ERROR_DEVICE_NOT_CONNECTED;
      }
    }
    return 0;
  }

  // Waits until the tty has passed on every byte written to it (*sent set), or until the write's
  // time is up (0, *sent clear), or until the writes are aborted. A device that cannot tell how
  // much it holds counts as having sent it.
  DWORD WaitUntilSent(const WriteParameters& write, bool* sent) {
    *sent = false;
    for (;;) {
      int queued = 0;
      if (Ioctl(TIOCOUTQ, &queued) != 0) {
        if (!IsNoSuchIoctl(errno)) return Fail(errno);
        queued = 0;
      }
      if (queued <= 0) {
        *sent = true;
        return 0;
      }
      const int left = PollTimeoutMs(write.deadline);
      if (left == 0) return 0;
      // About the time the line needs for what is queued, so that the end is seen soon after it
      // comes; the line may be held, so look again at least every kLinePollMs.
      const uint64_t needed = (static_cast<uint64_t>(queued) * write.byte_us + 999) / 1000;
      int wait = static_cast<int>(std::clamp<uint64_t>(needed, 1, kLinePollMs));
      if (left > 0) wait = std::min(wait, left);
      if (DWORD error = WaitForWake(wait, write.abort_generation)) return error;
    }
  }

  // Takes back what the tty still holds of a write that ends early: discards it and returns how
  // many bytes that was, at most `put`. What the tty does not discard (a driver without a flush of
  // its own) still goes out and counts as sent. Output is paused meanwhile, so that no byte leaves
  // between the counts and the discard, except under XON/XOFF output flow or a SETXOFF, whose
  // stop the resumption would lift.
  DWORD TakeBack(DWORD put) {
    MutexLock lock(mutex_);
    const bool paused = !dcb_.fOutX && !output_stopped_ && Ioctl(TCXONC, IntArgument(TCOOFF)) == 0;
    int before = 0;
    int after = 0;
    int discarded = 0;
    if (Ioctl(TIOCOUTQ, &before) == 0 && before > 0 && Ioctl(TCFLSH, IntArgument(TCOFLUSH)) == 0 &&
        Ioctl(TIOCOUTQ, &after) == 0) {
      discarded = before - std::clamp(after, 0, before);
    }
    if (paused) Ioctl(TCXONC, IntArgument(TCOON));
    return std::min(static_cast<DWORD>(discarded), put);
  }

  // Reads what has arrived into bytes[*got..size).
  DWORD TakeArrived(unsigned char* bytes, DWORD size, bool strip_nulls, DWORD* got,
                    CommClock::time_point* last_arrival) {
    while (*got < size) {
      ssize_t n = Calls().read(fd_, bytes + *got, size - *got);
      if (n > 0) {
        unsigned char* begin = bytes + *got;
        unsigned char* end = begin + n;
        if (strip_nulls) end = std::remove(begin, end, 0);
        *got += static_cast<DWORD>(end - begin);
        *last_arrival = CommClock::now();
        continue;
      }
      if (n == 0) return 0;
      if (errno == EINTR) continue;
      if (errno == EAGAIN) return 0;
      return Fail(errno);
    }
    return 0;
  }

  // The Win32 error for a failed call on the device, noting a device that went away. Called
  // without mutex_ held.
  DWORD Fail(int error) OPOSSVC_EXCLUDES(mutex_) {
    if (error == ENXIO || error == ENODEV || (error == EIO && HungUp())) {
      MarkGone();
      return ERROR_DEVICE_NOT_CONNECTED;
    }
    return Win32ErrorFromErrno(error);
  }

  bool HungUp() {
    pollfd fd = {fd_, POLLIN | POLLOUT, 0};
    int ready;
    do {
      ready = Calls().poll(&fd, 1, 0);
    } while (ready < 0 && errno == EINTR);
    return ready > 0 && (fd.revents & (POLLHUP | POLLERR | POLLNVAL));
  }

  void MarkGone() {
    MutexLock lock(mutex_);
    gone_ = true;
  }

  // With fAbortOnError, a line error not yet collected by ClearCommError refuses the call.
  DWORD PendingAbortLocked() OPOSSVC_REQUIRES(mutex_) {
    if (!dcb_.fAbortOnError || !has_counters_) return 0;
    serial_icounter_struct now = {};
    if (Ioctl(TIOCGICOUNT, &now) != 0) return 0;
    return ReportedLineErrors(CounterErrors(now, counted_), dcb_) ? ERROR_OPERATION_ABORTED : 0;
  }

  // Wakes every call waiting in poll(): one count each for those in progress. A call that ends
  // without taking its count leaves one spurious wake-up for a later call, which takes it and
  // waits again.
  void WakeWaiters() OPOSSVC_REQUIRES(mutex_) {
    uint64_t count = static_cast<uint64_t>(std::max(active_, 1));
    if (closing_) count = uint64_t{1} << 32;  // never used up: every call sees the close
    ssize_t ignored = ::write(wake_fd_, &count, sizeof count);
    (void)ignored;
  }

  void ConsumeWake() {
    uint64_t count = 0;
    ssize_t ignored = ::read(wake_fd_, &count, sizeof count);
    (void)ignored;
  }

  // ERROR_OPERATION_ABORTED when the port is closing or the calls of `direction` were purged
  // since their count was `generation`.
  DWORD AbortedSince(uint64_t generation, Direction direction) {
    MutexLock lock(mutex_);
    uint64_t now = direction == Direction::kRead ? read_aborts_ : write_aborts_;
    if (closing_ || now != generation) return ERROR_OPERATION_ABORTED;
    return 0;
  }

  // Pauses up to `ms` unless the port is closed or the writes are aborted meanwhile.
  DWORD WaitForWake(int ms, uint64_t write_generation) {
    pollfd fd = {wake_fd_, POLLIN, 0};
    if (Calls().poll(&fd, 1, ms) > 0 && (fd.revents & POLLIN)) ConsumeWake();
    if (DWORD error = AbortedSince(write_generation, Direction::kWrite)) return error;
    MutexLock lock(mutex_);
    return gone_ ? ERROR_DEVICE_NOT_CONNECTED : 0;
  }

  // Set at construction, valid until Close() has waited out every Operation.
  const int fd_;
  const int wake_fd_;   // eventfd (semaphore mode) that wakes calls waiting in poll()
  const int event_fd_;  // eventfd that ends the input wait: a mask change or the close

  Mutex mutex_;
  std::condition_variable idle_;               // signalled when active_ drops to 0
  int active_ OPOSSVC_GUARDED_BY(mutex_) = 0;  // Operations in progress
  bool closing_ OPOSSVC_GUARDED_BY(mutex_) = false;
  bool gone_ OPOSSVC_GUARDED_BY(mutex_) = false;  // the device went away
  termios2 settings_ OPOSSVC_GUARDED_BY(mutex_);  // as applied to the device
  DCB dcb_ OPOSSVC_GUARDED_BY(mutex_) = {};       // as applied
  COMMTIMEOUTS timeouts_ OPOSSVC_GUARDED_BY(mutex_) = {};
  bool has_lines_ OPOSSVC_GUARDED_BY(mutex_) = true;                // TIOCMGET works
  bool has_counters_ OPOSSVC_GUARDED_BY(mutex_) = false;            // TIOCGICOUNT works
  serial_icounter_struct counted_ OPOSSVC_GUARDED_BY(mutex_) = {};  // at the last ClearCommError
  bool output_stopped_ OPOSSVC_GUARDED_BY(mutex_) = false;          // by SETXOFF
  int writing_ OPOSSVC_GUARDED_BY(mutex_) = 0;                      // writes in progress
  uint64_t read_aborts_ OPOSSVC_GUARDED_BY(mutex_) = 0;             // PURGE_RXABORT count
  uint64_t write_aborts_ OPOSSVC_GUARDED_BY(mutex_) = 0;            // PURGE_TXABORT count
  DWORD event_mask_ OPOSSVC_GUARDED_BY(mutex_) = 0;                 // SetCommMask
  uint64_t mask_changes_ OPOSSVC_GUARDED_BY(mutex_) = 0;
  bool input_waiting_ OPOSSVC_GUARDED_BY(mutex_) = false;           // a WaitInput is in progress
};

// ---- Name to device ---------------------------------------------------------------------------

std::string_view ValueText(const BYTE* data, DWORD size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  while (!text.empty() && text.back() == '\0') text.remove_suffix(1);
  return text;
}

std::string DevicePath(int number) {
  HKEY key = nullptr;
  std::string path;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) ==
      ERROR_SUCCESS) {
    auto name = std::make_unique<char[]>(16384);
    for (DWORD index = 0; path.empty(); ++index) {
      BYTE data[64];
      DWORD name_size = 16384;
      DWORD data_size = sizeof data;
      DWORD type = REG_NONE;
      LONG result =
          RegEnumValueA(key, index, name.get(), &name_size, nullptr, &type, data, &data_size);
      if (result == ERROR_MORE_DATA) continue;  // longer than any COM name
      if (result != ERROR_SUCCESS) break;
      if (type != REG_SZ || name_size == 0) continue;
      if (ParseComName(ValueText(data, data_size)) != number) continue;
      std::string_view device(name.get(), name_size);
      path = device.front() == '/' ? std::string(device) : "/dev/" + std::string(device);
    }
    RegCloseKey(key);
  }
  if (path.empty()) path = "/dev/ttyS" + std::to_string(number - 1);
  return path;
}

// An absent device is a missing file whatever the errno, its permission bits are a privilege,
// and a busy one is held by another program; the rest as for files.
DWORD OpenError(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV:
    case EIO:
    case ENAMETOOLONG:
      return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
      return ERROR_PRIVILEGE_NOT_HELD;
    case EBUSY:
      return ERROR_ACCESS_DENIED;
    default:
      return Win32ErrorFromErrno(error, ERROR_OPEN_FAILED);
  }
}

}  // namespace

DWORD OpenTermiosCommPort(int number, std::unique_ptr<CommPort>* port) {
  const std::string path = DevicePath(number);
  const CommSyscalls& calls = CurrentCommSyscalls();
  int fd;
  do {
    fd = calls.open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return OpenError(errno);

  auto fail = [&](DWORD error) {
    calls.close(fd);
    return error;
  };
  int locked;
  do {
    locked = calls.flock(fd, LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0 && errno == EWOULDBLOCK) return fail(ERROR_ACCESS_DENIED);

  termios2 settings = {};
  if (IoctlRetrying(calls, fd, TCGETS2, &settings) != 0) {
    // Not a terminal: nothing a COM name can mean.
    return fail(IsNoSuchIoctl(errno) ? ERROR_FILE_NOT_FOUND : OpenError(errno));
  }
  // A tty that another program holds exclusively is busy, also for root, whom TIOCEXCL does
  // not stop; its settings are not touched.
  int exclusive = 0;
  if (IoctlRetrying(calls, fd, TIOCGEXCL, &exclusive) == 0 && exclusive) {
    return fail(ERROR_ACCESS_DENIED);
  }
  if (IoctlRetrying(calls, fd, TIOCEXCL, nullptr) != 0 && errno == EBUSY) {
    return fail(ERROR_ACCESS_DENIED);
  }
  SetRaw(&settings);
  if (IoctlRetrying(calls, fd, TCSETS2, &settings) != 0) return fail(OpenError(errno));

  int wake_fd = ::eventfd(0, EFD_SEMAPHORE | EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake_fd < 0) return fail(OpenError(errno));
  int event_fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (event_fd < 0) {
    const int error = errno;
    ::close(wake_fd);
    return fail(OpenError(error));
  }
  auto termios_port = std::make_unique<TermiosPort>(fd, wake_fd, event_fd, settings);
  termios_port->Probe();
  *port = std::move(termios_port);
  return 0;
}

}  // namespace opossvc::detail
