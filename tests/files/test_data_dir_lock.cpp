#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "files/DataDirLock.h"
#include "files/DurableFile.h"
#include "support/TempDir.h"

namespace qubix::test {
using namespace qubix::files;

namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

using Scratch = test::TempDir;

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// A process id no process has: a child that has ended and been reaped.
pid_t EndedProcess() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  return child;
}

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
  // The holder names itself in the lock file while it holds the directory, and no longer.
  EXPECT_EQ(Read(dir.path() / kLockFileName), std::to_string(::getpid()) + "\n");
  first.reset();
  EXPECT_TRUE(fs::is_empty(dir.path()));
  EXPECT_TRUE(DataDirLock::acquire(dir.path(), milliseconds(0), error)) << error;
  EXPECT_FALSE(DataDirLock::acquire(dir.path() / "missing", milliseconds(0), error));
  EXPECT_NE(error.find("missing"), std::string::npos);
}

// Whatever a writer of a shared data directory puts under the lock file's name is never
// followed, written into or waited on, and the lock is taken all the same.
TEST(DataDirLock, APlantedLockFileIsNeverFollowedOrTruncated) {
  using Plant = void (*)(const fs::path& lockFile, const fs::path& victim);
  const Plant plants[] = {[](const fs::path& l, const fs::path& v) { fs::create_symlink(v, l); },
                          [](const fs::path& l, const fs::path& v) { fs::create_hard_link(v, l); },
                          [](const fs::path& l, const fs::path&) { ::mkfifo(l.c_str(), 0666); },
                          [](const fs::path& l, const fs::path&) { fs::create_directory(l); }};
  for (const Plant plant : plants) {
    Scratch dir, elsewhere;
    const fs::path victim = elsewhere.path() / "thesis.txt";
    std::ofstream(victim) << "three years";
    plant(dir.path() / kLockFileName, victim);
    std::string error;
    const auto lock = DataDirLock::acquire(dir.path(), milliseconds(0), error);
    EXPECT_TRUE(lock) << error;
    EXPECT_FALSE(DataDirLock::acquire(dir.path(), milliseconds(0), error));
    EXPECT_EQ(Read(victim), "three years");
  }
}

// A directory the user may only read is locked all the same (by a process without the right to
// write there, also when the tests run as root); a write there then fails, saying why.
TEST(DataDirLock, ReadOnlyDirectoryIsLocked) {
  Scratch dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
    std::string error;
    const auto lock = DataDirLock::acquire(dir.path(), milliseconds(0), error);
    const bool twice = DataDirLock::acquire(dir.path(), milliseconds(0), error).has_value();
    const bool written = ReplaceFile(dir.path() / "maclist.dat", {}, error);
    const bool refused = !written && error.find("Permission denied") != std::string::npos;
    ::_exit(lock && !twice && refused ? 0 : 3);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_EQ(status, 0) << "2: no other user to be, 3: not locked once, or written";
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

// Taking the lock removes the temporary files of writers killed before their rename, and only
// those: a running writer's (this process's, or another's) and other names stay.
TEST(DataDirLock, RemovesOnlyTheLeftoversOfEndedWriters) {
  Scratch dir;
  const std::string ended = std::to_string(EndedProcess()), self = std::to_string(::getpid());
  const std::pair<std::string, bool> names[] = {
      {".maclist.dat." + ended + "-0-0a1b2c3d.tmp", true},
      {".H000000010001_3.dat." + ended + "-41-ffffffff.tmp", true},
      {".maclist.dat." + self + "-2-0a1b2c3d.tmp", false},
      {".maclist.dat.1-0-0a1b2c3d.tmp", false},  // process 1 always runs
      {"maclist.dat." + ended + "-0-0a1b2c3d.tmp", false},
      {"." + ended + "-0-0a1b2c3d.tmp", false}};
  for (const auto& [name, removed] : names) std::ofstream(dir.path() / name) << "x";
  std::string error;
  ASSERT_TRUE(DataDirLock::acquire(dir.path(), milliseconds(0), error)) << error;
  for (const auto& [name, removed] : names)
    EXPECT_EQ(fs::exists(dir.path() / name), !removed) << name;
}

}  // namespace
}  // namespace qubix::test
