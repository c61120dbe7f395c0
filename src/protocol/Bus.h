// Selection of one machine on the bus, the single-byte commands, the command exchange and the
// read queries, on top of the link primitives. At most one machine is selected at a time.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "link/Frontend.h"
#include "link/Link.h"
#include "protocol/Outcome.h"

namespace qubix::protocol {

inline constexpr std::string_view kNetConnectionFail = "Net Connection Fail";

// Parameter numbers of the "I" query.
namespace param {
inline constexpr int kStatus = 0;
inline constexpr int kFirstLevel = 5;  // 5 … 10: the six level-meter values
inline constexpr int kGainA = 11;
inline constexpr int kGainB = 12;
inline constexpr int kOutAttn12 = 13;
inline constexpr int kOutAttn34 = 14;
inline constexpr int kDelay12 = 15;
inline constexpr int kDelay34 = 16;
inline constexpr int kUserPreset = 17;
inline constexpr int kHardwarePreset = 18;
inline constexpr int kFirstChannelOn = 19;  // 19 … 22: output channels 1 … 4
inline constexpr int kAmpLevel = 23;
inline constexpr int kExtraPresent = 24;
inline constexpr int kExtraName = 25;

// The values a processor can report for a parameter; anything else is a reply spoiled on the
// line (one digit changed), never a value to show or to name a file with. Empty: any 16-bit value.
struct Range {
  int min;
  int max;
};
std::optional<Range> RangeOf(int number);
}  // namespace param

// The reply lengths and the text reply's layout.
inline constexpr std::size_t kQueryReplyLength = 7;
inline constexpr std::size_t kTextReplyLength = 128;
inline constexpr std::size_t kTextLength = 18;
// The text stands as hex pairs from reply byte 85 (counting from 1) on.
inline constexpr std::size_t kTextFirstByte = 84;
inline constexpr std::uint8_t kAcknowledge = 'O';

class Bus {
 public:
  Bus(link::Link& link, link::Frontend& frontend);
  Bus(const Bus&) = delete;
  Bus& operator=(const Bus&) = delete;

  bool MachineSelected = false;

  // Connected and MachineSelected: the condition for every command and query.
  bool CanSend() const;

  bool SendByteCommand(std::uint8_t byte);
  // "e", "R" before a selection: whatever the machines answer, the flow goes on (a machine that
  // answers neither is still selectable), so neither counts as a fault.
  void SendPreamble();
  // Writes a 15-character select frame and awaits "O"; sets MachineSelected.
  bool SelectExchange(std::string_view selectFrame);
  // The preamble, then the select exchange.
  bool SelectMachine(std::string_view selectFrame);
  // Writes "R" without reading; clears MachineSelected when the write succeeded.
  void ReleaseMachine();

  // The command exchange: when CanSend(), writes the frame and reads one byte. Returns false
  // when nothing was sent or the write failed; acknowledged tells whether the byte was "O".
  // Either failure is a fault of the operation, also where the flow does not look at the reply.
  struct Exchange {
    bool sent = false;
    bool acknowledged = false;
  };
  Exchange SendCommand(std::string_view frame);

  // The line must be quiet before a frame goes out: bytes that wait then belong to no exchange
  // that is running (a reply sent twice, a reply that came after its time-out, a stray byte),
  // and the next reply would be read out of step. They are recorded as a fault of the exchange
  // before (so of the operation that is running, or of the one being judged) and discarded.
  // Asking costs no time on the line; true when nothing was waiting.
  bool EnsureQuiet(std::string_view before);

  bool ReadParameter(int number);                  // value in ParameterValue
  std::uint16_t ReadParameterChecked(int number);  // 0 on any failure
  std::string ReadParameterText(int number);
  // 7 reply bytes in StatusReply; false (a fault, and StatusReply cleared) when the query could
  // not be sent or the reply is not whole: the caller must not show the last reply as new.
  bool QueryStatus(std::string_view query);

  // Why the last ReadParameter / ReadParameterChecked / ReadParameterText gave no value.
  // BadTerminator: all bytes came but the last was not "O"; OutOfRange: a number the processor
  // cannot hold for that parameter.
  // BadChecksum: the value and its checksum do not add up to 0 (one character spoiled).
  enum class ReadFailure {
    None,
    NotSent,
    NoReply,
    BadTerminator,
    NotANumber,
    BadChecksum,
    OutOfRange,
    OutOfStep  // bytes nobody asked for came with or after the reply
  };
  ReadFailure lastReadFailure = ReadFailure::None;

  // ---- the fault journal: every exchange that did not end as the protocol requires (a write
  // that failed, a reply missing, short, unacknowledged or spoiled, a value out of range) is
  // counted here with a line saying what went wrong. An operation notes the count when it starts
  // (FaultWatch) and has failed when the count moved.
  std::uint64_t faultCount() const { return faultCount_; }
  // The first fault recorded since mark (a faultCount() taken earlier), or empty.
  std::string faultSince(std::uint64_t mark) const;
  void recordFault(std::string what);
  // A reply lost once and read again with success is not a fault of the operation that asked
  // again: the faults since mark are taken back.
  void withdrawFaultsSince(std::uint64_t mark);

  std::uint16_t ParameterValue = 0;
  std::array<char, 4> ParameterChars{};
  std::array<std::uint8_t, 7> StatusReply{};

  // Stops the editor's status-poll timer before every query.
  std::function<void()> beforeQuery;

  link::Link& link() { return link_; }
  link::Frontend& frontend() { return frontend_; }

 private:
  bool readFailed(int number, ReadFailure why);

  link::Link& link_;
  link::Frontend& frontend_;
  std::uint64_t faultCount_ = 0;
  // The latest faults with their numbers; older ones are forgotten (their count stays).
  std::deque<std::pair<std::uint64_t, std::string>> faults_;
};

// The faults of one operation: those the bus records from construction on. Judging it (clean,
// outcome) first makes sure the line is quiet after the operation's last exchange, so that a
// reply sent twice or late there fails this operation, not the next one.
class FaultWatch {
 public:
  explicit FaultWatch(Bus& bus) : bus_(bus), mark_(bus.faultCount()) {}
  bool clean() const;
  std::uint64_t mark() const { return mark_; }
  // Done, or failed with the first fault recorded since the watch began.
  Outcome outcome() const;

 private:
  Bus& bus_;
  std::uint64_t mark_;
};

// What a failed read of a parameter says ("parameter 23: the reply ended in \"N\"").
std::string ReadFailureText(int number, Bus::ReadFailure why);

}  // namespace qubix::protocol
