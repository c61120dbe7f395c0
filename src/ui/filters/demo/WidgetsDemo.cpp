// Ten band strips, two attenuation knobs and the response graph wired together the way the
// editor wires them, so the controls can be seen and tried on their own.
#include <QApplication>
#include <QLabel>
#include <QWidget>
#include <array>

#include "filters/Response.h"
#include "ui/filters/EditorBands.h"
#include "ui/filters/EqBandStrip.h"
#include "ui/filters/Knob.h"
#include "ui/filters/ResponseGraphWindow.h"

using qubix::ui::TForm3;
using qubix::ui::TParFilter;
using qubix::ui::TSSKnob;

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

  for (int i = 0; i < qubix::ui::kEditorBandCount; ++i) {
    auto* strip = new TParFilter(&window);
    qubix::ui::ConfigureEditorStrip(*strip, i);
    QObject::connect(strip, &TParFilter::ChangePar, &window, [&, i](TParFilter* sender) {
      if (sender->FBCalc() == 0) {
        table.SetBand(i, sender->Coefficients());
        overflow.setStyleSheet(QString());
      } else {
        overflow.setStyleSheet(QStringLiteral("color: red"));
      }
      graph.Redraw();
    });
    qubix::ui::StartEditorStrip(*strip, i);
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
