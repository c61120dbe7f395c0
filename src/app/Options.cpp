#include "app/Options.h"

namespace qubix::app {

Options ParseOptions(const std::vector<std::string>& args) {
  Options o;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--simulator") {
      o.link = "sim:";
    } else if (a == "--link") {
      if (i + 1 >= args.size()) {
        o.error = "--link needs an adapter, e.g. --link sim:";
        return o;
      }
      o.link = args[++i];
    } else if (a.rfind("--link=", 0) == 0) {
      o.link = a.substr(7);
    } else if (a == "--help" || a == "-h") {
      o.help = true;
    } else {
      o.error = "unknown option \"" + a + "\"";
      return o;
    }
  }
  if (!o.link.empty() && o.link.find(':') == std::string::npos) {
    o.error = "an adapter is written with a colon: sim:, serial:DEVICE, ftdi:, d2xx:, "
              "tcp:HOST:PORT, rfc2217:HOST:PORT";
  }
  return o;
}

std::string UsageText() {
  return "usage: qubix24 [--simulator | --link ADAPTER]\n"
         "  --simulator        run on the built-in simulated bus (same as --link sim:)\n"
         "  --link sim:        the simulated bus of three processors\n"
         "  --link serial:DEV  a serial port, e.g. serial:/dev/ttyUSB0\n"
         "  --link ftdi:[DESC] the adapter through direct USB access\n"
         "  --link d2xx:       the adapter through the vendor's driver library\n"
         "  --link tcp:HOST:PORT      a bus behind a device server's raw TCP port\n"
         "  --link rfc2217:HOST:PORT  the same over Telnet, the program setting the line\n"
         "Without --link the program looks for a real adapter and retries until one appears.\n"
         "The data directory is the current directory.\n";
}

}  // namespace qubix::app
