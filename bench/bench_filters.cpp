// Filter maths: the response graph's computation (run on every pixel of a drag) against the
// plain per-column evaluation, and one band's coefficient computation.
#include <benchmark/benchmark.h>

#include <chrono>

#include "filters/ParametricBand.h"
#include "filters/Response.h"

using namespace qubix::filters;

namespace {

BandCoefficientTable TenBands() {
  const float bands[10][3] = {
      {32, 3, 1.8F},   {63, -4, 1.4F},   {125, 2.5F, 1.4F}, {250, -6, 1.4F},   {500, 1, 1.4F},
      {1000, 6, 1.4F}, {2000, -3, 1.4F}, {4000, 4, 1.4F},   {8000, -12, 1.8F}, {16000, 5, 3.0F}};
  BandCoefficientTable table;
  for (int j = 0; j < 10; ++j) {
    BiquadCoefficients c;
    ComputeParametric({bands[j][0], bands[j][1], bands[j][2], 48000}, c);
    table.SetBand(j, c);
  }
  return table;
}

void BM_ComputeResponse(benchmark::State& state) {
  const BandCoefficientTable table = TenBands();
  ResponseArray r;
  for (auto _ : state) {
    ComputeResponse(table, r);
    benchmark::DoNotOptimize(r.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ComputeResponse)->Unit(benchmark::kMicrosecond);

void BM_ComputeResponseDirect(benchmark::State& state) {
  const BandCoefficientTable table = TenBands();
  ResponseArray r;
  for (auto _ : state) {
    ComputeResponseDirect(table, r);
    benchmark::DoNotOptimize(r.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ComputeResponseDirect)->Unit(benchmark::kMicrosecond);

// Both forms interleaved in one loop so that the machine's noise hits them alike; the counter
// "speedup" is direct time / fast time.
void BM_ResponseSpeedup(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  const BandCoefficientTable table = TenBands();
  ResponseArray r;
  Clock::duration fast{}, direct{};
  for (auto _ : state) {
    const auto t0 = Clock::now();
    for (int i = 0; i < 8; ++i) {
      ComputeResponse(table, r);
      benchmark::DoNotOptimize(r.data());
    }
    const auto t1 = Clock::now();
    ComputeResponseDirect(table, r);
    benchmark::DoNotOptimize(r.data());
    const auto t2 = Clock::now();
    fast += (t1 - t0) / 8;
    direct += t2 - t1;
  }
  state.counters["speedup"] =
      static_cast<double>(direct.count()) / static_cast<double>(fast.count());
  state.counters["fast_us"] = std::chrono::duration<double, std::micro>(fast).count() /
                              static_cast<double>(state.iterations());
}
BENCHMARK(BM_ResponseSpeedup)->Unit(benchmark::kMicrosecond);

void BM_FBCalcOneBand(benchmark::State& state) {
  ParametricBand band;
  float gain = 6.0F;
  for (auto _ : state) {
    benchmark::DoNotOptimize(band.FBCalc(1000.0F, gain, 1.4F, 48000));
    benchmark::DoNotOptimize(band.Coefficients());
    gain = -gain;  // keep both branches of the all-pass term warm
  }
}
BENCHMARK(BM_FBCalcOneBand);

}  // namespace

BENCHMARK_MAIN();
