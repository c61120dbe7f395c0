#include "files/DurableFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace qubix::files {

namespace {

std::atomic<std::int64_t> fullDiskBudget{-1};  // < 0: off
std::atomic<bool> noHardLinks{false}, noRenameNoReplace{false}, folderFlushFails{false};

std::string Reason(int err) { return std::strerror(err); }

// write(2) until everything is out; -1 with errno set on failure.
int WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    std::size_t chunk = size;
    const std::int64_t budget = fullDiskBudget.load();
    if (budget >= 0) {
      if (budget == 0) {
        errno = ENOSPC;
        return -1;
      }
      chunk = std::min<std::size_t>(chunk, static_cast<std::size_t>(budget));
    }
    const ssize_t n = ::write(fd, data, chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (budget >= 0) fullDiskBudget.fetch_sub(n);
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

// A name no other writer, in this process or another, picks at the same time:
// "." NAME "." PID "-" COUNTER "-" 8 hex digits ".tmp" (TemporaryFileOwner reads it back).
std::filesystem::path TemporaryName(const std::filesystem::path& path) {
  static std::atomic<unsigned> counter{0};
  thread_local std::mt19937_64 random{std::random_device{}()};
  char tail[64];
  std::snprintf(tail, sizeof tail, ".%ld-%u-%08llx.tmp", static_cast<long>(::getpid()),
                counter.fetch_add(1), static_cast<unsigned long long>(random() & 0xffffffffULL));
  std::filesystem::path temp = path.parent_path();
  temp /= "." + path.filename().string() + tail;
  return temp;
}

std::filesystem::path FolderOf(const std::filesystem::path& path) {
  const auto parent = path.parent_path();
  return parent.empty() ? std::filesystem::path(".") : parent;
}

// Makes a rename in folder durable: 0, or the errno. File systems that cannot flush a folder
// say EINVAL, which is no failure.
int SyncFolder(const std::filesystem::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  int err = 0;
  if (folderFlushFails.load())
    err = EIO;
  else if (::fsync(fd) != 0 && errno != EINVAL)
    err = errno;
  ::close(fd);
  return err;
}

// What link(2) says on a file system without hard links.
bool LacksHardLinks(int err) {
  constexpr int kCodes[] = {EPERM, ENOTSUP, EOPNOTSUPP};
  return std::find(std::begin(kCodes), std::end(kCodes), err) != std::end(kCodes);
}

int Link(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (noHardLinks.load()) {
    errno = EPERM;
    return -1;
  }
  return ::link(from.c_str(), to.c_str());
}

int RenameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (noRenameNoReplace.load()) {
    errno = EINVAL;
    return -1;
  }
  return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
}

// Gives the file from the name to without ever replacing an existing to: 0, or the errno
// (EEXIST when to exists). A hard link where the file system has them; else a rename that
// refuses to replace; else the name is reserved with O_EXCL (whoever creates it first keeps it)
// and the rename replaces only the empty file made here.
int MoveWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (Link(from, to) == 0) {
    if (::unlink(from.c_str()) == 0) return 0;
    const int err = errno;
    ::unlink(to.c_str());
    return err;
  }
  if (!LacksHardLinks(errno)) return errno;
  if (RenameNoReplace(from, to) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && !LacksHardLinks(errno)) return errno;
  const int fd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return errno;
  ::close(fd);
  if (::rename(from.c_str(), to.c_str()) == 0) return 0;
  const int err = errno;
  ::unlink(to.c_str());
  return err;
}

}  // namespace

void SimulateFileSystem(SimulatedFileSystem faults) {
  noHardLinks.store(faults.noHardLinks);
  noRenameNoReplace.store(faults.noRenameNoReplace);
  folderFlushFails.store(faults.folderFlushFails);
}

void SimulateFullDiskAfter(std::optional<std::uint64_t> bytes) {
  fullDiskBudget.store(bytes ? static_cast<std::int64_t>(*bytes) : -1);
}

