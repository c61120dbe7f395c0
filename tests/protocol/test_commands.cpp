#include <gtest/gtest.h>

#include "protocol/Commands.h"
#include "protocol/WireCodes.h"
#include "support/NetworkRig.h"

namespace qubix::test {
namespace {

using protocol::Commands;
namespace frames = protocol::frames;

TEST(CommandFrames, WorkedExamples) {
  protocol::SettingsRecord settings;  // A = B = 180, attenuations 255, delays 0, level 255
  const std::array<double, 5> flat{0.0, 1.0, 0.0, 0.0, 0.0};
  const struct {
    std::string built;
    std::string expected;
  } cases[] = {
      {frames::InputGains(168, 180), "Ga8b4a4"},
      {frames::OutputAttenuation(255, 255), "Vffff02"},
      {frames::Delays(10, 300), "L000a012cc9"},
      {frames::ChannelLevel(2, 1, 0), "g020100fd"},
      {frames::BandCoefficients(799, flat),
       "Q031f000000400000000000000000000000"
       "9e"},
      {frames::StoreSettings(3, settings),
       "U030ab4b4ffff00000000ff000000000000"
       "8e"},
      {frames::AmpLevel(255), "nff01"},
      {frames::Recall(0), "u0000"},
      {frames::Recall(1), "u01ff"},
      {frames::Recall(7), "u07f9"},
      {frames::Recall(8), ""},
      {frames::Recall(-1), ""},
      {std::string(frames::kSavePowerOn), "T0000"},
      {std::string(frames::kBeginAccess), "T01ff"},
      {std::string(frames::kEndAccess), "T02fe"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.built, c.expected);
    // The simulated processors and the trace decoder count a frame's characters by its letter.
    if (!c.built.empty()) {
      EXPECT_EQ(c.built.size(), protocol::FrameLength(c.built[0])) << c.built;
    }
  }
  EXPECT_EQ(protocol::SelectFrame({0, 0, 0, 1, 0, 2}).size(), protocol::FrameLength('H'));
  EXPECT_EQ(protocol::ByteCommand('I', 25).size(), protocol::FrameLength('I'));
  EXPECT_EQ(frames::BandCoefficients(799, flat).size(), 37u);
  EXPECT_EQ(frames::StoreBand(0, 9, {0.f, 1.f, 0.f, 0.f, 0.f}),
            "U0009000000400000000000000000000000"
            "b7");
}

TEST(LiveBandRecord, SetKeepsSendingOrderAndMirror) {
  protocol::LiveBandRecord r;
  r.set(814, 1.0, 0.5, 0.25, -0.5, 0.125);
  EXPECT_EQ(r.bandAddress, 814);
  EXPECT_EQ(r.mirrorAddress, 930);
  EXPECT_EQ(r.coefficients, (std::array<double, 5>{0.25, 1.0, 0.5, 0.125, -0.5}));
}

// Each command on a selected machine puts exactly its frame on the wire; with the machine or
// the link missing nothing goes out and the command reports failure.
struct CommandCase {
  const char* name;
  std::function<bool(Commands&)> run;
  std::vector<std::string> wire;  // frames written when selected
};

std::vector<CommandCase> commandCases() {
  protocol::SettingsRecord s;
  return {
      {"amp", [](Commands& c) { return c.SendAmpLevel(255); }, {"nff01"}},
      {"channel", [](Commands& c) { return c.SendChannelLevel(2, 1, 0); }, {"g020100fd"}},
      {"delays", [](Commands& c) { return c.SendDelays(10, 300); }, {"L000a012cc9"}},
      {"attenuation", [](Commands& c) { return c.SendOutputAttenuation(255, 255); }, {"Vffff02"}},
      {"gains", [](Commands& c) { return c.SendInputGains(168, 180); }, {"Ga8b4a4"}},
      {"band",
       [](Commands& c) {
         c.liveBand().set(799, 1, 0, 0, 0, 0);
         c.liveBand().mirror = true;
         return c.SendBandCoefficients();
       },
       {"Q031f000000400000000000000000000000"
        "9e",
        "Q0393000000400000000000000000000000"
        "2a"}},
      {"store band",
       [](Commands& c) {
         return c.StoreBandToLocation(0, 9, {0.f, 1.f, 0.f, 0.f, 0.f});
       },
       {"U0009000000400000000000000000000000"
        "b7"}},
      {"store settings",
       [s](Commands& c) { return c.StoreSettingsToLocation(3, s); },
       {"U030ab4b4ffff00000000ff000000000000"
        "8e"}},
      {"recall", [](Commands& c) { return c.RecallLocation(2); }, {"u02fe"}},
      {"power on", [](Commands& c) { return c.SavePowerOnSetting(); }, {"T0000"}},
      {"begin", [](Commands& c) { return c.BeginAccess(); }, {"T01ff"}},
      {"end", [](Commands& c) { return c.EndAccess(); }, {"T02fe"}},
  };
}

TEST(Commands, SelectedMachineReceivesExactFrames) {
  for (const auto& c : commandCases()) {
    NetworkRig rig;
    ASSERT_TRUE(rig.connectAndSelect("H000000010001")) << c.name;
    EXPECT_TRUE(c.run(rig.commands)) << c.name;
    EXPECT_EQ(rig.pcBytes(), Join(c.wire)) << c.name;
  }
}

TEST(Commands, NothingSentIsAFailure) {
  for (const auto& c : commandCases()) {
    {
      NetworkRig rig;  // connected, nothing selected
      rig.connect();
      EXPECT_FALSE(c.run(rig.commands)) << c.name << " without a selection";
      EXPECT_TRUE(rig.pcBytes().empty()) << c.name;
    }
    {
      NetworkRig rig;  // never connected
      EXPECT_FALSE(c.run(rig.commands)) << c.name << " without a link";
      EXPECT_TRUE(rig.pcBytes().empty()) << c.name;
    }
  }
}

TEST(Commands, RecallOutsideLocationsSendsNothing) {
  NetworkRig rig;
  ASSERT_TRUE(rig.connectAndSelect("H000000010001"));
  EXPECT_FALSE(rig.commands.RecallLocation(8));
  EXPECT_TRUE(rig.pcBytes().empty());
}

TEST(Commands, BandWithoutMirrorFlagGoesToOneAddress) {
  NetworkRig rig;
  ASSERT_TRUE(rig.connectAndSelect("H000000010001"));
  rig.commands.liveBand().set(844, 1, 0, 0, 0, 0);
  EXPECT_TRUE(rig.commands.SendBandCoefficients());
  ASSERT_EQ(rig.pcBytes().size(), 37u);
  EXPECT_EQ(rig.pcBytes().substr(0, 5), "Q034c");
  EXPECT_EQ(rig.processor("H000000010001").coefficients.count(844), 1u);
}

TEST(Commands, MissingAcknowledgementFailsBandAndStore) {
  NetworkRig rig;
  ASSERT_TRUE(rig.connectAndSelect("H000000010001"));
  rig.processor("H000000010001").faults.silent = true;
  rig.commands.liveBand().set(799, 1, 0, 0, 0, 0);
  rig.commands.liveBand().mirror = true;
  EXPECT_FALSE(rig.commands.SendBandCoefficients());
  EXPECT_EQ(rig.pcBytes().size(), 37u) << "the mirror is not written after a failure";
  EXPECT_FALSE(rig.commands.StoreSettingsToLocation(1, {}));
}

TEST(Commands, StoreRaisesReadTimeoutAndAlwaysRestoresIt) {
  for (bool silent : {false, true}) {
    NetworkRig rig;
    ASSERT_TRUE(rig.connectAndSelect("H000000010001"));
    rig.processor("H000000010001").faults.silent = silent;
    const double before = rig.adapter->nowMs();
    EXPECT_EQ(rig.commands.StoreSettingsToLocation(2, {}), !silent);
    EXPECT_EQ(rig.adapter->readTimeoutMs(), 200u) << "silent=" << silent;
    if (silent) {
      // The failed store waited the long time-out, not the short one.
      EXPECT_GE(rig.adapter->nowMs() - before, 1000.0);
    } else {
      EXPECT_EQ(rig.processor("H000000010001").locations[2].records[10][0], 180);
    }
  }
}

TEST(Commands, BeginAccessDrainsEvenWithoutSelection) {
  NetworkRig rig;
  rig.connect();
  EXPECT_FALSE(rig.commands.BeginAccess());
  EXPECT_GT(rig.adapter->calls().read, 0);
  EXPECT_TRUE(rig.pcBytes().empty());
}

}  // namespace
}  // namespace qubix::test

