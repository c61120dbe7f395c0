// Test interposer (LD_PRELOAD) that lets libserialport drive a pseudo-terminal like a serial
// port, for qubix24-sim. Two calls differ between a pty and a real port:
//  - the port lookup checks for a link /sys/class/tty/<name>; a pty's "pts/N" has none, so
//    lstat and readlink of /sys/class/tty/pts/N answer as for a virtual tty when /dev/pts/N
//    exists;
//  - opening reads the modem lines (TIOCMGET), which a pty does not have (ENOTTY): on a pty
//    slave the modem-line ioctls answer as for a port with every line up.
// Everything else goes to the C library untouched.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <string>

namespace {

constexpr char kSysPts[] = "/sys/class/tty/pts/";
constexpr char kLinkTarget[] = "../../devices/virtual/tty/pts";

// "/sys/class/tty/pts/N" for an existing /dev/pts/N.
bool isPtsSysPath(const char* path) {
  if (!path || std::strncmp(path, kSysPts, sizeof kSysPts - 1) != 0) return false;
  const std::string dev = std::string("/dev/pts/") + (path + sizeof kSysPts - 1);
  struct stat st {};
  return ::fstatat(AT_FDCWD, dev.c_str(), &st, 0) == 0 && S_ISCHR(st.st_mode);
}

int fakeLink(struct stat* st) {
  std::memset(st, 0, sizeof *st);
  st->st_mode = S_IFLNK | 0777;
  st->st_size = sizeof kLinkTarget - 1;
  return 0;
}

// Unix98 pty slaves have majors 136 ... 143.
bool isPtySlave(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned m = major(st.st_rdev);
  return m >= 136 && m <= 143;
}

}  // namespace

extern "C" {

int lstat(const char* path, struct stat* st) {
  if (isPtsSysPath(path)) return fakeLink(st);
  return ::fstatat(AT_FDCWD, path, st, AT_SYMLINK_NOFOLLOW);
}

// Older builds of libserialport call the versioned stat entry of the C library.
int __lxstat(int /*version*/, const char* path, struct stat* st) { return lstat(path, st); }

ssize_t readlink(const char* path, char* buffer, size_t size) {
  if (isPtsSysPath(path)) {
    const size_t n = std::min(size, sizeof kLinkTarget - 1);
    std::memcpy(buffer, kLinkTarget, n);
    return static_cast<ssize_t>(n);
  }
  return ::readlinkat(AT_FDCWD, path, buffer, size);
}

int ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  const long rc = ::syscall(SYS_ioctl, fd, request, arg);
  if (rc == -1 && errno == ENOTTY && isPtySlave(fd)) {
    switch (request) {
      case TIOCMGET:
        *static_cast<int*>(arg) = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CAR;
        return 0;
      case TIOCMSET:
      case TIOCMBIS:
      case TIOCMBIC:
        return 0;
      default:
        break;
    }
  }
  return static_cast<int>(rc);
}

}  // extern "C"
