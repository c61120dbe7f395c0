// Band strip: the mouse law on real mouse events, the coefficients it raises its change event
// with, and what the operator sees of the gain.
#include <QSignalSpy>
#include <QTest>
#include <memory>
#include <utility>
#include <vector>

#include "filters/ParametricBand.h"
#include "support/WidgetTest.h"
#include "ui/filters/Drawing.h"
#include "ui/filters/EditorBands.h"
#include "ui/filters/EqBandStrip.h"

using qubix::filters::BiquadCoefficients;
using qubix::test::MoveMouse;
using qubix::ui::TParFilter;

namespace {

// A middle strip set up as the editor sets its bands: ±12 dB, 10 Hz … 18 kHz, Q 0.2 … 50.
std::unique_ptr<TParFilter> EditorStrip(float freqHz = 1000.0F, float q = 1.4F) {
  auto strip = std::make_unique<TParFilter>();
  qubix::ui::ConfigureEditorStrip(*strip, 5);
  strip->SetFPotPos(freqHz);
  strip->SetQPotPos(q);
  strip->Paint();
  return strip;
}

BiquadCoefficients Expected(const TParFilter& strip) {
  BiquadCoefficients c;
  qubix::filters::ComputeParametric({strip.FValue(), strip.GPotPos(), strip.QValue(), 48000}, c);
  return c;
}

struct Raised {
  float gainDb;
  BiquadCoefficients coefficients;
};

constexpr QPoint kGainGrip(19, 110);  // on the fader knob at 0 dB
constexpr int kFreqRowY = 40;
constexpr int kQRowY = 230;
constexpr int kMinusX = 6;
constexpr int kPlusX = 32;
constexpr int kNoZoneX = 19;

}  // namespace

class ParFilterTest : public QObject {
  Q_OBJECT

 private slots:
  void gainDragRaisesFreshCoefficientsEveryPixel() {
    auto strip = EditorStrip();
    std::vector<Raised> raised;
    connect(strip.get(), &TParFilter::ChangePar, this, [&](TParFilter* sender) {
      raised.push_back({sender->GPotPos(), sender->Coefficients()});
    });
    QTest::mousePress(strip.get(), Qt::LeftButton, {}, kGainGrip);
    for (int i = 1; i <= 8; ++i) MoveMouse(strip.get(), kGainGrip - QPoint(0, i), Qt::LeftButton);
    QTest::mouseRelease(strip.get(), Qt::LeftButton, {}, kGainGrip - QPoint(0, 8));

    QCOMPARE(raised.size(), std::size_t{8});
    for (std::size_t i = 0; i < raised.size(); ++i) {
      QCOMPARE(raised[i].gainDb, 0.25F * static_cast<float>(i + 1));
      BiquadCoefficients want;
      qubix::filters::ComputeParametric({1000.0F, raised[i].gainDb, 1.4F, 48000}, want);
      QCOMPARE(raised[i].coefficients, want);
    }
    QCOMPARE(strip->KnobTop(), TParFilter::kKnobTopZero - 8);
  }

  // A repaint never reaches the bus: after a gain drag the strip stays in gain mode, and the
  // value setters, which repaint the zone of that mode, must neither move the gain nor raise.
  void valueSettersAfterAGainDragRaiseNothing() {
    auto strip = EditorStrip();
    QTest::mousePress(strip.get(), Qt::LeftButton, {}, kGainGrip);
    MoveMouse(strip.get(), kGainGrip - QPoint(0, 8), Qt::LeftButton);
    QTest::mouseRelease(strip.get(), Qt::LeftButton, {}, kGainGrip - QPoint(0, 8));
    QCOMPARE(strip->Mode(), TParFilter::DragMode::Gain);
    strip->SetGPotPos(-3.0F);
    QSignalSpy spy(strip.get(), &TParFilter::ChangePar);
    strip->SetFValue(2000.0F);
    strip->SetGainValue(6.0F);
    strip->SetQValue(2.0F);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(strip->GPotPos(), -3.0F);
  }

