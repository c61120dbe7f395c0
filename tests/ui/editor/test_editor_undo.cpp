// Undo and redo in the editor window on the simulated bus: real presses, drags and keys, with the
// frames that each undo and redo puts on the wire.
#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <vector>

#include "editor/UserPresets.h"
#include "filters/Biquad.h"
#include "protocol/Commands.h"
#include "support/EditorWindowRig.h"
#include "support/QtInput.h"
#include "support/WidgetTest.h"
#include "ui/common/CaptionButton.h"
#include "ui/editor/AmpCalculatorDialog.h"
#include "ui/editor/EditorUndo.h"
#include "ui/editor/EditorWindow.h"
#include "ui/editor/UserPresetControls.h"
#include "ui/filters/EqBandStrip.h"
#include "ui/filters/Knob.h"

using namespace qubix;
namespace frames = protocol::frames;
using ui::EditorValues;

namespace {

struct Fixture : test::EditorWindowRig {
  Fixture() : EditorWindowRig("ui_editor_undo") {
    form.activateWindow();
    QApplication::setActiveWindow(&form);
  }
  editor::EditorState& state() { return form.State(); }
  EditorValues values() { return EditorValues::Of(form.State()); }
  sim::SimProcessor& machine() { return rig.processor("H000000010001"); }
  void undo() { QTest::keyClick(&form, Qt::Key_Z, Qt::ControlModifier); }
  void redo(bool y) {
    if (y)
      QTest::keyClick(&form, Qt::Key_Y, Qt::ControlModifier);
    else
      QTest::keyClick(&form, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
  }
  QToolButton* arrow(const char* name) {
    return form.findChild<QToolButton*>(QString::fromLatin1(name));
  }

  // A press, a few pixels of movement and a release, as the operator drags a control.
  static void drag(QWidget* w, QPoint from, int upPixels) {
    const int step = upPixels < 0 ? -1 : 1;
    QTest::mousePress(w, Qt::LeftButton, {}, from);
    for (int i = step; i != upPixels + step; i += step)
      test::MoveMouse(w, from - QPoint(0, i), Qt::LeftButton);
    QTest::mouseRelease(w, Qt::LeftButton, {}, from - QPoint(0, upPixels));
  }
  static constexpr QPoint kFaderGrip{19, 110};
  static constexpr QPoint kKnobGrip{30, 30};

  // What the operator's own change of band n (1 … 10) to what it shows now sends.
  std::string bandFrames(int n) {
    const auto words = filters::SendingOrder(state().coefficientTable().Band(n - 1));
    const int address = 799 + 5 * (n - 1);
    return frames::BandCoefficients(address, words) +
           frames::BandCoefficients(address + 116, words);
  }
  std::string channelFrames(int channel) {
    const int level =
        state().muteState()[static_cast<std::size_t>(channel)] ? 0 : state().ampLevelCode();
    return frames::ChannelLevel(channel / 2 + 1, channel % 2, level);
  }
};

struct Change {
  const char* name;
  std::function<void(Fixture&)> act;
  // The frames of the operator's change to the values the editor shows now.
  std::function<std::string(Fixture&)> frames;
};

const std::vector<Change>& Changes() {
  static const std::vector<Change> changes{
      {"mute Ch3 clicked", [](Fixture& f) { test::Click(f.form.MuteButton(2)); },
       [](Fixture& f) { return f.channelFrames(2); }},
      {"input A one step down", [](Fixture& f) { test::Click(f.arrow("down0")); },
       [](Fixture& f) { return frames::InputGains(f.state().GainCode(1), f.state().GainCode(0)); }},
      {"band 4 gain dragged",
       [](Fixture& f) { Fixture::drag(f.form.ParFilter(4), Fixture::kFaderGrip, 6); },
       [](Fixture& f) { return f.bandFrames(4); }},
      {"Ch3/Ch4 knob dragged",
       [](Fixture& f) { Fixture::drag(f.form.SSKnob(2), Fixture::kKnobGrip, -5); },
       [](Fixture& f) {
         return frames::OutputAttenuation(f.state().knobPosition()[0] + 191,
                                          f.state().knobPosition()[1] + 191);
       }},
      {"delay Ch1/Ch2 one step up", [](Fixture& f) { test::Click(f.arrow("up2")); },
       [](Fixture& f) { return frames::Delays(f.state().delay()[0], f.state().delay()[1]); }},
      {"F1 mutes Ch1", [](Fixture& f) { QTest::keyClick(f.form.ParFilter(2), Qt::Key_F1); },
       [](Fixture& f) { return f.channelFrames(0); }},
      {"amplifier level accepted",
       [](Fixture& f) {
         QTimer::singleShot(0, &f.form.AmpDialog(),
                            [&f] { test::Click(f.form.AmpDialog().AcceptButton()); });
         test::Click(f.form.Button(QStringLiteral(" Amp Setting ")));
       },
       [](Fixture& f) { return frames::AmpLevel(f.state().ampLevelCode()); }},
      {"Flat", [](Fixture& f) { test::Click(f.form.Button(QStringLiteral("Flat"))); },
       [](Fixture& f) {
         std::string all;
         for (int index : editor::kStripCreationOrder) all += f.bandFrames(index + 1);
         return all;
       }},
  };
  return changes;
}

}  // namespace

class TestEditorUndo : public QObject {
  Q_OBJECT

