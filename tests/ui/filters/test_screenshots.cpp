// Renders the controls to PNGs under <build>/screenshots for a person to look at (and for the
// README). Not compared pixel by pixel; it checks that each picture was drawn and written.
#include <QDir>
#include <QPainter>
#include <QTest>
#include <array>

#include "filters/ParametricBand.h"
#include "filters/Response.h"
#include "support/WidgetTest.h"
#include "ui/filters/EqBandStrip.h"
#include "ui/filters/FilterBlockImage.h"
#include "ui/filters/Knob.h"
#include "ui/filters/ResponseGraphWindow.h"

using qubix::test::MoveMouse;
using qubix::ui::TForm3;
using qubix::ui::TParFilter;
using qubix::ui::TSSKnob;

namespace {

QString ShotPath(const char* name) {
  const QString dir = QStringLiteral(QUBIX_BUILD_DIR "/screenshots");
  QDir().mkpath(dir);
  return dir + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png");
}

bool Save(const QImage& image, const char* name) { return image.save(ShotPath(name), "PNG"); }

constexpr std::array<float, 10> kFreqs{32, 63, 125, 250, 500, 1000, 2000, 4000, 8000, 16000};
constexpr std::array<float, 10> kQs{1.8F, 1.4F, 1.4F, 1.4F, 1.4F, 1.4F, 1.4F, 1.4F, 1.8F, 3.0F};
constexpr std::array<float, 10> kGains{4, 2, 0, -3, -6, 0, 3, 6, 0, -2};

}  // namespace

class ScreenshotTest : public QObject {
  Q_OBJECT

 private slots:
  void equaliserKnobsAndGraph() {
    QWidget panel;
    panel.setFixedSize(560, 280);
    panel.setAutoFillBackground(true);
    QPalette palette = panel.palette();
    palette.setColor(QPalette::Window, QColor(45, 47, 51));
    panel.setPalette(palette);

    qubix::filters::BandCoefficientTable table;
    TForm3 graph;
    graph.SetInput(&table, 10, [] { return true; });
    int x = 100;
    for (std::size_t i = 0; i < 10; ++i) {
      auto* strip = new TParFilter(&panel);
      const bool wide = i == 0 || i == 9;
      strip->setGeometry(x, 20, wide ? 62 : 38, 240);
      x += (wide ? 62 : 38) + 2;
      strip->SetFBActive(true);
      strip->SetFMin(10);
      strip->SetFMax(18000);
      strip->SetGMax(12);
      strip->SetFirst(i == 0);
      strip->SetLast(i == 9);
      connect(strip, &TParFilter::ChangePar, &panel, [&table, i](TParFilter* s) {
        if (s->FBCalc() == 0) table.SetBand(static_cast<int>(i), s->Coefficients());
      });
      strip->SetFPotPos(kFreqs[i]);
      strip->SetQPotPos(kQs[i]);
      strip->SetGPotPos(kGains[i]);
      strip->Paint();
    }
    for (int k = 0; k < 2; ++k) {
      auto* knob = new TSSKnob(&panel);
      knob->move(10, 20 + 106 * k);
      knob->SetCaption(QStringLiteral("OutAttn"));
      knob->SetValueDigits(1);
      knob->SetKnobColor(qubix::ui::KcBlue);
      knob->SetMax(64);
      knob->SetPotPos(k == 0 ? 64 : 39);
      knob->SetValue(static_cast<float>((knob->PotPos() - 64) * 0.5));
    }
    auto* active = new qubix::ui::TFilterBlock(&panel);
    active->move(30, 240);
    auto* inactive = new qubix::ui::TFilterBlock(&panel);
    inactive->move(64, 240);
    inactive->SetFBActive(false);
    graph.show();  // places the labels
    graph.Redraw();

    const QImage strips = panel.grab().toImage();
    QVERIFY(Save(strips, "equaliser_strips"));
    QVERIFY(Save(graph.grab().toImage(), "response_graph"));

    // The operator's view after a drag on band 4: gain text in yellow.
    auto* band4 = panel.findChildren<TParFilter*>().at(3);
    QTest::mousePress(band4, Qt::LeftButton, {}, QPoint(19, 113));
    MoveMouse(band4, QPoint(19, 93), Qt::LeftButton);
    QTest::mouseRelease(band4, Qt::LeftButton, {}, QPoint(19, 93));
    graph.Redraw();
    QVERIFY(Save(band4->grab().toImage().scaled(38 * 4, 240 * 4), "band_strip_x4"));
    QVERIFY(Save(graph.grab().toImage(), "response_graph_after_drag"));

    // The pictures were really drawn: strips are not just the panel colour.
    QVERIFY(qubix::test::CountPixels(strips, strips.rect(), QColor(255, 0, 0)) > 0);
    QVERIFY(qubix::test::CountPixels(strips, strips.rect(), QColor(0, 255, 0)) > 0);
  }
};

QUBIX_WIDGET_TEST_MAIN(ScreenshotTest)
#include "test_screenshots.moc"
