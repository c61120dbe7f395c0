#include "sim/SimProcessor.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace qubix::sim {

using protocol::ByteToHex;

Record SettingsRecord(const Settings& s) {
  Record r{};
  r[0] = s.gainA;
  r[1] = s.gainB;
  r[2] = s.atten12;
  r[3] = s.atten34;
  r[4] = static_cast<std::uint8_t>(s.delay12 >> 8);
  r[5] = static_cast<std::uint8_t>(s.delay12 & 0xff);
  r[6] = static_cast<std::uint8_t>(s.delay34 >> 8);
  r[7] = static_cast<std::uint8_t>(s.delay34 & 0xff);
  r[8] = s.ampLevel;
  return r;
}

Settings SettingsFromRecord(const Record& r) {
  Settings s;
  s.gainA = r[0];
  s.gainB = r[1];
  s.atten12 = r[2];
  s.atten34 = r[3];
  s.delay12 = static_cast<std::uint16_t>((r[4] << 8) | r[5]);
  s.delay34 = static_cast<std::uint16_t>((r[6] << 8) | r[7]);
  s.ampLevel = r[8];
  return s;
}

Record FlatBandRecord() {
  Record r{};
  r[3] = 0x40;  // b0 = 1.0 as floor(1 · 2^22) = 0x400000, the second word
  return r;
}

SimProcessor::SimProcessor(const protocol::Identifier& id)
    : identifier(id), presetSwitchMs(timing::kPresetSwitchMs) {
  for (auto& loc : locations) {
    for (int b = 0; b < kBands; ++b) loc.records[static_cast<std::size_t>(b)] = FlatBandRecord();
    loc.records[10] = SettingsRecord(Settings{});
  }
  for (int b = 0; b < kBands; ++b) {
    const auto addr = static_cast<std::uint16_t>(kFirstBandAddress + 5 * b);
    coefficients[addr] = FlatBandRecord();
    coefficients[static_cast<std::uint16_t>(addr + kMirrorOffset)] = FlatBandRecord();
  }
  powerOnCoefficients = coefficients;
}

std::array<std::uint16_t, 6> SimProcessor::levelsAt(double ms) const {
  if (fixedLevels) return *fixedLevels;
  // Programme material: two slowly breathing sines, input B a little quieter than A.
  const double t = ms / 1000.0;
  const double srcA = 900.0 * (1.2 + std::sin(2.0 * std::numbers::pi * 0.7 * t));
  const double srcB = 600.0 * (1.2 + std::sin(2.0 * std::numbers::pi * 0.45 * t + 1.0));
  auto dbToFactor = [](double db) { return std::pow(10.0, db / 20.0); };
  const double inA = srcA * dbToFactor((live.gainA - 180) / 2.0);
  const double inB = srcB * dbToFactor((live.gainB - 180) / 2.0);
  const double amp = live.ampLevel == 0 ? 0.0 : dbToFactor((live.ampLevel - 255) / 2.0);
  const double att12 = dbToFactor((live.atten12 - 255) / 2.0);
  const double att34 = dbToFactor((live.atten34 - 255) / 2.0);
  const std::array<double, 4> outs{inA * att12, inB * att12, inA * att34, inB * att34};
  std::array<std::uint16_t, 6> v{};
  auto clamp16 = [](double x) { return static_cast<std::uint16_t>(std::clamp(x, 0.0, 65535.0)); };
  v[0] = clamp16(inA);
  v[1] = clamp16(inB);
  for (std::size_t c = 0; c < 4; ++c) {
    v[2 + c] = channelLevel[c] == 0 ? 0 : clamp16(outs[c] * amp);
  }
  return v;
}