 private slots:
  void eachChangeIsUndoneAndRedoneWithTheOperatorsFrames() {
    Fixture f;
    const auto& changes = Changes();
    std::vector<EditorValues> seen{f.values()};
    const sim::Settings liveBefore = f.machine().live;
    const auto levelsBefore = f.machine().channelLevel;
    for (const Change& c : changes) {
      c.act(f);
      QVERIFY2(f.values() != seen.back(), c.name);
      seen.push_back(f.values());
    }
    QCOMPARE(f.form.Undo().Stack().count(), static_cast<int>(changes.size()));
    const sim::Settings liveAfter = f.machine().live;
    const auto levelsAfter = f.machine().channelLevel;

    for (std::size_t k = changes.size(); k-- > 0;) {
      f.rig.clearRecords();
      f.undo();
      QVERIFY2(f.values() == seen[k], changes[k].name);
      QVERIFY2(f.pc() == changes[k].frames(f), changes[k].name);
    }
    QCOMPARE(f.machine().live.gainA, liveBefore.gainA);
    QCOMPARE(f.machine().live.atten34, liveBefore.atten34);
    QCOMPARE(f.machine().live.delay12, liveBefore.delay12);
    QCOMPARE(f.machine().live.ampLevel, liveBefore.ampLevel);
    QCOMPARE(f.machine().channelLevel, levelsBefore);
    f.rig.clearRecords();
    f.undo();  // nothing left to undo: nothing sent
    QCOMPARE(f.pc(), std::string());

    for (std::size_t k = 0; k < changes.size(); ++k) {
      f.rig.clearRecords();
      f.redo(k % 2 == 0);
      QVERIFY2(f.values() == seen[k + 1], changes[k].name);
      QVERIFY2(f.pc() == changes[k].frames(f), changes[k].name);
    }
    QCOMPARE(f.machine().live.gainA, liveAfter.gainA);
    QCOMPARE(f.machine().live.atten34, liveAfter.atten34);
    QCOMPARE(f.machine().live.ampLevel, liveAfter.ampLevel);
    QCOMPARE(f.machine().channelLevel, levelsAfter);
  }

  void aDragIsOneStepAndTwoDragsAreTwo() {
    Fixture f;
    auto* strip = f.form.ParFilter(4);
    const float start = strip->GPotPos();
    Fixture::drag(strip, Fixture::kFaderGrip, 4);
    const float afterFirst = strip->GPotPos();
    Fixture::drag(strip, Fixture::kFaderGrip, 4);
    QVERIFY(strip->GPotPos() != afterFirst);
    QCOMPARE(f.form.Undo().Stack().count(), 2);
    f.rig.clearRecords();
    f.undo();
    QCOMPARE(strip->GPotPos(), afterFirst);
    QCOMPARE(f.pc(), f.bandFrames(4));  // one write of the band and its mirror, not one per pixel
    f.undo();
    QCOMPARE(strip->GPotPos(), start);
  }

  void aRecalledPresetIsUndoneToWhatTheMachineHeldBefore() {
    Fixture f;
    ui::UserPresetControls controls(f.form, nullptr);
    editor::UserPresetRecord preset = controls.Presets().BuildRecord();
    preset.delay12 = 40;
    preset.inputGainB = -12;
    preset.knob12 = 30;
    preset.muted = {0, 1, 0, 0};
    preset.gainDb[5] = 4.5F;
    const std::string path = (f.dir / "loud.vup").string();
    QCOMPARE(editor::WriteUserPresetFile(path, preset), std::string());
    const EditorValues before = f.values();
    const sim::Settings live = f.machine().live;
    f.rig.frontend.openFileAnswers.push_back(path);
    test::Click(f.form.Button(QStringLiteral("  Load From Computer HDD")));
    QCOMPARE(f.state().delay()[0], 40);
    QCOMPARE(f.form.Undo().Stack().count(), 1);
    f.rig.clearRecords();
    f.undo();
    QVERIFY(f.values() == before);
    QCOMPARE(f.machine().live.delay12, live.delay12);
    QCOMPARE(f.machine().live.gainB, live.gainB);
    QCOMPARE(f.machine().live.atten12, live.atten12);
    QCOMPARE(f.machine().channelLevel[1], std::uint8_t{255});
    QVERIFY(f.pc().find(f.bandFrames(6)) != std::string::npos);
  }

