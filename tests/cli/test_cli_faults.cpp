// The bus commands of qubix24ctl under faults: a processor that falls silent half-way and an
// adapter pulled out half-way must each end the command with exit status 1 and a reason on
// stderr that points at the processor or at the adapter; and what the commands write and print
// stays whole (settings files, JSON).
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "CliRunner.h"
#include "cli/StationSession.h"
#include "editor/UserPresetFile.h"
#include "files/DurableFile.h"
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
namespace sim = qubix::sim;

constexpr const char* kMachine = "H000000010002";

// The demo bus behind an adapter that counts the bytes the tool writes and, once cutAt of them
// went out, silences the processor.
class CountingAdapter : public sim::SimAdapter {
 public:
  using sim::SimAdapter::SimAdapter;
  qubix::link::Status write(qubix::link::Handle h, const std::uint8_t* buffer, std::uint32_t count,
                            std::uint32_t& written) override {
    if (silenceAt && sent + count > *silenceAt) bus().find(kMachine)->faults.silent = true;
    const auto status = sim::SimAdapter::write(h, buffer, count, written);
    sent += written;
    if (sentOut) *sentOut = sent;
    return status;
  }
  std::optional<std::uint64_t> silenceAt;
  std::uint64_t sent = 0;
  // The session frees the adapter when the command ends; the count outlives it here.
  std::uint64_t* sentOut = nullptr;
};

enum class Fault { None, Silent, Unplug };

// Runs the command on a fresh demo bus; the fault strikes once cutAt bytes were written.
struct Outcome {
  CliResult result;
  std::uint64_t sent = 0;
};
Outcome RunWithFault(std::vector<std::string> args, Fault fault, std::uint64_t cutAt,
                     std::shared_ptr<sim::SimBus> bus = sim::makeDemoBus()) {
  std::uint64_t sent = 0;
  qubix::cli::SetAdapterForTesting([&] {
    auto a = std::make_unique<CountingAdapter>(bus, sim::ClockMode::Virtual);
    a->sentOut = &sent;
    if (fault == Fault::Silent) a->silenceAt = cutAt;
    // Connecting writes nothing, so the count is the command's own.
    if (fault == Fault::Unplug) a->faults().unplugAfterBytes = cutAt;
    return qubix::compose::withSimulatorClock(std::move(a));
  });
  Outcome run;
  run.result = RunCli(args);
  run.sent = sent;
  qubix::cli::SetAdapterForTesting({});
  return run;
}

struct DataDir {
  TempDir dir;
  std::string vup, hfp;
  DataDir() {
    qubix::editor::UserPresetRecord r;
    r.knob12 = r.knob34 = 64;
    r.freqHz = {32, 64, 128, 250, 500, 1000, 2000, 4000, 8000, 16000};
    r.gainDb[4] = -6.0f;
    r.q.fill(2.0f);
    r.ampLevelCode = 255;
    vup = dir.file("p.vup");
    qubix::editor::WriteUserPresetFile(vup, r);
    qubix::network::HfpImage image{};
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    qubix::network::SealHfpImage(image);
    hfp = dir.file("x.hfp");
    WriteBytes(hfp, {image.begin(), image.end()});
    qubix::network::MachineList list;
    for (const char* id : {"H000000010001", "H000000010002", "H000000010005"})
      list.setEntry(list.count++, id);
    std::string error;
    qubix::network::WriteMachineListFile(dir.path() / "maclist.dat", list, error);
  }
  std::vector<std::string> args(const std::string& command) const {
    std::vector<std::string> a{command, "--data-dir", dir.path().string()};
    if (command == "status") return a;
    a.insert(a.end(), {"--machine", kMachine});
    if (command == "recall") a.push_back("3");
    if (command == "apply") a.push_back(vup);
    if (command == "hwpreset") a.push_back("5");
    if (command == "upload") a.push_back(hfp);
    return a;
  }
};

