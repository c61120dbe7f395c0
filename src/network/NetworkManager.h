// The machine list and what changes it: the refresh that reads every listed machine into its
// slot, the writer of the list file, the bus scan, the manual add and the remove. The window
// system is reached only through link::Frontend (boxes, dialogs, cursor, pending events) and a
// NetworkView (slots, list box, scan button): the GUI, the command-line tool and the tests share
// this one implementation.
#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "link/Frontend.h"
#include "link/Link.h"
#include "network/MachineList.h"
#include "network/Slots.h"
#include "protocol/Bus.h"
#include "protocol/Commands.h"

namespace qubix::network {

// The main window as the core reports to it: the slots, the list box, the scan controls and its
// two timers. Every call has a default that does nothing.
class NetworkView {
 public:
  virtual ~NetworkView() = default;
  virtual void hideAllSlots() {}
  // Shows slot k; false when one of its pictures cannot be loaded.
  virtual bool showSlot(int /*k*/, const SlotDisplay& /*display*/) { return true; }
  virtual void listBoxChanged(const std::vector<std::string>& /*items*/) {}
  virtual void scanCaptionChanged(std::string_view /*caption*/) {}
  virtual void probeFieldShown(bool /*shown*/) {}
  virtual void probeFrameChanged(std::string_view /*frame*/) {}
  // The list box follows the machine the editor selects; -1 clears its selection.
  virtual void listSelectionChanged(int /*index*/) {}
  // The adapter stopped answering: the connection timer starts again.
  virtual void restartConnectTimer() {}
  // A window keeps painting and answering while a long read waits (its reads are then made in
  // slices with the pending events run between them).
  virtual bool runsEventsWhileWaiting() const { return false; }
  // The 100 ms tick timer that counts the Extra preset upload's ticks.
  virtual void runTickTimer(bool /*run*/) {}
  // The editor and graph windows hide (their machine was released under them).
  virtual void hideEditor() {}
};

// A processor receiving an Extra preset takes every byte as payload until it has heard nothing
// for about 6 s; after an upload that ended early the bus is left silent this long before
// anything else is sent.
inline constexpr std::uint32_t kUploadReceiveTimeoutMs = 7000;

// The scan probes the addresses 1 … kLastScanAddress in turn.
inline constexpr int kLastScanAddress = 2048;

enum class ProbeResult { Found, AlreadyListed, NotFound, InvalidFormat, ListFull };

// How a refresh ended, for the command-line tool and the tests.
enum class RefreshOutcome {
  Done,
  NoListFile,
  FileError,
  ConnectionFail,  // the adapter did not answer
  SelectFailed,    // a machine did not acknowledge its select frame
  ReleaseFailed,
  ReadFailed,  // every machine was visited, but some reads failed (readFaults)
};

// A machine whose values could not be read in a refresh: the first parameter that failed.
struct ReadFault {
  std::string identifier;
  int parameter = 0;
  protocol::Bus::ReadFailure why = protocol::Bus::ReadFailure::NoReply;
  // Answered, but not with hexadecimal digits.
  bool notANumber() const { return why == protocol::Bus::ReadFailure::NotANumber; }
};
// "H000000010002 did not answer parameter 18", for the status line's tool tip and the tool.
std::string ReadFaultText(const ReadFault& fault);

class NetworkManager {
 public:
  NetworkManager(link::Link& link, protocol::Bus& bus, protocol::Commands& commands,
                 link::Frontend& frontend, bool& stopFlag, std::filesystem::path dataDir);

  void setView(NetworkView* view) { view_ = view ? view : &noView_; }
  NetworkView& view() { return *view_; }

  // The refresh: reads maclist.dat and every listed machine (at most eight), then shows the
  // slots. It processes no window events while it runs.
  RefreshOutcome RefreshMachines();
  // Stores the list (temporary file + rename) and refreshes; false on a file error, with the
  // "File Error" box and no refresh.
  bool WriteMachineList();
  // The " Refresh" button: ignored while a machine is selected.
  void RefreshUnlessBusy();

  // The scan button (" NetScan" / "StopScan" / "ReScan").
  void StartOrStopScan();
  void ScanBus();
  // The last scan ended because the adapter failed; it stored nothing.
  bool scanLostAdapter() const { return scanLostAdapter_; }
  // Probes one typed identifier (twelve characters after the "H").
  ProbeResult ProbeMachine(std::string_view digits);
  // The add and remove dialogs with everything around them; true when the list was stored.
  bool AddManually();
  bool RemoveMachines();

