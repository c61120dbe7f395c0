// The simulated processors' frame parser: any bytes from the PC, at the line's byte rate with a
// pause wherever the input holds a 0xff, then whatever answers were queued are read.
#include "FuzzSupport.h"
#include "sim/SimBus.h"

using namespace qubix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto bus = sim::makeDemoBus();
  const double byteMs = bus->wire().byteMs();
  double now = 0.0;
  for (std::size_t i = 0; i < size; ++i) {
    // A pause long enough to end a half-received frame and, with several, an upload.
    now += data[i] == 0xff ? sim::kInterByteGapMs * 3 : byteMs;
    bus->hearByte(data[i], now);
  }
  while (!bus->pending().empty()) {
    const double last = bus->pending().back().atMs;
    if (bus->take(4096, last).empty()) fuzz::Broken("arrived bytes could not be taken");
  }
  return 0;
}
