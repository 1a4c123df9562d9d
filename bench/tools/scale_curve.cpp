// scale_curve: what each JPEG decode scale costs and gives, per thumbnail
// width.
//
//   scale_curve ORIGINALS_DIR WIDTH...
//
// For every JPEG of ORIGINALS_DIR, every WIDTH and every scale M/8 whose
// output is at least WIDTH pixels wide, makes the thumbnail exactly as the
// program does (decoders::LoadPicture at that scale, thumbnail::Render,
// thumbnail::Write at quality 90) and prints one line:
//
//   name  width  height  mode  sampling  target  M  margin  cpu_ms  ssim  psnr
//
// mode is "prog" or "base"; sampling the luma factors ("2x2" is 4:2:0, "2x1"
// 4:2:2, "1x1" 4:4:4); margin the decoded width over the target; cpu_ms the
// least thread CPU time of three runs of decode + draw + encode; ssim and
// psnr the thumbnail's luma against a Lanczos-3 resize of the full decode
// (bench/tools/quality.h). bench/scale_rules.py turns these lines into the
// cost and quality of every candidate rule.
//
// A tool of bench/, not part of the program.
#include <dirent.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "decoders/decode_picture.h"
#include "decoders/load_picture.h"
#include "quality.h"
#include "thumbnail/make.h"
#include "thumbnail/plan.h"

namespace {

struct Header {
  int width = 0;
  int height = 0;
  bool progressive = false;
  int h_samp = 0;
  int v_samp = 0;
};

bool ReadHeader(const std::string& path, Header* out) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_decompress(&cinfo);
  jpeg_stdio_src(&cinfo, f);
  jpeg_read_header(&cinfo, TRUE);
  out->width = static_cast<int>(cinfo.image_width);
  out->height = static_cast<int>(cinfo.image_height);
  out->progressive = cinfo.progressive_mode != 0;
  out->h_samp = cinfo.comp_info[0].h_samp_factor;
  out->v_samp = cinfo.comp_info[0].v_samp_factor;
  jpeg_destroy_decompress(&cinfo);
  std::fclose(f);
  return true;
}

double ThreadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 +
         static_cast<double>(t.tv_nsec) / 1e6;
}

int64_t ScaledSize(int64_t size, int m) { return (size * m + 7) / 8; }

// The hint under which the decoder picks scale m for a picture `width`
// wide: the largest target whose reduced-scale need still fits m/8.
int32_t HintForScale(int width, int m) {
  int64_t have = ScaledSize(width, m);
  int32_t t =
      static_cast<int32_t>(have * vg::decoders::kJpegScaleMarginDenominator /
                           vg::decoders::kJpegScaleMarginNumerator);
  while (t > 1 && vg::decoders::JpegScaleNeed(t) > have) --t;
  return t;
}

// One thumbnail `target` wide from `path` decoded at scale m; returns its
// thread CPU milliseconds, or a negative number when it failed.
double MakeOne(const std::string& path, const Header& header, int target, int m,
               const std::string& out) {
  const double start = ThreadCpuMs();
  std::u16string upath(path.begin(), path.end());
  std::u16string uout(out.begin(), out.end());
  vg::decoders::DecodeHint hint;
  hint.target_width_px = m == 8 ? 0 : HintForScale(header.width, m);
  auto picture = vg::decoders::LoadPicture(upath, hint);
  int32_t h = vg::thumbnail::ProportionalHeight(picture->Width(),
                                                picture->Height(), target);
  auto thumb =
      vg::thumbnail::Render(*picture, vg::thumbnail::GeometryFor(target, h));
  if (thumb.dib.hDib() == 0) return -1;
  const vg::thumbnail::InputGuard none(std::vector<vg::platform::ListedFile>{});
  if (!vg::thumbnail::Write(thumb.dib, uout, none).empty()) return -1;
  return ThreadCpuMs() - start;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s ORIGINALS_DIR WIDTH...\n", argv[0]);
    return 2;
  }
  vg::decoders::TuneAllocatorForBatches();
  const std::string originals = argv[1];
  // SCALE_CURVE_MAX_M=k: only the scales 1/8 to k/8.
  const char* max_env = std::getenv("SCALE_CURVE_MAX_M");
  const int max_m = max_env != nullptr ? std::atoi(max_env) : 8;
  std::vector<int> targets;
  for (int i = 2; i < argc; ++i) targets.push_back(std::atoi(argv[i]));
  std::vector<std::string> names;
  if (DIR* d = opendir(originals.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n.ends_with(".jpg") || n.ends_with(".JPG") || n.ends_with(".jpeg")) {
        names.push_back(n);
      }
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  char tmpl[] = "/tmp/scale_curve.XXXXXX";
  if (mkdtemp(tmpl) == nullptr) return 1;
  const std::string out = std::string(tmpl) + "/t.jpg";
  for (const std::string& name : names) {
    const std::string path = originals + "/" + name;
    Header header;
    vg_bench::Plane full;
    if (!ReadHeader(path, &header) || !vg_bench::DecodeLuma(path, &full)) {
      std::fprintf(stderr, "scale_curve: %s unreadable\n", name.c_str());
      return 1;
    }
    for (int target : targets) {
      vg_bench::Plane reference;
      for (int m = 1; m <= max_m; ++m) {
        if (ScaledSize(header.width, m) < target) continue;
        double best = -1;
        for (int run = 0; run < 3; ++run) {
          double ms = MakeOne(path, header, target, m, out);
          if (ms < 0) {
            std::fprintf(stderr, "scale_curve: %s failed\n", name.c_str());
            return 1;
          }
          best = best < 0 ? ms : std::min(best, ms);
        }
        vg_bench::Plane thumb;
        if (!vg_bench::DecodeLuma(out, &thumb)) return 1;
        if (reference.w != thumb.w || reference.h != thumb.h) {
          reference = vg_bench::Resize(full, thumb.w, thumb.h);
        }
        std::printf("%s\t%d\t%d\t%s\t%dx%d\t%d\t%d\t%.3f\t%.2f\t%.5f\t%.3f\n",
                    name.c_str(), header.width, header.height,
                    header.progressive ? "prog" : "base", header.h_samp,
                    header.v_samp, target, m,
                    static_cast<double>(ScaledSize(header.width, m)) / target,
                    best, vg_bench::Ssim(reference, thumb),
                    vg_bench::Psnr(reference, thumb));
        std::fflush(stdout);
      }
    }
  }
  std::remove(out.c_str());
  rmdir(tmpl);
  return 0;
}
