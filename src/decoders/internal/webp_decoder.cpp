#include "decoders/internal/webp_decoder.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "decoders/internal/decode_budget.h"
#include "decoders/internal/exif_orientation.h"
#include "decoders/internal/icc_transform.h"
#include "decoders/internal/orientation.h"
#include "decoders/internal/picture_error.h"
#include "decoders/internal/upright_builder.h"
#include "platform/error.h"

namespace vg::decoders::decoders_internal {
namespace {

// Refuses the file with libwebp's verdict, in words.
[[noreturn]] void RaiseWebpStatus(VP8StatusCode status) {
  if (status == VP8_STATUS_OUT_OF_MEMORY) {
    RaisePictureError(platform::kErrOutOfMemory);
  }
  switch (status) {
    case VP8_STATUS_BITSTREAM_ERROR:
      RaiseInvalidPicture("WebP: damaged bitstream");
    case VP8_STATUS_UNSUPPORTED_FEATURE:
      RaiseInvalidPicture("WebP: a feature libwebp does not read");
    case VP8_STATUS_NOT_ENOUGH_DATA:
      RaiseInvalidPicture("WebP: cut short");
    default:
      RaiseInvalidPicture("WebP: not decoded (libwebp status " +
                          std::to_string(static_cast<int>(status)) + ")");
  }
}

// Frees a demuxer at the end of a scope.
class Demuxer {
 public:
  explicit Demuxer(std::span<const uint8_t> bytes) {
    WebPData data = {bytes.data(), bytes.size()};
    demux_ = WebPDemux(&data);
  }
  Demuxer(const Demuxer&) = delete;
  Demuxer& operator=(const Demuxer&) = delete;
  ~Demuxer() { WebPDemuxDelete(demux_); }
  WebPDemuxer* get() const { return demux_; }

