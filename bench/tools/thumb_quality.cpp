// thumb_quality: how close a folder of thumbnails is to an ideal resize.
//
//   [VG_QUALITY_PER_FILE=1] thumb_quality ORIGINALS_DIR THUMBS_DIR...
//
// For every JPEG or PNG of ORIGINALS_DIR that has a file of the same name in
// a THUMBS_DIR, the original is decoded at full size and brought to sRGB as
// a colour-managed viewer shows it (quality.h), its luma (BT.601) is
// resized with a separable floating-point Lanczos-3 filter to the
// thumbnail's own size (so every thumbnail is compared at its own size,
// whatever its rounding of the height), and the thumbnail's luma is compared
// with it: SSIM (11-tap Gaussian window, sigma 1.5) and PSNR. One line per
// folder: files compared, mean SSIM-Y, mean PSNR-Y. Each original is decoded
// once for all folders, and each reference size is made once.
//
// A tool for bench/run_thumbnail_bench.sh, not part of the program.
#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "quality.h"

namespace {

using vg_bench::DecodeLuma;
using vg_bench::Plane;
using vg_bench::Psnr;
using vg_bench::Resize;
using vg_bench::Ssim;

bool Exists(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  std::fclose(f);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s ORIGINALS_DIR THUMBS_DIR...\n", argv[0]);
    return 2;
  }
  std::string originals = argv[1];
  // VG_QUALITY_PER_FILE=1 also prints one line per thumbnail.
  const char* per_file_env = std::getenv("VG_QUALITY_PER_FILE");
  bool per_file = per_file_env != nullptr && per_file_env[0] == '1';
  std::vector<std::string> names;
  if (DIR* d = opendir(originals.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n.size() > 4 && (n.ends_with(".jpg") || n.ends_with(".JPG") ||
                           n.ends_with(".jpeg") || n.ends_with(".png"))) {
        names.push_back(n);
      }
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  int folders = argc - 2;
  std::vector<double> ssim(folders, 0), psnr(folders, 0);
  std::vector<int> count(folders, 0);
  for (const std::string& name : names) {
    Plane full;
    bool decoded = false;
    std::map<std::pair<int, int>, Plane> refs;
    for (int k = 0; k < folders; ++k) {
      std::string thumb_path = std::string(argv[k + 2]) + "/" + name;
      // vipsthumbnail names the thumbnail of a PNG .jpg.
      if (!Exists(thumb_path) && name.ends_with(".png")) {
        thumb_path = std::string(argv[k + 2]) + "/" +
                     name.substr(0, name.size() - 4) + ".jpg";
      }
      if (!Exists(thumb_path)) continue;
      if (!decoded) {
        if (!DecodeLuma(originals + "/" + name, &full)) break;
        decoded = true;
      }
      Plane thumb;
      if (!DecodeLuma(thumb_path, &thumb)) continue;
      auto key = std::make_pair(thumb.w, thumb.h);
      auto it = refs.find(key);
      if (it == refs.end()) {
        it = refs.emplace(key, Resize(full, thumb.w, thumb.h)).first;
      }
      double s = Ssim(it->second, thumb);
      double p = Psnr(it->second, thumb);
      if (per_file) {
        std::printf("%s\t%s\t%dx%d\t%.4f\t%.2f\n", argv[k + 2], name.c_str(),
                    thumb.w, thumb.h, s, p);
      }
      ssim[k] += s;
      psnr[k] += p;
      ++count[k];
    }
  }
  for (int k = 0; k < folders; ++k) {
    std::printf("%s\t%d\t%.4f\t%.2f\n", argv[k + 2], count[k],
                count[k] ? ssim[k] / count[k] : 0.0,
                count[k] ? psnr[k] / count[k] : 0.0);
  }
  return 0;
}
