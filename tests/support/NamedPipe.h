// A named pipe where a file should be, and a reader of it that cannot hold the test run: a reader
// still waiting after a few seconds is let go by a writer that opens the pipe and closes it at
// once (an end of file for the reader), and the check reports that it had to.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <optional>
#include <stdexcept>
#include <string>

namespace qubix::test {

inline void MakeNamedPipe(const std::filesystem::path& path) {
  if (::mkfifo(path.c_str(), 0600) != 0) throw std::runtime_error("cannot make " + path.string());
}

// What read reports, or nullopt when it waited on the pipe until the watchdog freed it.
inline std::optional<std::string> ReadWithWatchdog(const std::filesystem::path& pipe,
                                                   const std::function<std::string()>& read) {
  using namespace std::chrono_literals;
  auto result = std::async(std::launch::async, read);
  if (result.wait_for(5s) == std::future_status::ready) return result.get();
  for (int i = 0; i < 200 && result.wait_for(50ms) != std::future_status::ready; ++i) {
    const int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) ::close(fd);
  }
  result.wait();
  return std::nullopt;
}

}  // namespace qubix::test
