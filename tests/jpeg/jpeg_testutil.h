// Helpers shared by the JPEG tests: DIB-layout pictures made in code, a
// TurboJPEG decoder to check what was written, and a scratch folder.
#ifndef VG_TESTS_JPEG_JPEG_TESTUTIL_H_
#define VG_TESTS_JPEG_JPEG_TESTUTIL_H_

#include <signal.h>
#include <sys/resource.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vg::jpeg::testing {

struct Rgb {
  int r = 0, g = 0, b = 0;
};

// The colour of the pixel at column x, row y counted from the top.
using Painter = std::function<Rgb(int x, int y)>;

// A picture in DIB layout: bottom-up rows of B, G, R bytes, each padded to
// a multiple of 4 bytes. The padding holds 0xFF / 0x00 bytes that no picture
// row contains, so an encoder that reads them as pixels shows a stripe.
struct DibBuffer {
  int width = 0;
  int height = 0;
  int stride = 0;  // bytes per row
  std::vector<uint8_t> bytes;
};
DibBuffer MakeDib(int width, int height, const Painter& paint);

// Writes `paint` and the padding pattern into pixel memory laid out as above
// (`bits` holds height * stride bytes; the first row in memory is the bottom
// one).
void PaintBottomUp(uint8_t* bits, int width, int height, int stride,
                   const Painter& paint);

// A decoded picture, top row first, R, G, B bytes per pixel.
struct Decoded {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
  Rgb At(int x, int y) const;
};
std::optional<Decoded> DecodeJpeg(const std::vector<uint8_t>& jpeg);

// Returns the largest difference, over every pixel and channel, between the
// decoded picture and what `paint` asked for (-1 when the sizes differ).
int MaxDifference(const Decoded& decoded, int width, int height,
                  const Painter& paint);

// Returns the whole file, or nothing when it cannot be read.
std::optional<std::vector<uint8_t>> ReadFile(const std::string& path);
// Writes `bytes` to `path` (creating or truncating); returns success.
bool WriteFile(const std::string& path, const std::string& bytes);

// Returns the names in `folder`, sorted, without "." and "..".
std::vector<std::string> ListFolder(const std::string& folder);

// A fresh folder under $TMPDIR (or /tmp), removed with its contents.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const {
    return path_ + "/" + name;
  }

 private:
  std::string path_;
};

// Lowers the file size limit (RLIMIT_FSIZE) for its lifetime, with SIGXFSZ
// ignored, so that writes past `bytes` fail with EFBIG as on a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes);
  ~FileSizeLimit();
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  bool ok() const { return ok_; }

 private:
  rlimit old_limit_{};
  sighandler_t old_handler_;
  bool ok_ = false;
};

// A picture whose JPEG at quality 90 is tens of kilobytes: noise.
DibBuffer MakeNoise(int width, int height);

// The JPEG markers up to the start of the scan ("FFD8", "FFE0", ...), with
// the identifier of the first APP0 segment ("JFIF") in `app0_id`.
std::vector<int> JpegMarkers(const std::vector<uint8_t>& jpeg,
                             std::string* app0_id = nullptr);

}  // namespace vg::jpeg::testing

#endif  // VG_TESTS_JPEG_JPEG_TESTUTIL_H_
