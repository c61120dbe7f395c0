// What the long commands say on stderr while they run: lines when stderr is no terminal (here a
// file), nothing with --json, whose caller reads stdout alone.
#include <gtest/gtest.h>

#include "CliRunner.h"
#include "support/TempDir.h"

namespace qubix::test {
namespace {

struct ProgressCase {
  const char* name;
  std::vector<std::string> command;
  std::string line;  // a progress line the command prints
};

class CommandProgress : public ::testing::TestWithParam<ProgressCase> {};

TEST_P(CommandProgress, LinesWithoutATerminalNoneWithJson) {
  TempDir dir;
  std::vector<std::string> args{"--link", "sim:virtual", "--data-dir", dir.path().string()};
  args.insert(args.end(), GetParam().command.begin(), GetParam().command.end());
  const CliResult plain = RunCli(args);
  EXPECT_EQ(plain.status, 0) << plain.err;
  EXPECT_NE(plain.err.find(GetParam().line), std::string::npos) << plain.err;
  args.push_back("--json");
  const CliResult json = RunCli(args);
  EXPECT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(json.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CommandProgress,
    ::testing::Values(
        ProgressCase{
            "scan", {"scan", "--max", "8"}, "scan: address 5: H000000010005 answered, found 3\n"},
        ProgressCase{"hwpreset",
                     {"hwpreset", "--machine", "H000000010002", "3"},
                     "hwpreset: H000000010002 changes to hardware preset 3, waiting"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qubix::test
