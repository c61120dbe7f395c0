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

namespace qubix::test {
namespace {

// ---- a line out of step: bytes nobody asked for, wherever they strike in a short session

enum class OutOfStep { Duplicate, Late, Stray };
struct OutOfStepCase {
  const char* name;
  OutOfStep fault;
  int answer;  // the answer struck, counted from the session's first exchange
};

// Arms the fault at the answer given.
void Strike(SimRig& rig, const OutOfStepCase& c) {
  auto& f = rig.bus->lineFaults;
  const auto at = static_cast<std::uint64_t>(c.answer);
  switch (c.fault) {
    case OutOfStep::Duplicate:
      f.duplicateAnswer = at;
      break;
    case OutOfStep::Late:
      f.lateAnswer = at;
      break;
    case OutOfStep::Stray:
      f.strayAfterAnswer = at;
      break;
  }
}

class OutOfStepTest : public ::testing::TestWithParam<OutOfStepCase> {};

// Three operations, one exchange each (a query, a command, a query): the one whose answer was
// struck fails; every later one reads its own reply, in step, and succeeds.
TEST_P(OutOfStepTest, OnlyTheStruckOperationFailsAndTheNextAreInStep) {
  const auto& c = GetParam();
  SimRig rig;
  ASSERT_TRUE(rig.connectAndSelect(kFirst));
  rig.processor(kFirst).live.gainA = 150;
  rig.processor(kFirst).live.gainB = 170;
  Strike(rig, c);
  std::vector<bool> clean;
  {
    protocol::FaultWatch watch(rig.protocolBus);
    const std::uint16_t a = rig.protocolBus.ReadParameterChecked(protocol::param::kGainA);
    clean.push_back(watch.clean());
    if (clean.back()) {
      EXPECT_EQ(a, 150);
    }
  }
  {
    protocol::FaultWatch watch(rig.protocolBus);
    rig.protocolBus.SendCommand(protocol::frames::kBeginAccess);
    clean.push_back(watch.clean());
  }
  {
    protocol::FaultWatch watch(rig.protocolBus);
    const std::uint16_t b = rig.protocolBus.ReadParameterChecked(protocol::param::kGainB);
    clean.push_back(watch.clean());
    if (clean.back()) {
      EXPECT_EQ(b, 170);
    }
  }
  for (int k = 0; k < 3; ++k) EXPECT_EQ(clean[static_cast<std::size_t>(k)], k != c.answer) << k;
  std::uint32_t waiting = 99;
  ASSERT_EQ(rig.adapter->queueStatus(rig.link.state().handle, waiting), link::kOk);
  EXPECT_EQ(waiting, 0u);
}

INSTANTIATE_TEST_SUITE_P(Bus, OutOfStepTest,
                         ::testing::Values(OutOfStepCase{"DuplicateFirst", OutOfStep::Duplicate, 0},
                                           OutOfStepCase{"DuplicateMiddle", OutOfStep::Duplicate,
                                                         1},
                                           OutOfStepCase{"DuplicateLast", OutOfStep::Duplicate, 2},
                                           OutOfStepCase{"LateFirst", OutOfStep::Late, 0},
                                           OutOfStepCase{"LateMiddle", OutOfStep::Late, 1},
                                           OutOfStepCase{"LateLast", OutOfStep::Late, 2},
                                           OutOfStepCase{"StrayFirst", OutOfStep::Stray, 0},
                                           OutOfStepCase{"StrayMiddle", OutOfStep::Stray, 1},
                                           OutOfStepCase{"StrayLast", OutOfStep::Stray, 2}),
                         ByNameField());

TEST(EnsureQuiet, AQuietLineCostsNoTimeAndNoRead) {
  SimRig rig;
  ASSERT_TRUE(rig.connectAndSelect(kFirst));
  const double before = rig.adapter->nowMs();
  const int queries = rig.adapter->queueQueries();
  EXPECT_TRUE(rig.protocolBus.EnsureQuiet("a test"));
  EXPECT_EQ(rig.adapter->nowMs(), before);
  EXPECT_EQ(rig.adapter->calls().read, 0);
  EXPECT_EQ(rig.adapter->queueQueries(), queries + 1);
  EXPECT_EQ(rig.protocolBus.faultCount(), 0u);
}

TEST(EnsureQuiet, WaitingBytesAreAFaultAndAreDiscarded) {
  SimRig rig;
  ASSERT_TRUE(rig.connectAndSelect(kFirst));
  rig.bus->lineFaults.duplicateAnswer = 0;
  ASSERT_TRUE(rig.protocolBus.SendCommand(protocol::frames::kBeginAccess).acknowledged);
  EXPECT_FALSE(rig.protocolBus.EnsureQuiet("the next frame"));
  EXPECT_EQ(rig.protocolBus.faultSince(0),
            "1 bytes nobody asked for were waiting before the next frame: a reply sent twice, or "
            "after its time-out");
  EXPECT_TRUE(rig.protocolBus.EnsureQuiet("the next frame"));
}

TEST(ReadParameterText, TheLastByteMustBeO) {
  SimRig rig;
  ASSERT_TRUE(rig.connectAndSelect("H000000010005"));
  auto& p = rig.processor("H000000010005");
  std::string reply(127, '0');
  for (std::size_t k = 0; k < 18; ++k) {
    reply[84 + 2 * k] = '4';
    reply[85 + 2 * k] = '1';  // "A"
  }
  p.faults.queryReply = reply + "O";
  EXPECT_EQ(rig.protocolBus.ReadParameterText(25), std::string(18, 'A'));
  p.faults.queryReply = reply + "N";
  const std::uint64_t mark = rig.protocolBus.faultCount();
  EXPECT_EQ(rig.protocolBus.ReadParameterText(25), "");
  EXPECT_EQ(rig.protocolBus.lastReadFailure, protocol::Bus::ReadFailure::BadTerminator);
  EXPECT_EQ(rig.protocolBus.faultSince(mark), "parameter 25: the reply did not end in \"O\"");
}

TEST(QueryStatus, AFailedWriteIsAFaultAndLeavesNoReply) {
  SimRig rig;
  ASSERT_TRUE(rig.connectAndSelect(kFirst));
  rig.processor(kFirst).inputIndicator = 2;
  ASSERT_TRUE(rig.protocolBus.QueryStatus("I0000"));
  rig.adapter->faults().writeFails = true;
  const std::uint64_t mark = rig.protocolBus.faultCount();
  EXPECT_FALSE(rig.protocolBus.QueryStatus("I0000"));
  EXPECT_EQ(rig.protocolBus.faultSince(mark), "the status query \"I0000\" could not be written");
  EXPECT_EQ(rig.protocolBus.StatusReply, (std::array<std::uint8_t, 7>{}));
}

}  // namespace
}  // namespace qubix::test
