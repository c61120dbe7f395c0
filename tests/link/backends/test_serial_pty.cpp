// The serial backend end to end: libserialport on a pseudo-terminal served by qubix24-sim.
// libserialport rejects pseudo-terminals in two places; the test interposer (pty_shim.cpp)
// answers those, and this program re-runs itself with it preloaded.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "FakeTtyTree.h"
#include "compose/LinkFactory.h"
#include "link/Link.h"
#include "link/backends/auto/AutoAdapter.h"
#include "link/backends/serial/SerialAdapter.h"
#include "protocol/Bus.h"
#include "protocol/Hex.h"
#include "support/ChildProcess.h"
#include "support/PtyShimMain.h"
#include "support/RecordingFrontend.h"
#include "support/RunCommand.h"
#include "support/TempDir.h"

namespace qubix::test {
namespace {

using link::backends::SerialAdapter;
using Clock = std::chrono::steady_clock;

// One qubix24-sim for the whole program.
class SimProcess {
 public:
  static SimProcess& instance() {
    static SimProcess sim;
    return sim;
  }
  const std::string& path() const { return path_; }

 private:
  SimProcess() : child_({QUBIX24_SIM}, 1), path_(child_.line(0)) {}
  Child child_;
  std::string path_;
};

class SerialPty : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = SimProcess::instance().path();
    ASSERT_EQ(path_.rfind("/dev/pts/", 0), 0u) << "qubix24-sim printed \"" << path_ << "\"";
  }
  std::unique_ptr<link::Link> connect() {
    std::string error;
    auto adapter = compose::makeAdapter("serial:" + path_, error);
    EXPECT_NE(adapter, nullptr) << error;
    auto link = std::make_unique<link::Link>(std::move(adapter), frontend_);
    link->Connect();
    return link;
  }
  std::string path_;
  test::RecordingFrontend frontend_;
};

TEST_F(SerialPty, ListsTheGivenPortOnly) {
  SerialAdapter adapter(path_);
  std::array<link::Description, 2> slots{};
  std::uint32_t count = 99;
  EXPECT_EQ(adapter.listDevices(slots, count), link::kOk) << adapter.lastError();
  EXPECT_EQ(count, 1u);
}

TEST_F(SerialPty, DefaultListingShowsOnlyFtdiUsbPorts) {
  const auto report = SerialAdapter::probe();
  ASSERT_TRUE(report.available) << report.reason;
  for (const auto& port : report.ports) EXPECT_EQ(port.vendorId, 0x0403) << port.path;
}

TEST_F(SerialPty, ConnectSelectAndQuery) {
  auto link = connect();
  ASSERT_TRUE(link->state().Connected) << frontend_.statusDetail;
  EXPECT_EQ(frontend_.statusDetail, "");
  protocol::Bus bus(*link, frontend_);
  link->DrainInput();
  ASSERT_TRUE(bus.SelectMachine(protocol::SelectFrame({0, 0, 0, 1, 0, 2})));
  ASSERT_TRUE(bus.ReadParameter(18));
  EXPECT_EQ(bus.ParameterValue, 3);
  ASSERT_TRUE(bus.ReadParameter(17));
  EXPECT_EQ(bus.ParameterValue, 2);
  bus.ReleaseMachine();
  EXPECT_FALSE(bus.MachineSelected);
  EXPECT_EQ(frontend_.statusText, "Status Ok");
  link->CloseAdapter();
}

TEST_F(SerialPty, ReadTimesOutAfterTheSetTime) {
  auto link = connect();
  ASSERT_TRUE(link->state().Connected) << frontend_.statusDetail;
  link->SetReadTimeout(60);
  link->state().ReplyLength = 5;
  const auto start = Clock::now();
  EXPECT_FALSE(link->ReadReply());
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  EXPECT_EQ(link->state().bytesRead, 0u);
  EXPECT_GE(elapsed.count(), 55);
  EXPECT_LT(elapsed.count(), 1000);
  EXPECT_EQ(frontend_.statusColour, link::kRed);
  link->CloseAdapter();
}

TEST_F(SerialPty, DrainDiscardsAPendingReply) {
  auto link = connect();
  ASSERT_TRUE(link->state().Connected) << frontend_.statusDetail;
  protocol::Bus bus(*link, frontend_);
  ASSERT_TRUE(bus.SelectMachine(protocol::SelectFrame({0, 0, 0, 1, 0, 1})));
  // The query of value 18 is answered with seven bytes ...
  ASSERT_TRUE(link->WriteText("I12ee"));
  link->state().ReplyLength = 7;
  ASSERT_TRUE(link->ReadReply());
  EXPECT_EQ(link->ReplyText().back(), 'O');
  // ... and when the answer is drained instead, nothing is left to read.
  ASSERT_TRUE(link->WriteText("I12ee"));
  link->DrainInput();
  link->SetReadTimeout(30);
  link->state().ReplyLength = 1;
  EXPECT_FALSE(link->ReadReply());
  EXPECT_EQ(link->state().bytesRead, 0u);
  link->SetReadTimeout(200);
  bus.ReleaseMachine();
  link->CloseAdapter();
}