  void gainDragClampsAtFaderEnds() {
    auto strip = EditorStrip();
    QSignalSpy spy(strip.get(), &TParFilter::ChangePar);
    QTest::mousePress(strip.get(), Qt::LeftButton, {}, kGainGrip);
    MoveMouse(strip.get(), kGainGrip - QPoint(0, 200), Qt::LeftButton);
    QCOMPARE(strip->KnobTop(), 53);
    QCOMPARE(strip->GPotPos(), 12.0F);
    MoveMouse(strip.get(), kGainGrip + QPoint(0, 200), Qt::LeftButton);
    QCOMPARE(strip->KnobTop(), 149);
    QCOMPARE(strip->GPotPos(), -12.0F);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(strip->Coefficients(), Expected(*strip));
    // Gain mode does nothing on release.
    QTest::mouseRelease(strip.get(), Qt::LeftButton, {}, kGainGrip + QPoint(0, 200));
    QCOMPARE(spy.count(), 2);
  }

  void frequencyDragMovesTenTimesTheStepPerPixel() {
    auto strip = EditorStrip();
    QSignalSpy spy(strip.get(), &TParFilter::ChangePar);
    QTest::mousePress(strip.get(), Qt::LeftButton, {}, QPoint(19, 20));
    MoveMouse(strip.get(), QPoint(19, 19), Qt::LeftButton);
    QCOMPARE(strip->FPotPos(), 1190.0F);
    QCOMPARE(strip->FValue(), 1190.0F);
    QCOMPARE(strip->Coefficients(), Expected(*strip));
    MoveMouse(strip.get(), QPoint(19, 21), Qt::LeftButton);
    QCOMPARE(strip->FPotPos(), 810.0F);
    MoveMouse(strip.get(), QPoint(19, 300), Qt::LeftButton);
    QCOMPARE(strip->FPotPos(), 10.0F);
    QCOMPARE(spy.count(), 3);
  }

  void qDragMovesByQDragStep() {
    auto strip = EditorStrip();
    QTest::mousePress(strip.get(), Qt::LeftButton, {}, QPoint(19, 200));
    MoveMouse(strip.get(), QPoint(19, 198), Qt::LeftButton);
    QCOMPARE(strip->QPotPos(), static_cast<float>(double{1.4F} + 2.0 * double{0.7F}));
    QCOMPARE(strip->QValue(), strip->QPotPos());
    MoveMouse(strip.get(), QPoint(19, 400), Qt::LeftButton);
    QCOMPARE(strip->QPotPos(), 0.2F);
  }

  void clickSteps_data() {
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("button");
    QTest::addColumn<float>("start");
    QTest::addColumn<float>("expected");
    const int left = Qt::LeftButton;
    const int right = Qt::RightButton;
    QTest::newRow("freq left plus") << kFreqRowY << kPlusX << left << 1000.0F << 1001.0F;
    QTest::newRow("freq left minus") << kFreqRowY << kMinusX << left << 1000.0F << 999.0F;
    QTest::newRow("freq right plus") << kFreqRowY << kPlusX << right << 1000.0F << 1025.0F;
    QTest::newRow("freq right minus") << kFreqRowY << kMinusX << right << 1000.0F << 975.0F;
    QTest::newRow("freq plain click") << kFreqRowY << kNoZoneX << left << 1000.0F << 1000.0F;
    QTest::newRow("freq at FMax") << kFreqRowY << kPlusX << left << 18000.0F << 18000.0F;
    QTest::newRow("freq right at FMax") << kFreqRowY << kPlusX << right << 17990.0F << 18000.0F;
    QTest::newRow("freq at FMin") << kFreqRowY << kMinusX << right << 20.0F << 10.0F;
    QTest::newRow("q left plus") << kQRowY << kPlusX << left << 1.4F
                                 << static_cast<float>(1.4F + 0.1);
    QTest::newRow("q left minus") << kQRowY << kMinusX << left << 1.4F
                                  << static_cast<float>(1.4F - 0.1);
    QTest::newRow("q right plus") << kQRowY << kPlusX << right << 1.4F
                                  << static_cast<float>(1.4F + 1.0);
    QTest::newRow("q right minus")
        << kQRowY << kMinusX << right << 1.4F << static_cast<float>(1.4F - 1.0);
    QTest::newRow("q at QMax") << kQRowY << kPlusX << right << 50.0F << 50.0F;
    QTest::newRow("q at QMin") << kQRowY << kMinusX << left << 0.2F << 0.2F;
  }

