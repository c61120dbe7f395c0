// Decoding single exchanges: each frame the program sends, with its values read back out of
// the bytes (which byte is which, signs, scales), and the answers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filters/EqBands.h"
#include "network/BusTrace.h"
#include "protocol/Commands.h"
#include "protocol/Hex.h"
#include "support/CaseNames.h"

namespace qubix::test {
using namespace qubix::network;
namespace {

namespace frames = protocol::frames;

struct ExchangeCase {
  const char* name;
  std::string frame;
  std::string reply;
  std::string expected;
};
void PrintTo(const ExchangeCase& c, std::ostream* os) { *os << c.name; }

std::string QueryReply(int value, int checkOffset = 0) {
  return protocol::ByteToHex(value >> 8) + protocol::ByteToHex(value & 0xff) +
         protocol::ByteToHex(-((value >> 8) + (value & 0xff)) + checkOffset) + "O";
}

std::string NameReply(const std::string& name) {
  std::string reply(128, '0');
  for (std::size_t k = 0; k < name.size(); ++k)
    reply.replace(84 + 2 * k, 2, protocol::ByteToHex(static_cast<std::uint8_t>(name[k])));
  reply[127] = 'O';
  return reply;
}

protocol::SettingsRecord Settings() {
  protocol::SettingsRecord s;
  s.gainACode = 168;
  s.gainBCode = 181;
  s.attenuation12Code = 231;
  s.attenuation34Code = 255;
  s.delay12 = 12;
  s.delay34 = 310;
  s.ampLevelCode = 0;
  return s;
}

class DecodeExchange : public ::testing::TestWithParam<ExchangeCase> {};

TEST_P(DecodeExchange, TellsTheFrameAndItsAnswer) {
  const ExchangeCase& c = GetParam();
  std::vector<TraceRecord> records(2);
  records[0].kind = TraceRecord::Kind::Tx;
  records[0].bytes = c.frame;
  records[1].kind = TraceRecord::Kind::Rx;
  records[1].t = 1.0;
  records[1].bytes = c.reply;
  records[1].want = static_cast<std::uint32_t>(c.reply.size());
  const auto lines = DecodeTrace(records);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].text, c.expected);
  EXPECT_EQ(lines[0].kind == "unknown", std::string(c.name) == "not_a_frame");
}

INSTANTIATE_TEST_SUITE_P(
    Frames, DecodeExchange,
    ::testing::Values(
        ExchangeCase{"input_gains_b_first", frames::InputGains(181, 168), "O",
                     "input gains A -6 dB, B 0.5 dB: acknowledged"},
        ExchangeCase{"attenuations", frames::OutputAttenuation(231, 255), "O",
                     "output attenuation Ch1/Ch2 -12 dB, Ch3/Ch4 0 dB: acknowledged"},
        ExchangeCase{"delays_16_bit", frames::Delays(10, 300), "O",
                     "delays Ch1/Ch2 10 ms, Ch3/Ch4 300 ms: acknowledged"},
        ExchangeCase{"amp_muted", frames::AmpLevel(0), "O",
                     "amplifier level 0 (muted): acknowledged"},
        ExchangeCase{"channel_4", frames::ChannelLevel(2, 1, 251), "O",
                     "channel level Ch4 251 (-2 dB): acknowledged"},
        ExchangeCase{"band_mirror",
                     frames::BandCoefficients(filters::BandAddress(3) + protocol::kMirrorOffset,
                                              {0.5, 1.5, -1.25, 0.25, -0.75}),
                     "O",
                     "band 3 mirror at 925: b0 1.500000 b1 -1.250000 b2 0.500000 a1 -0.750000 "
                     "a2 0.250000: acknowledged"},
        ExchangeCase{"store_band", frames::StoreBand(2, 9, {0.f, 1.f, 0.f, 0.f, 0.f}), "O",
                     "store band 10 into user location 2: b0 1.000000 b1 0.000000 b2 0.000000 "
                     "a1 0.000000 a2 0.000000: acknowledged"},
        ExchangeCase{"store_settings", frames::StoreSettings(3, Settings()), "O",
                     "store settings into user location 3: gains A -6 dB, B 0.5 dB, attenuation "
                     "Ch1/Ch2 -12 dB, Ch3/Ch4 0 dB, delays Ch1/Ch2 12 ms, Ch3/Ch4 310 ms, "
                     "amplifier level muted: acknowledged"},
        ExchangeCase{"recall", frames::Recall(6), "O", "recall user location 6: acknowledged"},
        ExchangeCase{"power_on", std::string(frames::kSavePowerOn), "N",
                     "save as power-on setting: answered \"N\""},
        ExchangeCase{"query_delay", protocol::ByteCommand('I', 16), QueryReply(300),
                     "query 16 delay Ch3/Ch4: 300 ms"},
        ExchangeCase{"query_checksum", protocol::ByteCommand('I', 11), QueryReply(168, 1),
                     "query 11 gain A: 168 (-6 dB) (checksum wrong)"},
        ExchangeCase{"query_channel_off", protocol::ByteCommand('I', 21), QueryReply(0),
                     "query 21 Ch3 on: off"},
        ExchangeCase{"query_name", protocol::ByteCommand('I', 25), NameReply("STAGE LEFT FILL   "),
                     "query 25 Extra preset name: \"STAGE LEFT FILL   \""},
        ExchangeCase{"query_cut_short", protocol::ByteCommand('I', 18), "00",
                     "query 18 hardware preset: 2 of 7 bytes \"00\", time-out after 1 ms"},
        ExchangeCase{"select", protocol::SelectFrame({0, 0, 0, 1, 0, 5}), "O",
                     "select H000000010005: acknowledged"},
        ExchangeCase{"not_a_frame", "Q00", "", "unknown frame \"Q00\""}),
    [](const auto& info) { return test::CaseName(info.param.name); });

}  // namespace
}  // namespace qubix::test
