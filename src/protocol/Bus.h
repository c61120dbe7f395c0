// Selection of one machine on the bus, the single-byte commands, the command exchange and the
// read queries, on top of the link primitives. At most one machine is selected at a time.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "frontend/Frontend.h"
#include "link/Link.h"

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
}  // namespace param

class Bus {
 public:
  Bus(link::Link& link, link::Frontend& frontend);
  Bus(const Bus&) = delete;
  Bus& operator=(const Bus&) = delete;

  bool MachineSelected = false;

  // Connected and MachineSelected: the condition for every command and query.
  bool CanSend() const;

  bool SendByteCommand(std::uint8_t byte);
  // Writes a 15-character select frame and awaits "O"; sets MachineSelected.
  bool SelectExchange(std::string_view selectFrame);
  // "e", "R" preamble (results ignored), then the select exchange.
  bool SelectMachine(std::string_view selectFrame);
  // Writes "R" without reading; clears MachineSelected when the write succeeded.
  void ReleaseMachine();

  // The command exchange: when CanSend(), writes the frame and reads one byte. Returns false
  // when nothing was sent or the write failed; acknowledged tells whether the byte was "O".
  struct Exchange {
    bool sent = false;
    bool acknowledged = false;
  };
  Exchange SendCommand(std::string_view frame);

  bool ReadParameter(int number);                  // value in ParameterValue
  std::uint16_t ReadParameterChecked(int number);  // 0 on any failure
  std::string ReadParameterText(int number);
  bool QueryStatus(std::string_view query);  // 7 reply bytes in StatusReply

  // Why the last ReadParameter / ReadParameterChecked / ReadParameterText gave no value.
  enum class ReadFailure { None, NotSent, NoReply, NotANumber };
  ReadFailure lastReadFailure = ReadFailure::None;

  std::uint16_t ParameterValue = 0;
  std::array<char, 4> ParameterChars{};
  std::array<std::uint8_t, 7> StatusReply{};

  // Stops the editor's status-poll timer before every query.
  std::function<void()> beforeQuery;

  link::Link& link() { return link_; }
  link::Frontend& frontend() { return frontend_; }

 private:
  link::Link& link_;
  link::Frontend& frontend_;
};

}  // namespace qubix::protocol
