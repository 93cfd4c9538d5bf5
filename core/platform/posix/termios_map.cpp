#include "core/platform/posix/termios_map.h"

namespace qmx {

namespace {

bool SpeedFor(std::int32_t baud, speed_t& code) {
  struct Rate {
    std::int32_t bps;
    speed_t code;
  };
  static constexpr Rate kRates[] = {
      {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
      {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
      {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
      {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
      {576000, B576000}, {921600, B921600}, {1000000, B1000000}, {2000000, B2000000},
  };
  for (const Rate& r : kRates) {
    if (r.bps == baud) {
      code = r.code;
      return true;
    }
  }
  return false;
}

tcflag_t SizeFlag(std::int32_t byteSize) {
  switch (byteSize & 0xFF) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
  }
}

// Parity codes: 0 none, 1 odd, 2 even, 3 mark, 4 space.
tcflag_t ParityFlags(std::int32_t parity) {
  switch (parity & 0xFF) {
    case 1: return PARENB | PARODD;
    case 2: return PARENB;
    case 3: return PARENB | PARODD | CMSPAR;
    case 4: return PARENB | CMSPAR;
    default: return 0;
  }
}

}  // namespace

bool MapLineSettings(const LineSettings& s, termios& tio) {
  tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                        IXOFF | IXANY | INPCK);
  tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  tio.c_cflag |= CLOCAL | CREAD | SizeFlag(s.byteSize) | ParityFlags(s.parity);
  if ((s.stopBits & 0xFF) != 0) tio.c_cflag |= CSTOPB;
  if (s.flowControl == 1) tio.c_cflag |= CRTSCTS;
  if (s.flowControl == 3) tio.c_iflag |= IXON | IXOFF;
  // One byte satisfies a read; the descriptor is non-blocking, so an empty
  // queue gives EAGAIN instead of a 0 that would look like end of file.
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  speed_t speed = B0;
  if (!SpeedFor(s.baudRate, speed)) return false;
  ::cfsetispeed(&tio, speed);
  ::cfsetospeed(&tio, speed);
  return true;
}

}  // namespace qmx
