#include "decoders/internal/heif_decoder.h"

#include <libheif/heif.h>
#include <malloc.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "decoders/internal/decode_budget.h"
#include "decoders/internal/icc_transform.h"
#include "decoders/internal/library_handle.h"
#include "decoders/internal/picture_error.h"
#include "decoders/internal/upright_builder.h"
#include "platform/error.h"

namespace vg::decoders::decoders_internal {
namespace {

// libheif's state: its decoders registered once for the process, never
// released (a decode may run on any thread at any time).
void InitHeifOnce() {
  static std::once_flag once;
  std::call_once(once, [] { heif_init(nullptr); });
}

// While a HEIF picture is decoded, every block the C heap hands out is first
// filled with one byte. libde265 can return a picture from a damaged HEVC
// stream with parts of its planes never written (an example is kept in
// fuzz/library_faults/); filled blocks make such a picture the same on every
// run, instead of showing what an earlier decode left in the heap. Blocks
// that other threads of the process take meanwhile are filled too: a cost,
// not a change (in a decoder process, only this decode's own threads).
class FilledHeapBlocks {
 public:
  FilledHeapBlocks() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (users_++ == 0) mallopt(M_PERTURB, kPerturb);
  }
  FilledHeapBlocks(const FilledHeapBlocks&) = delete;
  FilledHeapBlocks& operator=(const FilledHeapBlocks&) = delete;
  ~FilledHeapBlocks() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (--users_ == 0) mallopt(M_PERTURB, 0);
  }

 private:
  // glibc fills new blocks with this byte's complement: 0x80, mid-grey.
  static constexpr int kPerturb = 0x7F;
  static inline std::mutex mutex_;
  static inline int users_ = 0;
};

using Context = LibraryHandle<heif_context, heif_context_free>;
using ImageHandle = LibraryHandle<heif_image_handle, heif_image_handle_release>;
using Image = LibraryHandle<heif_image, heif_image_release>;
using DecodingOptions =
    LibraryHandle<heif_decoding_options, heif_decoding_options_free>;

// Returns `object`, which libheif has just made; raises error 7 when it
// could not.
template <class T>
T* Made(T* object) {
  if (object == nullptr) RaisePictureError(platform::kErrOutOfMemory);
  return object;
}

// libheif's own words: "Invalid input: No 'ftyp' box", "Unsupported
// feature: Unsupported codec"...
[[noreturn]] void RaiseHeifError(const heif_error& error) {
  if (error.code == heif_error_Memory_allocation_error) {
    RaisePictureError(platform::kErrOutOfMemory);
  }
  RaiseInvalidPicture(std::string("HEIF: ") +
                      (error.message != nullptr ? error.message : "damaged"));
}

// True when the file's "ftyp" box names an AVIF brand: its images are AV1.
bool IsAvif(std::span<const uint8_t> bytes) {
  const size_t end = std::min<size_t>(bytes.size(), 4096);
  static constexpr std::array<uint8_t, 4> kAvif = {'a', 'v', 'i', 'f'};
  static constexpr std::array<uint8_t, 4> kAvis = {'a', 'v', 'i', 's'};
  for (size_t at = 8; at + 4 <= end; at += 4) {
    const auto* p = bytes.data() + at;
    if (std::equal(kAvif.begin(), kAvif.end(), p) ||
        std::equal(kAvis.begin(), kAvis.end(), p)) {
      return true;
    }
  }
  return false;
}

// Returns the ICC profile that `handle` carries, empty when it has none
// (or only a description by code points) or it cannot be read.
std::vector<uint8_t> ProfileOf(const heif_image_handle* handle,
                               size_t file_bytes) {
  std::vector<uint8_t> profile;
  const heif_color_profile_type profile_type =
      heif_image_handle_get_color_profile_type(handle);
  if (profile_type == heif_color_profile_type_prof ||
      profile_type == heif_color_profile_type_rICC) {
    const size_t size = heif_image_handle_get_raw_color_profile_size(handle);
    if (size > 0 && size <= file_bytes) {
      profile.resize(size);
      if (heif_image_handle_get_raw_color_profile(handle, profile.data())
              .code != heif_error_Ok) {
        profile.clear();
      }
    }
  }
  return profile;
}

