// Progressive JPEGs read without libjpeg. At 1/8 from their DC scans
// alone: luma and chroma sampled as luma exactly as libjpeg gives them
// decoding every scan; chroma sampled at half drawn up from its DC alone.
// At 2/8 and 4/8 from every scan: exactly libjpeg's picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include "decoders/decode_picture.h"
#include "decoders/internal/jpeg_dc.h"
#include "decoders/internal/jpeg_reduced.h"
#include "picture_testutil.h"
#include "platform/error.h"

namespace vg::decoders {
namespace {

struct Progressive {
  int width = 640;
  int height = 480;
  bool grey = false;
  int restart_rows = 0;      // restart markers every this many MCU rows
  bool full_chroma = false;  // 4:4:4 rather than libjpeg's 4:2:0
  bool h2v1 = false;         // 4:2:2
  // Each component's DC in a scan of its own, at full precision.
  bool separate_dc = false;
  bool noisy_chroma = false;  // chroma as noisy as luma, sampled as it is
};

// A progression with each component's DC scan apart.
constexpr jpeg_scan_info kSeparateDc[] = {
    {1, {0}, 0, 0, 0, 0},  {1, {1}, 0, 0, 0, 0},  {1, {2}, 0, 0, 0, 0},
    {1, {0}, 1, 63, 0, 0}, {1, {1}, 1, 63, 0, 0}, {1, {2}, 1, 63, 0, 0}};

// A noisy picture (so that the AC scans carry most of the data), encoded
// with libjpeg's standard progression: DC first at reduced precision, AC
// scans, then the DC refinements. With chroma sampled at half, its colour
// is one tint over grey noise: the chroma is flat, and libjpeg's chroma
// has no detail that the DC lacks.
std::vector<uint8_t> EncodeProgressive(const Progressive& p) {
  const int channels = p.grey ? 1 : 3;
  const bool tinted = !p.grey && !p.full_chroma && !p.noisy_chroma;
  std::vector<uint8_t> pixels(static_cast<size_t>(p.width) * p.height *
                              channels);
  std::mt19937 gen(5);
  for (size_t i = 0; i < pixels.size(); i += channels) {
    const size_t x = (i / channels) % static_cast<size_t>(p.width);
    for (int c = 0; c < channels; ++c) {
      const size_t noise = x * 255 / p.width + (i + c) % 7 * 20 + gen() % 60;
      // Tinted: red, green and blue 40, 20 and 0 over one grey noise.
      pixels[i + c] = static_cast<uint8_t>(!tinted  ? noise % 256
                                           : c == 0 ? noise % 200 + 40
                                                    : pixels[i] - 20 * c);
    }
  }
  testing::LibjpegOptions options;
  options.components = channels;
  options.in_space = p.grey ? JCS_GRAYSCALE : JCS_RGB;
  options.configure = [&](jpeg_compress_struct& cinfo) {
    if (p.full_chroma) {
      for (int c = 0; c < cinfo.num_components; ++c) {
        cinfo.comp_info[c].h_samp_factor = 1;
        cinfo.comp_info[c].v_samp_factor = 1;
      }
    }
    if (p.h2v1) cinfo.comp_info[0].v_samp_factor = 1;
    jpeg_simple_progression(&cinfo);
    if (p.separate_dc) {
      cinfo.scan_info = kSeparateDc;
      cinfo.num_scans = 6;
    }
    cinfo.restart_in_rows = p.restart_rows;
  };
  const size_t stride = static_cast<size_t>(p.width) * channels;
  return testing::EncodeWithLibjpeg(
      p.width, p.height,
      [&](int y, uint8_t* row) {
        std::copy_n(pixels.begin() + static_cast<ptrdiff_t>(y * stride), stride,
                    row);
      },
      options);
}

// libjpeg's own decode at scale/8, every scan read, as BGRX. Block
// smoothing (which guesses the coefficients of scans that never came) is
// off, as it is in the decoder under test: it matters only for cut-short
// files.
std::vector<uint8_t> ReferenceAt(const std::vector<uint8_t>& jpeg, int scale) {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  err.emit_message = [](j_common_ptr, int) {};  // truncated files warn
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.scale_num = static_cast<unsigned int>(scale);
  cinfo.scale_denom = 8;
  cinfo.out_color_space = JCS_EXT_BGRX;
  cinfo.do_block_smoothing = FALSE;
  jpeg_start_decompress(&cinfo);
  const size_t stride = static_cast<size_t>(cinfo.output_width) * 4;
  std::vector<uint8_t> out(stride * cinfo.output_height);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = out.data() + cinfo.output_scanline * stride;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_abort_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return out;
}

// The picture at 1/8 as this reader draws it, as BGRX; empty when it does
// not take the file.
std::vector<uint8_t> RenderDc(const std::vector<uint8_t>& jpeg) {
  decoders_internal::JpegDc dc;
  if (!decoders_internal::ReadJpegDc(jpeg, dc)) return {};
  const size_t stride = decoders_internal::JpegDcRowBytes(dc, false);
  std::vector<uint8_t> out(stride * static_cast<size_t>(dc.rows()));
  for (int32_t y = 0; y < dc.rows(); ++y) {
    decoders_internal::RenderJpegDcRow(dc, y, false, out.data() + y * stride);
  }
  return out;
}

std::vector<uint8_t> ReferenceEighth(const std::vector<uint8_t>& jpeg) {
  return ReferenceAt(jpeg, 1);
}

// The picture at scale/8 drawn from every coefficient by JpegReducedRows,
// as BGRX; empty when it does not take the file.
std::vector<uint8_t> RenderReduced(const std::vector<uint8_t>& jpeg,
                                   int scale) {
  decoders_internal::JpegDc coefficients;
  if (!decoders_internal::ReadJpegCoefficients(jpeg, scale, coefficients)) {
    return {};
  }
  decoders_internal::JpegReducedRows picture(coefficients);
  const size_t stride = picture.RowBytes(false);
  std::vector<uint8_t> out(stride * static_cast<size_t>(picture.rows()));
  for (int32_t y = 0; y < picture.rows(); ++y) {
    picture.Row(y, false, out.data() + y * stride);
  }
  return out;
}

std::vector<uint8_t> Cut(const std::vector<uint8_t>& jpeg, size_t keep) {
  return {jpeg.begin(), jpeg.begin() + static_cast<ptrdiff_t>(keep)};
}

TEST(JpegDcOnlyTest, EighthScaleMatchesAFullDecodeExactly) {
  for (const Progressive p :
       {Progressive{}, Progressive{.grey = true},
        Progressive{.full_chroma = true}, Progressive{.restart_rows = 1},
        Progressive{.restart_rows = 2, .full_chroma = true},
        Progressive{.width = 203, .height = 77},
        Progressive{.width = 24, .height = 16},
        Progressive{.width = 201, .height = 99, .h2v1 = true},
        Progressive{.width = 77, .height = 203, .separate_dc = true},
        Progressive{
            .restart_rows = 3, .full_chroma = true, .separate_dc = true}}) {
    SCOPED_TRACE(::testing::Message()
                 << p.width << "x" << p.height << (p.grey ? " grey" : "")
                 << " restart rows " << p.restart_rows);
    const std::vector<uint8_t> jpeg = EncodeProgressive(p);
    // Asking for at most 1/20 of the width picks the 1/8 scale.
    const DecodedImage image = DecodePictureBytes(jpeg, {p.width / 20, 0});
    EXPECT_EQ(image.width, p.width);
    EXPECT_EQ(image.pixel_width, (p.width + 7) / 8);
    EXPECT_EQ(image.pixel_height, (p.height + 7) / 8);
    EXPECT_TRUE(image.bgrx == ReferenceEighth(jpeg));
    // Read from the DC scans alone, not by libjpeg.
    EXPECT_TRUE(image.bgrx == RenderDc(jpeg));
  }
}

TEST(JpegDcOnlyTest, HalfSampledChromaIsDrawnUpFromItsDc) {
  // Colours that change across the picture, 4:2:0: libjpeg draws its
  // chroma from a 2 x 2 inverse DCT, this reader from the DC between
  // neighbours; the two stay close.
  const int width = 400;
  const int height = 240;
  const std::vector<uint8_t> rgb =
      testing::MakeRgb(width, height, [](int x, int y) {
        return testing::Rgb{
            static_cast<uint8_t>(x * 255 / width),
            static_cast<uint8_t>(y * 255 / height),
            static_cast<uint8_t>((x + y) * 255 / (width + height))};
      });
  testing::JpegOptions options;
  options.progressive = true;
  options.subsampling_420 = true;
  const std::vector<uint8_t> jpeg =
      testing::EncodeJpeg(rgb, width, height, options);
  const std::vector<uint8_t> ours = RenderDc(jpeg);
  const std::vector<uint8_t> reference = ReferenceEighth(jpeg);
  ASSERT_EQ(ours.size(), reference.size());
  int most = 0;
  int64_t total = 0;
  for (size_t i = 0; i < ours.size(); ++i) {
    most = std::max(most, std::abs(ours[i] - reference[i]));
    total += std::abs(ours[i] - reference[i]);
  }
  // Drawn the wrong way round (or not drawn up at all), the mean
  // difference is 1 to 2.4.
  EXPECT_LE(most, 6);
  EXPECT_LE(total * 1000 / static_cast<int64_t>(ours.size()), 500);
}

TEST(JpegDcOnlyTest, FilesTheReaderDoesNotTakeAreLibjpegs) {
  const std::vector<uint8_t> plain = EncodeProgressive({.restart_rows = 1});
  std::vector<uint8_t> renumbered = plain;
  for (size_t i = 0; i + 1 < renumbered.size(); ++i) {
    if (renumbered[i] == 0xFF && renumbered[i + 1] == 0xD0) {
      renumbered[i + 1] = 0xD3;
      break;
    }
  }
  // The first scan's data all one bits: a code longer than any.
  std::vector<uint8_t> ones = plain;
  size_t sos = 0;
  while (!(ones[sos] == 0xFF && ones[sos + 1] == 0xDA)) ++sos;
  const size_t data = sos + 2 + (ones[sos + 2] << 8 | ones[sos + 3]);
  for (size_t i = data; i + 1 < data + 40; i += 2) {
    ones[i] = 0xFF;
    ones[i + 1] = 0x00;
  }
  std::vector<uint8_t> arithmetic;
  std::vector<uint8_t> luma_below_chroma;
  {
    testing::LibjpegOptions options;
    options.configure = [](jpeg_compress_struct& cinfo) {
      jpeg_simple_progression(&cinfo);
      cinfo.arith_code = TRUE;
    };
    auto gradient = [](int y, uint8_t* row) {
      for (int i = 0; i < 640 * 3; ++i) row[i] = static_cast<uint8_t>(i + y);
    };
    arithmetic = testing::EncodeWithLibjpeg(640, 480, gradient, options);
    options.configure = [](jpeg_compress_struct& cinfo) {
      cinfo.comp_info[0].h_samp_factor = 1;
      cinfo.comp_info[0].v_samp_factor = 1;
      cinfo.comp_info[1].h_samp_factor = 2;
      cinfo.comp_info[1].v_samp_factor = 2;
      jpeg_simple_progression(&cinfo);
    };
    luma_below_chroma = testing::EncodeWithLibjpeg(640, 480, gradient, options);
  }
  const struct {
    const char* what;
    std::vector<uint8_t> jpeg;
  } cases[] = {
      {"cut in the AC scans", Cut(plain, plain.size() / 3)},
      {"cut in the DC refinement", Cut(plain, plain.size() * 19 / 20)},
      {"no EOI", Cut(plain, plain.size() - 2)},
      {"a restart marker out of turn", renumbered},
      {"a DC code no table has", ones},
      {"arithmetic coding", arithmetic},
      {"luma sampled below chroma", luma_below_chroma},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    decoders_internal::JpegDc dc;
    EXPECT_FALSE(decoders_internal::ReadJpegDc(c.jpeg, dc));
    EXPECT_TRUE(DecodePictureBytes(c.jpeg, {32, 0}).bgrx ==
                ReferenceEighth(c.jpeg));
  }
}

TEST(JpegDcOnlyTest, CutShortFilesDecodeAsLibjpegDecodesThem) {
  const std::vector<uint8_t> jpeg = EncodeProgressive({});
  // Inside the AC scans, and near the end (inside the DC refinements).
  for (const size_t keep : {jpeg.size() / 3, jpeg.size() * 19 / 20}) {
    SCOPED_TRACE(keep);
    const std::vector<uint8_t> cut(jpeg.begin(),
                                   jpeg.begin() + static_cast<ptrdiff_t>(keep));
    const DecodedImage image = DecodePictureBytes(cut, {32, 0});
    EXPECT_EQ(image.pixel_width, 80);
    EXPECT_TRUE(image.bgrx == ReferenceEighth(cut));
  }
  // Cut inside the first scan, before a row of blocks: nothing to show.
  size_t sos = 0;
  while (sos + 1 < jpeg.size() && !(jpeg[sos] == 0xFF && jpeg[sos + 1] == 0xDA))
    ++sos;
  const std::vector<uint8_t> header_only(
      jpeg.begin(), jpeg.begin() + static_cast<ptrdiff_t>(sos + 20));
  EXPECT_THROW(DecodePictureBytes(header_only, {32, 0}), platform::Error);
}

TEST(JpegReducedTest, RowsOfColourConvertAsPixelsOneByOne) {
  // Every (Y, Cb, Cr): pixel i of a row holds Y = i and, over the rows, all
  // the (Cb, Cr) pairs; a row is converted at once, 8 pixels at a time,
  // and each pixel alone.
  constexpr size_t kWidth = 256;
  std::vector<uint8_t> luma(kWidth), cb(kWidth), cr(kWidth);
  std::vector<uint8_t> row(kWidth * 4), one(4);
  size_t wrong = 0;
  for (int pair = 0; pair < 65536; ++pair) {
    for (size_t i = 0; i < kWidth; ++i) {
      luma[i] = static_cast<uint8_t>(i);
      cb[i] = static_cast<uint8_t>(pair + i * 7);
      cr[i] = static_cast<uint8_t>((pair >> 8) + i * 13);
    }
    decoders_internal::JpegYccRowToBgrx(luma.data(), cb.data(), cr.data(),
                                        kWidth, row.data());
    for (size_t i = 0; i < kWidth; ++i) {
      decoders_internal::JpegYccToBgrx(luma[i], cb[i], cr[i], one.data());
      if (!std::equal(one.begin(), one.end(), row.begin() + 4 * i)) ++wrong;
    }
  }
  EXPECT_EQ(wrong, 0U);
}

TEST(JpegReducedTest, QuarterAndHalfScaleMatchLibjpegExactly) {
  for (const Progressive p :
       {Progressive{.noisy_chroma = true},
        Progressive{.full_chroma = true, .noisy_chroma = true},
        Progressive{
            .width = 203, .height = 77, .h2v1 = true, .noisy_chroma = true},
        Progressive{.grey = true},
        Progressive{.width = 77,
        .height = 203,
        .restart_rows = 2,
        .separate_dc = true,
        .noisy_chroma = true},
        Progressive{
            .width = 131, .height = 45, .restart_rows = 1, .full_chroma = true},
        // Chroma two samples wide at 2/8: drawn up without the filter.
        Progressive{
            .width = 24, .height = 16, .h2v1 = true, .noisy_chroma = true},
        Progressive{.width = 9, .height = 9, .noisy_chroma = true}}) {
    for (const int scale : {2, 4}) {
      SCOPED_TRACE(::testing::Message()
                   << p.width << "x" << p.height << (p.grey ? " grey" : "")
                   << (p.full_chroma ? " 4:4:4"
                       : p.h2v1      ? " 4:2:2"
                                     : "")
                   << " at " << scale << "/8");
      const std::vector<uint8_t> jpeg = EncodeProgressive(p);
      // (4:2:0 at 4/8 draws chroma through the full inverse DCT.)
      EXPECT_TRUE(RenderReduced(jpeg, scale) == ReferenceAt(jpeg, scale));
    }
  }
}

TEST(JpegReducedTest, TheDecoderDrawsReducedProgressiveFilesSo) {
  // A hint of 1/8 of the width asks for 2/8, one of 1/4 for 4/8; the DC
  // reader would give another picture (its chroma differs).
  const Progressive p{
      .width = 320, .height = 200, .h2v1 = true, .noisy_chroma = true};
  const std::vector<uint8_t> jpeg = EncodeProgressive(p);
  for (const int scale : {2, 4}) {
    SCOPED_TRACE(scale);
    const DecodedImage image =
        DecodePictureBytes(jpeg, {p.width * scale / 16, 0});
    EXPECT_EQ(image.pixel_width, p.width * scale / 8);
    EXPECT_TRUE(image.bgrx == RenderReduced(jpeg, scale));
  }
}

TEST(JpegReducedTest, ScansOutOfTheStandardsOrderAreLibjpegs) {
  // libjpeg's grey progression: DC from bit 1, AC 1-5 and 6-63 from bit 2,
  // then their refinements. Its scan headers altered: libjpeg only warns.
  const std::vector<uint8_t> jpeg =
      EncodeProgressive({.width = 64, .height = 48, .grey = true});
  // Where the n-th scan header's spectral selection starts.
  auto selection = [&](int n) {
    size_t at = 2;
    for (;;) {
      const size_t length = jpeg[at + 2] << 8 | jpeg[at + 3];
      if (jpeg[at + 1] == 0xDA && n-- == 0) return at + 4 + length - 5;
      at += 2 + length;
      if (jpeg[at - 2 - length + 1] == 0xDA) {
        while (!(jpeg[at] == 0xFF && jpeg[at + 1] != 0 &&
                 (jpeg[at + 1] < 0xD0 || jpeg[at + 1] > 0xD7))) {
          ++at;
        }
      }
    }
  };
  std::vector<uint8_t> refined_first = jpeg;
  refined_first[selection(1) + 2] = 0x32;  // AC 1-5 refined from bit 3
  std::vector<uint8_t> sent_twice = jpeg;
  sent_twice[selection(2)] = 5;  // AC 5-63, 5 already sent
  for (const auto& altered : {refined_first, sent_twice}) {
    decoders_internal::JpegDc coefficients;
    EXPECT_FALSE(
        decoders_internal::ReadJpegCoefficients(altered, 2, coefficients));
    EXPECT_TRUE(DecodePictureBytes(altered, {8, 0}).bgrx ==
                ReferenceAt(altered, 2));
  }
  EXPECT_EQ(jpeg[selection(1)], 1);  // the header found
}

}  // namespace
}  // namespace vg::decoders
