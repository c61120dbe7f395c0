#include "protocol/Commands.h"

#include <vector>

#include "filters/CoefficientWord.h"
#include "protocol/Hex.h"

namespace qubix::protocol {

namespace {

std::uint8_t low(std::int32_t v) { return static_cast<std::uint8_t>(v & 0xff); }
std::uint8_t middle(std::int32_t v) { return static_cast<std::uint8_t>((v >> 8) & 0xff); }

void appendWord(std::vector<std::uint8_t>& payload, std::uint32_t word) {
  const auto bytes = filters::WordBytes(word);
  payload.insert(payload.end(), bytes.begin(), bytes.end());
}
}  // namespace

void LiveBandRecord::set(std::int32_t address, double b0, double b1, double b2, double a1,
                         double a2) {
  bandAddress = address;
  mirrorAddress = address + kMirrorOffset;
  coefficients = {b2, b0, b1, a2, a1};
}

namespace frames {

std::string AmpLevel(int level) { return ByteCommand('n', level); }

std::string ChannelLevel(int pair, int channel, int level) {
  const std::uint8_t payload[] = {low(pair), low(channel), low(level)};
  return BuildFrame('g', payload);
}

std::string Delays(std::int32_t delay12, std::int32_t delay34) {
  const std::uint8_t payload[] = {middle(delay12), low(delay12), middle(delay34), low(delay34)};
  return BuildFrame('L', payload);
}

std::string OutputAttenuation(int code12, int code34) {
  const std::uint8_t payload[] = {low(code12), low(code34)};
  return BuildFrame('V', payload);
}

std::string InputGains(int codeB, int codeA) {
  const std::uint8_t payload[] = {low(codeB), low(codeA)};
  return BuildFrame('G', payload);
}

std::string BandCoefficients(std::int32_t address, const std::array<double, 5>& coefficients) {
  std::vector<std::uint8_t> payload{middle(address), low(address)};
  for (double c : coefficients) appendWord(payload, filters::CoefficientToWord(c));
  return BuildFrame('Q', payload);
}

std::string StoreBand(int location, int record, const std::array<float, 5>& coefficients) {
  std::vector<std::uint8_t> payload{low(location), low(record)};
  for (float c : coefficients) appendWord(payload, filters::StoredCoefficientToWord(c));
  return BuildFrame('U', payload);
}

std::string StoreSettings(int location, const SettingsRecord& s) {
  std::vector<std::uint8_t> payload{low(location),
                                    static_cast<std::uint8_t>(kSettingsRecord),
                                    low(s.gainACode),
                                    low(s.gainBCode),
                                    low(s.attenuation12Code),
                                    low(s.attenuation34Code),
                                    middle(s.delay12),
                                    low(s.delay12),
                                    middle(s.delay34),
                                    low(s.delay34),
                                    low(s.ampLevelCode)};
  payload.resize(payload.size() + 6, 0);
  return BuildFrame('U', payload);
}

std::string Recall(int location) {
  if (location < 0 || location >= kLocationCount) return {};
  return ByteCommand('u', location);
}

}  // namespace frames

bool Commands::sendUnchecked(std::string_view frame) { return bus_.SendCommand(frame).sent; }

bool Commands::sendAcknowledged(std::string_view frame) {
  const auto exchange = bus_.SendCommand(frame);
  return exchange.sent && exchange.acknowledged;
}

bool Commands::sendStore(std::string_view frame) {
  if (!bus_.CanSend()) return false;
  auto& link = bus_.link();
  link.SetReadTimeout(kStoreTimeoutMs);
  const bool ok = sendAcknowledged(frame);
  // Back to the standard time-out whatever happened: a failed store must not leave every later
  // read waiting a second.
  link.SetReadTimeout(link::kStandardTimeoutMs);
  return ok;
}

bool Commands::SendAmpLevel(int levelCode) { return sendUnchecked(frames::AmpLevel(levelCode)); }

bool Commands::SendChannelLevel(int pair, int channel, int levelCode) {
  return sendUnchecked(frames::ChannelLevel(pair, channel, levelCode));
}

bool Commands::SendDelays(std::int32_t delay12, std::int32_t delay34) {
  return sendUnchecked(frames::Delays(delay12, delay34));
}

bool Commands::SendOutputAttenuation(int code12, int code34) {
  return sendUnchecked(frames::OutputAttenuation(code12, code34));
}

bool Commands::SendInputGains(int codeB, int codeA) {
  return sendUnchecked(frames::InputGains(codeB, codeA));
}

bool Commands::SendBandCoefficients() {
  if (!bus_.CanSend()) return false;
  if (!sendAcknowledged(frames::BandCoefficients(liveBand_.bandAddress, liveBand_.coefficients)))
    return false;
  if (liveBand_.mirror &&
      !sendAcknowledged(frames::BandCoefficients(liveBand_.mirrorAddress, liveBand_.coefficients)))
    return false;
  return true;
}

bool Commands::StoreBandToLocation(int location, int record,
                                   const std::array<float, 5>& coefficients) {
  return sendStore(frames::StoreBand(location, record, coefficients));
}

bool Commands::StoreSettingsToLocation(int location, const SettingsRecord& settings) {
  return sendStore(frames::StoreSettings(location, settings));
}

bool Commands::RecallLocation(int location) {
  const auto frame = frames::Recall(location);
  if (frame.empty() || !bus_.CanSend()) return false;
  bus_.link().DrainInput();
  return sendUnchecked(frame);
}

bool Commands::SavePowerOnSetting() {
  if (!bus_.CanSend()) return false;
  bus_.link().DrainInput();
  return sendUnchecked(frames::kSavePowerOn);
}

// Both discard what waits without waiting for more: they come right after a select or a checked
// reply, when nothing is on its way, and a drain would wait a whole read time-out (4 s after a
// hardware preset change) for nothing.
bool Commands::BeginAccess() {
  // Whatever a previous user left in the receive buffer must not be taken for this reply.
  bus_.link().DiscardWaiting();
  return sendUnchecked(frames::kBeginAccess);
}

bool Commands::EndAccess() {
  if (!bus_.CanSend()) return false;
  bus_.link().DiscardWaiting();
  return sendUnchecked(frames::kEndAccess);
}

}  // namespace qubix::protocol
