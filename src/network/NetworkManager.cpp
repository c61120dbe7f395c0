#include "network/NetworkManager.h"

#include <algorithm>
#include <cctype>

#include "network/EqFile.h"
#include "network/NetworkTexts.h"
#include "protocol/Hex.h"

namespace qubix::network {

namespace {
constexpr std::uint8_t kAck = 'O';
constexpr std::uint32_t kRefreshReadTimeoutMs = 500;
constexpr std::uint32_t kScanDrainTimeoutMs = 1000;
constexpr std::size_t kSelectFrameLength = 15;

bool sameIdentifier(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

NetworkManager::NetworkManager(link::Link& link, protocol::Bus& bus, protocol::Commands& commands,
                               link::Frontend& frontend, bool& stopFlag,
                               std::filesystem::path dataDir)
    : link_(link),
      bus_(bus),
      commands_(commands),
      frontend_(frontend),
      stopFlag_(stopFlag),
      dataDir_(std::move(dataDir)) {
  for (auto& slot : slotStates_) slot.extraPresetName = std::string(texts::kExtraPresetDefault);
  slotStates_[0].selectFrame = std::string(texts::kFirstSelectFrame);
}

std::string_view NetworkManager::ProbeMessage(ProbeResult result) {
  switch (result) {
    case ProbeResult::Found:
      return {};
    case ProbeResult::AlreadyListed:
      return texts::kAlreadyListed;
    case ProbeResult::NotFound:
      return texts::kNotFound;
    case ProbeResult::InvalidFormat:
      return texts::kInvalidFormat;
    case ProbeResult::ListFull:
      return texts::kListFull;
  }
  return texts::kNotFound;
}

void NetworkManager::UploadCut() {
  uploadCut_ = true;
  settleCutUpload();
}

void NetworkManager::settleCutUpload() {
  if (!uploadCut_ || !link_.QueryDeviceInfo()) return;
  link_.SetReadTimeout(kUploadReceiveTimeoutMs);
  link_.DrainInput();
  link_.SetReadTimeout(link::kStandardTimeoutMs);
  uploadCut_ = false;
}

void NetworkManager::adapterLost() {
  frontend_.messageBox(texts::kConnectionFail, "", link::Buttons::Ok);
  link_.state().Connected = false;
  // No machine is known to be selected across a lost link (reconnecting clears it as well).
  bus_.MachineSelected = false;
  view_->restartConnectTimer();
}

// ---------------------------------------------------------------------------------------------
// Refresh

RefreshOutcome NetworkManager::RefreshMachines() {
  frontend_.setBusyCursor(true);
  listBox_.clear();
  view_->listBoxChanged(listBox_);
  for (auto& slot : slotStates_) slot.identifier.clear();
  view_->hideAllSlots();
  shownSlots_ = 0;
  fileProblems_.clear();
  readFaults_.clear();
  // Whatever an earlier operation left unread must not be taken for these machines' answers.
  // While no exchange has failed since the line was last drained, nothing can be on its way:
  // what is waiting is discarded without a wait for more, which would hold up every start and
  // every Refresh by a whole read time-out. After a failure, a late reply may still be coming,
  // and the drain waits for the line to fall quiet.
  settleCutUpload();
  if (bus_.faultCount() == faultsWhenQuiet_) {
    link_.DiscardWaiting();
  } else {
    link_.SetReadTimeout(link::kStandardTimeoutMs);
    link_.DrainInput();
  }
  link_.SetReadTimeout(kRefreshReadTimeoutMs);
  const RefreshOutcome outcome = refreshBody();
  link_.SetReadTimeout(link::kStandardTimeoutMs);
  frontend_.setBusyCursor(false);
  link_.DrainInput();
  faultsWhenQuiet_ = bus_.faultCount();
  if (!fileProblems_.empty()) {
    // A settings file that was damaged or could not be made: said last, so that no later
    // exchange's "Status Ok" hides it; the files and reasons go to the tool tip.
    std::string detail;
    for (const auto& line : fileProblems_) detail += (detail.empty() ? "" : "\n") + line;
    frontend_.setStatusColour(link::kRed);
    frontend_.setStatusText(texts::kFileErrorCaption);
    frontend_.setStatusDetail(detail);
  }
  return outcome;
}

RefreshOutcome NetworkManager::refreshBody() {
  const auto path = listPath();
  std::string error;
  switch (ReadMachineListFile(path, list_, &error)) {
    case ReadResult::Missing:
      return RefreshOutcome::NoListFile;
    case ReadResult::Failed:
      frontend_.setStatusDetail(error);  // the box keeps its fixed text; the tool tip says why
      [[fallthrough]];
    case ReadResult::DamagedCount:
      // A damaged count is refused whole: nothing of the file is trusted, nothing is sent, and
      // the file stays as it is until the operator stores a new list.
      frontend_.messageBox(texts::kFileReadError, texts::kFileErrorCaption,
                           link::Buttons::OkCancel);
      return RefreshOutcome::FileError;
    case ReadResult::Ok:
      break;
  }
  commands_.liveBand().mirror = true;
  const int visit = std::min<int>(list_.count, kSlotCount);
  for (int i = 0; i < visit; ++i) {
    if (!link_.QueryDeviceInfo()) {
      adapterLost();
      return RefreshOutcome::ConnectionFail;
    }
    SlotState& slot = slotStates_[static_cast<std::size_t>(i)];
    const std::string entry = list_.entry(i);
    if (!bus_.MachineSelected) {
      bus_.SendPreamble();
      slot.selectFrame = SlotSelectFrame(entry);
      // The settings file is named after the machine's own identifier, so that machines whose
      // identifiers share their last four digits never share a file; a damaged entry names none.
      SeedOutcome seeded = SeedLastEditFromTemplate(dataDir_, dataDir_, entry);
      fileProblems_.insert(fileProblems_.end(), seeded.problems.begin(), seeded.problems.end());
      if (!bus_.SelectExchange(slot.selectFrame)) return RefreshOutcome::SelectFailed;
    }
    slot.identifier = entry;
    // Read into a copy: a machine whose reads fail keeps what its slot showed of it, never a
    // mix of new values and values taken from replies that may be out of step.
    SlotState read = slot;
    const std::uint64_t faultsBeforeReads = bus_.faultCount();
    std::optional<SlotReadFailure> failed = ReadSlotParameters(bus_, read.record);
    if (!failed && !bus_.ReadParameter(protocol::param::kExtraPresent))
      failed = SlotReadFailure{protocol::param::kExtraPresent, bus_.lastReadFailure};
    if (!failed && bus_.ParameterValue == 1) {
      const std::string name = bus_.ReadParameterText(protocol::param::kExtraName);
      if (name.size() == kExtraNameLength) {
        read.extraPresetName = name;
        read.extraPresetPicture = ExtraPresetPicturePath(dataDir_, name).string();
      } else {
        failed = SlotReadFailure{protocol::param::kExtraName, bus_.lastReadFailure};
      }
    } else if (!failed && bus_.ParameterValue == 0) {
      read.extraPresetName = std::string(texts::kIdlePreset);
    }
    // A reply of this machine sent twice or late, seen before a later query or now after the
    // last: every value may have been read out of step.
    if (!bus_.EnsureQuiet("the next machine") ||
        (!failed && bus_.faultCount() != faultsBeforeReads))
      if (!failed)
        failed = SlotReadFailure{protocol::param::kStatus, protocol::Bus::ReadFailure::OutOfStep};
    if (failed) {
      noteReadFault(entry, *failed);
      // Known values are kept only for the machine they were read from.
      slot.recordUnknown = slot.recordUnknown || slot.recordIdentifier != entry;
      // A reply that comes after its time-out would answer the next machine's frames.
      link_.DrainInput();
    } else {
      slot = std::move(read);
      slot.recordIdentifier = entry;
      slot.recordUnknown = false;
    }
    // The next machine's "e", "R" preamble releases this one.
    bus_.MachineSelected = false;
    listBox_.push_back(entry);
    view_->listBoxChanged(listBox_);
  }
  // Entries beyond the eight slots stay listed (so that add and remove keep them) but are
  // neither visited nor shown.
  for (int i = visit; i < list_.count; ++i) listBox_.push_back(list_.entry(i));
  view_->listBoxChanged(listBox_);
  if (!link_.WriteText("R")) return RefreshOutcome::ReleaseFailed;
  bus_.MachineSelected = false;
  for (int k = 0; k < visit; ++k) {
    const auto display = ComputeSlotDisplay(k, slotStates_[static_cast<std::size_t>(k)],
                                            hardwarePresetNames_, userPresetNames_, dataDir_);
    if (!view_->showSlot(k, display)) {
      frontend_.messageBox(texts::kFileReadError, texts::kFileErrorCaption,
                           link::Buttons::OkCancel);
      return RefreshOutcome::FileError;
    }
    shownSlots_ = k + 1;
  }
  if (!readFaults_.empty()) {
    frontend_.setStatusColour(link::kRed);
    frontend_.setStatusText(texts::kReadFail);
    frontend_.setStatusDetail(ReadFaultText(readFaults_.front()));
    return RefreshOutcome::ReadFailed;
  }
  return RefreshOutcome::Done;
}

std::string ReadFaultText(const ReadFault& fault) {
  using Why = protocol::Bus::ReadFailure;
  const std::string p = " parameter " + std::to_string(fault.parameter);
  switch (fault.why) {
    case Why::NotANumber:
      return fault.identifier + " answered" + p + " with characters that are not hexadecimal";
    case Why::BadTerminator:
      return fault.identifier + " answered" + p + " with a reply that did not end in \"O\"";
    case Why::BadChecksum:
      return fault.identifier + " answered" + p + " with a reply whose checksum does not add up";
    case Why::OutOfRange:
      return fault.identifier + " answered" + p + " with a value it cannot hold";
    case Why::OutOfStep:
      return fault.identifier +
             " answered out of step: bytes nobody asked for came with its replies";
    default:
      return fault.identifier + " did not answer" + p;
  }
}

void NetworkManager::noteReadFault(const std::string& identifier, const SlotReadFailure& failure) {
  const int parameter = failure.parameter;
  const bool notANumber = failure.why == protocol::Bus::ReadFailure::NotANumber;
  // The box for a reply that is not a number comes once a refresh, however many say so.
  if (notANumber && std::none_of(readFaults_.begin(), readFaults_.end(),
                                 [](const ReadFault& f) { return f.notANumber(); }))
    frontend_.messageBox(texts::kFileReadError, texts::kFileErrorCaption, link::Buttons::OkCancel);
  readFaults_.push_back(ReadFault{identifier, parameter, failure.why});
}

bool NetworkManager::WriteMachineList() {
  std::string error;
  if (!WriteMachineListFile(listPath(), list_, error)) {
    frontend_.setStatusDetail(error);
    frontend_.messageBox(texts::kFileWriteError, texts::kFileErrorCaption, link::Buttons::OkCancel);
    return false;
  }
  RefreshMachines();
  return true;
}

void NetworkManager::RefreshUnlessBusy() {
  if (bus_.MachineSelected) return;
  view_->hideAllSlots();
  RefreshMachines();
}

// ---------------------------------------------------------------------------------------------
// Scan

void NetworkManager::setCaption(std::string_view caption) {
  scanCaption_ = std::string(caption);
  view_->scanCaptionChanged(scanCaption_);
}

void NetworkManager::StartOrStopScan() {
  frontend_.setBusyCursor(true);
  if (bus_.MachineSelected) {
    frontend_.setBusyCursor(false);
    return;
  }
  if (scanning_) {
    // Pressed while the scan lets events run: the scan ends at its next check.
    scanning_ = false;
    setCaption(texts::kNetScan);
    stopFlag_ = true;
  } else {
    scanning_ = true;
    setCaption(texts::kStopScan);
    listBox_.clear();
    view_->listBoxChanged(listBox_);
    view_->hideAllSlots();
    view_->probeFieldShown(true);
    stopFlag_ = false;
    foundCount_ = 0;
    const MachineList before = list_;
    ScanBus();
    if (scanLostAdapter_) {
      // What the scan found before the adapter went is not the bus: the stored list stays.
      list_ = before;
      listBox_.clear();
      for (int i = 0; i < std::clamp<int>(list_.count, 0, kListEntries); ++i)
        listBox_.push_back(list_.entry(i));
      view_->listBoxChanged(listBox_);
      frontend_.setBusyCursor(false);
      return;
    }
  }
  WriteMachineList();
  frontend_.setBusyCursor(false);
}

// Each probe waits at most the 200 ms read time-out for the one-byte answer; a machine answers
// within a few byte times, so an empty bus costs 2048 time-outs and a found machine one reply.
void NetworkManager::ScanBus() {
  scanLostAdapter_ = false;
  link_.SetReadTimeout(kScanDrainTimeoutMs);
  link_.DrainInput();
  link_.SetReadTimeout(link::kStandardTimeoutMs);
  do {
    ++scanAddress_;
    const int hi = scanAddress_ / 256;
    const int lo = scanAddress_ % 256;
    probeFrame_ = std::string(texts::kScanPrefix) + protocol::ByteToHex(hi) +
                  protocol::ByteToHex(lo) + protocol::ByteToHex(-(1 + hi + lo));
    view_->probeFrameChanged(probeFrame_);
    std::uint32_t written = 0;
    const auto status = link_.RawWrite(reinterpret_cast<const std::uint8_t*>(probeFrame_.data()),
                                       kSelectFrameLength, written);
    std::uint8_t reply = 0;
    std::uint32_t got = 0;
    const bool probed = status == link::kOk && written == kSelectFrameLength;
    const link::Status readStatus = probed ? link_.RawRead(&reply, 1, got) : link::kOk;
    if (status != link::kOk || readStatus != link::kOk) {
      // The driver failed: the adapter is gone, and silence from here on would mean nothing.
      scanLostAdapter_ = true;
      adapterLost();
      break;
    }
    if (probed) {
      if (got == 1 && reply == kAck) {
        const std::string id = probeFrame_.substr(0, kIdentifierLength);
        listBox_.push_back(id);
        view_->listBoxChanged(listBox_);
        if (foundCount_ < kListEntries) {
          list_.setEntry(foundCount_, id);
          list_.count = static_cast<std::int16_t>(foundCount_ + 1);
        }
        ++foundCount_;
        if (!link_.WriteText("R")) {
          // Left as it is: the caption keeps "StopScan" and the next scan continues after
          // the last probed address.
          scanLostAdapter_ = !link_.state().Connected;
          frontend_.messageBox(texts::kNoWriteS, "", link::Buttons::Ok);
          return;
        }
        bus_.MachineSelected = false;
      }
    }
    // Read on every probe: the operator may change "Max Srch" while the scan runs.
    if (foundCount_ >= std::clamp(maxSearch_, 1, kSlotCount)) stopFlag_ = true;
    frontend_.processEvents();
  } while (scanAddress_ < kLastScanAddress && !stopFlag_);
  scanAddress_ = 0;
  setCaption(texts::kReScan);
  scanning_ = false;
  view_->probeFieldShown(false);
}

// ---------------------------------------------------------------------------------------------
// Manual add and remove

ProbeResult NetworkManager::ProbeMachine(std::string_view digits) {
  // Anything but twelve hex digits would put a frame on the bus that no machine can answer and
  // an identifier in the list that names no machine.
  if (digits.size() != kIdentifierLength - 1 ||
      !std::all_of(digits.begin(), digits.end(),
                   [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }))
    return ProbeResult::InvalidFormat;
  // Machines compare the frame byte for byte with their own lower-case form.
  std::string id = "H" + std::string(digits);
  std::transform(id.begin() + 1, id.end(), id.begin() + 1, [](char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  });
  for (const auto& item : listBox_)
    if (sameIdentifier(std::string_view(item).substr(0, kIdentifierLength), id))
      return ProbeResult::AlreadyListed;
  // The slots serve eight machines: a ninth would be stored but never shown.
  if (listBox_.size() >= static_cast<std::size_t>(kSlotCount)) return ProbeResult::ListFull;
  const std::string frame = SlotSelectFrame(id);
  std::uint32_t written = 0;
  const auto status = link_.RawWrite(reinterpret_cast<const std::uint8_t*>(frame.data()),
                                     kSelectFrameLength, written);
  if (status != link::kOk || written != kSelectFrameLength) return ProbeResult::NotFound;
  std::uint8_t reply = 0;
  std::uint32_t got = 0;
  if (link_.RawRead(&reply, 1, got) != link::kOk || got != 1) return ProbeResult::NotFound;
  listBox_.push_back(id);
  view_->listBoxChanged(listBox_);
  return ProbeResult::Found;
}

void NetworkManager::endWork() {
  if (!bus_.MachineSelected) return;
  commands_.EndAccess();
  bus_.ReleaseMachine();
  view_->hideEditor();
}

void NetworkManager::rebuildListFromListBox() {
  const int count = std::min<int>(static_cast<int>(listBox_.size()), kListEntries);
  for (int i = 0; i < count; ++i)
    list_.setEntry(
        i, std::string_view(listBox_[static_cast<std::size_t>(i)]).substr(0, kIdentifierLength));
  list_.count = static_cast<std::int16_t>(count);
}

bool NetworkManager::AddManually() {
  endWork();
  const bool accepted = frontend_.askUntilAccepted(
      texts::kAddTitle, texts::kAddLabel, texts::kAddDefaultDigits,
      [this](std::string_view typed) { return std::string(ProbeMessage(ProbeMachine(typed))); });
  if (!accepted) return false;
  rebuildListFromListBox();
  return WriteMachineList();
}

bool NetworkManager::RemoveMachines() {
  endWork();
  std::vector<std::string> items;
  for (const auto& item : listBox_) items.push_back(item.substr(0, kIdentifierLength));
  auto kept = frontend_.askItemsToKeep(texts::kRemoveTitle, texts::kRemoveLabel, items);
  if (!kept) return false;
  listBox_.clear();
  for (const auto& item : *kept) listBox_.push_back(item.substr(0, kIdentifierLength));
  view_->listBoxChanged(listBox_);
  rebuildListFromListBox();
  return WriteMachineList();
}

}  // namespace qubix::network
