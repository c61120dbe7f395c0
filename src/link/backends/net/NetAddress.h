// The address part of a network link ("HOST:PORT", "[IPv6]:PORT"), read the same way by the
// network backends and by qubix24-sim --tcp, whether or not the network library is built in.
#pragma once

#include <string>
#include <string_view>

namespace qubix::link::backends {

struct NetAddress {
  std::string host;  // a name, an IPv4 address or an IPv6 address without its brackets
  std::string port;  // 1 ... 65535 (0 only where allowZeroPort)
  // "host:port", with an IPv6 address in brackets again.
  std::string text() const;
};

// Reads "HOST:PORT"; false with a person-readable reason in `error`. An IPv6 address must stand
// in brackets, since its colons would otherwise swallow the port. A listener may ask for port 0
// (any free port).
bool parseNetAddress(std::string_view text, NetAddress& address, std::string& error,
                     bool allowZeroPort = false);

}  // namespace qubix::link::backends
