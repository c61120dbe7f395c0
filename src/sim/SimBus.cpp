#include "sim/SimBus.h"

#include <algorithm>
#include <cctype>

namespace qubix::sim {

namespace {
// A processor compares bytes: upper-case hex digits are no digits to it.
bool IsHex(std::uint8_t c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }
}  // namespace

SimProcessor& SimBus::addProcessor(const protocol::Identifier& id) {
  processors_.push_back(std::make_unique<SimProcessor>(id));
  selected_.push_back(false);
  return *processors_.back();
}

SimProcessor* SimBus::find(const protocol::Identifier& id) {
  for (auto& p : processors_)
    if (p->identifier == id) return p.get();
  return nullptr;
}

SimProcessor* SimBus::find(std::string_view identifierText) {
  auto id = protocol::ParseIdentifier(identifierText);
  return id ? find(*id) : nullptr;
}

std::vector<SimProcessor*> SimBus::selected() const {
  std::vector<SimProcessor*> out;
  for (std::size_t i = 0; i < processors_.size(); ++i)
    if (selected_[i]) out.push_back(processors_[i].get());
  return out;
}

void SimBus::record(bool fromPc, const std::string& bytes, double atMs) {
  if (bytes.empty()) return;
  if (!transcript.empty() && transcript.back().fromPc == fromPc) {
    transcript.back().bytes += bytes;
    return;
  }
  transcript.push_back(TranscriptEntry{fromPc, bytes, atMs});
  if (transcriptLimit > 0 && transcript.size() > transcriptLimit)
    transcript.erase(transcript.begin(),
                     transcript.begin() + static_cast<std::ptrdiff_t>(transcript.size() / 2));
}

std::string SimBus::pcBytes() const {
  std::string out;
  for (const auto& e : transcript)
    if (e.fromPc) out += e.bytes;
  return out;
}

std::string SimBus::machineBytes() const {
  std::string out;
  for (const auto& e : transcript)
    if (!e.fromPc) out += e.bytes;
  return out;
}

std::string SimBus::take(std::size_t count, double atMs) {
  std::string out;
  while (out.size() < count && !pending_.empty() && pending_.front().atMs <= atMs) {
    out.push_back(static_cast<char>(pending_.front().byte));
    pending_.pop_front();
  }
  return out;
}

void SimBus::addNoise(double fromMs, double untilMs) {
  if (!lineFaults.noiseEveryMs || *lineFaults.noiseEveryMs <= 0.0) {
    nextNoiseMs_ = -1.0;
    return;
  }
  if (nextNoiseMs_ < 0.0) nextNoiseMs_ = fromMs + *lineFaults.noiseEveryMs;
  for (; nextNoiseMs_ <= untilMs; nextNoiseMs_ += *lineFaults.noiseEveryMs) {
    const auto at = std::upper_bound(pending_.begin(), pending_.end(), nextNoiseMs_,
                                     [](double t, const Pending& p) { return t < p.atMs; });
    pending_.insert(at, Pending{0xFF, nextNoiseMs_});
  }
}

void SimBus::answer(SimProcessor& p, const Answer& a, double frameEndMs) {
  if (p.faults.silent || a.bytes.empty()) return;
  std::string bytes = a.bytes;
  if (p.faults.garbage) {
    // Line noise: the right number of bytes, none of them meaningful.
    for (std::size_t i = 0; i < bytes.size(); ++i)
      bytes[i] = static_cast<char>(0x80 | ((i * 37 + 11) & 0x7f));
  }
  answerFromBus(bytes, frameEndMs + a.delayMs + p.faults.lateMs);
}

void SimBus::answerFromBus(const std::string& sent, double startMs) {
  const auto strikes = [](std::optional<std::uint64_t>& after) {
    if (!after) return false;
    if (*after > 0) {
      --*after;
      return false;
    }
    after.reset();
    return true;
  };
  ++answersSent_;
  const bool twice = strikes(lineFaults.duplicateAnswer);
  if (strikes(lineFaults.lateAnswer)) startMs += readTimeoutMs + wire_.byteMs();
  const bool stray = strikes(lineFaults.strayAfterAnswer);
  std::string bytes;
  bytes.reserve(sent.size());
  for (char c : sent) {
    const bool lost = strikes(lineFaults.dropAfterBytes);
    if (strikes(lineFaults.corruptAfterBytes)) c = static_cast<char>(~c);
    if (!lost) bytes.push_back(c);
  }
  if (bytes.empty()) return;
  // The line is serial: a byte cannot start before the one in front of it has arrived.
  double t = startMs;
  const double byteMs = wire_.byteMs();
  bool first = true;
  for (char c : bytes) {
    double arrival = t + byteMs;
    if (!pending_.empty()) arrival = std::max(arrival, pending_.back().atMs + byteMs);
    if (first) {
      record(false, bytes, arrival - byteMs);
      first = false;
    }
    pending_.push_back(Pending{static_cast<std::uint8_t>(c), arrival});
    t = arrival;
  }
  if (twice) {
    record(false, bytes, t);
    for (char c : bytes) pending_.push_back(Pending{static_cast<std::uint8_t>(c), t += byteMs});
  }
  if (stray) {
    const double at = t + kStrayGapMs + byteMs;
    record(false, "O", at - byteMs);
    pending_.push_back(Pending{'O', at});
  }
}

SimProcessor* SimBus::attentionAnswerer() const {
  const auto sel = selected();
  if (!sel.empty()) {
    for (auto* p : sel)
      if (!p->faults.silent) return p;
    return nullptr;
  }
  for (const auto& p : processors_)
    if (!p->faults.silent) return p.get();
  return nullptr;
}

void SimBus::hearByte(std::uint8_t byte, double atMs) {
  record(true, std::string(1, static_cast<char>(byte)), atMs - wire_.byteMs());
  const double gap = atMs - lastByteMs_;
  lastByteMs_ = atMs;

  if (uploader_ != nullptr) {
    if (gap <= kUploadGapMs && uploader_->uploading()) {
      for (const auto& a : uploader_->uploadByte(byte)) answer(*uploader_, a, atMs);
      if (!uploader_->uploading()) uploader_ = nullptr;
      return;
    }
    uploader_->abortUpload();
    uploader_ = nullptr;
  }

  if (!frame_.empty() && gap > kInterByteGapMs) frame_.clear();

  if (frame_.empty()) {
    const bool afterAttention = afterAttention_;
    afterAttention_ = false;
    if (byte == 'e') {
      // Attention: the selected machine answers; with none selected, every machine answers
      // at once, which on the line reads as one "O".
      if (auto* who = attentionAnswerer()) answer(*who, Answer{"O", timing::kAnswerMs}, atMs);
      afterAttention_ = true;
      return;
    }
    if (byte == 'R') {
      // Release, heard by everyone. Acknowledged only as the second byte of the preamble.
      auto* who = afterAttention ? attentionAnswerer() : nullptr;
      std::fill(selected_.begin(), selected_.end(), false);
      if (who != nullptr) answer(*who, Answer{"O", timing::kAnswerMs}, atMs);
      return;
    }
    expected_ = protocol::FrameLength(static_cast<char>(byte));
    if (expected_ == 0) return;  // not a command letter: noise
    frame_.push_back(static_cast<char>(byte));
    return;
  }

  if (!IsHex(byte)) {
    frame_.clear();  // a broken frame is dropped whole
    return;
  }
  frame_.push_back(static_cast<char>(byte));
  if (frame_.size() == expected_) {
    dispatch(atMs);
    frame_.clear();
  }
}

void SimBus::dispatch(double atMs) {
  const char letter = frame_[0];
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 1; i + 1 < frame_.size(); i += 2) {
    bytes.push_back(*protocol::HexPairToByte(frame_[i], frame_[i + 1]));
  }

