#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "CliRunner.h"
#include "editor/UserPresetFile.h"
#include "network/EqFile.h"
#include "network/HfpFile.h"
#include "support/NamedPipe.h"
#include "support/TempDir.h"

namespace qubix::test {
namespace {

using qubix::test::TempDir;
using qubix::test::WriteBytes;

QJsonObject Json(const CliResult& r) {
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(r.out), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError) << r.out;
  return doc.object();
}

qubix::editor::UserPresetRecord SamplePreset() {
  qubix::editor::UserPresetRecord r;
  r.inputGainA = -7;
  r.knob12 = 40;
  r.knob34 = 64;
  r.muted = {0, 1, 0, 0};
  r.delay12 = 12;
  r.freqHz = {32, 63, 125, 250, 500, 1000, 2000, 4000, 8000, 16000};
  r.gainDb[3] = 3.5f;
  r.q.fill(1.4f);
  r.ampLevelCode = 251;
  return r;
}

std::string WriteHfp(const TempDir& dir, const std::string& name, bool spoil) {
  qubix::network::HfpImage image{};
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 5 + 1);
  qubix::network::SealHfpImage(image);
  if (spoil) image[2] ^= 1;
  const std::string path = dir.file(name);
  WriteBytes(path, {image.begin(), image.end()});
  return path;
}

TEST(CliPresets, VupShowDecodesAFile) {
  TempDir dir;
  const std::string path = dir.file("p.vup");
  ASSERT_EQ(qubix::editor::WriteUserPresetFile(path, SamplePreset()), "");
  const CliResult r = RunCli({"vup", "show", path, "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const QJsonObject o = Json(r);
  EXPECT_EQ(o.value("inputGainADb").toDouble(), -3.5);
  EXPECT_EQ(o.value("attenuation12Db").toDouble(), -12.0);
  EXPECT_EQ(o.value("muted").toArray().at(1).toBool(), true);
  EXPECT_EQ(o.value("delay12").toInt(), 12);
  EXPECT_EQ(o.value("ampLevelCode").toInt(), 251);
  EXPECT_EQ(o.value("bands").toArray().at(3).toObject().value("gainDb").toDouble(), 3.5);
  EXPECT_EQ(o.value("bands").toArray().at(9).toObject().value("freqHz").toInt(), 16000);
}

TEST(CliPresets, VupShowRefusesShortAndOutOfRangeFiles) {
  TempDir dir;
  const auto image = qubix::editor::EncodeUserPreset(SamplePreset());
  WriteBytes(dir.file("short.vup"), {image.begin(), image.begin() + 100});
  CliResult r = RunCli({"vup", "show", dir.file("short.vup")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("100 bytes"), std::string::npos) << r.err;
  auto bad = SamplePreset();
  bad.delay34 = 999;
  ASSERT_EQ(qubix::editor::WriteUserPresetFile(dir.file("bad.vup"), bad), "");
  r = RunCli({"vup", "show", dir.file("bad.vup")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("delay"), std::string::npos) << r.err;
  EXPECT_EQ(RunCli({"vup", "list", dir.file("bad.vup")}).status, 2);
}

TEST(CliPresets, HfpCheckVerdicts) {
  TempDir dir;
  CliResult r = RunCli({"hfp", "check", WriteHfp(dir, "good.hfp", false), "--json"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Json(r).value("verdict").toString(), "ok");
  EXPECT_EQ(Json(r).value("size").toInt(), 3732);
  r = RunCli({"hfp", "check", WriteHfp(dir, "bad.hfp", true), "--json"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Json(r).value("verdict").toString(), "corrupted");
  WriteBytes(dir.file("small.hfp"), std::vector<std::uint8_t>(100, 0));
  r = RunCli({"hfp", "check", dir.file("small.hfp")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("wrong size"), std::string::npos);
}

TEST(CliPresets, HwPresetSwitchesAndReportsWhatTheMachineRuns) {
  TempDir dir;
  CliResult r = RunCli({"hwpreset", "--link", "sim:virtual", "--data-dir", dir.path().string(),
                        "--machine", "H000000010002", "6", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Json(r).value("hardwarePreset").toInt(), 6);
  EXPECT_EQ(Json(r).value("hardwarePresetName").toString(), "4Ch Stereo in A&B");
  r = RunCli({"hwpreset", "--link", "sim:virtual", "--data-dir", dir.path().string(), "--machine",
              "H000000010009", "1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("H000000010009: the processor did not answer \"H000000010009"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(RunCli({"hwpreset", "--link", "sim:virtual", "--machine", "H000000010002", "8"}).status,
            2);
  EXPECT_EQ(RunCli({"hwpreset", "--link", "sim:virtual", "--machine", "X12", "1"}).status, 2);
}

TEST(CliPresets, UploadGoodAndCorruptedFiles) {
  TempDir dir;
  const std::string data = dir.path().string();
  CliResult r = RunCli({"upload", "--link", "sim:virtual", "--data-dir", data, "--machine",
                        "H000000010001", WriteHfp(dir, "good.hfp", false)});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("uploaded"), std::string::npos);
  r = RunCli({"upload", "--link", "sim:virtual", "--data-dir", data, "--machine", "H000000010001",
              WriteHfp(dir, "bad.hfp", true)});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Corrupted File"), std::string::npos) << r.err;
}

TEST(CliPresets, RecallAndApply) {
  TempDir dir;
  const std::string data = dir.path().string();
  CliResult r = RunCli({"recall", "--link", "sim:virtual", "--data-dir", data, "--machine",
                        "H000000010002", "2", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Json(r).value("userPreset").toString(), "User Config 2");
  // The editor's close wrote the machine's last-edit equaliser file.
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "H000000010002.dat"));

  ASSERT_EQ(qubix::editor::WriteUserPresetFile(dir.file("p.vup"), SamplePreset()), "");
  r = RunCli({"apply", "--link", "sim:virtual", "--data-dir", data, "--machine", "H000000010001",
              dir.file("p.vup")});
  EXPECT_EQ(r.status, 0) << r.err;
  const auto image = qubix::editor::EncodeUserPreset(SamplePreset());
  WriteBytes(dir.file("short.vup"), {image.begin(), image.begin() + 195});
  r = RunCli({"apply", "--link", "sim:virtual", "--data-dir", data, "--machine", "H000000010001",
              dir.file("short.vup")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("195 bytes"), std::string::npos) << r.err;
}

// A recall of a location whose file cannot be read leaves bands on the machine that nothing
// shows or records: the recall has failed, naming the file, and the last-edit file is not written.
TEST(CliPresets, RecallOfALocationWhoseFileCannotBeReadFails) {
  TempDir dir;
  const auto location = qubix::network::PresetEqPath(dir.path(), "H000000010002", 2);
  MakeNamedPipe(location);
  const auto err = ReadWithWatchdog(location, [&] {
    const CliResult r = RunCli({"recall", "--link", "sim:virtual", "--data-dir",
                                dir.path().string(), "--machine", "H000000010002", "2"});
    EXPECT_EQ(r.status, 1) << r.out;
    return r.err;
  });
  ASSERT_TRUE(err) << "the recall waited on the file";
  EXPECT_NE(err->find(location.string()), std::string::npos) << *err;
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "H000000010002.dat"));
}

}  // namespace
}  // namespace qubix::test
