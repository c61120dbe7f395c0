#include <gtest/gtest.h>

#include "files/DurableFile.h"
#include "network/MachineList.h"
#include "support/NetworkRig.h"

namespace qubix::test {
namespace {

using network::MachineList;
using network::ReadResult;

TEST(MachineListFile, ImageLayout) {
  MachineList list;
  list.setEntry(0, "H000000010005");
  list.setEntry(1, "H000000030000");
  list.count = 2;
  const auto image = network::EncodeMachineList(list);
  const std::string bytes(image.begin(), image.end());
  EXPECT_EQ(bytes, ListImage({"H000000010005", "H000000030000"}, 2));
  EXPECT_EQ(bytes.substr(13, 13), "H000000030000");
  EXPECT_EQ(bytes[130], 2);
  EXPECT_EQ(bytes[131], 0);
}

TEST(MachineListFile, RoundTripKeepsEntriesBehindTheCount) {
  ScratchDir dir;
  const auto path = dir.path() / "maclist.dat";
  WriteFile(path, ListImage({"H000000010001", "H000000010002", "H000000010005"}, 1));
  MachineList list;
  ASSERT_EQ(network::ReadMachineListFile(path, list), ReadResult::Ok);
  EXPECT_EQ(list.count, 1);
  EXPECT_EQ(list.entry(2), "H000000010005");
  std::string error;
  ASSERT_TRUE(network::WriteMachineListFile(path, list, error)) << error;
  EXPECT_EQ(ReadFile(path), ListImage({"H000000010001", "H000000010002", "H000000010005"}, 1));
}

TEST(MachineListFile, ShortFileLeavesTheRestAsItWas) {
  ScratchDir dir;
  const auto path = dir.path() / "maclist.dat";
  WriteFile(path, "H0000000100AA");  // one entry, no count
  MachineList list;
  list.setEntry(1, "H000000010002");
  list.count = 2;
  ASSERT_EQ(network::ReadMachineListFile(path, list), ReadResult::Ok);
  EXPECT_EQ(list.entry(0), "H0000000100AA");
  EXPECT_EQ(list.entry(1), "H000000010002");
  EXPECT_EQ(list.count, 2);
}

TEST(MachineListFile, LongerFileReadsOnly132Bytes) {
  ScratchDir dir;
  const auto path = dir.path() / "maclist.dat";
  WriteFile(path, ListImage({"H000000010001"}, 1) + std::string(500, 'x'));
  MachineList list;
  ASSERT_EQ(network::ReadMachineListFile(path, list), ReadResult::Ok);
  EXPECT_EQ(list.count, 1);
}

TEST(MachineListFile, DamagedCountIsRefusedAndChangesNothing) {
  ScratchDir dir;
  const auto path = dir.path() / "maclist.dat";
  for (int count : {-1, 11, 0x4141, -32768}) {
    WriteFile(path, ListImage({"H000000010001"}, count));
    MachineList list;
    list.setEntry(0, "H000000010009");
    list.count = 1;
    EXPECT_EQ(network::ReadMachineListFile(path, list), ReadResult::DamagedCount) << count;
    EXPECT_EQ(list.entry(0), "H000000010009") << count;
    EXPECT_EQ(list.count, 1);
  }
  for (int count : {0, 10}) {
    WriteFile(path, ListImage({}, count));
    MachineList list;
    EXPECT_EQ(network::ReadMachineListFile(path, list), ReadResult::Ok) << count;
  }
}

TEST(MachineListFile, MissingFile) {
  ScratchDir dir;
  MachineList list;
  EXPECT_EQ(network::ReadMachineListFile(dir.path() / "maclist.dat", list), ReadResult::Missing);
}

// The list goes through the durable writer: a full disk keeps the old list whole, and the
// reason names the file.
TEST(MachineListFile, FullDiskLeavesOldFileIntact) {
  ScratchDir dir;
  const auto path = dir.path() / "maclist.dat";
  const std::string old = ListImage({"H000000010001", "H000000010002"}, 2);
  WriteFile(path, old);
  MachineList list;
  list.setEntry(0, "H000000010007");
  list.count = 1;
  std::string error;
  files::SimulateFullDiskAfter(60);
  EXPECT_FALSE(network::WriteMachineListFile(path, list, error));
  files::SimulateFullDiskAfter(std::nullopt);
  EXPECT_NE(error.find(path.string()), std::string::npos) << error;
  EXPECT_EQ(ReadFile(path), old);
  ASSERT_TRUE(network::WriteMachineListFile(path, list, error)) << error;
  EXPECT_EQ(ReadFile(path).size(), 132u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            1);
}

}  // namespace
}  // namespace qubix::test
