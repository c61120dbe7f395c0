// The amplifier calculator dialog: mode switching, clamping on " Accept", and a non-numeric entry
// refused with the dialog left open.
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>

#include "support/WidgetTest.h"
#include "ui/common/CaptionButton.h"
#include "ui/editor/AmpCalculatorDialog.h"
#include "ui/editor/EditorWidgets.h"

using qubix::ui::CaptionButton;

using namespace qubix;
using qubix::ui::TForm9;

class TestAmpDialog : public QObject {
  Q_OBJECT

 private slots:
  void defaultsAndModes() {
    editor::AmpCalculator calc;
    TForm9 d(calc);
    d.show();
    QCOMPARE(d.windowTitle(), QStringLiteral("PowerAmp Setting"));
    QCOMPARE(d.Edit1()->text(), QStringLiteral("1499"));
    QCOMPARE(d.Edit2()->text(), QStringLiteral("0.975"));
    QCOMPARE(d.ComboBox1()->currentText(), QStringLiteral("38 db"));
    QCOMPARE(d.ComboBox1()->itemText(7), QStringLiteral("27db"));
    QVERIFY(d.Edit2()->isVisible());
    QVERIFY(!d.ComboBox1()->isVisible());
    QTest::mouseClick(d.ModeButton(1), Qt::LeftButton, {}, QPoint(5, 5));
    QVERIFY(!d.Edit2()->isVisible());
    QVERIFY(d.ComboBox1()->isVisible());
    QCOMPARE(calc.mode, 1);
  }

  void acceptClampsAndComputes() {
    editor::AmpCalculator calc;
    TForm9 d(calc);
    d.show();
    QSignalSpy accepted(&d, &QDialog::accepted);
    d.Edit1()->setText(QStringLiteral("20000"));
    d.Edit2()->setText(QStringLiteral("5"));
    QTest::mouseClick(d.AcceptButton(), Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(accepted.count(), 1);
    QCOMPARE(d.Edit1()->text(), QStringLiteral("9000"));
    QCOMPARE(d.Edit2()->text(), QStringLiteral("2.7"));
    QCOMPARE(calc.AmpTrimDb, editor::CalcPot(0, 9000, 18, 2.7).AmpTrimDb);
  }

  void nonNumericEntryKeepsDialogOpen() {
    editor::AmpCalculator calc;
    TForm9 d(calc);
    d.showMessages = false;
    d.show();
    QSignalSpy accepted(&d, &QDialog::accepted);
    d.Edit1()->setText(QStringLiteral("lots"));
    QTest::mouseClick(d.AcceptButton(), Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(accepted.count(), 0);
    QVERIFY(d.isVisible());
    QCOMPARE(d.LastMessage(), QStringLiteral("'lots' is not a valid number."));
    QCOMPARE(calc.AmpTrimDb, 0.0F);
    QCOMPARE(d.Edit1()->text(), QStringLiteral("lots"));
  }

  // The dialog is reused: what was typed and picked is there again at the next opening, after
  // " Cancel" as after " Accept", and " Cancel" computes nothing.
  void entriesSurviveCancelAndAccept() {
    editor::AmpCalculator calc;
    TForm9 d(calc);
    for (CaptionButton* closer : {d.CancelButton(), d.AcceptButton()}) {
      d.show();
      QTest::mouseClick(d.ModeButton(1), Qt::LeftButton, {}, QPoint(5, 5));
      d.ComboBox1()->setCurrentIndex(15);
      d.Edit1()->selectAll();
      QTest::keyClicks(d.Edit1(), "2500");
      d.Edit2()->selectAll();
      QTest::keyClicks(d.Edit2(), "1.25");
      const float trimBefore = calc.AmpTrimDb;
      QTest::mouseClick(closer, Qt::LeftButton, {}, QPoint(5, 5));
      QVERIFY(!d.isVisible());
      if (closer == d.CancelButton()) QCOMPARE(calc.AmpTrimDb, trimBefore);
      d.show();
      QCOMPARE(d.Edit1()->text(), QStringLiteral("2500"));
      QCOMPARE(d.Edit2()->text(), QStringLiteral("1.25"));
      QCOMPARE(d.ComboBox1()->currentIndex(), 15);
      QVERIFY(d.ModeButton(1)->isChecked());
      d.hide();
      calc = editor::AmpCalculator{};
    }
  }
};

QUBIX_WIDGET_TEST_MAIN(TestAmpDialog)
#include "test_amp_dialog.moc"
