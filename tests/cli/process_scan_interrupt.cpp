// A scan stopped by Ctrl-C or SIGTERM, on the real tool and the simulated bus's real clock:
// the tool stops at the next address and the machine list holds what answered before.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "support/RunCommand.h"
#include "support/TempDir.h"

namespace qubix::test {
namespace {

// The tool with its stdout in a file and its stderr on a pipe, read line by line.
class ScanProcess {
 public:
  ScanProcess(const std::string& dataDir, const std::string& outFile) {
    int err[2];
    if (::pipe(err) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(err[1], STDERR_FILENO);
      ::close(err[0]);
      ::close(err[1]);
      if (!std::freopen(outFile.c_str(), "w", stdout)) ::_exit(126);
      ::execl(QUBIX24CTL, QUBIX24CTL, "--link", "sim:", "--data-dir", dataDir.c_str(), "scan",
              "--max", "8", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(err[1]);
    err_ = err[0];
  }
  ~ScanProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (err_ >= 0) ::close(err_);
  }
  // Reads stderr until a line holds text; false at the deadline or the end of the output.
  bool waitFor(const std::string& text, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd p{err_, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      char buffer[256];
      const ssize_t n = ::read(err_, buffer, sizeof buffer);
      if (n <= 0) return false;
      seen_.append(buffer, static_cast<std::size_t>(n));
      if (seen_.find(text) != std::string::npos) return true;
    }
    return false;
  }
  // The exit status, -1 when the tool did not exit by the deadline.
  int waitExit(std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        char buffer[256];
        ssize_t n;
        while ((n = ::read(err_, buffer, sizeof buffer)) > 0)
          seen_.append(buffer, static_cast<std::size_t>(n));
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
  }
  pid_t pid() const { return pid_; }
  const std::string& stderrText() const { return seen_; }

 private:
  pid_t pid_ = -1;
  int err_ = -1;
  std::string seen_;
};

class InterruptedScan : public ::testing::TestWithParam<int> {};

TEST_P(InterruptedScan, StopsAtTheNextAddressAndKeepsWhatAnswered) {
  TempDir dir;
  const std::string data = dir.file("bus"), out = dir.file("found.txt");
  ScanProcess scan(data, out);
  ASSERT_GT(scan.pid(), 0);
  // The first machine answers at address 1; the empty addresses after the last one cost the
  // read time-out each, minutes in all.
  ASSERT_TRUE(scan.waitFor("H000000010001 answered", std::chrono::seconds(20)))
      << scan.stderrText();
  ASSERT_EQ(::kill(scan.pid(), GetParam()), 0);
  EXPECT_EQ(scan.waitExit(std::chrono::seconds(20)), 128 + GetParam()) << scan.stderrText();
  EXPECT_NE(scan.stderrText().find("scan stopped after address"), std::string::npos)
      << scan.stderrText();
  // What the tool printed as found is what the list holds, and the first machine is in it.
  std::ifstream printed(out);
  const std::string found(std::istreambuf_iterator<char>(printed), {});
  EXPECT_EQ(found.rfind("H000000010001\n", 0), 0U) << found;
  const CommandRun list = RunCommand(std::string(QUBIX24CTL) + " --data-dir '" + data + "' list");
  EXPECT_EQ(list.exitStatus, 0);
  EXPECT_EQ(list.output, found);
}

INSTANTIATE_TEST_SUITE_P(Signals, InterruptedScan, ::testing::Values(SIGINT, SIGTERM),
                         [](const auto& info) {
                           return std::string(info.param == SIGINT ? "SIGINT" : "SIGTERM");
                         });

}  // namespace
}  // namespace qubix::test
