#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <vector>

#include "files/DurableFile.h"
#include "network/EqFile.h"
#include "support/CaseNames.h"
#include "support/TempDir.h"

namespace qubix::test {
using namespace qubix::network;
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> Le32(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
          static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

// The record as literal words, independent of the encoder.
std::vector<std::uint8_t> Bytes(std::uint8_t flat, const std::array<std::uint32_t, 10>& freq,
                                const std::array<std::uint32_t, 10>& gain,
                                const std::array<std::uint32_t, 10>& saved,
                                const std::array<std::uint32_t, 10>& q) {
  std::vector<std::uint8_t> out{flat, 0, 0, 0};
  for (const auto* arr : {&freq, &gain, &saved, &q})
    for (auto w : *arr) {
      auto b = Le32(w);
      out.insert(out.end(), b.begin(), b.end());
    }
  out.resize(180, 0);
  return out;
}

constexpr std::array<std::uint32_t, 10> kDefaultFreqWords{32,   64,   128,  250,  500,
                                                          1000, 2000, 4000, 8000, 16000};
constexpr std::array<std::uint32_t, 10> kDefaultQWords{
    0x40400000, 0x40000000, 0x40000000, 0x40000000, 0x40000000,
    0x40000000, 0x40000000, 0x40000000, 0x40200000, 0x40400000};

// Settings files in a scratch data directory.
class EqFileOnDisk : public ::testing::Test {
 protected:
  void WriteRaw(const fs::path& p, const std::vector<std::uint8_t>& bytes) {
    test::WriteBytes(p.string(), bytes);
  }
  std::vector<std::uint8_t> ReadRaw(const fs::path& p) { return test::ReadBytes(p.string()); }
  test::TempDir scratch{"qubix-eqfile"};
  fs::path dir = scratch.path();
};

TEST(EqRecordBytes, DefaultsGiveTheDocumentedImage) {
  const auto bytes = EncodeEqRecord(DefaultEqRecord());
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.end()),
            Bytes(0, kDefaultFreqWords, {}, {}, kDefaultQWords));
}

struct ZeroCase {
  float gain;
  std::uint32_t stored;
};

class SmallGains : public ::testing::TestWithParam<ZeroCase> {};

TEST_P(SmallGains, AreZeroedInGainsAndStash) {
  EqRecord r = DefaultEqRecord();
  r.gainDb[3] = GetParam().gain;
  r.savedGainDb[0] = GetParam().gain;
  const auto bytes = EncodeEqRecord(r);
  std::array<std::uint32_t, 10> gain{}, saved{};
  gain[3] = GetParam().stored;
  saved[0] = GetParam().stored;
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.end()),
            Bytes(0, kDefaultFreqWords, gain, saved, kDefaultQWords));
}

INSTANTIATE_TEST_SUITE_P(Cases, SmallGains,
                         ::testing::Values(ZeroCase{0.05f, 0}, ZeroCase{-0.05f, 0},
                                           ZeroCase{0.2f, 0x3e4ccccd},
                                           // the floats nearest ±0.1 lie just outside ±0.1
                                           ZeroCase{0.1f, 0x3dcccccd}, ZeroCase{-0.1f, 0xbdcccccd},
                                           ZeroCase{std::nextafter(0.1f, 0.0f), 0},
                                           ZeroCase{-12.0f, 0xc1400000}),
                         [](const ::testing::TestParamInfo<ZeroCase>& info) {
                           return qubix::test::NumberName(info.param.gain);
                         });

