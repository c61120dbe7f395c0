// One drag step of a gain fader, end to end and in its parts: the mouse move (knob position,
// SetGPotPos, FBCalc, the change event), the table update and the graph's Redraw into its
// bitmap, and the strip's zone repaint, with all ten bands of the table in use. The parts give the
// split between computing and painting.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QMouseEvent>
#include <chrono>
#include <memory>

#include "filters/ParametricBand.h"
#include "filters/Response.h"
#include "ui/filters/EqBandStrip.h"
#include "ui/filters/ResponseGraphWindow.h"

using qubix::ui::TForm3;
using qubix::ui::TParFilter;

namespace {

constexpr QPoint kGrip(19, 110);

// A strip and the graph wired as the editor wires them.
struct Rig {
  qubix::filters::BandCoefficientTable table;
  TForm3 graph;
  TParFilter strip;
  bool redrawGraph = true;
  int direction = 1;
  int y = kGrip.y();

  Rig() {
    // Ten raised or cut bands, as an operator's equaliser holds them: a flat band costs the
    // response nothing, so a single band would time a tenth of the work.
    for (int band = 0; band < 10; ++band) {
      qubix::filters::BiquadCoefficients c;
      const qubix::filters::ParametricInputs in{31.5F * static_cast<float>(1 << band),
                                                band % 2 ? -4.0F : 3.0F, 1.4F, 48000};
      if (qubix::filters::ComputeParametric(in, c)) table.SetBand(band, c);
    }
    graph.SetInput(&table, qubix::filters::kResponseBands, [] { return true; });
    strip.SetFBActive(true);
    strip.SetFMin(10);
    strip.SetFMax(18000);
    strip.SetGMax(12);
    strip.SetFPotPos(1000.0F);
    strip.SetQPotPos(1.4F);
    strip.Paint();
    strip.show();
    QApplication::processEvents();  // the strip must be exposed for repaint() to paint
    QObject::connect(&strip, &TParFilter::ChangePar, &strip, [this](TParFilter* s) {
      if (s->FBCalc() == 0) table.SetBand(5, s->Coefficients());
      if (redrawGraph) graph.Redraw();
    });
    QMouseEvent press(QEvent::MouseButtonPress, kGrip, strip.mapToGlobal(kGrip), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&strip, &press);
  }

  // One pixel up or down, turning at the ends of a 40-pixel stroke.
  void Step() {
    if (y <= kGrip.y() - 40 || y >= kGrip.y() + 40) direction = -direction;
    y += direction;
    const QPoint pos(kGrip.x(), y);
    QMouseEvent move(QEvent::MouseMove, pos, strip.mapToGlobal(pos), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(&strip, &move);
  }

  void RepaintGainZone() { strip.repaint(0, 53, strip.width(), 134); }
};

void BM_GainDragStep_Full(benchmark::State& state) {
  Rig rig;
  for (auto _ : state) {
    rig.Step();
    rig.RepaintGainZone();
  }
}
BENCHMARK(BM_GainDragStep_Full)->Unit(benchmark::kMicrosecond);

void BM_GainDragStep_WithoutGraph(benchmark::State& state) {
  Rig rig;
  rig.redrawGraph = false;
  for (auto _ : state) rig.Step();
}
BENCHMARK(BM_GainDragStep_WithoutGraph)->Unit(benchmark::kMicrosecond);

void BM_StripGainZoneRepaint(benchmark::State& state) {
  Rig rig;
  for (auto _ : state) rig.RepaintGainZone();
}
BENCHMARK(BM_StripGainZoneRepaint)->Unit(benchmark::kMicrosecond);

void BM_GraphRedraw(benchmark::State& state) {
  Rig rig;
  for (auto _ : state) rig.graph.Redraw();
}
BENCHMARK(BM_GraphRedraw)->Unit(benchmark::kMicrosecond);

void BM_GraphComputeResponseOnly(benchmark::State& state) {
  Rig rig;
  qubix::filters::ResponseArray response{};
  for (auto _ : state) {
    qubix::filters::ComputeResponse(rig.table, response);
    benchmark::DoNotOptimize(response);
  }
}
BENCHMARK(BM_GraphComputeResponseOnly)->Unit(benchmark::kMicrosecond);

// A drag step's response computation right after the strip has painted, timed alone, in each
// compiled form of the kernel. Painting can leave the vector registers' upper halves in use,
// which slows the baseline form's instructions until something clears them (on some processors
// several times over); the form chosen at run time is not slowed. Forms: 0 the chosen one,
// 1 the baseline, 2 the baseline with the state cleared (vzeroupper) first; 3 and 4 are 1 and 0
// with the upper halves put in use on purpose, whatever this platform's painting leaves.
void BM_ComputeResponseAfterPainting(benchmark::State& state) {
  using qubix::filters::ResponseKernel;
  Rig rig;
  rig.redrawGraph = false;
  qubix::filters::ResponseArray response{};
  const auto form = state.range(0);
  const auto kernel = form == 0 || form == 4 ? ResponseKernel::Best : ResponseKernel::Baseline;
#if defined(__x86_64__)
  const bool avx = __builtin_cpu_supports("avx");
#endif
  for (auto _ : state) {
    rig.Step();
    rig.RepaintGainZone();
    const auto start = std::chrono::steady_clock::now();
#if defined(__x86_64__)
    if (avx && form == 2) asm volatile("vzeroupper");
    if (avx && form >= 3) asm volatile("vpcmpeqd %%ymm9, %%ymm9, %%ymm9" ::: "xmm9");
#endif
    qubix::filters::ComputeResponse(rig.table, response, qubix::filters::kResponseBands, kernel);
    benchmark::DoNotOptimize(response);
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
}
BENCHMARK(BM_ComputeResponseAfterPainting)
    ->ArgName("form")
    ->DenseRange(0, 4)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
