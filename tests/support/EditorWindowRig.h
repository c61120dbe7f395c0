// The editor window on the simulated bus, opened on the first of two listed machines, with the
// frames of the opening forgotten. Each test folder names its own scratch data directory.
#pragma once

#include <filesystem>
#include <string>

#include "support/SimRig.h"
#include "support/TempDir.h"
#include "support/TestEditorHost.h"
#include "ui/editor/EditorWindow.h"

namespace qubix::test {

struct EditorWindowRig {
  explicit EditorWindowRig(const std::string& scratch)
      : scratch_(scratch), host(rig, dir), form(host) {
    for (const char* id : {"H000000010001", "H000000010002"}) {
      host.ids.push_back(id);
      host.records.emplace_back();
    }
    rig.connect();
    form.State().OpenEditorForSlot(0);
    rig.clearRecords();
  }
  std::string pc() const { return rig.bus->pcBytes(); }

  TempDir scratch_;
  std::filesystem::path dir = scratch_.path();
  SimRig rig;
  TestEditorHost host;
  ui::TForm1 form;
};

}  // namespace qubix::test
