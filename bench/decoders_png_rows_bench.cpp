// Undoing a PNG row's filter, per filter type and pixel size, on rows of
// 5 120 random pixels (random bytes: no branch of Paeth's is predictable).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "decoders/internal/png_rows.h"

namespace {

void BM_UnfilterPngRow(benchmark::State& state) {
  const auto type = static_cast<uint8_t>(state.range(0));
  const auto bpp = static_cast<int>(state.range(1));
  const size_t length = size_t{5120} * static_cast<size_t>(bpp);
  std::mt19937 random(1);
  std::vector<uint8_t> row(length);
  std::vector<uint8_t> prior(length);
  for (uint8_t& v : row) v = static_cast<uint8_t>(random());
  for (uint8_t& v : prior) v = static_cast<uint8_t>(random());
  std::vector<uint8_t> work(length);
  for (auto _ : state) {
    state.PauseTiming();
    work = row;
    state.ResumeTiming();
    vg::decoders::decoders_internal::UnfilterPngRow(type, work.data(),
                                                    prior.data(), length, bpp);
    benchmark::DoNotOptimize(work.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(length));
}
// Sub, Up, Average and Paeth; grey, grey + alpha, RGB and RGBA.
BENCHMARK(BM_UnfilterPngRow)->ArgsProduct({{1, 2, 3, 4}, {1, 2, 3, 4}});

// Two rows of the same filter type undone together.
void BM_UnfilterPngRows(benchmark::State& state) {
  const auto type = static_cast<uint8_t>(state.range(0));
  const auto bpp = static_cast<int>(state.range(1));
  const size_t length = size_t{5120} * static_cast<size_t>(bpp);
  std::mt19937 random(1);
  std::vector<uint8_t> rows(2 * length);
  std::vector<uint8_t> prior(length);
  for (uint8_t& v : rows) v = static_cast<uint8_t>(random());
  for (uint8_t& v : prior) v = static_cast<uint8_t>(random());
  std::vector<uint8_t> work(2 * length);
  for (auto _ : state) {
    state.PauseTiming();
    work = rows;
    state.ResumeTiming();
    vg::decoders::decoders_internal::UnfilterPngRows(type, work.data(), type,
                                                     work.data() + length,
                                                     prior.data(), length, bpp);
    benchmark::DoNotOptimize(work.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2 *
                          static_cast<int64_t>(length));
}
// Average and Paeth; RGB and RGBA.
BENCHMARK(BM_UnfilterPngRows)->ArgsProduct({{3, 4}, {3, 4}});

}  // namespace
