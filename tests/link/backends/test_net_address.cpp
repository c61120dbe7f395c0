// Network link addresses: what is read as a host and port, and what is refused and why. Nothing
// but a name, a numeric address and a port reaches the network library.
#include <gtest/gtest.h>

#include <string>

#include "link/backends/net/NetAddress.h"

namespace qubix::test {
namespace {

using link::backends::NetHostKind;

TEST(NetAddress, ReadsNamesAndNumericAddressesAndRefusesAnythingElse) {
  constexpr const char* kNotAHost = "is neither a host name nor an IPv4 address";
  constexpr const char* kPort = "the port must be a number from 1 to 65535";
  const struct {
    std::string text;
    const char* read;  // "host port" as read, or a part of the reason it is refused
    NetHostKind kind = NetHostKind::Name;  // for what is read
  } cases[] = {
      {"127.0.0.1:2000", "127.0.0.1 2000", NetHostKind::Ipv4},
      {"com-1.bus.example.:4001", "com-1.bus.example. 4001", NetHostKind::Name},
      {"[::1]:65535", "::1 65535", NetHostKind::Ipv6},
      {"[fe80::1%eth0]:00080", "fe80::1%eth0 80", NetHostKind::Ipv6},
      // The network library reads commas and parentheses as its own syntax.
      {"127.0.0.1,37104:9", kNotAHost},
      {"ipv6,::1:9", "in brackets"},
      {"host(nodelay):9", kNotAHost},
      {"bus_1:9", kNotAHost},
      {std::string(64, 'a') + ":9", kNotAHost},
      {"10.0.0.256:9", kNotAHost},
      {"[::g]:9", "\"::g\" is not an IPv6 address"},
      {"[127.0.0.1]:9", "is not an IPv6 address"},
      {"localhost", "the port is missing"},
      {":9", "the host is missing"},
      {"localhost:0", kPort},
      {"localhost:65536", kPort},
      {"localhost:telnet", kPort},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    link::backends::NetAddress address;
    std::string error;
    if (link::backends::parseNetAddress(c.text, address, error)) {
      EXPECT_EQ(address.host + " " + address.port, c.read);
      EXPECT_EQ(address.kind, c.kind);
    } else {
      EXPECT_NE(error.find(c.read), std::string::npos) << error;
    }
  }
}

}  // namespace
}  // namespace qubix::test
