// The adapters' udev rule as the advice of a failed open names it: where the package installed
// it, or, when no copy is installed, the source tree's file to install.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace qubix::cli {

inline constexpr const char* kUdevRuleName = "99-qubix24-ftdi.rules";

// The folders udev reads rules from, in its order of precedence.
std::vector<std::filesystem::path> UdevRuleFolders();

// "permissions: ..." advice for an adapter that could not be opened: with the installed rule's
// path when one of folders holds it, else how to install it.
std::string PermissionAdvice(const std::vector<std::filesystem::path>& folders);

}  // namespace qubix::cli
