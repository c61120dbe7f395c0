// The command line of qubix24: which adapter to use.
#pragma once

#include <string>
#include <vector>

namespace qubix::app {

struct Options {
  // The adapter: "" (a real adapter; none is built in yet, so nothing is listed), "sim:",
  // "serial:DEVICE", "ftdi:[DESCRIPTION]" or "d2xx:".
  std::string link;
  bool help = false;
  std::string error;  // not empty: the command line was not understood
};

// args without the program name.
Options ParseOptions(const std::vector<std::string>& args);

std::string UsageText();

}  // namespace qubix::app
