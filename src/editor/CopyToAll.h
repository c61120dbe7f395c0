// " Copy to All": every machine of the list but the one being edited is selected in turn, takes
// the ten bands of the editor's table (each with its mirror copy) and is released; a machine
// that took them all has its last-edit file say so. The machine being edited is not written:
// EditorState stores its bands before the walk and takes it up again after it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "editor/EditorHost.h"
#include "editor/EqFileStore.h"
#include "filters/Response.h"
#include "network/EqFile.h"
#include "protocol/Outcome.h"

namespace qubix::editor {

inline constexpr std::uint32_t kCopyToAllTimeoutMs = 500;

struct CopyResult {
  protocol::Outcome filesWritten;  // done, or why a copied machine's file was not written
  std::string missed;              // the machines that did not take every band, comma-separated
  // What the status line said when the first of them failed: the later good exchanges
  // overwrite it with "Status Ok".
  std::string_view failure;
  bool liveBandFilled = false;  // a band went into the live band record
};

class CopyToAll {
 public:
  CopyToAll(EditorHost& host, EqFileStore& files) : host_(host), files_(files) {}

  // The walk over every machine but slot `current`, with the machine held released first;
  // `record` is what each machine's file takes once it took every band.
  CopyResult Run(int current, const filters::BandCoefficientTable& bands,
                 const network::EqRecord& record);

 private:
  EditorHost& host_;
  EqFileStore& files_;
};

}  // namespace qubix::editor
