// The libftdi backend against an emulated FT232R: libftdi runs for real, and the USB requests it
// sends on the backend's behalf and the packets it reads back are the chip's (UsbStandIn.h).
// Bus behaviour is checked on the simulated processors' wire, in the chip's virtual time.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "UsbStandIn.h"
#include "link/Link.h"
#include "link/backends/auto/AutoAdapter.h"
#include "link/backends/d2xx/D2xxAdapter.h"
#include "link/backends/ftdi/FtdiAdapter.h"
#include "network/HardwarePreset.h"
#include "network/HfpFile.h"
#include "network/MachineList.h"
#include "network/Station.h"
#include "protocol/Bus.h"
#include "protocol/Hex.h"
#include "support/CaseNames.h"
#include "support/RecordingFrontend.h"
#include "support/RunCommand.h"
#include "support/TempDir.h"

namespace qubix::test {
namespace {

using link::backends::FtdiAdapter;
using test::ControlRequest;
using test::TempDir;
using Requests = std::vector<ControlRequest>;

constexpr std::uint8_t kOut = 0x40;
constexpr std::uint8_t kIn = 0xc0;

// Writes maclist.dat with the demo processors.
void ListDemoMachines(const std::filesystem::path& dir) {
  network::MachineList list;
  for (const char* id : {"H000000010001", "H000000010002", "H000000010005"})
    list.setEntry(list.count++, id);
  std::string error;
  ASSERT_TRUE(network::WriteMachineListFile(dir / network::kMachineListFile, list, error)) << error;
}

class EmulatedFtdi : public ::testing::Test {
 protected:
  void SetUp() override {
    chip_ = qubix_usb_standin();
    chip_->restart(sim::makeDemoBus(), sim::ClockMode::Virtual);
  }

  // The backend reads on the chip's clock, so a time-out costs no real time.
  std::unique_ptr<FtdiAdapter> adapter(std::string description = "") {
    sim::SimClock* clock = &chip_->clock();
    return std::make_unique<FtdiAdapter>(
        std::move(description),
        link::backends::ReadClock{[clock] { return clock->nowMs(); }, [] {}});
  }
  std::unique_ptr<link::Link> connect(std::string description = "") {
    auto link = std::make_unique<link::Link>(adapter(std::move(description)), frontend_);
    link->Connect();
    return link;
  }
  double now() const { return chip_->clock().nowMs(); }
  // When the last byte now on its way to the PC reaches the chip.
  double lastArrival() const { return chip_->bus().pending().back().atMs; }

