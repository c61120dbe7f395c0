#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>
#include <string>

#include "link/backends/NoDeviceAdapter.h"
#include "support/CaseNames.h"
#include "support/SimRig.h"

using qubix::test::SimRig;
using namespace qubix;

namespace qubix::test {
namespace {

const link::Rgb kStartColour{1, 2, 3};  // a colour no primitive sets

// One row of the link's failure table: arm a fault, run the operation, then check the status
// line and the state.
struct FailureRow {
  const char* name;
  std::function<void(SimRig&)> arm;
  std::function<bool(SimRig&)> run;  // the operation's result
  bool result;
  const char* text;  // the status text afterwards
  link::Rgb colour;
  bool connectedAfter;
  int connectionLost;
};

class LinkFailureTable : public ::testing::TestWithParam<FailureRow> {};

bool ConnectOp(SimRig& rig) {
  rig.link.Connect();
  return rig.link.state().Connected;
}

bool WriteFiveBytes(SimRig& rig) {
  std::memcpy(rig.link.state().SendBuffer.data(), "T01ff", 5);
  rig.link.state().SendLength = 5;
  return rig.link.WriteFrame();
}

bool ReadOneByte(SimRig& rig) {
  rig.link.state().ReplyLength = 1;
  return rig.link.ReadReply();
}

TEST_P(LinkFailureTable, TextColourAndState) {
  const auto& row = GetParam();
  SimRig rig;
  if (std::string(row.name) != "listingFails" && std::string(row.name) != "openFails" &&
      std::string(row.name) != "noDeviceAtAll") {
    ASSERT_TRUE(rig.connectAndSelect("H000000010001"));
  }
  rig.frontend.statusText = "before";
  rig.frontend.statusColour = kStartColour;
  row.arm(rig);
  EXPECT_EQ(row.run(rig), row.result);
  EXPECT_EQ(rig.frontend.statusText, row.text);
  EXPECT_EQ(rig.frontend.statusColour, row.colour);
  EXPECT_EQ(rig.link.state().Connected, row.connectedAfter);
  EXPECT_EQ(rig.connectionLost, row.connectionLost);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LinkFailureTable,
    ::testing::Values(
        FailureRow{"listingFails", [](SimRig& r) { r.adapter->faults().listFails = true; },
                   ConnectOp, false, "NoDevice", kStartColour, false, 0},
        FailureRow{"openFails", [](SimRig& r) { r.adapter->faults().openFails = true; }, ConnectOp,
                   false, "NoOpenDvc", kStartColour, false, 0},
        FailureRow{"noDeviceAtAll", [](SimRig& r) { r.adapter->faults().noDevice = true; },
                   ConnectOp, false, "NoOpenDvc", kStartColour, false, 0},
        FailureRow{"writeFails", [](SimRig& r) { r.adapter->faults().writeFails = true; },
                   WriteFiveBytes, false, "Connection Fail", link::kRed, false, 1},
        FailureRow{"shortWrite", [](SimRig& r) { r.adapter->faults().shortWrite = true; },
                   WriteFiveBytes, false, "Comm Error", link::kRed, true, 0},
        FailureRow{"goodWrite", [](SimRig&) {}, WriteFiveBytes, true, "Status Ok", link::kLime,
                   true, 0},
        FailureRow{"readWithoutDevice", [](SimRig& r) { r.link.state().DeviceListed = false; },
                   ReadOneByte, false, " No Device ", link::kRed, true, 0},
        FailureRow{"readFails", [](SimRig& r) { r.adapter->faults().readFails = true; },
                   ReadOneByte, false, " Status Not OK", link::kRed, true, 0},
        FailureRow{"shortReply", [](SimRig&) {}, ReadOneByte, false, "before", link::kRed, true, 0},
        FailureRow{"fullReply",
                   [](SimRig& r) {
                     WriteFiveBytes(r);
                     r.frontend.statusText = "before";
                   },
                   ReadOneByte, true, "before", link::kLime, true, 0},
        FailureRow{"unpluggedMidWrite", [](SimRig& r) { r.adapter->faults().unplugAfterBytes = 3; },
                   WriteFiveBytes, false, "Connection Fail", link::kRed, false, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Connect, DriverCallsInOrderWithTheirArguments) {
  SimRig rig;
  rig.link.Connect();
  const auto& c = rig.adapter->calls();
  EXPECT_EQ(c.list, 1);
  EXPECT_EQ(c.open, 1);
  EXPECT_EQ(c.reset, 1);
  EXPECT_EQ(c.timeouts, 1);
  EXPECT_EQ(c.baud, 1);
  EXPECT_EQ(c.data, 1);
  EXPECT_EQ(c.flow, 1);
  EXPECT_EQ(c.total(), 7);
  EXPECT_EQ(rig.adapter->readTimeoutMs(), 200u);
  EXPECT_EQ(rig.adapter->writeTimeoutMs(), 200u);
  EXPECT_EQ(rig.adapter->baudRate(), 115200u);
  EXPECT_TRUE(rig.link.state().DeviceListed);
  EXPECT_TRUE(rig.link.state().Connected);
}

// A line that cannot be set up is no connection: the status and reason show it, the handle is
// given back, and a later attempt opens afresh.
TEST(Connect, ALineThatCannotBeSetUpIsNotConnected) {
  SimRig rig;
  rig.adapter->faults().baudFails = true;
  rig.link.Connect();
  EXPECT_FALSE(rig.link.state().Connected);
  EXPECT_EQ(rig.frontend.statusText, "NoOpenDvc");
  EXPECT_EQ(rig.frontend.statusDetail, "connection closed by the server");
  EXPECT_EQ(rig.link.state().handle, nullptr);
  EXPECT_EQ(rig.adapter->calls().close, 1);
  rig.adapter->faults().baudFails = false;
  rig.link.Connect();
  EXPECT_TRUE(rig.link.state().Connected);
}

TEST(Connect, ShowsOnlyKnownAdapterDescriptions) {
  struct Case {
    const char* description;
    const char* shown;
  };
  for (const auto& c :
       {Case{"Velmoria USBTo422", "Velmoria USBTo422"}, Case{"Velmoria USBNet", "Velmoria USBNet"},
        Case{"Velmoria USBNet2", "before"}, Case{"Other", "before"}}) {
    SimRig rig;
    rig.adapter->description = c.description;
    rig.frontend.statusText = "before";
    rig.frontend.statusColour = kStartColour;
    rig.link.Connect();
    EXPECT_EQ(rig.frontend.statusText, c.shown) << c.description;
    EXPECT_EQ(rig.frontend.statusColour, kStartColour);
    EXPECT_TRUE(rig.link.state().Connected) << "an unknown adapter is used all the same";
  }
}

TEST(Connect, ManyDevicesNeverWritePastTheTwoSlots) {
  SimRig rig;
  rig.adapter->deviceCount = 5;
  rig.link.Connect();
  const auto& st = rig.link.state();
  EXPECT_EQ(st.deviceCount, 5u);
  EXPECT_STREQ(st.descriptions[0].data(), "Velmoria USBTo422");
  EXPECT_STREQ(st.descriptions[1].data(), "Velmoria USBNet");
  // The field after the slots is untouched.
  EXPECT_EQ(st.deviceInfo.type, 0u);
}

TEST(Connect, ReconnectAfterALostWriteClosesTheOldHandle) {
  SimRig rig;
  rig.connect();
  rig.adapter->faults().writeFails = true;
  EXPECT_FALSE(WriteFiveBytes(rig));
  rig.adapter->faults().writeFails = false;
  rig.link.Connect();
  EXPECT_TRUE(rig.link.state().Connected);
  EXPECT_EQ(rig.adapter->calls().close, 1);
  EXPECT_TRUE(WriteFiveBytes(rig));
}

TEST(Connect, ReplugAfterUnplug) {
  SimRig rig;
  rig.connect();
  rig.adapter->faults().unplugged = true;
  EXPECT_FALSE(WriteFiveBytes(rig));
  rig.link.Connect();
  EXPECT_EQ(rig.frontend.statusText, "NoOpenDvc");
  EXPECT_FALSE(rig.link.state().Connected);
  rig.adapter->faults().unplugged = false;
  rig.link.Connect();
  EXPECT_TRUE(rig.link.state().Connected);
  EXPECT_TRUE(WriteFiveBytes(rig));
}

TEST(Connect, WithNothingPluggedInTheOpenFails) {
  test::RecordingFrontend frontend;
  link::Link l(std::make_unique<link::backends::NoDeviceAdapter>(), frontend);
  for (int tick = 0; tick < 3; ++tick) {
    l.Connect();
    EXPECT_EQ(frontend.statusText, "NoOpenDvc");
    EXPECT_TRUE(l.state().DeviceListed);
    EXPECT_FALSE(l.state().Connected);
    EXPECT_EQ(l.state().descriptions[0][0], '\0');
  }
  EXPECT_EQ(frontend.statusTexts.size(), 3u);
  EXPECT_TRUE(frontend.statusColours.empty());
}

TEST(QueryDeviceInfo, SucceedsOnAnOpenAdapterAndFailsWhenGone) {
  SimRig rig;
  EXPECT_FALSE(rig.link.QueryDeviceInfo());
  rig.connect();
  EXPECT_TRUE(rig.link.QueryDeviceInfo());
  EXPECT_STREQ(rig.link.state().deviceInfo.description.data(), "Velmoria USBTo422");
  rig.adapter->faults().unplugged = true;
  EXPECT_FALSE(rig.link.QueryDeviceInfo());
  EXPECT_NE(rig.link.state().driverStatus, link::kOk);
}

TEST(DrainInput, NothingPendingIsOneReadAndOneTimeout) {
  SimRig rig;
  rig.connect();
  const double before = rig.adapter->nowMs();
  rig.link.DrainInput();
  EXPECT_EQ(rig.adapter->calls().read, 1);
  EXPECT_DOUBLE_EQ(rig.adapter->nowMs() - before, 200.0);
  EXPECT_EQ(rig.link.state().ReplyLength, 16u);
  EXPECT_TRUE(rig.frontend.statusTexts.empty());
}

TEST(DrainInput, DiscardsEverythingThenOneEmptyRead) {
  SimRig rig;
  ASSERT_TRUE(rig.connectAndSelect("H000000010005"));
  std::memcpy(rig.link.state().SendBuffer.data(), "I19e7", 5);
  rig.link.state().SendLength = 5;
  ASSERT_TRUE(rig.link.WriteFrame());  // a 128-byte reply nobody reads
  rig.adapter->resetCalls();
  rig.link.DrainInput();
  EXPECT_EQ(rig.adapter->calls().read, 9);  // 8 full reads of 16, one empty
  EXPECT_TRUE(rig.bus->pending().empty());
}

TEST(DrainInput, EndsWhenTheReadFailsOrTheDeviceIsGone) {
  for (int variant = 0; variant < 2; ++variant) {
    SimRig rig;
    rig.connect();
    if (variant == 0)
      rig.adapter->faults().readFails = true;
    else
      rig.adapter->faults().unplugged = true;
    rig.link.DrainInput();
    EXPECT_EQ(rig.adapter->calls().read, 1);
  }
}

// How a drain ends; on a line that never goes quiet, within kDrainTimeouts read time-outs (no
// fewer than the standard one's) and the read that was running then, on the virtual clock.
TEST(DrainInput, EndsQuietFailedOrWithinItsTimeOnANoisyLine) {
  using link::DrainOutcome;
  const struct {
    const char* name;
    std::uint32_t timeoutMs;
    bool readFails;
    std::optional<double> noiseEveryMs;
    DrainOutcome outcome;
    double boundMs;
  } cases[] = {
      {"quiet", 200, false, {}, DrainOutcome::Quiet, 200.0},
      {"read fails", 200, true, {}, DrainOutcome::LinkFailed, 0.0},
      {"noise every 2 ms", 200, false, 2.0, DrainOutcome::NeverQuiet, 4 * 200.0 + 200.0},
      {"noise on a short poll", 20, false, 2.0, DrainOutcome::NeverQuiet, 4 * 200.0 + 20.0},
      {"noise on a long wait", 7000, false, 2.0, DrainOutcome::NeverQuiet, 4 * 7000.0 + 7000.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimRig rig;
    ASSERT_TRUE(rig.connectAndSelect("H000000010005"));
    rig.link.SetReadTimeout(c.timeoutMs);
    rig.adapter->faults().readFails = c.readFails;
    rig.bus->lineFaults.noiseEveryMs = c.noiseEveryMs;
    rig.frontend.statusDetail = "before";
    const double start = rig.adapter->nowMs();
    EXPECT_EQ(rig.link.DrainInput(), c.outcome);
    EXPECT_LE(rig.adapter->nowMs() - start, c.boundMs);
    EXPECT_EQ(rig.frontend.statusDetail, c.outcome == DrainOutcome::NeverQuiet
                                             ? std::string(link::texts::kLineNeverQuiet)
                                             : std::string("before"));
  }
}

// A discard takes what has arrived, leaves what is still on its way, waits no read time-out and
// puts back the time-out it found, on the virtual clock.
TEST(DiscardWaiting, TakesWhatHasArrivedAndWaitsForNothingMore) {
  const struct {
    const char* name;
    std::optional<double> replyLateMs;  // a query is answered this much late; none: no query
    double thenMs;                      // time let pass before the discard
    std::size_t left;                   // bytes still on their way afterwards
  } cases[] = {
      {"nothing waiting", {}, 0.0, 0},
      {"a reply arrived", 0.0, 50.0, 0},
      {"a reply still on its way", 300.0, 0.0, 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimRig rig;
    ASSERT_TRUE(rig.connectAndSelect("H000000010005"));
    rig.link.SetReadTimeout(500);
    if (c.replyLateMs) {
      rig.processor("H000000010005").faults.lateMs = *c.replyLateMs;
      ASSERT_TRUE(rig.link.WriteText("I12ee"));
    }
    rig.adapter->clock().advance(c.thenMs);
    const double start = rig.adapter->nowMs();
    EXPECT_EQ(rig.link.DiscardWaiting(), link::DrainOutcome::Quiet);
    EXPECT_LE(rig.adapter->nowMs() - start, 2.0 * link::kDiscardWaitMs);
    EXPECT_EQ(rig.bus->pending().size(), c.left);
    EXPECT_EQ(rig.adapter->readTimeoutMs(), 500u);
  }
}

TEST(ReadReply, NeverReadsOrClearsPastTheBuffer) {
  SimRig rig;
  ASSERT_TRUE(rig.connectAndSelect("H000000010005"));
  std::memcpy(rig.link.state().SendBuffer.data(), "I19e7", 5);
  rig.link.state().SendLength = 5;
  ASSERT_TRUE(rig.link.WriteFrame());
  rig.link.state().ReplyLength = 100000;
  const auto sendBefore = rig.link.state().SendBuffer;
  EXPECT_FALSE(rig.link.ReadReply());
  EXPECT_LE(rig.link.state().bytesRead, link::kBufferSize);
  EXPECT_EQ(rig.link.state().bytesRead, 128u);
  EXPECT_EQ(rig.link.state().SendBuffer, sendBefore);
  EXPECT_EQ(rig.frontend.statusColour, link::kRed);
}

TEST(ReadReply, ClearsTheBufferUpToTheLengthFirst) {
  SimRig rig;
  ASSERT_TRUE(rig.connectAndSelect("H000000010001"));
  auto& st = rig.link.state();
  st.ReplyBuffer.fill('x');
  st.ReplyLength = 3;
  EXPECT_FALSE(rig.link.ReadReply());  // nothing to read
  for (std::size_t i = 0; i <= 3; ++i) EXPECT_EQ(st.ReplyBuffer[i], 0) << i;
  EXPECT_EQ(st.ReplyBuffer[4], 'x');
}

TEST(SetReadTimeout, ReadTimeoutGivenWriteTimeoutStandard) {
  SimRig rig;
  rig.connect();
  EXPECT_EQ(rig.link.SetReadTimeout(12000), link::kOk);
  EXPECT_EQ(rig.adapter->readTimeoutMs(), 12000u);
  EXPECT_EQ(rig.adapter->writeTimeoutMs(), 200u);
  const double before = rig.adapter->nowMs();
  rig.link.DrainInput();
  EXPECT_DOUBLE_EQ(rig.adapter->nowMs() - before, 12000.0);
}

TEST(CloseAdapter, ClosesOnceAndIsSafeTwice) {
  SimRig rig;
  rig.connect();
  rig.link.CloseAdapter();
  rig.link.CloseAdapter();
  EXPECT_EQ(rig.adapter->calls().close, 1);
  EXPECT_FALSE(rig.link.state().Connected);
  EXPECT_FALSE(rig.adapter->isOpen());
}

}  // namespace

// A read split into slices for the window's sake reads the same bytes in the same time as one
// read, and leaves the driver's time-out as it was set.
TEST(WaitSlices, SameBytesAndTimeAsOneRead) {
  struct Case {
    const char* name;
    std::uint32_t timeoutMs;
    double lateMs;  // the machine's answer starts this much later
    bool drain;     // a drain instead of a 128-byte read
  };
  for (const Case c : {Case{"prompt", 200, 0.0, false}, Case{"late within", 500, 300.0, false},
                       Case{"late beyond", 200, 300.0, false},
                       Case{"late beyond a time-out of no whole slices", 230, 300.0, false},
                       Case{"drain", 4000, 0.0, true}, Case{"drain late", 4000, 1000.0, true}}) {
    SCOPED_TRACE(c.name);
    std::string bytes[2];
    double took[2];
    int waits = 0;
    for (int sliced = 0; sliced < 2; ++sliced) {
      SimRig rig;
      ASSERT_TRUE(rig.connectAndSelect("H000000010005"));
      if (sliced) rig.link.whileWaiting = [&] { ++waits; };
      rig.processor("H000000010005").faults.lateMs = c.lateMs;
      rig.link.SetReadTimeout(c.timeoutMs);
      ASSERT_TRUE(rig.link.WriteText("I19e7"));  // a 128-byte answer
      const double start = rig.adapter->nowMs();
      if (c.drain) {
        rig.link.DrainInput();
        bytes[sliced] = std::to_string(rig.bus->pending().size());
      } else {
        rig.link.state().ReplyLength = 128;
        rig.link.ReadReply();
        bytes[sliced] = rig.link.ReplyText();
      }
      took[sliced] = rig.adapter->nowMs() - start;
      EXPECT_EQ(rig.adapter->readTimeoutMs(), c.timeoutMs);
    }
    EXPECT_EQ(bytes[1], bytes[0]);
    EXPECT_NEAR(took[1], took[0], 1e-6) << "the slices add up to the one read's time";
    if (took[0] > 100.0) {
      EXPECT_GE(waits, static_cast<int>(took[0] / 50.0) - 2);
    }
  }
}

}  // namespace qubix::test
