#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

#include "files/DurableFile.h"
#include "support/TempDir.h"

namespace qubix::test {
using namespace qubix::files;

namespace {

namespace fs = std::filesystem;

// The folder's file names, sorted: a write must leave no temporary behind.
struct Scratch : test::TempDir {
  Scratch() : TempDir("qubix-files") {}
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(path()))
      out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }
};

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::uint8_t> Filled(std::size_t size, std::uint8_t byte) {
  return std::vector<std::uint8_t>(size, byte);
}

// Writers in several threads replace one file again and again while a reader watches it: every
// write succeeds, the reader only ever sees a whole image of one writer, and no temporary file
// is left. A shared temporary name fails here at once (one writer renames another's file away).
TEST(DurableFile, ConcurrentWritersNeverCollideAndReadersSeeWholeFiles) {
  Scratch dir;
  const fs::path path = dir.path() / "maclist.dat";
  constexpr int kWriters = 6, kWrites = 60;
  constexpr std::size_t kSize = 132;
  std::atomic<int> failures{0}, torn{0};
  std::atomic<bool> done{false};
  std::string error;
  ASSERT_TRUE(ReplaceFile(path, Filled(kSize, 'z'), error)) << error;
  std::thread reader([&] {
    while (!done) {
      // The name always stands for a whole file: the old one or the new one.
      const std::string bytes = Read(path);
      if (bytes.size() != kSize || std::count(bytes.begin(), bytes.end(), bytes[0]) != kSize)
        ++torn;
    }
  });
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      for (int i = 0; i < kWrites; ++i) {
        std::string error;
        if (!ReplaceFile(path, Filled(kSize, static_cast<std::uint8_t>('a' + w)), error)) {
          ++failures;
          ADD_FAILURE() << error;
        }
      }
    });
  }
  for (auto& t : writers) t.join();
  done = true;
  reader.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(dir.names(), std::vector<std::string>{"maclist.dat"});
}

// A disk that fills up at any point of the write leaves the old file as it was and no other
// file, and the reason names the file and the system's error.
TEST(DurableFile, FullDiskLeavesTheOldFileAndNothingElse) {
  Scratch dir;
  const fs::path path = dir.path() / "H000000010001.dat";
  std::ofstream(path, std::ios::binary) << std::string(180, 'o');
  for (std::uint64_t room : {0u, 1u, 179u}) {
    SimulateFullDiskAfter(room);
    std::string error;
    const WriteResult result = WriteWholeFile(path, Filled(180, 'n'), error);
    SimulateFullDiskAfter(std::nullopt);
    EXPECT_EQ(result, WriteResult::Failed) << room;
    EXPECT_NE(error.find(path.string()), std::string::npos) << error;
    EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
    EXPECT_EQ(Read(path), std::string(180, 'o')) << room;
    EXPECT_EQ(dir.names(), std::vector<std::string>{"H000000010001.dat"}) << room;
  }
}

// Keep and SetAside never replace an existing name, also where the file system has no hard
// links (link(2) refused) or no renameat2 either.
TEST(DurableFile, KeepNeverReplacesAndSetAsideLosesNothing) {
  for (const SimulatedFileSystem faults :
       {SimulatedFileSystem{}, SimulatedFileSystem{.noHardLinks = true},
        SimulatedFileSystem{.noHardLinks = true, .noRenameNoReplace = true}}) {
    SCOPED_TRACE(faults.noHardLinks + faults.noRenameNoReplace);
    SimulateFileSystem(faults);
    Scratch dir;
    const fs::path path = dir.path() / "H000000010002.dat";
    std::string error;
    EXPECT_EQ(WriteWholeFile(path, Filled(3, 'a'), error, Existing::Keep), WriteResult::Written);
    EXPECT_EQ(WriteWholeFile(path, Filled(3, 'b'), error, Existing::Keep),
              WriteResult::AlreadyExists);
    EXPECT_EQ(Read(path), "aaa");
    EXPECT_EQ(SetAside(path, error), fs::path(path.string() + ".bad"));
    ASSERT_TRUE(ReplaceFile(path, Filled(2, 'c'), error)) << error;
    EXPECT_EQ(SetAside(path, error), fs::path(path.string() + ".bad2"));
    SimulateFileSystem({});
    EXPECT_EQ(Read(path.string() + ".bad"), "aaa");
    EXPECT_EQ(Read(path.string() + ".bad2"), "cc");
    EXPECT_EQ(dir.names(),
              (std::vector<std::string>{"H000000010002.dat.bad", "H000000010002.dat.bad2"}));
  }
}

// When only the folder cannot be flushed after the rename, the write fails and the reason says
// that the new file may be in place, because it is.
TEST(DurableFile, FailedFolderFlushSaysTheNewFileMayBeInPlace) {
  for (const Existing existing : {Existing::Replace, Existing::Keep}) {
    Scratch dir;
    const fs::path path = dir.path() / "H000000010001.dat";
    if (existing == Existing::Replace) std::ofstream(path) << "old";
    SimulateFileSystem({.folderFlushFails = true});
    std::string error;
    EXPECT_EQ(WriteWholeFile(path, Filled(3, 'n'), error, existing), WriteResult::Failed);
    SimulateFileSystem({});
    EXPECT_NE(error.find("H000000010001.dat: Input/output error (the new file may be in place)"),
              std::string::npos)
        << error;
    EXPECT_EQ(Read(path), "nnn");
    EXPECT_EQ(dir.names(), std::vector<std::string>{"H000000010001.dat"});
  }
}

}  // namespace
}  // namespace qubix::test
