// The data directory of a command: made when missing by a command that may write there, left as
// it was by one that writes nothing, and locked before anything else is made.
#include <gtest/gtest.h>
#include <unistd.h>

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

}  // namespace
}  // namespace qubix::test
