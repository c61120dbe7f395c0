#include "editor/EqFileStore.h"

#include <optional>
#include <string>

#include "frontend/Frontend.h"

namespace qubix::editor {

void EqFileStore::fileError(std::string_view text) {
  host_.frontend().messageBox(text, network::eqtexts::kFileErrorCaption, link::Buttons::OkCancel);
}

bool EqFileStore::writeEq(const std::filesystem::path& path) {
  std::string error;
  if (network::WriteEqFile(path, bands_.BuildEqRecord(), error)) return true;
  host_.frontend().setStatusDetail(error);  // the box keeps its fixed text; the tool tip says why
  fileError(network::eqtexts::kWriteError);
  return false;
}

bool EqFileStore::SaveMachineEq(std::string_view id) {
  if (!network::IsPlainIdentifier(id)) {
    fileError(network::eqtexts::kWriteError);
    return false;
  }
  return writeEq(network::LastEditEqPath(host_.dataDir(), id));
}

bool EqFileStore::SaveMachineEqForLocation(std::string_view id, int location) {
  if (!network::IsPlainIdentifier(id)) {
    fileError(network::eqtexts::kWriteError);
    return false;
  }
  return writeEq(network::PresetEqPath(host_.dataDir(), id, location));
}

bool EqFileStore::SaveMachineEqForCurrentPreset(std::string_view id) {
  for (int i = 0; i < host_.machineCount(); ++i) {
    if (host_.machineId(i) == id)
      return SaveMachineEqForLocation(id, host_.slotValues(i).userPreset);
  }
  // A machine no longer in the list keeps its bands in its last-edit file rather than nowhere.
  return SaveMachineEq(id);
}

void EqFileStore::applyLookup(const network::EqLookup& lookup) {
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
  } else if (lookup.source == network::EqSource::Defaults) {
    bands_.ResetEqDefaults();
  } else {
    bands_.ApplyEqRecord(lookup.record);
  }
}

void EqFileStore::LoadMachineEq(std::string_view id) {
  applyLookup(network::LookupMachineEq(host_.dataDir(), id, std::nullopt));
}

void EqFileStore::LoadMachineEqForLocation(std::string_view id, int location) {
  applyLookup(network::LookupMachineEq(host_.dataDir(), id, location));
}

}  // namespace qubix::editor
