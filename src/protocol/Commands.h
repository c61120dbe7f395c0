// The commands that change a selected machine's audio parameters and its stored presets. Each is
// one frame ("letter" + hex payload + checksum) answered by one byte; each checks the link and
// the selection first and sends nothing when either is missing. None changes the selection.
//
// Time-outs: the stores into user preset locations ("U") may take the machine up to a second, so
// they raise the read time-out to 1000 ms for their one exchange and always put it back to
// 200 ms afterwards, acknowledged or not: a lowered time-out must never outlive the exchange.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "filters/EqBands.h"
#include "protocol/Bus.h"
#include "protocol/WireCodes.h"

namespace qubix::protocol {

// Distance between a band's coefficient address and its mirror copy.
inline constexpr std::int32_t kMirrorOffset = filters::kMirrorAddressOffset;
// The settings record's number inside a user preset location (records 0 … 9 are the bands).
inline constexpr int kSettingsRecord = 10;
inline constexpr int kLocationCount = 8;
inline constexpr std::uint32_t kStoreTimeoutMs = 1000;

// The band the editor is writing live: filled by the editor, sent by SendBandCoefficients.
struct LiveBandRecord {
  std::int32_t bandAddress = 0;
  std::int32_t mirrorAddress = 0;
  // In sending order: b2, b0, b1, a2, a1.
  std::array<double, 5> coefficients{0.0, 1.0, 0.0, 0.0, 0.0};
  // Once set (selection for editing, list refresh) nothing clears it.
  bool mirror = false;

  // Fills addresses (mirror = address + 116) and coefficients from b0, b1, b2, a1, a2.
  void set(std::int32_t address, double b0, double b1, double b2, double a1, double a2);
};

// The settings record of a user preset location, in the order the editor passes it.
struct SettingsRecord {
  std::int32_t gainACode = codes::kGainZeroDb;
  std::int32_t gainBCode = codes::kGainZeroDb;
  std::int32_t attenuation12Code = codes::kAttenuationZeroDb;
  std::int32_t attenuation34Code = codes::kAttenuationZeroDb;
  std::int32_t delay12 = 0;
  std::int32_t delay34 = 0;
  std::int32_t ampLevelCode = codes::kLevelZeroDb;
};

// Pure frame builders: tests compare them with literal strings.
namespace frames {
std::string AmpLevel(int level);
std::string ChannelLevel(int pair, int channel, int level);
std::string Delays(std::int32_t delay12, std::int32_t delay34);
std::string OutputAttenuation(int code12, int code34);
std::string InputGains(int codeB, int codeA);
// b2, b0, b1, a2, a1 at address.
std::string BandCoefficients(std::int32_t address, const std::array<double, 5>& coefficients);
std::string StoreBand(int location, int record, const std::array<float, 5>& coefficients);
std::string StoreSettings(int location, const SettingsRecord& settings);
// Empty when location is outside 0 … 7.
std::string Recall(int location);
inline constexpr std::string_view kSavePowerOn = "T0000";
inline constexpr std::string_view kBeginAccess = "T01ff";
inline constexpr std::string_view kEndAccess = "T02fe";
}  // namespace frames

class Commands {
 public:
  explicit Commands(Bus& bus) : bus_(bus) {}

  // Every operation returns true only when its frame(s) went out and, where a reply is
  // examined, the machine acknowledged with "O". Nothing sent is a failure, never a success:
  // a command with no link or no selected machine did not change the processor, and a caller
  // that took it as done would record (in a file, on the status line) what the processor never
  // got.
  bool SendAmpLevel(int levelCode);
  // pair 1 = Ch1/Ch2, 2 = Ch3/Ch4; channel 0 or 1 within the pair; level 0 = muted.
  bool SendChannelLevel(int pair, int channel, int levelCode);
  bool SendDelays(std::int32_t delay12, std::int32_t delay34);
  bool SendOutputAttenuation(int code12, int code34);
  bool SendInputGains(int codeB, int codeA);
  // Sends the live band record to its address and, with the mirror flag, to the mirror.
  bool SendBandCoefficients();
  // coefficients in the order b2, b0, b1, a2, a1; record 0 … 9.
  bool StoreBandToLocation(int location, int record, const std::array<float, 5>& coefficients);
  bool StoreSettingsToLocation(int location, const SettingsRecord& settings);
  bool RecallLocation(int location);
  bool SavePowerOnSetting();
  bool BeginAccess();
  bool EndAccess();

  LiveBandRecord& liveBand() { return liveBand_; }
  Bus& bus() { return bus_; }

 private:
  // A frame whose one-byte reply is read but not examined: true when it was sent.
  bool sendUnchecked(std::string_view frame);
  // A frame that needs "O".
  bool sendAcknowledged(std::string_view frame);
  // A "U" exchange under the long read time-out.
  bool sendStore(std::string_view frame);

  Bus& bus_;
  LiveBandRecord liveBand_;
};

}  // namespace qubix::protocol
