// The scaling copy behind StretchBlt, alone over raw buffers and through the
// handle API. Sizes: a 12-megapixel photo to a 150-pixel thumbnail, a
// reduced decode to a 450-pixel one, and a VGA picture doubled.
//   cmake --preset bench -B build/bench
//   cmake --build build/bench --target image_stretch_bench
//   build/bench/bench/image_stretch_bench
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "image/image_view.h"
#include "image/stretch.h"
#include "platform/gdi.h"

namespace {

using vg::image::ConstImageView;
using vg::image::ImageView;
using vg::image::PixelFormat;

std::vector<uint8_t> Gradient(int32_t w, int32_t h, int32_t bpp) {
  std::vector<uint8_t> px(static_cast<size_t>(w) * h * bpp);
  for (size_t i = 0; i < px.size(); ++i) {
    px[i] = static_cast<uint8_t>((i * 2654435761u) >> 24);
  }
  return px;
}

// Args: source width, height, output width, height, output bytes a pixel.
void BM_StretchKernel(benchmark::State& state) {
  const auto sw = static_cast<int32_t>(state.range(0));
  const auto sh = static_cast<int32_t>(state.range(1));
  const auto ow = static_cast<int32_t>(state.range(2));
  const auto oh = static_cast<int32_t>(state.range(3));
  const auto obpp = static_cast<int32_t>(state.range(4));
  const std::vector<uint8_t> src = Gradient(sw, sh, 4);
  std::vector<uint8_t> dst(static_cast<size_t>(ow) * oh * obpp);
  const ConstImageView from{src.data(), sw, sh, sw * 4, PixelFormat::kBgrx32};
  const ImageView to{dst.data(), ow, oh, ow * obpp,
                     obpp == 3 ? PixelFormat::kBgr24 : PixelFormat::kBgrx32};
  for (auto _ : state) {
    vg::image::StretchCopy(from, to, 0, 0, ow, oh);
    benchmark::DoNotOptimize(dst.data());
  }
  state.SetItemsProcessed(state.iterations() * int64_t{sw} * sh);
  state.SetLabel("source pixels/s");
}
BENCHMARK(BM_StretchKernel)
    ->Args({4000, 3000, 150, 113, 4})
    ->Args({4000, 3000, 150, 113, 3})
    ->Args({1000, 750, 450, 338, 3})  // a photo read at 2/8, made 450 wide
    ->Args({640, 480, 1280, 960, 4})
    ->Unit(benchmark::kMillisecond);

// The same through handles: a decoded 32-bit picture into a 24-bit section.
void BM_StretchBlt(benchmark::State& state) {
  namespace gdi = vg::platform;
  const auto sw = static_cast<int32_t>(state.range(0));
  const auto sh = static_cast<int32_t>(state.range(1));
  const auto ow = static_cast<int32_t>(state.range(2));
  const auto oh = static_cast<int32_t>(state.range(3));
  const gdi::HBITMAP src =
      gdi::CreateBitmapFromPixels(sw, sh, Gradient(sw, sh, 4), sw * 4);
  gdi::BITMAPINFO info{};
  info.bmiHeader = {40, ow, oh, 1, 24, gdi::BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  const gdi::HBITMAP dst =
      gdi::CreateDIBSection(0, &info, gdi::DIB_RGB_COLORS, &bits, 0, 0);
  const gdi::HDC sdc = gdi::CreateCompatibleDC(0);
  const gdi::HDC ddc = gdi::CreateCompatibleDC(0);
  const gdi::HGDIOBJ s_old = gdi::SelectObject(sdc, src);
  const gdi::HGDIOBJ d_old = gdi::SelectObject(ddc, dst);
  for (auto _ : state) {
    if (!gdi::StretchBlt(ddc, 0, 0, ow, oh, sdc, 0, 0, sw, sh, gdi::SRCCOPY)) {
      state.SkipWithError("StretchBlt failed");
      break;
    }
    benchmark::DoNotOptimize(bits);
  }
  state.SetItemsProcessed(state.iterations() * int64_t{sw} * sh);
  gdi::SelectObject(sdc, s_old);
  gdi::SelectObject(ddc, d_old);
  gdi::DeleteDC(sdc);
  gdi::DeleteDC(ddc);
  gdi::DeleteObject(src);
  gdi::DeleteObject(dst);
}
BENCHMARK(BM_StretchBlt)
    ->Args({4000, 3000, 150, 113})
    ->Args({640, 480, 1280, 960})
    ->Unit(benchmark::kMillisecond);

}  // namespace