std::optional<std::uint16_t> SimProcessor::parameter(int number, double ms) const {
  switch (number) {
    case 0:
      return static_cast<std::uint16_t>(std::clamp(inputIndicator, 0, 3));
    case 5:
    case 6:
    case 7:
    case 8:
    case 9:
    case 10:
      return levelsAt(ms)[static_cast<std::size_t>(number - 5)];
    case 11:
      return live.gainA;
    case 12:
      return live.gainB;
    case 13:
      return live.atten12;
    case 14:
      return live.atten34;
    case 15:
      return live.delay12;
    case 16:
      return live.delay34;
    case 17:
      return static_cast<std::uint16_t>(userPreset);
    case 18:
      return static_cast<std::uint16_t>(hardwarePreset);
    case 19:
    case 20:
    case 21:
    case 22:
      return channelLevel[static_cast<std::size_t>(number - 19)] == 0 ? 0 : 1;
    case 23:
      return live.ampLevel;
    case 24:
      return extraPresent ? 1 : 0;
    default:
      return std::nullopt;
  }
}

std::string SimProcessor::queryReply(std::uint16_t value) const {
  const auto hi = static_cast<std::uint8_t>(value >> 8);
  const auto lo = static_cast<std::uint8_t>(value & 0xff);
  int check = -(hi + lo);
  if (faults.wrongChecksum) check += 1;
  std::string value4 = ByteToHex(hi) + ByteToHex(lo);
  if (faults.nonHexValue) value4 = "0x" + value4.substr(2, 1) + "g";
  return value4 + ByteToHex(check) + "O";
}

std::string SimProcessor::textReply(const std::string& text) const {
  // 128 bytes; the text stands as hex pairs in bytes 85 … 120 (counting from 1).
  std::string reply(128, '0');
  for (std::size_t k = 0; k < kExtraNameSize; ++k) {
    const auto c = k < text.size() ? static_cast<std::uint8_t>(text[k]) : std::uint8_t{' '};
    const auto hex = ByteToHex(c);
    reply[84 + 2 * k] = hex[0];
    reply[85 + 2 * k] = hex[1];
  }
  reply[127] = 'O';
  return reply;
}

void SimProcessor::recall(int location) {
  const auto& loc = locations[static_cast<std::size_t>(location)];
  for (int b = 0; b < kBands; ++b) {
    const auto addr = static_cast<std::uint16_t>(kFirstBandAddress + 5 * b);
    coefficients[addr] = loc.records[static_cast<std::size_t>(b)];
    coefficients[static_cast<std::uint16_t>(addr + kMirrorOffset)] =
        loc.records[static_cast<std::size_t>(b)];
  }
  live = SettingsFromRecord(loc.records[10]);
  userPreset = location;
}

std::optional<Answer> SimProcessor::handleFrame(char letter,
                                                const std::vector<std::uint8_t>& payload,
                                                double ms) {
  std::optional<Answer> a = answerFrame(letter, payload, ms);
  if (a && letter == 'I' && !payload.empty()) {
    const auto late = faults.lateQueryMs.find(payload[0]);
    if (late != faults.lateQueryMs.end()) a->delayMs += late->second;
  }
  if (a && faults.tamper) faults.tamper(letter, payload, a->bytes);
  return a;
}

