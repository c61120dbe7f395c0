#include "protocol/Bus.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "protocol/Hex.h"

namespace qubix::protocol {

namespace param {
std::optional<Range> RangeOf(int number) {
  switch (number) {
    case kGainA:
    case kGainB:
    case kOutAttn12:
    case kOutAttn34:
    case kAmpLevel:
      return Range{0, 255};  // one byte on the wire
    case kDelay12:
    case kDelay34:
      return Range{0, 310};
    case kUserPreset:
      return Range{0, 9};
    case kHardwarePreset:
      return Range{0, 7};
    case kExtraPresent:
      return Range{0, 1};
    default:
      if (number >= kFirstChannelOn && number < kFirstChannelOn + 4) return Range{0, 255};
      return std::nullopt;
  }
}
}  // namespace param

namespace {
constexpr std::size_t kFaultsKept = 32;

// A reply byte as the operator can read it: the character, or its code when not printable.
std::string ByteText(std::uint8_t b) {
  if (std::isprint(b) != 0) return std::string("\"") + static_cast<char>(b) + "\"";
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02x", b);
  return buf;
}

// What a frame is, for a fault line: its letter and up to five characters.
std::string FrameText(std::string_view frame) {
  return "\"" + std::string(frame.substr(0, 5)) + (frame.size() > 5 ? "…" : "") + "\"";
}
}  // namespace

std::string ReadFailureText(int number, Bus::ReadFailure why) {
  const std::string p = "parameter " + std::to_string(number) + ": ";
  switch (why) {
    case Bus::ReadFailure::None:
      return {};
    case Bus::ReadFailure::NotSent:
      return p + "the query could not be sent";
    case Bus::ReadFailure::NoReply:
      return p + "no complete reply";
    case Bus::ReadFailure::BadTerminator:
      return p + "the reply did not end in \"O\"";
    case Bus::ReadFailure::NotANumber:
      return p + "the reply is not a hexadecimal number";
    case Bus::ReadFailure::BadChecksum:
      return p + "the reply's checksum does not add up";
    case Bus::ReadFailure::OutOfRange:
      return p + "the reply is a value the processor cannot hold";
    case Bus::ReadFailure::OutOfStep:
      return p + "bytes nobody asked for came with the reply";
  }
  return p + "failed";
}

Bus::Bus(link::Link& link, link::Frontend& frontend) : link_(link), frontend_(frontend) {
  // A machine selected before a lost or reopened connection is not known to be selected now.
  link_.onSelectionVoid = [this] { MachineSelected = false; };
  link_.onNeverQuiet = [this](std::string_view what) { recordFault(std::string(what)); };
}

bool Bus::CanSend() const { return link_.state().Connected && MachineSelected; }

void Bus::recordFault(std::string what) {
  ++faultCount_;
  faults_.emplace_back(faultCount_, std::move(what));
  if (faults_.size() > kFaultsKept) faults_.pop_front();
}

std::string Bus::faultSince(std::uint64_t mark) const {
  for (const auto& [number, what] : faults_)
    if (number > mark) return what;
  // Forgotten already: the count says there was one.
  return faultCount_ > mark ? "an exchange failed" : std::string();
}

void Bus::withdrawFaultsSince(std::uint64_t mark) {
  while (!faults_.empty() && faults_.back().first > mark) faults_.pop_back();
  faultCount_ = std::min(faultCount_, mark);
}

bool FaultWatch::clean() const {
  bus_.EnsureQuiet("the end of the operation");
  return bus_.faultCount() == mark_;
}

Outcome FaultWatch::outcome() const {
  if (clean()) return Outcome::Done();
  return Outcome::Failed(bus_.faultSince(mark_));
}

bool Bus::EnsureQuiet(std::string_view before) {
  const std::optional<std::uint32_t> waiting = link_.WaitingBytes();
  if (!waiting || *waiting == 0) return true;
  std::uint32_t discarded = 0;
  link_.DiscardStray(discarded);
  recordFault(std::to_string(std::max(*waiting, discarded)) +
              " bytes nobody asked for were waiting before " + std::string(before) +
              ": a reply sent twice, or after its time-out");
  return false;
}

bool Bus::SendByteCommand(std::uint8_t byte) {
  auto& st = link_.state();
  st.SendBuffer[0] = byte;
  st.SendLength = 1;
  if (!link_.WriteFrame()) return false;
  st.ReplyLength = 1;
  if (link_.ReadReply() && st.ReplyBuffer[0] == kAcknowledge) return true;
  frontend_.setStatusText(kNetConnectionFail);
  frontend_.setBusyCursor(false);
  return false;
}

void Bus::SendPreamble() {
  EnsureQuiet("the \"e\", \"R\" preamble");
  SendByteCommand('e');
  SendByteCommand('R');
  // Its answers are never examined (several machines may answer the "e"): whatever of them is
  // left goes now, so that the select frame's answer is read in step.
  std::uint32_t discarded = 0;
  link_.DiscardStray(discarded);
}

bool Bus::SelectExchange(std::string_view selectFrame) {
  EnsureQuiet("the select frame");
  if (!link_.WriteText(selectFrame)) {
    recordFault("the select frame could not be written");
    return false;
  }
  auto& st = link_.state();
  st.ReplyLength = 1;
  if (link_.ReadReply() && st.ReplyBuffer[0] == kAcknowledge) {
    MachineSelected = true;
    return true;
  }
  recordFault(st.bytesRead == 0 ? "no answer to the select frame"
                                : "the select frame was answered " + ByteText(st.ReplyBuffer[0]) +
                                      " instead of \"O\"");
  frontend_.setStatusText(kNetConnectionFail);
  frontend_.setBusyCursor(false);
  return false;
}

bool Bus::SelectMachine(std::string_view selectFrame) {
  SendPreamble();
  return SelectExchange(selectFrame);
}

void Bus::ReleaseMachine() {
  // The release follows the last exchange with the machine: a reply of it sent twice or late
  // fails the operation that is releasing.
  EnsureQuiet("the release");
  auto& st = link_.state();
  st.SendBuffer[0] = 'R';
  st.SendLength = 1;
  if (link_.WriteFrame())
    MachineSelected = false;
  else
    recordFault("the release byte could not be written");
}

Bus::Exchange Bus::SendCommand(std::string_view frame) {
  Exchange result;
  if (!CanSend()) {
    recordFault("frame " + FrameText(frame) + " not sent: no processor selected");
    return result;
  }
  EnsureQuiet("frame " + FrameText(frame));
  if (!link_.WriteText(frame)) {
    recordFault("frame " + FrameText(frame) + " could not be written");
    return result;
  }
  result.sent = true;
  auto& st = link_.state();
  st.ReplyLength = 1;
  const bool read = link_.ReadReply();
  result.acknowledged = read && st.ReplyBuffer[0] == kAcknowledge;
  if (!result.acknowledged)
    recordFault("frame " + FrameText(frame) +
                (read ? " was answered " + ByteText(st.ReplyBuffer[0]) + " instead of \"O\""
                      : " was not acknowledged"));
  return result;
}

bool Bus::readFailed(int number, ReadFailure why) {
  lastReadFailure = why;
  recordFault(ReadFailureText(number, why));
  return false;
}

namespace {
// Sends the "I" query for parameter n and reads the 7-byte reply. The value characters must
// be hexadecimal, their checksum must add up and the value must be one the processor can hold:
// anything else is a failed read, never a value from unchecked bytes. (One character changed on
// the line would otherwise give another plausible value: a preset, an attenuation that the
// machine does not run.)
Bus::ReadFailure QueryParameter(link::Link& link, bool canSend, int n, std::uint16_t& value,
                                std::array<char, 4>& chars) {
  if (!canSend) return Bus::ReadFailure::NotSent;
  if (!link.WriteText(ByteCommand('I', n))) return Bus::ReadFailure::NotSent;
  auto& st = link.state();
  st.ReplyLength = kQueryReplyLength;
  if (!link.ReadReply()) return Bus::ReadFailure::NoReply;
  if (st.ReplyBuffer[kQueryReplyLength - 1] != kAcknowledge) return Bus::ReadFailure::BadTerminator;
  const std::string_view text(reinterpret_cast<const char*>(st.ReplyBuffer.data()), 4);
  auto word = HexQuadToWord(text);
  if (!word) return Bus::ReadFailure::NotANumber;
  unsigned sum = 0;
  for (std::size_t i = 0; i < 6; i += 2) {
    auto b = HexPairToByte(static_cast<char>(st.ReplyBuffer[i]),
                           static_cast<char>(st.ReplyBuffer[i + 1]));
    if (!b) return Bus::ReadFailure::BadChecksum;
    sum += *b;
  }
  if ((sum & 0xff) != 0) return Bus::ReadFailure::BadChecksum;
  if (const auto range = param::RangeOf(n); range && (*word < range->min || *word > range->max))
    return Bus::ReadFailure::OutOfRange;
  std::copy(text.begin(), text.end(), chars.begin());
  value = *word;
  return Bus::ReadFailure::None;
}
}  // namespace

bool Bus::ReadParameter(int number) {
  if (beforeQuery) beforeQuery();
  ParameterValue = 0;
  if (CanSend()) EnsureQuiet("the query of parameter " + std::to_string(number));
  const ReadFailure why = QueryParameter(link_, CanSend(), number, ParameterValue, ParameterChars);
  if (why != ReadFailure::None) return readFailed(number, why);
  lastReadFailure = ReadFailure::None;
  return true;
}

std::uint16_t Bus::ReadParameterChecked(int number) {
  // Every read checks the checksum now: this one only gives 0 for a failure.
  return ReadParameter(number) ? ParameterValue : 0;
}

std::string Bus::ReadParameterText(int number) {
  if (beforeQuery) beforeQuery();
  if (!CanSend()) {
    readFailed(number, ReadFailure::NotSent);
    return {};
  }
  EnsureQuiet("the query of parameter " + std::to_string(number));
  if (!link_.WriteText(ByteCommand('I', number))) {
    readFailed(number, ReadFailure::NotSent);
    return "0";
  }
  auto& st = link_.state();
  st.ReplyLength = kTextReplyLength;
  if (!link_.ReadReply()) {
    readFailed(number, ReadFailure::NoReply);
    return {};
  }
  // The last byte ends the reply as every other reply's "O" does.
  if (st.ReplyBuffer[kTextReplyLength - 1] != kAcknowledge) {
    readFailed(number, ReadFailure::BadTerminator);
    return {};
  }
  std::string text;
  text.reserve(kTextLength);
  for (std::size_t k = 0; k < kTextLength; ++k) {
    const std::size_t at = kTextFirstByte + 2 * k;
    auto b = HexPairToByte(static_cast<char>(st.ReplyBuffer[at]),
                           static_cast<char>(st.ReplyBuffer[at + 1]));
    if (!b) {  // a corrupted name is no name
      readFailed(number, ReadFailure::NotANumber);
      return {};
    }
    text.push_back(static_cast<char>(*b));
  }
  lastReadFailure = ReadFailure::None;
  return text;
}

bool Bus::QueryStatus(std::string_view query) {
  StatusReply.fill(0);
  if (!CanSend()) return false;
  const std::string_view frame = query.substr(0, FrameLength('I'));
  EnsureQuiet("the status query");
  if (!link_.WriteText(frame)) {
    recordFault("the status query " + FrameText(frame) + " could not be written");
    return false;
  }
  auto& st = link_.state();
  st.ReplyLength = kQueryReplyLength;
  if (!link_.ReadReply() || st.ReplyBuffer[kQueryReplyLength - 1] != kAcknowledge) {
    recordFault(st.bytesRead < kQueryReplyLength
                    ? "no complete reply to the status query"
                    : "the reply to the status query did not end in \"O\"");
    return false;
  }
  std::copy_n(st.ReplyBuffer.begin(), kQueryReplyLength, StatusReply.begin());
  return true;
}

}  // namespace qubix::protocol
