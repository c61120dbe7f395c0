// The hardware preset names file, as the main window loads it and the slots show it.
#include "FuzzSupport.h"
#include "network/Slots.h"
#include "network/Station.h"

using namespace qubix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::CleanScratchDir();
  const auto path = fuzz::WriteScratchFile(network::kHardwarePresetFile, {data, size});
  auto names = network::DefaultHardwarePresetNames();
  const auto load = network::LoadHardwarePresetNames(path, names);
  if (!load.fileFound || load.linesRead < 0 || load.linesRead > network::kHardwarePresetCount)
    fuzz::Broken("line count out of range");
  for (int k = 0; k < network::kHardwarePresetCount; ++k)
    (void)network::CaptionText(network::HardwarePresetName(names, k));
  return 0;
}
