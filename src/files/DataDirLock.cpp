#include "files/DataDirLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "files/DurableFile.h"

namespace qubix::files {

namespace {

constexpr auto kRetryInterval = std::chrono::milliseconds(20);

// The process id the holder wrote, as text ("" when the lock file holds none, or is not a
// regular file: a link is not followed, a pipe not waited on).
std::string Holder(int dirFd) {
  const int fd = ::openat(dirFd, kLockFileName.data(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return {};
  struct stat st {};
  char text[32] = {};
  ssize_t n = 0;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) n = ::pread(fd, text, sizeof text - 1, 0);
  ::close(fd);
  if (n <= 0) return {};
  std::string pid(text, static_cast<std::size_t>(n));
  while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' ')) pid.pop_back();
  if (pid.empty()) return {};
  for (char c : pid)
    if (c < '0' || c > '9') return {};
  return pid;
}

// Writes this process's id into a lock file made afresh. A regular file left by an earlier
// holder is only unlinked (a hard link to someone's file loses a name, not its bytes); any
// other kind of file is left alone and no id is written. The new file's identity, or st_ino 0.
struct stat RecordHolder(int dirFd) {
  struct stat st {};
  const char* name = kLockFileName.data();
  if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (!S_ISREG(st.st_mode) || ::unlinkat(dirFd, name, 0) != 0) return {};
  }
  const int fd = ::openat(dirFd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return {};  // a directory the user may only read: the lock holds all the same
  const std::string pid = std::to_string(::getpid()) + "\n";
  [[maybe_unused]] const ssize_t written = ::write(fd, pid.data(), pid.size());
  if (::fstat(fd, &st) != 0) st = {};
  ::close(fd);
  return st;
}

}  // namespace

DataDirLock::DataDirLock(DataDirLock&& other) noexcept
    : fd_(other.fd_), fileDevice_(other.fileDevice_), fileInode_(other.fileInode_) {
  other.fd_ = -1;
  other.fileInode_ = 0;
}

DataDirLock& DataDirLock::operator=(DataDirLock&& other) noexcept {
  if (this != &other) {
    release();
    fd_ = other.fd_;
    fileDevice_ = other.fileDevice_;
    fileInode_ = other.fileInode_;
    other.fd_ = -1;
    other.fileInode_ = 0;
  }
  return *this;
}

DataDirLock::~DataDirLock() { release(); }

void DataDirLock::release() {
  if (fd_ < 0) return;
  // The lock file goes while the lock is still held, and only the one made here.
  struct stat st {};
  if (fileInode_ != 0 && ::fstatat(fd_, kLockFileName.data(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      st.st_dev == fileDevice_ && st.st_ino == fileInode_)
    ::unlinkat(fd_, kLockFileName.data(), 0);
  ::close(fd_);
  fd_ = -1;
  fileInode_ = 0;
}

std::optional<DataDirLock> DataDirLock::acquire(const std::filesystem::path& dir,
                                                std::chrono::milliseconds wait, std::string& error,
                                                DirUse use) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    error = "cannot open the data directory " + dir.string() + ": " + std::strerror(errno);
    return std::nullopt;
  }
  DataDirLock lock(fd);
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) break;
    if (errno != EWOULDBLOCK && errno != EINTR) {
      error = "cannot lock the data directory " + dir.string() + ": " + std::strerror(errno);
      return std::nullopt;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      const std::string pid = Holder(fd);
      error = "the data directory " + dir.string() + " is in use by " +
              (pid.empty() ? std::string("another process") : "process " + pid) + " (lock file " +
              (dir / kLockFileName).string() + ")";
      return std::nullopt;
    }
    std::this_thread::sleep_for(kRetryInterval);
  }
  if (use == DirUse::Write) {
    const struct stat st = RecordHolder(fd);
    lock.fileDevice_ = st.st_dev;
    lock.fileInode_ = st.st_ino;
    RemoveLeftoverTemporaries(fd);
  }
  return lock;
}

}  // namespace qubix::files
