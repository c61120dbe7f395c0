// Decoding single exchanges: each frame the program sends, with its values read back out of
// the bytes (which byte is which, signs, scales), and the answers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filters/EqBands.h"
#include "network/TraceDecoder.h"
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
  EXPECT_EQ(lines[0].kind == DecodedLine::Kind::Unknown, std::string(c.name) == "not_a_frame");
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

// Records as the tracing adapter writes them, and a read as the window's link makes it: in
// 50 ms slices, a time-out of one slice set before each, every piece arriving as its slice ends.
struct Trace {
  std::vector<TraceRecord> records;
  Trace& add(TraceRecord::Kind kind, double t, std::string bytes, std::uint32_t want = 0,
             std::uint32_t status = 0, std::string name = {}, std::int64_t readMs = -1) {
    records.push_back({kind, t, std::move(bytes), want, status, std::move(name), readMs});
    return *this;
  }
  Trace& tx(double t, std::string bytes) { return add(TraceRecord::Kind::Tx, t, bytes); }
  Trace& rx(double t, std::uint32_t want, std::string bytes, std::uint32_t status = 0) {
    return add(TraceRecord::Kind::Rx, t, bytes, want, status);
  }
  Trace& call(double t, std::string name, std::int64_t readMs = -1, std::uint32_t status = 0) {
    return add(TraceRecord::Kind::Call, t, {}, 0, status, std::move(name), readMs);
  }
  Trace& sliced(double from, std::uint32_t want, const std::vector<std::string>& pieces,
                std::int64_t timeoutMs) {
    std::uint32_t got = 0;
    for (const std::string& piece : pieces) {
      call(from, "timeouts", 50);
      rx(from += 50, want - got, piece);
      got += static_cast<std::uint32_t>(piece.size());
    }
    return call(from, "timeouts", timeoutMs);
  }
};

std::vector<std::string> Told(const std::vector<TraceRecord>& records) {
  std::vector<std::string> lines;
  for (const auto& line : DecodeTrace(records))
    lines.push_back(std::string(KindName(line.kind)) + ": " + line.text);
  return lines;
}

const std::string kQuery18 = protocol::ByteCommand('I', 18);
const std::string kSelect5 = protocol::SelectFrame({0, 0, 0, 1, 0, 5});

// A slice's piece, then nothing for the rest of count slices.
std::vector<std::string> Pieces(const std::string& first, std::size_t count) {
  std::vector<std::string> pieces(count);
  pieces[0] = first;
  return pieces;
}

struct TraceCase {
  const char* name;
  Trace trace;
  std::vector<std::string> expected;
};
void PrintTo(const TraceCase& c, std::ostream* os) { *os << c.name; }

class DecodeTraces : public ::testing::TestWithParam<TraceCase> {};

TEST_P(DecodeTraces, TellTheExchangesInOrder) {
  EXPECT_EQ(Told(GetParam().trace.records), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Traces, DecodeTraces,
    ::testing::Values(
        // A fault or stray bytes in the middle of an exchange come after the exchange's line.
        TraceCase{"read_failed",
                  Trace().tx(0, kSelect5).rx(1, 1, "", 4).tx(2, "R"),
                  {"select: select H000000010005", "fault: read failed (status 4)",
                   "release: release \"R\""}},
        TraceCase{
            "call_failed_between_reads",
            Trace().tx(0, kQuery18).rx(100, 7, "00").call(100, "timeouts", 50, 4).rx(150, 5, ""),
            {"query: query 18 hardware preset: 2 of 7 bytes \"00\", time-out after 150 ms",
             "fault: the driver call \"timeouts\" failed (status 4)"}},
        TraceCase{"stray_bytes",
                  Trace().tx(0, kSelect5).rx(1, 1, "OO").tx(2, "R"),
                  {"select: select H000000010005: acknowledged", "stray: stray bytes \"O\"",
                   "release: release \"R\""}},
        // The window's link reads in slices, told as one read each. A drain whose first slice
        // finds late bytes asks for fewer than sixteen in the next but is still no wait for the
        // answer.
        TraceCase{"drain_in_slices_after_a_cut_answer",
                  Trace()
                      .tx(0, kQuery18)
                      .sliced(0, 7, {"", "00", "", ""}, 200)
                      .call(200, "timeouts", 1000)
                      .sliced(200, 16, Pieces("0", 20), 1000),
                  {"query: query 18 hardware preset: 3 of 7 bytes \"000\", time-out after 200 ms"}},
        // The Extra preset name's answer: its last slices ask for exactly sixteen bytes.
        TraceCase{"name_answer_in_slices_short_by_sixteen",
                  Trace()
                      .tx(0, protocol::ByteCommand('I', 25))
                      .sliced(0, 128, Pieces(std::string(112, '0'), 4), 200),
                  {"query: query 25 Extra preset name: 112 of 128 bytes \"" +
                   std::string(112, '0') + "\", time-out after 200 ms"}}),
    [](const auto& info) { return test::CaseName(info.param.name); });

}  // namespace
}  // namespace qubix::test
