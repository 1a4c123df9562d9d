// Progressive JPEGs read at 1/8 scale, where only the DC scans are decoded:
// the pixels must be exactly those of libjpeg decoding every scan.
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
};

// A noisy picture (so that the AC scans carry most of the data), encoded
// with libjpeg's standard progression: DC first at reduced precision, AC
// scans, then the DC refinements.
std::vector<uint8_t> EncodeProgressive(const Progressive& p) {
  const int channels = p.grey ? 1 : 3;
  std::vector<uint8_t> pixels(static_cast<size_t>(p.width) * p.height *
                              channels);
  std::mt19937 gen(5);
  for (size_t i = 0; i < pixels.size(); ++i) {
    const size_t x = (i / channels) % static_cast<size_t>(p.width);
    pixels[i] = static_cast<uint8_t>(
        (x * 255 / p.width + i % 7 * 20 + gen() % 60) % 256);
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
    jpeg_simple_progression(&cinfo);
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

// libjpeg's own decode at 1/8, every scan read, as BGRX. Block smoothing
// (which guesses the coefficients of scans that never came) is off, as it is
// in the decoder under test: it matters only for cut-short files.
std::vector<uint8_t> ReferenceEighth(const std::vector<uint8_t>& jpeg) {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  err.emit_message = [](j_common_ptr, int) {};  // truncated files warn
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.scale_num = 1;
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

TEST(JpegDcOnlyTest, EighthScaleMatchesAFullDecodeExactly) {
  for (const Progressive p :
       {Progressive{}, Progressive{.grey = true},
        Progressive{.full_chroma = true}, Progressive{.restart_rows = 1},
        Progressive{.restart_rows = 2, .full_chroma = true},
        Progressive{.width = 203, .height = 77},
        Progressive{.width = 24, .height = 16}}) {
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

}  // namespace
}  // namespace vg::decoders
