// The service's OSC address space and its translation into API requests. An OSC message is
// never acted on by itself: each address becomes the HTTP request that does the same through
// the API (same checks, same frames on the wire). Standard C++ only: neither Qt nor liblo, so
// the table is tested on its own.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qubix::service::osc {

inline constexpr std::string_view kRoot = "/qubix24";
inline constexpr std::string_view kErrorAddress = "/qubix24/error";
inline constexpr std::string_view kSubscribeAddress = "/qubix24/subscribe";
inline constexpr std::string_view kUnsubscribeAddress = "/qubix24/unsubscribe";
inline constexpr std::string_view kConnectAddress = "/qubix24/connect";

// One decoded OSC argument: its type tag ('i', 'h', 'f', 'd', 's', 'T', 'F', ...) and its
// value as a number (integers, floats, true/false) or as text (strings, symbols).
struct OscArg {
  char type = 0;
  double number = 0.0;
  std::string text;
};

// What an OSC message comes to.
struct OscTranslation {
  enum class Kind { Request, Subscribe, Unsubscribe, Connect, Error };
  Kind kind = Kind::Error;
  // Request: the API request that does what the address asks.
  std::string method;
  std::string path;
  std::string body;  // JSON, empty for none
  // Subscribe, Unsubscribe: the port the changes go to (0: the sender's own) and the form of
  // the machine segment asked for ("slot", "id"; empty: the form the sender uses).
  int port = 0;
  std::string form;
  // Connect: the passcode given.
  std::string passcode;
  // Error: why nothing was done, for /qubix24/error.
  std::string error;
};

OscTranslation TranslateOsc(std::string_view address, const std::vector<OscArg>& args);

// OSC address patterns: "?" one character, "*" any run of characters (neither crosses "/"),
// "[1-4]" / "[!1-4]" a character in (not in) the list, "{a,b}" one of the strings.
bool IsOscPattern(std::string_view address);
// Whether a pattern matches an address. The work is bounded by the product of their lengths,
// and an address or pattern longer than kMaxPatternLength never matches.
inline constexpr std::size_t kMaxPatternLength = 256;
bool MatchOscPattern(std::string_view pattern, std::string_view address);

// The machines of one bus, as the address space names them.
struct OscSpaceMachine {
  int slot = 0;  // 1 ... 8
  std::string id;
};
struct OscSpaceBus {
  std::string name;
  std::vector<OscSpaceMachine> machines;
};

// The addresses a pattern stands for among the service's addresses (each machine once, named
// as the pattern matched it: by slot number or by identifier), in the order of the buses,
// machines and the address table. More than max targets, or none, come to an error.
inline constexpr std::size_t kMaxPatternTargets = 80;
struct OscExpansion {
  std::vector<std::string> addresses;
  std::string error;
};
OscExpansion ExpandOscPattern(std::string_view pattern, const std::vector<OscSpaceBus>& space,
                              std::size_t max = kMaxPatternTargets);

// When a bundle's contents run: its time tag (NTP: seconds since 1900 in the upper 32 bits,
// the fraction in the lower) against the time now. The tag 1 and any time already past run
// now; a time up to `limit` ahead waits; further ahead is refused.
struct BundleTiming {
  enum class Kind { Now, Later, TooFar };
  Kind kind = Kind::Now;
  std::chrono::milliseconds wait{0};
};
inline constexpr std::chrono::seconds kMaxBundleWait{60};
BundleTiming TimeBundle(std::uint64_t timeTag, std::chrono::system_clock::time_point now,
                        std::chrono::seconds limit = kMaxBundleWait);
// The time tag of a moment (for senders and tests).
std::uint64_t TimeTagOf(std::chrono::system_clock::time_point when);

// Whether an address of a machine names it by slot number ("/qubix24/main/3/...") or by
// identifier; nullopt for an address of no machine.
enum class MachineForm { Identifier, Slot };
std::optional<MachineForm> MachineFormOf(std::string_view address);
// The same address with its machine segment (the one after the bus) replaced.
std::string WithMachine(std::string_view address, std::string_view machine);

// Limits the help text states (the server keeps them).
inline constexpr std::chrono::seconds kSubscriptionLife{60};
inline constexpr std::chrono::seconds kAdmissionIdle{600};
inline constexpr int kMaxPendingBundles = 32;

// The address space as `qubix24d --osc-help` prints it: one line per address with its
// argument and the request it becomes.
std::string OscHelpText();

}  // namespace qubix::service::osc
