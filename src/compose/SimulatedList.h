// The machine list a data directory on the simulated bus starts with: the composition root
// knows both the simulated processors and the list file.
#pragma once

#include <filesystem>
#include <string>

namespace qubix::compose {

// Writes target's maclist.dat listing the simulated bus's processors, as a scan of the whole
// bus would, when target has no machine list yet; an existing list is kept as it is. False with
// the reason in error when the file cannot be written.
bool SeedSimulatedMachineList(const std::filesystem::path& target, std::string& error);

}  // namespace qubix::compose
