#include "network/Station.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>

#include "files/RegularFile.h"
#include "network/NetworkTexts.h"

namespace qubix::network {

DecimalPointGuard::DecimalPointGuard() {
  if (const char* current = std::setlocale(LC_NUMERIC, nullptr)) saved_ = current;
  std::setlocale(LC_NUMERIC, "C");
  active_ = true;
}

DecimalPointGuard::~DecimalPointGuard() { restore(); }

void DecimalPointGuard::restore() {
  if (!active_) return;
  std::setlocale(LC_NUMERIC, saved_.empty() ? "C" : saved_.c_str());
  active_ = false;
}

PresetNamesLoad LoadHardwarePresetNames(const std::filesystem::path& file,
                                        HardwarePresetNames& names) {
  PresetNamesLoad load;
  const int fd = files::OpenRegularFile(file, load.error);
  if (fd < 0) {
    if (errno == ENOENT) load.error.clear();
    return load;
  }
  std::FILE* in = ::fdopen(fd, "rb");
  if (in == nullptr) {
    ::close(fd);
    load.error = "cannot read " + file.string();
    return load;
  }
  load.fileFound = true;
  int c = std::getc(in);
  while (load.linesRead < kHardwarePresetCount && c != EOF) {
    // At most what a name holds (and its line end); the rest of a longer line is skipped
    // unread into memory.
    std::string line;
    for (; c != EOF && c != '\n'; c = std::getc(in))
      if (line.size() <= kPresetNameMaxLength) line.push_back(static_cast<char>(c));
    if (c == '\n') c = std::getc(in);
    // Lists edited on other systems end their lines with CR LF.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    line.resize(std::min(line.size(), kPresetNameMaxLength));
    names[static_cast<std::size_t>(load.linesRead)] = line;
    ++load.linesRead;
  }
  std::fclose(in);
  return load;
}

Station::Station(std::unique_ptr<link::Adapter> adapter, link::Frontend& fe,
                 std::filesystem::path dataDir)
    : frontend(fe),
      link(std::move(adapter), fe),
      bus(link, fe),
      commands(bus),
      network(link, bus, commands, fe, stopFlag, dataDir),
      dataDir_(std::move(dataDir)) {}

void Station::LoadPresetNames() {
  HardwarePresetNames names = DefaultHardwarePresetNames();
  presetNamesLoad = LoadHardwarePresetNames(hardwarePresetPath(), names);
  if (!presetNamesLoad.error.empty()) {
    frontend.setStatusColour(link::kRed);
    frontend.setStatusText(texts::kFileErrorCaption);
    frontend.setStatusDetail(presetNamesLoad.error);
  }
  network.UseHardwarePresetNames(names);
}

void Station::Connect() {
  if (link.state().Connected) return;
  link.Connect();
}

void Station::ConnectionTick(const std::function<void()>& stopTimer) {
  if (!link.state().Connected) {
    link.Connect();
    frontend.processEvents();
    // The stop flag also ends scans; only a closing window ends the retries.
    if (closing_) {
      stopTimer();
      return;
    }
  }
  if (link.state().Connected) {
    stopTimer();
    network.RefreshMachines();
  }
}

void Station::setView(NetworkView* view) {
  network.setView(view);
  ticks.setView(view);
  // A write that finds the adapter gone restarts the view's connection timer.
  link.onConnectionLost = nullptr;
  if (view) link.onConnectionLost = [view] { view->restartConnectTimer(); };
  link.whileWaiting = nullptr;
  if (view && view->runsEventsWhileWaiting())
    link.whileWaiting = [this] { frontend.processEvents(); };
}

void Station::EndWorkForExit() {
  if (editor_) editor_->closeForExit();
  if (!bus.MachineSelected) return;
  commands.EndAccess();
  bus.ReleaseMachine();
  network.view().hideEditor();
}

void Station::Close() {
  stopFlag = true;
  closing_ = true;
  if (!link.state().Connected) return;
  // Closed by its title bar, the main window leaves the editor's machine as Exit does.
  if (editor_) editor_->closeForExit();
  if (bus.MachineSelected) bus.ReleaseMachine();
  // The adapter is closed even when the release could not be written: the program is ending
  // and must not leave the device open behind it.
  link.CloseAdapter();
}

}  // namespace qubix::network
