// Every file the program reads, put there as a named pipe: the read returns at once with an error
// that names the file, instead of waiting for a writer that never comes.
#include <gtest/gtest.h>

#include <string>

#include "editor/FilterImport.h"
#include "editor/UserPresetFile.h"
#include "network/EqFile.h"
#include "network/HfpFile.h"
#include "network/MachineList.h"
#include "network/Station.h"
#include "support/NamedPipe.h"
#include "support/TempDir.h"

namespace qubix::test {
namespace {

namespace fs = std::filesystem;

struct PipeCase {
  const char* name;
  const char* file;
  std::string (*read)(const fs::path& dir, const fs::path& file);
};

std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& line : lines) out += line + "\n";
  return out;
}

const PipeCase kPipeCases[] = {
    {"MachineList", "maclist.dat",
     [](const fs::path&, const fs::path& file) {
       network::MachineList list;
       std::string error;
       EXPECT_EQ(network::ReadMachineListFile(file, list, &error), network::ReadResult::Failed);
       return error;
     }},
    {"HardwarePresetNames", "hwpresetlist.dat",
     [](const fs::path&, const fs::path& file) {
       network::HardwarePresetNames names = network::DefaultHardwarePresetNames();
       const auto load = network::LoadHardwarePresetNames(file, names);
       EXPECT_EQ(names, network::DefaultHardwarePresetNames());
       return load.error;
     }},
    {"LastEditEq", "H000000010001.dat",
     [](const fs::path& dir, const fs::path&) {
       const auto lookup =
           network::LookupMachineEq(dir, "H000000010001", 2, network::EqWanted::Running);
       EXPECT_EQ(lookup.result, network::EqFileResult::Error);
       return Joined(lookup.problems);
     }},
    {"PresetEq", "H000000010001_2.dat",
     [](const fs::path& dir, const fs::path&) {
       const auto lookup =
           network::LookupMachineEq(dir, "H000000010001", 2, network::EqWanted::Location);
       EXPECT_EQ(lookup.result, network::EqFileResult::Error);
       return Joined(lookup.problems);
     }},
    {"UserPreset", "show.vup",
     [](const fs::path&, const fs::path& file) {
       return editor::ReadUserPresetFile(file.string()).detail;
     }},
    {"ExtraPreset", "extra.hfp",
     [](const fs::path&, const fs::path& file) {
       return network::ReadHfpFile(file.string()).detail;
     }},
    {"FilterText", "filters.txt",
     [](const fs::path&, const fs::path& file) { return editor::ReadFilterFile(file).error; }},
};

void PrintTo(const PipeCase& c, std::ostream* os) { *os << c.file; }

class NamedPipeAsFile : public ::testing::TestWithParam<PipeCase> {};

TEST_P(NamedPipeAsFile, IsRefusedAtOnceByName) {
  const PipeCase& c = GetParam();
  TempDir dir;
  const fs::path file = dir.path() / c.file;
  MakeNamedPipe(file);
  const auto error = ReadWithWatchdog(file, [&] { return c.read(dir.path(), file); });
  ASSERT_TRUE(error) << "the read waited on the pipe";
  EXPECT_NE(error->find(file.string() + " is a named pipe, not a file"), std::string::npos)
      << *error;
}

INSTANTIATE_TEST_SUITE_P(Files, NamedPipeAsFile, ::testing::ValuesIn(kPipeCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qubix::test
