// POSIX serial lines through termios; line events from the kernel's counters.
#include "platform/Serial.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

#include "platform/posix/OverlappedFile.h"

namespace vel::platform {

namespace {

// Line events are looked for in slices this long, so that a cancel is seen promptly.
constexpr useconds_t kLinePollMicroseconds = 5000;

#ifdef __linux__
struct LineCounts {
  int cts, dsr, brk, err;
};
bool lineCounts(int fd, LineCounts* c) {
  serial_icounter_struct ic{};
  if (ioctl(fd, TIOCGICOUNT, &ic) != 0) return false;
  *c = {ic.cts, ic.dsr, ic.brk, ic.frame + ic.overrun + ic.parity + ic.buf_overrun};
  return true;
}
#endif

speed_t speedOf(uint32_t baud) {
  switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: return B0;
  }
}

}  // namespace

bool serialConfigure(NativeFile* f, const SerialSettings& s) {
  termios t{};
  if (tcgetattr(f->fd, &t) != 0) return false;
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS);
  t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
  t.c_cc[VSTART] = 0x11;
  t.c_cc[VSTOP] = 0x13;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  const speed_t sp = speedOf(s.baudRate);
  if (sp != B0) cfsetspeed(&t, sp);
  bool ok = tcsetattr(f->fd, TCSANOW, &t) == 0;
  int lines = TIOCM_DTR | TIOCM_RTS;
  ioctl(f->fd, TIOCMBIS, &lines);
  ok = serialPurge(f) && ok;
  f->eventMask |= s.extraEventMask;
  return ok;
}

bool serialSetBaudRate(NativeFile* f, uint32_t baud) {
  termios t{};
  const speed_t sp = speedOf(baud);
  if (sp == B0 || tcgetattr(f->fd, &t) != 0) return false;
  cfsetspeed(&t, sp);
  return tcsetattr(f->fd, TCSANOW, &t) == 0;
}

bool serialSetLineFormat(NativeFile* f, const LineFormat& format) {
  termios t{};
  const speed_t sp = speedOf(format.baudRate);
  if (sp == B0 || format.dataBits < 5 || format.dataBits > 8 || tcgetattr(f->fd, &t) != 0) return false;
  cfsetspeed(&t, sp);
  static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag = (t.c_cflag & ~CSIZE) | kSizes[format.dataBits - 5];
  t.c_cflag = format.parityBit ? (t.c_cflag | PARENB) & ~PARODD : t.c_cflag & ~PARENB;
  t.c_cflag = format.stopBits == 2 ? t.c_cflag | CSTOPB : t.c_cflag & ~CSTOPB;
  t.c_iflag = format.parityCheck ? t.c_iflag | INPCK : t.c_iflag & ~INPCK;
  if (format.binary) {
    t.c_iflag &= ~(ISTRIP | INLCR | IGNCR | ICRNL);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ICANON | ECHO | ECHONL | ISIG | IEXTEN);
  }
  return tcsetattr(f->fd, TCSANOW, &t) == 0;
}

bool serialPurge(NativeFile* f) { return tcflush(f->fd, TCIOFLUSH) == 0; }

bool serialSetBreak(NativeFile* f, bool on) { return ioctl(f->fd, on ? TIOCSBRK : TIOCCBRK) == 0; }

bool serialModemStatus(NativeFile* f, uint32_t* levels) {
  int lines = 0;
  if (ioctl(f->fd, TIOCMGET, &lines) != 0) return false;
  *levels = ((lines & TIOCM_CTS) ? kModemCtsOn : 0) | ((lines & TIOCM_DSR) ? kModemDsrOn : 0);
  return true;
}

IoStart serialWaitEvent(NativeFile* f, uint32_t* mask, IoOperation* op) {
  const int fd = f->fd;
  const uint32_t wanted = f->eventMask;
  return startOn(f, op, [fd, mask, wanted](IoOperation* o, uint32_t* n) {
    *n = 0;
#ifdef __linux__
    // Counters of the line's events, compared in short slices so that a cancel is seen.
    LineCounts before{}, now{};
    if (!lineCounts(fd, &before)) {
      // A line without event counters (a pseudo-terminal) reports nothing.
      while (!o->cancel) ::usleep(kLinePollMicroseconds);
      return false;
    }
    while (!o->cancel) {
      ::usleep(kLinePollMicroseconds);
      if (!lineCounts(fd, &now)) return false;
      uint32_t bits = 0;
      if (now.cts != before.cts) bits |= kLineCts;
      if (now.dsr != before.dsr) bits |= kLineDsr;
      if (now.brk != before.brk) bits |= kLineBreak;
      if (now.err != before.err) bits |= kLineError;
      before = now;
      bits &= wanted;
      if (bits) {
        *mask = bits;
        return true;
      }
    }
#else
    (void)fd;
    (void)mask;
    (void)wanted;
    while (!o->cancel) ::usleep(kLinePollMicroseconds);
#endif
    return false;
  });
}

}  // namespace vel::platform
