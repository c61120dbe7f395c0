#include "compose/SimulatedList.h"

#include <system_error>

#include "network/MachineList.h"
#include "protocol/Hex.h"
#include "sim/SimBus.h"

namespace qubix::compose {

bool SeedSimulatedMachineList(const std::filesystem::path& target, std::string& error) {
  const std::filesystem::path file = target / network::kMachineListFile;
  std::error_code ec;
  const bool present = std::filesystem::exists(file, ec);
  if (ec) {
    error = "cannot look for " + file.string() + ": " + ec.message();
    return false;
  }
  if (present) return true;
  network::MachineList list;
  const auto bus = sim::makeDemoBus();
  for (const auto& processor : bus->processors()) {
    if (list.count == network::kListEntries) break;
    list.setEntry(list.count++, protocol::IdentifierText(processor->identifier));
  }
  return network::WriteMachineListFile(file, list, error);
}

}  // namespace qubix::compose