TEST_F(SerialPty, ReconnectsAfterClose) {
  for (int i = 0; i < 2; ++i) {
    auto link = connect();
    ASSERT_TRUE(link->state().Connected) << frontend_.statusDetail;
    EXPECT_TRUE(link->QueryDeviceInfo());
    link->CloseAdapter();
  }
}

// The driver-shaped settings map onto the port's, and what the port cannot do is refused.
TEST_F(SerialPty, SettingsAreCheckedAndInvalidHandlesRefused) {
  SerialAdapter adapter(path_);
  link::Handle h = nullptr;
  ASSERT_EQ(adapter.open(0, h), link::kOk) << adapter.lastError();
  struct Setting {
    std::uint8_t bits, stop, parity;
    link::Status expected;
  };
  for (const Setting& s :
       {Setting{8, 0, 0, link::kOk}, Setting{8, 2, 0, link::kOk},
        Setting{9, 0, 0, link::kInvalidParameter}, Setting{8, 1, 0, link::kInvalidParameter},
        Setting{8, 0, 5, link::kInvalidParameter}}) {
    EXPECT_EQ(adapter.setDataCharacteristics(h, s.bits, s.stop, s.parity), s.expected)
        << int{s.bits} << " " << int{s.stop} << " " << int{s.parity} << ": " << adapter.lastError();
  }
  // (DTR/DSR, 0x0200, needs modem lines that a pseudo-terminal lacks.)
  for (std::uint16_t flow : {0x0000, 0x0100, 0x0400})
    EXPECT_EQ(adapter.setFlowControl(h, flow, 0x11, 0x13), link::kOk)
        << flow << ": " << adapter.lastError();
  EXPECT_EQ(adapter.setFlowControl(h, 0x0800, 0, 0), link::kInvalidParameter);
  EXPECT_EQ(adapter.setBaudRate(h, 115200), link::kOk);
  // A pseudo-terminal has no chip, so no latency timer; the reason says so.
  EXPECT_EQ(adapter.setLatencyTimer(h, 2), link::kNotSupported);
  EXPECT_NE(adapter.lastError().find("has no latency timer"), std::string::npos);

  int other = 0;
  std::uint32_t n = 7;
  std::uint8_t byte = 0;
  EXPECT_EQ(adapter.read(&other, &byte, 1, n), link::kInvalidHandle);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(adapter.close(h), link::kOk);
  EXPECT_EQ(adapter.close(h), link::kInvalidHandle);  // closing twice is harmless
}

