#include "decoders/internal/upright_builder.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "decoders/internal/picture_error.h"
#include "platform/error.h"

namespace vg::decoders::decoders_internal {
namespace {

template <typename T>
void Allocate(std::vector<T>& v, size_t n, T value) {
  try {
    v.assign(n, value);
  } catch (const std::bad_alloc&) {
    RaisePictureError(platform::kErrOutOfMemory);
  }
}

// What rows the file does not hold show: the grey of a JPEG cut short.
constexpr uint8_t kUnwrittenGrey = 0x80;

}  // namespace

int32_t BoxFactor(int32_t width, int32_t height,
                  const DecodeHint& stored_hint) {
  const int64_t need_w = ReducedScaleNeed(stored_hint.target_width_px);
  const int64_t need_h = ReducedScaleNeed(stored_hint.target_height_px);
  if (need_w <= 0 && need_h <= 0) return 1;
  int64_t factor = kMaxPictureSidePx;
  if (need_w > 0) factor = std::min(factor, width / need_w);
  if (need_h > 0) factor = std::min(factor, height / need_h);
  return static_cast<int32_t>(std::max<int64_t>(factor, 1));
}

DecodeHint StoredHint(const DecodeHint& hint, int orientation) {
  if (!SwapsAxes(orientation)) return hint;
  return {hint.target_height_px, hint.target_width_px};
}

int64_t UprightBuilder::HeldBytes(int32_t stored_width, int32_t stored_height,
                                  int32_t factor) {
  const int64_t w = (int64_t{stored_width} + factor - 1) / factor;
  const int64_t h = (int64_t{stored_height} + factor - 1) / factor;
  return w * h * 4 + w * (3 * 8 + 4);
}

UprightBuilder::UprightBuilder(int32_t stored_width, int32_t stored_height,
                               int32_t factor, int orientation)
    : width_(stored_width),
      height_(stored_height),
      factor_(std::max(factor, 1)),
      reduced_width_((stored_width + factor_ - 1) / factor_),
      reduced_height_((stored_height + factor_ - 1) / factor_),
      orientation_(orientation >= 1 && orientation <= 8 ? orientation : 1) {
  const bool swap = SwapsAxes(orientation_);
  image_.width = swap ? height_ : width_;
  image_.height = swap ? width_ : height_;
  image_.pixel_width = swap ? reduced_height_ : reduced_width_;
  image_.pixel_height = swap ? reduced_width_ : reduced_height_;
  image_.stride_bytes = image_.pixel_width * 4;
  Allocate(image_.bgrx,
           static_cast<size_t>(image_.stride_bytes) *
               static_cast<size_t>(image_.pixel_height),
           kUnwrittenGrey);
  for (size_t i = 3; i < image_.bgrx.size(); i += 4) image_.bgrx[i] = 255;
  if (orientation_ != 1) {
    placer_.emplace(orientation_, reduced_width_, reduced_height_,
                    image_.bgrx.data(), image_.stride_bytes);
  }
  if (factor_ > 1) {
    Allocate(sums_, static_cast<size_t>(reduced_width_) * 3, uint64_t{0});
  }
  if (factor_ > 1 || placer_) {
    Allocate(reduced_row_, static_cast<size_t>(reduced_width_) * 4,
             uint8_t{255});
  }
}

void UprightBuilder::AddRow(const uint8_t* row) {
  if (next_row_ >= height_) return;
  const int32_t y = next_row_++;
  if (factor_ == 1) {
    if (placer_) {
      placer_->Place(y, row);
    } else {
      std::memcpy(
          image_.bgrx.data() +
              static_cast<size_t>(y) * static_cast<size_t>(image_.stride_bytes),
          row, static_cast<size_t>(width_) * 4);
    }
    next_reduced_row_ = next_row_;
    return;
  }
  const uint8_t* p = row;
  for (int32_t bx = 0; bx < reduced_width_; ++bx) {
    uint64_t* sum = &sums_[static_cast<size_t>(bx) * 3];
    const int32_t end = std::min<int32_t>(width_, (bx + 1) * factor_);
    for (int32_t x = bx * factor_; x < end; ++x, p += 4) {
      sum[0] += p[0];
      sum[1] += p[1];
      sum[2] += p[2];
    }
  }
  if (next_row_ % factor_ == 0 || next_row_ == height_) {
    EmitReducedRow(y % factor_ + 1);
  }
}

void UprightBuilder::EmitReducedRow(int32_t block_rows) {
  uint8_t* dst = reduced_row_.data();
  for (int32_t bx = 0; bx < reduced_width_; ++bx, dst += 4) {
    // The last block of a row or column may be narrower than the factor.
    const uint64_t count = static_cast<uint64_t>(block_rows) *
                           static_cast<uint64_t>(std::min<int64_t>(
                               factor_, width_ - int64_t{bx} * factor_));
    uint64_t* sum = &sums_[static_cast<size_t>(bx) * 3];
    for (int c = 0; c < 3; ++c) {
      dst[c] = static_cast<uint8_t>((sum[c] + count / 2) / count);
      sum[c] = 0;
    }
    dst[3] = 255;
  }
  const int32_t y = next_reduced_row_++;
  if (placer_) {
    placer_->Place(y, reduced_row_.data());
  } else {
    std::memcpy(
        image_.bgrx.data() +
            static_cast<size_t>(y) * static_cast<size_t>(image_.stride_bytes),
        reduced_row_.data(), reduced_row_.size());
  }
}

DecodedImage UprightBuilder::Finish() {
  // A block of rows begun but not closed by the end of the data.
  if (factor_ > 1 && next_row_ % factor_ != 0 && next_row_ < height_) {
    EmitReducedRow(next_row_ % factor_);
  }
  return std::exchange(image_, DecodedImage{});
}

}  // namespace vg::decoders::decoders_internal
