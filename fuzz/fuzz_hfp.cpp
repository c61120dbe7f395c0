// Extra preset files: the reader, and an upload of every file of the right size (sealed here, so
// that the fuzzer spends its time on payloads rather than on checksums) to a simulated
// processor, which must end holding exactly the payload.
#include <algorithm>

#include "FuzzSupport.h"
#include "network/HardwarePreset.h"
#include "network/HfpFile.h"
#include "network/Station.h"
#include "sim/SimAdapter.h"
#include "support/RecordingFrontend.h"

using namespace qubix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::CleanScratchDir();
  const auto path = fuzz::WriteScratchFile("input.hfp", {data, size});
  auto read = network::ReadHfpFile(path.string());
  if (!read.ok()) {
    if (read.detail.empty()) fuzz::Broken("a refused file without a reason");
    return 0;
  }
  if (size != network::kHfpFileSize) fuzz::Broken("a file of the wrong size accepted");
  network::SealHfpImage(read.image);
  const auto sealed = fuzz::WriteScratchFile("sealed.hfp", read.image);

  auto* sim = new sim::SimAdapter(sim::makeDemoBus());
  test::RecordingFrontend frontend;
  network::Station station(std::unique_ptr<link::Adapter>(sim), frontend, fuzz::ScratchDir());
  const std::string id = "H000000010001";
  network::MachineList one;
  one.setEntry(0, id);
  one.count = 1;
  std::string error;
  if (!network::WriteMachineListFile(station.machineListPath(), one, error))
    fuzz::Broken("cannot write the machine list");
  station.Connect();
  if (station.network.RefreshMachines() != network::RefreshOutcome::Done)
    fuzz::Broken("refresh of the simulated bus failed");

  network::TickCounter ticks([sim] { return sim->nowMs(); });
  network::HardwarePresets presets(station.link, station.bus, station.commands, frontend,
                                   station.network, ticks);
  if (presets.UploadExtraPresetFile(0, sealed.string()) != network::UploadOutcome::Done)
    fuzz::Broken("upload of a sealed file failed");
  const auto& held = sim->bus().find(id)->extraImage;
  if (!std::equal(held.begin() + network::kHfpPayloadOffset,
                  held.begin() + network::kHfpPayloadOffset + network::kHfpPayloadSize,
                  read.image.begin() + network::kHfpPayloadOffset))
    fuzz::Broken("the processor holds another payload than the file's");
  return 0;
}