std::optional<Answer> SimProcessor::answerFrame(char letter,
                                                const std::vector<std::uint8_t>& payload,
                                                double ms) {
  ++framesHandled[letter];
  const Answer ack{"O", timing::kAnswerMs};
  auto at = [&](std::size_t i) -> std::uint8_t { return i < payload.size() ? payload[i] : 0; };
  switch (letter) {
    case 'I': {
      const int n = at(0);
      if (!faults.queryReply.empty()) return Answer{faults.queryReply, timing::kAnswerMs};
      if (n == 25) return Answer{textReply(extraName), timing::kAnswerMs};
      const auto v = parameter(n, ms);
      return Answer{queryReply(v.value_or(0)), timing::kAnswerMs};
    }
    case 'n':
      live.ampLevel = at(0);
      return ack;
    case 'g': {
      const int pair = at(0), side = at(1);
      if (pair < 1 || pair > 2 || side > 1) return std::nullopt;
      const int channel = (pair - 1) * 2 + side;
      channelLevel[static_cast<std::size_t>(channel)] = at(2);
      return ack;
    }
    case 'L':
      live.delay12 = static_cast<std::uint16_t>((at(0) << 8) | at(1));
      live.delay34 = static_cast<std::uint16_t>((at(2) << 8) | at(3));
      return ack;
    case 'V':
      live.atten12 = at(0);
      live.atten34 = at(1);
      return ack;
    case 'G':
      // Input B comes first in this frame.
      live.gainB = at(0);
      live.gainA = at(1);
      return ack;
    case 'Q': {
      const auto addr = static_cast<std::uint16_t>((at(0) << 8) | at(1));
      Record r{};
      std::copy_n(payload.begin() + 2, kRecordSize, r.begin());
      coefficients[addr] = r;
      return ack;
    }
    case 'U': {
      const int loc = at(0), rec = at(1);
      if (loc >= kUserLocations || rec >= kRecordsPerLocation) return std::nullopt;
      Record r{};
      std::copy_n(payload.begin() + 2, kRecordSize, r.begin());
      locations[static_cast<std::size_t>(loc)].records[static_cast<std::size_t>(rec)] = r;
      return Answer{"O", timing::kStoreMs};
    }
    case 'u': {
      const int loc = at(0);
      if (loc >= kUserLocations) return std::nullopt;
      recall(loc);
      return ack;
    }
    case 'T':
      switch (at(0)) {
        case 0:
          powerOn = live;
          powerOnCoefficients = coefficients;
          return Answer{"O", timing::kPowerOnSaveMs};
        case 1:
          inAccess = true;
          return ack;
        case 2:
          inAccess = false;
          return ack;
        default:
          return std::nullopt;
      }
    case 'r': {
      const int p = at(0);
      if (p > 7) return std::nullopt;
      hardwarePreset = p;
      return Answer{"O", presetSwitchMs};
    }
    case 'J': {
      const int half = (at(0) << 8) | at(1);
      if (static_cast<std::size_t>(half) * 2 != kExtraPayloadSize) return std::nullopt;
      if (faults.refusesUpload) return Answer{"N", timing::kAnswerMs};
      uploadReceived_ = std::string();
      return ack;
    }
    default:
      return std::nullopt;
  }
}

std::vector<Answer> SimProcessor::uploadByte(std::uint8_t byte) {
  std::vector<Answer> out;
  if (!uploadReceived_) return out;
  uploadReceived_->push_back(static_cast<char>(byte));
  out.push_back(
      Answer{std::string(1, static_cast<char>(byte)), timing::kAnswerMs + faults.echoDelayMs});
  if (uploadReceived_->size() < kExtraPayloadSize) return out;

  // Complete: keep the decoded image, send everything back, then confirm.
  const std::string received = std::move(*uploadReceived_);
  uploadReceived_.reset();
  for (std::size_t i = 0; i < kExtraPayloadSize; ++i) {
    extraImage[kExtraPayloadOffset + i] =
        static_cast<std::uint8_t>(static_cast<std::uint8_t>(received[i]) - 15);
  }
  // The preset names itself by its first 18 payload bytes; anything unprintable is a blank.
  std::string name;
  for (std::size_t i = 0; i < kExtraNameSize; ++i) {
    const auto c = extraImage[kExtraPayloadOffset + i];
    name.push_back(c >= 0x20 && c < 0x7f ? static_cast<char>(c) : ' ');
  }
  extraName = name;
  extraPresent = true;
  std::string readBack = received;
  if (faults.corruptsReadBack) readBack[kExtraPayloadSize / 2] ^= 0x01;
  out.push_back(Answer{readBack, timing::kReadBackStartMs});
  if (!faults.withholdsCommit) out.push_back(Answer{"O", timing::kUploadCommitMs});
  return out;
}

}  // namespace qubix::sim
