#include "editor/EqFileStore.h"

#include <optional>
#include <string>

#include "link/Frontend.h"

namespace qubix::editor {

void EqFileStore::fileError(std::string_view text) {
  host_.frontend().messageBox(text, network::eqtexts::kFileErrorCaption, link::Buttons::OkCancel);
}

protocol::Outcome EqFileStore::writeEq(std::string_view id, std::optional<int> location,
                                       const network::EqRecord& record) {
  if (!network::IsPlainIdentifier(id)) {
    fileError(network::eqtexts::kWriteError);
    return protocol::Outcome::Failed("\"" + std::string(id) + "\" cannot name a file");
  }
  const auto path = location ? network::PresetEqPath(host_.dataDir(), id, *location)
                             : network::LastEditEqPath(host_.dataDir(), id);
  std::string error;
  if (network::WriteEqFile(path, record, error)) return protocol::Outcome::Done();
  host_.frontend().setStatusDetail(error);  // the box keeps its fixed text; the tool tip says why
  fileError(network::eqtexts::kWriteError);
  return protocol::Outcome::Failed(error);
}

protocol::Outcome EqFileStore::SaveMachineEq(std::string_view id, const network::EqRecord& record) {
  return writeEq(id, std::nullopt, record);
}

protocol::Outcome EqFileStore::SaveMachineEqForLocation(std::string_view id, int location,
                                                        const network::EqRecord& record) {
  return writeEq(id, location, record);
}

bool EqFileStore::applyLookup(const network::EqLookup& lookup) {
  if (!lookup.problems.empty()) {
    // A damaged file was moved aside (or could not be): the status line says so.
    std::string detail;
    for (const auto& line : lookup.problems) detail += (detail.empty() ? "" : "\n") + line;
    link::Frontend& fe = host_.frontend();
    fe.setStatusColour(link::kRed);
    fe.setStatusText(network::eqtexts::kFileErrorCaption);
    fe.setStatusDetail(detail);
  }
  if (lookup.result == network::EqFileResult::Error) {
    fileError(network::eqtexts::kReadError);  // the strips keep what they show
    return false;
  }
  if (lookup.source == network::EqSource::Defaults) {
    bands_.ResetEqDefaults();
  } else {
    bands_.ApplyEqRecord(lookup.record);
  }
  return true;
}

bool EqFileStore::LoadRunningEq(std::string_view id, int location) {
  return applyLookup(
      network::LookupMachineEq(host_.dataDir(), id, location, network::EqWanted::Running));
}

bool EqFileStore::LoadMachineEqForLocation(std::string_view id, int location) {
  return applyLookup(
      network::LookupMachineEq(host_.dataDir(), id, location, network::EqWanted::Location));
}

}  // namespace qubix::editor
