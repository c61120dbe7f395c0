// The Extra preset upload. Timing rules: every payload byte waits for its echo for at most 50
// ticks of the main window's 100 ms counter; the read-back of the whole payload gets one read
// with a 10 s time-out; the final "O" another 50 ticks. Window events run before every byte and
// while waiting, so the dialog stays responsive; nothing else uses the bus meanwhile because the
// editor's timers are stopped first.
#include <algorithm>
#include <vector>

#include "network/HardwarePreset.h"
#include "network/HfpFile.h"
#include "network/NetworkTexts.h"

namespace qubix::network {

namespace {
constexpr int kGuardTicks = 50;
constexpr std::uint32_t kReadBackTimeoutMs = 10000;
constexpr std::uint32_t kCommitSilenceMs = 5000;
// "J" with the 16-bit number 1861, half the payload length.
constexpr std::string_view kBeginExtraUpload = "J0745b4";
}  // namespace

UploadOutcome HardwarePresets::UploadExtraPreset(int slot) {
  const UploadOutcome outcome = upload(slot, std::nullopt);
  if (editor_) editor_->resumeAfterRelease();
  return outcome;
}

UploadOutcome HardwarePresets::UploadExtraPresetFile(int slot, const std::string& path) {
  const UploadOutcome outcome = upload(slot, path);
  if (editor_) editor_->resumeAfterRelease();
  return outcome;
}

std::optional<std::uint8_t> HardwarePresets::awaitByte() {
  for (;;) {
    std::uint8_t byte = 0;
    std::uint32_t got = 0;
    // A driver failure will not heal by asking again: the wait ends at once.
    if (link_.RawRead(&byte, 1, got) != link::kOk) return std::nullopt;
    if (got == 1) return byte;
    frontend_.processEvents();
    if (ticks_.ticks() >= kGuardTicks) return std::nullopt;
  }
}

// Endings that leave the image on the machine untouched: clean up and report.
UploadOutcome HardwarePresets::fail(std::string_view text, UploadOutcome outcome) {
  // Cut in the middle, the processor goes on taking bytes as payload until it has heard nothing
  // for a while: the operator learns how long the bus stays unusable (this program waits for it).
  if (receiving_) frontend_.setStatusDetail(texts::kUploadCutWait);
  if (!text.empty()) frontend_.messageBox(text, "", link::Buttons::Ok);
  ticks_.stop();
  if (receiving_) {
    // Sent now, "T02fe" and "R" would be taken as payload; wait until the processor gives up.
    receiving_ = false;
    network_.UploadCut();
  }
  link_.SetReadTimeout(link::kStandardTimeoutMs);
  // After a failed exchange a late echo or reply may still be on its way: the line is waited
  // quiet before "T02fe" (a corrupted echo in the fault campaign leaves the bus unusable
  // otherwise). The upload that went through needs no such wait.
  link_.DrainInput();
  endAccessAndRelease();
  view_->showProgress(false);
  return outcome;
}

// Endings after the machine took the payload: it now holds a bad Extra preset.
UploadOutcome HardwarePresets::badFile(std::string_view text, UploadOutcome outcome) {
  fail(text, outcome);
  network_.MarkExtraPreset(texts::kBadFile);
  view_->setExtraLabel(texts::kBadFile);
  return outcome;
}

UploadOutcome HardwarePresets::upload(int slot, const std::optional<std::string>& chosenPath) {
  if (slot < 0 || slot >= kSlotCount) return UploadOutcome::SelectFailed;
  SlotState& state = network_.slotAt(slot);
  view_->setProgress(0);
  view_->showProgress(true);

  settleAfterFaults();
  const Selection selection = selectSlotMachine(slot);
  if (!selection.ok) {
    view_->showProgress(false);
    return UploadOutcome::SelectFailed;
  }

  std::optional<std::string> path = chosenPath;
  if (!path) {
    path = frontend_.askOpenFile(texts::kPresetDialogCaption, texts::kHfpFilter,
                                 (network_.dataDir() / texts::kPresetsFolder).string());
  }
  if (!path) return fail("", UploadOutcome::Cancelled);

  // Once a file exists, whatever the outcome, the slot's picture is the one beside it.
  const HfpReadResult file = ReadHfpFile(*path);
  if (file.error != HfpFileError::Missing) state.extraPresetPicture = HfpPicturePath(*path);
  if (file.error == HfpFileError::Missing || file.error == HfpFileError::Unreadable) {
    frontend_.setStatusDetail(file.detail);
    frontend_.messageBox(texts::kFileReadError, texts::kFileErrorCaption, link::Buttons::OkCancel);
    return fail("", UploadOutcome::FileError);
  }
  if (file.error == HfpFileError::WrongSize || !HfpChecksumOk(file.image))
    return fail(texts::kCorruptedFile, UploadOutcome::CorruptedFile);
  const HfpImage& image = file.image;

  ticks_.reset();
  ticks_.start();
  if (editor_) editor_->stopEditorActivity();
  link_.DrainInput();
  link_.DrainInput();
  if (!link_.WriteText(kBeginExtraUpload))
    return fail(texts::kFatalError, UploadOutcome::WriteFailed);
  // Even an answer other than "O" may be a spoilt one: the processor may have taken the command.
  receiving_ = true;
  auto& st = link_.state();
  st.ReplyLength = 1;
  if (!link_.ReadReply() || st.bytesRead != 1 || st.ReplyBuffer[0] != 'O')
    return fail(texts::kUploadingFail, UploadOutcome::Refused);

  const std::size_t end = kHfpPayloadOffset + kHfpPayloadSize;
  for (std::size_t i = kHfpPayloadOffset; i < end; ++i) {
    view_->setProgress(static_cast<int>(i));
    frontend_.processEvents();
    ticks_.reset();
    const std::uint8_t wire = EncodeUploadByte(image[i]);
    st.SendBuffer[0] = wire;
    st.SendLength = 1;
    if (!link_.WriteFrame()) return fail(texts::kFatalError, UploadOutcome::WriteFailed);
    const std::optional<std::uint8_t> echo = awaitByte();
    if (!echo || *echo != wire) return fail(texts::kFatalEcho, UploadOutcome::EchoFailed);
  }

  receiving_ = false;
  ticks_.reset();
  ticks_.stop();
  link_.SetReadTimeout(kReadBackTimeoutMs);
  std::vector<std::uint8_t> readBack(kHfpPayloadSize);
  std::uint32_t got = 0;
  const link::Status readStatus =
      link_.RawRead(readBack.data(), static_cast<std::uint32_t>(readBack.size()), got);
  // Only a complete read-back can vouch for the upload; a short one is a failed one.
  if (readStatus != link::kOk || got != kHfpPayloadSize)
    return badFile(texts::kFatalReadBack, UploadOutcome::ReadBackFailed);
  for (std::size_t j = 0; j < kHfpPayloadSize; ++j) {
    if (readBack[j] != EncodeUploadByte(image[kHfpPayloadOffset + j]))
      return badFile(texts::kFatalReadBack, UploadOutcome::ReadBackFailed);
  }

  link_.SetReadTimeout(link::kStandardTimeoutMs);
  ticks_.start();
  const std::optional<std::uint8_t> final = awaitByte();
  if (!final || *final != 'O') return badFile(texts::kFatalNoAck, UploadOutcome::NoFinalAck);

  ticks_.stop();
  // "T02fe" is the processor's last word on the upload: refused, the Extra preset it now holds is
  // in doubt, and the upload has failed.
  const std::uint64_t beforeEnd = bus_.faultCount();
  endAccessAndRelease();
  const bool ended = bus_.faultCount() == beforeEnd;
  const std::string_view label = ended ? texts::kExtraPresetLabel : texts::kBadFile;
  network_.MarkExtraPreset(label);
  view_->setExtraLabel(label);
  link_.SetReadTimeout(kCommitSilenceMs);
  link_.DrainInput();
  view_->showProgress(false);
  const int shown = std::min<int>(network_.list().count, kSlotCount);
  bool anyExtra = false;
  for (int k = 0; k < shown; ++k)
    anyExtra = anyExtra || network_.slotAt(k).record.hardwarePreset == kExtraPreset;
  if (anyExtra) network_.RefreshUnlessBusy();
  link_.SetReadTimeout(link::kStandardTimeoutMs);
  if (ended) {
    faultsWhenQuiet_ = bus_.faultCount();  // after 5 s of silence
    return UploadOutcome::Done;
  }
  // Said last, so that no refresh after it hides it.
  frontend_.setStatusColour(link::kRed);
  frontend_.setStatusText(link::texts::kCommError);
  frontend_.setStatusDetail(bus_.faultSince(beforeEnd));
  return UploadOutcome::EndRefused;
}

}  // namespace qubix::network
