#include <gtest/gtest.h>

#include "protocol/Commands.h"
#include "protocol/Hex.h"
#include "support/CaseNames.h"
#include "support/SimRig.h"

using qubix::test::SimRig;
using namespace qubix;

namespace qubix::test {
namespace {

constexpr const char* kFirst = "H000000010001";

TEST(SelectExchange, AddressedMachineAnswersAndIsSelected) {
  SimRig rig;
  rig.connect();
  EXPECT_TRUE(rig.protocolBus.SelectExchange("H000000010001fe"));
  EXPECT_TRUE(rig.protocolBus.MachineSelected);
  EXPECT_EQ(rig.bus->pcBytes(), "H000000010001fe");
  EXPECT_EQ(rig.bus->machineBytes(), "O");
  ASSERT_EQ(rig.bus->selected().size(), 1u);
  EXPECT_EQ(rig.bus->selected()[0], &rig.processor(kFirst));
}

TEST(SelectExchange, SilenceShowsNetConnectionFailAndRestoresTheCursor) {
  SimRig rig;
  rig.connect();
  rig.frontend.setBusyCursor(true);
  const double before = rig.adapter->nowMs();
  EXPECT_FALSE(rig.protocolBus.SelectExchange("H000000010003fc"));
  EXPECT_FALSE(rig.protocolBus.MachineSelected);
  EXPECT_EQ(rig.frontend.statusText, "Net Connection Fail");
  EXPECT_EQ(rig.frontend.statusColour, link::kRed);
  EXPECT_FALSE(rig.frontend.busy);
  EXPECT_EQ(rig.bus->machineBytes(), "");
  // One 15-byte frame on the wire plus one read time-out.
  EXPECT_NEAR(rig.adapter->nowMs() - before, 200.0 + 15 * 1000.0 / 11520.0, 1e-6);
}

TEST(SelectExchange, WrongCheckByteIsIgnoredByTheMachine) {
  SimRig rig;
  rig.connect();
  EXPECT_FALSE(rig.protocolBus.SelectExchange("H000000010001ff"));
  EXPECT_TRUE(rig.bus->selected().empty());
}

TEST(SelectMachine, PreambleThenSelect) {
  SimRig rig;
  rig.connect();
  EXPECT_TRUE(rig.protocolBus.SelectMachine("H000000010005fa"));
  std::vector<std::pair<bool, std::string>> seen;
  for (const auto& e : rig.bus->transcript) seen.emplace_back(e.fromPc, e.bytes);
  const std::vector<std::pair<bool, std::string>> expected{
      {true, "e"}, {false, "O"}, {true, "R"}, {false, "O"}, {true, "H000000010005fa"},
      {false, "O"}};
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(rig.frontend.statusText, "Status Ok");
}

TEST(SendByteCommand, UnansweredByteShowsNetConnectionFail) {
  SimRig rig;
  rig.connect();
  for (auto& p : rig.bus->processors()) p->faults.silent = true;
  rig.frontend.setBusyCursor(true);
  EXPECT_FALSE(rig.protocolBus.SendByteCommand('e'));
  EXPECT_EQ(rig.frontend.statusText, "Net Connection Fail");
  EXPECT_FALSE(rig.frontend.busy);
}

TEST(ReleaseMachine, WritesRAndReadsNothing) {
  SimRig rig;
  ASSERT_TRUE(rig.connectAndSelect(kFirst));
  rig.protocolBus.ReleaseMachine();
  EXPECT_FALSE(rig.protocolBus.MachineSelected);
  EXPECT_EQ(rig.bus->pcBytes(), "R");
  EXPECT_EQ(rig.adapter->calls().read, 0);
  EXPECT_TRUE(rig.bus->selected().empty());
  EXPECT_EQ(rig.bus->machineBytes(), "");
}

// A short write keeps the link and the selection; a driver failure loses the connection, and
// no machine is taken as selected across a lost connection.
TEST(ReleaseMachine, FailedWriteKeepsTheSelectionOnlyWhileConnected) {
  for (const bool driverFails : {false, true}) {
    SCOPED_TRACE(driverFails ? "driver failure" : "short write");
    SimRig rig;
    ASSERT_TRUE(rig.connectAndSelect(kFirst));
    (driverFails ? rig.adapter->faults().writeFails : rig.adapter->faults().shortWrite) = true;
    rig.protocolBus.ReleaseMachine();
    EXPECT_EQ(rig.link.state().Connected, !driverFails);
    EXPECT_EQ(rig.protocolBus.MachineSelected, !driverFails);
  }
}

// The worked example: the machine holds 500 (a level), so it answers "01f40b" + "O".
TEST(ReadParameter, ValueFromBothReads) {
  SimRig rig;
  ASSERT_TRUE(rig.connectAndSelect(kFirst));
  rig.processor(kFirst).fixedLevels = std::array<std::uint16_t, 6>{500, 0, 0, 0, 0, 0};
  EXPECT_TRUE(rig.protocolBus.ReadParameter(5));
  EXPECT_EQ(rig.protocolBus.ParameterValue, 500);
  EXPECT_EQ(std::string(rig.protocolBus.ParameterChars.data(), 4), "01f4");
  EXPECT_EQ(rig.bus->machineBytes(), "01f40bO");
  EXPECT_EQ(rig.protocolBus.ReadParameterChecked(5), 500);
  EXPECT_EQ(rig.bus->pcBytes(), "I05fbI05fb");
}

// A value a parameter cannot hold is a reply spoiled on the line (one digit changed): a failed
// read, recorded as a fault of the operation, never a value to show or to name a file with.
TEST(ReadParameter, ValuesOutsideTheParameterRangeAreFailedReads) {
  struct Case {
    int parameter;
    std::uint16_t value;
    bool ok;
  };
  const Case cases[] = {{17, 9, true},     {17, 10, false},     {17, 4098, false}, {18, 7, true},
                        {18, 8, false},    {15, 310, true},     {15, 311, false},  {11, 255, true},
                        {11, 256, false},  {23, 0x10ff, false}, {24, 1, true},     {24, 2, false},
                        {5, 0xffff, true}, {20, 256, false}};
  SimRig rig;
  ASSERT_TRUE(rig.connectAndSelect(kFirst));
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.parameter) + " = " + std::to_string(c.value));
    const std::uint8_t bytes[] = {static_cast<std::uint8_t>(c.value >> 8),
                                  static_cast<std::uint8_t>(c.value & 0xff)};
    const auto sum = static_cast<std::uint8_t>(bytes[0] + bytes[1]);
    rig.processor(kFirst).faults.queryReply = protocol::ByteToHex(bytes[0]) +
                                              protocol::ByteToHex(bytes[1]) +
                                              protocol::ByteToHex(-sum) + "O";
    const std::uint64_t faults = rig.protocolBus.faultCount();
    EXPECT_EQ(rig.protocolBus.ReadParameter(c.parameter), c.ok);
    EXPECT_EQ(rig.protocolBus.faultCount() - faults, c.ok ? 0U : 1U);
    if (!c.ok) {
      EXPECT_EQ(rig.protocolBus.lastReadFailure, protocol::Bus::ReadFailure::OutOfRange);
    }
  }
}

