#include "files/DataDir.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

namespace qubix::files {

namespace fs = std::filesystem;

bool IsSimulatedLink(std::string_view link) { return link.rfind("sim:", 0) == 0; }

fs::path UserDataDir() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg != nullptr && fs::path(xdg).is_absolute()) return fs::path(xdg) / "qubix24";
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') {
    const passwd* entry = ::getpwuid(::getuid());
    home = entry != nullptr ? entry->pw_dir : "/";
  }
  return fs::path(home) / ".local/share/qubix24";
}

fs::path SimulatorUserDataDir(const fs::path& userDataDir) {
  fs::path sim = userDataDir;
  sim += "-sim";
  return sim;
}

DataDirChoice ChooseDataDir(std::string_view link, const std::string& dataDirOption, bool userData,
                            const fs::path& currentDir, const fs::path& userDataDir) {
  const bool simulated = IsSimulatedLink(link);
  if (!dataDirOption.empty())
    return {(currentDir / dataDirOption).lexically_normal(), true, simulated};
  if (userData)
    return {simulated ? SimulatorUserDataDir(userDataDir) : userDataDir, true, simulated};
  return {currentDir, false, false};
}

bool SeedDataDir(const fs::path& shared, const fs::path& target, std::string& error) {
  std::error_code ec;
  fs::create_directories(target, ec);
  if (ec || !fs::is_directory(target)) {
    error = "cannot make the data directory " + target.string() + ": " +
            (ec ? ec.message() : "a file of that name is in the way");
    return false;
  }
  if (shared.empty()) return true;
  fs::copy(shared, target, fs::copy_options::recursive | fs::copy_options::skip_existing, ec);
  if (ec) {
    error = "cannot copy the shipped data from " + shared.string() + " into " + target.string() +
            ": " + ec.message();
    return false;
  }
  return true;
}

fs::path SharedDataDir(const fs::path& programDir) {
  const fs::path candidates[] = {
      programDir / QUBIX_SHARED_DATA_FROM_BIN,
      QUBIX_SOURCE_DATA_DIR,
  };
  for (const fs::path& dir : candidates) {
    std::error_code ec;
    if (fs::is_regular_file(dir / "hwpresetlist.dat", ec)) return dir.lexically_normal();
  }
  return {};
}

}  // namespace qubix::files
