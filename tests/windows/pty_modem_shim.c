/* Test-only LD_PRELOAD for wine: Linux refuses the modem-line ioctls on
 * pseudo-terminals, so wine's EscapeCommFunction, GetCommModemStatus and
 * WaitCommEvent fail on a COM port mapped to one. For pty slaves this keeps
 * the output lines per descriptor and reports the input lines as present;
 * every other descriptor and request goes to the real ioctl. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>

enum { kMaxFd = 4096 };
static int lines[kMaxFd];

static int IsPtySlave(int fd) {
  struct stat st;
  if (fd < 0 || fd >= kMaxFd || fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return 0;
  /* Unix98 pty slaves have majors 136 to 143. */
  return major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

int ioctl(int fd, unsigned long request, ...) {
  static int (*real)(int, unsigned long, ...);
  va_list ap;
  va_start(ap, request);
  void* arg = va_arg(ap, void*);
  va_end(ap);
  if (real == 0) real = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
  if (!IsPtySlave(fd)) return real(fd, request, arg);
  int* bits = (int*)arg;
  switch (request) {
    case TIOCMGET:
      *bits = lines[fd] | TIOCM_CTS | TIOCM_DSR | TIOCM_CD;
      return 0;
    case TIOCMSET: lines[fd] = *bits & (TIOCM_DTR | TIOCM_RTS); return 0;
    case TIOCMBIS: lines[fd] |= *bits & (TIOCM_DTR | TIOCM_RTS); return 0;
    case TIOCMBIC: lines[fd] &= ~*bits; return 0;
    default: return real(fd, request, arg);
  }
}
