#include "link/backends/DeviceHolder.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace qubix::link::backends {

namespace {

bool allDigits(const char* name) {
  if (*name == '\0') return false;
  for (; *name; ++name)
    if (!std::isdigit(static_cast<unsigned char>(*name))) return false;
  return true;
}

std::vector<long> numericEntries(const std::string& dir) {
  std::vector<long> out;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return out;
  while (const dirent* e = ::readdir(d))
    if (allDigits(e->d_name)) out.push_back(std::strtol(e->d_name, nullptr, 10));
  ::closedir(d);
  std::sort(out.begin(), out.end());
  return out;
}

std::string linkTarget(const std::string& path) {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string{};
}

}  // namespace

std::string deviceHolder(const std::string& devicePath, int ownFd, const std::string& procDir) {
  // The kernel names an open file by its real path, whatever link it was opened through.
  std::error_code ec;
  std::string target = std::filesystem::canonical(devicePath, ec).string();
  if (ec) target = devicePath;
  const long self = static_cast<long>(::getpid());
  for (const long pid : numericEntries(procDir)) {
    const std::string fdDir = procDir + "/" + std::to_string(pid) + "/fd";
    for (const long fd : numericEntries(fdDir)) {
      if (pid == self && fd == ownFd) continue;
      if (linkTarget(fdDir + "/" + std::to_string(fd)) != target) continue;
      // The program file's name, whole; else the process's name, which may be cut short or
      // be another than the file's (a program that re-ran itself through /proc/self/exe).
      std::string name =
          std::filesystem::path(linkTarget(procDir + "/" + std::to_string(pid) + "/exe"))
              .filename()
              .string();
      if (const auto deleted = name.rfind(" (deleted)"); deleted != std::string::npos)
        name.erase(deleted);
      if (name.empty()) {
        std::ifstream comm(procDir + "/" + std::to_string(pid) + "/comm");
        std::getline(comm, name);
      }
      if (name.empty()) name = "a program";
      return name + ", PID " + std::to_string(pid);
    }
  }
  return {};
}

std::string inUseText(const std::string& devicePath, int ownFd) {
  const std::string holder = deviceHolder(devicePath, ownFd);
  return devicePath + " is in use by " + (holder.empty() ? "another program" : holder);
}

}  // namespace qubix::link::backends