  static std::string_view ProbeMessage(ProbeResult result);

  // State shown by the main window.
  const MachineList& list() const { return list_; }
  const std::array<SlotState, kSlotCount>& slotStates() const { return slotStates_; }
  // The slots are filled by the refresh; the preset changer, the upload and the editor update
  // the one they work on.
  SlotState& slotAt(int k) { return slotStates_[static_cast<std::size_t>(k)]; }
  const SlotState& slotAt(int k) const { return slotStates_[static_cast<std::size_t>(k)]; }
  // Forgets what every slot held, as a freshly started program.
  void ClearSlots() { slotStates_ = {}; }
  const std::vector<std::string>& listBox() const { return listBox_; }
  const HardwarePresetNames& hardwarePresetNames() const { return hardwarePresetNames_; }
  const UserPresetNames& userPresetNames() const { return userPresetNames_; }

  bool scanning() const { return scanning_; }
  int scanAddress() const { return scanAddress_; }
  int foundCount() const { return foundCount_; }
  int maxSearch() const { return maxSearch_; }
  const std::string& scanCaption() const { return scanCaption_; }

  // "Max Srch": the scan stops after this many machines (read on every probe).
  void SetMaxSearch(int count) { maxSearch_ = count; }
  // The names loaded from the hardware preset file.
  void UseHardwarePresetNames(HardwarePresetNames names) {
    hardwarePresetNames_ = std::move(names);
  }
  // What entry 7 (the Extra preset) is called after an upload: its label, or a bad file.
  void MarkExtraPreset(std::string_view label) {
    hardwarePresetNames_[kExtraPreset] = std::string(label);
  }
  // Works on this list instead of the file's until the next refresh reads the file (the tool's
  // one machine, a bench set-up).
  void UseMachineList(const MachineList& machines) { list_ = machines; }

  // An upload ended early: a processor may still take whatever is sent as payload. Waits for
  // its receive time-out now if the adapter is there, else before the next refresh.
  void UploadCut();

  // The settings files the last refresh found damaged (and moved aside) or could not create,
  // one line each with the path and the reason.
  const std::vector<std::string>& fileProblems() const { return fileProblems_; }

  // The machines whose reads failed in the last refresh, in list order.
  const std::vector<ReadFault>& readFaults() const { return readFaults_; }

  // How many slots the last refresh showed.
  int shownSlots() const { return shownSlots_; }
  const std::filesystem::path& dataDir() const { return dataDir_; }
  std::filesystem::path listPath() const { return dataDir_ / kMachineListFile; }

 private:
  RefreshOutcome refreshBody();
  // " Connection Fail", link down, connection timer restarted.
  void adapterLost();
  void noteReadFault(const std::string& identifier, const SlotReadFailure& failure);
  // Waits out a cut upload's receiver when there is one and the adapter answers.
  void settleCutUpload();
  void endWork();  // what the add and remove dialogs do first with a selected machine
  void setCaption(std::string_view caption);
  void rebuildListFromListBox();

  link::Link& link_;
  protocol::Bus& bus_;
  protocol::Commands& commands_;
  link::Frontend& frontend_;
  bool& stopFlag_;
  std::filesystem::path dataDir_;
  NetworkView noView_;
  NetworkView* view_ = &noView_;
  int shownSlots_ = 0;
  bool scanLostAdapter_ = false;
  bool uploadCut_ = false;
  // The bus's fault count when a refresh last drained the line to silence.
  std::uint64_t faultsWhenQuiet_ = 0;

  MachineList list_;
  std::array<SlotState, kSlotCount> slotStates_;
  std::vector<std::string> listBox_;
  HardwarePresetNames hardwarePresetNames_ = DefaultHardwarePresetNames();
  UserPresetNames userPresetNames_ = DefaultUserPresetNames();
  bool scanning_ = false;
  int scanAddress_ = 0;
  int foundCount_ = 0;
  int maxSearch_ = 1;  // "Max Srch", 1 … 8
  std::string scanCaption_{" NetScan"};
  std::string probeFrame_{"H00000001000000"};
  std::vector<std::string> fileProblems_;
  std::vector<ReadFault> readFaults_;
};

}  // namespace qubix::network
