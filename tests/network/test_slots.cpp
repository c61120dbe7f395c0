#include <gtest/gtest.h>

#include "network/NetworkTexts.h"
#include "network/Slots.h"
#include "support/NetworkRig.h"

namespace qubix::test {
namespace {

using namespace network;

TEST(SlotSelectFrame, CheckByteFromLastTwoBytesOnly) {
  const struct {
    const char* id;
    const char* frame;
  } cases[] = {
      {"H000000010005", "H000000010005fa"}, {"H000000010000", "H000000010000ff"},
      {"H000000030000", "H000000030000ff"}, {"H000000010800", "H000000010800f7"},
      {"H0000000100AB", "H0000000100AB54"}, {"H0000000100ab", "H0000000100ab54"},
  };
  for (const auto& c : cases) EXPECT_EQ(SlotSelectFrame(c.id), c.frame) << c.id;
}

TEST(PresetNames, CaptionsAndRanges) {
  const auto hw = DefaultHardwarePresetNames();
  EXPECT_EQ(CaptionText(hw[2]), "TQ40+TQ40 A&B");
  EXPECT_EQ(CaptionText(hw[6]), "4Ch Stereo in A&B");
  EXPECT_EQ(CaptionText("a&&&&b&c"), "a&&b&c");
  EXPECT_EQ(hw[7], "Extra Preset   ");
  EXPECT_EQ(HardwarePresetName(hw, 8), "Unknown");
  EXPECT_EQ(HardwarePresetName(hw, -1), "Unknown");
  const auto user = DefaultUserPresetNames();
  EXPECT_EQ(user[0], "User Config 0");
  EXPECT_EQ(UserPresetName(user, 9), "User Config 9");
  EXPECT_EQ(UserPresetName(user, 10), "Unknown");
}

TEST(SlotDisplay, WindowHeights) {
  const int expected[] = {300, 300, 450, 450, 600, 600, 740, 740};
  for (int k = 0; k < 8; ++k) EXPECT_EQ(WindowHeightForSlot(k), expected[k]) << k;
}

TEST(SlotDisplay, PictureAndLabelPerPreset) {
  ScratchDir dir;
  const auto hw = DefaultHardwarePresetNames();
  const auto user = DefaultUserPresetNames();
  for (int preset = 0; preset <= 6; ++preset) {
    SlotState s;
    s.identifier = "H000000010001";
    s.record.hardwarePreset = preset;
    s.record.userPreset = 3;
    const auto d = ComputeSlotDisplay(2, s, hw, user, dir.path());
    EXPECT_EQ(d.identifier, "H000000010001");
    EXPECT_EQ(d.hardwarePreset, CaptionText(hw[static_cast<std::size_t>(preset)]));
    EXPECT_EQ(d.userPreset, "User Config 3");
    ASSERT_TRUE(d.picture);
    EXPECT_EQ(*d.picture, dir.path() / ("Controller0" + std::to_string(preset) + ".jpg"));
    EXPECT_EQ(d.windowHeight, 450);
  }
  SlotState extra;
  extra.record.hardwarePreset = 7;
  extra.extraPresetName = "MYPRESET          ";
  extra.extraPresetPicture = ExtraPresetPicturePath(dir.path(), extra.extraPresetName).string();
  EXPECT_EQ(extra.extraPresetPicture, (dir.path() / "presets" / "MYPRESET.jpg").string());
  auto d = ComputeSlotDisplay(0, extra, hw, user, dir.path());
  EXPECT_EQ(d.hardwarePreset, "MYPRESET          ");
  EXPECT_EQ(*d.picture, dir.path() / "extrapset.jpg") << "own picture missing";
  std::filesystem::create_directories(dir.path() / "presets");
  WriteFile(dir.path() / "presets" / "MYPRESET.jpg", "x");
  d = ComputeSlotDisplay(0, extra, hw, user, dir.path());
  EXPECT_EQ(*d.picture, dir.path() / "presets" / "MYPRESET.jpg");

  SlotState idle;
  idle.record.hardwarePreset = 7;
  idle.extraPresetName = "Idle Preset";
  d = ComputeSlotDisplay(0, idle, hw, user, dir.path());
  EXPECT_EQ(d.hardwarePreset, "Idle Preset");
  EXPECT_EQ(*d.picture, dir.path() / "notextrapset.jpg");

  SlotState odd;
  odd.record.hardwarePreset = 9;
  odd.record.userPreset = 12;
  d = ComputeSlotDisplay(7, odd, hw, user, dir.path());
  EXPECT_FALSE(d.picture) << "any other value keeps the picture the control holds";
  EXPECT_EQ(d.hardwarePreset, "Unknown");
  EXPECT_EQ(d.userPreset, "Unknown");
  EXPECT_EQ(d.windowHeight, 740);
}

TEST(SlotDisplay, ExtraPicturePathDropsTrailingBlanksOnly) {
  EXPECT_EQ(ExtraPresetPicturePath("d", "AB                "),
            std::filesystem::path("d/presets/AB.jpg"));
  EXPECT_EQ(ExtraPresetPicturePath("d", " A B  "), std::filesystem::path("d/presets/ A B.jpg"));
}

// A name read from a machine never reaches outside the presets folder: such a name has no
// picture of its own, the slot shows the fallback picture and the name as it was read.
TEST(SlotDisplay, ExtraNamesThatCouldLeaveThePresetsFolderHaveNoPictureOfTheirOwn) {
  ScratchDir dir;
  std::filesystem::create_directories(dir.path() / "presets");
  // Pictures an escaping name could reach, so that only the rule keeps them from being shown.
  WriteFile(dir.path() / "out.jpg", "x");
  WriteFile(dir.path() / "presets" / "out.jpg", "x");
  const auto hw = DefaultHardwarePresetNames();
  const auto user = DefaultUserPresetNames();
  const struct {
    std::string_view name;  // padded with blanks to the 18 characters a machine sends
    bool ownPicture;
    const char* shown;  // relative to the data directory
  } cases[] = {
      {"out", true, "presets/out.jpg"},
      {"HALL. PRESET.", true, "extrapset.jpg"},  // allowed, but no such file
      {"../out", false, "extrapset.jpg"},
      {"..", false, "extrapset.jpg"},
      {"a..b", false, "extrapset.jpg"},
      {"presets/../out", false, "extrapset.jpg"},
      {"/tmp/out", false, "extrapset.jpg"},
      {"..\\out", false, "extrapset.jpg"},
      {std::string_view("out\0../x", 8), false, "extrapset.jpg"},
      {"o\tut", false, "extrapset.jpg"},
  };
  for (const auto& c : cases) {
    std::string name(c.name);
    name.resize(18, ' ');
    const std::filesystem::path path = ExtraPresetPicturePath(dir.path(), name);
    EXPECT_EQ(!path.empty(), c.ownPicture) << name;
    SlotState slot;
    slot.record.hardwarePreset = 7;
    slot.extraPresetName = name;
    slot.extraPresetPicture = path.string();
    const auto d = ComputeSlotDisplay(0, slot, hw, user, dir.path());
    EXPECT_EQ(d.hardwarePreset, name) << "the name is shown as it was read";
    ASSERT_TRUE(d.picture);
    EXPECT_EQ(*d.picture, dir.path() / c.shown) << name;
  }
}

}  // namespace
}  // namespace qubix::test
