// A number as the program writes it for the operator: the shortest general form ("0", "-3.5",
// "12"), never "-0".
#pragma once

#include <cstdio>
#include <string>

namespace qubix::protocol {

inline std::string ShortNumber(double value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", value == 0.0 ? 0.0 : value);
  return buf;
}

}  // namespace qubix::protocol
