// The service's OSC address space and its translation into API requests. An OSC message is
// never acted on by itself: each address becomes the HTTP request that does the same through
// the API (same checks, same frames on the wire). Standard C++ only: neither Qt nor liblo, so
// the table is tested on its own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qubix::service::osc {

inline constexpr std::string_view kRoot = "/qubix24";
inline constexpr std::string_view kErrorAddress = "/qubix24/error";
inline constexpr std::string_view kSubscribeAddress = "/qubix24/subscribe";
inline constexpr std::string_view kUnsubscribeAddress = "/qubix24/unsubscribe";

// One decoded OSC argument: its type tag ('i', 'h', 'f', 'd', 's', 'T', 'F', ...) and its
// value as a number (integers, floats, true/false) or as text (strings, symbols).
struct OscArg {
  char type = 0;
  double number = 0.0;
  std::string text;
};

// What an OSC message comes to.
struct OscTranslation {
  enum class Kind { Request, Subscribe, Unsubscribe, Error };
  Kind kind = Kind::Error;
  // Request: the API request that does what the address asks.
  std::string method;
  std::string path;
  std::string body;  // JSON, empty for none
  // Error: why nothing was done, for /qubix24/error.
  std::string error;
};

OscTranslation TranslateOsc(std::string_view address, const std::vector<OscArg>& args);

// The address space as `qubix24d --osc-help` prints it: one line per address with its
// argument and the request it becomes.
std::string OscHelpText();

}  // namespace qubix::service::osc