struct FaultCase {
  const char* command;
  Fault fault;
  double at;  // where the fault strikes, as a share of what the clean command writes
};

std::string Describe(const FaultCase& c) {
  return std::string(c.command) + (c.fault == Fault::Silent ? "_silent_" : "_unplugged_") +
         std::to_string(static_cast<int>(c.at * 100)) + "pct";
}
std::string CaseName(const ::testing::TestParamInfo<FaultCase>& info) {
  return Describe(info.param);
}
void PrintTo(const FaultCase& c, std::ostream* os) { *os << Describe(c); }

class CliUnderFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(CliUnderFaults, FailsWithTheReasonWhereTheFaultLies) {
  const FaultCase& c = GetParam();
  DataDir clean;
  const Outcome reference = RunWithFault(clean.args(c.command), Fault::None, 0);
  ASSERT_EQ(reference.result.status, 0) << reference.result.err;
  DataDir setup;
  const auto cutAt = static_cast<std::uint64_t>(static_cast<double>(reference.sent) * c.at);
  const Outcome run = RunWithFault(setup.args(c.command), c.fault, cutAt);
  EXPECT_EQ(run.result.status, 1) << "cut after " << cutAt << " of " << reference.sent
                                  << " bytes\nstdout: " << run.result.out;
  const std::string& err = run.result.err;
  if (c.fault == Fault::Unplug) {
    EXPECT_NE(err.find("the adapter"), std::string::npos) << err;
  } else {
    EXPECT_NE(err.find("processor"), std::string::npos) << err;
    EXPECT_EQ(err.find("the adapter failed"), std::string::npos) << err;
  }
}

std::vector<FaultCase> AllCases() {
  std::vector<FaultCase> cases;
  for (const char* command : {"recall", "apply", "hwpreset", "upload", "status"})
    for (Fault fault : {Fault::Silent, Fault::Unplug})
      for (double at : {0.3, 0.9}) {
        // status takes the refresh's outcome as it is; a machine falling silent among its reads
        // is the refresh's to report.
        if (std::string_view(command) == "status" && fault == Fault::Silent && at > 0.5) continue;
        cases.push_back({command, fault, at});
      }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Commands, CliUnderFaults, ::testing::ValuesIn(AllCases()), CaseName);

// A settings file that cannot be written fails the command that writes it, and the reason names
// the file and what the system said.
TEST(CliFiles, RecallAndApplyFailWhenTheSettingsFileCannotBeSaved) {
  for (const char* command : {"recall", "apply"}) {
    DataDir setup;
    qubix::files::SimulateFullDiskAfter(0);
    const Outcome run = RunWithFault(setup.args(command), Fault::None, 0);
    qubix::files::SimulateFullDiskAfter(std::nullopt);
    EXPECT_EQ(run.result.status, 1) << command;
    EXPECT_NE(run.result.err.find((setup.dir.path() / kMachine).string() + ".dat"),
              std::string::npos)
        << run.result.err;
    EXPECT_NE(run.result.err.find("No space left on device"), std::string::npos) << run.result.err;
  }
}

// A plausible wrong answer, the kind a line makes (an "N" where "O" acknowledges, a digit one
// off), fails the command: exit status 1 with the exchange named, and no location's file.
TEST(CliPlausibleFaults, AWrongAnswerIsNeverASuccess) {
  struct Case {
    const char* command;
    char letter;
    int parameter;  // for "I" queries; -1 otherwise
    bool digit;     // the first value digit one up instead of an "N" for the last byte
  };
  const Case cases[] = {{"apply", 'Q', -1, false},   {"apply", 'I', 23, false},
                        {"apply", 'G', -1, false},   {"recall", 'u', -1, false},
                        {"recall", 'I', 17, true},   {"hwpreset", 'T', -1, false},
                        {"hwpreset", 'I', 24, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.command) + " " + c.letter + " " + std::to_string(c.parameter));
    DataDir setup;
    auto bus = sim::makeDemoBus();
    int seen = 0;
    bus->find(kMachine)->faults.tamper = [&](char letter, const std::vector<std::uint8_t>& payload,
                                             std::string& answer) {
      if (letter != c.letter || (c.parameter >= 0 && payload.at(0) != c.parameter)) return;
      if (++seen > 2) return;  // a read asked for again once is spoiled again
      if (c.digit)
        answer[0] = static_cast<char>(answer[0] + 1);
      else
        answer.back() = 'N';
    };
    const Outcome run = RunWithFault(setup.args(c.command), Fault::None, 0, bus);
    EXPECT_GT(seen, 0);
    EXPECT_EQ(run.result.status, 1) << run.result.out << run.result.err;
    for (const auto& e : std::filesystem::directory_iterator(setup.dir.path()))
      EXPECT_EQ(e.path().filename().string().find(std::string(kMachine) + "_"), std::string::npos)
          << e.path();
  }
}

