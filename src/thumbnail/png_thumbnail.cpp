#include "thumbnail/png_thumbnail.h"

#include <png.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <new>
#include <span>

#include "image/image_view.h"
#include "image/stretch.h"
#include "platform/checked.h"
#include "platform/error.h"
#include "platform/replace_file.h"

namespace vg::thumbnail {
namespace {

[[noreturn]] void OutOfMemory() {
  throw platform::Error::Standard(platform::kErrOutOfMemory, "ScaleIntoBox");
}

std::vector<uint8_t> Buffer(int32_t width, int32_t height, int32_t channels) {
  try {
    return std::vector<uint8_t>(static_cast<size_t>(width) *
                                static_cast<size_t>(height) *
                                static_cast<size_t>(channels));
  } catch (const std::bad_alloc&) {
    OutOfMemory();
  }
}

image::ConstImageView View(const std::vector<uint8_t>& bytes, int32_t width,
                           int32_t height, ptrdiff_t stride) {
  return {bytes.data(), width, height, stride, image::PixelFormat::kBgrx32};
}

// Scales the part `area` of `src` (width 0: all of it) into `dst`.
void Stretch(const image::ConstImageView& src, const decoders::PixelArea& area,
             std::vector<uint8_t>* dst, PixelSize size) {
  *dst = Buffer(size.width, size.height, 4);
  const image::ImageView out{dst->data(), size.width, size.height,
                             static_cast<ptrdiff_t>(size.width) * 4,
                             image::PixelFormat::kBgrx32};
  const image::SourceArea part =
      area.width > 0
          ? image::SourceArea{area.x, area.y, area.width, area.height}
          : image::SourceArea{0, 0, static_cast<double>(src.width),
                              static_cast<double>(src.height)};
  if (!image::StretchCopy(src, out, 0, 0, size.width, size.height, part)) {
    OutOfMemory();
  }
}

struct PngSink {
  std::vector<uint8_t> bytes;
};

void AppendToSink(png_structp png, png_bytep data, png_size_t length) {
  auto* sink = static_cast<PngSink*>(png_get_io_ptr(png));
  try {
    sink->bytes.insert(sink->bytes.end(), data, data + length);
  } catch (const std::bad_alloc&) {
    png_error(png, "out of memory");
  }
}

void NoFlush(png_structp /*png*/) {}

// Kept apart from any C++ object with a destructor: libpng leaves through
// longjmp on an error.
bool EncodePngRows(png_structp png, png_infop info, const BoxThumbnail& thumb,
                   std::vector<png_text>* text, png_bytep* rows) {
  if (setjmp(png_jmpbuf(png)) != 0) return false;
  png_set_IHDR(png, info, static_cast<png_uint_32>(thumb.width),
               static_cast<png_uint_32>(thumb.height), 8,
               thumb.has_alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!text->empty()) {
    png_set_text(png, info, text->data(), static_cast<int>(text->size()));
  }
  png_set_rows(png, info, rows);
  png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  return true;
}

struct ModeStep {
  mode_t mode;
};

void SetMode(int fd, void* context) {
  fchmod(fd, static_cast<const ModeStep*>(context)->mode);
}

}  // namespace

PixelSize FitInBox(int32_t width, int32_t height, int32_t box_px) {
  if (width <= 0 || height <= 0 || box_px <= 0) return {};
  if (width <= box_px && height <= box_px) return {width, height};
  const auto other = [box_px](int32_t shorter, int32_t longer) {
    const double side =
        platform::RoundHalfEven(static_cast<double>(shorter) * box_px / longer);
    return std::max<int32_t>(1, static_cast<int32_t>(side));
  };
  if (width >= height) return {box_px, other(height, width)};
  return {other(width, height), box_px};
}

decoders::DecodeHint BoxHint(int32_t box_px) {
  decoders::DecodeHint hint;
  hint.target_width_px = box_px;
  hint.target_height_px = box_px;
  return hint;
}

BoxThumbnail ScaleIntoBox(const decoders::DecodedImage& image, int32_t box_px,
                          bool has_alpha) {
  BoxThumbnail thumb;
  const PixelSize size = FitInBox(image.width, image.height, box_px);
  if (size.width == 0 || image.pixel_width <= 0 || image.pixel_height <= 0) {
    return thumb;
  }
  thumb.width = size.width;
  thumb.height = size.height;
  thumb.has_alpha = has_alpha;
  const image::ConstImageView source = View(
      image.bgrx, image.pixel_width, image.pixel_height, image.stride_bytes);
  std::vector<uint8_t> colour;
  std::vector<uint8_t> alpha;
  if (!has_alpha) {
    Stretch(source, image.area, &colour, size);
  } else {
    // Colours weighted by their alpha, so that a transparent pixel's colour
    // does not bleed into its neighbours; the alpha scaled on its own.
    std::vector<uint8_t> weighted =
        Buffer(image.pixel_width, image.pixel_height, 4);
    std::vector<uint8_t> opacity = weighted;
    for (int32_t y = 0; y < image.pixel_height; ++y) {
      const uint8_t* in = source.Row(y);
      uint8_t* out =
          weighted.data() +
          static_cast<size_t>(y) * static_cast<size_t>(image.pixel_width) * 4;
      uint8_t* op = opacity.data() + (out - weighted.data());
      for (int32_t x = 0; x < image.pixel_width;
           ++x, in += 4, out += 4, op += 4) {
        const unsigned a = in[3];
        for (int c = 0; c < 3; ++c) {
          out[c] = static_cast<uint8_t>((in[c] * a + 127) / 255);
          op[c] = static_cast<uint8_t>(a);
        }
        out[3] = op[3] = 255;
      }
    }
    const ptrdiff_t stride = static_cast<ptrdiff_t>(image.pixel_width) * 4;
    Stretch(View(weighted, image.pixel_width, image.pixel_height, stride),
            image.area, &colour, size);
    Stretch(View(opacity, image.pixel_width, image.pixel_height, stride),
            image.area, &alpha, size);
  }
  const int32_t channels = has_alpha ? 4 : 3;
  thumb.pixels = Buffer(size.width, size.height, channels);
  const size_t count =
      static_cast<size_t>(size.width) * static_cast<size_t>(size.height);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* in = colour.data() + i * 4;
    uint8_t* out = thumb.pixels.data() + i * static_cast<size_t>(channels);
    if (!has_alpha) {
      out[0] = in[2];
      out[1] = in[1];
      out[2] = in[0];
      continue;
    }
    const unsigned a = alpha[i * 4];
    for (int c = 0; c < 3; ++c) {
      out[c] = a == 0 ? 0
                      : static_cast<uint8_t>(
                            std::min(255U, (in[2 - c] * 255U + a / 2) / a));
    }
    out[3] = static_cast<uint8_t>(a);
  }
  return thumb;
}