  void clickSteps() {
    QFETCH(int, y);
    QFETCH(int, x);
    QFETCH(int, button);
    QFETCH(float, start);
    QFETCH(float, expected);
    const bool freqRow = y == kFreqRowY;
    auto strip = freqRow ? EditorStrip(start) : EditorStrip(1000.0F, start);
    QSignalSpy spy(strip.get(), &TParFilter::ChangePar);
    MoveMouse(strip.get(), QPoint(x, y));
    QCOMPARE(strip->MinusZone(), x == kMinusX);
    QCOMPARE(strip->PlusZone(), x == kPlusX);
    QTest::mouseClick(strip.get(), static_cast<Qt::MouseButton>(button), {}, QPoint(x, y));
    QCOMPARE(freqRow ? strip->FPotPos() : strip->QPotPos(), expected);
    QCOMPARE(spy.count(), 1);  // also at the limits and without a zone: the band is re-sent
    QCOMPARE(strip->Coefficients(), Expected(*strip));
  }

  // The first strip carries its dB scale on the left, so its knob column and step zones start
  // 24 pixels further right; the last strip's scale is on the right and moves nothing. Both edges
  // of the press column (4 and 34 inclusive) and the pixels just outside them, on both strips.
  void stripEdges_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("x");  // relative to the strip's own XOffset
    QTest::addColumn<bool>("pressChoosesMode");
    QTest::addColumn<bool>("minusZone");
    QTest::addColumn<bool>("plusZone");
    for (const auto& [index, name] : {std::pair{0, "first"}, std::pair{9, "last"}}) {
      QTest::addRow("%s x=3", name) << index << 3 << false << true << false;
      QTest::addRow("%s x=4", name) << index << 4 << true << true << false;
      QTest::addRow("%s x=34", name) << index << 34 << true << false << true;
      QTest::addRow("%s x=35", name) << index << 35 << false << false << true;
    }
  }

  void stripEdges() {
    QFETCH(int, index);
    QFETCH(int, x);
    QFETCH(bool, pressChoosesMode);
    QFETCH(bool, minusZone);
    QFETCH(bool, plusZone);
    TParFilter strip;
    qubix::ui::ConfigureEditorStrip(strip, index);
    qubix::ui::StartEditorStrip(strip, index);
    const int xo = index == 0 ? 24 : 0;
    QCOMPARE(strip.XOffset(), xo);

    MoveMouse(&strip, QPoint(xo + x, kFreqRowY));
    QCOMPARE(strip.MinusZone(), minusZone);
    QCOMPARE(strip.PlusZone(), plusZone);

    // Start in frequency mode from the middle of the column, then press on the fader row.
    QTest::mouseClick(&strip, Qt::LeftButton, {}, QPoint(xo + 19, 20));
    QCOMPARE(strip.Mode(), TParFilter::DragMode::Frequency);
    QTest::mousePress(&strip, Qt::LeftButton, {}, QPoint(xo + x, 110));
    QCOMPARE(strip.Mode(),
             pressChoosesMode ? TParFilter::DragMode::Gain : TParFilter::DragMode::Frequency);
    QTest::mouseRelease(&strip, Qt::LeftButton, {}, QPoint(xo + x, 110));
  }

  void middleClickGivesExactlyZeroDb() {
    auto strip = EditorStrip();
    strip->SetGPotPos(7.25F);
    strip->Paint();
    QCOMPARE(strip->KnobTop(), 72);
    QSignalSpy spy(strip.get(), &TParFilter::ChangePar);
    QTest::mousePress(strip.get(), Qt::MiddleButton, {}, QPoint(19, 20));
    QVERIFY(TParFilter::MiddleHeld());
    QCOMPARE(TParFilter::ActiveStrip(), strip.get());
    QCOMPARE(strip->GPotPos(), 0.0F);
    QCOMPARE(strip->KnobTop(), TParFilter::kKnobTopZero);
    QCOMPARE(strip->Mode(), TParFilter::DragMode::Gain);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(strip->Coefficients(), BiquadCoefficients{});
    QTest::mouseRelease(strip.get(), Qt::MiddleButton, {}, QPoint(19, 20));
    QVERIFY(!TParFilter::MiddleHeld());
  }

  void pressOutsideKnobColumnKeepsMode() {
    auto strip = EditorStrip();
    QTest::mousePress(strip.get(), Qt::LeftButton, {}, QPoint(19, 20));
    QTest::mouseRelease(strip.get(), Qt::LeftButton, {}, QPoint(19, 20));
    QCOMPARE(strip->Mode(), TParFilter::DragMode::Frequency);
    for (const QPoint outside : {QPoint(3, 110), QPoint(35, 110), QPoint(19, 0)}) {
      QTest::mousePress(strip.get(), Qt::LeftButton, {}, outside);
      QCOMPARE(strip->Mode(), TParFilter::DragMode::Frequency);
      QTest::mouseRelease(strip.get(), Qt::LeftButton, {}, outside);
    }
    // Inside the column the row chooses.
    QTest::mousePress(strip.get(), Qt::LeftButton, {}, QPoint(4, 54));
    QCOMPARE(strip->Mode(), TParFilter::DragMode::Gain);
    QTest::mouseRelease(strip.get(), Qt::LeftButton, {}, QPoint(4, 54));
    // Ending FBActive ends the mode.
    strip->SetFBActive(false);
    QCOMPARE(strip->Mode(), TParFilter::DragMode::None);
  }

  void movesOnAnotherStripDoNothing() {
    auto active = EditorStrip();
    auto other = EditorStrip(2000.0F);
    QTest::mousePress(other.get(), Qt::LeftButton, {}, kGainGrip);
    QTest::mouseRelease(other.get(), Qt::LeftButton, {}, kGainGrip);
    QTest::mousePress(active.get(), Qt::LeftButton, {}, kGainGrip);
    QCOMPARE(TParFilter::ActiveStrip(), active.get());
    QSignalSpy spy(other.get(), &TParFilter::ChangePar);
    MoveMouse(other.get(), kGainGrip - QPoint(0, 10), Qt::LeftButton);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(other->KnobTop(), TParFilter::kKnobTopZero);
    QCOMPARE(other->GPotPos(), 0.0F);
    QTest::mouseRelease(active.get(), Qt::LeftButton, {}, kGainGrip);
  }

  void wheelIsIgnored() {
    auto strip = EditorStrip();
    QSignalSpy spy(strip.get(), &TParFilter::ChangePar);
    QWheelEvent wheel(QPointF(19, 110), QPointF(19, 110), {}, QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(strip.get(), &wheel);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(strip->GPotPos(), 0.0F);
  }

  void failedBandStillRaisesTheEvent() {
    // +12 dB at 5 kHz with Q 0.2 does not fit the DSP's number range.
    auto strip = EditorStrip(5000.0F, 0.2F);
    int failures = 0;
    connect(strip.get(), &TParFilter::ChangePar, this, [&](TParFilter* sender) {
      if (sender->FBCalc() == qubix::filters::kParametricFailed) ++failures;
    });
    QTest::mousePress(strip.get(), Qt::LeftButton, {}, kGainGrip);
    MoveMouse(strip.get(), kGainGrip - QPoint(0, 48), Qt::LeftButton);
    QCOMPARE(strip->GPotPos(), 12.0F);
    QCOMPARE(failures, 1);
    QCOMPARE(strip->KnobTop(), 53);
  }

  void gainTextTurnsYellowWhenMoved() {
    auto strip = EditorStrip();
    const QRect gainText(4, 169, 34, 18);
    const QImage before = strip->grab().toImage();
    QVERIFY(qubix::test::CountPixelsWhere(before, gainText, qubix::test::IsLime) > 0);
    QCOMPARE(qubix::test::CountPixelsWhere(before, gainText, qubix::test::IsYellow), 0);
    QTest::mousePress(strip.get(), Qt::LeftButton, {}, kGainGrip);
    MoveMouse(strip.get(), kGainGrip - QPoint(0, 4), Qt::LeftButton);
    const QImage after = strip->grab().toImage();
    QVERIFY(qubix::test::CountPixelsWhere(after, gainText, qubix::test::IsYellow) > 0);
    QTest::mouseRelease(strip.get(), Qt::LeftButton, {}, kGainGrip - QPoint(0, 4));
  }

  void knobDotsFollowThePots() {
    auto strip = EditorStrip(0.0F, 0.0F);
    // θ = 4.239 rad at pot 0: the dot sits lower left of the knob centre.
    QCOMPARE(strip->FrequencyDot(), QPoint(12, 24));
    QCOMPARE(strip->QDot(), QPoint(12, 24 + 187));
    strip->SetFPotPos(18000.0F);
    const QPoint dot = strip->FrequencyDot();
    QVERIFY(dot.x() > 19);  // swept clockwise past the top to the lower right
    const QImage image = strip->grab().toImage();
    QCOMPARE(image.pixelColor(dot + QPoint(2, 2)), QColor(255, 0, 0));
  }

  void valueTexts_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("significant");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<bool>("thousands");
    QTest::addColumn<QString>("text");
    // Frequency: thousands separators, no decimals.
    QTest::newRow("16000 Hz") << 16000.0 << 15 << 0 << true << "16,000";
    QTest::newRow("1190 Hz") << 1190.0 << 15 << 0 << true << "1,190";
    QTest::newRow("32 Hz") << 32.0 << 15 << 0 << true << "32";
    // Gain: 2 significant digits, 1 decimal.
    QTest::newRow("11.75 dB") << 11.75 << 2 << 1 << true << "12.0";
    QTest::newRow("-11.75 dB") << -11.75 << 2 << 1 << true << "-12.0";
    QTest::newRow("0.75 dB") << 0.75 << 2 << 1 << true << "0.8";
    QTest::newRow("-0.25 dB") << -0.25 << 2 << 1 << true << "-0.3";
    QTest::newRow("-0.04 dB") << -0.04 << 2 << 1 << true << "0.0";
    QTest::newRow("0 dB") << 0.0 << 2 << 1 << true << "0.0";
    // Q: 4 significant digits, 1 decimal; the knob's value: ValueDigits decimals.
    QTest::newRow("Q 1.8f") << double{1.8F} << 4 << 1 << false << "1.8";
    QTest::newRow("Q 1.45f") << double{1.45F} << 4 << 1 << false << "1.5";
    QTest::newRow("Q 50") << 50.0 << 4 << 1 << false << "50.0";
    QTest::newRow("knob -12.5") << -12.5 << 4 << 1 << false << "-12.5";
    QTest::newRow("knob -32, 2 digits") << -32.0 << 4 << 2 << false << "-32.00";
  }

  void valueTexts() {
    QFETCH(double, value);
    QFETCH(int, significant);
    QFETCH(int, decimals);
    QFETCH(bool, thousands);
    QFETCH(QString, text);
    QCOMPARE(qubix::ui::FormatNumber(value, significant, decimals, thousands), text);
  }

  void propertySideEffects() {
    TParFilter strip;
    QCOMPARE(strip.size(), QSize(38, 240));
    strip.SetQMin(0.1F);
    QCOMPARE(strip.QMin(), 0.2F);
    strip.SetGMax(12);
    QCOMPARE(strip.GMin(), -12);
    strip.SetFMax(18000);
    QCOMPARE(strip.FreqDragStep(), 19);
    strip.SetQMax(50.0F);
    QCOMPARE(strip.QDragStep(), 0.7F);
    strip.SetFirst(true);
    strip.SetLast(true);
    QVERIFY(!strip.First());
    strip.SetFirst(true);
    QVERIFY(!strip.Last());
    strip.Paint();
    QCOMPARE(strip.XOffset(), 24);
    QCOMPARE(strip.GainScale(), 4.0F);
  }
};

QUBIX_WIDGET_TEST_MAIN(ParFilterTest)
#include "test_eq_band_strip.moc"
