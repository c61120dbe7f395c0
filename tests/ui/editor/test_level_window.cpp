// The level window and its gauges: clamping, bar pixels, and the sections a reading sets.
#include <QTest>

#include "support/WidgetTest.h"
#include "ui/editor/Gauge.h"
#include "ui/editor/LevelWindow.h"

using namespace qubix;
using qubix::ui::TCGauge;
using qubix::ui::TForm8;

class TestLevelWindow : public QObject {
  Q_OBJECT

 private slots:
  void gaugeClampsAndDrawsBarFromBottom() {
    TCGauge g;
    g.resize(17, 150);
    g.SetRange(24, 75);
    g.SetForeColor(QColor(0, 255, 0));
    g.SetBackColor(QColor(0, 51, 0));
    g.SetProgress(200);
    QCOMPARE(g.Progress(), 75);
    g.SetProgress(-5);
    QCOMPARE(g.Progress(), 24);
    g.SetProgress(49);  // 25 of 51 steps
    const QImage img = g.grab().toImage();
    const int bar = 150 * 25 / 51;
    QCOMPARE(g.BarHeight(), bar);
    QCOMPARE(img.pixelColor(8, 149), QColor(0, 255, 0));
    QCOMPARE(img.pixelColor(8, 150 - bar), QColor(0, 255, 0));
    QCOMPARE(img.pixelColor(8, 150 - bar - 1), QColor(0, 51, 0));
    QCOMPARE(img.pixelColor(8, 0), QColor(0, 51, 0));
  }

  void windowLayoutAndSections() {
    TForm8 w;
    QCOMPARE(w.size(), QSize(490, 222));
    QCOMPARE(w.windowTitle(), QStringLiteral("Velmoria Qubix 24 Levels"));
    QCOMPARE(w.CGauge(1)->geometry(), QRect(32, 60, 17, 150));
    QCOMPARE(w.CGauge(7)->geometry(), QRect(32, 50, 17, 12));
    QCOMPARE(w.CGauge(13)->geometry(), QRect(32, 26, 17, 26));
    QCOMPARE(w.CGauge(6)->x(), 420);
    QCOMPARE(w.CGauge(1)->Progress(), 24);
    std::array<editor::MeterSections, 6> m{};
    m[0] = editor::MeterFor(5623, true);
    m[5] = editor::MeterFor(65535, false);
    w.SetMeters(m);
    QCOMPARE(w.CGauge(1)->Progress(), 75);
    QCOMPARE(w.CGauge(7)->Progress(), 6);
    QCOMPARE(w.CGauge(13)->Progress(), 0);
    QCOMPARE(w.CGauge(6)->Progress(), 75);
    QCOMPARE(w.CGauge(12)->Progress(), 6);
    QCOMPARE(w.CGauge(18)->Progress(), 13);
    QCOMPARE(w.CGauge(18)->BackColor(), QColor(60, 0, 0));
  }
};

QUBIX_WIDGET_TEST_MAIN(TestLevelWindow)
#include "test_level_window.moc"