  test::EmulatedChip* chip_ = nullptr;
  test::RecordingFrontend frontend_;
};

struct Listing {
  const char* name;
  std::string product;      // the chip's USB product string
  std::string description;  // after "ftdi:"
  bool connects;
  std::string status;
};

class EmulatedFtdiListing : public EmulatedFtdi, public ::testing::WithParamInterface<Listing> {};

TEST_P(EmulatedFtdiListing, FindsTheChipByItsProductString) {
  const Listing& c = GetParam();
  chip_->setup().product = c.product;
  auto link = connect(c.description);
  EXPECT_EQ(link->state().Connected, c.connects) << frontend_.statusDetail;
  EXPECT_EQ(frontend_.statusText, c.status);
  EXPECT_EQ(link->state().deviceCount, c.connects ? 1u : 0u);
  if (c.connects) {
    ASSERT_TRUE(link->QueryDeviceInfo());
    EXPECT_EQ(link->state().deviceInfo.description.data(), c.product);
    EXPECT_STREQ(link->state().deviceInfo.serialNumber.data(), "QX240001");
    EXPECT_EQ(link->state().deviceInfo.id, 0x04036001u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Descriptions, EmulatedFtdiListing,
    ::testing::Values(
        Listing{"any_chip_to422", "Velmoria USBTo422", "", true, "Velmoria USBTo422"},
        Listing{"any_chip_usbnet", "Velmoria USBNet", "", true, "Velmoria USBNet"},
        Listing{"named_usbnet", "Velmoria USBNet", "Velmoria USBNet", true, "Velmoria USBNet"},
        Listing{"named_other_chip", "Velmoria USBTo422", "Velmoria USBNet", false, "NoOpenDvc"},
        // Any other chip is opened all the same; its description is not shown.
        Listing{"foreign_chip", "FT232R USB UART", "", true, ""}),
    test::ByNameField{});

// What the chip is told on connect, in order: libftdi's own reset and 9600 baud on opening,
// then the latency timer and event character, then the link's reset, purges and line settings.
TEST_F(EmulatedFtdi, ConnectSendsTheControlRequestsWithTheirValues) {
  auto link = connect();
  ASSERT_TRUE(link->state().Connected) << frontend_.statusDetail;
  const Requests expected = {
      {kOut, 0x00, 0x0000, 1, 0},  // reset
      {kOut, 0x03, 0x4138, 0, 0},  // 9600 baud: 3 MHz / 312.5
      {kOut, 0x09, 0x0002, 1, 0},  // latency timer 2 ms
      {kOut, 0x06, 0x014f, 1, 0},  // event character "O", enabled
      {kOut, 0x00, 0x0000, 1, 0},  // reset
      {kOut, 0x00, 0x0001, 1, 0},  // purge what waits for the line
      {kOut, 0x00, 0x0002, 1, 0},  // purge what waits for the PC
      {kOut, 0x03, 0x001a, 0, 0},  // 115200 baud: 3 MHz / 26 (115385, 0.16 % fast)
      {kOut, 0x04, 0x0008, 1, 0},  // 8 bits, no parity, 1 stop bit
      {kOut, 0x02, 0x0000, 1, 0},  // no flow control
  };
  EXPECT_EQ(chip_->controlRequests(), expected);
  EXPECT_NEAR(chip_->baudRate(), 115384.6, 0.1);
  EXPECT_TRUE(chip_->eightNOne());

  chip_->clearLog();
  std::uint8_t ms = 0;
  ASSERT_EQ(link->adapter().getLatencyTimer(link->state().handle, ms), link::kOk);
  EXPECT_EQ(ms, 2);
  ASSERT_TRUE(link->QueryDeviceInfo());  // polls the modem status: the chip must be there
  const Requests readBack = {{kIn, 0x0a, 0, 1, 1}, {kIn, 0x05, 0, 1, 2}};
  EXPECT_EQ(chip_->controlRequests(), readBack);
}

TEST_F(EmulatedFtdi, SelectAndQueryReachTheBusAndEveryPacketStartsWithTheStatus) {
  auto link = connect();
  protocol::Bus bus(*link, frontend_);
  chip_->bus().clearTranscript();
  chip_->clearLog();
  const protocol::Identifier second{0, 0, 0, 1, 0, 2};
  ASSERT_TRUE(bus.SelectMachine(protocol::SelectFrame(second)));
  ASSERT_TRUE(bus.ReadParameter(protocol::param::kHardwarePreset));
  EXPECT_EQ(bus.ParameterValue, 3);
  EXPECT_EQ(chip_->bus().pcBytes(), "eR" + protocol::SelectFrame(second) + "I12ee");
  EXPECT_EQ(frontend_.statusText, "Status Ok");
  ASSERT_FALSE(chip_->inPackets().empty());
  std::string data;
  for (const std::string& packet : chip_->inPackets()) {
    ASSERT_GE(packet.size(), 2u);
    EXPECT_EQ(packet.substr(0, 2), "\x01\x60");
    data += packet.substr(2);
  }
  EXPECT_EQ(data, chip_->bus().machineBytes());
  EXPECT_EQ(data.back(), 'O');
}

TEST_F(EmulatedFtdi, ReadEndsAtItsTimeoutAndDrainLeavesNothing) {
  auto link = connect();
  link->SetReadTimeout(60);
  link->state().ReplyLength = 5;
  const double start = now();
  EXPECT_FALSE(link->ReadReply());
  EXPECT_EQ(link->state().bytesRead, 0u);
  // The read ends with the first chip packet after its time-out: within one latency period.
  EXPECT_GE(now() - start, 60.0);
  EXPECT_LE(now() - start, 62.0);

  protocol::Bus bus(*link, frontend_);
  ASSERT_TRUE(bus.SelectMachine(protocol::SelectFrame({0, 0, 0, 1, 0, 5})));
  ASSERT_TRUE(link->WriteText("I19e7"));  // 128 reply bytes nobody reads
  link->DrainInput();
  EXPECT_TRUE(chip_->bus().pending().empty());
  link->SetReadTimeout(30);
  link->state().ReplyLength = 1;
  EXPECT_FALSE(link->ReadReply());
  EXPECT_EQ(link->state().bytesRead, 0u);
}

struct ChipSetting {
  const char* name;
  std::uint8_t latencyMs;
  bool eventCharacter;
  double ackWaitsAtMostMs;  // after the "O" of the select reached the chip
  bool replyWaits;          // for the timer, after the query reply's last byte
};

class EmulatedFtdiTiming : public EmulatedFtdi,
                           public ::testing::WithParamInterface<ChipSetting> {};

// A one-byte acknowledgement always waits for the timer (the first-byte rule); a reply ending
// in the event character is passed on as its last byte arrives.
TEST_P(EmulatedFtdiTiming, RepliesReachThePcWhenTheChipSendsThem) {
  const ChipSetting& c = GetParam();
  auto link = connect();
  auto& adapter = link->adapter();
  const link::Handle h = link->state().handle;
  if (c.latencyMs != 2) {
    ASSERT_EQ(adapter.setLatencyTimer(h, c.latencyMs), link::kOk);
  }
  if (!c.eventCharacter) {
    ASSERT_EQ(adapter.setEventCharacter(h, 'O', false), link::kOk);
  }

  ASSERT_TRUE(link->WriteText(protocol::SelectFrame({0, 0, 0, 1, 0, 1})));
  const double ack = lastArrival();
  link->state().ReplyLength = 1;
  ASSERT_TRUE(link->ReadReply());
  EXPECT_GT(now() - ack, 0.0);
  EXPECT_LE(now() - ack, c.ackWaitsAtMostMs);

  ASSERT_TRUE(link->WriteText("I12ee"));
  const double reply = lastArrival();
  link->state().ReplyLength = 7;
  ASSERT_TRUE(link->ReadReply());
  EXPECT_EQ(now() > reply, c.replyWaits) << now() - reply;
}

INSTANTIATE_TEST_SUITE_P(
    Settings, EmulatedFtdiTiming,
    ::testing::Values(ChipSetting{"as_connect_sets_it", 2, true, 2.0, false},
                      ChipSetting{"without_event_character", 2, false, 2.0, true},
                      ChipSetting{"chip_default_timer", 16, true, 16.0, false}),
    test::ByNameField{});

// The upload echoes every byte, so each of its 3722 exchanges waits for the latency timer.
TEST_F(EmulatedFtdi, ExtraPresetUploadOnTheVirtualClock) {
  TempDir dir;
  ListDemoMachines(dir.path());
  network::HfpImage image{};
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 3);
  const std::string name = "HALL PRESET       ";
  std::copy(name.begin(), name.end(), image.begin() + network::kHfpPayloadOffset);
  network::SealHfpImage(image);
  const auto file = dir.path() / "Hall.hfp";
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()),
             static_cast<std::streamsize>(image.size()));