namespace qubix::test {
namespace {

// Every conversion between a value in dB and its wire code, both ways, with the truncation
// towards zero and the ends of each range.
TEST(WireCodes, ValuesAndCodesBothWays) {
  namespace codes = protocol::codes;
  struct Gain {
    double db;
    int code;
    double back;  // the code's own value: whole half-dB steps
  };
  for (const Gain& g : {Gain{0.0, 180, 0.0}, Gain{-48.0, 84, -48.0}, Gain{12.0, 204, 12.0},
                        Gain{-3.5, 173, -3.5}, Gain{0.74, 181, 0.5}, Gain{-0.74, 178, -1.0}}) {
    EXPECT_EQ(codes::GainCode(g.db), g.code) << g.db;
    EXPECT_EQ(codes::GainDb(g.code), g.back) << g.code;
  }
  struct Knob {
    int position;
    int code;
    double db;
  };
  for (const Knob& k : {Knob{64, 255, 0.0}, Knob{0, 191, -32.0}, Knob{40, 231, -12.0}}) {
    EXPECT_EQ(codes::AttenuationCode(k.position), k.code);
    EXPECT_EQ(codes::KnobPosition(k.code), k.position);
    EXPECT_EQ(codes::AttenuationDb(k.code), k.db);
  }
  EXPECT_EQ(codes::LevelDb(255), 0.0);
  EXPECT_EQ(codes::LevelDb(201), -27.0);
  // The amplifier level in dB takes whole dB, truncated towards zero, whoever converts it.
  struct Level {
    double db;
    int code;
  };
  for (const Level& l : {Level{0.0, 255}, Level{-3.5, 249}, Level{-3.0, 249}, Level{-0.5, 255},
                         Level{-10.0, 235}, Level{-127.5, 1}, Level{2.0, 255}, Level{-18.0, 219}})
    EXPECT_EQ(codes::AmpLevelCode(l.db), l.code) << l.db;
}

}  // namespace
}  // namespace qubix::test