  // A recall and a file load carry the amplifier level: undone and redone, the processor runs
  // the level the editor shows, and a channel un-muted on the way gets that level, not the one
  // being left.
  void presetStepsCarryTheAmplifierLevel() {
    {
      Fixture f;
      sim::Settings stored = f.machine().live;
      stored.ampLevel = 201;
      f.machine().locations[2].records[10] = sim::SettingsRecord(stored);
      f.rig.frontend.locationAnswers.push_back(2);
      editor::UserPresets presets(f.form.State());  // asks the frontend for the location
      f.form.SetUserPresets(&presets);
      test::Click(f.form.Button(QStringLiteral("   Load From DSP Memory")));
      QCOMPARE(f.state().ampLevelCode(), 201);
      QCOMPARE(int(f.machine().live.ampLevel), 201);
      f.undo();
      QCOMPARE(f.state().ampLevelCode(), 255);
      QCOMPARE(int(f.machine().live.ampLevel), 255);
      f.redo(true);
      QCOMPARE(int(f.machine().live.ampLevel), f.state().ampLevelCode());
      f.form.SetUserPresets(nullptr);
    }
    {
      Fixture f;
      ui::UserPresetControls controls(f.form, nullptr);
      editor::UserPresetRecord preset = controls.Presets().BuildRecord();
      preset.muted = {0, 1, 0, 0};
      preset.ampLevelCode = 201;
      const std::string path = (f.dir / "quiet.vup").string();
      QCOMPARE(editor::WriteUserPresetFile(path, preset), std::string());
      f.rig.frontend.openFileAnswers.push_back(path);
      test::Click(f.form.Button(QStringLiteral("  Load From Computer HDD")));
      QCOMPARE(int(f.machine().channelLevel[1]), 0);
      f.undo();
      QCOMPARE(f.state().ampLevelCode(), 255);
      QCOMPARE(int(f.machine().live.ampLevel), 255);
      QCOMPARE(int(f.machine().channelLevel[1]), 255);
    }
  }

  // Bands the program fills in (a file, a recall) are the machine's own values: no step.
  void bandsFilledWhileLoadingMakeNoStep() {
    Fixture f;
    {
      const editor::EditorState::LoadingScope loading(f.state());
      f.form.ParFilter(3)->SetGPotPos(4.0F);
    }
    QCOMPARE(f.form.Undo().Stack().count(), 0);
    f.form.ParFilter(3)->SetGPotPos(5.0F);  // the same change from the operator is one
    QCOMPARE(f.form.Undo().Stack().count(), 1);
  }

  void historyIsDroppedWhenTheEditorLeavesItsMachine() {
    using Leave = std::function<void(Fixture&)>;
    const std::vector<std::pair<const char*, Leave>> leavings{
        {"closed", [](Fixture& f) { test::Click(f.form.Button(QStringLiteral(" Close"))); }},
        {"another slot opened", [](Fixture& f) { f.state().OpenEditorForSlot(1); }},
        {"adapter gone on reopening",
         [](Fixture& f) {
           f.rig.adapter->faults().infoFails = true;
           f.state().OpenEditorForSlot(0);
           f.rig.adapter->faults().infoFails = false;
         }},
    };
    for (const auto& [name, leave] : leavings) {
      Fixture f;
      test::Click(f.form.MuteButton(0));
      QCOMPARE(f.form.Undo().Stack().count(), 1);
      leave(f);
      QVERIFY2(f.form.Undo().Stack().count() == 0, name);
      if (!f.form.isVisible()) f.state().OpenEditorForSlot(0);
      const EditorValues held = f.values();
      f.rig.clearRecords();
      f.undo();
      QVERIFY2(f.pc().empty(), name);
      QVERIFY2(f.values() == held, name);
    }
  }
};

QUBIX_WIDGET_TEST_MAIN(TestEditorUndo)
#include "test_editor_undo.moc"
