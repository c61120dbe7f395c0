// One simulated processor: what it remembers and how it answers each command addressed to it.
// Public fields on purpose: tests set up and inspect the machine side directly.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "protocol/Hex.h"

namespace qubix::sim {

inline constexpr int kUserLocations = 8;
inline constexpr int kRecordsPerLocation = 11;
inline constexpr std::size_t kRecordSize = 15;
inline constexpr std::size_t kExtraImageSize = 3732;
inline constexpr std::size_t kExtraPayloadOffset = 4;
inline constexpr std::size_t kExtraPayloadSize = 3722;
inline constexpr std::size_t kExtraNameSize = 18;
// The band layout again, on purpose not taken from filters/EqBands.h: the simulator stands for
// the processor, so a slip in the program's layout must show as a mismatch on the wire instead
// of being copied into the stand-in.
inline constexpr int kFirstBandAddress = 799;
inline constexpr int kMirrorOffset = 116;
inline constexpr int kBands = 10;

using Record = std::array<std::uint8_t, kRecordSize>;

// The audio settings a "u" recall, a "T0000" save and record 10 of a location carry.
struct Settings {
  std::uint8_t gainA = 180, gainB = 180;      // 180 = 0 dB
  std::uint8_t atten12 = 255, atten34 = 255;  // 255 = 0 dB
  std::uint16_t delay12 = 0, delay34 = 0;
  std::uint8_t ampLevel = 255;
  friend bool operator==(const Settings&, const Settings&) = default;
};

Record SettingsRecord(const Settings& s);
Settings SettingsFromRecord(const Record& r);
// b0 = 1 as the five words b2, b0, b1, a2, a1.
Record FlatBandRecord();

struct UserLocation {
  std::array<Record, kRecordsPerLocation> records{};
};

// Faults of one processor's answers.
struct ProcessorFaults {
  bool silent = false;         // answers nothing at all
  double lateMs = 0.0;         // every answer starts this much later
  bool wrongChecksum = false;  // query replies carry a checksum one off
  bool nonHexValue = false;    // query replies carry non-hex value characters
  bool garbage = false;        // every answer is replaced by the same number of junk bytes
  std::string queryReply;      // when not empty: the bytes every "I" query is answered with
  // Extra preset uploads a processor turns down or spoils.
  bool refusesUpload = false;     // answers "J" with "N"
  bool corruptsReadBack = false;  // one byte of the read-back differs from what it received
  bool withholdsCommit = false;   // never confirms a complete upload with "O"
  double echoDelayMs = 0.0;       // every echo of an upload byte leaves this much later
  // The answer to the query of a parameter leaves this much later (a reply after its time-out).
  std::map<int, double> lateQueryMs;
  // Plausible faults set by a test: sees every answer before it leaves (the frame was taken as
  // usual) and may change it, e.g. an "N" for the "O" of one frame, a digit one off.
  std::function<void(char letter, const std::vector<std::uint8_t>& payload, std::string& answer)>
      tamper;
};

// An answer: bytes and how long after the end of the frame the first one leaves.
struct Answer {
  std::string bytes;
  double delayMs = 0.0;
};

class SimProcessor {
 public:
  explicit SimProcessor(const protocol::Identifier& id);

  protocol::Identifier identifier{};

  // Live state.
  Settings live;
  std::array<std::uint8_t, 4> channelLevel{255, 255, 255, 255};  // "g"; 0 = muted
  int userPreset = 0;
  int hardwarePreset = 0;
  bool extraPresent = false;
  std::string extraName = std::string(kExtraNameSize, ' ');
  std::array<std::uint8_t, kExtraImageSize> extraImage{};
  int inputIndicator = 0;  // 0 none, 1 input B, 2 input A, 3 both
  // How long a hardware preset switch takes before its "O" (some models need nearly the whole
  // acknowledgement time-out).
  double presetSwitchMs;  // timing::kPresetSwitchMs unless a test makes it slower
  bool inAccess = false;  // between "T01ff" and "T02fe"

  // DSP coefficient memory: the 15 bytes (five 24-bit words) written at each "Q" address.
  std::map<std::uint16_t, Record> coefficients;
  std::array<UserLocation, kUserLocations> locations{};

  // The power-on setting stored by "T0000".
  Settings powerOn;
  std::map<std::uint16_t, Record> powerOnCoefficients;

  ProcessorFaults faults;

  // Counts of frames handled, by command letter (tests check what reached the machine).
  std::map<char, int> framesHandled;

  // The six level values (parameters 5 … 10) at a moment: a test signal that follows the
  // input gains, the output attenuations, the amplifier level and the mutes.
  std::array<std::uint16_t, 6> levelsAt(double ms) const;
  // A fixed level override for tests (parameters 5 … 10); empty = the moving test signal.
  std::optional<std::array<std::uint16_t, 6>> fixedLevels;

  // The value of a readable parameter, or empty when the number is unknown.
  std::optional<std::uint16_t> parameter(int number, double ms) const;

  // Handles one complete, checksum-verified frame (letter + payload bytes) addressed to this
  // processor. Empty when it stays silent.
  std::optional<Answer> handleFrame(char letter, const std::vector<std::uint8_t>& payload,
                                    double ms);

  // The "J" upload after its acknowledgement: raw bytes, each echoed.
  bool uploading() const { return uploadReceived_.has_value(); }
  // One upload byte; the echo and, after the last byte, the read-back and the final "O".
  std::vector<Answer> uploadByte(std::uint8_t byte);
  void abortUpload() { uploadReceived_.reset(); }

  // Applies the user location to the live state, as "u" does.
  void recall(int location);

 private:
  std::optional<Answer> answerFrame(char letter, const std::vector<std::uint8_t>& payload,
                                    double ms);
  std::string queryReply(std::uint16_t value) const;
  std::string textReply(const std::string& text) const;
  std::optional<std::string> uploadReceived_;
};

// Delays of the machine side that the program's time-outs are sized for.
namespace timing {
inline constexpr double kAnswerMs = 0.2;
inline constexpr double kStoreMs = 30.0;
inline constexpr double kPowerOnSaveMs = 120.0;
inline constexpr double kPresetSwitchMs = 3000.0;
inline constexpr double kReadBackStartMs = 50.0;
inline constexpr double kUploadCommitMs = 800.0;
}  // namespace timing

}  // namespace qubix::sim
