// The chip's timing model: when bytes reach the PC under the latency timer, the event character
// (with its first-byte rule) and full packets; and what it costs the link in virtual time.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/Link.h"
#include "link/backends/Latency.h"
#include "protocol/Bus.h"
#include "protocol/Hex.h"
#include "sim/FtdiTiming.h"
#include "sim/SimAdapter.h"
#include "sim/SimBus.h"
#include "support/RecordingFrontend.h"

namespace qubix::test {
namespace {

using sim::ChipByte;
using sim::FtdiTiming;

// Bytes of `text` arriving from `firstMs` on, one every `stepMs`.
std::vector<ChipByte> burst(const std::string& text, double firstMs, double stepMs = 0.087) {
  std::vector<ChipByte> out;
  for (std::size_t i = 0; i < text.size(); ++i)
    out.push_back({static_cast<std::uint8_t>(text[i]), firstMs + static_cast<double>(i) * stepMs});
  return out;
}

struct Case {
  const char* name;
  std::uint8_t latencyMs;
  bool event;
  std::vector<ChipByte> bytes;
  std::vector<double> expected;
};

class ChipDeliveries : public ::testing::TestWithParam<Case> {};

TEST_P(ChipDeliveries, AreWhenTheChipSendsThePacket) {
  const Case& c = GetParam();
  FtdiTiming chip;
  chip.setLatencyTimer(c.latencyMs);
  chip.setEventCharacter('O', c.event);
  const std::vector<double> got = chip.deliveries(c.bytes);
  ASSERT_EQ(got.size(), c.expected.size());
  for (std::size_t i = 0; i < got.size(); ++i) EXPECT_DOUBLE_EQ(got[i], c.expected[i]) << i;
}

std::vector<ChipByte> sixtyThree() { return burst(std::string(63, 'a'), 1.0, 0.1); }
std::vector<double> sixtyThreeExpected() {
  std::vector<double> e(62, 1.0 + 61 * 0.1);  // the 62nd byte fills the packet
  e.push_back(1.0 + 61 * 0.1 + 16.0);         // the 63rd waits a full period from there
  return e;
}

INSTANTIATE_TEST_SUITE_P(
    Timing, ChipDeliveries,
    ::testing::Values(
        Case{"OneByteAckWaitsForTheTimer", 16, true, {{'O', 0.5}}, {16.0}},
        Case{"OursOneByteAck", 2, true, {{'O', 0.5}}, {2.0}},
        Case{"ReplyEndingWithTheEventCharacterGoesAtOnce", 16, true, burst("0012O", 1.0),
             std::vector<double>(5, 1.0 + 4 * 0.087)},
        Case{"WithoutTheEventCharacterTheReplyWaits", 16, false, burst("0012O", 1.0),
             std::vector<double>(5, 16.0)},
        Case{"EventCharacterFirstInTheBufferDoesNotFire", 16, true, burst("Oa", 1.0), {16.0, 16.0}},
        Case{"ByteJustBeforeAnExpiry", 16, false, {{'a', 15.9}}, {16.0}},
        Case{"ByteJustAfterAnExpiry", 16, false, {{'a', 16.1}}, {32.0}},
        Case{"AnExpiryBetweenTwoBytesSplitsThem",
             16,
             false,
             {{'a', 15.0}, {'b', 17.0}},
             {16.0, 32.0}},
        Case{"AFullPacketGoesAtOnceAndRestartsTheTimer", 16, false, sixtyThree(),
             sixtyThreeExpected()},
        Case{"AfterAnEventPacketTheTimerCountsFromIt",
             16,
             true,
             {{'1', 1.0}, {'O', 2.0}, {'x', 3.0}},
             {2.0, 2.0, 18.0}}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(ChipSettle, DeliveredButUnreadBytesStayAvailable) {
  FtdiTiming chip;
  chip.setEventCharacter('O', true);
  const auto bytes = burst("12O", 1.0, 0.5);  // all delivered at 2.0
  chip.settle(bytes, 1, 2.0);                 // the PC read one of three
  const auto rest = std::vector<ChipByte>(bytes.begin() + 1, bytes.end());
  const auto got = chip.deliveries(rest);
  EXPECT_LT(got[0], 2.0);
  EXPECT_LT(got[1], 2.0);
}

TEST(ChipSettle, TheTimerGridGoesOnAfterARead) {
  FtdiTiming chip;
  const std::vector<ChipByte> ack{{'O', 0.5}};
  chip.settle(ack, 1, 16.0);
  EXPECT_DOUBLE_EQ(chip.deliveries(std::vector<ChipByte>{{'O', 20.0}})[0], 32.0);
  chip.purge(40.0);  // a reset restarts the timer
  EXPECT_DOUBLE_EQ(chip.deliveries(std::vector<ChipByte>{{'O', 41.0}})[0], 56.0);
}

// The link on the simulated bus with the chip in between, in virtual time.
struct LinkTiming {
  double selectMs;
  double queryMs;
};

LinkTiming measure(bool ours) {
  auto bus = sim::makeDemoBus();
  auto adapter = std::make_unique<sim::SimAdapter>(bus);
  adapter->emulateChip(true);
  sim::SimAdapter& simAdapter = *adapter;
  test::RecordingFrontend frontend;
  link::Link link(std::move(adapter), frontend);
  link.Connect();
  if (ours) {
    simAdapter.setLatencyTimer(link.state().handle, link::backends::kLatencyTimerMs);
    simAdapter.setEventCharacter(link.state().handle, link::backends::kEventCharacter, true);
  }
  protocol::Bus protocolBus(link, frontend);
  const double t0 = simAdapter.nowMs();
  EXPECT_TRUE(protocolBus.SelectExchange(protocol::SelectFrame({0, 0, 0, 1, 0, 2})));
  const double t1 = simAdapter.nowMs();
  EXPECT_TRUE(protocolBus.ReadParameter(18));
  EXPECT_EQ(protocolBus.ParameterValue, 3);
  return {t1 - t0, simAdapter.nowMs() - t1};
}

TEST(ChipOnTheLink, OneByteAcksCostTheLatencyTimerAndRepliesEndingInOGoAtOnce) {
  const LinkTiming stock = measure(false);
  const LinkTiming ours = measure(true);
  // The select's "O" is a lone first byte: the timer decides (16 ms, then 2 ms).
  EXPECT_GT(stock.selectMs, 2.0);
  EXPECT_LE(stock.selectMs, 16.0 + 2.0);
  EXPECT_LE(ours.selectMs, 2.0 + 2.0);
  // The query's reply ends with "O": with the event character it is no longer held back.
  const double wireMs = 15 * 10.0 / 115.2;  // frame out and reply in, roughly
  EXPECT_LT(ours.queryMs, wireMs + 1.0);
  EXPECT_GT(stock.queryMs, ours.queryMs);
}

}  // namespace
}  // namespace qubix::test
