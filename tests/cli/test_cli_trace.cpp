// The bus on record: --trace writes every byte of a command's run on the simulated bus, and
// decode tells it line by line, without a frame it cannot name.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "CliRunner.h"
#include "cli/StationSession.h"
#include "editor/UserPresetFile.h"
#include "network/HfpFile.h"
#include "network/MachineList.h"
#include "sim/SimAdapter.h"
#include "sim/SimBus.h"
#include "support/CaseNames.h"
#include "support/TempDir.h"

namespace qubix::test {
namespace {

using qubix::test::TempDir;
using qubix::test::WriteBytes;

constexpr const char* kMachine = "H000000010002";

struct TracedRun {
  TempDir dir;
  std::string trace = dir.file("bus.jsonl");
  std::string hfp = dir.file("x.hfp");
  std::string vup = dir.file("p.vup");

  TracedRun() {
    qubix::editor::UserPresetRecord preset;
    preset.inputGainA = -7;
    preset.knob12 = 40;
    preset.knob34 = 64;
    preset.muted = {0, 1, 0, 0};
    preset.delay12 = 12;
    preset.delay34 = 300;
    preset.freqHz = {32, 63, 125, 250, 500, 1000, 2000, 4000, 8000, 16000};
    preset.gainDb[3] = 3.5f;
    preset.q.fill(1.4f);
    preset.ampLevelCode = 251;
    qubix::editor::WriteUserPresetFile(vup, preset);
    qubix::network::HfpImage image{};
    const std::string name = "STAGE LEFT FILL   ";
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    std::copy(name.begin(), name.end(), image.begin() + qubix::network::kHfpPayloadOffset);
    qubix::network::SealHfpImage(image);
    WriteBytes(hfp, {image.begin(), image.end()});
    qubix::network::MachineList list;
    list.setEntry(list.count++, kMachine);
    std::string error;
    qubix::network::WriteMachineListFile(dir.path() / "maclist.dat", list, error);
  }

  CliResult run(std::vector<std::string> command) const {
    std::vector<std::string> args{"--link",  "sim:virtual", "--data-dir", dir.path().string(),
                                  "--trace", trace};
    for (auto& a : command) args.push_back(a == "HFP" ? hfp : a == "VUP" ? vup : a);
    return RunCli(args);
  }

  // The decoded lines' texts, as `decode --json` gives them.
  std::vector<std::string> decoded(std::vector<bool>* timeouts = nullptr) const {
    const CliResult r = RunCli({"decode", "--json", trace});
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> texts;
    const auto lines =
        QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).object().value("lines").toArray();
    for (const auto& v : lines) {
      const QJsonObject o = v.toObject();
      EXPECT_NE(o.value("kind").toString(), QStringLiteral("unknown")) << r.out;
      texts.push_back(o.value("text").toString().toStdString());
      if (timeouts) timeouts->push_back(o.value("timeout").toBool());
    }
    return texts;
  }
};

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& l : lines) text += l + "\n";
  return text;
}

struct DecodeCase {
  const char* name;
  std::vector<std::string> command;
  std::vector<std::string> expected;
};

void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.name; }

class DecodeTrace : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTrace, TellsEveryExchange) {
  TracedRun run;
  const CliResult r = run.run(GetParam().command);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Lines(run.decoded()), Lines(GetParam().expected));
}

const std::vector<std::string> kOpening{"trace of the sim adapter", "adapter opened"};

