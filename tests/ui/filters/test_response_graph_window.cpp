// Response graph: the curve and grid on the pixels of the off-screen bitmap, redraw
// suppression, a failed band keeping its curve, and the label placement.
#include <QLabel>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>
#include <utility>

#include "filters/ParametricBand.h"
#include "filters/Response.h"
#include "support/WidgetTest.h"
#include "ui/filters/EqBandStrip.h"
#include "ui/filters/ResponseGraphWindow.h"

using qubix::filters::BandCoefficientTable;
using qubix::filters::BiquadCoefficients;
using qubix::test::MoveMouse;
using qubix::ui::TForm3;
using qubix::ui::TParFilter;

namespace {

const QColor kLime(0, 255, 0);
const QColor kGrid(91, 91, 0);
constexpr int kZeroLine = 83;

// Lime pixels of one column of the bitmap.
QList<int> CurveRows(const QImage& image, int x) {
  QList<int> rows;
  for (int y = 0; y < image.height(); ++y)
    if (image.pixelColor(x, y) == kLime) rows.append(y);
  return rows;
}

struct Graph {
  BandCoefficientTable table;
  bool enabled = true;
  TForm3 window;
  Graph() {
    window.SetInput(&table, 10, [this] { return enabled; });
  }
  // Puts one band into the table and redraws; the band's coefficients.
  BiquadCoefficients drawBand(int index, float freqHz, float gainDb, float q) {
    BiquadCoefficients band;
    if (!qubix::filters::ComputeParametric({freqHz, gainDb, q, 48000}, band))
      QTest::qFail("band coefficients out of range", __FILE__, __LINE__);
    table.SetBand(index, band);
    window.Redraw();
    return band;
  }
};

}  // namespace

class Form3Test : public QObject {
  Q_OBJECT

 private slots:
  void windowGeometry() {
    Graph g;
    QCOMPARE(g.window.windowTitle(), QStringLiteral("Velmoria Qubix 24 FilterGraph"));
    QCOMPARE(g.window.size(), QSize(492, 166));
    QCOMPARE(g.window.DecadePixels(), 55);
    QCOMPARE(g.window.ZeroLine(), kZeroLine);
  }

  void flatBandsLieOnTheZeroLine() {
    Graph g;
    g.window.Redraw();
    for (double m : g.window.Response()) QCOMPARE(m, 1.0);
    const QImage& image = g.window.Bitmap();
    for (int x = 1; x < image.width(); ++x) QCOMPARE(CurveRows(image, x), QList<int>{kZeroLine});
    // Nothing drawn left of the first column.
    QVERIFY(CurveRows(image, 0).isEmpty());
  }

  void boostAtOneKilohertzPeaksAtItsGridLine() {
    Graph g;
    g.drawBand(5, 1000.0F, 12.0F, 1.4F);
    const QImage& image = g.window.Bitmap();
    const auto& response = g.window.Response();
    const auto peak = std::max_element(response.begin(), response.end()) - response.begin();
    QCOMPARE(peak + 1, 268);  // column k holds Response[k − 1]
    QCOMPARE(qubix::filters::FrequencyColumn(1000.0), 268);
    int topRow = image.height();
    for (int x = 1; x < image.width(); ++x) {
      const QList<int> rows = CurveRows(image, x);
      if (!rows.isEmpty()) topRow = std::min(topRow, int(rows.first()));
    }
    QCOMPARE(CurveRows(image, 268).first(), topRow);
    // +12 dB is 0.6 decades, 33 rows; the peak column stands for 997.8 Hz, a hair below the
    // full boost, and the truncation of 32.99… rows puts the peak at 32 rows above.
    QCOMPARE(kZeroLine - topRow, 32);
    QCOMPARE(topRow, g.window.MagnitudeY(response[267]));
    // The curve returns to the zero line at both ends.
    QCOMPARE(CurveRows(image, 1), QList<int>{kZeroLine});
    QCOMPARE(CurveRows(image, 491), QList<int>{kZeroLine});
  }

  // A band of Q 50 changes the curve by many rows from one column to the next near its centre,
  // so every column must stand at its own frequency: the row of column k is the magnitude at
  // f(k), worked out here with complex arithmetic, and the lit pixels of the column lie between
  // the rows of its neighbours (the segments meet there).
  void everyColumnFollowsASteepBand() {
    Graph g;
    const BiquadCoefficients band = g.drawBand(3, 1000.0F, 12.0F, 50.0F);
    const QImage& image = g.window.Bitmap();
    const double step = std::log10(1600.0) * 0.002;
    // The two rows a magnitude may truncate to when it sits on a row boundary.
    const auto rowsOf = [&](int x) {
      const std::complex<double> z =
          std::polar(1.0, -6.283185307179586 * std::pow(10.0, (x + 200) * step) / 48000.0);
      const double m = std::abs((band.b0 + band.b1 * z + band.b2 * z * z) /
                                (1.0 + band.a1 * z + band.a2 * z * z));
      const double rows = std::log10(m) * g.window.DecadePixels();
      const int low = kZeroLine - static_cast<int>(std::trunc(rows + 1e-9));
      const int high = kZeroLine - static_cast<int>(std::trunc(rows - 1e-9));
      return std::pair{std::min(low, high), std::max(low, high)};
    };
    int steepColumns = 0;
    for (int x = 1; x < image.width(); ++x) {
      const auto [top, bottom] = rowsOf(x);
      const QList<int> lit = CurveRows(image, x);
      QVERIFY2(!lit.isEmpty(), qPrintable(QStringLiteral("column %1").arg(x)));
      QVERIFY2(lit.contains(top) || lit.contains(bottom),
               qPrintable(QStringLiteral("column %1: row %2 not lit").arg(x).arg(top)));
      int lo = top, hi = bottom;
      for (int n : {x - 1, x + 1}) {
        if (n < 1) continue;
        lo = std::min(lo, rowsOf(n).first);
        hi = std::max(hi, rowsOf(n).second);
      }
      QVERIFY2(lit.first() >= lo && lit.last() <= hi,
               qPrintable(QStringLiteral("column %1: rows %2…%3 outside %4…%5")
                              .arg(x)
                              .arg(lit.first())
                              .arg(lit.last())
                              .arg(lo)
                              .arg(hi)));
      if (x > 1 && std::abs(rowsOf(x - 1).first - top) >= 2) ++steepColumns;
    }
    QVERIFY(steepColumns >= 4);  // the band really is steep on this grid
  }

