#include "editor/CopyToAll.h"

#include "editor/BandStrip.h"
#include "filters/EqBands.h"

namespace qubix::editor {

CopyResult CopyToAll::Run(int current, const filters::BandCoefficientTable& bands,
                          const network::EqRecord& record) {
  protocol::Commands& cmd = host_.commands();
  protocol::Bus& bus = cmd.bus();
  link::Link& link = bus.link();
  CopyResult result;
  bus.ReleaseMachine();
  link.SetReadTimeout(kCopyToAllTimeoutMs);
  link.DrainInput();
  const int count = host_.machineCount();
  for (int i = 0; i < count; ++i) {
    if (i == current) continue;
    const std::string id = host_.machineId(i);
    host_.selectListItem(i);
    const bool selected = bus.SelectMachine(host_.selectFrame(i));
    bool written = selected;
    // After an unacknowledged band the machine is not written further: its equaliser is
    // reported as not copied either way, and a late reply could answer the next band.
    for (int k = 0; written && k < kBandCount; ++k) {
      const auto c = bands.Band(k);
      cmd.liveBand().set(filters::BandAddressAt(k), c.b0, c.b1, c.b2, c.a1, c.a2);
      result.liveBandFilled = true;
      written = cmd.SendBandCoefficients();
    }
    if (written) {
      // It runs these bands now; what its locations hold has not changed.
      result.filesWritten.also(files_.SaveMachineEq(id, record));
    } else {
      // Its file is left as it was: it must not claim bands the machine did not take.
      if (result.failure.empty())
        result.failure = selected ? link::texts::kCommError : protocol::kNetConnectionFail;
      result.missed += (result.missed.empty() ? "" : ", ") + id;
    }
    link.SetReadTimeout(kCopyToAllTimeoutMs);
    bus.ReleaseMachine();
  }
  return result;
}

}  // namespace qubix::editor
