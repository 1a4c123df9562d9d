// What the two metafile readers (WMF, EMF) share: the size they render at,
// their limits, the time they may take and the picture they draw into.
// Internal to vg::decoders.
#ifndef VG_DECODERS_INTERNAL_METAFILE_RASTER_H_
#define VG_DECODERS_INTERNAL_METAFILE_RASTER_H_

#include <QImage>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "decoders/decode_picture.h"
#include "decoders/internal/picture_error.h"
#include "platform/error.h"

namespace vg::decoders::decoders_internal {

// A metafile of more records than this is refused before any is played.
inline constexpr int64_t kMaxMetafileRecords = int64_t{1} << 20;
// Nesting of saved drawing states that a metafile may build up; deeper
// saves are ignored.
inline constexpr int kMaxSavedStates = 1024;
// How long one metafile may take to draw; past it the picture fails (481).
inline constexpr std::chrono::milliseconds kMetafileTimeLimit{5000};
// The resolution the logical size is stated at: a metafile one inch wide
// reports 96 pixels.
inline constexpr int kMetafileDotsPerInch = 96;

// Mapping modes, as SetMapMode takes them in both formats.
enum : int {
  kMmText = 1,
  kMmLoMetric = 2,
  kMmHiMetric = 3,
  kMmLoEnglish = 4,
  kMmHiEnglish = 5,
  kMmTwips = 6,
  kMmIsotropic = 7,
  kMmAnisotropic = 8,
};

// ExtTextOut options: the rectangle given is filled, or clips the text.
inline constexpr uint32_t kEtoOpaque = 0x2;
inline constexpr uint32_t kEtoClipped = 0x4;

// The raster operation that copies the source.
inline constexpr uint32_t kSrcCopy = 0x00CC0020;

// Raises 481 for the record of `format` ("EMF", "WMF") of type `type` at
// byte `at` of the file: "EMF: record 94 at byte 1234 is damaged".
[[noreturn]] void RaiseDamagedRecord(const char* format, uint32_t type,
                                     size_t at);

// Runs `step` for that record: a 481 it raises without a reason is raised
// again naming the record.
template <typename Step>
void ForRecord(const char* format, uint32_t type, size_t at, Step step);

// Raises 481 for a metafile that took longer than kMetafileTimeLimit.
[[noreturn]] void RaiseDrawingTooLong();

// A rendering time limit, checked between records.
class Deadline {
 public:
  explicit Deadline(std::chrono::milliseconds budget)
      : end_(std::chrono::steady_clock::now() + budget) {}
  bool Passed() const { return std::chrono::steady_clock::now() > end_; }

 private:
  std::chrono::steady_clock::time_point end_;
};

struct RasterSize {
  int32_t width = 0;
  int32_t height = 0;
};

// Returns the size in pixels to draw a metafile of logical size `width` x
// `height` at for `hint`: the hinted size, never more than the logical size,
// the free side in proportion; the logical size when the hint is 0. Raises
// 481 when the logical size is over the picture limits or empty.
RasterSize MetafileRasterSize(int64_t width, int64_t height,
                              const DecodeHint& hint);

// Returns the bytes of a picture drawn at `size`.
int64_t MetafilePictureBytes(const RasterSize& size);

// Returns the picture of logical size `width` x `height` drawn at `size`,
// its pixels allocated and not yet drawn; raises 7 when they cannot be.
DecodedImage NewMetafilePicture(int64_t width, int64_t height,
                                const RasterSize& size);

// Returns a white image over the pixels of `out`, to draw on; `out` must
// outlive it. Raises 7 when Qt cannot make it.
QImage MetafileCanvas(DecodedImage* out);

// Sets every pixel of `out` opaque, as the result's layout wants it.
void MakeOpaque(DecodedImage* out);

template <typename Step>
void ForRecord(const char* format, uint32_t type, size_t at, Step step) {
  try {
    step();
  } catch (const platform::Error& e) {
    if (IsUnexplained(e)) RaiseDamagedRecord(format, type, at);
    throw;
  }
}

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_METAFILE_RASTER_H_
