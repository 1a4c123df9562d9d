#include "decoders/internal/png_decoder.h"

#include <lcms2.h>
#include <libdeflate.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "decoders/internal/byte_order.h"
#include "decoders/internal/decode_budget.h"
#include "decoders/internal/icc_transform.h"
#include "decoders/internal/picture_error.h"
#include "decoders/internal/png_rows.h"
#include "decoders/internal/qt_decoder.h"
#include "decoders/internal/row_reducer.h"
#include "platform/error.h"

namespace vg::decoders::decoders_internal {
namespace {

// Everything below that libpng can see is plain data: a libpng error leaves
// through longjmp, which must not skip a C++ destructor.

// Where the file's bytes come from: memory, or a file read ahead in blocks.
struct Source {
  bool in_memory;  // the whole file is at `data`; else read `fd`
  const uint8_t* data;
  size_t size;
  int fd;
  uint64_t file_at;  // next offset to read from `fd`
  size_t at;         // next byte of `data`, or of `block`
  size_t block_length;
  bool io_error;    // reading `fd` failed (not: it ended)
  char reason[96];  // libpng's words when it gave up; may be empty
  // The last 8 bytes libpng read: once it has read the header, the first
  // IDAT chunk's length and type.
  uint8_t tail[8];
  size_t whole_inflate_bytes;  // see kPngWholeInflateBytes
  uint8_t block[size_t{1} << 16];
};

// Returns the next bytes of the file, up to `most`, where they lie (memory,
// or the block, read again from the file when it is spent), and moves past
// them; empty when the file ends or cannot be read. What it returns stays
// valid until the next read.
std::span<const uint8_t> TakeBytes(Source* s, size_t most) {
  if (s->in_memory) {
    const size_t n = std::min(most, s->size - s->at);
    s->at += n;
    return {s->data + s->at - n, n};
  }
  if (s->at == s->block_length) {
    ssize_t n = 0;
    do {
      n = pread(s->fd, s->block, sizeof s->block,
                static_cast<off_t>(s->file_at));
    } while (n < 0 && errno == EINTR);
    if (n < 0) s->io_error = true;
    if (n <= 0) return {};
    s->file_at += static_cast<uint64_t>(n);
    s->block_length = static_cast<size_t>(n);
    s->at = 0;
  }
  const size_t n = std::min(most, s->block_length - s->at);
  s->at += n;
  return {s->block + s->at - n, n};
}

// Copies the next `length` bytes to `out`; false when the file ends first
// or cannot be read.
bool ReadBytes(Source* s, uint8_t* out, size_t length) {
  while (length > 0) {
    const std::span<const uint8_t> bytes = TakeBytes(s, length);
    if (bytes.empty()) return false;
    std::memcpy(out, bytes.data(), bytes.size());
    out += bytes.size();
    length -= bytes.size();
  }
  return true;
}

void ReadCallback(png_structp png, png_bytep out, size_t length) {
  auto* s = static_cast<Source*>(png_get_io_ptr(png));
  if (!ReadBytes(s, out, length)) png_error(png, "the file ends early");
  if (length >= sizeof s->tail) {
    std::memcpy(s->tail, out + length - sizeof s->tail, sizeof s->tail);
  } else {
    std::memmove(s->tail, s->tail + length, sizeof s->tail - length);
    std::memcpy(s->tail + sizeof s->tail - length, out, length);
  }
}

// libpng's words ("Invalid IHDR data", "Not a PNG file"...) are kept for the
// failure's reason.
[[noreturn]] void OnError(png_structp png, png_const_charp message) {
  auto* source = static_cast<Source*>(png_get_io_ptr(png));
  if (source != nullptr) {
    std::snprintf(source->reason, sizeof source->reason, "%s",
                  message != nullptr ? message : "");
  }
  png_longjmp(png, 1);
}

// Warnings (a damaged ancillary chunk) are not printed.
void OnWarning(png_structp, png_const_charp) {}

struct Header {
  png_uint_32 width;
  png_uint_32 height;
  int bit_depth;
  int color_type;
  int interlace;
  png_bytep icc;  // owned by libpng's info
  png_uint_32 icc_length;
  bool srgb;
  // The file's gAMA and cHRM in libpng's units of 1/100000; gamma 0 when it
  // has no gAMA.
  png_fixed_point gamma;
  bool chrm;
  png_fixed_point white_x, white_y, red_x, red_y, green_x, green_y, blue_x,
      blue_y;
  // PLTE and tRNS as stored, before the transforms expand them.
  uint8_t palette[256 * 3];
  int palette_entries;
  uint8_t palette_alpha[256];
  int palette_alphas;
  bool has_key;
  uint16_t key[3];
  // After the transforms: 8-bit samples, 1 to 4 of them a pixel.
  int channels;
  size_t row_bytes;
  int passes;
};

struct Session {
  png_structp png;
  png_infop info;
  Source* source;
  Header header;
  // The decode.
  RowReducer* reducer;
  const IccTransform* icc;  // null, or converts rows to sRGB
  uint8_t* row;             // one row as libpng gives it
  uint8_t* converted;       // two BGRX rows, when rows are converted
  png_bytepp whole;         // every row, for an interlaced file
};

void ReadHeader(Session* s) {
  png_set_read_fn(s->png, s->source, ReadCallback);
#if defined(PNG_SET_OPTION_SUPPORTED) && defined(PNG_MAXIMUM_INFLATE_WINDOW)
  // Some writers mark a smaller window than they use: read them anyway.
  png_set_option(s->png, PNG_MAXIMUM_INFLATE_WINDOW, PNG_OPTION_ON);
#endif
  // A thumbnail does not check the pixel data's checksums: neither the
  // zlib stream's Adler-32 nor the CRC-32 of the critical chunks (IHDR,
  // PLTE, IDAT) is computed, a pass over every byte of a large file. A
  // file cut short or whose compressed data does not inflate is still
  // refused; one with a few wrong bytes inside its pixel data gives a
  // picture with wrong pixels, as viewers show it. The CRCs of ancillary
  // chunks (gAMA, iCCP...) are still checked, so a damaged colour chunk is
  // dropped rather than applied.
#if defined(PNG_SET_OPTION_SUPPORTED) && defined(PNG_IGNORE_ADLER32)
  png_set_option(s->png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
#endif
  png_set_crc_action(s->png, PNG_CRC_QUIET_USE, PNG_CRC_DEFAULT);
  // IDAT data is inflated in blocks of this size, not libpng's 8 KiB.
  png_set_compression_buffer_size(s->png, sizeof s->source->block);
  // The sides are checked by us, to say "too large" rather than "damaged".
  png_set_user_limits(s->png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
  // Text and suggested palettes are never used: skipped, not stored.
  static const png_byte kSkipped[] = "tEXt\0zTXt\0iTXt\0sPLT";
  png_set_keep_unknown_chunks(s->png, PNG_HANDLE_CHUNK_NEVER, kSkipped, 4);
  png_read_info(s->png, s->info);
  Header& h = s->header;
  png_get_IHDR(s->png, s->info, &h.width, &h.height, &h.bit_depth,
               &h.color_type, &h.interlace, nullptr, nullptr);
  png_charp name = nullptr;
  int compression = 0;
  if (png_get_iCCP(s->png, s->info, &name, &compression, &h.icc,
                   &h.icc_length) == 0) {
    h.icc = nullptr;
    h.icc_length = 0;
  }
  int intent = 0;
  h.srgb = png_get_sRGB(s->png, s->info, &intent) != 0;
  if (png_get_gAMA_fixed(s->png, s->info, &h.gamma) == 0) h.gamma = 0;
  h.chrm = png_get_cHRM_fixed(s->png, s->info, &h.white_x, &h.white_y, &h.red_x,
                              &h.red_y, &h.green_x, &h.green_y, &h.blue_x,
                              &h.blue_y) != 0;
  png_colorp palette = nullptr;
  h.palette_entries = 0;
  if (png_get_PLTE(s->png, s->info, &palette, &h.palette_entries) == 0 ||
      h.palette_entries < 0 || h.palette_entries > 256) {
    h.palette_entries = 0;
  }
  for (size_t i = 0; i < static_cast<size_t>(h.palette_entries); ++i) {
    h.palette[i * 3] = palette[i].red;
    h.palette[i * 3 + 1] = palette[i].green;
    h.palette[i * 3 + 2] = palette[i].blue;
  }
  png_bytep alphas = nullptr;
  png_color_16p key = nullptr;
  h.palette_alphas = 0;
  h.has_key = false;
  if (png_get_tRNS(s->png, s->info, &alphas, &h.palette_alphas, &key) != 0) {
    if (h.color_type == PNG_COLOR_TYPE_PALETTE && alphas != nullptr &&
        h.palette_alphas > 0 && h.palette_alphas <= 256) {
      std::memcpy(h.palette_alpha, alphas,
                  static_cast<size_t>(h.palette_alphas));
    } else {
      h.palette_alphas = 0;
      h.has_key = key != nullptr && (h.color_type == PNG_COLOR_TYPE_GRAY ||
                                     h.color_type == PNG_COLOR_TYPE_RGB);
      if (h.has_key) {
        h.key[0] = h.color_type == PNG_COLOR_TYPE_GRAY ? key->gray : key->red;
        h.key[1] = key->green;
        h.key[2] = key->blue;
      }
    }
  }
}

void SetUpTransforms(Session* s) {
  // Palettes to RGB, grey under 8 bits to 8, tRNS to an alpha channel.
  png_set_expand(s->png);
  // Rounded, not cut: 0x80FF is 128, as QtGui makes it.
  png_set_scale_16(s->png);
  s->header.passes = png_set_interlace_handling(s->png);
  png_read_update_info(s->png, s->info);
  s->header.channels = png_get_channels(s->png, s->info);
  s->header.row_bytes = png_get_rowbytes(s->png, s->info);
}

// Hands one row of libpng's to the reducer, converted to sRGB first when
// the file's colours are not. Never fails.
void DeliverRow(Session* s, const uint8_t* row) {
  if (s->icc == nullptr) {
    s->reducer->AddRow(row);
    return;
  }
  const int channels = s->header.channels;
  const bool grey = channels <= 2;
  const auto width = static_cast<size_t>(s->header.width);
  uint8_t* in = s->converted;
  uint8_t* out = s->converted + width * 4;
  for (size_t x = 0; x < width; ++x) {
    const uint8_t* p = row + x * static_cast<size_t>(channels);
    if (grey) {
      in[x] = p[0];
    } else {
      in[x * 4] = p[2];
      in[x * 4 + 1] = p[1];
      in[x * 4 + 2] = p[0];
      in[x * 4 + 3] = 255;
    }
  }
  s->icc->Convert(in, out, static_cast<int32_t>(width));
  if (channels == 2 || channels == 4) {
    // The reducer takes RGBA: the alpha goes back beside the new colours.
    for (size_t x = 0; x < width; ++x) {
      std::swap(out[x * 4], out[x * 4 + 2]);
      out[x * 4 + 3] = row[x * static_cast<size_t>(channels) +
                           static_cast<size_t>(channels) - 1];
    }
  }
  s->reducer->AddRow(out);
}

void ReadRows(Session* s) {
  const png_uint_32 height = s->header.height;
  if (s->header.passes > 1) {
    png_read_image(s->png, s->whole);
    for (png_uint_32 y = 0; y < height; ++y) DeliverRow(s, s->whole[y]);
    return;
  }
  for (png_uint_32 y = 0; y < height; ++y) {
    png_read_row(s->png, s->row, nullptr);
    DeliverRow(s, s->row);
  }
}

// The rows of a non-interlaced file are inflated, unfiltered and expanded
// here rather than by libpng. A picture whose rows and file both fit in
// kPngWholeInflateBytes is inflated in one go by libdeflate, three times as
// fast as zlib; a larger one is inflated by zlib a block of rows at a time,
// so that it still takes a few rows of memory. The filters of 3- and 4-byte
// pixels are undone a pixel at a time. libpng has read the header and
// stands at the first IDAT chunk's data.

// The data of the IDAT chunks one after the other.
class IdatData {
 public:
  IdatData(Source* source, uint32_t left) : source_(source), left_(left) {}

  // Returns the next compressed bytes, valid until the next call; empty
  // after the last IDAT chunk. Raises when the file cannot be read, or
  // ends inside a chunk.
  std::span<const uint8_t> Next() {
    while (left_ == 0) {
      // The chunk's CRC, then the next chunk's length and type.
      uint8_t between[12];
      if (ended_ || !ReadBytes(source_, between, sizeof between) ||
          std::memcmp(between + 8, "IDAT", 4) != 0) {
        if (source_->io_error) RaisePictureError(platform::kErrPathFileAccess);
        ended_ = true;
        return {};
      }
      left_ = Be32(between, 4);
    }
    const std::span<const uint8_t> bytes = TakeBytes(source_, left_);
    if (bytes.empty()) {
      if (source_->io_error) RaisePictureError(platform::kErrPathFileAccess);
      RaiseInvalidPicture("PNG: the file ends early");
    }
    left_ -= static_cast<uint32_t>(bytes.size());
    return bytes;
  }

 private:
  Source* source_;
  uint32_t left_;
  bool ended_ = false;
};

class Inflater {
 public:
  Inflater() {
    // A window of 32 KiB whatever the stream's header says: some writers
    // mark a smaller one than they use.
    if (inflateInit2(&stream_, 15) != Z_OK) throw std::bad_alloc();
    // The checksum is not computed (see ReadHeader).
    inflateValidate(&stream_, 0);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  ~Inflater() { inflateEnd(&stream_); }

  // Fills `out` whole from the bytes `next` gives (empty at their end);
  // raises when the stream is damaged or ends first.
  void Fill(const std::function<std::span<const uint8_t>()>& next,
            std::span<uint8_t> out) {
    stream_.next_out = out.data();
    stream_.avail_out = static_cast<uInt>(out.size());
    while (stream_.avail_out > 0) {
      if (stream_.avail_in == 0) {
        const std::span<const uint8_t> bytes = next();
        if (bytes.empty()) RaiseInvalidPicture("PNG: Not enough image data");
        // NOLINTNEXTLINE(cppcoreguidelines-pro-type-const-cast): zlib's API
        stream_.next_in = const_cast<Bytef*>(bytes.data());
        stream_.avail_in = static_cast<uInt>(bytes.size());
      }
      const int result = inflate(&stream_, Z_NO_FLUSH);
      if (result == Z_STREAM_END && stream_.avail_out > 0) {
        RaiseInvalidPicture("PNG: Not enough image data");
      }
      if (result != Z_OK && result != Z_STREAM_END) {
        RaiseInvalidPicture(std::string("PNG: ") + (stream_.msg != nullptr
                                                        ? stream_.msg
                                                        : "damaged data"));
      }
    }
  }

 private:
  z_stream stream_ = {};
};

// What the fast reader needs to know of the file, when it can read it.
std::optional<PngRowFormat> FastRowFormat(Session* s) {
  const Header& h = s->header;
  if (h.passes != 1 || std::memcmp(s->source->tail + 4, "IDAT", 4) != 0) {
    return std::nullopt;
  }
  PngRowFormat format;
  format.width = h.width;
  format.bit_depth = h.bit_depth;
  format.color_type = h.color_type;
  format.palette = {h.palette, static_cast<size_t>(h.palette_entries) * 3};
  format.palette_alpha = {h.palette_alpha,
                          static_cast<size_t>(h.palette_alphas)};
  format.has_key = h.has_key;
  format.key = {h.key[0], h.key[1], h.key[2]};
  // Whatever libpng would have made of the file, the rows must be the same.
  if (PngRowExpander(format).channels() != h.channels) return std::nullopt;
  return format;
}

// Rows inflated together by zlib: its fast loop wants room for a long match.
constexpr size_t kInflateBlock = size_t{1} << 16;

// The bytes of a row as stored, with its filter type before them.
size_t StoredStride(const PngRowFormat& format) {
  return PngRowExpander(format).stored_bytes() + 1;
}

// Returns the length of the file; the largest length when it is unknown.
uint64_t FileBytes(const Source* source) {
  if (source->in_memory) return source->size;
  struct stat info {};
  if (fstat(source->fd, &info) != 0 || info.st_size < 0) return UINT64_MAX;
  return static_cast<uint64_t>(info.st_size);
}

// Returns the room for a copy of the compressed data (the file's length)
// when the picture's rows are inflated in one go, 0 when a block at a time.
// Decided once, before the lease: a file that grows afterwards does not
// change the way, nor take more than was leased.
uint64_t WholeInflateCopyBytes(const Session* s, const PngRowFormat& format) {
  const size_t most = s->source->whole_inflate_bytes;
  const uint64_t file_bytes = FileBytes(s->source);
  const bool whole = file_bytes > 0 && file_bytes <= most &&
                     StoredStride(format) <= most / s->header.height;
  return whole ? file_bytes : 0;
}

// Inflates a whole zlib stream into `out` with libdeflate, its checksum
// unread; false when the stream is damaged or does not fill `out` exactly.
bool InflateWithLibdeflate(std::span<const uint8_t> stream,
                           std::span<uint8_t> out) {
  // CMF and FLG: deflate, no preset dictionary, their check.
  if (stream.size() < 2 || (stream[0] & 0x0F) != 8 || (stream[1] & 0x20) != 0 ||
      (stream[0] << 8 | stream[1]) % 31 != 0) {
    return false;
  }
  std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)>
      inflater(libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
  if (inflater == nullptr) throw std::bad_alloc();
  size_t used = 0;
  size_t made = 0;
  return libdeflate_deflate_decompress_ex(
             inflater.get(), stream.data() + 2, stream.size() - 2, out.data(),
             out.size(), &used, &made) == LIBDEFLATE_SUCCESS &&
         made == out.size();
}

// Undoes the filters of `count` rows stored one after the other in `rows`,
// the first below `above`, and hands them on; `above` becomes the last.
void DeliverStoredRows(Session* s, const PngRowExpander& expander,
                       uint8_t* rows, size_t count, const uint8_t*& above) {
  const size_t stored = expander.stored_bytes();
  auto deliver = [&](uint8_t* row) {
    if (expander.as_stored()) {
      DeliverRow(s, row);
    } else {
      expander.Expand(row, s->row);
      DeliverRow(s, s->row);
    }
  };
  // Two rows of one filter type at a time: Paeth rows are undone together.
  for (size_t r = 0; r < count;) {
    uint8_t* row = rows + r * (stored + 1);
    uint8_t* next = row + stored + 1;
    const bool pair = r + 1 < count && next[0] == row[0];
    if (!(pair ? UnfilterPngRows(row[0], row + 1, next[0], next + 1, above,
                                 stored, expander.filter_bpp())
               : UnfilterPngRow(row[0], row + 1, above, stored,
                                expander.filter_bpp()))) {
      RaiseInvalidPicture("PNG: bad adaptive filter value");
    }
    deliver(row + 1);
    if (pair) deliver(next + 1);
    above = (pair ? next : row) + 1;
    r += pair ? 2 : 1;
  }
}

void ReadRowsInflating(Session* s, const PngRowFormat& format,
                       uint64_t copy_bytes) {
  const PngRowExpander expander(format);
  const size_t stored = expander.stored_bytes();
  const size_t stride = stored + 1;
  const size_t height = s->header.height;
  IdatData data(s->source, Be32(s->source->tail, 0));
  std::function<std::span<const uint8_t>()> next = [&] { return data.Next(); };
  std::vector<uint8_t> zeros;
  Allocate(zeros, stored);
  const uint8_t* above = zeros.data();

  if (copy_bytes > 0) {
    // The chunks' data where it lies when there is one chunk in memory,
    // else copied one after the other (a file's block is read again).
    std::span<const uint8_t> stream = data.Next();
    std::vector<uint8_t> joined;
    size_t length = 0;
    auto join = [&](std::span<const uint8_t> bytes) {
      if (joined.empty()) Allocate(joined, static_cast<size_t>(copy_bytes));
      if (bytes.size() > joined.size() - length) {
        RaiseInvalidPicture("PNG: the file grew as it was read");
      }
      std::memcpy(joined.data() + length, bytes.data(), bytes.size());
      length += bytes.size();
    };
    if (!s->source->in_memory) join(stream);
    for (std::span<const uint8_t> more = data.Next(); !more.empty();
         more = data.Next()) {
      if (joined.empty()) join(stream);
      join(more);
    }
    if (!joined.empty()) stream = {joined.data(), length};
    std::vector<uint8_t> rows;
    Allocate(rows, stride * height);
    if (!InflateWithLibdeflate(stream, rows)) {
      // zlib, which takes what it can of a stream that runs on past the
      // rows, and says what is wrong with a damaged one.
      bool given = false;
      Inflater inflater;
      inflater.Fill(
          [&]() -> std::span<const uint8_t> {
            if (given) return {};
            given = true;
            return stream;
          },
          rows);
    }
    DeliverStoredRows(s, expander, rows.data(), height, above);
    return;
  }

  std::vector<uint8_t> block;
  std::vector<uint8_t> prior;
  const size_t rows_a_block =
      std::min(height, std::max<size_t>(1, kInflateBlock / stride));
  Allocate(block, rows_a_block * stride);
  Allocate(prior, stored);
  Inflater inflater;
  for (size_t y = 0; y < height;) {
    const size_t rows = std::min(rows_a_block, height - y);
    inflater.Fill(next, {block.data(), rows * stride});
    DeliverStoredRows(s, expander, block.data(), rows, above);
    std::memcpy(prior.data(), above, stored);
    above = prior.data();
    y += rows;
  }
}

// Runs `step`; returns false when libpng gave up.
bool Guarded(Session* s, void (*step)(Session*)) {
  if (setjmp(png_jmpbuf(s->png)) != 0) return false;
  step(s);
  return true;
}

// Owns libpng's structures for one decode.
class SessionOwner {
 public:
  explicit SessionOwner(Source* source) : session_(new Session()) {
    session_->source = source;
    session_->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr,
                                           OnError, OnWarning);
    if (session_->png == nullptr) throw std::bad_alloc();
    session_->info = png_create_info_struct(session_->png);
    if (session_->info == nullptr) {
      png_destroy_read_struct(&session_->png, nullptr, nullptr);
      throw std::bad_alloc();
    }
  }
  SessionOwner(const SessionOwner&) = delete;
  SessionOwner& operator=(const SessionOwner&) = delete;
  ~SessionOwner() {
    png_destroy_read_struct(&session_->png, &session_->info, nullptr);
  }
  Session* get() const { return session_.get(); }

 private:
  std::unique_ptr<Session> session_;
};

double FromFixed(png_fixed_point v) { return v / double{PNG_FP_1}; }

// Returns an ICC profile for what the gAMA chunk (and cHRM, when present)
// say: the file's primaries, or sRGB's, with a plain power curve.
std::vector<uint8_t> GammaProfile(const Header& h, bool grey) {
  cmsToneCurve* curve = cmsBuildGamma(nullptr, 1.0 / FromFixed(h.gamma));
  if (curve == nullptr) return {};
  const cmsCIExyY white =
      h.chrm ? cmsCIExyY{FromFixed(h.white_x), FromFixed(h.white_y), 1.0}
             : cmsCIExyY{0.3127, 0.3290, 1.0};
  cmsHPROFILE profile = nullptr;
  if (grey) {
    profile = cmsCreateGrayProfile(&white, curve);
  } else {
    const cmsCIExyYTRIPLE primaries =
        h.chrm
            ? cmsCIExyYTRIPLE{{FromFixed(h.red_x), FromFixed(h.red_y), 1.0},
                              {FromFixed(h.green_x), FromFixed(h.green_y), 1.0},
                              {FromFixed(h.blue_x), FromFixed(h.blue_y), 1.0}}
            : cmsCIExyYTRIPLE{
                  {0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve* curves[3] = {curve, curve, curve};
    profile = cmsCreateRGBProfile(&white, &primaries, curves);
  }
  cmsFreeToneCurve(curve);
  if (profile == nullptr) return {};
  std::vector<uint8_t> bytes;
  cmsUInt32Number length = 0;
  if (cmsSaveProfileToMem(profile, nullptr, &length) != 0 && length > 0) {
    bytes.resize(length);
    if (cmsSaveProfileToMem(profile, bytes.data(), &length) == 0) bytes = {};
  }
  cmsCloseProfile(profile);
  return bytes;
}

}  // namespace

bool GammaMeansSrgb(const PngGamma& g) {
  // libpng's PNG_GAMMA_sRGB_INVERSE.
  constexpr int64_t kSrgbGamma = 45455;
  // png_gamma_significant: the file's gamma over sRGB's, rounded to units
  // of 1/100000 as png_muldiv rounds it, within 1 +- 0.05
  // (PNG_GAMMA_THRESHOLD_FIXED, 5000 units) is no gamma change.
  constexpr int64_t kGammaThreshold = 5000;
  if (g.gamma <= 0) return false;
  const auto ratio = static_cast<int64_t>(std::floor(
      static_cast<double>(g.gamma) * double{PNG_FP_1} / kSrgbGamma + 0.5));
  if (ratio < PNG_FP_1 - kGammaThreshold ||
      ratio > PNG_FP_1 + kGammaThreshold) {
    return false;
  }
  if (!g.chrm) return true;
  // sRGB's white point and primaries (libpng's sRGB_xy), each coordinate
  // allowed 100 units off, as png_colorspace_endpoints_match is.
  constexpr int64_t kSrgbXy[8] = {31270, 32900, 64000, 33000,
                                  30000, 60000, 15000, 6000};
  constexpr int64_t kXyTolerance = 100;
  for (size_t i = 0; i < 8; ++i) {
    if (std::abs(g.xy[i] - kSrgbXy[i]) > kXyTolerance) return false;
  }
  return true;
}

namespace {

// Returns the conversion of the file's colours to sRGB: its ICC profile
// when that is sound, else none when an sRGB chunk, or a gAMA and cHRM
// that match sRGB's, say it is sRGB, else its gamma and primaries; an empty
// transform when its colours are taken as sRGB.
IccTransform ColourTransform(const Header& h) {
  const bool grey = h.channels <= 2;
  const IccInput input = grey ? IccInput::kGray : IccInput::kBgrx;
  if (h.icc != nullptr && h.icc_length > 0) {
    IccTransform icc = IccTransform::ToSrgb({h.icc, h.icc_length}, input);
    if (icc.applies()) return icc;
  }
  if (h.srgb || h.gamma <= 0) return {};
  const PngGamma g{h.gamma,
                   h.chrm,
                   {h.white_x, h.white_y, h.red_x, h.red_y, h.green_x,
                    h.green_y, h.blue_x, h.blue_y}};
  if (GammaMeansSrgb(g)) return {};
  std::vector<uint8_t> profile = GammaProfile(h, grey);
  return IccTransform::ToSrgb(profile, input);
}

RowLayout LayoutOf(const Header& h, bool converted) {
  switch (h.channels) {
    case 1:
      return converted ? RowLayout::kBgrx : RowLayout::kGrey;
    case 2:
      return converted ? RowLayout::kRgba : RowLayout::kGreyAlpha;
    case 3:
      return converted ? RowLayout::kBgrx : RowLayout::kRgb;
    default:
      return RowLayout::kRgba;
  }
}

DecodedImage Decode(Source* source, const DecodeHint& hint,
                    DecodeBudget& budget) {
  // What the decode takes from `budget`, given back after libpng
  // has freed its own (the owner goes first).
  DecodeBudget::Lease lease;
  SessionOwner owner(source);
  Session* s = owner.get();
  auto fail = [&] {
    if (source->io_error) RaisePictureError(platform::kErrPathFileAccess);
    if (source->reason[0] != 0) {
      RaiseInvalidPicture(std::string("PNG: ") + source->reason);
    }
    RaisePictureError(platform::kErrInvalidPicture);
  };
  if (!Guarded(s, ReadHeader)) fail();
  const Header& h = s->header;
  CheckPictureSides(h.width, h.height);
  if (!Guarded(s, SetUpTransforms)) fail();
  if (h.channels < 1 || h.channels > 4 ||
      h.row_bytes != size_t{h.width} * static_cast<size_t>(h.channels)) {
    RaiseInvalidPicture("PNG: unexpected row layout");
  }
  const auto width = static_cast<int32_t>(h.width);
  const auto height = static_cast<int32_t>(h.height);
  const int32_t factor = ReductionFactor(width, height, hint);
  CheckDecodedPixels(width, height, (width + factor - 1) / factor,
                     (height + factor - 1) / factor);
  const int64_t whole_bytes =
      h.passes > 1 ? static_cast<int64_t>(h.row_bytes) * height : 0;
  if (whole_bytes > kMaxPngInterlacedBytes) {
    RaisePictureTooLarge(
        width, height,
        "an interlaced PNG, read whole: " + std::to_string(whole_bytes >> 20) +
            " MB, over " + std::to_string(kMaxPngInterlacedBytes >> 20) +
            " MB");
  }
  const IccTransform icc = ColourTransform(h);
  const int64_t row_bytes = int64_t{width} * 4;
  const std::optional<PngRowFormat> fast_rows = FastRowFormat(s);
  // The fast reader's rows, inflated in one go with a copy of the file's
  // compressed data, or a block of them; the rows above them.
  int64_t fast_bytes = 0;
  uint64_t copy_bytes = 0;
  if (fast_rows) {
    copy_bytes = WholeInflateCopyBytes(s, *fast_rows);
    fast_bytes = copy_bytes > 0
                     ? static_cast<int64_t>(
                           StoredStride(*fast_rows) * h.height + copy_bytes)
                     : static_cast<int64_t>(kInflateBlock);
    fast_bytes += 2 * row_bytes;
  }
  lease =
      budget.Take(RowReducer::OutputBytes(width, height, factor) + whole_bytes +
                  fast_bytes + row_bytes * (factor > 1 ? 4 : 3));

  std::optional<RowReducer> reducer;
  try {
    reducer.emplace(width, height, factor, LayoutOf(h, icc.valid()),
                    hint.keep_alpha);
  } catch (const std::bad_alloc&) {
    RaisePictureError(platform::kErrOutOfMemory);
  }
  std::vector<uint8_t> row;
  std::vector<uint8_t> converted;
  std::vector<uint8_t> whole;
  std::vector<png_bytep> whole_rows;
  Allocate(row, h.row_bytes);
  if (icc.valid()) Allocate(converted, static_cast<size_t>(row_bytes) * 2);
  if (whole_bytes > 0) {
    Allocate(whole, static_cast<size_t>(whole_bytes));
    Allocate(whole_rows, static_cast<size_t>(height));
    for (size_t y = 0; y < whole_rows.size(); ++y) {
      whole_rows[y] = whole.data() + y * h.row_bytes;
    }
  }
  s->reducer = &*reducer;
  s->icc = icc.valid() ? &icc : nullptr;
  s->row = row.data();
  s->converted = converted.data();
  s->whole = whole_rows.data();
  if (fast_rows) {
    ReadRowsInflating(s, *fast_rows, copy_bytes);
  } else if (!Guarded(s, ReadRows)) {
    fail();
  }
  return reducer->Finish();
}

}  // namespace

DecodedImage DecodePng(std::span<const uint8_t> bytes, const DecodeHint& hint,
                       DecodeBudget& budget, size_t whole_inflate_bytes) {
  // Before libpng reads it: a chunk that claims more than the file holds.
  if (!PngChunksFit(bytes)) {
    RaiseInvalidPicture("PNG: a chunk runs past the end of the file");
  }
  auto source = std::make_unique<Source>();
  source->in_memory = true;
  source->data = bytes.data();
  source->size = bytes.size();
  source->whole_inflate_bytes = whole_inflate_bytes;
  return Decode(source.get(), hint, budget);
}

DecodedImage DecodePng(std::span<const uint8_t> bytes, const DecodeHint& hint,
                       DecodeBudget& budget) {
  return DecodePng(bytes, hint, budget, kPngWholeInflateBytes);
}

DecodedImage DecodePngFile(int fd, const DecodeHint& hint,
                           DecodeBudget& budget) {
  auto source = std::make_unique<Source>();
  source->fd = fd;
  source->whole_inflate_bytes = kPngWholeInflateBytes;
  return Decode(source.get(), hint, budget);
}

}  // namespace vg::decoders::decoders_internal