  void gridLines() {
    Graph g;
    g.window.Redraw();
    const QImage& image = g.window.Bitmap();
    // ±6.02 dB steps: trunc(log10(2^i) · 55) = 16, 33, 49, 66 (82 is outside).
    for (int c : {16, 33, 49, 66}) {
      QCOMPARE(image.pixelColor(3, kZeroLine - c), kGrid);
      QCOMPARE(image.pixelColor(3, kZeroLine + c), kGrid);
    }
    // Dotted ±3 dB lines at 74 and 91: grid colour with gaps.
    for (int y : {74, 91}) {
      const int lit = qubix::test::CountPixels(image, QRect(0, y, 492, 1), kGrid);
      QVERIFY(lit > 100 && lit < 400);
    }
    // The 1 kHz line from y 5 to y 164.
    QCOMPARE(image.pixelColor(268, 5), kGrid);
    QCOMPARE(image.pixelColor(268, 164), kGrid);
    QCOMPARE(image.pixelColor(268, 4), QColor(Qt::black));
  }

  void clearedRedrawFlagPaintsNothing() {
    Graph g;
    g.window.Redraw();
    const QImage before = g.window.Bitmap().copy();
    g.enabled = false;
    BiquadCoefficients band;
    QVERIFY(qubix::filters::ComputeParametric({1000.0F, 12.0F, 1.4F, 48000}, band));
    g.table.SetBand(0, band);
    g.window.Redraw();
    QCOMPARE(g.window.Bitmap(), before);
    g.enabled = true;
    g.window.Redraw();
    QVERIFY(g.window.Bitmap() != before);
  }

  void failedBandKeepsItsPreviousCurve() {
    // Wired as the editor wires a strip: the table takes only successful coefficients.
    Graph g;
    TParFilter strip;
    strip.SetFBActive(true);
    strip.SetFMin(10);
    strip.SetFMax(18000);
    strip.SetGMax(12);
    strip.SetFPotPos(5000.0F);
    strip.SetQPotPos(0.2F);
    strip.Paint();
    QImage lastGood;
    int failures = 0;
    connect(&strip, &TParFilter::ChangePar, this, [&](TParFilter* sender) {
      if (sender->FBCalc() == 0) {
        g.table.SetBand(4, sender->Coefficients());
        g.window.Redraw();
        lastGood = g.window.Bitmap().copy();
      } else {
        ++failures;
        g.window.Redraw();
        QCOMPARE(g.window.Bitmap(), lastGood);
      }
    });
    const QPoint grip(19, 110);
    QTest::mousePress(&strip, Qt::LeftButton, {}, grip);
    for (int i = 1; i <= 48; ++i) MoveMouse(&strip, grip - QPoint(0, i), Qt::LeftButton);
    QTest::mouseRelease(&strip, Qt::LeftButton, {}, grip - QPoint(0, 48));
    QVERIFY(failures > 0);
    QVERIFY(failures < 48);
    QCOMPARE(g.window.Bitmap(), lastGood);
  }

  void labelsArePlacedOnShow_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QPoint>("topLeft");
    QTest::newRow("+24") << "+24" << QPoint(4, 12);
    QTest::newRow("+12") << "+12" << QPoint(4, 45);
    QTest::newRow("0db") << "0db" << QPoint(4, 78);
    QTest::newRow("-12") << "-12" << QPoint(4, 111);
    QTest::newRow("-24") << "-24" << QPoint(4, 144);
    QTest::newRow("100Hz") << "100Hz" << QPoint(107, 151);
    QTest::newRow("1KHz") << "1KHz" << QPoint(263, 151);
    QTest::newRow("10KHz") << "10KHz" << QPoint(419, 151);
  }

  void labelsArePlacedOnShow() {
    QFETCH(QString, text);
    QFETCH(QPoint, topLeft);
    Graph g;
    g.window.show();
    QLabel* label = g.window.Label(text);
    QVERIFY(label != nullptr);
    QCOMPARE(label->pos(), topLeft);
    QVERIFY(label->isVisible());
    QCOMPARE(label->palette().color(QPalette::WindowText), kLime);
  }

  void withoutInputNothingIsDrawn() {
    TForm3 window;
    window.Redraw();
    QCOMPARE(qubix::test::CountPixels(window.Bitmap(), window.Bitmap().rect(), kLime), 0);
  }
};

QUBIX_WIDGET_TEST_MAIN(Form3Test)
#include "test_response_graph_window.moc"