WriteResult WriteWholeFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                           std::string& error, Existing existing) {
  std::filesystem::path temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = TemporaryName(path);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    error = "cannot create a file beside " + path.string() + ": " + Reason(errno);
    return WriteResult::Failed;
  }
  const auto discard = [&temp](std::string& message, const std::string& what, int err) {
    message = what + ": " + Reason(err);
    ::unlink(temp.c_str());
    return WriteResult::Failed;
  };
  if (WriteAll(fd, bytes.data(), bytes.size()) != 0) {
    const int err = errno;
    ::close(fd);
    return discard(error, "cannot write " + path.string(), err);
  }
  if (::fsync(fd) != 0) {
    const int err = errno;
    ::close(fd);
    return discard(error, "cannot flush " + path.string(), err);
  }
  if (::close(fd) != 0) return discard(error, "cannot write " + path.string(), errno);

  if (existing == Existing::Keep) {
    if (const int err = MoveWithoutReplacing(temp, path); err != 0) {
      ::unlink(temp.c_str());
      if (err == EEXIST) return WriteResult::AlreadyExists;
      error = "cannot create " + path.string() + ": " + Reason(err);
      return WriteResult::Failed;
    }
  } else if (::rename(temp.c_str(), path.c_str()) != 0) {
    return discard(error, "cannot replace " + path.string(), errno);
  }
  // The name already stands for the new file: a failure now cannot give the old one back.
  if (const int err = SyncFolder(FolderOf(path)); err != 0) {
    error = "cannot flush folder " + FolderOf(path).string() + " after writing " +
            path.filename().string() + ": " + Reason(err) + " (the new file may be in place)";
    return WriteResult::Failed;
  }
  return WriteResult::Written;
}

std::optional<std::filesystem::path> SetAside(const std::filesystem::path& path,
                                              std::string& error) {
  for (int n = 1; n < 1000; ++n) {
    std::filesystem::path target = path;
    target += n == 1 ? std::string(".bad") : ".bad" + std::to_string(n);
    const int err = MoveWithoutReplacing(path, target);
    if (err == 0) {
      SyncFolder(FolderOf(path));
      return target;
    }
    if (err != EEXIST) {
      error = "cannot move " + path.string() + " aside: " + Reason(err);
      return std::nullopt;
    }
  }
  error = "cannot move " + path.string() + " aside: too many earlier copies";
  return std::nullopt;
}

std::optional<long> TemporaryFileOwner(std::string_view name) {
  // As TemporaryName makes them: "." NAME "." PID "-" COUNTER "-" 8 hex digits ".tmp", where
  // NAME may hold dots itself.
  const auto all = [](std::string_view text, auto pred) {
    return !text.empty() && std::all_of(text.begin(), text.end(), pred);
  };
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  constexpr std::string_view kTail = ".tmp";
  if (name.size() < 2 || name.front() != '.' || !name.ends_with(kTail)) return {};
  std::string_view rest = name.substr(1, name.size() - 1 - kTail.size());
  const auto lastPart = [&rest](char separator) -> std::optional<std::string_view> {
    const auto at = rest.rfind(separator);
    if (at == std::string_view::npos) return std::nullopt;
    const std::string_view part = rest.substr(at + 1);
    rest = rest.substr(0, at);
    return part;
  };
  const auto hex = lastPart('-');
  const auto counter = lastPart('-');
  const auto pid = lastPart('.');
  if (!hex || hex->size() != 8 ||
      !all(*hex, [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }))
    return {};
  if (!counter || !all(*counter, digit)) return {};
  if (!pid || pid->size() > 10 || !all(*pid, digit) || pid->front() == '0' || rest.empty())
    return {};
  const long owner = std::stol(std::string(*pid));
  if (owner > std::numeric_limits<pid_t>::max()) return {};
  return owner;
}

int RemoveLeftoverTemporaries(int dirFd) {
  // A descriptor of its own: reading the folder moves its position.
  const int fd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return 0;
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    ::close(fd);
    return 0;
  }
  std::vector<std::string> leftovers;
  const long self = ::getpid();
  while (const dirent* entry = ::readdir(dir)) {
    const auto owner = TemporaryFileOwner(entry->d_name);
    if (!owner || *owner == self) continue;
    // Only a writer that is gone: EPERM means it runs under another user.
    if (::kill(static_cast<pid_t>(*owner), 0) == 0 || errno != ESRCH) continue;
    leftovers.emplace_back(entry->d_name);
  }
  int removed = 0;
  for (const std::string& name : leftovers) {
    struct stat st {};
    if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
      continue;
    if (::unlinkat(fd, name.c_str(), 0) == 0) ++removed;
  }
  ::closedir(dir);
  return removed;
}

}  // namespace qubix::files
