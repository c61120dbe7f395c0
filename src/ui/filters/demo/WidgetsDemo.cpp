// Ten band strips, two attenuation knobs and the response graph wired together the way the
// editor wires them, so the controls can be seen and tried on their own.
#include <QApplication>
#include <QLabel>
#include <QWidget>

#include <array>

#include "filters/Response.h"
#include "ui/filters/TForm3.h"
#include "ui/filters/TParFilter.h"
#include "ui/filters/TSSKnob.h"

using qubix::ui::TForm3;
using qubix::ui::TParFilter;
using qubix::ui::TSSKnob;

namespace {

struct StripSetup {
  int left, width;
  float freqHz, q, qf;
};
// The editor's ten bands: positions, start frequency and Q.
constexpr std::array<StripSetup, 10> kStrips{{{284, 62, 32, 1.8F, 0.5F},
                                              {348, 38, 63, 1.4F, 0.5F},
                                              {388, 38, 125, 1.4F, 0.5F},
                                              {428, 38, 250, 1.4F, 0.5F},
                                              {468, 38, 500, 1.4F, 0.5F},
                                              {508, 38, 1000, 1.4F, 0.5F},
                                              {548, 38, 2000, 1.4F, 0.5F},
                                              {588, 38, 4000, 1.4F, 0.5F},
                                              {628, 38, 8000, 1.8F, 2.0F},
                                              {668, 62, 16000, 3.0F, 0.5F}}};
constexpr int kFirstBandAddr = 799;

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget window;
  window.setWindowTitle(QStringLiteral("Qubix 24 controls"));
  window.setFixedSize(750, 280);
  QPalette palette = window.palette();
  palette.setColor(QPalette::Window, QColor(45, 47, 51));
  window.setPalette(palette);

  qubix::filters::BandCoefficientTable table;
  bool graphRedrawEnabled = true;
  TForm3 graph;
  graph.SetInput(&table, qubix::filters::kResponseBands, [&] { return graphRedrawEnabled; });
  graph.SetFocusReturn(&window);

  QLabel overflow(QStringLiteral("ovflw"), &window);
  overflow.move(60, 250);

  std::array<TParFilter*, 10> strips{};
  for (std::size_t i = 0; i < kStrips.size(); ++i) {
    const StripSetup& s = kStrips[i];
    auto* strip = new TParFilter(&window);
    strips[i] = strip;
    strip->setGeometry(s.left, 20, s.width, TParFilter::kHeight);
    strip->SetFBActive(true);
    strip->SetFMin(10);
    strip->SetFMax(18000);
    strip->SetGMax(12);
    strip->SetQMin(0.2F);
    strip->SetQMax(50.0F);
    strip->SetFirst(i == 0);
    strip->SetLast(i == kStrips.size() - 1);
    strip->SetFilterBlockQF(s.qf);
    strip->SetFilterBlockAddr(kFirstBandAddr + 5 * static_cast<int>(i));
    QObject::connect(strip, &TParFilter::ChangePar, &window, [&, i](TParFilter* sender) {
      if (sender->FBCalc() == 0) {
        table.SetBand(static_cast<int>(i), sender->Coefficients());
        overflow.setStyleSheet(QString());
      } else {
        overflow.setStyleSheet(QStringLiteral("color: red"));
      }
      graph.Redraw();
    });
    strip->SetFPotPos(s.freqHz);
    strip->SetQPotPos(s.q);
    strip->Paint();
  }

  const std::array<QPoint, 2> knobPlaces{QPoint(188, 28), QPoint(190, 134)};
  for (const QPoint& place : knobPlaces) {
    auto* knob = new TSSKnob(&window);
    knob->move(place.x() - 170, place.y());
    knob->SetCaption(QStringLiteral("OutAttn"));
    knob->SetValueDigits(1);
    knob->SetKnobColor(qubix::ui::KcBlue);
    knob->SetMax(64);
    QObject::connect(knob, &TSSKnob::ChangePot, knob, [](TSSKnob* sender) {
      sender->SetValue(static_cast<float>((sender->PotPos() - 64) * 0.5));
    });
    knob->SetPotPos(64);
  }

  window.show();
  graph.show();
  graph.Redraw();
  return QApplication::exec();
}
