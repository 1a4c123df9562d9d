#include "decoders/internal/raw_decoder.h"

#include <libraw/libraw.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "decoders/internal/decode_budget.h"
#include "decoders/internal/exif_orientation.h"
#include "decoders/internal/jpeg_decoder.h"
#include "decoders/internal/library_handle.h"
#include "decoders/internal/orientation.h"
#include "decoders/internal/picture_error.h"
#include "decoders/internal/upright_builder.h"
#include "platform/error.h"

namespace vg::decoders::decoders_internal {
namespace {

// What libraw may allocate for the sensor data of one file.
constexpr unsigned kMaxRawMemoryMib = 1024;

// libraw's developed picture, freed at the end of a scope.
using ProcessedImage =
    LibraryHandle<libraw_processed_image_t, &LibRaw::dcraw_clear_mem>;

// Returns the orientation that the JPEG `jpeg` states in its EXIF block,
// 1 when it states none.
int JpegOrientation(std::span<const uint8_t> jpeg) {
  size_t at = 2;  // after the start-of-image marker
  while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF) {
    const uint8_t marker = jpeg[at + 1];
    if (marker == 0xDA || marker == 0xD9) break;  // start of scan, end
    const size_t length = size_t{jpeg[at + 2]} << 8 | jpeg[at + 3];
    if (length < 2 || at + 2 + length > jpeg.size()) break;
    if (marker == 0xE1) {
      int orientation = ExifOrientation(jpeg.subspan(at + 4, length - 2));
      if (orientation != 1) return orientation;
    }
    at += 2 + length;
  }
  return 1;
}

// Turns a picture decoded in its stored orientation upright.
DecodedImage Turn(DecodedImage stored, int orientation) {
  if (orientation == 1) return stored;
  UprightBuilder builder(stored.pixel_width, stored.pixel_height, 1,
                         orientation);
  for (int32_t y = 0; y < stored.pixel_height; ++y) {
    builder.AddRow(stored.bgrx.data() +
                   static_cast<size_t>(y) *
                       static_cast<size_t>(stored.stride_bytes));
  }
  return builder.Finish();
}

// Returns the preview upright, or nothing when it is not a JPEG as large as
// `need_w` x `need_h` (stored orientation) or does not decode.
std::optional<DecodedImage> DecodePreview(LibRaw& raw, int orientation,
                                          int64_t need_w, int64_t need_h,
                                          const DecodeHint& hint,
                                          DecodeBudget& budget) {
  if (raw.unpack_thumb() != LIBRAW_SUCCESS) return std::nullopt;
  const libraw_thumbnail_t& thumb = raw.imgdata.thumbnail;
  if (thumb.tformat != LIBRAW_THUMBNAIL_JPEG || thumb.thumb == nullptr ||
      thumb.tlength < 4 || thumb.twidth < need_w || thumb.theight < need_h) {
    return std::nullopt;
  }
  std::span<const uint8_t> jpeg(reinterpret_cast<const uint8_t*>(thumb.thumb),
                                thumb.tlength);
  const int own = JpegOrientation(jpeg);
  DecodedImage image;
  try {
    image = DecodeJpeg(jpeg, own != 1 ? hint : StoredHint(hint, orientation),
                       budget);
  } catch (const platform::Error& e) {
    if (e.number() == platform::kErrOutOfMemory) throw;
    return std::nullopt;
  }
  if (own != 1) return image;
  return Turn(std::move(image), orientation);
}

// Stands in for a developed picture that cannot be made: a RAW whose
// sensor data is cut short or damaged often keeps an intact preview, which
// serves at whatever size it has. Raises libraw's `failure` when there is
// none.
DecodedImage PreviewInstead(LibRaw& raw, std::span<const uint8_t> bytes,
                            int orientation, int32_t width, int32_t height,
                            const DecodeHint& hint, DecodeBudget& budget,
                            int failure) {
  // A failed unpack leaves libraw holding nothing of the file: its preview
  // is read from a fresh opening.
  if (raw.open_buffer(const_cast<uint8_t*>(bytes.data()), bytes.size()) ==
      LIBRAW_SUCCESS) {
    if (std::optional<DecodedImage> preview =
            DecodePreview(raw, orientation, 0, 0, hint, budget)) {
      preview->width = std::max(width, preview->pixel_width);
      preview->height = std::max(height, preview->pixel_height);
      return std::move(*preview);
    }
  }
  if (failure == LIBRAW_UNSUFFICIENT_MEMORY) {
    RaisePictureError(platform::kErrOutOfMemory);
  }
  RaiseInvalidPicture(std::string("RAW: ") +
                      (failure == LIBRAW_SUCCESS ? "nothing developed"
                                                 : libraw_strerror(failure)) +
                      ", and no preview");
}

}  // namespace

int OrientationOfRawFlip(int flip) {
  switch (flip) {
    case 1:
      return 2;
    case 2:
      return 4;
    case 3:
      return 3;
    case 4:
      return 5;
    case 5:
      return 8;
    case 6:
      return 6;
    case 7:
      return 7;
    default:
      return 1;
  }
}

