#include "decoders/internal/tiff_decoder.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "decoders/internal/decode_budget.h"
#include "decoders/internal/icc_transform.h"
#include "decoders/internal/library_handle.h"
#include "decoders/internal/orientation.h"
#include "decoders/internal/picture_error.h"
#include "decoders/internal/tiff_sample_reader.h"
#include "decoders/internal/upright_builder.h"
#include "platform/error.h"

namespace vg::decoders::decoders_internal {
namespace {

// The file's bytes as libtiff's client file. Read-only: libtiff maps them
// (MapProc) instead of copying strips out.
struct MemoryFile {
  const uint8_t* data;
  uint64_t size;
  uint64_t position;
};

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t length) {
  auto* file = static_cast<MemoryFile*>(handle);
  if (length < 0) return -1;
  const uint64_t left =
      file->position < file->size ? file->size - file->position : 0;
  const uint64_t take = std::min<uint64_t>(left, static_cast<uint64_t>(length));
  if (take > 0) std::memcpy(buffer, file->data + file->position, take);
  file->position += take;
  return static_cast<tmsize_t>(take);
}

tmsize_t WriteProc(thandle_t, void*, tmsize_t) { return -1; }

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
  auto* file = static_cast<MemoryFile*>(handle);
  // Offsets past the end are kept: reads there give nothing.
  switch (whence) {
    case SEEK_SET:
      file->position = offset;
      break;
    case SEEK_CUR:
      file->position += offset;
      break;
    case SEEK_END:
      file->position = file->size + offset;
      break;
    default:
      return static_cast<toff_t>(-1);
  }
  return file->position;
}

int CloseProc(thandle_t) { return 0; }

toff_t SizeProc(thandle_t handle) {
  return static_cast<MemoryFile*>(handle)->size;
}

int MapProc(thandle_t handle, void** base, toff_t* size) {
  auto* file = static_cast<MemoryFile*>(handle);
  // Opened read-only: libtiff never writes through the mapping.
  *base = const_cast<uint8_t*>(file->data);
  *size = file->size;
  return 1;
}

void UnmapProc(thandle_t, void*, toff_t) {}

// libtiff reports through these instead of its default handlers, which
// print to stderr: warnings are dropped, and the first error is kept for the
// reason a refusal gives.
int IgnoreMessage(TIFF*, void*, const char*, const char*, va_list) { return 1; }

int KeepFirstError(TIFF*, void* first_error, const char*, const char* format,
                   va_list args) {
  auto* kept = static_cast<std::string*>(first_error);
  if (kept->empty()) {
    char text[160];
    std::vsnprintf(text, sizeof text, format, args);
    *kept = text;
  }
  return 1;
}

// Frees the open options at the end of a scope.
class OpenOptions {
 public:
  OpenOptions() : options_(TIFFOpenOptionsAlloc()) {
    if (get() == nullptr) RaisePictureError(platform::kErrOutOfMemory);
    TIFFOpenOptionsSetMaxSingleMemAlloc(get(), kMaxTiffAllocationBytes);
    TIFFOpenOptionsSetErrorHandlerExtR(get(), KeepFirstError, &first_error_);
    TIFFOpenOptionsSetWarningHandlerExtR(get(), IgnoreMessage, nullptr);
  }
  // libtiff keeps the address of first_error_: not to be copied or moved.
  OpenOptions(const OpenOptions&) = delete;
  OpenOptions& operator=(const OpenOptions&) = delete;
  TIFFOpenOptions* get() const { return options_.get(); }

  // Whether libtiff reported an error since the last ForgetErrors.
  bool HasErrors() const { return !first_error_.empty(); }
  // Forgets the errors so far: what follows is read afresh.
  void ForgetErrors() { first_error_.clear(); }

  // Raises 481 for `what`, with libtiff's first error after it.
  [[noreturn]] void Refuse(const std::string& what) const {
    RaiseInvalidPicture(
        "TIFF: " + what +
        (first_error_.empty() ? "" : " (" + first_error_ + ")"));
  }

