// How long zlib and libdeflate take to inflate the pixel data of every PNG
// of a folder (the IDAT chunks joined), each stream whole, checksums not
// computed. Prints the bytes made and the seconds each took in all.
//
//   png_inflate DIR
#include <libdeflate.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

uint32_t Be32(const std::vector<uint8_t>& d, size_t at) {
  return uint32_t{d[at]} << 24 | uint32_t{d[at + 1]} << 16 |
         uint32_t{d[at + 2]} << 8 | d[at + 3];
}

double Seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: png_inflate DIR\n");
    return 2;
  }
  double by_zlib = 0;
  double by_libdeflate = 0;
  size_t made = 0;
  libdeflate_decompressor* inflater = libdeflate_alloc_decompressor();
  for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
    if (entry.path().extension() != ".png") continue;
    std::ifstream file(entry.path(), std::ios::binary);
    const std::vector<uint8_t> d((std::istreambuf_iterator<char>(file)), {});
    std::vector<uint8_t> idat;
    uint32_t width = 0;
    uint32_t height = 0;
    int depth = 0;
    int type = 0;
    for (size_t at = 8; at + 12 <= d.size();) {
      const uint32_t length = Be32(d, at);
      if (at + 12 + length > d.size()) break;
      if (std::memcmp(&d[at + 4], "IHDR", 4) == 0) {
        width = Be32(d, at + 8);
        height = Be32(d, at + 12);
        depth = d[at + 16];
        type = d[at + 17];
      } else if (std::memcmp(&d[at + 4], "IDAT", 4) == 0) {
        idat.insert(idat.end(), d.begin() + static_cast<ptrdiff_t>(at + 8),
                    d.begin() + static_cast<ptrdiff_t>(at + 8 + length));
      }
      at += 12 + length;
    }
    const int samples[] = {1, 0, 3, 1, 2, 0, 4};
    const size_t stride =
        (size_t{width} * static_cast<size_t>(samples[type % 7] * depth) + 7) /
            8 +
        1;
    std::vector<uint8_t> rows(stride * height);
    Clock::time_point start = Clock::now();
    z_stream z{};
    inflateInit(&z);
    inflateValidate(&z, 0);
    z.next_in = idat.data();
    z.avail_in = static_cast<uInt>(idat.size());
    z.next_out = rows.data();
    z.avail_out = static_cast<uInt>(rows.size());
    const int zlib_result = inflate(&z, Z_FINISH);
    inflateEnd(&z);
    by_zlib += Seconds(start);
    start = Clock::now();
    size_t used = 0;
    size_t out = 0;
    const libdeflate_result result = libdeflate_deflate_decompress_ex(
        inflater, idat.data() + 2, idat.size() - 2, rows.data(), rows.size(),
        &used, &out);
    by_libdeflate += Seconds(start);
    if (zlib_result != Z_STREAM_END || result != LIBDEFLATE_SUCCESS) {
      std::fprintf(stderr, "%s: zlib %d, libdeflate %d\n", entry.path().c_str(),
                   zlib_result, static_cast<int>(result));
    }
    made += rows.size();
  }
  libdeflate_free_decompressor(inflater);
  std::printf("%.0f MB of rows: zlib %.3f s, libdeflate %.3f s\n",
              static_cast<double>(made) / 1e6, by_zlib, by_libdeflate);
  return 0;
}
