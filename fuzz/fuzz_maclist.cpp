// The machine list file: decoded in memory and from disk, written back byte for byte, and then
// refreshed against the simulated bus, which turns every entry into a select frame and a slot.
#include <algorithm>

#include "FuzzSupport.h"
#include "network/MachineList.h"
#include "network/Station.h"
#include "sim/SimAdapter.h"
#include "support/RecordingFrontend.h"

using namespace qubix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  fuzz::CleanScratchDir();
  const auto path = fuzz::WriteScratchFile(network::kMachineListFile, bytes);
  network::MachineList list;
  const auto read = network::ReadMachineListFile(path, list);
  if (read != network::ReadResult::Ok) return 0;
  if (size >= network::kMachineListFileSize) {
    const auto image = network::EncodeMachineList(list);
    if (!std::equal(image.begin(), image.end(), data))
      fuzz::Broken("list not written back as read");
  }

  test::RecordingFrontend frontend;
  network::Station station(std::make_unique<sim::SimAdapter>(sim::makeDemoBus()), frontend,
                           fuzz::ScratchDir());
  station.Connect();
  station.network.RefreshMachines();
  if (station.network.shownSlots() > std::min<int>(list.count, network::kSlotCount))
    fuzz::Broken("more slots shown than listed");
  return 0;
}
