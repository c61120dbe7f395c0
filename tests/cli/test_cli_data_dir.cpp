// The data directory of a command: made when missing by a command that may write there, left as
// it was by one that writes nothing, and locked before anything else is made.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "CliRunner.h"
#include "files/DataDirLock.h"
#include "support/TempDir.h"

namespace qubix::test {
namespace {

// selftest, which writes no file, leaves a missing data directory missing and an existing one
// as it found it; scan makes the missing one for its machine list.
TEST(DataDirOption, MadeWhenMissingByACommandThatWrites) {
  TempDir dir;
  const std::string data = dir.file("bus/one"), list = dir.file("bus/one/maclist.dat");
  const std::vector<std::string> selftest{"--link", "sim:virtual", "--data-dir", data, "selftest"};
  RunCli(selftest);
  EXPECT_FALSE(std::filesystem::exists(data));
  const CliResult scan =
      RunCli({"--link", "sim:virtual", "--data-dir", data, "scan", "--max", "3"});
  EXPECT_EQ(scan.status, 0) << scan.err;
  EXPECT_TRUE(std::filesystem::exists(list));
  EXPECT_NE(RunCli(selftest).out.find("H0000000"), std::string::npos);
  std::filesystem::remove(list);
  EXPECT_TRUE(std::filesystem::is_empty(data));
}

// A command refused the data directory another one holds leaves that one's trace alone.
TEST(DataDirOption, ARefusedCommandLeavesTheHoldersTraceAlone) {
  TempDir dir;
  const std::string trace = dir.file("bus.jsonl");
  std::ofstream(trace) << "{\"running\":true}\n";
  std::string error;
  const auto held = files::DataDirLock::acquire(dir.path(), std::chrono::milliseconds(0), error);
  const CliResult r = RunCli({"--link", "sim:virtual", "--data-dir", dir.path().string(), "--trace",
                              trace, "scan", "--max", "1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("in use by process " + std::to_string(::getpid())), std::string::npos);
  std::ifstream in(trace);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "{\"running\":true}\n");
}

// --user-data is the window's per-user folder: the same folder, seeded the same way (the shipped
// data, and on the simulated bus the simulated processors' list in the "-sim" folder).
class UserDataOption : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("XDG_DATA_HOME");
    if (old) saved_ = old;
    had_ = old != nullptr;
    ::setenv("XDG_DATA_HOME", home_.path().c_str(), 1);
  }
  void TearDown() override {
    if (had_)
      ::setenv("XDG_DATA_HOME", saved_.c_str(), 1);
    else
      ::unsetenv("XDG_DATA_HOME");
  }
  TempDir home_;
  std::string saved_;
  bool had_ = false;
};

TEST_F(UserDataOption, TheWindowsFolderSeededAsTheWindowSeedsIt) {
  const auto sim = home_.path() / "qubix24-sim";
  const CliResult status = RunCli({"--link", "sim:virtual", "--user-data", "status"});
  EXPECT_EQ(status.status, 0) << status.err;
  EXPECT_TRUE(std::filesystem::is_regular_file(sim / "hwpresetlist.dat"));
  // The seeded list names the simulated processors, so status reads all three.
  EXPECT_NE(status.out.find("H000000010005"), std::string::npos) << status.out;
  EXPECT_FALSE(std::filesystem::exists(home_.path() / "qubix24"));
  // Without the simulator the real folder, which no scan has filled: the tool says where.
  const CliResult list = RunCli({"--user-data", "list"});
  EXPECT_EQ(list.status, 0);
  EXPECT_NE(
      list.err.find("no machine list (maclist.dat) in " + (home_.path() / "qubix24").string()),
      std::string::npos)
      << list.err;
}

TEST_F(UserDataOption, AListLookedForInVainNamesWhereAndTheWindowsFolder) {
  TempDir dir;
  const CliResult list = RunCli({"--data-dir", dir.path().string(), "list"});
  EXPECT_EQ(list.status, 0);
  EXPECT_NE(list.err.find("in " + dir.path().string() + "; scan makes one"), std::string::npos)
      << list.err;
  EXPECT_NE(list.err.find("--user-data looks where the window's menu entry keeps it (" +
                          (home_.path() / "qubix24").string() + ")"),
            std::string::npos)
      << list.err;
}

TEST_F(UserDataOption, WithDataDirIsAUsageError) {
  const CliResult r = RunCli({"--user-data", "--data-dir", home_.path().string(), "list"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("choose the data directory twice"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace qubix::test
