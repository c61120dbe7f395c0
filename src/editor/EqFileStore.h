// The per-machine equaliser files: the last-edit file (the bands the machine runs, as it
// acknowledged them) and one file per user preset location (what that location holds), in the
// data directory; network/EqFile.h says what each means and who writes it. The store reads and
// writes them; what is read goes to the editor's bands (an EqBandsHolder), what is written is the
// record the caller vouches for. A failure shows the "File Error" box; a damaged file found on
// reading is moved aside and named on the status line.
#pragma once

#include <optional>
#include <string_view>

#include "editor/EditorHost.h"
#include "network/EqFile.h"
#include "protocol/Outcome.h"

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

  // The writers: done, or why the file was not written (after the "File Error" box).
  protocol::Outcome SaveMachineEq(std::string_view id, const network::EqRecord& record);
  protocol::Outcome SaveMachineEqForLocation(std::string_view id, int location,
                                             const network::EqRecord& record);
  // The bands the machine runs, for opening the editor on it: the last-edit file, else the file
  // of the location it reports, else the defaults.
  // False when a file existed but could not be read: the bands were left as they were.
  bool LoadRunningEq(std::string_view id, int location);
  // What a location holds, after the machine loaded it: its file, else the defaults.
  bool LoadMachineEqForLocation(std::string_view id, int location);

 private:
  void fileError(std::string_view text);
  // The last-edit file, or the file of a location; an identifier that is not plain names none.
  protocol::Outcome writeEq(std::string_view id, std::optional<int> location,
                            const network::EqRecord& record);
  bool applyLookup(const network::EqLookup& lookup);

  EditorHost& host_;
  EqBandsHolder& bands_;
};

}  // namespace qubix::editor