 private:
  WebPDemuxer* demux_ = nullptr;
};

// Returns the payload of the first chunk `fourcc`, or nothing. The span
// points into the file's bytes.
std::span<const uint8_t> FindChunk(const Demuxer& demux, const char* fourcc) {
  WebPChunkIterator chunk;
  if (demux.get() == nullptr ||
      !WebPDemuxGetChunk(demux.get(), fourcc, 1, &chunk)) {
    return {};
  }
  std::span<const uint8_t> payload(chunk.chunk.bytes, chunk.chunk.size);
  WebPDemuxReleaseChunkIterator(&chunk);
  return payload;
}

// The EXIF chunk holds the TIFF structure, by the format's own rule; some
// writers put the JPEG marker's "Exif\0\0" before it all the same.
int OrientationOfExifChunk(std::span<const uint8_t> exif) {
  static constexpr uint8_t kHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
  if (exif.size() >= 6 && std::equal(kHeader, kHeader + 6, exif.begin())) {
    return ExifOrientation(exif);
  }
  std::vector<uint8_t> app1(kHeader, kHeader + 6);
  app1.insert(app1.end(), exif.begin(), exif.end());
  return ExifOrientation(app1);
}

// Decodes `bitstream` into BGRA rows (straight alpha) of size.width x
// size.height, scaled by libwebp when that is smaller than the picture.
// Raises 7 or 481 as DecodeWebp does.
std::vector<uint8_t> DecodeRows(std::span<const uint8_t> bitstream,
                                WebPDecoderConfig& config,
                                WebpScaledSize size) {
  std::vector<uint8_t> rows;
  try {
    rows.resize(static_cast<size_t>(size.width) *
                static_cast<size_t>(size.height) * 4);
  } catch (const std::bad_alloc&) {
    RaisePictureError(platform::kErrOutOfMemory);
  }
  config.output.colorspace = MODE_BGRA;
  config.output.is_external_memory = 1;
  config.output.u.RGBA.rgba = rows.data();
  config.output.u.RGBA.stride = size.width * 4;
  config.output.u.RGBA.size = rows.size();
  const bool scaled =
      size.width != config.input.width || size.height != config.input.height;
  config.options.use_scaling = scaled ? 1 : 0;
  config.options.scaled_width = scaled ? size.width : 0;
  config.options.scaled_height = scaled ? size.height : 0;
  const VP8StatusCode status =
      WebPDecode(bitstream.data(), bitstream.size(), &config);
  WebPFreeDecBuffer(&config.output);  // frees nothing of ours
  if (status != VP8_STATUS_OK) RaiseWebpStatus(status);
  return rows;
}

// Composites the alpha of `rows` on white, or keeps it (a pixel of alpha 0
// made 0, 0, 0, 0), and converts their colours through `icc`. Every pixel
// is looked at: a VP8X header that says "no alpha" does not stop a lossless
// bitstream inside from carrying some. Returns true when the alpha is kept
// and some pixel is less than opaque.
bool FinishRows(std::vector<uint8_t>& rows, WebpScaledSize size,
                const IccTransform& icc, bool keep_alpha) {
  std::vector<uint8_t> converted;
  if (icc.valid()) converted.resize(static_cast<size_t>(size.width) * 4);
  bool translucent = false;
  for (int32_t y = 0; y < size.height; ++y) {
    uint8_t* row = rows.data() + static_cast<size_t>(y) * size.width * 4;
    if (!keep_alpha) {
      for (int32_t x = 0; x < size.width; ++x) {
        uint8_t* p = row + static_cast<ptrdiff_t>(x) * 4;
        const unsigned a = p[3];
        if (a == 255) continue;
        const unsigned white = 255 * (255 - a) + 127;
        for (int c = 0; c < 3; ++c) {
          p[c] = static_cast<uint8_t>((p[c] * a + white) / 255);
        }
        p[3] = 255;
      }
    }
    if (icc.valid()) {
      icc.Convert(row, converted.data(), size.width);
      if (keep_alpha) {
        for (size_t i = 3; i < converted.size(); i += 4) converted[i] = row[i];
      }
      std::memcpy(row, converted.data(), converted.size());
    }
    if (keep_alpha) {
      for (int32_t x = 0; x < size.width; ++x) {
        uint8_t* p = row + static_cast<ptrdiff_t>(x) * 4;
        if (p[3] == 255) continue;
        translucent = true;
        if (p[3] == 0) p[0] = p[1] = p[2] = 0;
      }
    }
  }
  return translucent;
}

}  // namespace

WebpScaledSize ChooseWebpSize(int32_t width, int32_t height,
                              const DecodeHint& stored_hint) {
  const int64_t need_w = ReducedScaleNeed(stored_hint.target_width_px);
  const int64_t need_h = ReducedScaleNeed(stored_hint.target_height_px);
  // The scale is need / size along the side that needs the most; compared
  // as cross products to stay exact.
  int64_t num = 0;
  int64_t den = 1;
  if (need_w > 0) {
    num = need_w;
    den = width;
  }
  if (need_h > 0 && need_h * den > num * height) {
    num = need_h;
    den = height;
  }
  if (num <= 0 || num >= den) return {width, height};
  // Rounded up, so that the side that decides gets at least its need.
  const auto scaled = [&](int64_t size) {
    return static_cast<int32_t>(
        std::max<int64_t>((size * num + den - 1) / den, 1));
  };
  return {scaled(width), scaled(height)};
}

DecodedImage DecodeWebp(std::span<const uint8_t> bytes, const DecodeHint& hint,
                        DecodeBudget& budget) {
  WebPDecoderConfig config;
  if (!WebPInitDecoderConfig(&config)) {
    RaiseInvalidPicture("WebP: libwebp refuses its own version");
  }
  Demuxer demux(bytes);
  std::span<const uint8_t> bitstream = bytes;
  if (VP8StatusCode status =
          WebPGetFeatures(bytes.data(), bytes.size(), &config.input);
      status != VP8_STATUS_OK) {
    RaiseWebpStatus(status);
  }
  WebPIterator frame;
  if (config.input.has_animation) {
    // The first frame, as it is stored: the frames after it draw over it.
    if (demux.get() == nullptr || !WebPDemuxGetFrame(demux.get(), 1, &frame)) {
      RaiseInvalidPicture("WebP: animation without a readable first frame");
    }
    bitstream = {frame.fragment.bytes, frame.fragment.size};
    WebPDemuxReleaseIterator(&frame);
    if (VP8StatusCode status =
            WebPGetFeatures(bitstream.data(), bitstream.size(), &config.input);
        status != VP8_STATUS_OK) {
      RaiseWebpStatus(status);
    }
  }
  const int32_t width = config.input.width;
  const int32_t height = config.input.height;
  CheckPictureSize(width, height);

  const int orientation = OrientationOfExifChunk(FindChunk(demux, "EXIF"));
  IccTransform icc =
      IccTransform::ToSrgb(FindChunk(demux, "ICCP"), IccInput::kBgrx);

  const DecodeHint stored_hint = StoredHint(hint, orientation);
  // libwebp scales the colours of a lossless picture weighted by alpha, but
  // not those of a lossy one: with its alpha kept, a lossy picture with
  // alpha is decoded whole and reduced here.
  const bool reduce_here =
      hint.keep_alpha && config.input.has_alpha && config.input.format != 2;
  WebpScaledSize size = reduce_here
                            ? WebpScaledSize{width, height}
                            : ChooseWebpSize(width, height, stored_hint);
  int32_t factor =
      reduce_here ? ReductionFactor(width, height, stored_hint) : 1;
  const int64_t out_bytes = int64_t{size.width} * size.height * 4;
  // A lossless bitstream is decoded whole, 4 bytes a pixel, before it is
  // scaled; a lossy one keeps a few rows of macroblocks, and its alpha
  // plane whole.
  int64_t working_bytes = int64_t{width} * 16 * 4 * 3;
  if (config.input.format == 2) {
    working_bytes += int64_t{width} * height * 4;
  } else if (config.input.has_alpha) {
    working_bytes += int64_t{width} * height;
  }
  // libwebp's rows, converted where they lie; a turned or reduced copy of
  // them when the picture is stored turned or reduced here.
  DecodeBudget::Lease lease =
      budget.Take(out_bytes + working_bytes +
                  (orientation != 1 || factor != 1
                       ? UprightBuilder::HeldBytes(size.width, size.height,
                                                   factor, orientation)
                       : 0));
  std::vector<uint8_t> stored = DecodeRows(bitstream, config, size);
  bool translucent = FinishRows(stored, size, icc, hint.keep_alpha);
  if (reduce_here && !translucent) {
    // Opaque after all: decoded again as it is without alpha kept, so that
    // it comes out the same.
    stored = {};
    size = ChooseWebpSize(width, height, stored_hint);
    factor = 1;
    stored = DecodeRows(bitstream, config, size);
    FinishRows(stored, size, icc, hint.keep_alpha);
  }
  const bool built = orientation != 1 || factor != 1;
  DecodedImage image;
  if (!built) {
    image.pixel_width = size.width;
    image.pixel_height = size.height;
    image.stride_bytes = size.width * 4;
    image.bgrx = std::move(stored);
    image.has_alpha = translucent;
  } else {
    UprightBuilder builder(size.width, size.height, factor, orientation,
                           hint.keep_alpha);
    for (int32_t y = 0; y < size.height; ++y) {
      builder.AddRow(stored.data() + static_cast<size_t>(y) * size.width * 4);
    }
    stored = {};
    image = builder.Finish();
  }
  if (SwapsAxes(orientation)) {
    image.width = height;
    image.height = width;
  } else {
    image.width = width;
    image.height = height;
  }
  return image;
}

}  // namespace vg::decoders::decoders_internal
