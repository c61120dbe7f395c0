#include "link/backends/net/NetAddress.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>

namespace qubix::link::backends {

namespace {

bool isDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }
bool isAlnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

// A host name as the resolver takes it: dot-separated labels of 1 to 63 letters, digits and
// hyphens, no label starting or ending with a hyphen, at most 253 characters, an optional final
// dot. The last label is not all digits, so that a mistyped IPv4 address ("10.0.0.256") is not
// sent to a name server as a name.
bool isHostName(std::string_view host) {
  if (!host.empty() && host.back() == '.') host.remove_suffix(1);
  if (host.empty() || host.size() > 253) return false;
  std::string_view last;
  for (std::size_t start = 0; start <= host.size();) {
    const std::size_t dot = std::min(host.find('.', start), host.size());
    const std::string_view label = host.substr(start, dot - start);
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-' ||
        !std::all_of(label.begin(), label.end(), [](char c) { return isAlnum(c) || c == '-'; }))
      return false;
    last = label;
    start = dot + 1;
  }
  return !std::all_of(last.begin(), last.end(), isDigit);
}

bool isIpv4(const std::string& host) {
  in_addr a{};
  return inet_pton(AF_INET, host.c_str(), &a) == 1;
}

// An IPv6 address, with an optional zone of letters, digits, '.', '_' and '-' after a '%'.
bool isIpv6(std::string_view host) {
  const auto percent = host.find('%');
  if (percent != std::string_view::npos) {
    const std::string_view zone = host.substr(percent + 1);
    if (zone.empty() || !std::all_of(zone.begin(), zone.end(), [](char c) {
          return isAlnum(c) || c == '.' || c == '_' || c == '-';
        }))
      return false;
  }
  in6_addr a{};
  return inet_pton(AF_INET6, std::string(host.substr(0, percent)).c_str(), &a) == 1;
}

}  // namespace

std::string NetAddress::text() const {
  return host.find(':') == std::string::npos ? host + ":" + port : "[" + host + "]:" + port;
}

bool parseNetAddress(std::string_view text, NetAddress& address, std::string& error,
                     bool allowZeroPort) {
  const std::string quoted = "\"" + std::string(text) + "\"";
  std::string_view host;
  std::string_view port;
  const bool bracketed = !text.empty() && text.front() == '[';
  if (bracketed) {
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
  NetHostKind kind = NetHostKind::Name;
  if (bracketed) {
    if (!isIpv6(host)) {
      error = quoted + ": \"" + std::string(host) + "\" is not an IPv6 address";
      return false;
    }
    kind = NetHostKind::Ipv6;
  } else if (isIpv4(std::string(host))) {
    kind = NetHostKind::Ipv4;
  } else if (!isHostName(host)) {
    error = quoted + ": \"" + std::string(host) +
            "\" is neither a host name nor an IPv4 address (an IPv6 address goes in brackets)";
    return false;
  }
  const bool digits =
      !port.empty() && port.size() <= 5 && std::all_of(port.begin(), port.end(), isDigit);
  const long number = digits ? std::stol(std::string(port)) : -1;
  if (number < (allowZeroPort ? 0 : 1) || number > 65535) {
    error =
        quoted + ": the port must be a number from " + (allowZeroPort ? "0" : "1") + " to 65535";
    return false;
  }
  address.host = std::string(host);
  address.port = std::to_string(number);
  address.kind = kind;
  error.clear();
  return true;
}

}  // namespace qubix::link::backends