std::vector<std::string> With(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

INSTANTIATE_TEST_SUITE_P(
    Cli, DecodeTrace,
    ::testing::Values(
        DecodeCase{
            "refresh",
            {"status"},
            With(kOpening, {"attention \"e\": acknowledged", "release \"R\": acknowledged",
                            "select H000000010002: acknowledged", "query 18 hardware preset: 3",
                            "query 17 user preset: 2", "query 13 attenuation Ch1/Ch2: 255 (0 dB)",
                            "query 14 attenuation Ch3/Ch4: 231 (-12 dB)",
                            "query 11 gain A: 168 (-6 dB)", "query 12 gain B: 180 (0 dB)",
                            "query 15 delay Ch1/Ch2: 12 ms", "query 16 delay Ch3/Ch4: 0 ms",
                            "query 24 Extra preset present: no", "release \"R\""})},
        DecodeCase{
            "hardware_preset",
            {"hwpreset", "--machine", kMachine, "5"},
            With(kOpening,
                 {"select H000000010002: acknowledged", "begin access: acknowledged",
                  "hardware preset 5: acknowledged", "query 24 Extra preset present: no",
                  "query 18 hardware preset: 5", "end access: acknowledged", "release \"R\""})},
        DecodeCase{
            "upload",
            {"upload", "--machine", kMachine, "HFP"},
            With(kOpening, {"select H000000010002: acknowledged", "begin access: acknowledged",
                            "Extra preset upload \"STAGE LEFT FILL   \": 3722 of 3722 bytes sent, "
                            "3722 echoed, read-back 3722 of 3722 bytes matching, committed",
                            "end access: acknowledged", "release \"R\""})}),
    [](const auto& info) { return qubix::test::CaseName(info.param.name); });

// A machine that does not answer: its select waits out the read time-out, and decode says so
// with the time the exchange began.
TEST(DecodeTraceOf, ASilentMachineShowsItsTimeOut) {
  TracedRun run;
  auto bus = qubix::sim::makeDemoBus();
  bus->find(kMachine)->faults.silent = true;
  qubix::cli::SetAdapterForTesting([&] {
    return qubix::compose::withSimulatorClock(
        std::make_unique<qubix::sim::SimAdapter>(bus, qubix::sim::ClockMode::Virtual));
  });
  const CliResult r = run.run({"hwpreset", "--machine", kMachine, "5"});
  qubix::cli::SetAdapterForTesting({});
  EXPECT_EQ(r.status, 1);
  std::vector<bool> timeouts;
  const auto texts = run.decoded(&timeouts);
  ASSERT_EQ(texts.size(), 3u) << Lines(texts);
  EXPECT_EQ(texts[2], "select H000000010002: no answer, time-out after 200 ms");
  EXPECT_EQ(timeouts, (std::vector<bool>{false, false, true}));
  const CliResult plain = RunCli({"decode", run.trace});
  EXPECT_NE(plain.out.find("\n     0.000  adapter opened\n"), std::string::npos) << plain.out;
  EXPECT_NE(plain.out.find("  select H000000010002: no answer, time-out after 200 ms\n"),
            std::string::npos)
      << plain.out;
}

// A trace that cannot be read is refused whole, naming the line, and nothing is printed.
TEST(DecodeTraceOf, ABadFileNamesTheLine) {
  struct Case {
    const char* text;
    const char* error;
  };
  const std::string good = R"({"t":0.000,"dir":"start","backend":"sim"})";
  const Case cases[] = {
      {"garbage", "line 2: not a JSON object"},
      {R"({"t":1,"dir":"tx","hex":"4"})", "line 2: \"hex\" is not pairs of hex digits"},
      {R"({"t":1,"dir":"rx","hex":"zz"})", "line 2: \"hex\" is not pairs of hex digits"},
      {R"({"dir":"tx","hex":"45"})", "line 2: no time \"t\""},
      {R"({"t":1,"dir":"sideways"})", "line 2: unknown direction \"sideways\""},
      {R"({"t":1,"dir":"tx","hex":"45"} x)", "line 2: text after the object"},
      {R"({"t":1,"dir":"call","call":"timeouts","read":1e89})",
       "line 2: \"read\" is not a whole number from 0 to 4294967295"},
      {R"({"t":1,"dir":"rx","want":-1,"hex":""})",
       "line 2: \"want\" is not a whole number from 0 to 4294967295"},
      {R"({"t":1,"dir":"tx","hex":"45","status":2.5})",
       "line 2: \"status\" is not a whole number from 0 to 4294967295"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    const std::string path = dir.file("bad.jsonl");
    const std::string text = good + "\n" + c.text + "\n" + good + "\n";
    WriteBytes(path, {text.begin(), text.end()});
    const CliResult r = RunCli({"decode", path});
    EXPECT_EQ(r.status, 1) << c.text;
    EXPECT_EQ(r.err, "qubix24ctl: " + path + ": " + c.error + "\n") << c.text;
    EXPECT_EQ(r.out, "") << c.text;
  }
  const CliResult missing = RunCli({"decode", dir.file("none.jsonl")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("none.jsonl"), std::string::npos) << missing.err;
}

// A trace file that cannot be made stops the command before anything goes on the wire.
TEST(DecodeTraceOf, AnUnwritableTraceIsAnError) {
  TracedRun run;
  const std::string nowhere = run.dir.file("no-such-folder/bus.jsonl");
  const CliResult r = RunCli({"--link", "sim:virtual", "--data-dir", run.dir.path().string(),
                              "--trace", nowhere, "hwpreset", "--machine", kMachine, "5"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("qubix24ctl: --trace: cannot write the trace " + nowhere + ": ", 0), 0u)
      << r.err;
  EXPECT_EQ(r.out, "");
}

}  // namespace

}  // namespace qubix::test