  network::Station station(adapter(), frontend_, dir.path());
  station.Connect();
  ASSERT_TRUE(station.link.state().Connected) << frontend_.statusDetail;
  ASSERT_EQ(station.network.RefreshMachines(), network::RefreshOutcome::Done);
  sim::SimClock& clock = chip_->clock();
  network::TickCounter ticks([&clock] { return clock.nowMs(); });
  network::HardwarePresets presets(station.link, station.bus, station.commands, frontend_,
                                   station.network, ticks);
  const double start = now();
  ASSERT_EQ(presets.UploadExtraPresetFile(0, file.string()), network::UploadOutcome::Done);
  const double elapsed = now() - start;

  const auto& machine = *chip_->bus().find("H000000010001");
  EXPECT_TRUE(machine.extraPresent);
  EXPECT_EQ(machine.extraName, name);
  EXPECT_TRUE(std::equal(image.begin() + 4, image.begin() + 3726, machine.extraImage.begin() + 4));
  // Each byte out and its echo back take two byte times and at most one 2 ms period, and the
  // drain after the upload its 5 s time-out; with the chip's default 16 ms timer the same
  // upload would take a minute.
  const double bytes = network::kHfpPayloadSize;
  const double byteMs = chip_->bus().wire().byteMs();
  EXPECT_GT(elapsed, bytes * 2 * byteMs + 5000.0);
  EXPECT_LT(elapsed, bytes * (2 * byteMs + 3.0) + 6000.0);
}

// Pulled out in the middle of a refresh: the write fails at the driver, the link says
// "Connection Fail" and drops the connection; connecting finds no chip until it is back.
TEST_F(EmulatedFtdi, UnplugInTheMiddleOfARefreshAndReconnect) {
  TempDir dir;
  ListDemoMachines(dir.path());
  network::Station station(adapter(), frontend_, dir.path());
  int restarts = 0;
  struct CountingView final : network::NetworkView {
    explicit CountingView(int& restarts) : restarts(restarts) {}
    void restartConnectTimer() override { ++restarts; }
    int& restarts;
  } view(restarts);
  station.setView(&view);
  station.link.onConnectionLost = [&] { ++restarts; };
  station.Connect();
  ASSERT_TRUE(station.link.state().Connected) << frontend_.statusDetail;
  chip_->bus().clearTranscript();

  // Gone one byte into the second machine's select frame.
  ASSERT_EQ(station.network.RefreshMachines(), network::RefreshOutcome::Done);
  const std::string full = chip_->bus().pcBytes();
  const auto second = full.find("H000000010002");
  ASSERT_NE(second, std::string::npos);
  station.network.ClearSlots();
  chip_->bus().clearTranscript();
  frontend_.forgetHistory();
  chip_->unplugAfterBytes(second + 1);

  EXPECT_EQ(station.network.RefreshMachines(), network::RefreshOutcome::SelectFailed);
  EXPECT_FALSE(chip_->pluggedIn());
  EXPECT_EQ(chip_->bus().pcBytes(), full.substr(0, second + 1));
  EXPECT_FALSE(station.link.state().Connected);
  EXPECT_EQ(restarts, 1);
  EXPECT_EQ(frontend_.statusText, "Connection Fail");
  EXPECT_EQ(frontend_.statusColour, link::kRed);
  EXPECT_NE(frontend_.statusDetail.find("ftdi: write: "), std::string::npos)
      << frontend_.statusDetail;
  EXPECT_EQ(station.network.slotStates()[0].identifier, "H000000010001");
  EXPECT_EQ(station.network.slotStates()[1].identifier, "");

  int stops = 0;
  station.ConnectionTick([&] { ++stops; });
  EXPECT_EQ(frontend_.statusText, "NoOpenDvc");
  EXPECT_FALSE(station.link.state().Connected);

  chip_->plugIn();
  chip_->bus().clearTranscript();
  station.ConnectionTick([&] { ++stops; });
  EXPECT_TRUE(station.link.state().Connected) << frontend_.statusDetail;
  EXPECT_EQ(stops, 1);
  // The refresh after the reconnect reads all three again.
  EXPECT_NE(chip_->bus().pcBytes().find("H000000010005"), std::string::npos);
  EXPECT_EQ(station.network.slotStates()[2].identifier, "H000000010005");
}

// Started without --link: no serial port of the kernel's driver, so the default takes the chip
// through libftdi, and the machines answer through it.
TEST_F(EmulatedFtdi, DefaultAdapterTakesTheChipAndTheMachinesAnswer) {
  TempDir dir;
  ListDemoMachines(dir.path());
  TempDir noPorts("qubix-tty");
  link::backends::AutoSources sources;
  sources.ttyClassDir = noPorts.path().string();
  sources.ftdi = [this](std::string&) -> std::unique_ptr<link::Adapter> { return adapter(); };
  sources.d2xx = [] {
    return std::make_unique<link::backends::D2xxAdapter>("/nonexistent/libftd2xx.so");
  };
  network::Station station(std::make_unique<link::backends::AutoAdapter>(sources), frontend_,
                           dir.path());

  // Nothing on the USB: the reason says what was looked for, and the next attempt tries again.
  chip_->unplugAtMs(now());
  station.Connect();
  ASSERT_FALSE(station.link.state().Connected);
  EXPECT_EQ(frontend_.statusText, "NoOpenDvc");
  EXPECT_EQ(station.link.lastAdapterError(),
            "no FTDI adapter (vendor 0403): no serial port of ftdi_sio in " +
                noPorts.path().string() +
                "; libftdi found no device; d2xx: /nonexistent/libftd2xx.so not installed");
  EXPECT_EQ(frontend_.statusDetail, station.link.lastAdapterError());

  chip_->plugIn();
  station.Connect();
  ASSERT_TRUE(station.link.state().Connected) << frontend_.statusDetail;
  EXPECT_EQ(station.link.adapter().backendName(), "auto: ftdi device 0 (Velmoria USBTo422)");
  chip_->bus().clearTranscript();
  ASSERT_EQ(station.network.RefreshMachines(), network::RefreshOutcome::Done);
  for (std::size_t i = 0; i < 3; ++i)
    EXPECT_EQ(station.network.slotStates()[i].identifier, std::string("H00000001000") + "125"[i]);
  EXPECT_NE(chip_->bus().pcBytes().find("H000000010005"), std::string::npos);
}

#ifdef QUBIX24CTL
struct SelfTestRun {
  const char* name;
  std::string fault;  // QUBIX_USB_STANDIN_FAULT
  std::string options;
  int exitStatus;
  std::vector<std::string> lines;  // each must appear in the output
  std::string link = "ftdi:";      // "" for none: the default adapter
};

class EmulatedFtdiSelfTest : public ::testing::TestWithParam<SelfTestRun> {};

// qubix24ctl as the operator runs it, the stand-in preloaded and on the real clock.
TEST_P(EmulatedFtdiSelfTest, ReportsAndJudges) {
  const SelfTestRun& r = GetParam();
  TempDir dir;
  // The default adapter finds no serial port in the (empty) data directory and no vendor library.
  const std::string command = "env LD_PRELOAD='" QUBIX_USB_STANDIN "' QUBIX_USB_STANDIN_FAULT='" +
                              r.fault + "' QUBIX_TTY_CLASS_DIR='" + dir.path().string() +
                              "' QUBIX_D2XX_LIBRARY=/nonexistent/libftd2xx.so '" QUBIX24CTL
                              "' selftest " +
                              (r.link.empty() ? std::string() : "--link " + r.link) +
                              " --data-dir '" + dir.path().string() + "' " + r.options;
  const auto run = test::RunCommand(command);
  EXPECT_EQ(run.exitStatus, r.exitStatus) << run.output;
  for (const std::string& line : r.lines)
    EXPECT_NE(run.output.find(line), std::string::npos) << line << "\n" << run.output;
}

// Runs on the real clock: a loaded machine may make a working link "slow", which exits 0 like
// "pass"; so the exit status, not the verdict's word, tells a working link here.
INSTANTIATE_TEST_SUITE_P(
    Runs, EmulatedFtdiSelfTest,
    ::testing::Values(
        SelfTestRun{"passes",
                    "",
                    "",
                    0,
                    {"backend      ftdi", "description  Velmoria USBTo422", "serial       QX240001",
                     "latency      2 ms (read back)", "event char   \"O\" (set)",
                     "machine      H000000010001 (found by scanning)"}},
        SelfTestRun{
            "passes_json", "", "--json", 0, {"\"backend\":\"ftdi\"", "\"latency_timer_ms\":2"}},
        SelfTestRun{"no_permission", "denied", "", 1, {"verdict      fail", "permission"}},
        SelfTestRun{
            "kernel_driver_bound_is_detached", "driver", "", 0, {"machine      H000000010001"}},
        SelfTestRun{"claimed_by_another_program",
                    "claimed",
                    "",
                    1,
                    {"is in use by another program",
                     "advice       another program has the "
                     "adapter open"}},
        SelfTestRun{"default_adapter_finds_the_chip",
                    "",
                    "",
                    0,
                    {"backend      auto: ftdi device 0 (Velmoria USBTo422)",
                     "machine      H000000010001 (found by scanning)"},
                    ""},
        SelfTestRun{"default_adapter_says_what_it_looked_for",
                    "absent",
                    "",
                    1,
                    {"backend      auto",
                     "no FTDI adapter (vendor 0403): no serial port of "
                     "ftdi_sio in "},
                    ""},
        SelfTestRun{"nothing_answers",
                    "silent",
                    "--scan-to 3",
                    1,
                    {"machine      none answered", "verdict      fail",
                     "advice       no machine answered: check the bus termination and wiring"}}),
    test::ByNameField{});
#endif

}  // namespace
}  // namespace qubix::test
