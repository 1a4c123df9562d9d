#include "app/app_testutil.h"

#include <stdlib.h>
#include <turbojpeg.h>

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

#include "platform/code_page.h"

namespace vg::app::testing {

TempFolder::TempFolder() {
  char tmpl[] = "/tmp/vg_app_XXXXXX";
  if (mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = tmpl;
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
  tjhandle handle = tjInitCompress();
  unsigned char* out = nullptr;
  unsigned long size = 0;
  int rc = tjCompress2(handle, rgb.data(), w, 0, h, TJPF_RGB, &out, &size,
                       TJSAMP_420, 85, 0);
  tjDestroy(handle);
  if (rc != 0) throw std::runtime_error("tjCompress2");
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(out), static_cast<long>(size));
  tjFree(out);
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

}  // namespace vg::app::testing
