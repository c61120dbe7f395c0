// The address part of a network link ("HOST:PORT", "[IPv6]:PORT"), read the same way by the
// network backends and by qubix24-sim --tcp, whether or not the network library is built in.
#pragma once

#include <string>
#include <string_view>

namespace qubix::link::backends {

// What the host of an address is: a name to be looked up, or a numeric address that needs no
// name server.
enum class NetHostKind { Name, Ipv4, Ipv6 };

struct NetAddress {
  std::string host;  // a name, an IPv4 address or an IPv6 address without its brackets
  std::string port;  // 1 ... 65535 (0 only where allowZeroPort)
  NetHostKind kind = NetHostKind::Name;
  // "host:port", with an IPv6 address in brackets again.
  std::string text() const;
};

// Reads "HOST:PORT" strictly; false with a person-readable reason in `error`. HOST is a DNS name
// (letters, digits and hyphens in dot-separated labels), an IPv4 address in dotted-quad form or
// an IPv6 address in brackets (its colons would otherwise swallow the port), optionally with a
// zone ("[fe80::1%eth0]"); PORT is a decimal number from 1 to 65535. Nothing else passes, so no
// text can reach the network library as options or a second address. A listener may ask for
// port 0 (any free port).
bool parseNetAddress(std::string_view text, NetAddress& address, std::string& error,
                     bool allowZeroPort = false);

}  // namespace qubix::link::backends
