#include "cli/UdevRule.h"

#include <system_error>

namespace qubix::cli {

std::vector<std::filesystem::path> UdevRuleFolders() {
  return {"/etc/udev/rules.d", "/usr/lib/udev/rules.d", "/lib/udev/rules.d"};
}

std::string PermissionAdvice(const std::vector<std::filesystem::path>& folders) {
  for (const auto& folder : folders) {
    std::error_code ec;
    const std::filesystem::path rule = folder / kUdevRuleName;
    if (std::filesystem::is_regular_file(rule, ec))
      return "permissions: the udev rule " + rule.string() +
             " is installed; unplug and replug the adapter, join the dialout group and log in "
             "again";
  }
  return std::string("permissions: install the source tree's udev/") + kUdevRuleName +
         " into /etc/udev/rules.d, join the dialout group and log in again";
}

}  // namespace qubix::cli
