// JPEG output: the in-memory encode of a DIB-layout picture at quality 90,
// the full save to a file (temporary file, fsync, rename) on tmpfs and on
// the disk under /tmp, and the DCT choice of the encoder (accurate vs fast:
// time, size and PSNR).
//
//   build/jpeg-bench/bench/jpeg_encode_bench --benchmark_counters_tabular=true
//
// VG_BENCH_TMPFS / VG_BENCH_DISK override the two folders (default /dev/shm
// and /tmp).
#include <benchmark/benchmark.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "jpeg/ijl.h"
#include "jpeg/internal/encode.h"

namespace {

using vg::jpeg::JPEG_CORE_PROPERTIES;

constexpr int32_t kQuality = 90;

// A DIB: bottom-up rows of B, G, R, each padded to 4 bytes.
struct Picture {
  int32_t width = 0;
  int32_t height = 0;
  int32_t stride = 0;
  std::vector<uint8_t> bits;
};

uint8_t Clamp(double v) {
  return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// Photo-like: broad gradients and a vignette, soft waves for texture, and a
// little fixed noise as a sensor gives; a pure gradient would flatter the
// encoder.
Picture MakePhotoLike(int32_t width, int32_t height) {
  Picture p;
  p.width = width;
  p.height = height;
  p.stride = (width * 3 + 3) & ~3;
  p.bits.assign(static_cast<size_t>(p.stride) * height, 0);
  uint32_t noise = 12345;
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = &p.bits[static_cast<size_t>(height - 1 - y) * p.stride];
    const double fy = static_cast<double>(y) / height;
    for (int32_t x = 0; x < width; ++x) {
      const double fx = static_cast<double>(x) / width;
      const double dx = fx - 0.5, dy = fy - 0.5;
      const double vignette = 1.0 - 0.8 * (dx * dx + dy * dy);
      const double wave =
          18 * std::sin(fx * 40 + 7 * std::sin(fy * 9)) * std::cos(fy * 25);
      noise = noise * 1664525u + 1013904223u;
      const double grain = static_cast<double>(noise >> 28) - 7.5;
      row[3 * x] = Clamp((60 + 150 * fy) * vignette + wave + grain);
      row[3 * x + 1] = Clamp((90 + 110 * fx * fy) * vignette - wave + grain);
      row[3 * x + 2] = Clamp((200 - 120 * fx) * vignette + 0.5 * wave + grain);
    }
  }
  return p;
}

void Describe(JPEG_CORE_PROPERTIES& props, const Picture& p,
              const std::string& file) {
  props.DIBWidth = p.width;
  props.DIBHeight = -p.height;
  props.DIBBytes = p.bits.data();
  props.DIBPadBytes = p.stride - p.width * 3;
  props.JPGFile = file.c_str();
  props.JPGWidth = p.width;
  props.JPGHeight = p.height;
  props.jquality = kQuality;
}

void SetPixelRate(benchmark::State& state, const Picture& p) {
  state.counters["Mpx/s"] =
      benchmark::Counter(static_cast<double>(p.width) * p.height / 1e6,
                         benchmark::Counter::kIsIterationInvariantRate);
}

void BM_EncodeInMemory(benchmark::State& state) {
  const Picture p = MakePhotoLike(static_cast<int32_t>(state.range(0)),
                                  static_cast<int32_t>(state.range(1)));
  JPEG_CORE_PROPERTIES props{};
  if (vg::jpeg::ijlInit(&props) != vg::jpeg::IJL_OK) {
    state.SkipWithError("ijlInit failed");
    return;
  }
  const std::string unused_path = "unused.jpg";
  Describe(props, p, unused_path);
  auto encoder = static_cast<tjhandle>(props.library_state);
  vg::jpeg::jpeg_internal::JpegBytes out;
  for (auto _ : state) {
    if (vg::jpeg::jpeg_internal::Encode(encoder, props, out) !=
        vg::jpeg::IJL_OK) {
      state.SkipWithError("encode failed");
      break;
    }
    benchmark::DoNotOptimize(out.bytes().data());
  }
  state.counters["bytes"] = static_cast<double>(out.bytes().size());
  SetPixelRate(state, p);
  (void)vg::jpeg::ijlFree(&props);
}
BENCHMARK(BM_EncodeInMemory)
    ->Args({150, 100})
    ->Args({450, 300})
    ->Args({1920, 1080})
    ->Unit(benchmark::kMicrosecond);

std::string Folder(bool on_disk) {
  const char* env = std::getenv(on_disk ? "VG_BENCH_DISK" : "VG_BENCH_TMPFS");
  if (env != nullptr && *env != '\0') return env;
  return on_disk ? "/tmp" : "/dev/shm";
}

// What a saver does for one picture: init, fill, write, free.
void BM_SaveToFile(benchmark::State& state) {
  const Picture p = MakePhotoLike(static_cast<int32_t>(state.range(0)),
                                  static_cast<int32_t>(state.range(1)));
  const bool on_disk = state.range(2) != 0;
  const std::string file =
      Folder(on_disk) + "/vg_jpeg_bench_" + std::to_string(getpid()) + ".jpg";
  state.SetLabel(on_disk ? "disk " + Folder(true) : "tmpfs " + Folder(false));
  for (auto _ : state) {
    JPEG_CORE_PROPERTIES props{};
    if (vg::jpeg::ijlInit(&props) != vg::jpeg::IJL_OK) {
      state.SkipWithError("ijlInit failed");
      break;
    }
    Describe(props, p, file);
    const int32_t status =
        vg::jpeg::ijlWrite(&props, vg::jpeg::IJL_JFILE_WRITEWHOLEIMAGE);
    (void)vg::jpeg::ijlFree(&props);
    if (status != vg::jpeg::IJL_OK) {
      state.SkipWithError(vg::jpeg::IjlStatusText(status));
      break;
    }
  }
  SetPixelRate(state, p);
  unlink(file.c_str());
}
BENCHMARK(BM_SaveToFile)
    ->Args({150, 100, 0})
    ->Args({450, 300, 0})
    ->Args({1920, 1080, 0})
    ->Args({150, 100, 1})
    ->Args({450, 300, 1})
    ->Args({1920, 1080, 1})
    ->Unit(benchmark::kMicrosecond);

// PSNR (dB) of `jpeg` decoded against the picture, over all three channels.
double Psnr(const Picture& p, const unsigned char* jpeg, unsigned long size) {
  std::unique_ptr<void, int (*)(tjhandle)> decoder(tjInitDecompress(),
                                                   &tjDestroy);
  std::vector<uint8_t> decoded(p.bits.size());
  if (tjDecompress2(decoder.get(), jpeg, size, decoded.data(), p.width,
                    p.stride, p.height, TJPF_BGR,
                    TJFLAG_BOTTOMUP | TJFLAG_ACCURATEDCT) != 0) {
    return 0;
  }
  double sum = 0;
  for (int32_t y = 0; y < p.height; ++y) {
    for (int32_t x = 0; x < p.width * 3; ++x) {
      const size_t at = static_cast<size_t>(y) * p.stride + x;
      const double d = static_cast<double>(p.bits[at]) - decoded[at];
      sum += d * d;
    }
  }
  const double mse = sum / (3.0 * p.width * p.height);
  return 10 * std::log10(255.0 * 255.0 / mse);
}

// The encoder setting chosen in src/jpeg/internal/encode.cpp: accurate (0)
// or fast (1) DCT on the same 1920 x 1080 picture at quality 90, 4:2:0.
void BM_DctMethod(benchmark::State& state) {
  const bool fast = state.range(0) != 0;
  const Picture p = MakePhotoLike(1920, 1080);
  std::unique_ptr<void, int (*)(tjhandle)> encoder(tjInitCompress(),
                                                   &tjDestroy);
  const unsigned long capacity = tjBufSize(p.width, p.height, TJSAMP_420);
  std::unique_ptr<unsigned char, void (*)(unsigned char*)> buffer(
      tjAlloc(static_cast<int>(capacity)), &tjFree);
  unsigned long size = 0;
  const int flags = TJFLAG_BOTTOMUP | TJFLAG_NOREALLOC |
                    (fast ? TJFLAG_FASTDCT : TJFLAG_ACCURATEDCT);
  for (auto _ : state) {
    unsigned char* data = buffer.get();
    size = capacity;
    if (tjCompress2(encoder.get(), p.bits.data(), p.width, p.stride, p.height,
                    TJPF_BGR, &data, &size, TJSAMP_420, kQuality, flags) != 0) {
      state.SkipWithError("tjCompress2 failed");
      break;
    }
    benchmark::DoNotOptimize(data);
  }
  state.SetLabel(fast ? "fast DCT" : "accurate DCT");
  state.counters["bytes"] = static_cast<double>(size);
  state.counters["PSNR_dB"] = Psnr(p, buffer.get(), size);
  SetPixelRate(state, p);
}
BENCHMARK(BM_DctMethod)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
