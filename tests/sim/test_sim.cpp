#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/Hex.h"
#include "sim/SimAdapter.h"
#include "sim/SimBus.h"

using namespace qubix;
using namespace qubix::sim;

namespace qubix::test {
namespace {

constexpr double kByteMs = 1000.0 / 11520.0;

// Talks to the bus through the adapter the way the link does, without the link.
struct Wire {
  explicit Wire(std::shared_ptr<SimBus> b = makeDemoBus()) : bus(std::move(b)), adapter(bus) {
    adapter.open(0, handle);
    adapter.setTimeouts(handle, 200, 200);
  }
  void send(const std::string& s) {
    std::uint32_t written = 0;
    ASSERT_EQ(adapter.write(handle, reinterpret_cast<const std::uint8_t*>(s.data()),
                            static_cast<std::uint32_t>(s.size()), written),
              link::kOk);
    ASSERT_EQ(written, s.size());
  }
  std::string receive(std::uint32_t count) {
    std::string out(count, '\0');
    std::uint32_t got = 0;
    adapter.read(handle, reinterpret_cast<std::uint8_t*>(out.data()), count, got);
    out.resize(got);
    return out;
  }
  std::string exchange(const std::string& s, std::uint32_t count = 1) {
    send(s);
    return receive(count);
  }
  void timeout(std::uint32_t ms) { adapter.setTimeouts(handle, ms, 200); }
  SimProcessor& p(const char* id) { return *bus->find(id); }

