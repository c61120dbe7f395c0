#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <random>
#include <thread>

#include "files/DataDirLock.h"
#include "support/TempDir.h"

namespace qubix::test {
using namespace qubix::files;

namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

using Scratch = test::TempDir;

// A second process is refused with the holder's process id; once the holder ends, a waiting
// taker gets the lock.
TEST(DataDirLock, SecondProcessIsToldWhoHoldsTheDirectory) {
  Scratch dir;
  int held[2], release[2];
  ASSERT_EQ(::pipe(held), 0);
  ASSERT_EQ(::pipe(release), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(release[1]);  // so that the parent's close is the end of the pipe
    std::string error;
    auto lock = DataDirLock::acquire(dir.path(), milliseconds(0), error);
    const char ok = lock ? 'y' : 'n';
    [[maybe_unused]] auto w = ::write(held[1], &ok, 1);
    char c;
    [[maybe_unused]] auto r = ::read(release[0], &c, 1);  // until the parent closes its end
    ::_exit(0);
  }
  ::close(release[0]);
  // Whatever fails below, the child does not outlive the test.
  struct Reaper {
    pid_t pid;
    ~Reaper() {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  } reaper{child};
  char ok = 0;
  ASSERT_EQ(::read(held[0], &ok, 1), 1);
  ASSERT_EQ(ok, 'y');
  std::string error;
  EXPECT_FALSE(DataDirLock::acquire(dir.path(), milliseconds(0), error));
  EXPECT_NE(error.find("in use by process " + std::to_string(child)), std::string::npos) << error;
  ::close(release[1]);
  // The holder ends while this one waits.
  EXPECT_TRUE(DataDirLock::acquire(dir.path(), milliseconds(5000), error)) << error;
}

// Within one process too (two windows of tests, a tool run in-process) the lock is exclusive
// until its holder goes away.
TEST(DataDirLock, HeldUntilReleased) {
  Scratch dir;
  std::string error;
  auto first = DataDirLock::acquire(dir.path(), milliseconds(0), error);
  ASSERT_TRUE(first) << error;
  std::optional<DataDirLock> second;
  std::thread other([&] { second = DataDirLock::acquire(dir.path(), milliseconds(0), error); });
  other.join();
  EXPECT_FALSE(second);
  EXPECT_NE(error.find("process " + std::to_string(::getpid())), std::string::npos) << error;
  first.reset();
  EXPECT_TRUE(DataDirLock::acquire(dir.path(), milliseconds(0), error)) << error;
  EXPECT_FALSE(DataDirLock::acquire(dir.path() / "missing", milliseconds(0), error));
  EXPECT_NE(error.find("missing"), std::string::npos);
}

}  // namespace
}  // namespace qubix::test