// Every exchange that does not end as the protocol requires is a fault the operation sees,
// also where the flow does not look at the reply; the preamble alone is not examined.
TEST(FaultJournal, UnacknowledgedFramesAndSpoiledRepliesAreFaults) {
  SimRig rig;
  ASSERT_TRUE(rig.connectAndSelect(kFirst));
  protocol::Commands commands(rig.protocolBus);
  rig.processor(kFirst).faults.tamper = [](char letter, const std::vector<std::uint8_t>&,
                                           std::string& answer) {
    if (letter == 'n' || letter == 'I') answer.back() = 'N';
  };
  protocol::FaultWatch watch(rig.protocolBus);
  EXPECT_TRUE(commands.SendAmpLevel(200));  // sent: the flow goes on
  EXPECT_FALSE(watch.clean());
  EXPECT_EQ(watch.outcome().reason, "frame \"" + protocol::frames::AmpLevel(200) +
                                        "\" was answered \"N\" instead of \"O\"");
  protocol::FaultWatch read(rig.protocolBus);
  EXPECT_FALSE(rig.protocolBus.ReadParameter(23));
  EXPECT_EQ(read.outcome().reason, "parameter 23: the reply did not end in \"O\"");
  rig.processor(kFirst).faults.tamper = nullptr;
  protocol::FaultWatch preamble(rig.protocolBus);
  rig.processor(kFirst).faults.silent = true;
  rig.protocolBus.SendPreamble();
  EXPECT_TRUE(preamble.clean());
}

