// Attenuation knob: drags, clicks, right-clicks and the wheel on real events, the event on every
// action, and where the dot is drawn.
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

#include "support/WidgetTest.h"
#include "ui/filters/Knob.h"

using qubix::test::MoveMouse;
using qubix::ui::TSSKnob;

namespace {

enum Action { DragLeft, DragRight, LeftClick, RightClick, Wheel };

constexpr QPoint kMinusZone(10, 70);
constexpr QPoint kPlusZone(60, 70);
constexpr QPoint kNoZone(37, 70);
constexpr QPoint kDialGrip(37, 36);

// The editor's knob: 0 … 64, blue, one decimal.
void SetUpEditorKnob(TSSKnob& knob, int pos) {
  knob.SetMax(64);
  knob.SetKnobColor(qubix::ui::KcBlue);
  knob.SetValueDigits(1);
  knob.SetCaption(QStringLiteral("OutAttn"));
  knob.SetPotPos(pos);
}

}  // namespace

class SSKnobTest : public QObject {
  Q_OBJECT

 private slots:
  void mouseLaw_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("action");
    QTest::addColumn<QPoint>("where");
    QTest::addColumn<int>("amount");  // drag: pixels up; wheel: notches away from the operator
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("events");
    // A drag raises the event on the move and again on the release (outside the zones).
    QTest::newRow("drag up 10 px, step 3") << 30 << int(DragLeft) << kDialGrip << 10 << 60 << 2;
    QTest::newRow("drag up 20 px clamps") << 30 << int(DragLeft) << kDialGrip << 20 << 64 << 2;
    QTest::newRow("drag down 5 px") << 30 << int(DragLeft) << kDialGrip << -5 << 15 << 2;
    QTest::newRow("drag down past Min") << 10 << int(DragLeft) << kDialGrip << -30 << 0 << 2;
    QTest::newRow("right drag of the active knob")
        << 30 << int(DragRight) << kDialGrip << 2 << 36 << 2;
    QTest::newRow("left click minus") << 30 << int(LeftClick) << kMinusZone << 0 << 29 << 1;
    QTest::newRow("left click plus") << 30 << int(LeftClick) << kPlusZone << 0 << 31 << 1;
    QTest::newRow("left click plus at Max") << 64 << int(LeftClick) << kPlusZone << 0 << 64 << 1;
    QTest::newRow("left click outside zones") << 30 << int(LeftClick) << kNoZone << 0 << 30 << 1;
    QTest::newRow("left click on the dial") << 30 << int(LeftClick) << kDialGrip << 0 << 30 << 1;
    QTest::newRow("right click plus at 60") << 60 << int(RightClick) << kPlusZone << 0 << 64 << 1;
    QTest::newRow("right click minus") << 30 << int(RightClick) << kMinusZone << 0 << 18 << 1;
    QTest::newRow("right click minus at 5") << 5 << int(RightClick) << kMinusZone << 0 << 0 << 1;
    QTest::newRow("wheel away") << 30 << int(Wheel) << kDialGrip << 1 << 33 << 1;
    QTest::newRow("wheel towards") << 30 << int(Wheel) << kDialGrip << -1 << 27 << 1;
    QTest::newRow("wheel two notches") << 30 << int(Wheel) << kDialGrip << 2 << 36 << 2;
    QTest::newRow("wheel away at 63") << 63 << int(Wheel) << kDialGrip << 1 << 64 << 1;
    QTest::newRow("wheel towards at 1") << 1 << int(Wheel) << kDialGrip << -1 << 0 << 1;
  }

  void mouseLaw() {
    QFETCH(int, start);
    QFETCH(int, action);
    QFETCH(QPoint, where);
    QFETCH(int, amount);
    QFETCH(int, expected);
    QFETCH(int, events);
    TSSKnob knob;
    SetUpEditorKnob(knob, start);
    QSignalSpy spy(&knob, &TSSKnob::ChangePot);
    MoveMouse(&knob, where);
    switch (action) {
      case DragLeft:
      case DragRight: {
        const Qt::MouseButton button = action == DragLeft ? Qt::LeftButton : Qt::RightButton;
        if (button == Qt::RightButton) {  // a right drag moves only the knob of the last left press
          QTest::mouseClick(&knob, Qt::LeftButton, {}, where);
          spy.clear();
        }
        QTest::mousePress(&knob, button, {}, where);
        const QPoint end = where - QPoint(0, amount);
        MoveMouse(&knob, end, button);
        QTest::mouseRelease(&knob, button, {}, end);
        break;
      }
      case LeftClick:
        QTest::mouseClick(&knob, Qt::LeftButton, {}, where);
        break;
      case RightClick:
        QTest::mouseClick(&knob, Qt::RightButton, {}, where);
        break;
      case Wheel: {
        QWheelEvent wheel(where, knob.mapToGlobal(where), {}, QPoint(0, 120 * amount), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&knob, &wheel);
        break;
      }
    }
    QCOMPARE(knob.PotPos(), expected);
    QCOMPARE(spy.count(), events);
    QCOMPARE(spy.last().at(0).value<TSSKnob*>(), &knob);
  }

  void knobOfAnotherPressDoesNotFollowMoves() {
    TSSKnob first;
    TSSKnob second;
    SetUpEditorKnob(first, 30);
    SetUpEditorKnob(second, 30);
    QTest::mousePress(&first, Qt::LeftButton, {}, kDialGrip);
    QCOMPARE(TSSKnob::ActiveKnob(), &first);
    QSignalSpy spy(&second, &TSSKnob::ChangePot);
    MoveMouse(&second, kDialGrip - QPoint(0, 5), Qt::LeftButton);
    QCOMPARE(second.PotPos(), 30);
    QCOMPARE(spy.count(), 0);
    QTest::mouseRelease(&first, Qt::LeftButton, {}, kDialGrip);
  }

  void dotPosition_data() {
    QTest::addColumn<int>("pos");
    QTest::addColumn<QPoint>("corner");
    // θ = 4.239 rad (lower left) at 0 and 4.239 − 5.338 = −1.099 rad (lower right) at 64.
    QTest::newRow("PotPos 0") << 0 << QPoint(26, 48);
    QTest::newRow("PotPos 64") << 64 << QPoint(41, 48);
    QTest::newRow("PotPos 32") << 32 << QPoint(34, 16);
  }

  void dotPosition() {
    QFETCH(int, pos);
    QFETCH(QPoint, corner);
    TSSKnob knob;
    SetUpEditorKnob(knob, pos);
    QCOMPARE(knob.DotTopLeft(), corner);
    const QImage image = knob.grab().toImage();
    QCOMPARE(image.pixelColor(corner + QPoint(3, 3)), QColor(255, 0, 0));
  }

  void valueAndCaptionTexts() {
    TSSKnob knob;
    SetUpEditorKnob(knob, 39);
    knob.SetValue(-12.5F);
    QCOMPARE(knob.size(), QSize(76, 86));
    QCOMPARE(knob.KnobDragStep(), 3);
    const QImage image = knob.grab().toImage();
    QVERIFY(qubix::test::CountPixelsWhere(image, QRect(40, 71, 36, 15), qubix::test::IsLime) > 0);
    QVERIFY(qubix::test::CountPixelsWhere(image, QRect(1, 71, 39, 15), qubix::test::IsWhite) > 0);
    knob.SetValueVisible(false);
    const QImage hidden = knob.grab().toImage();
    QCOMPARE(qubix::test::CountPixelsWhere(hidden, QRect(40, 71, 36, 15), qubix::test::IsLime), 0);
  }
};

QUBIX_WIDGET_TEST_MAIN(SSKnobTest)
#include "test_knob.moc"