  std::shared_ptr<SimBus> bus;
  SimAdapter adapter;
  link::Handle handle = nullptr;
};

TEST(DemoBus, ThreeProcessorsInDifferentPresetsOneWithANamedExtraPreset) {
  auto bus = makeDemoBus();
  ASSERT_EQ(bus->processors().size(), 3u);
  const char* ids[] = {"H000000010001", "H000000010002", "H000000010005"};
  std::vector<int> presets;
  for (const char* id : ids) {
    ASSERT_NE(bus->find(id), nullptr) << id;
    presets.push_back(bus->find(id)->hardwarePreset);
  }
  EXPECT_NE(presets[0], presets[1]);
  EXPECT_NE(presets[1], presets[2]);
  EXPECT_NE(presets[0], presets[2]);
  const auto* extra = bus->find("H000000010005");
  EXPECT_TRUE(extra->extraPresent);
  EXPECT_EQ(extra->hardwarePreset, 7);
  EXPECT_EQ(extra->extraName.size(), 18u);
  EXPECT_EQ(bus->find("H000000010003"), nullptr);
}

TEST(VirtualClock, BytesCostWireTimeAndShortReadsCostTheTimeout) {
  Wire w;
  w.send("H000000010001fe");
  EXPECT_NEAR(w.adapter.nowMs(), 15 * kByteMs, 1e-9);
  EXPECT_EQ(w.receive(1), "O");
  // The answer leaves shortly after the frame and takes one byte time.
  EXPECT_LT(w.adapter.nowMs(), 15 * kByteMs + 1.0);
  const double before = w.adapter.nowMs();
  EXPECT_EQ(w.receive(1), "");
  EXPECT_DOUBLE_EQ(w.adapter.nowMs() - before, 200.0);
}

TEST(Transcript, DirectionsMergedWithTimes) {
  Wire w;
  w.send("H0000000");
  w.send("10001fe");
  w.receive(1);
  w.send("R");
  ASSERT_EQ(w.bus->transcript.size(), 3u);
  EXPECT_TRUE(w.bus->transcript[0].fromPc);
  EXPECT_EQ(w.bus->transcript[0].bytes, "H000000010001fe");
  EXPECT_DOUBLE_EQ(w.bus->transcript[0].atMs, 0.0);
  EXPECT_FALSE(w.bus->transcript[1].fromPc);
  EXPECT_EQ(w.bus->transcript[1].bytes, "O");
  EXPECT_GT(w.bus->transcript[1].atMs, 15 * kByteMs);
  EXPECT_EQ(w.bus->pcBytes(), "H000000010001feR");
  w.bus->clearTranscript();
  EXPECT_TRUE(w.bus->transcript.empty());
}

TEST(Transcript, ALimitedTranscriptKeepsTheNewestBursts) {
  Wire w;
  w.bus->transcriptLimit = 8;
  for (int i = 0; i < 100; ++i) {
    w.send("H000000010001fe");
    w.receive(1);
    w.send("R");
  }
  EXPECT_LE(w.bus->transcript.size(), 8u);
  EXPECT_GE(w.bus->transcript.size(), 4u);
  w.send("H000000010002fd");
  EXPECT_NE(w.bus->pcBytes().find("RH000000010002fd"), std::string::npos) << "the newest stays";
}

TEST(Selection, QueriesGoToTheSelectedProcessorOnly) {
  Wire w;
  w.p("H000000010001").live.gainA = 100;
  w.p("H000000010002").live.gainA = 168;
  EXPECT_EQ(w.exchange("I0bf5", 7), "");  // nobody selected: silence
  EXPECT_EQ(w.exchange("H000000010002fd"), "O");
  EXPECT_EQ(w.exchange("I0bf5", 7), "00a858O");
  w.send("R");
  EXPECT_EQ(w.receive(1), "");  // a release is not answered
  EXPECT_EQ(w.exchange("I0bf5", 7), "");
  EXPECT_EQ(w.exchange("H000000010001fe"), "O");
  EXPECT_EQ(w.exchange("I0bf5", 7), "00649cO");
}

TEST(Selection, PreambleIsAcknowledgedAndReleases) {
  Wire w;
  EXPECT_EQ(w.exchange("H000000010001fe"), "O");
  EXPECT_EQ(w.exchange("e"), "O");
  EXPECT_EQ(w.exchange("R"), "O");
  EXPECT_TRUE(w.bus->selected().empty());
}

TEST(Selection, AMachineThatMissedTheReleaseCollidesWithTheNext) {
  Wire w;
  EXPECT_EQ(w.exchange("H000000010001fe"), "O");
  EXPECT_EQ(w.exchange("H000000010002fd"), "O");
  EXPECT_EQ(w.bus->selected().size(), 2u);
  w.p("H000000010001").live.gainA = 0x0f;
  w.p("H000000010002").live.gainA = 0xf0;
  const auto reply = w.exchange("I0bf5", 7);
  ASSERT_EQ(reply.size(), 7u);
  // Both answer at once: the PC reads neither machine's reply.
  EXPECT_NE(reply, "000ff1O");
  EXPECT_NE(reply, "00f010O");
}

TEST(Frames, WrongChecksumOrBrokenFramesAreIgnored) {
  Wire w;
  EXPECT_EQ(w.exchange("H000000010001fe"), "O");
  for (const char* bad : {"nff00", "Gb4b4a0", "L000a012cc8", "u01fe", "nfz01"}) {
    EXPECT_EQ(w.exchange(bad), "") << bad;
  }
  EXPECT_EQ(w.p("H000000010001").live.ampLevel, 255);
  EXPECT_EQ(w.p("H000000010001").framesHandled.count('n'), 0u);
  // After the noise the machine still understands a good frame.
  EXPECT_EQ(w.exchange("n8080"), "O");
  EXPECT_EQ(w.p("H000000010001").live.ampLevel, 0x80);
}

TEST(Frames, AHalfFrameIsDroppedAfterSilence) {
  Wire w;
  EXPECT_EQ(w.exchange("H000000010001fe"), "O");
  w.send("Gb4");
  EXPECT_EQ(w.receive(1), "");  // 200 ms of silence
  EXPECT_EQ(w.exchange("Ga8b4a4"), "O");
  EXPECT_EQ(w.p("H000000010001").live.gainB, 0xa8);
}

TEST(Commands, ParameterCommandsChangeTheLiveState) {
  Wire w;
  auto& p = w.p("H000000010001");
  EXPECT_EQ(w.exchange("H000000010001fe"), "O");
  EXPECT_EQ(w.exchange("Ga8b4a4"), "O");
  EXPECT_EQ(p.live.gainB, 168);
  EXPECT_EQ(p.live.gainA, 180);
  EXPECT_EQ(w.exchange("Vffff02"), "O");
  EXPECT_EQ(w.exchange("L000a012cc9"), "O");
  EXPECT_EQ(p.live.delay12, 10);
  EXPECT_EQ(p.live.delay34, 300);
  EXPECT_EQ(w.exchange("g020100fd"), "O");
  EXPECT_EQ(p.channelLevel[3], 0);
  EXPECT_EQ(w.exchange("I16ea", 7), "000000O");  // parameter 22: channel 4 off
  const std::string flat =
      std::string("Q031f") + "000000" + "400000" + "000000" + "000000" + "000000" + "9e";
  ASSERT_EQ(flat.size(), 37u);
  EXPECT_EQ(w.exchange(flat), "O");
  EXPECT_EQ(p.coefficients.at(799), FlatBandRecord());
}

TEST(Commands, StoreRecallAndPowerOn) {
  Wire w;
  auto& p = w.p("H000000010001");
  EXPECT_EQ(w.exchange("H000000010001fe"), "O");
  const std::string settings = "U030ab4b4ffff00000000ff0000000000008e";
  ASSERT_EQ(settings.size(), 37u);
  w.timeout(1000);
  EXPECT_EQ(w.exchange(settings), "O");
  EXPECT_EQ(SettingsFromRecord(p.locations[3].records[10]), Settings{});
  // A band record into location 3, record 2: a recognisable first word.
  std::vector<std::uint8_t> payload{3, 2, 0x12, 0x34, 0x56};
  payload.resize(17, 0);
  EXPECT_EQ(w.exchange(protocol::BuildFrame('U', payload)), "O");
  w.timeout(200);
  p.live.gainA = 100;
  EXPECT_EQ(w.exchange("u03fd"), "O");
  EXPECT_EQ(p.userPreset, 3);
  EXPECT_EQ(p.live.gainA, 180);
  EXPECT_EQ(p.coefficients.at(799 + 10)[0], 0x12);
  EXPECT_EQ(p.coefficients.at(799 + 10 + 116)[2], 0x56);
  EXPECT_EQ(w.exchange("I11ef", 7), "0003fdO");  // parameter 17
  EXPECT_EQ(w.exchange("u08f8"), "");            // no location 8
}

TEST(Commands, PowerOnSettingIsStored) {
  Wire w;
  auto& p = w.p("H000000010001");
  EXPECT_EQ(w.exchange("H000000010001fe"), "O");
  p.live.delay34 = 77;
  EXPECT_EQ(w.exchange("T0000"), "O");
  EXPECT_EQ(p.powerOn.delay34, 77);
  EXPECT_EQ(w.exchange("T01ff"), "O");
  EXPECT_TRUE(p.inAccess);
  EXPECT_EQ(w.exchange("T02fe"), "O");
  EXPECT_FALSE(p.inAccess);
}

TEST(Commands, HardwarePresetSwitchTakesSeconds) {
  Wire w;
  auto& p = w.p("H000000010001");
  EXPECT_EQ(w.exchange("H000000010001fe"), "O");
  EXPECT_EQ(w.exchange("r03fd"), "");  // not within 200 ms
  w.timeout(4000);
  EXPECT_EQ(w.receive(16), "O");  // but within seconds
  w.timeout(12000);
  const double start = w.adapter.nowMs();
  EXPECT_EQ(w.exchange("r05fb"), "O");
  EXPECT_GT(w.adapter.nowMs() - start, 1000.0);
  EXPECT_LT(w.adapter.nowMs() - start, 12000.0);
  EXPECT_EQ(p.hardwarePreset, 5);
  w.timeout(200);
  EXPECT_EQ(w.exchange("I12ee", 7), "0005fbO");
}

TEST(Commands, StatusAndLevels) {
  Wire w;
  auto& p = w.p("H000000010001");
  EXPECT_EQ(w.exchange("H000000010001fe"), "O");
  p.inputIndicator = 3;
  EXPECT_EQ(w.exchange("I0000", 7), "0003fdO");
  p.fixedLevels = std::array<std::uint16_t, 6>{0, 1, 2, 3, 5623, 65535};
  EXPECT_EQ(w.exchange("I09f7", 7), "15f7f4O");
  EXPECT_EQ(w.exchange("I0af6", 7), "ffff02O");
}

TEST(Levels, FollowTheInputGainsAndMutes) {
  SimProcessor p({0, 0, 0, 1, 0, 1});
  const auto at0 = p.levelsAt(1234.0);
  p.live.gainA = 180 + 12;  // +6 dB
  const auto louder = p.levelsAt(1234.0);
  EXPECT_NEAR(static_cast<double>(louder[0]) / at0[0], 2.0, 0.01);
  EXPECT_GT(louder[2], at0[2]);
  p.channelLevel[0] = 0;
  EXPECT_EQ(p.levelsAt(1234.0)[2], 0);
  // They move with time.
  EXPECT_NE(p.levelsAt(0.0)[0], p.levelsAt(700.0)[0]);
}

std::string UploadPayload() {
  std::string payload(kExtraPayloadSize, '\0');
  const std::string name = "MYPRESET          ";
  for (std::size_t i = 0; i < payload.size(); ++i)
    payload[i] = i < name.size() ? name[i] : static_cast<char>((i * 7) & 0xff);
  return payload;
}

TEST(Upload, EchoReadBackAndFinalAcknowledge) {
  Wire w;
  auto& p = w.p("H000000010002");
  EXPECT_EQ(w.exchange("H000000010002fd"), "O");
  EXPECT_EQ(w.exchange("J0745b4"), "O");
  const std::string payload = UploadPayload();
  std::string sent;
  for (char c : payload) {
    const char b = static_cast<char>(static_cast<std::uint8_t>(c) + 15);
    sent.push_back(b);
    ASSERT_EQ(w.exchange(std::string(1, b)), std::string(1, b));
  }
  w.timeout(10000);
  EXPECT_EQ(w.receive(static_cast<std::uint32_t>(kExtraPayloadSize)), sent);
  w.timeout(200);
  std::string last;
  for (int i = 0; i < 50 && last.empty(); ++i) last = w.receive(1);
  EXPECT_EQ(last, "O");
  EXPECT_TRUE(p.extraPresent);
  EXPECT_EQ(p.extraName, "MYPRESET          ");
  EXPECT_EQ(p.extraImage[kExtraPayloadOffset + 20], static_cast<std::uint8_t>(20 * 7));
  // The machine is back in command mode.
  EXPECT_EQ(w.exchange("I18e8", 7), "0001ffO");
}

TEST(Upload, WrongLengthIsNotAcknowledged) {
  Wire w;
  EXPECT_EQ(w.exchange("H000000010002fd"), "O");
  EXPECT_EQ(w.exchange("J0746b3"), "");
  EXPECT_FALSE(w.p("H000000010002").uploading());
}

TEST(Faults, AdapterSwitchboard) {
  auto bus = makeDemoBus();
  SimAdapter a(bus);
  std::array<link::Description, 2> slots{};
  std::uint32_t n = 0;
  a.faults().listFails = true;
  EXPECT_NE(a.listDevices(slots, n), link::kOk);
  a.faults().listFails = false;
  a.faults().noDevice = true;
  EXPECT_EQ(a.listDevices(slots, n), link::kOk);
  EXPECT_EQ(n, 0u);
  link::Handle h = nullptr;
  EXPECT_NE(a.open(0, h), link::kOk);
  a.faults().noDevice = false;
  a.faults().openFails = true;
  EXPECT_NE(a.open(0, h), link::kOk);
  a.faults().openFails = false;
  ASSERT_EQ(a.open(0, h), link::kOk);
  link::Handle second = nullptr;
  EXPECT_NE(a.open(0, second), link::kOk) << "a device opens once";
  a.faults().unplugAfterBytes = 4;
  std::uint32_t written = 0;
  const std::uint8_t frame[] = {'H', '0', '0', '0', '0', '0'};
  EXPECT_NE(a.write(h, frame, 6, written), link::kOk);
  EXPECT_EQ(written, 4u);
  EXPECT_EQ(a.listDevices(slots, n), link::kOk);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(bus->pcBytes(), "H000");
  EXPECT_EQ(a.calls().write, 1);
  EXPECT_EQ(a.calls().open, 4);
}

}  // namespace

}  // namespace qubix::test
