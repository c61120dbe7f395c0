#include "files/DataDirLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace qubix::files {

namespace {

constexpr auto kRetryInterval = std::chrono::milliseconds(20);

// The process id the holder wrote, as text ("" when the file holds none yet).
std::string Holder(int fd) {
  char text[32] = {};
  const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  if (n <= 0) return {};
  std::string pid(text, static_cast<std::size_t>(n));
  while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' ')) pid.pop_back();
  for (char c : pid)
    if (c < '0' || c > '9') return {};
  return pid;
}

}  // namespace

DataDirLock::DataDirLock(DataDirLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

DataDirLock& DataDirLock::operator=(DataDirLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

DataDirLock::~DataDirLock() {
  if (fd_ >= 0) ::close(fd_);
}

std::optional<DataDirLock> DataDirLock::acquire(const std::filesystem::path& dir,
                                                std::chrono::milliseconds wait,
                                                std::string& error) {
  const std::filesystem::path path = dir / kLockFileName;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = "cannot open the lock file " + path.string() + ": " + std::strerror(errno);
    return std::nullopt;
  }
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) break;
    if (errno != EWOULDBLOCK && errno != EINTR) {
      error = "cannot lock " + path.string() + ": " + std::strerror(errno);
      ::close(fd);
      return std::nullopt;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      const std::string pid = Holder(fd);
      error = "the data directory " + dir.string() + " is in use by " +
              (pid.empty() ? std::string("another process") : "process " + pid) + " (lock file " +
              path.string() + ")";
      ::close(fd);
      return std::nullopt;
    }
    std::this_thread::sleep_for(kRetryInterval);
  }
  const std::string pid = std::to_string(::getpid()) + "\n";
  // Best effort: the lock holds whether or not the id can be written.
  if (::ftruncate(fd, 0) == 0) {
    [[maybe_unused]] const ssize_t written = ::pwrite(fd, pid.data(), pid.size(), 0);
  }
  return DataDirLock(fd);
}

}  // namespace qubix::files
