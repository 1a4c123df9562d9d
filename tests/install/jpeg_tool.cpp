// Test helper for the install and package checks, independent of the
// library under test:
//   install_jpeg_tool make FILE WIDTH HEIGHT   writes a gradient JPEG
//   install_jpeg_tool size FILE                prints "WIDTH HEIGHT"
// Exit status 0 on success, 1 on failure (a file that is not a JPEG).
#include <turbojpeg.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

int Make(const char* file, int width, int height) {
  if (width < 1 || height < 1 || width > 4096 || height > 4096) return 1;
  std::vector<unsigned char> rgb(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      unsigned char* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
      p[0] = static_cast<unsigned char>(x * 255 / width);
      p[1] = static_cast<unsigned char>(y * 255 / height);
      p[2] = static_cast<unsigned char>((x + y) & 0xFF);
    }
  }
  tjhandle tj = tjInitCompress();
  if (tj == nullptr) return 1;
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  int rc = tjCompress2(tj, rgb.data(), width, 0, height, TJPF_RGB, &jpeg, &size,
                       TJSAMP_420, 90, 0);
  tjDestroy(tj);
  if (rc != 0) return 1;
  std::ofstream out(file, std::ios::binary);
  out.write(reinterpret_cast<const char*>(jpeg),
            static_cast<std::streamsize>(size));
  tjFree(jpeg);
  return out.good() ? 0 : 1;
}

int Size(const char* file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
  tjhandle tj = tjInitDecompress();
  if (tj == nullptr) return 1;
  int width = 0, height = 0, subsamp = 0, colorspace = 0;
  int rc = tjDecompressHeader3(tj, bytes.data(),
                               static_cast<unsigned long>(bytes.size()), &width,
                               &height, &subsamp, &colorspace);
  tjDestroy(tj);
  if (rc != 0 || bytes.size() < 4 || bytes[bytes.size() - 2] != 0xFF ||
      bytes[bytes.size() - 1] != 0xD9) {
    return 1;  // not a JPEG, or cut short
  }
  std::printf("%d %d\n", width, height);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "make") {
    return Make(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
  }
  if (argc == 3 && std::string(argv[1]) == "size") return Size(argv[2]);
  std::fprintf(stderr, "usage: %s make FILE W H | size FILE\n", argv[0]);
  return 2;
}
