// The editor window on the simulated bus: real mouse and key events on its controls, asserting
// on the frames that reach the processors and on what the window shows.
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <filesystem>

#include "filters/Biquad.h"
#include "protocol/Commands.h"
#include "support/EditorWindowRig.h"
#include "support/QtInput.h"
#include "support/WidgetTest.h"
#include "ui/common/CaptionButton.h"
#include "ui/editor/AmpCalculatorDialog.h"
#include "ui/editor/EditorTexts.h"
#include "ui/editor/EditorWidgets.h"
#include "ui/editor/EditorWindow.h"
#include "ui/editor/LevelWindow.h"
#include "ui/filters/EqBandStrip.h"
#include "ui/filters/Knob.h"
#include "ui/filters/ResponseGraphWindow.h"

using namespace qubix;
using qubix::ui::TForm1;

namespace {

struct Fixture : test::EditorWindowRig {
  Fixture() : EditorWindowRig("ui_editor_window") {}
};

using test::Click;

}  // namespace

class TestEditorWindow : public QObject {
  Q_OBJECT

 private slots:
  void openingShowsEditorGraphAndMachineValues() {
    Fixture f;
    QVERIFY(f.form.isVisible());
    QVERIFY(f.form.Graph().isVisible());
    QCOMPARE(f.form.size(), QSize(1006, 275));
    QCOMPARE(f.form.Label11()->text(), QStringLiteral("H000000010001"));
    QCOMPARE(f.form.GainEdit(0)->text(), QStringLiteral("0"));
    QCOMPARE(f.form.SSKnob(1)->PotPos(), 64);
    QVERIFY(f.form.Timer1().isActive());
    QCOMPARE(f.form.Timer1().interval(), 655);
  }

  void muteButtonSendsAndTurnsRed() {
    Fixture f;
    auto* mute3 = f.form.MuteButton(2);
    QCOMPARE(mute3->text(), QStringLiteral("Mute Ch3"));
    Click(mute3);
    QCOMPARE(f.pc(), protocol::frames::ChannelLevel(2, 0, 0));
    QCOMPARE(mute3->captionColour(), ui::editortexts::kRedText);
    Click(mute3);
    QCOMPARE(mute3->captionColour(), ui::editortexts::kLimeText);
    QCOMPARE(f.rig.processor("H000000010001").channelLevel[2], std::uint8_t{255});
  }

  void functionKeysWithModifiers() {
    Fixture f;
    QTest::keyRelease(&f.form, Qt::Key_F2, Qt::ControlModifier);
    QCOMPARE(f.pc(), std::string());
    // Keys released over a child (a strip) reach the window first.
    QTest::keyRelease(f.form.ParFilter(3), Qt::Key_F2, Qt::ShiftModifier);
    QCOMPARE(f.pc(), protocol::frames::ChannelLevel(1, 1, 0));
    QVERIFY(f.form.State().muteState()[1]);
  }

  void draggingBand4WritesEveryStepAndRedrawsGraph() {
    Fixture f;
    auto* strip = f.form.ParFilter(4);
    const QPoint grip(19, 110);
    QTest::mousePress(strip, Qt::LeftButton, {}, grip);
    for (int i = 1; i <= 4; ++i) test::MoveMouse(strip, grip - QPoint(0, i), Qt::LeftButton);
    QTest::mouseRelease(strip, Qt::LeftButton, {}, grip - QPoint(0, 4));
    const std::string wire = f.pc();
    std::size_t q814 = 0, q930 = 0;
    for (auto at = wire.find("Q032e"); at != std::string::npos; at = wire.find("Q032e", at + 1))
      ++q814;
    for (auto at = wire.find("Q03a2"); at != std::string::npos; at = wire.find("Q03a2", at + 1))
      ++q930;
    QCOMPARE(q814, std::size_t{4});
    QCOMPARE(q930, std::size_t{4});
    QCOMPARE(strip->GPotPos(), 1.0F);
    // The graph follows: its curve rises above 0 dB near 250 Hz.
    QVERIFY(f.form.State().coefficientTable().rows[0][3] != 1.0);
    QVERIFY(f.form.Timer1().isActive());
  }

