#include "decoders/internal/jpeg_decoder.h"

// jpeglib.h needs size_t and FILE declared before it.
#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "decoders/internal/decode_budget.h"
#include "decoders/internal/exif_orientation.h"
#include "decoders/internal/icc_transform.h"
#include "decoders/internal/jpeg_dc.h"
#include "decoders/internal/jpeg_reduced.h"
#include "decoders/internal/orientation.h"
#include "decoders/internal/picture_error.h"
#include "platform/error.h"

namespace vg::decoders::decoders_internal {
namespace {

// Everything below that libjpeg can see is plain data: a libjpeg error
// leaves through longjmp, which must not skip a C++ destructor.

struct ErrorManager {
  jpeg_error_mgr pub;  // first: libjpeg hands back a jpeg_error_mgr*
  std::jmp_buf jump;
  int32_t failure;               // the error number to raise once back
  char reason[JMSG_LENGTH_MAX];  // why, for a 481; may be empty
};

struct SourceManager {
  jpeg_source_mgr pub;  // first: libjpeg hands back a jpeg_source_mgr*
  bool ran_dry;
  int scan_at_eof;              // the scan being read when the data ran out
  JDIMENSION imcu_rows_at_eof;  // rows of blocks complete in that scan
};

// How a decoded row reaches the picture when it cannot be decoded in place.
struct RowSink {
  int32_t width;            // pixels in a decoded row
  bool cmyk;                // rows are C, M, Y, K
  bool inverted;            // ... with 0 meaning full ink (Adobe)
  const IccTransform* icc;  // null, or converts the rows to sRGB BGRX
  const RowPlacer* placer;  // null when the picture is stored upright
  uint8_t* pixels;          // the upright picture, when placer is null
  ptrdiff_t stride;
  uint8_t* converted;  // one BGRX row, when rows are converted and placed
};

struct Session {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  SourceManager src;
  jpeg_progress_mgr progress;
  JOCTET* icc_data;  // malloc'd by libjpeg
  unsigned int icc_length;
  // The decode itself.
  bool direct;  // rows are decoded straight into the picture
  JSAMPROW* rows;
  JDIMENSION row_capacity;
  uint8_t* pixels;  // the picture, used when direct
  ptrdiff_t stride;
  RowSink sink;
  bool stalled;  // jpeg_read_scanlines gave nothing back
};

[[noreturn]] void Fail(j_common_ptr cinfo, int32_t number,
                       const char* reason = "") {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  err->failure = number;
  std::snprintf(err->reason, sizeof err->reason, "%s", reason);
  std::longjmp(err->jump, 1);
}

[[noreturn]] void OnError(j_common_ptr cinfo) {
  int code = cinfo->err->msg_code;
  // No backing store: the decode needs more than kMaxJpegWorkingBytes.
  if (code == JERR_OUT_OF_MEMORY || code == JERR_NO_BACKING_STORE) {
    Fail(cinfo, platform::kErrOutOfMemory);
  }
  // libjpeg's own words: "Bogus marker length", "Unsupported JPEG process:
  // SOF type 0xc3"...
  char message[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, message);
  Fail(cinfo, platform::kErrInvalidPicture, message);
}

// Warnings (corrupt data, a premature end) are counted, never printed.
void OnMessage(j_common_ptr cinfo, int msg_level) {
  if (msg_level < 0) ++cinfo->err->num_warnings;
}

void OnOutputMessage(j_common_ptr) {}

void OnProgress(j_common_ptr cinfo) {
  auto* dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (dinfo->input_scan_number > kMaxJpegScans) {
    static const std::string kTooManyScans =
        "more than " + std::to_string(kMaxJpegScans) + " scans";
    Fail(cinfo, platform::kErrInvalidPicture, kTooManyScans.c_str());
  }
}

void InitSource(j_decompress_ptr) {}

void TermSource(j_decompress_ptr) {}

// The whole file is in memory from the start: asking for more means it was
// cut short. An end-of-image marker lets libjpeg finish with grey.
boolean FillInputBuffer(j_decompress_ptr cinfo) {
  static const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};
  auto* src = reinterpret_cast<SourceManager*>(cinfo->src);
  if (!src->ran_dry) {
    src->ran_dry = true;
    src->scan_at_eof = cinfo->input_scan_number;
    src->imcu_rows_at_eof = cinfo->input_iMCU_row;
  }
  WARNMS(cinfo, JWRN_JPEG_EOF);
  src->pub.next_input_byte = kEndOfImage;
  src->pub.bytes_in_buffer = sizeof kEndOfImage;
  return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long num_bytes) {
  if (num_bytes <= 0) return;
  jpeg_source_mgr* src = cinfo->src;
  if (static_cast<unsigned long>(num_bytes) > src->bytes_in_buffer) {
    FillInputBuffer(cinfo);
    return;
  }
  src->next_input_byte += num_bytes;
  src->bytes_in_buffer -= static_cast<size_t>(num_bytes);
}

void ConvertCmykRow(const RowSink& sink, const uint8_t* in, uint8_t* out) {
  for (int32_t x = 0; x < sink.width; ++x, in += 4, out += 4) {
    unsigned c = in[0], m = in[1], y = in[2], k = in[3];
    if (!sink.inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    // Now 255 means no ink: each channel is what its ink and the black let
    // through.
    out[0] = static_cast<uint8_t>((y * k + 127) / 255);
    out[1] = static_cast<uint8_t>((m * k + 127) / 255);
    out[2] = static_cast<uint8_t>((c * k + 127) / 255);
    out[3] = 255;
  }
}

void DeliverRow(const RowSink& sink, int32_t y, const uint8_t* row) {
  uint8_t* out =
      sink.placer != nullptr ? sink.converted : sink.pixels + y * sink.stride;
  const uint8_t* upright_row = row;
  if (sink.icc != nullptr) {
    sink.icc->Convert(row, out, sink.width);
    upright_row = out;
  } else if (sink.cmyk) {
    ConvertCmykRow(sink, row, out);
    upright_row = out;
  }
  if (sink.placer != nullptr) {
    sink.placer->Place(y, upright_row);
  } else if (upright_row != out) {
    std::memcpy(out, row, static_cast<size_t>(sink.width) * 4);
  }
}

// The steps run under Guarded. None may hold a C++ object with a destructor.

void ReadHeader(Session* s) {
  jpeg_create_decompress(&s->cinfo);
  s->cinfo.mem->max_memory_to_use = kMaxJpegWorkingBytes;
  s->cinfo.src = &s->src.pub;
  s->cinfo.progress = &s->progress;
  jpeg_save_markers(&s->cinfo, JPEG_APP0 + 1, 0xFFFF);  // EXIF
  jpeg_save_markers(&s->cinfo, JPEG_APP0 + 2, 0xFFFF);  // ICC profile
  jpeg_read_header(&s->cinfo, TRUE);
}

void ReadIccProfile(Session* s) {
  if (!jpeg_read_icc_profile(&s->cinfo, &s->icc_data, &s->icc_length)) {
    s->icc_data = nullptr;
    s->icc_length = 0;
  }
}

void CalcOutputDimensions(Session* s) {
  jpeg_calc_output_dimensions(&s->cinfo);
}

// Reads the rows of the output pass that jpeg_start_decompress or
// jpeg_start_output began.
void ReadRows(Session* s) {
  jpeg_decompress_struct& cinfo = s->cinfo;
  while (cinfo.output_scanline < cinfo.output_height) {
    JDIMENSION first = cinfo.output_scanline;
    JDIMENSION want = cinfo.output_height - first;
    if (want > s->row_capacity) want = s->row_capacity;
    if (s->direct) {
      for (JDIMENSION i = 0; i < want; ++i) {
        s->rows[i] = s->pixels + static_cast<ptrdiff_t>(first + i) * s->stride;
      }
    }
    JDIMENSION got = jpeg_read_scanlines(&cinfo, s->rows, want);
    if (got == 0) {
      s->stalled = true;
      return;
    }
    if (!s->direct) {
      for (JDIMENSION i = 0; i < got; ++i) {
        DeliverRow(s->sink, static_cast<int32_t>(first + i), s->rows[i]);
      }
    }
  }
}

void CheckOutputSize(jpeg_decompress_struct& cinfo, JDIMENSION width,
                     JDIMENSION height) {
  if (cinfo.output_width != width || cinfo.output_height != height) {
    Fail(reinterpret_cast<j_common_ptr>(&cinfo), platform::kErrInvalidPicture,
         "decoded at another size than its header gives");
  }
}

void DecodeRows(Session* s) {
  jpeg_decompress_struct& cinfo = s->cinfo;
  JDIMENSION width = cinfo.output_width;
  JDIMENSION height = cinfo.output_height;
  jpeg_start_decompress(&cinfo);
  CheckOutputSize(cinfo, width, height);
  ReadRows(s);
}

// Moves the source past the entropy-coded data of the scan whose header was
// just read, to the next marker that is not a restart marker. The entropy
// decoder then finds the marker at once: it takes the rest of the scan as
// missing and leaves its coefficients as they were, without reading a bit.
void SkipScanData(Session* s) {
  jpeg_source_mgr& src = s->src.pub;
  const size_t skip =
      JpegScanDataEnd({src.next_input_byte, src.bytes_in_buffer}, 0);
  src.bytes_in_buffer -= skip;
  src.next_input_byte += skip;
}

// True when the scan that cinfo describes holds AC coefficients only of
// components whose inverse DCT at this scale makes one pixel per block from
// the DC alone. (Subsampled chroma is often decoded at twice that size, by a
// 2 x 2 inverse DCT that reads AC coefficients: its scans are decoded.)
bool IsUnusedAcScan(const jpeg_decompress_struct& cinfo) {
  if (cinfo.Ss == 0) return false;
  for (int i = 0; i < cinfo.comps_in_scan; ++i) {
    const jpeg_component_info* comp = cinfo.cur_comp_info[i];
#if JPEG_LIB_VERSION >= 70
    if (comp->DCT_h_scaled_size != 1 || comp->DCT_v_scaled_size != 1)
      return false;
#else
    if (comp->DCT_scaled_size != 1) return false;
#endif
  }
  return true;
}

// A progressive JPEG read at 1/8 scale: each luma pixel comes from the DC
// coefficient of its block alone, so the scans of AC coefficients that no
// inverse DCT reads are skipped unread; every other scan, DC refinements
// included, is decoded. The pixels
// are those of a full decode at 1/8: block smoothing, which only estimates
// AC coefficients, is off, and at this scale they are not used anyway.
void DecodeRowsDcOnly(Session* s) {
  jpeg_decompress_struct& cinfo = s->cinfo;
  JDIMENSION width = cinfo.output_width;
  JDIMENSION height = cinfo.output_height;
  cinfo.buffered_image = TRUE;
  cinfo.do_block_smoothing = FALSE;
  jpeg_start_decompress(&cinfo);
  CheckOutputSize(cinfo, width, height);
  // jpeg_read_header stopped at the first scan's header.
  int status = JPEG_REACHED_SOS;
  for (;;) {
    if (status == JPEG_REACHED_SOS && IsUnusedAcScan(cinfo)) SkipScanData(s);
    status = jpeg_consume_input(&cinfo);
    if (status == JPEG_REACHED_EOI || status == JPEG_SUSPENDED) break;
  }
  jpeg_start_output(&cinfo, cinfo.input_scan_number);
  ReadRows(s);
}

// Runs `step`; returns 0, or the error number when libjpeg gave up.
int32_t Guarded(Session* s, void (*step)(Session*)) {
  if (setjmp(s->err.jump) != 0) return s->err.failure;
  step(s);
  return 0;
}

// Owns a Session and what libjpeg allocated for it.
class SessionOwner {
 public:
  SessionOwner() : session_(new Session()) {
    Session* s = session_.get();
    s->cinfo.err = jpeg_std_error(&s->err.pub);
    s->err.pub.error_exit = OnError;
    s->err.pub.emit_message = OnMessage;
    s->err.pub.output_message = OnOutputMessage;
    s->progress.progress_monitor = OnProgress;
    s->src.pub.init_source = InitSource;
    s->src.pub.fill_input_buffer = FillInputBuffer;
    s->src.pub.skip_input_data = SkipInputData;
    s->src.pub.resync_to_restart = jpeg_resync_to_restart;
    s->src.pub.term_source = TermSource;
  }
  SessionOwner(const SessionOwner&) = delete;
  SessionOwner& operator=(const SessionOwner&) = delete;
  ~SessionOwner() {
    // Safe in any state, even after a failed create (mem stays null).
    if (session_->cinfo.mem != nullptr)
      jpeg_destroy_decompress(&session_->cinfo);
    std::free(session_->icc_data);
  }
  Session* get() const { return session_.get(); }

 private:
  std::unique_ptr<Session> session_;
};

void Run(Session* s, void (*step)(Session*)) {
  if (int32_t failure = Guarded(s, step); failure != 0) {
    if (failure == platform::kErrInvalidPicture && s->err.reason[0] != 0) {
      RaiseInvalidPicture(std::string("JPEG: ") + s->err.reason);
    }
    RaisePictureError(failure);
  }
}

int FindOrientation(const jpeg_decompress_struct& cinfo) {
  for (jpeg_saved_marker_ptr m = cinfo.marker_list; m != nullptr; m = m->next) {
    if (m->marker != JPEG_APP0 + 1 || m->data_length < 6 ||
        std::memcmp(m->data, "Exif\0\0", 6) != 0) {
      continue;
    }
    return ExifOrientation({m->data, m->data_length});
  }
  return 1;
}

// Returns ceil(size * m / 8): libjpeg's output size at scale m/8.
int64_t ScaledSize(int64_t size, int32_t m) { return (size * m + 7) / 8; }

}  // namespace

int32_t ChooseJpegScale(int32_t width, int32_t height, const DecodeHint& hint,
                        bool progressive) {
  const int64_t need_w = JpegScaleNeed(hint.target_width_px);
  const int64_t need_h = JpegScaleNeed(hint.target_height_px);
  if (need_w <= 0 && need_h <= 0) return 8;
  // 1/8 is block means; a sequential file reads every coefficient anyway.
  const int64_t eighth_w =
      progressive ? need_w : JpegSequentialEighthNeed(hint.target_width_px);
  const int64_t eighth_h =
      progressive ? need_h : JpegSequentialEighthNeed(hint.target_height_px);
  if (ScaledSize(width, 1) >= eighth_w && ScaledSize(height, 1) >= eighth_h) {
    return 1;
  }
  int32_t smallest = 2;
  while (smallest < 8 && (ScaledSize(width, smallest) < need_w ||
                          ScaledSize(height, smallest) < need_h)) {
    ++smallest;
  }
  // libjpeg-turbo vectorises the inverse DCTs of 1/8, 2/8, 4/8 and 8/8
  // only: 3/8 costs what 4/8 does, and 5/8 to 7/8 more than the full size,
  // which is also closer to the picture. Unless it holds too many pixels.
  int32_t fast = 1;
  while (fast < smallest) fast *= 2;
  if (ScaledSize(width, fast) * ScaledSize(height, fast) > kMaxPicturePixels) {
    return smallest;
  }
  return fast;
}

DecodedImage DecodeJpeg(std::span<const uint8_t> bytes, const DecodeHint& hint,
                        DecodeBudget& budget) {
  // What the decode takes from `budget`, given back after libjpeg
  // has freed it (the owner goes first).
  DecodeBudget::Lease lease;
  SessionOwner owner;
  Session* s = owner.get();
  s->src.pub.next_input_byte = bytes.data();
  s->src.pub.bytes_in_buffer = bytes.size();
  Run(s, ReadHeader);
  jpeg_decompress_struct& cinfo = s->cinfo;
  // The picture's own size is not limited (16 bits a side): only what its
  // decode holds, checked below once the scale is known.
  CheckPictureSides(cinfo.image_width, cinfo.image_height);
  Run(s, ReadIccProfile);
  std::span<const uint8_t> icc_profile(s->icc_data, s->icc_length);

  int orientation = FindOrientation(cinfo);
  bool swap = SwapsAxes(orientation);

  // Colour: libjpeg writes BGRX itself from YCbCr, RGB and grey; CMYK and
  // YCCK come out as CMYK (inverted when an Adobe application wrote them)
  // and are converted here.
  IccTransform icc;
  bool cmyk = false;
  bool inverted = false;
  switch (cinfo.jpeg_color_space) {
    case JCS_CMYK:
    case JCS_YCCK:
      cmyk = true;
      inverted = cinfo.saw_Adobe_marker;
      cinfo.out_color_space = JCS_CMYK;
      icc = IccTransform::ToSrgb(
          icc_profile, inverted ? IccInput::kCmykInverted : IccInput::kCmyk);
      break;
    case JCS_GRAYSCALE:
      icc = IccTransform::ToSrgb(icc_profile, IccInput::kGray);
      cinfo.out_color_space = icc.valid() ? JCS_GRAYSCALE : JCS_EXT_BGRX;
      break;
    default:
      cinfo.out_color_space = JCS_EXT_BGRX;
      icc = IccTransform::ToSrgb(icc_profile, IccInput::kBgrx);
      break;
  }

  // The hint is upright; the decoder works in the stored orientation.
  DecodeHint stored_hint = hint;
  if (swap)
    std::swap(stored_hint.target_width_px, stored_hint.target_height_px);
  const int64_t stored_w = cinfo.image_width;
  const int64_t stored_h = cinfo.image_height;
  int32_t scale = ChooseJpegScale(static_cast<int32_t>(stored_w),
                                  static_cast<int32_t>(stored_h), stored_hint,
                                  cinfo.progressive_mode != 0);
  // Past the pixel limit, a scale that keeps less than the margin but still
  // covers the target serves the hint better than a refusal. With no hint
  // the full size is needed.
  if (hint.target_width_px > 0 || hint.target_height_px > 0) {
    while (scale > 1 &&
           ScaledSize(stored_w, scale) * ScaledSize(stored_h, scale) >
               kMaxPicturePixels &&
           ScaledSize(stored_w, scale - 1) >= stored_hint.target_width_px &&
           ScaledSize(stored_h, scale - 1) >= stored_hint.target_height_px) {
      --scale;
    }
  }
  cinfo.scale_num = static_cast<unsigned int>(scale);
  cinfo.scale_denom = 8;
  Run(s, CalcOutputDimensions);
  const int32_t out_w = static_cast<int32_t>(cinfo.output_width);
  const int32_t out_h = static_cast<int32_t>(cinfo.output_height);
  if (out_w <= 0 || out_h <= 0 || out_w > stored_w || out_h > stored_h) {
    RaiseInvalidPicture("JPEG: reduced size out of range");
  }
  const int64_t upright_w = swap ? stored_h : stored_w;
  const int64_t upright_h = swap ? stored_w : stored_h;
  CheckDecodedPixels(upright_w, upright_h, out_w, out_h);

  // A progressive file holds all its coefficients until the last scan,
  // whatever the scale: refused up front when they alone are over the
  // limit, rather than failing once libjpeg has allocated most of them.
  int64_t coefficient_bytes = 0;
  if (cinfo.progressive_mode) {
    for (int c = 0; c < cinfo.num_components; ++c) {
      const jpeg_component_info& comp = cinfo.comp_info[c];
      coefficient_bytes += int64_t{comp.width_in_blocks} *
                           comp.height_in_blocks *
                           static_cast<int64_t>(sizeof(JBLOCK));
    }
  }
  if (coefficient_bytes > kMaxJpegWorkingBytes) {
    RaisePictureTooLarge(
        upright_w, upright_h,
        "a progressive JPEG whose coefficients need " +
            std::to_string(coefficient_bytes >> 20) + " MB, over " +
            std::to_string(kMaxJpegWorkingBytes >> 20) + " MB");
  }
  const int64_t working_bytes = int64_t{out_w} * out_h * 4 + coefficient_bytes;
  lease = budget.Take(working_bytes);

  DecodedImage image;
  image.width = static_cast<int32_t>(upright_w);
  image.height = static_cast<int32_t>(upright_h);
  image.pixel_width = swap ? out_h : out_w;
  image.pixel_height = swap ? out_w : out_h;
  image.stride_bytes = image.pixel_width * 4;
  image.area = UprightArea(
      ReducedArea(static_cast<int32_t>(stored_w),
                  static_cast<int32_t>(stored_h), out_w, out_h, scale, 8),
      out_w, out_h, orientation);
  Allocate(image.bgrx, static_cast<size_t>(image.stride_bytes) *
                           static_cast<size_t>(image.pixel_height));

  std::optional<RowPlacer> placer;
  if (orientation != 1) {
    placer.emplace(orientation, out_w, out_h, image.bgrx.data(),
                   image.stride_bytes);
  }
  s->pixels = image.bgrx.data();
  s->stride = image.stride_bytes;
  s->direct = !placer && !cmyk && !icc.valid();

  // Rows that need converting or placing go through a strip of a few rows
  // and one converted row: never a second full-size buffer.
  std::vector<JSAMPROW> rows;
  std::vector<uint8_t> strip;
  std::vector<uint8_t> converted;
  JDIMENSION capacity = cinfo.rec_outbuf_height > 0
                            ? static_cast<JDIMENSION>(cinfo.rec_outbuf_height)
                            : 1;
  if (s->direct) capacity = std::max<JDIMENSION>(capacity, 16);
  Allocate(rows, capacity);
  if (!s->direct) {
    size_t strip_stride = static_cast<size_t>(out_w) *
                          static_cast<size_t>(cinfo.out_color_components);
    Allocate(strip, strip_stride * capacity);
    for (JDIMENSION i = 0; i < capacity; ++i)
      rows[i] = strip.data() + i * strip_stride;
    if (placer && (cmyk || icc.valid())) {
      Allocate(converted, static_cast<size_t>(out_w) * 4);
    }
  }
  s->rows = rows.data();
  s->row_capacity = capacity;
  s->sink = RowSink{out_w,
                    cmyk,
                    inverted,
                    icc.valid() ? &icc : nullptr,
                    placer ? &*placer : nullptr,
                    image.bgrx.data(),
                    image.stride_bytes,
                    converted.data()};
  const bool dc_only =
      cinfo.progressive_mode && cinfo.scale_num == 1 && cinfo.scale_denom == 8;
  if (cinfo.progressive_mode && (cinfo.jpeg_color_space == JCS_YCbCr ||
                                 cinfo.jpeg_color_space == JCS_GRAYSCALE)) {
    // A progressive file at 1/8 needs its DC scans alone, read here with
    // 2 bytes a block; at 2/8 and 4/8 its scans are read here a block at a
    // time. libjpeg reads the files these readers do not take.
    const bool grey_out = cinfo.out_color_space == JCS_GRAYSCALE;
    auto same_frame = [&](const JpegDc& read) {
      return read.width == stored_w && read.height == stored_h &&
             std::ssize(read.components) == cinfo.num_components;
    };
    std::vector<uint8_t> row;
    JpegDc read;
    if (dc_only && ReadJpegDc(bytes, read) && same_frame(read) &&
        read.columns() == out_w && read.rows() == out_h) {
      Allocate(row, JpegDcRowBytes(read, grey_out));
      for (int32_t y = 0; y < out_h; ++y) {
        RenderJpegDcRow(read, y, grey_out, row.data());
        DeliverRow(s->sink, y, row.data());
      }
      return image;
    }
    if (ReadJpegCoefficients(bytes, scale, read) && same_frame(read)) {
      JpegReducedRows picture(read);
      if (picture.columns() == out_w && picture.rows() == out_h) {
        Allocate(row, picture.RowBytes(grey_out));
        for (int32_t y = 0; y < out_h; ++y) {
          picture.Row(y, grey_out, row.data());
          DeliverRow(s->sink, y, row.data());
        }
        return image;
      }
    }
  }
  Run(s, dc_only ? DecodeRowsDcOnly : DecodeRows);
  if (s->stalled) RaiseInvalidPicture("JPEG: rows stop coming");
  // Cut short before a single row of blocks was decoded: all grey.
  if (s->src.ran_dry && s->src.scan_at_eof <= 1 &&
      s->src.imcu_rows_at_eof == 0) {
    RaiseInvalidPicture("JPEG: the file ends before its first row");
  }
  return image;
}

}  // namespace vg::decoders::decoders_internal
