#include "files/DurableFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>

namespace qubix::files {

namespace {

std::atomic<std::int64_t> fullDiskBudget{-1};  // < 0: off

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

// A name no other writer, in this process or another, picks at the same time.
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

// Makes a rename in folder durable. File systems that cannot flush a folder say EINVAL.
bool SyncFolder(const std::filesystem::path& folder, std::string& error) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    error = "cannot open folder " + folder.string() + ": " + Reason(errno);
    return false;
  }
  const bool ok = ::fsync(fd) == 0 || errno == EINVAL;
  const int err = errno;
  ::close(fd);
  if (!ok) error = "cannot flush folder " + folder.string() + ": " + Reason(err);
  return ok;
}

}  // namespace

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
    // A hard link never replaces an existing name: whoever created it first keeps it.
    if (::link(temp.c_str(), path.c_str()) != 0) {
      const int err = errno;
      ::unlink(temp.c_str());
      if (err == EEXIST) return WriteResult::AlreadyExists;
      error = "cannot create " + path.string() + ": " + Reason(err);
      return WriteResult::Failed;
    }
    ::unlink(temp.c_str());
  } else if (::rename(temp.c_str(), path.c_str()) != 0) {
    return discard(error, "cannot replace " + path.string(), errno);
  }
  if (!SyncFolder(FolderOf(path), error)) return WriteResult::Failed;
  return WriteResult::Written;
}

bool ReadFilePrefix(const std::filesystem::path& path, std::size_t limit, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(limit, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(limit));
  if (in.bad()) return false;
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return true;
}

std::optional<std::filesystem::path> SetAside(const std::filesystem::path& path,
                                              std::string& error) {
  for (int n = 1; n < 1000; ++n) {
    std::filesystem::path target = path;
    target += n == 1 ? std::string(".bad") : ".bad" + std::to_string(n);
    if (::link(path.c_str(), target.c_str()) == 0) {
      if (::unlink(path.c_str()) != 0) {
        const int err = errno;
        ::unlink(target.c_str());
        error = "cannot move " + path.string() + " aside: " + Reason(err);
        return std::nullopt;
      }
      std::string ignored;
      SyncFolder(FolderOf(path), ignored);
      return target;
    }
    if (errno != EEXIST) {
      error = "cannot move " + path.string() + " aside: " + Reason(errno);
      return std::nullopt;
    }
  }
  error = "cannot move " + path.string() + " aside: too many earlier copies";
  return std::nullopt;
}

}  // namespace qubix::files