 private:
  LibraryHandle<TIFFOpenOptions, TIFFOpenOptionsFree> options_;
  std::string first_error_;
};

// A TIFF that libtiff reads from `file`, closed at the end of a scope.
using TiffHandle = LibraryHandle<TIFF, TIFFClose>;
TiffHandle OpenTiff(MemoryFile* file, const OpenOptions& options) {
  return TiffHandle(TIFFClientOpenExt("picture", "r", file, ReadProc, WriteProc,
                                      SeekProc, CloseProc, SizeProc, MapProc,
                                      UnmapProc, options.get()));
}

// Ends libtiff's RGBA reading at the end of a scope.
class RgbaImage {
 public:
  RgbaImage() = default;
  RgbaImage(const RgbaImage&) = delete;
  RgbaImage& operator=(const RgbaImage&) = delete;
  ~RgbaImage() {
    if (begun_) TIFFRGBAImageEnd(&image_);
  }
  bool Begin(TIFF* tiff) {
    char message[1024];
    if (!TIFFRGBAImageOK(tiff, message)) return false;
    begun_ = TIFFRGBAImageBegin(&image_, tiff, 0, message) != 0;
    return begun_;
  }
  TIFFRGBAImage& get() { return image_; }

 private:
  TIFFRGBAImage image_{};
  bool begun_ = false;
};

// Writes `count` pixels of libtiff's (ABGR, premultiplied) as BGRX at `out`,
// composited on white: each channel gains what the alpha leaves out.
void CompositeOnWhite(const uint32_t* in, int32_t count, uint8_t* out) {
  for (int32_t x = 0; x < count; ++x, out += 4) {
    const uint32_t p = in[x];
    const uint32_t lack = 255 - TIFFGetA(p);
    out[0] = static_cast<uint8_t>(std::min<uint32_t>(TIFFGetB(p) + lack, 255));
    out[1] = static_cast<uint8_t>(std::min<uint32_t>(TIFFGetG(p) + lack, 255));
    out[2] = static_cast<uint8_t>(std::min<uint32_t>(TIFFGetR(p) + lack, 255));
    out[3] = 255;
  }
}

// Writes `count` pixels of libtiff's as BGRA with straight alpha at `out`.
// libtiff hands out colours multiplied by alpha and rounded: divided back,
// those of a pixel with little alpha come out near the file's, not exact.
void Unpremultiply(const uint32_t* in, int32_t count, uint8_t* out) {
  for (int32_t x = 0; x < count; ++x, out += 4) {
    const uint32_t p = in[x];
    const uint32_t a = TIFFGetA(p);
    const uint32_t colours[3] = {TIFFGetB(p), TIFFGetG(p), TIFFGetR(p)};
    for (int c = 0; c < 3; ++c) {
      out[c] = static_cast<uint8_t>(
          a == 255 ? colours[c]
          : a == 0 ? 0
                   : std::min<uint32_t>((colours[c] * 255 + a / 2) / a, 255));
    }
    out[3] = static_cast<uint8_t>(a);
  }
}

// The pages a file may hold besides the picture that are looked at for a
// smaller copy of it.
constexpr tdir_t kMaxReducedPages = 16;

uint16_t OrientationOf(TIFF* tiff) {
  uint16_t orientation = ORIENTATION_TOPLEFT;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_ORIENTATION, &orientation);
  return orientation >= 1 && orientation <= 8 ? orientation
                                              : uint16_t{ORIENTATION_TOPLEFT};
}

// Returns the current page's width and height, within the limits.
std::pair<uint32_t, uint32_t> CheckedSizeOf(TIFF* tiff,
                                            const OpenOptions& options) {
  uint32_t width = 0;
  uint32_t height = 0;
  if (!TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) ||
      !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height)) {
    options.Refuse("no width or height");
  }
  CheckPictureSize(width, height);
  return {width, height};
}

