// The shared RS-422 bus as the processors hear it: every byte the PC writes reaches every
// processor, only the addressed one answers, and both directions are kept in a transcript.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/Hex.h"
#include "sim/SimProcessor.h"
#include "sim/Timing.h"

namespace qubix::sim {

struct TranscriptEntry {
  bool fromPc = false;
  std::string bytes;
  double atMs = 0.0;  // when the first byte of the burst was on the wire
};

class SimBus {
 public:
  SimProcessor& addProcessor(const protocol::Identifier& id);
  SimProcessor* find(const protocol::Identifier& id);
  SimProcessor* find(std::string_view identifierText);
  const std::vector<std::unique_ptr<SimProcessor>>& processors() const { return processors_; }

  // The PC puts one byte on the wire; it has fully arrived at `atMs`.
  void hearByte(std::uint8_t byte, double atMs);

  // Bytes on their way to the PC, in order, each with its arrival time.
  struct Pending {
    std::uint8_t byte;
    double atMs;
  };
  const std::deque<Pending>& pending() const { return pending_; }
  // Removes and returns up to `count` bytes that have arrived by `atMs`.
  std::string take(std::size_t count, double atMs);
  // Drops everything on its way (an adapter reset or an unplugged adapter).
  void dropPending() { pending_.clear(); }

  // Faults of the line towards the PC, counted in bytes the machines send from when they are
  // set: the byte that many bytes further on is lost, or arrives with its bits flipped.
  struct LineFaults {
    std::optional<std::uint64_t> dropAfterBytes;
    std::optional<std::uint64_t> corruptAfterBytes;
    // A line that never goes quiet: one noise byte (0xFF, a glitch read as a start bit) arrives
    // every this many milliseconds, for ever, from the first read after it is set.
    std::optional<double> noiseEveryMs;
    // Counted in answers the machines send from when they are set (answersSent() numbers them):
    // that answer arrives twice, the second copy right behind the first (a device server that
    // retransmits, a repeater that echoes);
    std::optional<std::uint64_t> duplicateAnswer;
    // it leaves only after the read waiting for it has given up (readTimeoutMs), so that it
    // arrives into the next exchange;
    std::optional<std::uint64_t> lateAnswer;
    // or, once it has arrived and the line has been quiet for kStrayGapMs, a stray byte follows
    // it: an "O", the byte that a shifted reader would take for an acknowledgement.
    std::optional<std::uint64_t> strayAfterAnswer;
  };
  LineFaults lineFaults;
  // The answers sent so far, each counted once however many bytes it has.
  std::uint64_t answersSent() const { return answersSent_; }
  // The read time-out the PC's adapter has in force (the simulated adapter keeps it here): what
  // a late answer is late by.
  double readTimeoutMs = 200.0;
  // Puts the noise bytes of lineFaults.noiseEveryMs that arrive by `untilMs` on their way, in
  // arrival order among the machines' bytes; `fromMs` is where a noise that starts now starts.
  void addNoise(double fromMs, double untilMs);

  // Every burst on the wire, oldest first. A bus that runs for ever (a program's simulated bus)
  // keeps only the newest bursts: beyond transcriptLimit entries the older half goes (0 keeps
  // all, as tests want).
  std::vector<TranscriptEntry> transcript;
  std::size_t transcriptLimit = 0;
  std::string pcBytes() const;
  std::string machineBytes() const;
  void clearTranscript() { transcript.clear(); }

  const WireTiming& wire() const { return wire_; }
  WireTiming& wire() { return wire_; }

  // Processors that consider themselves selected.
  std::vector<SimProcessor*> selected() const;

 private:
  void record(bool fromPc, const std::string& bytes, double atMs);
  void dispatch(double atMs);
  void answer(SimProcessor& p, const Answer& a, double frameEndMs);
  void answerFromBus(const std::string& bytes, double atMs);
  SimProcessor* attentionAnswerer() const;

  std::vector<std::unique_ptr<SimProcessor>> processors_;
  std::vector<bool> selected_;
  std::deque<Pending> pending_;
  WireTiming wire_;

  // Framing state of the machine side.
  std::string frame_;
  std::size_t expected_ = 0;
  double lastByteMs_ = -1e9;
  bool afterAttention_ = false;  // the last byte was the preamble's "e"
  double nextNoiseMs_ = -1.0;    // when the next noise byte arrives; < 0: no noise yet
  SimProcessor* uploader_ = nullptr;
  std::uint64_t answersSent_ = 0;
};

// How long the line is quiet before a stray byte (LineFaults::strayAfterAnswer) arrives.
inline constexpr double kStrayGapMs = 0.25;

// The machine side drops a half-received frame after this much silence.
inline constexpr double kInterByteGapMs = 50.0;
// A processor receiving an Extra preset takes every byte as payload until it has heard nothing
// for this long (its receive time-out); then it drops the upload and reads frames again.
inline constexpr double kUploadGapMs = 6000.0;

std::shared_ptr<SimBus> makeDemoBus();
// How many bursts a program's simulated bus keeps (tests keep everything).
inline constexpr std::size_t kProgramTranscriptLimit = 4096;

}  // namespace qubix::sim