TEST(EqRecordBytes, RoundTripsEveryField) {
  EqRecord r = DefaultEqRecord();
  r.flatFlag = 1;
  r.freqHz[9] = 999;
  r.gainDb = {1, 2, 3, 4, 5, 6, 7, 8, 9, -10.5f};
  r.savedGainDb = {-10.5f, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  r.q[4] = 0.2f;
  const auto bytes = EncodeEqRecord(r);
  const EqRecord back = DecodeEqRecord(bytes);
  EXPECT_EQ(back.flatFlag, 1);
  EXPECT_EQ(back.freqHz, r.freqHz);
  EXPECT_EQ(back.gainDb, r.gainDb);
  EXPECT_EQ(back.savedGainDb, r.savedGainDb);
  EXPECT_EQ(back.q, r.q);
}

TEST(EqRecordBytes, ShortInputTakesOnlyWholeValuesAndDefaultsTheRest) {
  // Flag, band 1's frequency complete, band 2's frequency cut after two bytes.
  std::vector<std::uint8_t> bytes{1, 0, 0, 0, 0xe7, 0x03, 0, 0, 0x10, 0x27};
  const EqRecord r = DecodeEqRecord(bytes);
  EXPECT_EQ(r.flatFlag, 1);
  EXPECT_EQ(r.freqHz[0], 999);
  EXPECT_EQ(r.freqHz[1], 64);
  EXPECT_EQ(r.freqHz[9], 16000);
  EXPECT_EQ(r.gainDb, (std::array<float, 10>{}));
  EXPECT_EQ(r.q, kEqDefaults.q);
  const EqRecord empty = DecodeEqRecord({});
  EXPECT_EQ(empty.flatFlag, 0);
  EXPECT_EQ(empty.freqHz, kEqDefaults.freqHz);
}

TEST(EqRecordBytes, NonFiniteNumbersFallBackToTheirDefault) {
  auto bytes = Bytes(0, kDefaultFreqWords, {0x7fc00000}, {0x7f800000}, {0xff800000});
  const EqRecord r = DecodeEqRecord(bytes);
  EXPECT_EQ(r.gainDb[0], 0.0f);
  EXPECT_EQ(r.savedGainDb[0], 0.0f);
  EXPECT_EQ(r.q[0], 3.0f);
}

TEST(EqFileNames, LastEditAndPresetNames) {
  EXPECT_EQ(LastEditEqPath("data", "H000000010000"), fs::path("data") / "H000000010000.dat");
  EXPECT_EQ(PresetEqPath("data", "H000000010000", 3), fs::path("data") / "H000000010000_3.dat");
  EXPECT_EQ(PresetEqPath("data", "H000000010000", 0), fs::path("data") / "H000000010000_0.dat");
  EXPECT_EQ(PresetEqPath("data", "Habc", 12).filename(), "Habc_12.dat");
}

TEST_F(EqFileOnDisk, WriteLeavesExactlyTheRecordAndNoTemporary) {
  EqRecord r = DefaultEqRecord();
  r.gainDb[0] = 0.05f;
  const auto path = LastEditEqPath(dir, "H000000010005");
  WriteRaw(path, std::vector<std::uint8_t>(400, 0xee));  // replaced whole, not overwritten in place
  ASSERT_TRUE(WriteEqFile(path, r));
  EXPECT_EQ(ReadRaw(path), Bytes(0, kDefaultFreqWords, {}, {}, kDefaultQWords));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(EqFileOnDisk, WriteIntoMissingFolderFailsAndCreatesNothing) {
  EXPECT_FALSE(WriteEqFile(dir / "nofolder" / "H1.dat", DefaultEqRecord()));
  EXPECT_FALSE(fs::exists(dir / "nofolder"));
}

// A full disk leaves zero bytes; any size but one record is refused, kept aside and replaced by
// what a missing file gives (here the template), never decoded into the editor.
TEST_F(EqFileOnDisk, SettingsFileOfTheWrongSizeIsKeptAsideAndCountsAsMissing) {
  EqRecord templ = DefaultEqRecord();
  templ.freqHz[0] = 40;
  ASSERT_TRUE(WriteEqFile(LastEditEqPath(dir, kEqTemplateId), templ));
  const std::string id = "H000000010005";
  const auto path = LastEditEqPath(dir, id);
  auto damaged = Bytes(1, kDefaultFreqWords, {0x40000000}, {}, kDefaultQWords);
  for (std::size_t size : {0u, 1u, 179u, 181u, 1000u}) {
    SCOPED_TRACE(size);
    fs::remove_all(dir / (id + ".dat.bad"));
    damaged.resize(size, 0xff);
    WriteRaw(path, damaged);
    EXPECT_EQ(ReadEqFile(path).result, EqFileResult::WrongSize);
    const EqLookup lookup = LookupMachineEq(dir, id, 2, EqWanted::Running);
    EXPECT_EQ(lookup.source, EqSource::Defaults);
    EXPECT_EQ(lookup.record.flatFlag, 0);
    ASSERT_EQ(lookup.problems.size(), 1u);
    EXPECT_NE(lookup.problems[0].find(std::to_string(size) + " bytes"), std::string::npos)
        << lookup.problems[0];
    EXPECT_EQ(ReadRaw(dir / (id + ".dat.bad")), damaged);  // nothing lost
    // The refresh does the same before it seeds the machine's file from the template.
    WriteRaw(path, damaged);
    const SeedOutcome seeded = SeedLastEditFromTemplate(dir, dir, id);
    EXPECT_TRUE(seeded.copied);
    EXPECT_EQ(seeded.problems.size(), 1u);
    EXPECT_EQ(ReadEqFile(path).record.freqHz[0], 40);
    EXPECT_TRUE(fs::exists(dir / (id + ".dat.bad2")));
    fs::remove(dir / (id + ".dat.bad2"));
    fs::remove(path);
  }
}

TEST_F(EqFileOnDisk, TemplateCopyOnAFullDiskLeavesNoFile) {
  ASSERT_TRUE(WriteEqFile(LastEditEqPath(dir, kEqTemplateId), DefaultEqRecord()));
  for (std::uint64_t room : {0u, 100u}) {
    files::SimulateFullDiskAfter(room);
    const SeedOutcome seeded = SeedLastEditFromTemplate(dir, dir, "H000000010006");
    files::SimulateFullDiskAfter(std::nullopt);
    EXPECT_FALSE(seeded.copied);
    ASSERT_EQ(seeded.problems.size(), 1u);
    EXPECT_NE(seeded.problems[0].find("No space left"), std::string::npos) << seeded.problems[0];
    // Only the template: neither a short copy nor a temporary file is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1) << room;
  }
}

TEST_F(EqFileOnDisk, UnreadableFileIsAnErrorNotADefault) {
  fs::create_directories(dir / "H1.dat");  // a folder where the file should be
  EXPECT_EQ(ReadEqFile(dir / "H1.dat").result, EqFileResult::Error);
  EXPECT_EQ(LookupMachineEq(dir, "H1", 2, EqWanted::Running).result, EqFileResult::Error);
  EXPECT_EQ(ReadEqFile(dir / "H2.dat").result, EqFileResult::Missing);
}

// What the machine runs: its last-edit file (seeded from the template), else the file of the
// location it reports, else the defaults. What a location holds: that location's file, else the
// defaults; never the last-edit file, which holds what was running before the recall.
TEST_F(EqFileOnDisk, WhereTheBandsComeFromForEachMeaning) {
  const std::string id = "H000000010007";
  const auto freq = [&](EqWanted wanted, int location) {
    const EqLookup l = LookupMachineEq(dir, id, location, wanted);
    return std::make_pair(l.source, l.record.freqHz[0]);
  };
  using P = std::pair<EqSource, std::int32_t>;
  EXPECT_EQ(freq(EqWanted::Running, 2), P(EqSource::Defaults, 32));
  EXPECT_EQ(freq(EqWanted::Location, 2), P(EqSource::Defaults, 32));

  EqRecord preset = DefaultEqRecord();
  preset.freqHz[0] = 55;
  ASSERT_TRUE(WriteEqFile(PresetEqPath(dir, id, 2), preset));
  EXPECT_EQ(freq(EqWanted::Running, 2), P(EqSource::PresetFile, 55));
  EXPECT_EQ(freq(EqWanted::Running, 3), P(EqSource::Defaults, 32));

  EqRecord templ = DefaultEqRecord();
  templ.freqHz[0] = 40;
  ASSERT_TRUE(WriteEqFile(LastEditEqPath(dir, kEqTemplateId), templ));
  EXPECT_TRUE(SeedLastEditFromTemplate(dir, dir, id).copied);
  EXPECT_FALSE(SeedLastEditFromTemplate(dir, dir, id).copied);  // never overwrites
  EXPECT_EQ(freq(EqWanted::Running, 2), P(EqSource::LastEditFile, 40));
  EXPECT_EQ(freq(EqWanted::Location, 2), P(EqSource::PresetFile, 55));
  EXPECT_EQ(freq(EqWanted::Location, 3), P(EqSource::Defaults, 32));
}

TEST_F(EqFileOnDisk, IdentifiersThatAreNotPlainNeverReachTheFileSystem) {
  EXPECT_TRUE(IsPlainIdentifier("H000000010000"));
  for (const char* bad : {"", "../H1", "H1/x", "H 1", "H1\\x"}) {
    EXPECT_FALSE(IsPlainIdentifier(bad)) << bad;
    EXPECT_EQ(LookupMachineEq(dir, bad, 1).result, EqFileResult::Error) << bad;
  }
  ASSERT_TRUE(WriteEqFile(LastEditEqPath(dir, kEqTemplateId), DefaultEqRecord()));
  EXPECT_FALSE(SeedLastEditFromTemplate(dir, dir, "../x").copied);
}

TEST_F(EqFileOnDisk, NoTemplateNoSeed) {
  EXPECT_FALSE(SeedLastEditFromTemplate(dir, dir, "H000000010008").copied);
  EXPECT_FALSE(fs::exists(LastEditEqPath(dir, "H000000010008")));
}

}  // namespace
}  // namespace qubix::test
