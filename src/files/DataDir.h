// Where a program keeps its data (maclist.dat, hwpresetlist.dat, equaliser files, pictures) and
// how a new folder is filled: the rules the window and the tool share, so that both find the
// same machine list for the same options.
//   no option      the current directory, used as it is;
//   --data-dir DIR DIR (relative to the current directory), made and seeded;
//   --user-data    $XDG_DATA_HOME/qubix24 (~/.local/share/qubix24), made and seeded; on the
//                  simulated bus the folder beside it with "-sim", so that trying the program
//                  never touches the real machine list.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace qubix::files {

// A link address of the simulated bus ("sim:", "sim:virtual").
bool IsSimulatedLink(std::string_view link);

// $XDG_DATA_HOME/qubix24 when that is an absolute path, else $HOME/.local/share/qubix24.
std::filesystem::path UserDataDir();
// userDataDir + "-sim".
std::filesystem::path SimulatorUserDataDir(const std::filesystem::path& userDataDir);

// The folder the options choose, and whether it is made and seeded from the shipped data
// (SeedDataDir) first; on the simulated bus a seeded folder also starts with the simulated
// processors in its machine list.
struct DataDirChoice {
  std::filesystem::path path;
  bool seed = false;
  bool seedSimulatedList = false;
};
// dataDirOption: --data-dir's value, empty when not given; userData: --user-data.
DataDirChoice ChooseDataDir(std::string_view link, const std::string& dataDirOption, bool userData,
                            const std::filesystem::path& currentDir,
                            const std::filesystem::path& userDataDir);

// Makes target if needed and copies into it every file and folder of shared that it lacks;
// nothing in target is ever overwritten. False with the reason in error when target cannot be
// made or a copy fails.
bool SeedDataDir(const std::filesystem::path& shared, const std::filesystem::path& target,
                 std::string& error);

// The installed shared data (share/qubix24 beside the program's bin/), or, for a program run
// from its build folder, the source tree's data/. Empty when neither exists.
std::filesystem::path SharedDataDir(const std::filesystem::path& programDir);

}  // namespace qubix::files