// Returns the current page's colour profile (libtiff's memory, valid while
// the page is current), empty when it has none.
std::span<const uint8_t> IccProfileOf(TIFF* tiff) {
  uint32_t length = 0;
  void* data = nullptr;
  if (!TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &length, &data) ||
      data == nullptr) {
    return {};
  }
  return {static_cast<const uint8_t*>(data), length};
}

// A page of a file: a directory of its chain, or one of the first page's
// sub-directories (where OME-TIFF and vips --subifd keep a pyramid's levels).
struct Page {
  tdir_t directory = 0;
  toff_t sub_directory = 0;  // its offset; 0: a directory of the chain
};

// Makes `page` current; false when it cannot be read.
bool SetPage(TIFF* tiff, const Page& page) {
  return page.sub_directory != 0
             ? TIFFSetSubDirectory(tiff, page.sub_directory) != 0
             : TIFFSetDirectory(tiff, page.directory) != 0;
}

// Returns the page that holds the picture of the first one at a lower
// resolution (its NewSubfileType says so: pyramids from slide scanners and
// map tools, the previews of scanners and cameras), a later page or a
// sub-directory of the first, the smallest that still covers the hint as a
// reduced JPEG decode would; nothing for none. The first page must be
// current; leaves another page current.
std::optional<Page> ReducedPageFor(TIFF* tiff, uint32_t width, uint32_t height,
                                   uint16_t orientation,
                                   const DecodeHint& hint) {
  if (hint.target_width_px <= 0 && hint.target_height_px <= 0) {
    return std::nullopt;
  }
  const DecodeHint stored = StoredHint(hint, orientation);
  const int64_t need_w = ReducedScaleNeed(stored.target_width_px);
  const int64_t need_h = ReducedScaleNeed(stored.target_height_px);
  std::vector<Page> pages;
  uint16_t subs = 0;
  toff_t* offsets = nullptr;
  if (TIFFGetField(tiff, TIFFTAG_SUBIFD, &subs, &offsets) != 0 &&
      offsets != nullptr) {
    for (uint16_t i = 0; i < subs && i < kMaxReducedPages; ++i) {
      if (offsets[i] != 0) pages.push_back({0, offsets[i]});
    }
  }
  for (tdir_t page = 1; page <= kMaxReducedPages; ++page) {
    pages.push_back({page, 0});
  }
  std::optional<Page> best;
  int64_t best_pixels = 0;
  for (const Page& page : pages) {
    if (!SetPage(tiff, page)) {
      if (page.sub_directory == 0) break;  // the chain ends
      continue;
    }
    uint32_t type = 0;
    uint32_t w = 0;
    uint32_t h = 0;
    if (TIFFGetField(tiff, TIFFTAG_SUBFILETYPE, &type) == 0 ||
        (type & FILETYPE_REDUCEDIMAGE) == 0 ||
        TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &w) == 0 ||
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &h) == 0 ||
        OrientationOf(tiff) != orientation) {
      continue;
    }
    // The same picture has the same proportions, to a pixel of rounding.
    const bool proportional =
        std::abs(int64_t{w} * height - int64_t{h} * width) <=
        int64_t{std::max(width, height)};
    if (!proportional || w < need_w || h < need_h || w >= width ||
        h >= height) {
      continue;
    }
    if (!best || int64_t{w} * h < best_pixels) {
      best = page;
      best_pixels = int64_t{w} * h;
    }
  }
  return best;
}

