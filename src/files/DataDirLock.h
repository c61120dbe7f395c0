// One process at a time owns a data directory: the owner holds an exclusive flock on the lock
// file in it and has written its process id there, so that the next one can say who holds it.
// The lock goes with the process (closing the file, or the process ending, releases it), so a
// crashed owner never leaves the directory locked.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace qubix::files {

inline constexpr std::string_view kLockFileName = ".qubix24.lock";

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
                                            std::chrono::milliseconds wait, std::string& error);

 private:
  explicit DataDirLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace qubix::files
