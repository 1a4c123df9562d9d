#include "decoders/internal/emf_player.h"

#include <QImage>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>

#include "decoders/internal/decode_budget.h"
#include "decoders/internal/emf_dib.h"
#include "decoders/internal/emf_header.h"
#include "decoders/internal/emf_play.h"
#include "decoders/internal/emf_plus.h"
#include "decoders/internal/emf_records.h"
#include "decoders/internal/metafile_raster.h"
#include "decoders/internal/picture_error.h"
#include "platform/error.h"

namespace vg::decoders::decoders_internal {
namespace {

using emf::Reader;

// Returns the logical size in pixels of the picture `header` describes.
void LogicalSize(const emf::Header& header, EmfLayout* layout) {
  if (emf::FrameUsable(header.frame)) {
    const double to_px = kMetafileDotsPerInch / (emf::kMmPerInch * 100);
    layout->width = std::llround(
        static_cast<double>(int64_t{header.frame.right} - header.frame.left) *
        to_px);
    layout->height = std::llround(
        static_cast<double>(int64_t{header.frame.bottom} - header.frame.top) *
        to_px);
  } else {
    layout->width = int64_t{header.bounds.right} - header.bounds.left + 1;
    layout->height = int64_t{header.bounds.bottom} - header.bounds.top + 1;
  }
}

// Returns the pixels of the largest bitmap the record `rec` of `type` holds
// (0 for none), and adds the EMF+ records it holds to `*plus`; raises 481
// for a bitmap that its record does not hold.
int64_t LargestBitmapPixels(const Reader& rec, uint32_t type,
                            EmfPlus::Survey* plus) {
  int64_t largest = 0;
  const auto note = [&](const std::optional<emf::DibInfo>& dib) {
    if (dib) largest = std::max(largest, dib->width * std::abs(dib->height));
  };
  if (std::optional<emf::DibFields> f = emf::DibFieldsOf(rec, type)) {
    if (type == emf::kExtCreatePen) {
      // Its bitmap is not drawn; only its place is checked.
      if (f->cb_bmi != 0 && !rec.Has(f->off_bmi, f->cb_bmi)) {
        RaisePictureError(platform::kErrInvalidPicture);
      }
    } else {
      note(emf::ReadDibInfo(rec, *f, type == emf::kSetDiBitsToDevice));
    }
  }
  if (type == emf::kComment && emf::HasParams(rec, 4)) {
    const std::span<const uint8_t> data = emf::CommentData(rec);
    if (EmfPlus::IsEmfPlus(data)) EmfPlus::Scan(data, plus);
  }
  if (std::optional<emf::DibFields> f = emf::MaskFieldsOf(rec, type)) {
    note(emf::ReadDibInfo(rec, *f));
  }
  return largest;
}

}  // namespace

EmfLayout ScanEmf(std::span<const uint8_t> bytes) {
  EmfLayout layout;
  LogicalSize(emf::ReadHeader(bytes), &layout);
  CheckPictureSize(layout.width, layout.height);
  EmfPlus::Survey plus;
  size_t at = 0;
  bool ended = false;
  while (!ended && bytes.size() - at >= emf::kRecordHeadBytes) {
    const uint32_t type = Le32(bytes, at);
    const uint32_t size = Le32(bytes, at + 4);
    if (size < emf::kRecordHeadBytes || size > bytes.size() - at) {
      RaiseDamagedRecord("EMF", type, at);
    }
    ++layout.records;
    const Reader rec(bytes.subspan(at, size));
    if (type == emf::kGradientFill) layout.shaded_triangles = true;
    ForRecord("EMF", type, at, [&] {
      layout.largest_bitmap_pixels = std::max(
          layout.largest_bitmap_pixels, LargestBitmapPixels(rec, type, &plus));
    });
    // EMF+ records count as much as the others.
    if (layout.records + plus.records > kMaxMetafileRecords) {
      RaiseInvalidPicture("EMF: more than " +
                          std::to_string(kMaxMetafileRecords) + " records");
    }
    at += size;
    ended = type == emf::kEof;
  }
  layout.records += plus.records;
  layout.largest_bitmap_pixels =
      std::max(layout.largest_bitmap_pixels, plus.largest_image_pixels);
  layout.continued_objects = plus.continued_objects;
  // The last record is EOF; a file without it was cut short.
  if (!ended) RaiseInvalidPicture("EMF: cut short before its last record");
  return layout;
}

DecodedImage DecodeEmf(std::span<const uint8_t> bytes, const DecodeHint& hint,
                       DecodeBudget& budget) {
  const EmfLayout layout = ScanEmf(bytes);
  const emf::Header header = emf::ReadHeader(bytes);
  if (emf::DeviceFrame(header).isEmpty()) {
    RaiseInvalidPicture("EMF: its header's frame is empty");
  }
  const RasterSize size = MetafileRasterSize(layout.width, layout.height, hint);
  // The picture (twice when triangles are shaded on a copy of it), a bitmap
  // with its mask and a mirrored copy of it, and the joined data of an EMF+
  // object spread over several records.
  DecodeBudget::Lease lease = budget.Take(
      MetafilePictureBytes(size) * (layout.shaded_triangles ? 2 : 1) +
      3 * layout.largest_bitmap_pixels * 4 +
      (layout.continued_objects ? static_cast<int64_t>(bytes.size()) : 0));
  DecodedImage out = NewMetafilePicture(layout.width, layout.height, size);
  {
    QImage image = MetafileCanvas(&out);
    const Deadline deadline(kMetafileTimeLimit);
    emf::Player player(header, &image, &deadline);
    size_t at = 0;
    while (bytes.size() - at >= emf::kRecordHeadBytes) {
      const uint32_t size_bytes = Le32(bytes, at + 4);
      const Reader rec(bytes.subspan(at, size_bytes));
      const uint32_t type = Le32(bytes, at);
      bool more = true;
      ForRecord("EMF", type, at, [&] { more = player.Play(rec, type); });
      if (!more) break;
      at += size_bytes;
      if (deadline.Passed()) RaiseDrawingTooLong();
    }
    player.Finish();
  }
  MakeOpaque(&out);
  return out;
}

}  // namespace vg::decoders::decoders_internal
