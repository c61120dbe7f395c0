// The simulated bus with the commands and the network manager on a temporary data directory.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "media/JpegDecoder.h"
#include "network/NetworkManager.h"
#include "protocol/Commands.h"
#include "support/SimRig.h"
#include "support/TempDir.h"

namespace qubix::test {

using ScratchDir = TempDir;

inline std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
inline void WriteFile(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The 132-byte image of a list.
inline std::string ListImage(const std::vector<std::string>& ids, int count) {
  std::string image(132, '\0');
  for (std::size_t i = 0; i < ids.size(); ++i) image.replace(i * 13, 13, ids[i].substr(0, 13));
  image[130] = static_cast<char>(count & 0xff);
  image[131] = static_cast<char>((count >> 8) & 0xff);
  return image;
}

// Records what the main window would show; loads the slot pictures like the window does.
struct RecordingView : network::NetworkView {
  std::vector<int> shown;
  std::vector<network::SlotDisplay> displays;
  std::vector<std::string> listBox;
  std::vector<std::string> captions;
  std::vector<std::string> probeFrames;
  bool probeShown = false;
  int hides = 0;
  int connectTimerRestarts = 0;
  int editorHides = 0;
  bool loadPictures = false;

  void hideAllSlots() override {
    ++hides;
    shown.clear();
  }
  bool showSlot(int k, const network::SlotDisplay& d) override {
    if (loadPictures && d.picture) {
      std::string error;
      if (!media::DecodeJpegFile(*d.picture, error)) return false;
    }
    shown.push_back(k);
    displays.push_back(d);
    return true;
  }
  void listBoxChanged(const std::vector<std::string>& items) override { listBox = items; }
  void scanCaptionChanged(std::string_view c) override { captions.emplace_back(c); }
  void probeFieldShown(bool s) override { probeShown = s; }
  void probeFrameChanged(std::string_view f) override { probeFrames.emplace_back(f); }
  void restartConnectTimer() override { ++connectTimerRestarts; }
  void hideEditor() override { ++editorHides; }
};

struct NetworkRig : SimRig {
  explicit NetworkRig(std::shared_ptr<sim::SimBus> b = sim::makeDemoBus())
      : SimRig(std::move(b)),
        commands(protocolBus),
        manager(link, protocolBus, commands, frontend, stopFlag, dir.path()) {
    manager.setView(&view);
  }

  // Everything the PC wrote, in order.
  std::string pcBytes() const { return bus->pcBytes(); }
  void writeList(const std::vector<std::string>& ids, int count) {
    WriteFile(dir.path() / "maclist.dat", ListImage(ids, count));
  }
  std::string listFile() const { return ReadFile(dir.path() / "maclist.dat"); }

  ScratchDir dir;
  bool stopFlag = false;
  protocol::Commands commands;
  network::NetworkManager manager;
  RecordingView view;
};

inline std::string Join(const std::vector<std::string>& parts) {
  std::string out;
  for (const auto& p : parts) out += p;
  return out;
}

// The exchange with one machine during a refresh: preamble, select, eight reads and the Extra
// preset query (and its name when the machine has one).
inline std::vector<std::string> RefreshVisit(const std::string& selectFrame, bool withName) {
  std::vector<std::string> v{"e",     "R",     selectFrame, "I12ee", "I11ef", "I0df3",
                             "I0ef2", "I0bf5", "I0cf4",     "I0ff1", "I10f0", "I18e8"};
  if (withName) v.push_back("I19e7");
  return v;
}

}  // namespace qubix::test

namespace qubix::test {

inline std::shared_ptr<sim::SimBus> BusWith(int processors) {
  auto bus = std::make_shared<sim::SimBus>();
  for (int k = 1; k <= processors; ++k)
    bus->addProcessor({0, 0, 0, 1, 0, static_cast<std::uint8_t>(k)});
  return bus;
}

}  // namespace qubix::test
