// The per-machine equaliser files: any bytes decode to finite numbers, a decoded record survives
// writing and reading again, and the look-up that the editor makes reads them.
#include <cmath>
#include <cstring>

#include "FuzzSupport.h"
#include "network/EqFile.h"

using namespace qubix;

namespace {
bool AllFinite(const network::EqRecord& r) {
  for (int i = 0; i < network::kEqBandCount; ++i)
    if (!std::isfinite(r.gainDb[i]) || !std::isfinite(r.savedGainDb[i]) || !std::isfinite(r.q[i]))
      return false;
  return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto record = network::DecodeEqRecord({data, size});
  if (!AllFinite(record)) fuzz::Broken("a decoded number is not finite");
  const auto image = network::EncodeEqRecord(record);
  const auto again = network::EncodeEqRecord(network::DecodeEqRecord(image));
  if (std::memcmp(image.data(), again.data(), image.size()) != 0)
    fuzz::Broken("a record changes when written and read again");

  // From a clean folder: a bad file the look-up set aside before must not be there for the next
  // input (they pile up, and each pays for the names taken).
  const auto& dir = fuzz::CleanScratchDir();
  const std::string id = "H000000010001";
  fuzz::WriteScratchFile(network::PresetEqPath({}, id, 3).string(), {data, size});
  const auto lookup = network::LookupMachineEq(dir, id, 3);
  if (lookup.result == network::EqFileResult::Ok && !AllFinite(lookup.record))
    fuzz::Broken("a looked-up number is not finite");
  return 0;
}