QJsonObject Json(const std::string& text) {
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError) << text;
  return doc.object();
}

// Bytes from maclist.dat and from a processor are Latin-1 characters in the JSON, never raw.
TEST(CliJson, IdentifiersAndExtraNamesAreValidUtf8) {
  DataDir setup;
  std::string image(132, '\0');
  image.replace(0, 13,
                "H\xe9\xff"
                "0000010001");
  image[130] = 1;
  WriteBytes(setup.dir.file("maclist.dat"), {image.begin(), image.end()});
  CliResult r = RunCli({"list", "--json", "--data-dir", setup.dir.path().string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Json(r.out).value("entries").toArray().at(0).toString(),
            QString::fromLatin1("H\xe9\xff"
                                "0000010001"));

  auto bus = sim::makeDemoBus();
  sim::SimProcessor& p = *bus->find("H000000010005");
  p.extraName = "Sc\xe8ne \xa9 \x80\xff        ";
  DataDir second;
  const Outcome run = RunWithFault({"status", "--json", "--data-dir", second.dir.path().string()},
                                   Fault::None, 0, bus);
  ASSERT_EQ(run.result.status, 0) << run.result.err;
  const QJsonArray machines = Json(run.result.out).value("machines").toArray();
  ASSERT_EQ(machines.size(), 3);
  EXPECT_EQ(machines.at(2).toObject().value("extraPresetName").toString(),
            QString::fromLatin1(p.extraName.c_str()));
}

// A script running one instance per bus finds which data directory each one used.
TEST(CliJson, StatusNamesItsDataDirectory) {
  DataDir setup;
  const Outcome run = RunWithFault(
      {"status", "--json", "--verbose", "--data-dir", setup.dir.path().string()}, Fault::None, 0);
  ASSERT_EQ(run.result.status, 0) << run.result.err;
  EXPECT_EQ(Json(run.result.out).value("dataDirectory").toString().toStdString(),
            setup.dir.path().string());
  EXPECT_NE(run.result.err.find("data directory " + setup.dir.path().string() + "\n"),
            std::string::npos)
      << run.result.err;
}

// Values no control can hold are shown as they are, computed without overflow.
TEST(CliVup, ExtremeKnobValuesAreDecodedWithoutOverflow) {
  TempDir dir;
  qubix::editor::UserPresetRecord r;
  r.knob12 = INT_MIN;
  r.knob34 = INT_MAX;
  const auto image = qubix::editor::EncodeUserPreset(r);
  WriteBytes(dir.file("x.vup"), {image.begin(), image.end()});
  const CliResult result = RunCli({"vup", "show", dir.file("x.vup"), "--json"});
  EXPECT_EQ(result.status, 1);  // refused: out of range, but printed
  const QJsonObject o = Json(result.out);
  EXPECT_EQ(o.value("attenuation12Db").toDouble(), (double(INT_MIN) - 64) * 0.5);
  EXPECT_EQ(o.value("attenuation34Db").toDouble(), (double(INT_MAX) - 64) * 0.5);
}

}  // namespace
}  // namespace qubix::test
