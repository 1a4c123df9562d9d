#include "decoders/internal/tiff_sample_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "decoders/internal/picture_error.h"
#include "platform/error.h"

namespace vg::decoders::decoders_internal {
namespace {

// Returns the value of an IEEE half-precision number.
float HalfToFloat(uint16_t half) {
  const int exponent = (half >> 10) & 0x1F;
  const int mantissa = half & 0x3FF;
  float value = 0;
  if (exponent == 0) {
    value = std::ldexp(static_cast<float>(mantissa), -24);
  } else if (exponent == 31) {
    value = mantissa != 0 ? NAN : INFINITY;
  } else {
    value = std::ldexp(static_cast<float>(mantissa + 1024), exponent - 25);
  }
  return (half & 0x8000) != 0 ? -value : value;
}

uint8_t UnitTo8(double value) {
  if (!(value > 0)) return 0;  // NaN too
  if (value >= 1) return 255;
  return static_cast<uint8_t>(std::lround(value * 255));
}

}  // namespace

std::optional<TiffSampleReader> TiffSampleReader::For(TIFF* tiff) {
  uint16_t bits = 1;
  uint16_t format = SAMPLEFORMAT_UINT;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
  TiffSampleReader reader;
  if (format == SAMPLEFORMAT_IEEEFP && bits == 16) {
    reader.kind_ = Kind::kFloat16;
  } else if (format == SAMPLEFORMAT_IEEEFP && bits == 32) {
    reader.kind_ = Kind::kFloat32;
  } else if (format == SAMPLEFORMAT_IEEEFP && bits == 64) {
    reader.kind_ = Kind::kFloat64;
  } else if (format != SAMPLEFORMAT_IEEEFP && bits == 12) {
    reader.kind_ = Kind::kUint12;
  } else {
    return std::nullopt;
  }
  uint16_t photometric = PHOTOMETRIC_MINISBLACK;
  uint16_t planar = PLANARCONFIG_CONTIG;
  TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL,
                        &reader.samples_per_pixel_);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &reader.width_);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &reader.height_);
  const std::string depth =
      std::to_string(bits) +
      (reader.kind_ == Kind::kUint12 ? "-bit" : "-bit floating-point");
  switch (photometric) {
    case PHOTOMETRIC_MINISWHITE:
      reader.min_is_white_ = true;
      reader.colours_ = 1;
      break;
    case PHOTOMETRIC_MINISBLACK:
      reader.colours_ = 1;
      break;
    case PHOTOMETRIC_RGB:
      reader.colours_ = 3;
      break;
    default:
      RaiseInvalidPicture("TIFF of " + depth + " samples in colour model " +
                          std::to_string(photometric) +
                          ", only grey or RGB read at that depth");
  }
  if (reader.samples_per_pixel_ < reader.colours_) {
    RaiseInvalidPicture("TIFF of " + std::to_string(reader.samples_per_pixel_) +
                        " samples a pixel for its colour model");
  }
  uint16_t extra_count = 0;
  uint16_t* extra = nullptr;
  if (reader.samples_per_pixel_ > reader.colours_ &&
      TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extra_count, &extra) &&
      extra_count > 0 && extra != nullptr &&
      (extra[0] == EXTRASAMPLE_ASSOCALPHA ||
       extra[0] == EXTRASAMPLE_UNASSALPHA)) {
    reader.alpha_ = reader.colours_;
    reader.premultiplied_ = extra[0] == EXTRASAMPLE_ASSOCALPHA;
  }
  reader.tiff_ = tiff;
  reader.separate_ = planar == PLANARCONFIG_SEPARATE;
  reader.tiled_ = TIFFIsTiled(tiff) != 0;
  if (reader.tiled_) {
    TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &reader.tile_width_);
    TIFFGetField(tiff, TIFFTAG_TILELENGTH, &reader.band_rows_);
    reader.block_bytes_ = TIFFTileSize64(tiff);
    reader.block_row_bytes_ = TIFFTileRowSize64(tiff);
  } else {
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &reader.band_rows_);
    reader.block_bytes_ = TIFFStripSize64(tiff);
    reader.block_row_bytes_ = TIFFScanlineSize64(tiff);
  }
  reader.band_rows_ = std::clamp<uint32_t>(
      reader.band_rows_, 1, std::max<uint32_t>(reader.height_, 1));
  if (reader.block_bytes_ == 0 || reader.block_row_bytes_ == 0 ||
      (reader.tiled_ && reader.tile_width_ == 0)) {
    RaiseInvalidPicture("TIFF: strips or tiles of no size");
  }
  return reader;
}