// Decodes the current page of `tiff`; a page without a colour profile takes
// `fallback_icc`.
DecodedImage DecodePage(TIFF* tiff, const MemoryFile& file,
                        OpenOptions& options,
                        std::span<const uint8_t> fallback_icc,
                        const DecodeHint& hint, DecodeBudget& budget) {
  const auto [width, height] = CheckedSizeOf(tiff, options);
  const auto w = static_cast<int32_t>(width);
  const auto h = static_cast<int32_t>(height);
  const uint16_t orientation = OrientationOf(tiff);
  uint16_t photometric = PHOTOMETRIC_RGB;
  TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);

  std::span<const uint8_t> icc_profile = IccProfileOf(tiff);
  if (icc_profile.empty()) icc_profile = fallback_icc;
  const bool grey = photometric == PHOTOMETRIC_MINISBLACK ||
                    photometric == PHOTOMETRIC_MINISWHITE;
  // A grey picture may carry an RGB profile (ImageMagick writes an RGB
  // picture whose pixels are all grey that way): its rows, grey repeated
  // in blue, green and red, convert as RGB.
  bool grey_icc = false;
  IccTransform icc;
  if (grey) {
    icc = IccTransform::ToSrgb(icc_profile, IccInput::kGray);
    grey_icc = icc.valid();
  }
  if (!icc.applies() && photometric != PHOTOMETRIC_SEPARATED) {
    icc = IccTransform::ToSrgb(icc_profile, IccInput::kBgrx);
  }

  uint16_t bits = 1;
  uint16_t compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
  // libjpeg holds 8 (or, built for it, 12) bits a sample: libtiff would
  // fail on the first strip without saying why.
  if ((compression == COMPRESSION_JPEG || compression == COMPRESSION_OJPEG) &&
      bits > 12) {
    RaiseInvalidPicture("TIFF of " + std::to_string(bits) +
                        "-bit samples compressed as JPEG, which holds at "
                        "most 12");
  }
  // libtiff's RGBA interface takes 1 to 16 bits of integers; 12 bits and
  // floating point are read sample by sample.
  std::optional<TiffSampleReader> samples_reader = TiffSampleReader::For(tiff);
  RgbaImage rgba;
  if (!samples_reader && !rgba.Begin(tiff)) {
    options.Refuse("a form libtiff does not read");
  }
  TIFFRGBAImage& image = rgba.get();
  // Rows come in their stored order; the orientation is applied below, with
  // the axes swapped where it says so (libtiff's own flips cannot).
  image.req_orientation = orientation;

  // A band is what one strip, or one row of tiles, holds: each is decoded
  // once. (A band of fewer rows than a strip would have libtiff decode the
  // strip again from its start for every band.)
  uint32_t band_rows = 0;
  int64_t decoded_bytes = 0;
  if (TIFFIsTiled(tiff)) {
    TIFFGetField(tiff, TIFFTAG_TILELENGTH, &band_rows);
    decoded_bytes = static_cast<int64_t>(TIFFTileSize64(tiff));
  } else {
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &band_rows);
    decoded_bytes = static_cast<int64_t>(TIFFStripSize64(tiff));
  }
  uint16_t planar = PLANARCONFIG_CONTIG;
  uint16_t samples = 1;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
  if (planar == PLANARCONFIG_SEPARATE) decoded_bytes *= samples;
  band_rows = std::clamp<uint32_t>(band_rows, 1, height);
  if (samples_reader) {
    band_rows = samples_reader->band_rows();
    decoded_bytes = samples_reader->HeldBytes();
  }
  const int64_t band_bytes = int64_t{w} * band_rows * 4;

  // The first strip or tile must lie in the file before memory is taken for
  // its band: a few hundred bytes may claim a picture of 80 megapixels in
  // one strip that is not there.
  int strile_error = 0;
  const uint64_t first_offset =
      TIFFGetStrileOffsetWithErr(tiff, 0, &strile_error);
  const uint64_t first_bytes =
      TIFFGetStrileByteCountWithErr(tiff, 0, &strile_error);
  if (strile_error != 0 || first_bytes == 0 || first_offset >= file.size ||
      first_bytes > file.size - first_offset) {
    options.Refuse("its first strip is not in the file");
  }

  const int32_t factor = ReductionFactor(w, h, StoredHint(hint, orientation));
  DecodeBudget::Lease lease =
      budget.Take(band_bytes + decoded_bytes +
                  UprightBuilder::HeldBytes(w, h, factor, orientation));
  std::vector<uint32_t> band;
  std::vector<uint8_t> row;
  std::vector<uint8_t> grey_row;
  std::vector<uint8_t> converted;
  try {
    band.resize(static_cast<size_t>(w) * band_rows);
    row.resize(static_cast<size_t>(w) * 4);
    if (icc.valid()) converted.resize(static_cast<size_t>(w) * 4);
    if (grey_icc) grey_row.resize(static_cast<size_t>(w));
  } catch (const std::bad_alloc&) {
    RaisePictureError(platform::kErrOutOfMemory);
  }
  UprightBuilder builder(w, h, factor, orientation, hint.keep_alpha);
  for (uint32_t top = 0; top < height; top += band_rows) {
    const uint32_t rows = std::min(band_rows, height - top);
    image.row_offset = static_cast<int>(top);
    image.col_offset = 0;
    bool read = false;
    try {
      read = samples_reader
                 ? samples_reader->ReadBand(top, rows, band.data())
                 : TIFFRGBAImageGet(&image, band.data(), width, rows) != 0;
    } catch (const std::bad_alloc&) {
      RaisePictureError(platform::kErrOutOfMemory);
    }
    if (!read) {
      // A strip that cannot be read ends the picture there; nothing of it
      // at all is no picture.
      if (top == 0) options.Refuse("its first rows cannot be read");
      break;
    }
    for (uint32_t y = 0; y < rows; ++y) {
      const uint32_t* in = band.data() + static_cast<size_t>(y) * width;
      if (hint.keep_alpha) {
        Unpremultiply(in, w, row.data());
      } else {
        CompositeOnWhite(in, w, row.data());
      }
      if (!icc.valid()) {
        builder.AddRow(row.data());
        continue;
      }
      if (grey_icc) {
        for (int32_t x = 0; x < w; ++x) {
          grey_row[static_cast<size_t>(x)] = row[static_cast<size_t>(x) * 4];
        }
        icc.Convert(grey_row.data(), converted.data(), w);
      } else {
        icc.Convert(row.data(), converted.data(), w);
      }
      if (hint.keep_alpha) {
        for (size_t i = 3; i < converted.size(); i += 4) converted[i] = row[i];
      }
      builder.AddRow(converted.data());
    }
  }
  return builder.Finish();
}

}  // namespace

