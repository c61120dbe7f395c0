// One process at a time owns a data directory: the owner holds an exclusive flock on the
// directory itself, which needs no write access, so a directory the user may only read is
// locked like any other (writing there fails later, when something must be written). The lock
// goes with the process (closing the descriptor, or the process ending, releases it), so a
// crashed owner never leaves the directory locked.
//
// Where it can, the owner names itself in the lock file so that the next one can say who holds
// the directory: a file it creates afresh and removes on release. Whatever else carries that
// name (a symbolic link, a hard link to another file, anything but a regular file) is never
// opened for writing, followed or truncated. Taking the lock also removes the temporary files a
// killed writer left behind.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace qubix::files {

inline constexpr std::string_view kLockFileName = ".qubix24.lock";

// What the holder does in the directory. Reading leaves it exactly as it was: no lock file and
// no clean-up.
enum class DirUse { Write, Read };

class DataDirLock {
 public:
  DataDirLock(DataDirLock&& other) noexcept;
  DataDirLock& operator=(DataDirLock&& other) noexcept;
  DataDirLock(const DataDirLock&) = delete;
  DataDirLock& operator=(const DataDirLock&) = delete;
  ~DataDirLock();

  // Takes the lock on dir, trying again for up to wait while another process holds it. Empty
  // when it could not be taken; error then says why, naming the holder's process id when the
  // lock file tells it.
  static std::optional<DataDirLock> acquire(const std::filesystem::path& dir,
                                            std::chrono::milliseconds wait, std::string& error,
                                            DirUse use = DirUse::Write);

 private:
  explicit DataDirLock(int fd) : fd_(fd) {}
  void release();
  int fd_ = -1;  // the directory's
  // The lock file this holder made, to be removed on release (st_ino 0: none).
  dev_t fileDevice_ = 0;
  ino_t fileInode_ = 0;
};

}  // namespace qubix::files
