// The advice for an adapter refused for lack of permission names the rule the package installed,
// and only without one the source tree's file.
#include <gtest/gtest.h>

#include <fstream>

#include "cli/UdevRule.h"
#include "support/TempDir.h"

namespace qubix::test {
namespace {

TEST(PermissionAdvice, NamesTheInstalledRuleFirstInUdevsOrder) {
  TempDir dir;
  const auto etc = dir.path() / "etc", lib = dir.path() / "lib";
  std::filesystem::create_directories(etc);
  std::filesystem::create_directories(lib);
  EXPECT_EQ(cli::PermissionAdvice({etc, lib}),
            "permissions: install the source tree's udev/99-qubix24-ftdi.rules into "
            "/etc/udev/rules.d, join the dialout group and log in again");
  std::ofstream(lib / cli::kUdevRuleName) << "# rule\n";
  EXPECT_EQ(cli::PermissionAdvice({etc, lib}),
            "permissions: the udev rule " + (lib / cli::kUdevRuleName).string() +
                " is installed; unplug and replug the adapter, join the dialout group and log in "
                "again");
  std::ofstream(etc / cli::kUdevRuleName) << "# local copy\n";
  EXPECT_NE(cli::PermissionAdvice({etc, lib}).find(etc.string()), std::string::npos);
}

}  // namespace
}  // namespace qubix::test
