#include "protocol/Bus.h"

#include <algorithm>

#include "protocol/Hex.h"

namespace qubix::protocol {

namespace {
constexpr std::uint8_t kAck = 'O';
constexpr std::size_t kQueryReplyLength = 7;
constexpr std::size_t kTextReplyLength = 128;
constexpr std::size_t kTextLength = 18;
// The text stands as hex pairs from reply byte 85 (counting from 1) on.
constexpr std::size_t kTextFirstByte = 84;
}  // namespace

Bus::Bus(link::Link& link, link::Frontend& frontend) : link_(link), frontend_(frontend) {
  // A machine selected before a lost or reopened connection is not known to be selected now.
  link_.onSelectionVoid = [this] { MachineSelected = false; };
}

bool Bus::CanSend() const { return link_.state().Connected && MachineSelected; }

bool Bus::SendByteCommand(std::uint8_t byte) {
  auto& st = link_.state();
  st.SendBuffer[0] = byte;
  st.SendLength = 1;
  if (!link_.WriteFrame()) return false;
  st.ReplyLength = 1;
  if (link_.ReadReply() && st.ReplyBuffer[0] == kAck) return true;
  frontend_.setStatusText(kNetConnectionFail);
  frontend_.setBusyCursor(false);
  return false;
}

bool Bus::SelectExchange(std::string_view selectFrame) {
  if (!link_.WriteText(selectFrame)) return false;
  auto& st = link_.state();
  st.ReplyLength = 1;
  if (link_.ReadReply() && st.ReplyBuffer[0] == kAck) {
    MachineSelected = true;
    return true;
  }
  frontend_.setStatusText(kNetConnectionFail);
  frontend_.setBusyCursor(false);
  return false;
}

bool Bus::SelectMachine(std::string_view selectFrame) {
  // The preamble's outcome never changes the flow: a machine that answers neither is
  // still selectable.
  SendByteCommand('e');
  SendByteCommand('R');
  return SelectExchange(selectFrame);
}

void Bus::ReleaseMachine() {
  auto& st = link_.state();
  st.SendBuffer[0] = 'R';
  st.SendLength = 1;
  if (link_.WriteFrame()) MachineSelected = false;
}

Bus::Exchange Bus::SendCommand(std::string_view frame) {
  Exchange result;
  if (!CanSend()) return result;
  if (!link_.WriteText(frame)) return result;
  result.sent = true;
  auto& st = link_.state();
  st.ReplyLength = 1;
  result.acknowledged = link_.ReadReply() && st.ReplyBuffer[0] == kAck;
  return result;
}

namespace {
// Sends the "I" query for parameter n and reads the 7-byte reply. The value characters must
// be hexadecimal: a reply that is not is a failed read, never a value from unchecked bytes.
bool QueryParameter(link::Link& link, bool canSend, int n, std::uint16_t& value,
                    std::array<char, 4>& chars, Bus::ReadFailure& failure) {
  failure = Bus::ReadFailure::NotSent;
  if (!canSend) return false;
  if (!link.WriteText(ByteCommand('I', n))) return false;
  failure = Bus::ReadFailure::NoReply;
  auto& st = link.state();
  st.ReplyLength = kQueryReplyLength;
  if (!link.ReadReply() || st.ReplyBuffer[6] != kAck) return false;
  const std::string_view text(reinterpret_cast<const char*>(st.ReplyBuffer.data()), 4);
  auto word = HexQuadToWord(text);
  failure = Bus::ReadFailure::NotANumber;
  if (!word) return false;
  std::copy(text.begin(), text.end(), chars.begin());
  value = *word;
  failure = Bus::ReadFailure::None;
  return true;
}
}  // namespace

bool Bus::ReadParameter(int number) {
  if (beforeQuery) beforeQuery();
  ParameterValue = 0;
  return QueryParameter(link_, CanSend(), number, ParameterValue, ParameterChars, lastReadFailure);
}

std::uint16_t Bus::ReadParameterChecked(int number) {
  if (beforeQuery) beforeQuery();
  ParameterValue = 0;
  std::uint16_t value = 0;
  if (!QueryParameter(link_, CanSend(), number, value, ParameterChars, lastReadFailure)) return 0;
  const auto& reply = link_.state().ReplyBuffer;
  unsigned sum = 0;
  for (std::size_t i = 0; i < 6; i += 2) {
    auto b = HexPairToByte(static_cast<char>(reply[i]), static_cast<char>(reply[i + 1]));
    if (!b) return 0;
    sum += *b;
  }
  if ((sum & 0xff) != 0) return 0;
  ParameterValue = value;
  return value;
}

std::string Bus::ReadParameterText(int number) {
  if (beforeQuery) beforeQuery();
  lastReadFailure = ReadFailure::NotSent;
  if (!CanSend()) return {};
  if (!link_.WriteText(ByteCommand('I', number))) return "0";
  lastReadFailure = ReadFailure::NoReply;
  auto& st = link_.state();
  st.ReplyLength = kTextReplyLength;
  if (!link_.ReadReply()) return {};
  lastReadFailure = ReadFailure::NotANumber;
  std::string text;
  text.reserve(kTextLength);
  for (std::size_t k = 0; k < kTextLength; ++k) {
    const std::size_t at = kTextFirstByte + 2 * k;
    auto b = HexPairToByte(static_cast<char>(st.ReplyBuffer[at]),
                           static_cast<char>(st.ReplyBuffer[at + 1]));
    if (!b) return {};  // a corrupted name is no name
    text.push_back(static_cast<char>(*b));
  }
  lastReadFailure = ReadFailure::None;
  return text;
}

bool Bus::QueryStatus(std::string_view query) {
  if (!CanSend()) return false;
  if (!link_.WriteText(query.substr(0, 5))) return false;
  auto& st = link_.state();
  st.ReplyLength = kQueryReplyLength;
  if (!link_.ReadReply() || st.ReplyBuffer[6] != kAck) return false;
  std::copy_n(st.ReplyBuffer.begin(), kQueryReplyLength, StatusReply.begin());
  return true;
}

}  // namespace qubix::protocol
