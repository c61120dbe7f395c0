// The replies of the bus: an adapter whose reads hand out the input drives a refresh of two
// listed machines and then a hardware preset change. The input is a list of replies, each a
// length byte and that many bytes; every write makes the next reply readable, so that input the
// program drains before a frame is not the reply to that frame. A short read costs its time-out
// on a virtual clock, so nothing waits for real.
#include <algorithm>
#include <cstring>

#include "FuzzSupport.h"
#include "network/HardwarePreset.h"
#include "network/NetworkTexts.h"
#include "network/Station.h"
#include "support/RecordingFrontend.h"

using namespace qubix;

namespace {

class ScriptedAdapter : public link::Adapter {
 public:
  explicit ScriptedAdapter(std::span<const std::uint8_t> script) : script_(script) {}
  double nowMs() const override { return nowMs_; }

  link::Status listDevices(std::span<link::Description> slots, std::uint32_t& count) override {
    count = 1;
    if (!slots.empty()) std::strncpy(slots[0].data(), "Velmoria USBTo422", slots[0].size() - 1);
    return link::kOk;
  }
  link::Status open(int, link::Handle& handle) override {
    handle = this;
    return link::kOk;
  }
  link::Status close(link::Handle) override { return link::kOk; }
  link::Status read(link::Handle, std::uint8_t* buffer, std::uint32_t count,
                    std::uint32_t& got) override {
    got = static_cast<std::uint32_t>(std::min<std::size_t>(count, readable_.size()));
    std::copy_n(readable_.begin(), got, buffer);
    readable_.erase(0, got);
    nowMs_ += got < count ? readTimeoutMs_ : 0.1 * got;
    return link::kOk;
  }
  link::Status write(link::Handle, const std::uint8_t*, std::uint32_t count,
                     std::uint32_t& written) override {
    written = count;
    nowMs_ += 0.1 * count;
    if (next_ < script_.size()) {
      const std::size_t length = std::min<std::size_t>(script_[next_], script_.size() - next_ - 1);
      readable_.append(reinterpret_cast<const char*>(&script_[next_ + 1]), length);
      next_ += 1 + length;
    }
    return link::kOk;
  }
  link::Status resetDevice(link::Handle) override { return link::kOk; }
  link::Status setBaudRate(link::Handle, std::uint32_t) override { return link::kOk; }
  link::Status setDataCharacteristics(link::Handle, std::uint8_t, std::uint8_t,
                                      std::uint8_t) override {
    return link::kOk;
  }
  link::Status setFlowControl(link::Handle, std::uint16_t, std::uint8_t, std::uint8_t) override {
    return link::kOk;
  }
  link::Status setTimeouts(link::Handle, std::uint32_t readMs, std::uint32_t) override {
    readTimeoutMs_ = readMs;
    return link::kOk;
  }
  link::Status getDeviceInfo(link::Handle, link::DeviceInfo& info) override {
    info = {};
    return link::kOk;
  }
  // The script's bytes are the replies each read takes; between exchanges the line is quiet.
  link::Status queueStatus(link::Handle, std::uint32_t& waiting) override {
    waiting = 0;
    return link::kOk;
  }
  std::string backendName() const override { return "scripted"; }

 private:
  std::span<const std::uint8_t> script_;
  std::size_t next_ = 0;
  std::string readable_;
  double nowMs_ = 0.0;
  std::uint32_t readTimeoutMs_ = link::kStandardTimeoutMs;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first byte picks the preset to change to; the rest are the replies.
  if (size == 0) return 0;
  const int preset = data[0] % 8;
  fuzz::CleanScratchDir();
  auto* adapter = new ScriptedAdapter({data + 1, size - 1});
  test::RecordingFrontend frontend;
  network::Station station(std::unique_ptr<link::Adapter>(adapter), frontend, fuzz::ScratchDir());
  network::MachineList list;
  list.setEntry(0, "H000000010001");
  list.setEntry(1, "H000000010005");
  list.count = 2;
  std::string error;
  if (!network::WriteMachineListFile(station.machineListPath(), list, error))
    fuzz::Broken("cannot write the machine list");
  station.Connect();
  const auto refreshed = station.network.RefreshMachines();

  const auto presetsFolder = fuzz::ScratchDir() / network::texts::kPresetsFolder;
  for (const auto& slot : station.network.slotStates()) {
    const std::filesystem::path picture = slot.extraPresetPicture;
    if (!picture.empty() && picture.parent_path() != presetsFolder)
      fuzz::Broken("a name from the bus reaches outside the presets folder");
  }
  if (refreshed != network::RefreshOutcome::Done) return 0;

  network::TickCounter ticks([adapter] { return adapter->nowMs(); });
  network::HardwarePresets presets(station.link, station.bus, station.commands, frontend,
                                   station.network, ticks);
  presets.ApplyHardwarePreset(0, preset);
  return 0;
}
