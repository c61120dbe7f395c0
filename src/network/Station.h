// What the main window owns for the whole run, without the window: the one adapter link, the
// bus selection, the command set, the machine list manager, the stop flag, the name tables, the
// tick counter and the data directory. The GUI's Tmainform and the command-line tool both drive
// a Station; the window only adds timers and controls.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "link/Adapter.h"
#include "link/Frontend.h"
#include "link/Link.h"
#include "network/HardwarePreset.h"
#include "network/NetworkManager.h"
#include "network/Slots.h"
#include "protocol/Bus.h"
#include "protocol/Commands.h"

namespace qubix::network {

inline constexpr std::string_view kHardwarePresetFile = "hwpresetlist.dat";

// Sets the process-wide decimal separator to "." (the C numeric locale) and puts the one it
// found back on restore() or destruction, so numbers are written and read the same on every
// system while the program runs.
class DecimalPointGuard {
 public:
  DecimalPointGuard();
  ~DecimalPointGuard();
  DecimalPointGuard(const DecimalPointGuard&) = delete;
  DecimalPointGuard& operator=(const DecimalPointGuard&) = delete;
  void restore();
  bool active() const { return active_; }

 private:
  std::string saved_;
  bool active_ = false;
};

// How the hardware preset names were loaded.
struct PresetNamesLoad {
  bool fileFound = false;
  int linesRead = 0;  // of the eight wanted; the rest keep their default names
  std::string error;  // a file that is there but cannot be read (every name keeps its default)
};

// The longest hardware preset name kept; a longer line is cut (a caption shows far less).
inline constexpr std::size_t kPresetNameMaxLength = 64;

// Reads up to eight names, one a line; a missing file or missing lines leave the defaults, and
// so does a file that cannot be read (a named pipe, a folder), with the reason in error.
PresetNamesLoad LoadHardwarePresetNames(const std::filesystem::path& file,
                                        HardwarePresetNames& names);

class Station {
 public:
  Station(std::unique_ptr<link::Adapter> adapter, link::Frontend& frontend,
          std::filesystem::path dataDir);

  link::Frontend& frontend;
  link::Link link;
  protocol::Bus bus;
  protocol::Commands commands;
  bool stopFlag = false;
  NetworkManager network;

  // Counted by the main window's 100 ms tick timer; the Extra preset upload's clock.
  TickCounter ticks;
  PresetNamesLoad presetNamesLoad;

  const std::filesystem::path& dataDir() const { return dataDir_; }
  std::filesystem::path machineListPath() const { return dataDir_ / kMachineListFile; }
  std::filesystem::path hardwarePresetPath() const { return dataDir_ / kHardwarePresetFile; }

  // The show step: the hardware preset names (defaults for whatever the file lacks).
  void LoadPresetNames();

  // The connect operation behind the hidden "Connect" button; nothing when connected.
  void Connect();

  // One tick of the connection timer. stopTimer (the timer's own, for this call) is called
  // before the list refresh runs, so a
  // refresh that loses the adapter can start the timer again. An attempt that fails is retried
  // on the next tick unless the window is closing.
  void ConnectionTick(const std::function<void()>& stopTimer);

  // The tick timer.
  void Tick() { ticks.Tick(); }

  // The main window: the network manager's view and the tick timer's.
  void setView(NetworkView* view);

  // The editor, when the program has one: asked to close before the program ends.
  void setEditor(EditorAccess* editor) { editor_ = editor; }

  // "      Exit" before the window closes: the editor closes as " Close" does (its machine's
  // file takes what it runs), any other selected machine's work ends and it is released; the
  // view hides the editor and graph windows.
  void EndWorkForExit();

  bool closing() const { return closing_; }

  // The window is closing: sets the stop flag, releases a selected machine with one "R",
  // closes the adapter. The decimal separator is the window's to restore.
  void Close();

 private:
  std::filesystem::path dataDir_;
  bool closing_ = false;
  EditorAccess* editor_ = nullptr;
};

}  // namespace qubix::network
