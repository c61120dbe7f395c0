#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "CliRunner.h"
#include "cli/Command.h"
#include "cli/JsonOut.h"
#include "filters/ParametricBand.h"

namespace qubix::test {
namespace {

QJsonDocument Json(const CliResult& r) {
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(r.out), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError) << r.out;
  return doc;
}

QStringList Words(const QJsonObject& o) {
  QStringList words;
  for (const auto& w : o.value("words").toArray()) words << w.toString();
  return words;
}

// Every double a command prints must read back as the same bits, -0 included (QJsonDocument on
// its own writes it as 0); JSON has no NaN or infinity, so those are null.
TEST(CliJson, NumbersReadBackBitForBit) {
  const double values[] = {
      -0.0, 0.0, 0.1, 1.0 / 3.0, -1.5e-7, 5e-324, 1e300, 0.30000000000000004, 123456789012345680.0,
      -2.0};
  QJsonArray array;
  for (double v : values) array.append(qubix::cli::JsonNumber(v));
  array.append(qubix::cli::JsonNumber(std::nan("")));
  array.append(qubix::cli::JsonNumber(-HUGE_VAL));
  const std::string text = qubix::cli::JsonLine(QJsonDocument(array));
  ASSERT_EQ(text.back(), '\n');
  const char* p = text.c_str() + 1;  // past '['
  for (double v : values) {
    char* end = nullptr;
    const double back = std::strtod(p, &end);
    ASSERT_NE(end, p) << text;
    EXPECT_EQ(std::memcmp(&back, &v, sizeof v), 0) << v << " in " << text;
    p = end + 1;  // past ','
  }
  EXPECT_EQ(std::string(p), "null,null]\n");
}

TEST(CliBiquad, WorkedExampleAsJson) {
  const CliResult r = RunCli({"biquad", "--freq", "1000", "--gain", "6", "--q", "1.4", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const QJsonObject o = Json(r).object();
  EXPECT_EQ(o.keys(), (QStringList{"a1", "a2", "b0", "b1", "b2", "code", "words"}));
  EXPECT_EQ(o.value("code").toInt(-1), 0);
  EXPECT_NEAR(o.value("b0").toDouble(), 1.0443291722, 5e-9);
  EXPECT_NEAR(o.value("a2").toDouble(), 0.9109196208, 5e-9);
  EXPECT_EQ(Words(o), (QStringList{"377637", "42D64A", "86BF57", "3A4C81", "86BF57"}));
  // 17 significant digits: the printed numbers read back to exactly the computed doubles.
  qubix::filters::BiquadCoefficients c;
  ASSERT_TRUE(qubix::filters::ComputeParametric({1000, 6, 1.4F, 48000}, c));
  EXPECT_EQ(o.value("b0").toDouble(), c.b0);
  EXPECT_EQ(o.value("b1").toDouble(), c.b1);
  EXPECT_EQ(o.value("b2").toDouble(), c.b2);
  EXPECT_EQ(o.value("a1").toDouble(), c.a1);
  EXPECT_EQ(o.value("a2").toDouble(), c.a2);
}

TEST(CliBiquad, BandFramesForAddressAndMirror) {
  const CliResult r =
      RunCli({"biquad", "--freq", "1000", "--gain", "-6", "--q", "1.4", "--band", "4", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const QJsonArray frames = Json(r).object().value("frames").toArray();
  ASSERT_EQ(frames.size(), 2);
  // Band 4 lives at 814 (0x032e), its mirror at 930 (0x03a2).
  EXPECT_EQ(frames[0].toString(), "Q032e37d2ff3d488a8be4f0351b898be4f021");
  EXPECT_EQ(frames[1].toString(), "Q03a237d2ff3d488a8be4f0351b898be4f0ad");
}

TEST(CliBiquad, HumanOutputNamesWordsAndFrames) {
  const CliResult r =
      RunCli({"biquad", "--freq", "1000", "--gain", "6", "--q", "1.4", "--band", "1"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("words (b2 b0 b1 a2 a1) = 377637 42D64A 86BF57 3A4C81 86BF57\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("code = 0 (ok)\n"), std::string::npos);
  EXPECT_NE(r.out.find("frame @799 = Q031f"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("frame @915 = Q0393"), std::string::npos) << r.out;
}

// A band that does not fit is reported, never turned into frames, and the status says so.
TEST(CliBiquad, FailingBandHasNoFrames) {
  const CliResult r =
      RunCli({"biquad", "--freq", "5000", "--gain", "12", "--q", "0.2", "--band", "2", "--json"});
  EXPECT_EQ(r.status, 1);
  const QJsonObject o = Json(r).object();
  EXPECT_EQ(o.value("code").toInt(), 121);
  EXPECT_TRUE(o.value("frames").toArray().isEmpty());
  EXPECT_GE(o.value("b0").toDouble(), 2.0);
}

struct BadArgs {
  std::vector<std::string> args;
  const char* error;
};

TEST(Cli, BadArgumentsGiveOneLineAndStatus2) {
  const BadArgs cases[] = {
      {{"biquad", "--freq", "abc", "--gain", "6", "--q", "1"}, "--freq: 'abc' is not a number"},
      {{"biquad", "--freq", "1000", "--gain", "6"}, "--q is required"},
      {{"biquad", "--freq", "1000", "--gain", "6", "--q", "nan"}, "--q: 'nan' is not a number"},
      {{"biquad", "--freq", "1000", "--gain", "6", "--q", "1", "--band", "11"},
       "--band: 11 is outside"},
      {{"biquad", "--freq", "1000", "--gain", "6", "--q", "1", "--band", "2.5"},
       "not a whole number"},
      {{"biquad", "--freq", "-5", "--gain", "6", "--q", "1"}, "--freq: -5 is outside"},
      {{"biquad", "--freq", "1000", "--gain", "6", "--q", "1", "--sr", "0"}, "--sr: 0 is outside"},
      {{"biquad", "--freq", "1000", "--gain", "6", "--q", "1", "stray"},
       "unexpected argument 'stray'"},
      {{"biquad", "--frequency", "1000"}, "Unknown option 'frequency'"},
      {{"filterblock", "--model", "FBMButterworth"}, "unknown model 'FBMButterworth'"},
      {{"filterblock", "--model", "FBMButt_LPF", "--slope", "FBSlope18"},
       "unknown slope 'FBSlope18'"},
      {{"filterblock", "--slope", "FBSlope12"}, "--model is required"},
      {{"filterblock", "--model", "FBMPara", "--freq", "1e3x"},
       "--freq: '1e3x' is not a whole number"},
      {{"filterblock", "--model", "FBMPara", "--section", "1,0,0,0,0"}, "only for FBMGeneric"},
      {{"filterblock", "--model", "FBMGeneric", "--section", "1,0,0,0"},
       "is not 5 comma-separated"},
      {{"response", "--band", "1000,6"}, "is not 3 comma-separated numbers"},
      {{"response", "--band", "1000,6,x"}, "is not 3 comma-separated numbers"},
      {{"response", "--band", "1000,600,1"}, "is out of range"},
      {{"frobnicate"}, "unknown command 'frobnicate'"},
      {{}, "no command given"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    const CliResult r = RunCli(args);
    SCOPED_TRACE(c.error);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("qubix24ctl: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
  std::vector<std::string> eleven{"response"};
  for (int i = 0; i < 11; ++i) {
    eleven.push_back("--band");
    eleven.push_back("1000,1,1");
  }
  EXPECT_EQ(RunCli(eleven).status, 2);
}

TEST(CliFilterBlock, LinkwitzForcesItsSlope) {
  const CliResult r = RunCli({"filterblock", "--model", "FBMLnkR_LPF", "--slope", "FBSlope12",
                              "--freq", "2000", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const QJsonObject o = Json(r).object();
  EXPECT_EQ(o.value("slope").toString(), "FBSlope24");
  EXPECT_EQ(o.value("sectionCount").toInt(), 2);
  const QJsonArray sections = o.value("sections").toArray();
  ASSERT_EQ(sections.size(), 2);
  EXPECT_EQ(sections[0].toObject(), sections[1].toObject());
  EXPECT_EQ(Words(sections[0].toObject()).size(), 5);
}

TEST(CliFilterBlock, GenericReportsTheFirstBadCoefficient) {
  const CliResult r =
      RunCli({"filterblock", "--model", "FBMGeneric", "--section", "1,2,0,0,0", "--json"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Json(r).object().value("code").toInt(), 98);
}

TEST(CliFilterBlock, ParametricMatchesBiquad) {
  const CliResult block = RunCli({"filterblock", "--model", "FBMPara", "--freq", "1000", "--gain",
                                  "6", "--q", "1.4", "--json"});
  ASSERT_EQ(block.status, 0) << block.err;
  const QJsonObject section = Json(block).object().value("sections").toArray().at(0).toObject();
  EXPECT_EQ(Words(section), (QStringList{"377637", "42D64A", "86BF57", "3A4C81", "86BF57"}));
}

TEST(CliResponse, ColumnsAsJson) {
  const CliResult r = RunCli({"response", "--band", "1000,12,1.4", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const QJsonArray cols = Json(r).array();
  ASSERT_EQ(cols.size(), 500);
  const QJsonObject first = cols[0].toObject();
  EXPECT_EQ(first.keys(), (QStringList{"db", "freq", "mag", "x"}));
  EXPECT_EQ(first.value("x").toInt(), 1);
  EXPECT_NEAR(first.value("freq").toDouble(), 19.41, 0.01);
  const QJsonObject peak = cols[267].toObject();  // x = 268, the 1 kHz grid line
  EXPECT_NEAR(peak.value("db").toDouble(), 12.0, 0.05);
  EXPECT_NEAR(20 * std::log10(peak.value("mag").toDouble()), peak.value("db").toDouble(), 1e-12);
}

TEST(CliResponse, FailingBandStaysFlat) {
  const CliResult r = RunCli({"response", "--band", "5000,12,0.2", "--json"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("band 1 (5000,12,0.2) does not fit the DSP (code 121); left flat"),
            std::string::npos)
      << r.err;
  for (const auto& col : Json(r).array()) ASSERT_EQ(col.toObject().value("mag").toDouble(), 1.0);
}

// --compare names the column where the exact and the quantized response part most, and that
// column's frequency, as the full listings give them.
TEST(CliResponse, CompareNamesTheColumnOfTheLargestDifference) {
  for (const char* band : {"1000,12,1.4", "40,-9,8", "15000,6,0.5"}) {
    SCOPED_TRACE(band);
    const QJsonArray exact = Json(RunCli({"response", "--band", band, "--json"})).array();
    const QJsonArray quantized =
        Json(RunCli({"response", "--band", band, "--quantized", "--json"})).array();
    ASSERT_EQ(exact.size(), 500);
    ASSERT_EQ(quantized.size(), 500);
    double largest = 0;
    QJsonObject at;
    for (qsizetype k = 0; k < exact.size(); ++k) {
      const double db = std::fabs(20 * std::log10(exact[k].toObject().value("mag").toDouble() /
                                                  quantized[k].toObject().value("mag").toDouble()));
      if (db > largest) {
        largest = db;
        at = exact[k].toObject();
      }
    }
    ASSERT_GT(largest, 0.0);
    const CliResult r = RunCli({"response", "--band", band, "--compare", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const QJsonObject o = Json(r).object();
    EXPECT_EQ(o.value("x").toInt(), at.value("x").toInt());
    EXPECT_EQ(o.value("freq").toDouble(), at.value("freq").toDouble());
    EXPECT_EQ(o.value("largestDifferenceDb").toDouble(), largest);
    char line[96];
    std::snprintf(line, sizeof line, "largest difference %.6f dB at x %d (%.2f Hz)\n", largest,
                  at.value("x").toInt(), at.value("freq").toDouble());
    EXPECT_EQ(RunCli({"response", "--band", band, "--compare"}).out, line);
  }
}

TEST(Cli, HelpListsCommands) {
  const CliResult r = RunCli({"--help"});
  EXPECT_EQ(r.status, 0);
  for (const char* name : {"biquad", "filterblock", "response"})
    EXPECT_NE(r.out.find(std::string("  ") + name), std::string::npos) << r.out;
  const CliResult sub = RunCli({"biquad", "--help"});
  EXPECT_EQ(sub.status, 0);
  EXPECT_EQ(sub.out.rfind("Usage: qubix24ctl biquad [options]", 0), 0u) << sub.out;
  EXPECT_NE(sub.out.find("--freq <HZ>"), std::string::npos);
}

}  // namespace

namespace {

// A global option with a value, written before the command, must not be taken for it.
const qubix::cli::RegisterGlobalOption kProbeOption{QCommandLineOption(
    QStringLiteral("probe-global"), QStringLiteral("Test-only option."), QStringLiteral("VALUE"))};

TEST(Cli, GlobalOptionBeforeOrAfterTheCommand) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--probe-global", "biquad", "biquad", "--freq", "1000", "--gain", "6", "--q", "1.4"},
           {"biquad", "--freq", "1000", "--probe-global=x", "--gain", "6", "--q", "1.4"}}) {
    const CliResult r = RunCli(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("377637 42D64A"), std::string::npos) << r.out;
  }
  const CliResult help = RunCli({"--help"});
  EXPECT_NE(help.out.find("  --probe-global VALUE  Test-only option.\n"), std::string::npos)
      << help.out;
}

}  // namespace
}  // namespace qubix::test
