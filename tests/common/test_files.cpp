#include "common/test_files.h"

#include <stdlib.h>
#include <turbojpeg.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

#include "platform/code_page.h"

namespace vg::testing {

TempFolder::TempFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = (tmp != nullptr && *tmp == '/') ? tmp : "/tmp";
  pattern += "/vg_test_XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

std::u16string TempFolder::text() const {
  return platform::FromAnsi(path_.string() + "/");
}

void WriteJpeg(const std::filesystem::path& path, int w, int h, uint8_t r,
               uint8_t g, uint8_t b) {
  std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3, 0);
  for (int y = 0; y < h / 2; ++y) {
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &rgb[(static_cast<size_t>(y) * w + x) * 3];
      p[0] = r;
      p[1] = g;
      p[2] = b;
    }
  }
  WriteRgbJpeg(path, w, h, rgb, 85, false);
}

void WriteDetailedJpeg(const std::filesystem::path& path, int w, int h,
                       int seed) {
  std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &rgb[(static_cast<size_t>(y) * w + x) * 3];
      const int rings = (x - w / 3) * (x - w / 3) + (y - h / 2) * (y - h / 2);
      p[0] = static_cast<uint8_t>((x * 7 + y * 3 + seed * 31) & 0xFF);
      p[1] = static_cast<uint8_t>(((rings >> 6) + seed) & 0xFF);
      p[2] = static_cast<uint8_t>(((x ^ y) * 5) & 0xFF);
    }
  }
  WriteRgbJpeg(path, w, h, rgb, 90, false);
}

void WriteRgbJpeg(const std::filesystem::path& path, int w, int h,
                  const std::vector<uint8_t>& rgb, int quality,
                  bool full_chroma) {
  tjhandle handle = tjInitCompress();
  unsigned char* out = nullptr;
  unsigned long size = 0;
  const int rc = tjCompress2(handle, rgb.data(), w, 0, h, TJPF_RGB, &out, &size,
                             full_chroma ? TJSAMP_444 : TJSAMP_420, quality, 0);
  tjDestroy(handle);
  if (rc != 0) throw std::runtime_error("tjCompress2");
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(out), static_cast<long>(size));
  tjFree(out);
}

void WriteRgbBmp(const std::filesystem::path& path, int w, int h,
                 const std::vector<uint8_t>& rgb) {
  const uint32_t row = (static_cast<uint32_t>(w) * 3 + 3) & ~3U;
  const uint32_t pixels = row * static_cast<uint32_t>(h);
  std::vector<uint8_t> bytes(54 + pixels, 0);
  const auto put = [&](size_t at, uint32_t v, int n) {
    for (int k = 0; k < n; ++k)
      bytes[at + k] = static_cast<uint8_t>(v >> (8 * k));
  };
  bytes[0] = 'B';
  bytes[1] = 'M';
  put(2, 54 + pixels, 4);
  put(10, 54, 4);
  put(14, 40, 4);
  put(18, static_cast<uint32_t>(w), 4);
  put(22, static_cast<uint32_t>(h), 4);
  put(26, 1, 2);
  put(28, 24, 2);
  put(34, pixels, 4);
  // Bottom-up rows of blue, green, red.
  for (int y = 0; y < h; ++y) {
    uint8_t* dst = &bytes[54 + static_cast<size_t>(h - 1 - y) * row];
    const uint8_t* src = &rgb[static_cast<size_t>(y) * w * 3];
    for (int x = 0; x < w; ++x, dst += 3, src += 3) {
      dst[0] = src[2];
      dst[1] = src[1];
      dst[2] = src[0];
    }
  }
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<long>(bytes.size()));
}

JpegInfo ReadJpegInfo(const std::filesystem::path& path) {
  std::string bytes = ReadBytes(path);
  JpegInfo info;
  if (bytes.empty()) return info;
  tjhandle handle = tjInitDecompress();
  int subsamp = 0, colorspace = 0;
  info.ok =
      tjDecompressHeader3(
          handle, reinterpret_cast<const unsigned char*>(bytes.data()),
          bytes.size(), &info.width, &info.height, &subsamp, &colorspace) == 0;
  tjDestroy(handle);
  return info;
}

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)),
                     std::istreambuf_iterator<char>());
}

std::set<std::string> FilesIn(const std::filesystem::path& folder) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
    if (e.is_regular_file()) names.insert(e.path().filename().string());
  }
  return names;
}

bool SameFiles(const std::filesystem::path& a, const std::filesystem::path& b,
               std::string* why) {
  const std::set<std::string> names = FilesIn(a);
  if (names != FilesIn(b)) {
    if (why != nullptr) *why = "the folders hold different names";
    return false;
  }
  for (const std::string& name : names) {
    if (ReadBytes(a / name) != ReadBytes(b / name)) {
      if (why != nullptr) *why = name + " differs";
      return false;
    }
  }
  return true;
}

std::set<std::string> TreeIn(const std::filesystem::path& folder) {
  std::set<std::string> paths;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
       !ec && it != std::filesystem::recursive_directory_iterator();
       it.increment(ec)) {
    // Lexically, and without raising: files may come and go meanwhile
    // (a program that writes into the folder while a test watches it).
    std::error_code gone;
    if (it->is_regular_file(gone)) {
      paths.insert(it->path().lexically_relative(folder).string());
    }
  }
  return paths;
}

bool SameTree(const std::filesystem::path& a, const std::filesystem::path& b,
              std::string* why) {
  const std::set<std::string> paths = TreeIn(a);
  const std::set<std::string> other = TreeIn(b);
  if (paths != other) {
    if (why != nullptr) {
      *why = "the trees hold different paths (" + std::to_string(paths.size()) +
             " and " + std::to_string(other.size()) + ")";
    }
    return false;
  }
  for (const std::string& path : paths) {
    if (ReadBytes(a / path) != ReadBytes(b / path)) {
      if (why != nullptr) *why = path + " differs";
      return false;
    }
  }
  return true;
}

}  // namespace vg::testing