DecodedImage DecodeTiff(std::span<const uint8_t> bytes, const DecodeHint& hint,
                        DecodeBudget& budget) {
  MemoryFile file{bytes.data(), bytes.size(), 0};
  OpenOptions options;
  const TiffHandle handle = OpenTiff(&file, options);
  TIFF* tiff = handle.get();
  if (tiff == nullptr) options.Refuse("cannot be opened");
  const auto [width, height] = CheckedSizeOf(tiff, options);
  const uint16_t orientation = OrientationOf(tiff);
  const std::span<const uint8_t> own_icc = IccProfileOf(tiff);
  // Kept beyond the page, for a smaller copy that has none.
  const std::vector<uint8_t> icc(own_icc.begin(), own_icc.end());
  if (const std::optional<Page> page =
          ReducedPageFor(tiff, width, height, orientation, hint);
      page && SetPage(tiff, *page)) {
    // A smaller copy that is damaged anywhere (libtiff reads on past a bad
    // strip) leaves the picture itself to decode.
    options.ForgetErrors();
    try {
      DecodedImage image = DecodePage(tiff, file, options, icc, hint, budget);
      if (!options.HasErrors()) {
        const bool swap = SwapsAxes(orientation);
        image.width = static_cast<int32_t>(swap ? height : width);
        image.height = static_cast<int32_t>(swap ? width : height);
        return image;
      }
    } catch (const platform::Error& e) {
      if (e.number() != platform::kErrInvalidPicture) throw;
    }
    options.ForgetErrors();
  }
  if (TIFFSetDirectory(tiff, 0) == 0) options.Refuse("cannot be read again");
  return DecodePage(tiff, file, options, icc, hint, budget);
}

}  // namespace vg::decoders::decoders_internal
