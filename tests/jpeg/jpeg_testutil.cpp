#include "jpeg/jpeg_testutil.h"

#include <stdlib.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

namespace vg::jpeg::testing {
namespace {

uint8_t Byte(int value) {
  return static_cast<uint8_t>(std::clamp(value, 0, 255));
}

}  // namespace

void PaintBottomUp(uint8_t* bits, int width, int height, int stride,
                   const Painter& paint) {
  for (int y = 0; y < height; ++y) {
    uint8_t* row = bits + static_cast<size_t>(height - 1 - y) * stride;
    for (int x = 0; x < width; ++x) {
      Rgb c = paint(x, y);
      row[3 * x] = Byte(c.b);
      row[3 * x + 1] = Byte(c.g);
      row[3 * x + 2] = Byte(c.r);
    }
    for (int i = width * 3; i < stride; ++i)
      row[i] = (i % 2 == 0) ? 0xFF : 0x00;
  }
}

DibBuffer MakeDib(int width, int height, const Painter& paint) {
  DibBuffer dib;
  dib.width = width;
  dib.height = height;
  dib.stride = (width * 3 + 3) & ~3;
  dib.bytes.resize(static_cast<size_t>(dib.stride) * height);
  PaintBottomUp(dib.bytes.data(), width, height, dib.stride, paint);
  return dib;
}

Rgb Decoded::At(int x, int y) const {
  const uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
  return {p[0], p[1], p[2]};
}

std::optional<Decoded> DecodeJpeg(const std::vector<uint8_t>& jpeg) {
  std::unique_ptr<void, int (*)(tjhandle)> decoder(tjInitDecompress(),
                                                   &tjDestroy);
  if (!decoder || jpeg.empty()) return std::nullopt;
  int width = 0, height = 0, subsampling = 0, colourspace = 0;
  if (tjDecompressHeader3(decoder.get(), jpeg.data(), jpeg.size(), &width,
                          &height, &subsampling, &colourspace) != 0) {
    return std::nullopt;
  }
  Decoded decoded;
  decoded.width = width;
  decoded.height = height;
  decoded.rgb.resize(static_cast<size_t>(width) * height * 3);
  if (tjDecompress2(decoder.get(), jpeg.data(), jpeg.size(), decoded.rgb.data(),
                    width, 0, height, TJPF_RGB, TJFLAG_ACCURATEDCT) != 0) {
    return std::nullopt;
  }
  return decoded;
}

int MaxDifference(const Decoded& decoded, int width, int height,
                  const Painter& paint) {
  if (decoded.width != width || decoded.height != height) return -1;
  int worst = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      Rgb want = paint(x, y);
      Rgb got = decoded.At(x, y);
      worst = std::max({worst, std::abs(Byte(want.r) - got.r),
                        std::abs(Byte(want.g) - got.g),
                        std::abs(Byte(want.b) - got.b)});
    }
  }
  return worst;
}

std::optional<std::vector<uint8_t>> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out.flush());
}

std::vector<std::string> ListFolder(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

ScratchFolder::ScratchFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
      "/vg_jpeg_test.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot make a scratch folder");
  }
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  // Tests make files and folders read-only; open them up so they can go.
  for (const auto& entry :
       std::filesystem::recursive_directory_iterator(path_, ignored)) {
    std::filesystem::permissions(entry.path(),
                                 std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
  }
  std::filesystem::remove_all(path_, ignored);
}

FileSizeLimit::FileSizeLimit(rlim_t bytes) {
  getrlimit(RLIMIT_FSIZE, &old_limit_);
  old_handler_ = signal(SIGXFSZ, SIG_IGN);
  rlimit limit = old_limit_;
  limit.rlim_cur = bytes;
  ok_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

FileSizeLimit::~FileSizeLimit() {
  setrlimit(RLIMIT_FSIZE, &old_limit_);
  signal(SIGXFSZ, old_handler_);
}

DibBuffer MakeNoise(int width, int height) {
  return MakeDib(width, height, [](int x, int y) {
    return Rgb{(x * 7919 + y * 104729) % 256, (x * y) % 256, (x ^ y) % 256};
  });
}

std::vector<int> JpegMarkers(const std::vector<uint8_t>& jpeg,
                             std::string* app0_id) {
  std::vector<int> markers;
  if (jpeg.size() < 2 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return markers;
  markers.push_back(0xFFD8);
  size_t at = 2;
  while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF) {
    const int marker = 0xFF00 | jpeg[at + 1];
    markers.push_back(marker);
    const size_t length = (size_t{jpeg[at + 2]} << 8) | jpeg[at + 3];
    if (marker == 0xFFE0 && app0_id != nullptr && app0_id->empty() &&
        at + 4 + 5 <= jpeg.size()) {
      app0_id->assign(reinterpret_cast<const char*>(&jpeg[at + 4]), 5);
    }
    if (marker == 0xFFDA) break;  // entropy-coded data follows
    at += 2 + length;
  }
  return markers;
}

}  // namespace vg::jpeg::testing