// Returns the smallest thumbnail of `handle` that holds what `hint` needs
// of a picture of width x height pixels (upright) with the margin of a
// reduced decode, in the picture's proportions; nothing when no thumbnail
// does or the hint asks for the full size.
std::optional<ImageHandle> ThumbnailFor(heif_image_handle* handle, int width,
                                        int height, const DecodeHint& hint) {
  if (hint.target_width_px <= 0 && hint.target_height_px <= 0) {
    return std::nullopt;
  }
  const int count = heif_image_handle_get_number_of_thumbnails(handle);
  if (count <= 0) return std::nullopt;
  std::vector<heif_item_id> ids(static_cast<size_t>(count));
  const int listed =
      heif_image_handle_get_list_of_thumbnail_IDs(handle, ids.data(), count);
  const int64_t need_w = ReducedScaleNeed(hint.target_width_px);
  const int64_t need_h = ReducedScaleNeed(hint.target_height_px);
  std::optional<ImageHandle> best;
  int64_t best_pixels = 0;
  for (int i = 0; i < listed && i < count; ++i) {
    ImageHandle thumbnail;
    if (heif_image_handle_get_thumbnail(handle, ids[static_cast<size_t>(i)],
                                        thumbnail.out())
            .code != heif_error_Ok) {
      continue;
    }
    // Its size after its own transformations: a thumbnail stored without
    // the picture's rotation, or cropped otherwise, has other proportions.
    const int64_t w = heif_image_handle_get_width(thumbnail.get());
    const int64_t h = heif_image_handle_get_height(thumbnail.get());
    const bool proportional =
        std::abs(w * height - h * width) <= std::max(width, height);
    if (w < need_w || h < need_h || !proportional || w > width || h > height) {
      continue;
    }
    if (!best || w * h < best_pixels) {
      best_pixels = w * h;
      best.emplace(std::move(thumbnail));
    }
  }
  return best;
}

// Decodes the image of `handle`, upright, and reduces it for `hint`; its
// colours converted through `icc` when valid; its memory taken from
// `budget` first.
DecodedImage DecodeHandle(heif_image_handle* handle, const IccTransform& icc,
                          const DecodeHint& hint, DecodeBudget& budget) {
  const int stored_w = heif_image_handle_get_ispe_width(handle);
  const int stored_h = heif_image_handle_get_ispe_height(handle);
  const int width = heif_image_handle_get_width(handle);
  const int height = heif_image_handle_get_height(handle);
  CheckPictureSize(stored_w, stored_h);
  CheckPictureSize(width, height);
  const bool alpha = heif_image_handle_has_alpha_channel(handle) != 0;
  const bool premultiplied =
      heif_image_handle_is_premultiplied_alpha(handle) != 0;

  const int32_t factor = ReductionFactor(width, height, hint);
  // What libheif holds: the decoded planes (up to 3 samples of 2 bytes a
  // pixel), their conversion to interleaved RGB(A), and a turned copy.
  const int64_t pixels =
      std::max<int64_t>(int64_t{stored_w} * stored_h, int64_t{width} * height);
  const int64_t working_bytes = pixels * (6 + 4 + 4);
  DecodeBudget::Lease lease = budget.Take(
      working_bytes + UprightBuilder::HeldBytes(width, height, factor, 1));

  DecodingOptions options(Made(heif_decoding_options_alloc()));
  options.get()->ignore_transformations = 0;
  options.get()->convert_hdr_to_8bit = 1;
  Image image;
  const heif_error error = heif_decode_image(
      handle, image.out(), heif_colorspace_RGB,
      alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
      options.get());
  if (error.code != heif_error_Ok) RaiseHeifError(error);
  if (heif_image_get_width(image.get(), heif_channel_interleaved) != width ||
      heif_image_get_height(image.get(), heif_channel_interleaved) != height ||
      heif_image_get_bits_per_pixel_range(image.get(),
                                          heif_channel_interleaved) != 8) {
    RaiseInvalidPicture("HEIF: decoded at another size or depth than asked");
  }
  int stride = 0;
  const uint8_t* plane = heif_image_get_plane_readonly(
      image.get(), heif_channel_interleaved, &stride);
  const int channels = alpha ? 4 : 3;
  if (plane == nullptr || stride < width * channels) {
    RaiseInvalidPicture("HEIF: no pixels decoded");
  }

  std::vector<uint8_t> row;
  std::vector<uint8_t> converted;
  try {
    row.resize(static_cast<size_t>(width) * 4);
    if (icc.valid()) converted.resize(row.size());
  } catch (const std::bad_alloc&) {
    RaisePictureError(platform::kErrOutOfMemory);
  }
  UprightBuilder builder(width, height, factor, 1, hint.keep_alpha);
  for (int y = 0; y < height; ++y) {
    const uint8_t* in = plane + static_cast<ptrdiff_t>(y) * stride;
    uint8_t* out = row.data();
    for (int x = 0; x < width; ++x, in += channels, out += 4) {
      unsigned r = in[0];
      unsigned g = in[1];
      unsigned b = in[2];
      unsigned a = alpha ? in[3] : 255;
      if (a != 255 && hint.keep_alpha) {
        if (premultiplied && a > 0) {
          r = std::min((r * 255 + a / 2) / a, 255u);
          g = std::min((g * 255 + a / 2) / a, 255u);
          b = std::min((b * 255 + a / 2) / a, 255u);
        }
      } else if (a != 255) {
        const unsigned lack = 255 - a;
        if (premultiplied) {
          r = std::min(r + lack, 255u);
          g = std::min(g + lack, 255u);
          b = std::min(b + lack, 255u);
        } else {
          const unsigned white = 255 * lack + 127;
          r = (r * a + white) / 255;
          g = (g * a + white) / 255;
          b = (b * a + white) / 255;
        }
        a = 255;
      }
      out[0] = static_cast<uint8_t>(b);
      out[1] = static_cast<uint8_t>(g);
      out[2] = static_cast<uint8_t>(r);
      out[3] = static_cast<uint8_t>(a);
    }
    if (icc.valid()) {
      icc.Convert(row.data(), converted.data(), width);
      if (hint.keep_alpha) {
        for (size_t i = 3; i < converted.size(); i += 4) converted[i] = row[i];
      }
      builder.AddRow(converted.data());
    } else {
      builder.AddRow(row.data());
    }
  }
  return builder.Finish();
}

}  // namespace

