// The default adapter (no --link): which FTDI adapter it takes, in which order, and what it says
// when there is none. The serial ports are a made-up /sys/class/tty; the backends behind each
// stage are simulated buses or a vendor library that is not there.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FakeTtyTree.h"
#include "link/Link.h"
#include "link/backends/auto/AutoAdapter.h"
#include "link/backends/d2xx/D2xxAdapter.h"
#include "sim/SimAdapter.h"
#include "sim/SimBus.h"
#include "support/CaseNames.h"
#include "support/RecordingFrontend.h"

namespace qubix::test {
namespace {

using link::backends::AutoAdapter;
using link::backends::AutoSources;

constexpr const char* kNoLibrary = "/nonexistent/libftd2xx.so";

// Each stage's backend: a simulated bus with one adapter on it, or with none; the vendor library
// present (simulated) or missing. Records what the default asked of them.
struct Stages {
  bool ftdiChip = false;
  bool d2xxLoaded = false;
  std::vector<std::string> serialOpened;
  int ftdiMade = 0;
  int d2xxMade = 0;

  AutoSources sources(const FakeTtyTree& tree) {
    AutoSources s;
    s.ttyClassDir = tree.classDir();
    s.devDir = tree.devDir();
    s.serial = [this](const std::string& device, std::string&) {
      serialOpened.push_back(device);
      return std::unique_ptr<link::Adapter>(std::make_unique<sim::SimAdapter>(sim::makeDemoBus()));
    };
    s.ftdi = [this](std::string&) {
      ++ftdiMade;
      auto sim = std::make_unique<sim::SimAdapter>(sim::makeDemoBus());
      sim->deviceCount = ftdiChip ? 1 : 0;
      return std::unique_ptr<link::Adapter>(std::move(sim));
    };
    s.d2xx = [this]() -> std::unique_ptr<link::Adapter> {
      ++d2xxMade;
      if (d2xxLoaded) return std::make_unique<sim::SimAdapter>(sim::makeDemoBus());
      return std::make_unique<link::backends::D2xxAdapter>(kNoLibrary);
    };
    return s;
  }
};

struct Choice {
  const char* name;
  std::vector<std::string> ftdiPorts;  // serial ports of vendor 0403, in the order they appear
                                       // (taken by number: ttyUSB2 before ttyUSB10)
  bool ftdiChip;
  bool d2xxLoaded;
  std::string taken;  // backendName() once connected, "" when nothing opens
  int ftdiMade;       // whether the libftdi stage was looked at
};

class AutoChoice : public ::testing::TestWithParam<Choice> {};

TEST_P(AutoChoice, TakesTheFirstStageThatFindsADevice) {
  const Choice& c = GetParam();
  FakeTtyTree tree;
  tree.addVirtual("tty0");
  tree.addPort("ttyS0", "", "");             // not on the USB
  tree.addPort("ttyACM0", "2341", "Board");  // another maker's USB serial port
  for (const std::string& name : c.ftdiPorts) tree.addPort(name, "0403", "Velmoria USBTo422");
  Stages stages;
  stages.ftdiChip = c.ftdiChip;
  stages.d2xxLoaded = c.d2xxLoaded;
  RecordingFrontend frontend;
  link::Link link(std::make_unique<AutoAdapter>(stages.sources(tree)), frontend);
  link.Connect();

  EXPECT_EQ(link.state().Connected, !c.taken.empty()) << frontend.statusDetail;
  std::string taken = c.taken.empty() ? "auto" : c.taken;
  if (const auto at = taken.find("SERIAL0"); at != std::string::npos)
    taken.replace(at, 7, tree.devDir() + "/ttyUSB2");
  EXPECT_EQ(link.adapter().backendName(), taken);
  EXPECT_EQ(stages.ftdiMade, c.ftdiMade);
  if (!c.ftdiPorts.empty()) {
    EXPECT_EQ(stages.serialOpened, std::vector<std::string>{tree.devDir() + "/ttyUSB2"});
  }
  if (c.taken.empty()) {
    const std::string reason = "no FTDI adapter (vendor 0403): no serial port of ftdi_sio in " +
                               tree.classDir() + "; libftdi found no device; d2xx: " + kNoLibrary +
                               " not installed";
    EXPECT_EQ(frontend.statusText, "NoOpenDvc");
    EXPECT_EQ(frontend.statusDetail, reason);
    EXPECT_EQ(link.lastAdapterError(), reason);
  } else {
    EXPECT_EQ(frontend.statusText, "Velmoria USBTo422");
    EXPECT_EQ(link.lastAdapterError(), "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Stages, AutoChoice,
    ::testing::Values(
        Choice{"serial_port_before_the_chip",
               {"ttyUSB10", "ttyUSB2"},
               true,
               true,
               "auto: serial SERIAL0 (Velmoria USBTo422), the first of 2",
               0},
        Choice{"chip_when_no_serial_port",
               {},
               true,
               true,
               "auto: ftdi device 0 (Velmoria USBTo422)",
               1},
        Choice{
            "vendor_library_last", {}, false, true, "auto: d2xx device 0 (Velmoria USBTo422)", 1},
        Choice{"nothing", {}, false, false, "", 1}),
    ByNameField{});

}  // namespace
}  // namespace qubix::test