std::optional<DecodedImage> DecodeRaw(std::span<const uint8_t> bytes,
                                      const DecodeHint& hint,
                                      DecodeBudget& budget) {
  // libraw's default handlers of damaged data and failed allocations print
  // to stderr; the outcome says all the caller needs.
  auto raw = std::make_unique<LibRaw>(LIBRAW_OPIONS_NO_MEMERR_CALLBACK |
                                      LIBRAW_OPIONS_NO_DATAERR_CALLBACK);
  raw->imgdata.params.max_raw_memory_mb = kMaxRawMemoryMib;
  // Only read: libraw takes a non-const pointer.
  if (raw->open_buffer(const_cast<uint8_t*>(bytes.data()), bytes.size()) !=
      LIBRAW_SUCCESS) {
    return std::nullopt;
  }
  const libraw_image_sizes_t& sizes = raw->imgdata.sizes;
  if (raw->imgdata.idata.dng_version == 0 &&
      raw->imgdata.idata.make[0] == '\0') {
    return std::nullopt;
  }
  CheckPictureSize(sizes.raw_width, sizes.raw_height);
  CheckPictureSize(sizes.width, sizes.height);
  const int orientation = OrientationOfRawFlip(sizes.flip);
  const int32_t stored_w = sizes.width;
  const int32_t stored_h = sizes.height;
  const bool swap = SwapsAxes(orientation);
  const int32_t width = swap ? stored_h : stored_w;
  const int32_t height = swap ? stored_w : stored_h;

  const DecodeHint stored_hint = StoredHint(hint, orientation);
  const bool free = hint.target_width_px <= 0 && hint.target_height_px <= 0;
  const int64_t need_w =
      free ? stored_w : ReducedScaleNeed(stored_hint.target_width_px);
  const int64_t need_h =
      free ? stored_h : ReducedScaleNeed(stored_hint.target_height_px);

  if (std::optional<DecodedImage> preview =
          DecodePreview(*raw, orientation, need_w, need_h, hint, budget)) {
    preview->width = std::max(width, preview->pixel_width);
    preview->height = std::max(height, preview->pixel_height);
    return preview;
  }

  const bool half = stored_w / 2 >= need_w && stored_h / 2 >= need_h;
  raw->imgdata.params.half_size = half ? 1 : 0;
  raw->imgdata.params.use_camera_wb = 1;
  raw->imgdata.params.output_bps = 8;
  // The sensor data (2 bytes a photosite), libraw's working picture (4
  // channels of 2 bytes a pixel, a quarter of them at half size), the
  // developed picture (3 bytes a pixel) and the result.
  const int64_t pixels = int64_t{stored_w} * stored_h / (half ? 4 : 1);
  const int64_t working_bytes =
      int64_t{sizes.raw_width} * sizes.raw_height * 2 + pixels * (8 + 3);
  const int32_t developed_w = half ? (width + 1) / 2 : width;
  const int32_t developed_h = half ? (height + 1) / 2 : height;
  // libraw develops the picture upright: the hint applies as given.
  const int32_t factor = ReductionFactor(developed_w, developed_h, hint);
  DecodeBudget::Lease lease =
      budget.Take(working_bytes + UprightBuilder::HeldBytes(
                                      developed_w, developed_h, factor, 1));
  const auto instead = [&](int failure) {
    lease.Release();
    return PreviewInstead(*raw, bytes, orientation, width, height, hint, budget,
                          failure);
  };
  int status = raw->unpack();
  if (status == LIBRAW_SUCCESS) status = raw->dcraw_process();
  if (status != LIBRAW_SUCCESS) return instead(status);
  ProcessedImage developed(raw->dcraw_make_mem_image(&status));
  const libraw_processed_image_t* image = developed.get();
  if (image == nullptr) return instead(status);
  // libraw turns the developed picture upright itself.
  if (image->type != LIBRAW_IMAGE_BITMAP || image->bits != 8 ||
      (image->colors != 3 && image->colors != 1) || image->width == 0 ||
      image->height == 0 || image->width > width || image->height > height ||
      uint64_t{image->width} * image->height * image->colors >
          image->data_size) {
    return instead(LIBRAW_DATA_ERROR);
  }
  const int32_t out_w = image->width;
  const int32_t out_h = image->height;
  std::vector<uint8_t> row;
  try {
    row.resize(static_cast<size_t>(out_w) * 4);
  } catch (const std::bad_alloc&) {
    RaisePictureError(platform::kErrOutOfMemory);
  }
  UprightBuilder builder(out_w, out_h, factor, 1);
  const int colours = image->colors;
  for (int32_t y = 0; y < out_h; ++y) {
    const uint8_t* in = image->data + static_cast<size_t>(y) *
                                          static_cast<size_t>(out_w) *
                                          static_cast<size_t>(colours);
    uint8_t* out = row.data();
    for (int32_t x = 0; x < out_w; ++x, in += colours, out += 4) {
      out[0] = in[colours == 3 ? 2 : 0];
      out[1] = in[colours == 3 ? 1 : 0];
      out[2] = in[0];
      out[3] = 255;
    }
    builder.AddRow(row.data());
  }
  DecodedImage result = builder.Finish();
  result.width = width;
  result.height = height;
  return result;
}

}  // namespace vg::decoders::decoders_internal
