// Decoding real photos for the sizes the batch draws them at: the full size,
// the large width (450) and the small width (150). The JPEG cases show what
// the reduced DCT scale buys and are the measurements to tune
// kJpegScaleMargin by. The photos are Debian's sample wallpapers:
//   scripts/samples.sh   # prints the folder; VG_SAMPLE_PHOTOS overrides it
//   build/bench/bench/decoders_picture_bench
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "decoders/decode_picture.h"
#include "platform/error.h"

namespace {

std::filesystem::path PhotoFolder() {
  const char* folder = std::getenv("VG_SAMPLE_PHOTOS");
  return folder != nullptr ? folder : "build/samples/photos";
}

// Returns the bytes of a sample photo, read once; empty when it is missing.
const std::vector<uint8_t>& Photo(const std::string& name) {
  static std::map<std::string, std::vector<uint8_t>> cache;
  auto [it, fresh] = cache.try_emplace(name);
  if (fresh) {
    std::ifstream in(PhotoFolder() / name, std::ios::binary);
    it->second.assign(std::istreambuf_iterator<char>(in),
                      std::istreambuf_iterator<char>());
  }
  return it->second;
}

// Decodes `name` for drawing `width` pixels wide (0: full size).
void BM_Decode(benchmark::State& state, const char* name, int width) {
  const std::vector<uint8_t>& bytes = Photo(name);
  if (bytes.empty()) {
    state.SkipWithError("sample photo missing: run scripts/samples.sh");
    return;
  }
  vg::decoders::DecodeHint hint{width, 0};
  int64_t pixels = 0;
  for (auto _ : state) {
    try {
      vg::decoders::DecodedImage image =
          vg::decoders::DecodePictureBytes(bytes, hint);
      pixels = int64_t{image.pixel_width} * image.pixel_height;
      benchmark::DoNotOptimize(image.bgrx.data());
    } catch (const vg::platform::Error& e) {
      state.SkipWithError(e.what());
      return;
    }
  }
  state.counters["decoded_px"] = static_cast<double>(pixels);
  state.SetBytesProcessed(state.iterations() *
                          static_cast<int64_t>(bytes.size()));
}

// Every JPEG of the folder VG_BENCH_FOLDER (say a corpus of
// run_thumbnail_bench.sh), decoded in turn for drawing `width` pixels wide:
// the decoder alone, without the processes, files and drawing of a run, so
// that two builds of it compare with less noise than whole runs give.
void BM_DecodeFolder(benchmark::State& state, int width) {
  const char* folder = std::getenv("VG_BENCH_FOLDER");
  if (folder == nullptr) {
    state.SkipWithError("VG_BENCH_FOLDER names no folder of JPEGs");
    return;
  }
  std::error_code error;
  std::filesystem::directory_iterator listing(folder, error);
  if (error) {
    state.SkipWithError(("VG_BENCH_FOLDER: " + error.message()).c_str());
    return;
  }
  std::vector<std::vector<uint8_t>> files;
  for (const auto& entry : listing) {
    const std::string ext = entry.path().extension().string();
    if (ext != ".jpg" && ext != ".jpeg" && ext != ".JPG") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    files.emplace_back(std::istreambuf_iterator<char>(in),
                       std::istreambuf_iterator<char>());
  }
  const vg::decoders::DecodeHint hint{width, 0};
  for (auto _ : state) {
    for (const std::vector<uint8_t>& bytes : files) {
      try {
        vg::decoders::DecodedImage image =
            vg::decoders::DecodePictureBytes(bytes, hint);
        benchmark::DoNotOptimize(image.bgrx.data());
      } catch (const vg::platform::Error&) {
        // A file that does not decode costs what it costs.
      }
    }
  }
  state.counters["files"] = static_cast<double>(files.size());
}

BENCHMARK_CAPTURE(BM_DecodeFolder, w150, 150)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeFolder, w450, 450)->Unit(benchmark::kMillisecond);

// Progressive 5640 x 3172, baseline 2560 x 1600 and 1920 x 1200, and a PNG.
BENCHMARK_CAPTURE(BM_Decode, progressive_5640_full, "Elephants_5640x3172.jpg",
                  0)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Decode, progressive_5640_w450, "Elephants_5640x3172.jpg",
                  450)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Decode, progressive_5640_w150, "Elephants_5640x3172.jpg",
                  150)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Decode, baseline_2560_full, "Garden.jpg", 0)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Decode, baseline_2560_w450, "Garden.jpg", 450)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Decode, baseline_2560_w150, "Garden.jpg", 150)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Decode, baseline_1920_w150, "Blinds.jpg", 150)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Decode, png_1920_full, "Flow.png", 0)
    ->Unit(benchmark::kMillisecond);

}  // namespace
