#include "link/backends/net/NetAddress.h"

#include <algorithm>
#include <cctype>

namespace qubix::link::backends {

std::string NetAddress::text() const {
  return host.find(':') == std::string::npos ? host + ":" + port : "[" + host + "]:" + port;
}

bool parseNetAddress(std::string_view text, NetAddress& address, std::string& error,
                     bool allowZeroPort) {
  const std::string quoted = "\"" + std::string(text) + "\"";
  std::string_view host;
  std::string_view port;
  if (!text.empty() && text.front() == '[') {
    const auto close = text.find(']');
    if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':') {
      error = quoted + ": write an IPv6 address as [ADDRESS]:PORT";
      return false;
    }
    host = text.substr(1, close - 1);
    port = text.substr(close + 2);
  } else {
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos) {
      error = quoted + ": the port is missing (HOST:PORT)";
      return false;
    }
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (host.find(':') != std::string_view::npos) {
      error = quoted + ": write an IPv6 address in brackets, as [::1]:2000";
      return false;
    }
  }
  if (host.empty()) {
    error = quoted + ": the host is missing (HOST:PORT)";
    return false;
  }
  const bool digits =
      !port.empty() && port.size() <= 5 && std::all_of(port.begin(), port.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c));
      });
  const long number = digits ? std::stol(std::string(port)) : -1;
  if (number < (allowZeroPort ? 0 : 1) || number > 65535) {
    error =
        quoted + ": the port must be a number from " + (allowZeroPort ? "0" : "1") + " to 65535";
    return false;
  }
  address.host = std::string(host);
  address.port = std::to_string(number);
  error.clear();
  return true;
}

}  // namespace qubix::link::backends
