// The vendor-library backend against the stand-in library: every driver call the link makes,
// with its arguments, and the bytes that reach the simulated bus.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <memory>

#include "StandIn.h"
#include "link/Link.h"
#include "link/backends/d2xx/D2xxAdapter.h"
#include "protocol/Bus.h"
#include "protocol/Hex.h"
#include "sim/SimAdapter.h"
#include "sim/SimBus.h"
#include "support/CaseNames.h"
#include "support/RecordingFrontend.h"

namespace qubix::test {
namespace {

using link::backends::D2xxAdapter;
using test::StandInCall;
using Calls = std::vector<StandInCall>;

class D2xxStandIn : public ::testing::Test {
 protected:
  void SetUp() override {
    library_ = dlopen(QUBIX_STANDIN_LIB, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library_, nullptr) << dlerror();
    auto get =
        reinterpret_cast<test::StandInControl* (*)()>(dlsym(library_, "qubix_standin_control"));
    ASSERT_NE(get, nullptr);
    control_ = get();
    *control_ = {};
    control_->adapter = &sim_;
  }
  void TearDown() override {
    if (control_) *control_ = {};
    if (library_) dlclose(library_);
  }

  std::unique_ptr<link::Link> connect() {
    auto link =
        std::make_unique<link::Link>(std::make_unique<D2xxAdapter>(QUBIX_STANDIN_LIB), frontend_);
    link->Connect();
    return link;
  }

  sim::SimAdapter sim_{sim::makeDemoBus()};
  test::RecordingFrontend frontend_;
  void* library_ = nullptr;
  test::StandInControl* control_ = nullptr;
};

TEST_F(D2xxStandIn, ConnectCallsTheDriverInOrderWithItsArguments) {
  auto link = connect();
  ASSERT_TRUE(link->state().Connected);
  const Calls expected = {
      {"FT_ListDevices", {0x80000000u, 0}},  // count first, to give the listing room
      {"FT_ListDevices", {0x20000002u, 1}},  // all devices by description
      {"FT_Open", {0}},
      {"FT_SetLatencyTimer", {2}},
      {"FT_SetChars", {'O', 1, 0, 0}},
      {"FT_ResetDevice", {}},
      {"FT_SetTimeouts", {200, 200}},
      {"FT_SetBaudRate", {115200}},
      {"FT_SetDataCharacteristics", {8, 0, 0}},
      {"FT_SetFlowControl", {0, 0, 0}},
  };
  EXPECT_EQ(control_->calls, expected);
  EXPECT_EQ(frontend_.statusText, "Velmoria USBTo422");
  EXPECT_EQ(sim_.baudRate(), 115200u);
  EXPECT_EQ(sim_.readTimeoutMs(), 200u);
}

TEST_F(D2xxStandIn, PrimitivesPassTheirArguments) {
  auto link = connect();
  control_->calls.clear();

  const auto handle = reinterpret_cast<std::uintptr_t>(link->state().handle);
  link->SetReadTimeout(500);
  EXPECT_TRUE(link->QueryDeviceInfo());
  link->DrainInput();  // nothing pending: exactly one read of 16
  link->CloseAdapter();

  const Calls expected = {
      {"FT_SetTimeouts", {500, 200}},
      {"FT_GetDeviceInfo", {1}},  // the last argument is null
      {"FT_Read", {16}},
      {"FT_Close", {handle}},
  };
  EXPECT_EQ(control_->calls, expected);
  EXPECT_FALSE(sim_.isOpen());
}

TEST_F(D2xxStandIn, SelectAndQueryReachTheBus) {
  auto link = connect();
  protocol::Bus bus(*link, frontend_);
  control_->calls.clear();
  sim_.bus().clearTranscript();

  const protocol::Identifier second{0, 0, 0, 1, 0, 2};
  ASSERT_TRUE(bus.SelectMachine(protocol::SelectFrame(second)));
  ASSERT_TRUE(bus.ReadParameter(18));
  EXPECT_EQ(bus.ParameterValue, 3);  // its hardware preset

  // "e" and "R" (one byte each, one-byte answer), the 15-byte select frame and its "O", the
  // 5-byte query and its 7-byte reply.
  const Calls expected = {
      {"FT_Write", {1}},  {"FT_Read", {1}}, {"FT_Write", {1}}, {"FT_Read", {1}},
      {"FT_Write", {15}}, {"FT_Read", {1}}, {"FT_Write", {5}}, {"FT_Read", {7}},
  };
  EXPECT_EQ(control_->calls, expected);
  const std::string select = protocol::SelectFrame(second);
  EXPECT_EQ(sim_.bus().pcBytes(), "eR" + select + "I12ee");
  EXPECT_EQ(frontend_.statusText, "Status Ok");
}

TEST_F(D2xxStandIn, ListingOfMoreDevicesThanSlotsStaysInsideItsBuffers) {
  control_->extraDevices = 3;
  auto link = connect();
  EXPECT_EQ(link->state().deviceCount, 4u);
  EXPECT_EQ(control_->listRoomShort, 0u);
  EXPECT_STREQ(link->state().descriptions[0].data(), "Velmoria USBTo422");
  EXPECT_STREQ(link->state().descriptions[1].data(), "Other Adapter");
  EXPECT_TRUE(link->state().Connected);
}

TEST_F(D2xxStandIn, NoDeviceGivesNoOpenDvcWithTheReason) {
  sim_.faults().noDevice = true;
  auto link = connect();
  EXPECT_FALSE(link->state().Connected);
  EXPECT_EQ(frontend_.statusText, "NoOpenDvc");
  EXPECT_NE(frontend_.statusDetail.find("FT_Open of device 0 failed"), std::string::npos)
      << frontend_.statusDetail;
}

TEST_F(D2xxStandIn, UnpluggedAdapterFailsTheWriteAndTheInfoQuery) {
  auto link = connect();
  sim_.faults().unplugged = true;
  EXPECT_FALSE(link->QueryDeviceInfo());
  EXPECT_FALSE(link->WriteText("I12"));
  EXPECT_EQ(frontend_.statusText, "Connection Fail");
  EXPECT_FALSE(link->state().Connected);
  EXPECT_NE(frontend_.statusDetail.find("FT_Write failed"), std::string::npos);
}

struct BadLibrary {
  const char* name;
  const char* path;
  const char* reason;
};

class D2xxMissing : public ::testing::TestWithParam<BadLibrary> {};

TEST_P(D2xxMissing, SaysWhyAndConnectShowsNoDevice) {
  D2xxAdapter probe(GetParam().path);
  EXPECT_FALSE(probe.loaded());
  EXPECT_EQ(probe.lastError().rfind("d2xx: not available: ", 0), 0u) << probe.lastError();
  EXPECT_NE(probe.lastError().find(GetParam().reason), std::string::npos) << probe.lastError();

  test::RecordingFrontend frontend;
  link::Link link(std::make_unique<D2xxAdapter>(GetParam().path), frontend);
  link.Connect();
  EXPECT_FALSE(link.state().DeviceListed);
  EXPECT_EQ(frontend.statusText, "NoDevice");
  EXPECT_EQ(frontend.statusDetail, probe.lastError());
}

INSTANTIATE_TEST_SUITE_P(Libraries, D2xxMissing,
                         ::testing::Values(BadLibrary{"missing", "/nonexistent/libftd2xx.so",
                                                      "cannot load /nonexistent/libftd2xx.so"},
                                           BadLibrary{"partial", QUBIX_PARTIAL_LIB,
                                                      "lacks FT_GetDeviceInfo"}),
                         qubix::test::ByNameField{});

}  // namespace
}  // namespace qubix::test
