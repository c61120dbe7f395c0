// The per-machine equaliser files: the last-edit file and one file per user preset location
// for each machine, in the data directory. The store reads and writes them; what a file holds
// comes from and goes to the editor's bands (an EqBandsHolder). A failure shows the "File
// Error" box; a damaged file found on reading is moved aside and named on the status line.
#pragma once

#include <string_view>

#include "editor/EditorHost.h"
#include "network/EqFile.h"

namespace qubix::editor {

// The ten bands and the "Flat" stash, as an equaliser file holds them.
class EqBandsHolder {
 public:
  virtual ~EqBandsHolder() = default;
  virtual network::EqRecord BuildEqRecord() const = 0;
  virtual void ApplyEqRecord(const network::EqRecord& record) = 0;
  virtual void ResetEqDefaults() = 0;
};

class EqFileStore {
 public:
  EqFileStore(EditorHost& host, EqBandsHolder& bands) : host_(host), bands_(bands) {}

  // The writers report whether the file was written (a failure has shown the "File Error" box).
  bool SaveMachineEq(std::string_view id);
  bool SaveMachineEqForLocation(std::string_view id, int location);
  // The file of the user preset the machine runs, or its last-edit file once it is no longer
  // listed.
  bool SaveMachineEqForCurrentPreset(std::string_view id);
  // The readers fall back as the lookup says (the last-edit file, then the defaults); a file
  // that cannot be read leaves the bands as they are.
  void LoadMachineEq(std::string_view id);
  void LoadMachineEqForLocation(std::string_view id, int location);

 private:
  void fileError(std::string_view text);
  bool writeEq(const std::filesystem::path& path);
  void applyLookup(const network::EqLookup& lookup);

  EditorHost& host_;
  EqBandsHolder& bands_;
};

}  // namespace qubix::editor