// The interposer answers only for pseudo-terminals; everything else sees the C library.
TEST_F(SerialPty, InterposerLeavesOtherFilesAlone) {
  struct stat st {};
  const std::string sysEntry = "/sys/class/tty/" + path_.substr(5);  // "pts/N"
  ASSERT_EQ(::lstat(sysEntry.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  errno = 0;
  EXPECT_EQ(::lstat("/sys/class/tty/pts/999999", &st), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(::lstat("/", &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));

  const int slave = ::open(path_.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  int lines = 0;
  EXPECT_EQ(::ioctl(slave, TIOCMGET, &lines), 0);
  EXPECT_NE(lines & TIOCM_DSR, 0);
  ::close(slave);
  const int file = ::open("/proc/self/status", O_RDONLY);
  ASSERT_GE(file, 0);
  errno = 0;
  EXPECT_EQ(::ioctl(file, TIOCMGET, &lines), -1);
  EXPECT_EQ(errno, ENOTTY);
  ::close(file);
}

// Whether the terminal at path is in exclusive mode, asked through a descriptor of its own.
bool Exclusive(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  int exclusive = 0;
  const bool asked = ::ioctl(fd, TIOCGEXCL, &exclusive) == 0;
  ::close(fd);
  return asked && exclusive != 0;
}

std::string ThisProgramHolds(const std::string& path) {
  return "serial: " + path + " is in use by test_serial_pty, PID " + std::to_string(::getpid());
}

// One program per adapter: the second opener is refused and told who holds the port; once the
// first lets go, the port opens again and is no longer exclusive.
TEST_F(SerialPty, SecondOpenerIsRefusedAndNamesTheHolder) {
  SerialAdapter first(path_), second(path_);
  link::Handle h1 = nullptr, h2 = nullptr;
  ASSERT_EQ(first.open(0, h1), link::kOk) << first.lastError();
  EXPECT_TRUE(Exclusive(path_));
  EXPECT_EQ(second.open(0, h2), link::kDeviceNotOpened);
  EXPECT_EQ(h2, nullptr);
  EXPECT_EQ(second.lastError(), ThisProgramHolds(path_));

  // The link shows it as any failed open: "NoOpenDvc", the holder on the tool tip.
  std::string error;
  link::Link link(compose::makeAdapter("serial:" + path_, error), frontend_);
  link.Connect();
  EXPECT_FALSE(link.state().Connected);
  EXPECT_EQ(frontend_.statusText, "NoOpenDvc");
  EXPECT_EQ(frontend_.statusDetail, ThisProgramHolds(path_));
  EXPECT_EQ(link.lastAdapterError(), ThisProgramHolds(path_));

  // The refused opener left the first one's exclusive mode alone.
  EXPECT_TRUE(Exclusive(path_));
  ASSERT_EQ(first.close(h1), link::kOk);
  EXPECT_FALSE(Exclusive(path_));
  EXPECT_EQ(second.open(0, h2), link::kOk) << second.lastError();
  EXPECT_EQ(second.close(h2), link::kOk);
}

// Started without --link, with the simulator's pseudo-terminal standing in for ttyUSB0 of a
// made-up /sys/class/tty: the default takes it and the machines answer.
TEST_F(SerialPty, DefaultAdapterTakesTheKernelDriversPort) {
  FakeTtyTree tree;
  tree.addPort("ttyUSB0", "0403", "Velmoria USBTo422", path_);
  link::backends::AutoSources sources;
  sources.ttyClassDir = tree.classDir();
  sources.devDir = tree.devDir();
  link::Link link(std::make_unique<link::backends::AutoAdapter>(sources), frontend_);
  link.Connect();
  ASSERT_TRUE(link.state().Connected) << frontend_.statusDetail;
  EXPECT_EQ(link.adapter().backendName(), "auto: serial " + path_ + " (Velmoria USBTo422)");
  EXPECT_TRUE(Exclusive(path_));
  protocol::Bus bus(link, frontend_);
  link.DrainInput();
  ASSERT_TRUE(bus.SelectMachine(protocol::SelectFrame({0, 0, 0, 1, 0, 2})));
  ASSERT_TRUE(bus.ReadParameter(18));
  EXPECT_EQ(bus.ParameterValue, 3);
  bus.ReleaseMachine();
  link.CloseAdapter();
}

#ifdef QUBIX24CTL
// The tool refused a port this program holds: exit status 1 and the holder on standard error.
TEST_F(SerialPty, ToolRefusedAPortInUseSaysWhoHoldsIt) {
  SerialAdapter holder(path_);
  link::Handle h = nullptr;
  ASSERT_EQ(holder.open(0, h), link::kOk) << holder.lastError();
  const test::TempDir dir("qubix-pty");
  // Standard error alone reaches the pipe.
  const CommandRun run = RunCommand("{ '" QUBIX24CTL "' status --link serial:" + path_ +
                                    " --data-dir " + dir.path().string() + " 2>&1 >/dev/null; }");
  EXPECT_EQ(run.exitStatus, 1) << run.output;
  EXPECT_NE(run.output.find("cannot open the adapter: NoOpenDvc (" + ThisProgramHolds(path_) + ")"),
            std::string::npos)
      << run.output;
  holder.close(h);
}

// The self-test through the pseudo-terminal (the interposer is inherited): a pty has no chip, so
// the latency timer is unknown and the event character not available, and the round trip works
// (exit 0: "pass", or "slow" on a loaded machine, since this runs on the real clock).
TEST_F(SerialPty, SelfTestPasses) {
  const test::TempDir dir("qubix-pty");
  const CommandRun run = RunCommand("'" QUBIX24CTL "' selftest --link serial:" + path_ +
                                    " --data-dir " + dir.path().string());
  const std::string& out = run.output;
  EXPECT_EQ(run.exitStatus, 0) << out;
  for (const std::string line :
       {"backend      serial", "latency      unknown", "event char   not available",
        "machine      H000000010001 (found by scanning)"})
    EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
}

// A refused port's reason points where the fault lies: the missing interposer for a real
// pseudo-terminal, the path itself for one that does not exist (interposer or not).
TEST_F(SerialPty, RefusedPortNamesWhereTheFaultLies) {
  struct Case {
    const char* name;
    bool keepInterposer;
    bool existingPty;
    const char* expected;
    const char* absent;
  };
  const Case cases[] = {
      {"no interposer", false, true,
       "start the program with the pseudo-terminal interposer preloaded", "does not exist"},
      {"no such pty, interposer preloaded", true, false, "/dev/pts/999999 does not exist)",
       "interposer"},
      {"no such pty, no interposer", false, false, "/dev/pts/999999 does not exist)", "interposer"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const test::TempDir dir("qubix-pty");
    const std::string device = c.existingPty ? path_ : "/dev/pts/999999";
    const CommandRun run = RunCommand(std::string(c.keepInterposer ? "" : "env -u LD_PRELOAD ") +
                                      "'" + QUBIX24CTL "' status --link serial:" + device +
                                      " --data-dir " + dir.path().string());
    const std::string& out = run.output;
    EXPECT_NE(run.exitStatus, 0);
    EXPECT_NE(out.find("NoDevice (serial: no port " + device), std::string::npos) << out;
    EXPECT_NE(out.find(c.expected), std::string::npos) << out;
    EXPECT_EQ(out.find(c.absent), std::string::npos) << out;
  }
}
#endif

}  // namespace
}  // namespace qubix::test

int main(int argc, char** argv) { return qubix::test::RunWithPtyInterposer(argc, argv); }
