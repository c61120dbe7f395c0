// The data directory of a command: made when missing by a command that may write there, left as
// it was by one that writes nothing, and locked before anything else is made.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "CliRunner.h"
#include "files/DataDirLock.h"
#include "support/TempDir.h"

namespace qubix::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Names(const fs::path& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

// selftest, which writes no file, leaves a missing data directory missing and an existing one
// as it found it; scan makes the missing one for its machine list.
TEST(DataDirOption, MadeWhenMissingByACommandThatWrites) {
  TempDir dir;
  const std::string data = (dir.path() / "bus" / "one").string();
  const std::vector<std::string> selftest{"--link", "sim:virtual", "--data-dir", data, "selftest"};
  RunCli(selftest);
  EXPECT_FALSE(fs::exists(data));
  const CliResult scan =
      RunCli({"--link", "sim:virtual", "--data-dir", data, "scan", "--max", "3"});
  EXPECT_EQ(scan.status, 0) << scan.err;
  ASSERT_TRUE(fs::is_directory(data));
  EXPECT_EQ(Names(data), std::vector<std::string>{"maclist.dat"});
  const CliResult again = RunCli(selftest);
  EXPECT_NE(again.out.find("H0000000"), std::string::npos) << again.out << again.err;
  EXPECT_EQ(Names(data), std::vector<std::string>{"maclist.dat"});
}

// A command refused the data directory another one holds leaves that one's trace alone.
TEST(DataDirOption, ARefusedCommandLeavesTheHoldersTraceAlone) {
  TempDir dir;
  const std::string trace = dir.file("bus.jsonl");
  std::ofstream(trace) << "{\"running\":true}\n";
  std::string error;
  const auto held = files::DataDirLock::acquire(dir.path(), std::chrono::milliseconds(0), error);
  ASSERT_TRUE(held) << error;
  const CliResult r = RunCli({"--link", "sim:virtual", "--data-dir", dir.path().string(), "--trace",
                              trace, "scan", "--max", "1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("is in use by process " + std::to_string(::getpid())), std::string::npos)
      << r.err;
  std::ifstream in(trace);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "{\"running\":true}\n");
}

}  // namespace
}  // namespace qubix::test