int64_t TiffSampleReader::HeldBytes() const {
  const int channels = colours_ + (alpha_ >= 0 ? 1 : 0);
  return static_cast<int64_t>(block_bytes_) +
         int64_t{width_} * band_rows_ * channels;
}

uint8_t TiffSampleReader::Sample8(const uint8_t* row, uint64_t index) const {
  switch (kind_) {
    case Kind::kUint12: {
      // Two samples in three bytes, the first in the high bits.
      const uint8_t* at = row + index * 12 / 8;
      const uint32_t value = index % 2 == 0
                                 ? uint32_t{at[0]} << 4 | at[1] >> 4
                                 : (uint32_t{at[0]} & 0x0F) << 8 | at[1];
      return static_cast<uint8_t>((value * 255 + 2047) / 4095);
    }
    case Kind::kFloat16: {
      // libtiff hands out samples of 16 bits and more in the machine's
      // byte order.
      uint16_t half = 0;
      std::memcpy(&half, row + index * 2, 2);
      return UnitTo8(HalfToFloat(half));
    }
    case Kind::kFloat32: {
      float value = 0;
      std::memcpy(&value, row + index * 4, 4);
      return UnitTo8(value);
    }
    case Kind::kFloat64: {
      double value = 0;
      std::memcpy(&value, row + index * 8, 8);
      return UnitTo8(value);
    }
  }
  return 0;
}

void TiffSampleReader::TakeBlock(const uint8_t* block, uint64_t row_bytes,
                                 uint32_t x0, uint32_t columns,
                                 uint32_t block_rows, uint16_t plane) {
  const int channels = colours_ + (alpha_ >= 0 ? 1 : 0);
  const uint64_t in_pixel = separate_ ? 1 : samples_per_pixel_;
  const uint16_t first = separate_ ? plane : 0;
  const uint16_t end = separate_ ? plane + 1 : samples_per_pixel_;
  for (uint32_t y = 0; y < block_rows; ++y) {
    const uint8_t* row = block + y * row_bytes;
    uint8_t* out = samples_.data() + (uint64_t{y} * width_ + x0) *
                                         static_cast<uint64_t>(channels);
    for (uint32_t x = 0; x < columns; ++x, out += channels) {
      for (uint16_t s = first; s < end && s < channels; ++s) {
        const uint64_t index = x * in_pixel + (s - first);
        uint8_t value = Sample8(row, index);
        if (min_is_white_ && s < colours_) value = 255 - value;
        out[s] = value;
      }
    }
  }
}

bool TiffSampleReader::ReadBand(uint32_t top, uint32_t rows, uint32_t* abgr) {
  const int channels = colours_ + (alpha_ >= 0 ? 1 : 0);
  block_.resize(block_bytes_);
  samples_.assign(static_cast<size_t>(width_) * rows * channels, 0);
  const uint16_t planes =
      separate_
          ? static_cast<uint16_t>(std::min(channels, int{samples_per_pixel_}))
          : 1;
  const uint32_t step = tiled_ ? tile_width_ : width_;
  for (uint16_t plane = 0; plane < planes; ++plane) {
    for (uint32_t x0 = 0; x0 < width_; x0 += step) {
      const tmsize_t read =
          tiled_ ? TIFFReadEncodedTile(
                       tiff_, TIFFComputeTile(tiff_, x0, top, 0, plane),
                       block_.data(), static_cast<tmsize_t>(block_bytes_))
                 : TIFFReadEncodedStrip(
                       tiff_, TIFFComputeStrip(tiff_, top, plane),
                       block_.data(), static_cast<tmsize_t>(block_bytes_));
      if (read < 0) return false;
      // What a short strip leaves out reads as 0, not as the last strip.
      std::fill(block_.begin() + read, block_.end(), 0);
      TakeBlock(block_.data(), block_row_bytes_, x0,
                std::min(step, width_ - x0), rows, plane);
    }
  }
  const uint8_t* in = samples_.data();
  const size_t count = static_cast<size_t>(width_) * rows;
  for (size_t i = 0; i < count; ++i, in += channels) {
    uint32_t r = in[0];
    uint32_t g = in[colours_ == 3 ? 1 : 0];
    uint32_t b = in[colours_ == 3 ? 2 : 0];
    uint32_t a = alpha_ >= 0 ? in[alpha_] : 255;
    if (!premultiplied_ && a != 255) {
      r = (r * a + 127) / 255;
      g = (g * a + 127) / 255;
      b = (b * a + 127) / 255;
    }
    // A premultiplied colour above its alpha is damage: keep it in range.
    r = std::min(r, a);
    g = std::min(g, a);
    b = std::min(b, a);
    abgr[i] = a << 24 | b << 16 | g << 8 | r;
  }
  return true;
}

}  // namespace vg::decoders::decoders_internal