DecodedImage DecodeHeif(std::span<const uint8_t> bytes, const DecodeHint& hint,
                        DecodeBudget& budget) {
  InitHeifOnce();
  const FilledHeapBlocks filled;
  const heif_compression_format codec =
      IsAvif(bytes) ? heif_compression_AV1 : heif_compression_HEVC;
  if (!heif_have_decoder_for_format(codec)) {
    RaiseInvalidPicture(codec == heif_compression_AV1
                            ? "AVIF: no AV1 decoder installed"
                            : "HEIF: no HEVC decoder installed");
  }
  Context context(Made(heif_context_alloc()));
  // Checked by libheif against the stored size of every image it reads.
  heif_context_set_maximum_image_size_limit(context.get(), kMaxPictureSidePx);
  // The decodes of a batch already run on every core.
  heif_context_set_max_decoding_threads(context.get(), 1);
  heif_error error = heif_context_read_from_memory_without_copy(
      context.get(), bytes.data(), bytes.size(), nullptr);
  if (error.code != heif_error_Ok) RaiseHeifError(error);
  ImageHandle handle;
  error = heif_context_get_primary_image_handle(context.get(), handle.out());
  if (error.code != heif_error_Ok) RaiseHeifError(error);

  // The size after the container's transformations.
  const int width = heif_image_handle_get_width(handle.get());
  const int height = heif_image_handle_get_height(handle.get());
  CheckPictureSize(width, height);
  std::vector<uint8_t> profile = ProfileOf(handle.get(), bytes.size());
  // A thumbnail item that holds what the hint needs is decoded instead of
  // the picture, at a fraction of its cost. It usually has no profile of
  // its own; the picture's applies.
  if (std::optional<ImageHandle> thumbnail =
          ThumbnailFor(handle.get(), width, height, hint)) {
    std::vector<uint8_t> own = ProfileOf(thumbnail->get(), bytes.size());
    const IccTransform icc =
        IccTransform::ToSrgb(own.empty() ? profile : own, IccInput::kBgrx);
    try {
      DecodedImage image = DecodeHandle(thumbnail->get(), icc, hint, budget);
      image.width = width;
      image.height = height;
      return image;
    } catch (const platform::Error& e) {
      // A damaged thumbnail leaves the picture to decode.
      if (e.number() != platform::kErrInvalidPicture) throw;
    }
  }
  return DecodeHandle(handle.get(),
                      IccTransform::ToSrgb(profile, IccInput::kBgrx), hint,
                      budget);
}

}  // namespace vg::decoders::decoders_internal
