// qubix24ctl adapters: what each backend sees, and why one cannot be used; and the self-test
// on the simulated bus.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/CaseNames.h"
#include "support/RunCommand.h"
#include "support/TempDir.h"

namespace qubix::test {
namespace {

std::string run(const std::string& environment, const std::string& arguments) {
  const std::string command = environment + " '" QUBIX24CTL "' adapters " + arguments + " 2>&1";
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
    EXPECT_EQ(::pclose(pipe), 0) << out;
  }
  return out;
}

TEST(AdaptersCommand, SaysWhyTheVendorLibraryIsMissing) {
  const TempDir noPorts("qubix-tty");
  const std::string out = run("QUBIX_D2XX_LIBRARY=/nonexistent/libftd2xx.so QUBIX_TTY_CLASS_DIR='" +
                                  noPorts.path().string() + "'",
                              "");
  EXPECT_NE(out.find("d2xx: not available: cannot load /nonexistent/libftd2xx.so"),
            std::string::npos)
      << out;
  // What a program without --link would take: nothing on a machine without an FTDI chip on its
  // USB, and why (libftdi's words in the middle depend on the machine's USB).
  EXPECT_NE(out.find("default (no --link): no FTDI adapter (vendor 0403): no serial port of "
                     "ftdi_sio in " +
                     noPorts.path().string() + "; "),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("; d2xx: /nonexistent/libftd2xx.so not installed\n"), std::string::npos)
      << out;
  EXPECT_NE(out.find("serial: "), std::string::npos) << out;
  EXPECT_NE(out.find("ftdi: "), std::string::npos) << out;
}

TEST(AdaptersCommand, ListsTheVendorLibrarysDevicesAndWhyOneCannotBeOpened) {
  const std::string out =
      run("QUBIX_D2XX_LIBRARY='" QUBIX_STANDIN_LIB "' QUBIX_STANDIN_DEVICES=2", "--json");
  EXPECT_NE(out.find(R"("available":true,"name":"d2xx","reason":"")"), std::string::npos) << out;
  EXPECT_NE(out.find(R"("path":"index 0")"), std::string::npos) << out;
  EXPECT_NE(out.find(R"("description":"Other Adapter")"), std::string::npos) << out;
  EXPECT_NE(
      out.find(
          R"("note":"cannot open it (status 2): another program or the kernel driver holds it")"),
      std::string::npos)
      << out;
  EXPECT_NE(out.find(R"("path":"index 1")"), std::string::npos) << out;
}

TEST(AdaptersCommand, RejectsStrayArguments) {
  const std::string command = "'" QUBIX24CTL "' adapters extra 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe)) {
  }
  EXPECT_NE(::pclose(pipe), 0);
}

struct SelfTestCase {
  const char* name;
  std::string options;
  int exitStatus;
  std::vector<std::string> lines;
};

class SelfTestCommand : public ::testing::TestWithParam<SelfTestCase> {};

TEST_P(SelfTestCommand, ReportsAndJudges) {
  const SelfTestCase& c = GetParam();
  const qubix::test::TempDir dir("qubix-selftest");
  const auto run = qubix::test::RunCommand("'" QUBIX24CTL "' selftest --data-dir " +
                                           dir.path().string() + " " + c.options);
  EXPECT_EQ(run.exitStatus, c.exitStatus) << run.output;
  for (const std::string& line : c.lines)
    EXPECT_NE(run.output.find(line), std::string::npos) << line << "\n" << run.output;
}

// Runs on the real clock: a loaded machine may make a working link "slow", which exits 0 like
// "pass"; so the exit status, not the verdict's word, tells a working link here.
INSTANTIATE_TEST_SUITE_P(
    Links, SelfTestCommand,
    ::testing::Values(
        SelfTestCase{"simulated_bus",
                     "--link sim:",
                     0,
                     {"backend      sim", "description  Velmoria USBTo422", "serial       SIM00001",
                      "latency      unknown", "machine      H000000010001 (found by scanning)",
                      "select       ", "query        "}},
        SelfTestCase{"simulated_bus_json",
                     "--link sim: --json",
                     0,
                     {R"("backend":"sim","connected":true)", R"("machine":"H000000010001")"}},
        // A host carrying an option for the network library: a usage error, nothing opened.
        SelfTestCase{"host_with_an_option",
                     "--link tcp:127.0.0.1,37104:9",
                     2,
                     {"\"127.0.0.1,37104\" is neither a host name nor an IPv4 address"}},
        SelfTestCase{"nothing_plugged_in",
                     "",
                     1,
                     {"open         failed: NoOpenDvc", "verdict      fail",
                      "advice       no adapter opened"}}),
    qubix::test::ByNameField{});

}  // namespace
}  // namespace qubix::test