  void eachStripHasItsOwnChangeHandler() {
    Fixture f;
    using Handler = void (TForm1::*)(ui::TParFilter*);
    const std::array<Handler, 10> handlers{
        &TForm1::ParFilter1ChangePar, &TForm1::ParFilter2ChangePar, &TForm1::ParFilter3ChangePar,
        &TForm1::ParFilter4ChangePar, &TForm1::ParFilter5ChangePar, &TForm1::ParFilter6ChangePar,
        &TForm1::ParFilter7ChangePar, &TForm1::ParFilter8ChangePar, &TForm1::ParFilter9ChangePar,
        &TForm1::ParFilter10ChangePar};
    for (int n = 1; n <= 10; ++n) {
      f.form.ParFilter(n)->SetGPotPos(-3.0F);
      f.rig.clearRecords();
      (f.form.*handlers[static_cast<std::size_t>(n - 1)])(f.form.ParFilter(n));
      const auto words = filters::SendingOrder(f.form.State().coefficientTable().Band(n - 1));
      QVERIFY(words[1] != 1.0);
      const int address = 799 + 5 * (n - 1);
      QCOMPARE(f.pc(), protocol::frames::BandCoefficients(address, words) +
                           protocol::frames::BandCoefficients(address + 116, words));
    }
  }

  void windowAndAmplifierDialogSitBelowTheMainWindow() {
    Fixture f;
    QWidget mainWindow;
    mainWindow.move(200, 70);
    f.form.PlaceBelow(mainWindow);
    QCOMPARE(f.form.pos(), QPoint(6, 180));
    QCOMPARE(f.form.AmpDialog().pos(), QPoint(106, 180));
    QCOMPARE(f.form.AmpDialog().parentWidget(), &f.form);  // kept above the editor
  }

  void ampSettingAcceptSendsTheLevelUsedByTheNextUnmuteAndCancelSendsNothing() {
    Fixture f;
    auto* amp = f.form.Button(QStringLiteral(" Amp Setting "));
    QVERIFY(amp);
    auto& dialog = f.form.AmpDialog();
    // The dialog is modal: its button is clicked from inside its own event loop.
    QTimer::singleShot(0, &dialog, [&dialog] { Click(dialog.AcceptButton()); });
    Click(amp);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(f.form.State().ampLevelCode(), 251);  // defaults: −2 dB
    QCOMPARE(f.pc(), protocol::frames::AmpLevel(251));
    f.rig.clearRecords();
    Click(f.form.MuteButton(0));
    Click(f.form.MuteButton(0));
    QCOMPARE(f.pc(),
             protocol::frames::ChannelLevel(1, 0, 0) + protocol::frames::ChannelLevel(1, 0, 251));

    f.rig.clearRecords();
    dialog.Edit1()->setText(QStringLiteral("9000"));
    QTimer::singleShot(0, &dialog, [&dialog] { Click(dialog.CancelButton()); });
    Click(amp);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(f.pc(), std::string());
    QCOMPARE(f.form.State().ampLevelCode(), 251);
  }

  void failingBandLightsOverflowAndRepeatsTheLastGoodWrite() {
    Fixture f;
    auto* strip = f.form.ParFilter(8);  // 4000 Hz
    const auto centre = [&f] {
      return f.form.OverflowIndicator()->grab().toImage().pixelColor(5, 5);
    };
    QCOMPARE(centre(), ui::editortexts::kIndicatorOff);
    strip->SetQPotPos(0.2F);
    const std::string good = f.pc();
    QCOMPARE(good.size(), std::size_t{2 * 37});
    f.rig.clearRecords();
    strip->SetGPotPos(12.0F);  // too wide a boost for the DSP's number range
    QVERIFY(f.form.OverflowIndicator()->On());
    QCOMPARE(centre(), ui::editortexts::kIndicatorOn);
    QCOMPARE(f.pc(), good);
    QCOMPARE(f.form.State().coefficientTable().Band(7), filters::BiquadCoefficients{});
    strip->SetGPotPos(6.0F);
    QVERIFY(!f.form.OverflowIndicator()->On());
    QCOMPARE(centre(), ui::editortexts::kIndicatorOff);
  }

  void flatButtonTogglesCaption() {
    Fixture f;
    f.form.ParFilter(2)->SetGPotPos(3.0F);
    auto* flat = f.form.Button(QStringLiteral("Flat"));
    QVERIFY(flat);
    Click(flat);
    QCOMPARE(flat->text(), QStringLiteral("EQ"));
    QCOMPARE(f.form.ParFilter(2)->GPotPos(), 0.0F);
    Click(flat);
    QCOMPARE(flat->text(), QStringLiteral("Flat"));
    QCOMPARE(f.form.ParFilter(2)->GPotPos(), 3.0F);
  }

