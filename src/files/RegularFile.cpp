#include "files/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace qubix::files {

namespace {

const char* KindOf(mode_t mode) {
  if (S_ISFIFO(mode)) return "a named pipe";
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "something else";
}

}  // namespace

int OpenWithoutWaiting(const std::filesystem::path& path, int extraFlags) {
  return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | extraFlags);
}

int OpenRegularFile(const std::filesystem::path& path, std::string& error, int extraFlags) {
  const int fd = OpenWithoutWaiting(path, extraFlags);
  if (fd < 0) {
    const int err = errno;
    error = "cannot open " + path.string() + ": " + std::strerror(err);
    errno = err;
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    error = "cannot read " + path.string() + ": " + std::strerror(err);
    errno = err;
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    error = path.string() + " is " + KindOf(st.st_mode) + ", not a file";
    errno = EINVAL;
    return -1;
  }
  return fd;
}

bool ReadFilePrefix(const std::filesystem::path& path, std::size_t limit, std::string& bytes,
                    std::string* error) {
  std::string why;
  const int fd = OpenRegularFile(path, why);
  if (fd < 0) {
    if (error) *error = why;
    return false;
  }
  // In pieces: a generous limit costs no memory for a small file.
  bytes.clear();
  char piece[1 << 16];
  while (bytes.size() < limit) {
    const ssize_t n = ::read(fd, piece, std::min(sizeof piece, limit - bytes.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (error) *error = "cannot read " + path.string() + ": " + std::strerror(errno);
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    bytes.append(piece, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return true;
}

}  // namespace qubix::files