std::string EncodePng(const BoxThumbnail& thumb, const PngText& text,
                      std::vector<uint8_t>* bytes) {
  if (thumb.width <= 0 || thumb.height <= 0) return "nothing to write";
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    return "out of memory";
  }
  PngSink sink;
  png_set_write_fn(png, &sink, AppendToSink, NoFlush);
  // Small pictures: a fast deflate loses a few per cent of size and wins
  // most of the time spent.
  png_set_compression_level(png, 3);
  std::vector<png_text> entries;
  for (const auto& [key, value] : text) {
    png_text entry{};
    entry.compression = PNG_TEXT_COMPRESSION_NONE;
    entry.key = const_cast<char*>(key.c_str());
    entry.text = const_cast<char*>(value.c_str());
    entry.text_length = value.size();
    entries.push_back(entry);
  }
  const size_t row_bytes = static_cast<size_t>(thumb.width) *
                           (thumb.has_alpha ? size_t{4} : size_t{3});
  std::vector<png_bytep> rows(static_cast<size_t>(thumb.height));
  for (size_t y = 0; y < rows.size(); ++y) {
    rows[y] = const_cast<png_bytep>(thumb.pixels.data() + y * row_bytes);
  }
  const bool encoded = EncodePngRows(png, info, thumb, &entries, rows.data());
  png_destroy_write_struct(&png, &info);
  if (!encoded) return "the PNG could not be encoded";
  *bytes = std::move(sink.bytes);
  return {};
}

std::string WritePng(const BoxThumbnail& thumb, const std::string& path,
                     const PngText& text, mode_t mode, bool sync) {
  std::vector<uint8_t> bytes;
  if (std::string why = EncodePng(thumb, text, &bytes); !why.empty()) {
    return why;
  }
  ModeStep step{mode};
  switch (platform::ReplaceFile(path, bytes, mode != 0 ? SetMode : nullptr,
                                &step, sync)) {
    case platform::ReplaceResult::kDone:
      return {};
    case platform::ReplaceResult::kCannotCreate:
      return "could not be created";
    case platform::ReplaceResult::kCannotWrite:
      return "could not be written";
    case platform::ReplaceResult::kCannotReplace:
      return "could not replace the file there";
  }
  return "could not be written";
}

}  // namespace vg::thumbnail
