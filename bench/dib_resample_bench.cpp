// Bilinear resampling, the table-driven version against the pixel-by-pixel
// formula it must match byte for byte. Rates are output megapixels per
// second. Run from the bench preset:
//   cmake --preset bench -B build/bench && cmake --build build/bench
//   build/bench/bench/dib_resample_bench
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "dib/internal/resample_bilinear.h"

namespace {

using Kernel = void (*)(const uint8_t*, int32_t, int32_t, int32_t, uint8_t*,
                        int32_t, int32_t, int32_t);

int32_t Stride(int32_t width) { return (width * 3 + 3) & ~3; }

std::vector<uint8_t> NoisePicture(int32_t width, int32_t height) {
  std::vector<uint8_t> bytes(static_cast<size_t>(Stride(width)) * height);
  std::mt19937 engine(12345);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(engine() >> 24);
  return bytes;
}

void RunResample(benchmark::State& state, Kernel kernel) {
  const auto W = static_cast<int32_t>(state.range(0));
  const auto H = static_cast<int32_t>(state.range(1));
  const auto w = static_cast<int32_t>(state.range(2));
  const auto h = static_cast<int32_t>(state.range(3));
  const std::vector<uint8_t> src = NoisePicture(W, H);
  std::vector<uint8_t> dst(static_cast<size_t>(Stride(w)) * h);
  for (auto _ : state) {
    kernel(src.data(), W, H, Stride(W), dst.data(), w, h, Stride(w));
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.counters["out_Mpx/s"] =
      benchmark::Counter(static_cast<double>(w) * h * 1e-6,
                         benchmark::Counter::kIsIterationInvariantRate);
}

void BM_ResampleBilinear(benchmark::State& state) {
  RunResample(state, vg::dib::dib_internal::ResampleBilinear);
}

void BM_ResampleBilinearReference(benchmark::State& state) {
  RunResample(state, vg::dib::dib_internal::ResampleBilinearReference);
}

void Sizes(benchmark::internal::Benchmark* b) {
  b->ArgNames({"W", "H", "w", "h"});
  b->Args({4000, 3000, 150, 113});    // a camera picture to a thumbnail
  b->Args({640, 480, 1280, 960});     // twofold enlargement
  b->Args({1920, 1080, 1919, 1079});  // one pixel less each way
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_ResampleBilinear)->Apply(Sizes);
BENCHMARK(BM_ResampleBilinearReference)->Apply(Sizes);

}  // namespace