  void gainArrowsAndKnobSendAndOpenLevels() {
    Fixture f;
    auto* down = f.form.findChild<QToolButton*>(QStringLiteral("down0"));
    QVERIFY(down);
    for (int i = 0; i < 7; ++i) Click(down);
    QCOMPARE(f.form.GainEdit(0)->text(), QStringLiteral("-3.5"));
    QVERIFY(f.pc().find(protocol::frames::InputGains(180, 173)) != std::string::npos);
    QVERIFY(f.form.Levels().isVisible());
    QVERIFY(f.form.Timer2().isActive());
    QVERIFY(!f.form.Timer1().isActive());
    f.rig.clearRecords();
    f.form.SSKnob(2)->SetPotPos(0);
    QCOMPARE(f.pc(), protocol::frames::OutputAttenuation(255, 191));
    QCOMPARE(f.form.SSKnob(2)->Value(), -32.0F);
  }

  void delayArrowsStopAtEnds() {
    Fixture f;
    auto* down = f.form.findChild<QToolButton*>(QStringLiteral("down2"));
    Click(down);
    QCOMPARE(f.form.DelayEdit(0)->text(), QStringLiteral("0"));
    QCOMPARE(f.pc(), std::string());  // already at 0: nothing changed, nothing sent
    auto* up = f.form.findChild<QToolButton*>(QStringLiteral("up2"));
    Click(up);
    QCOMPARE(f.form.DelayEdit(0)->text(), QStringLiteral("1"));
    QVERIFY(f.pc().find(protocol::frames::Delays(1, 0)) != std::string::npos);
  }

  void statusPollLightsInputA() {
    Fixture f;
    f.rig.processor("H000000010001").inputIndicator = 2;
    f.form.Timer1Timer();
    QVERIFY(f.form.InputIndicator(0)->On());
    QVERIFY(!f.form.InputIndicator(1)->On());
  }

  // Both open at the bottom left of the screen; the second opens beside the first.
  void levelWindowOpensBesideTheGraph() {
    Fixture f;
    f.form.Graph().show();
    f.form.StaticText14Click();
    QVERIFY(f.form.Levels().isVisible());
    QVERIFY(!f.form.Levels().frameGeometry().intersects(f.form.Graph().frameGeometry()));
  }

  void closeHidesEverythingAndReleases() {
    Fixture f;
    f.form.StaticText14Click();
    QVERIFY(f.form.Levels().isVisible());
    f.rig.clearRecords();
    Click(f.form.Button(QStringLiteral(" Close")));
    QCOMPARE(f.pc(), std::string("T02feR"));
    QVERIFY(!f.form.isVisible());
    QVERIFY(!f.form.Graph().isVisible());
    QVERIFY(!f.form.Levels().isVisible());
    QVERIFY(!f.form.Timer1().isActive());
    QVERIFY(!f.form.Timer2().isActive());
  }

  // The window manager's close, here in the middle of a drag, does what " Close" does.
  void windowManagerCloseEndsAccessAndReleases() {
    Fixture f;
    QTest::mousePress(f.form.ParFilter(4), Qt::LeftButton, {}, QPoint(19, 110));
    test::MoveMouse(f.form.ParFilter(4), QPoint(19, 109), Qt::LeftButton);
    f.rig.clearRecords();
    QVERIFY(!f.form.close());  // the window goes when the editor has closed
    QCOMPARE(f.pc(), std::string("T02feR"));
    QVERIFY(!f.form.isVisible() && !f.form.Graph().isVisible());
  }

  void presetButtonsRunTheirOperationsUnderALimeCaption() {
    Fixture f;
    Click(f.form.Button(QStringLiteral("  Load From Computer HDD")));  // none attached: nothing
    QCOMPARE(f.pc(), std::string());
    // The store asks for its location while it runs: the caption is lime then.
    struct AskedWhileLime final : editor::UserPresetView {
      explicit AskedWhileLime(ui::TForm1& form) : form(form) {}
      std::optional<int> askLocation(editor::LocationDialog, const std::string&) override {
        colours.push_back(form.Button(QStringLiteral("    Save To DSP Memory"))->captionColour());
        return std::nullopt;
      }
      ui::TForm1& form;
      std::vector<QColor> colours;
    } view(f.form);
    editor::UserPresets presets(f.form.State());
    presets.setView(&view);
    f.form.SetUserPresets(&presets);
    Click(f.form.Button(QStringLiteral("    Save To DSP Memory")));
    f.form.SetUserPresets(nullptr);
    QCOMPARE(view.colours, std::vector<QColor>{ui::editortexts::kLimeText});
    QCOMPARE(f.form.Button(QStringLiteral("    Save To DSP Memory"))->captionColour(),
             ui::editortexts::kYellowText);
    QCOMPARE(f.pc(), std::string());
  }
};

QUBIX_WIDGET_TEST_MAIN(TestEditorWindow)
#include "test_editor_window.moc"