struct ReplyCase {
  const char* name;
  const char* reply;
  bool readOk;
  std::uint16_t value;    // from ReadParameter
  std::uint16_t checked;  // from ReadParameterChecked
};

class QueryReplyTest : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(QueryReplyTest, ReadAndCheckedRead) {
  SimRig rig;
  ASSERT_TRUE(rig.connectAndSelect(kFirst));
  rig.processor(kFirst).faults.queryReply = GetParam().reply;
  // A level: any 16-bit value is one it can hold.
  EXPECT_EQ(rig.protocolBus.ReadParameter(5), GetParam().readOk);
  EXPECT_EQ(rig.protocolBus.ParameterValue, GetParam().value);
  EXPECT_EQ(rig.protocolBus.ReadParameterChecked(5), GetParam().checked);
}

INSTANTIATE_TEST_SUITE_P(Replies, QueryReplyTest,
                         ::testing::Values(ReplyCase{"good", "01f40bO", true, 500, 500},
                                           ReplyCase{"upperCase", "01F40BO", true, 500, 500},
                                           ReplyCase{"wrongChecksum", "01f40cO", false, 0, 0},
                                           ReplyCase{"checksumNotHex", "01f4zzO", false, 0, 0},
                                           ReplyCase{"seventhNotO", "01f40bX", false, 0, 0},
                                           ReplyCase{"valueNotHex", "0gf40bO", false, 0, 0},
                                           ReplyCase{"valueBlank", " 1f40bO", false, 0, 0},
                                           ReplyCase{"short", "01f40b", false, 0, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ReadParameter, SimulatedFaults) {
  struct Case {
    void (*arm)(sim::ProcessorFaults&);
    bool readOk;
    std::uint16_t checked;
  };
  const Case cases[] = {
      {[](sim::ProcessorFaults& f) { f.wrongChecksum = true; }, false, 0},
      {[](sim::ProcessorFaults& f) { f.nonHexValue = true; }, false, 0},
      {[](sim::ProcessorFaults& f) { f.garbage = true; }, false, 0},
      {[](sim::ProcessorFaults& f) { f.lateMs = 250; }, false, 0},
  };
  for (const auto& c : cases) {
    SimRig rig;
    ASSERT_TRUE(rig.connectAndSelect(kFirst));
    rig.processor(kFirst).live.gainA = 168;
    c.arm(rig.processor(kFirst).faults);
    EXPECT_EQ(rig.protocolBus.ReadParameter(11), c.readOk);
    EXPECT_EQ(rig.protocolBus.ParameterValue, c.readOk ? 168 : 0);
    rig.link.DrainInput();
    EXPECT_EQ(rig.protocolBus.ReadParameterChecked(11), c.checked);
  }
}

TEST(Queries, NothingIsWrittenWithoutASelectedMachine) {
  SimRig rig;
  rig.connect();
  int stops = 0;
  rig.protocolBus.beforeQuery = [&] { ++stops; };
  EXPECT_FALSE(rig.protocolBus.ReadParameter(11));
  EXPECT_EQ(rig.protocolBus.ReadParameterChecked(11), 0);
  EXPECT_EQ(rig.protocolBus.ReadParameterText(25), "");
  EXPECT_FALSE(rig.protocolBus.QueryStatus("I0000"));
  EXPECT_FALSE(rig.protocolBus.SendCommand("T01ff").sent);
  EXPECT_EQ(rig.adapter->calls().write, 0);
  EXPECT_EQ(rig.adapter->calls().read, 0);
  EXPECT_EQ(stops, 3);  // the poll is stopped whether or not anything is sent
}

TEST(Queries, NothingIsWrittenWhenNotConnected) {
  SimRig rig;
  rig.protocolBus.MachineSelected = true;
  EXPECT_FALSE(rig.protocolBus.ReadParameter(11));
  EXPECT_EQ(rig.protocolBus.ReadParameterText(25), "");
  EXPECT_EQ(rig.adapter->calls().total(), 0);
}

TEST(ReadParameterText, NameFromTheTextReply) {
  SimRig rig;
  ASSERT_TRUE(rig.connectAndSelect("H000000010005"));
  EXPECT_EQ(rig.protocolBus.ReadParameterText(25), "STAGE LEFT FILL   ");
  EXPECT_EQ(rig.bus->pcBytes(), "I19e7");
  EXPECT_EQ(rig.bus->machineBytes().size(), 128u);
}

TEST(ReadParameterText, ShortOrBrokenRepliesGiveNoName) {
  SimRig rig;
  ASSERT_TRUE(rig.connectAndSelect("H000000010005"));
  auto& p = rig.processor("H000000010005");
  p.faults.queryReply = std::string(127, '0');
  EXPECT_EQ(rig.protocolBus.ReadParameterText(25), "");
  std::string broken(128, '0');
  broken[90] = 'x';
  p.faults.queryReply = broken;
  EXPECT_EQ(rig.protocolBus.ReadParameterText(25), "");
  std::string upper(128, 'O');
  for (std::size_t k = 0; k < 18; ++k) {
    upper[84 + 2 * k] = '4';
    upper[85 + 2 * k] = 'A';  // "J"
  }
  p.faults.queryReply = upper;
  EXPECT_EQ(rig.protocolBus.ReadParameterText(25), std::string(18, 'J'));
}

TEST(ReadParameterText, FailedWriteGivesZero) {
  SimRig rig;
  ASSERT_TRUE(rig.connectAndSelect("H000000010005"));
  rig.adapter->faults().writeFails = true;
  EXPECT_EQ(rig.protocolBus.ReadParameterText(25), "0");
}

TEST(QueryStatus, SevenReplyBytesInTheStatusBuffer) {
  SimRig rig;
  ASSERT_TRUE(rig.connectAndSelect(kFirst));
  rig.processor(kFirst).inputIndicator = 2;
  ASSERT_TRUE(rig.protocolBus.QueryStatus("I0000"));
  EXPECT_EQ(std::string(rig.protocolBus.StatusReply.begin(), rig.protocolBus.StatusReply.end()),
            "0002feO");
  EXPECT_EQ(rig.protocolBus.StatusReply[3], '2');
}

TEST(SendCommand, AcknowledgementAndFailedWrite) {
  SimRig rig;
  ASSERT_TRUE(rig.connectAndSelect(kFirst));
  auto ex = rig.protocolBus.SendCommand("T01ff");
  EXPECT_TRUE(ex.sent);
  EXPECT_TRUE(ex.acknowledged);
  EXPECT_TRUE(rig.processor(kFirst).inAccess);
  ex = rig.protocolBus.SendCommand("T01fe");  // wrong checksum: the machine stays silent
  EXPECT_TRUE(ex.sent);
  EXPECT_FALSE(ex.acknowledged);
  rig.adapter->faults().writeFails = true;
  ex = rig.protocolBus.SendCommand("T02fe");
  EXPECT_FALSE(ex.sent);
}

}  // namespace

}  // namespace qubix::test