  if (letter == 'H') {
    protocol::Identifier id{};
    std::copy_n(bytes.begin(), 6, id.begin());
    const auto check = static_cast<std::uint8_t>(-(1 + id[4] + id[5]));
    if (bytes[6] != check) return;
    for (std::size_t i = 0; i < processors_.size(); ++i) {
      auto& p = *processors_[i];
      if (p.identifier != id || p.faults.silent) continue;
      selected_[i] = true;
      ++p.framesHandled['H'];
      answer(p, Answer{"O", timing::kAnswerMs}, atMs);
    }
    return;
  }

  // Every other frame carries a checksum over its payload; a wrong one is ignored.
  unsigned sum = 0;
  for (auto b : bytes) sum += b;
  if ((sum & 0xff) != 0) return;
  bytes.pop_back();

  auto sel = selected();
  if (sel.empty()) return;
  // Several machines that each believe they are selected all answer; their bytes collide on
  // the line and the PC reads the wired-AND of them.
  std::vector<std::pair<SimProcessor*, Answer>> answers;
  for (auto* p : sel) {
    auto a = p->handleFrame(letter, bytes, atMs);
    if (a && !p->faults.silent) answers.emplace_back(p, *a);
    if (letter == 'J' && p->uploading()) uploader_ = p;
  }
  if (answers.size() == 1) {
    answer(*answers[0].first, answers[0].second, atMs);
  } else if (answers.size() > 1) {
    std::string merged = answers[0].second.bytes;
    double delay = answers[0].second.delayMs;
    for (std::size_t i = 1; i < answers.size(); ++i) {
      const auto& b = answers[i].second.bytes;
      merged.resize(std::max(merged.size(), b.size()), '\xff');
      for (std::size_t k = 0; k < b.size(); ++k)
        merged[k] = static_cast<char>(static_cast<std::uint8_t>(merged[k]) &
                                      static_cast<std::uint8_t>(b[k]));
      delay = std::min(delay, answers[i].second.delayMs);
    }
    answerFromBus(merged, atMs + delay);
  }
}

std::shared_ptr<SimBus> makeDemoBus() {
  auto bus = std::make_shared<SimBus>();
  auto& a = bus->addProcessor({0, 0, 0, 1, 0, 1});
  a.hardwarePreset = 0;
  a.userPreset = 0;
  a.inputIndicator = 2;

  auto& b = bus->addProcessor({0, 0, 0, 1, 0, 2});
  b.hardwarePreset = 3;
  b.userPreset = 2;
  b.live.gainA = 168;
  b.live.atten34 = 231;
  b.live.delay12 = 12;
  b.inputIndicator = 3;

  auto& c = bus->addProcessor({0, 0, 0, 1, 0, 5});
  c.hardwarePreset = 7;
  c.userPreset = 1;
  c.extraPresent = true;
  c.extraName = "STAGE LEFT FILL   ";
  for (std::size_t i = 0; i < c.extraName.size(); ++i)
    c.extraImage[kExtraPayloadOffset + i] = static_cast<std::uint8_t>(c.extraName[i]);
  c.inputIndicator = 1;
  return bus;
}

}  // namespace qubix::sim
