// EMF through our player, and WMF translated to EMF: logical sizes, shapes
// at their place and colour, mappings, text, bitmaps upright, damaged and
// hostile files, several threads at once.
#include <gtest/gtest.h>

#include <QRect>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <future>
#include <limits>
#include <string>
#include <vector>

#include "decoders/decode_picture.h"
#include "metafile_testutil.h"
#include "picture_testutil.h"
#include "platform/error.h"

namespace vg::decoders {
namespace {

using testing::ColorRef;
using testing::ColourDiff;
using testing::Dib;
using testing::EmfPlusRecord;
using testing::EmfWriter;
using testing::FloatBits;
using testing::PackedDib;
using testing::PixelAt;
using testing::Rgb;
using testing::WmfWriter;

constexpr Rgb kWhite = {255, 255, 255};
constexpr Rgb kRed = {255, 0, 0};
constexpr Rgb kGreen = {0, 255, 0};
constexpr Rgb kBlue = {0, 0, 255};
constexpr Rgb kYellow = {255, 255, 0};
constexpr uint32_t kNullPen = 0x80000008;

// EMF record types used below.
enum : uint32_t {
  kSetWindowExtEx = 9,
  kSetViewportExtEx = 11,
  kSetMapMode = 17,
  kSetBkMode = 18,
  kSetTextColor = 24,
  kSetBkColor = 25,
  kOffsetClipRgn = 26,
  kMoveToEx = 27,
  kExcludeClipRect = 29,
  kIntersectClipRect = 30,
  kSaveDc = 33,
  kRestoreDc = 34,
  kSetWorldTransform = 35,
  kLineTo = 54,
  kBeginPath = 59,
  kEndPath = 60,
  kCloseFigure = 61,
  kFillPath = 62,
  kInvertRgn = 73,
  kPaintRgn = 74,
  kBitBlt = 76,
  kMaskBlt = 78,
  kStretchDiBits = 81,
  kCreateMonoBrush = 93,
  kCreateDibPatternBrushPt = 94,
  kAlphaBlend = 114,
  kTransparentBlt = 116,
};

constexpr uint32_t kStock = 0x80000000;
constexpr uint32_t kSrcCopy = 0x00CC0020;
constexpr uint32_t kSrcAnd = 0x008800C6;
constexpr uint32_t kSrcInvert = 0x00660046;
constexpr uint32_t kAcSrcAlpha = 1;

// A BLENDFUNCTION: source-over, a constant alpha and the alpha format.
constexpr uint32_t Blend(uint32_t constant_alpha, uint32_t format) {
  return constant_alpha << 16 | format << 24;
}

using testing::ErrorNumberOf;

#define EXPECT_COLOUR(image, x, y, colour, tolerance)                \
  EXPECT_EQ(ColourDiff(PixelAt(image, x, y), colour, tolerance), "") \
      << "at " << (x) << "," << (y)

// A pixel and the colour expected there.
struct Probe {
  int x;
  int y;
  Rgb colour;
};

// Checks each probe's pixel within `tolerance`.
void ExpectProbes(const DecodedImage& image, const std::vector<Probe>& probes,
                  int tolerance) {
  for (const Probe& p : probes) {
    EXPECT_COLOUR(image, p.x, p.y, p.colour, tolerance);
  }
}

// Checks that the pixels at `points` are of `colour`, within `tolerance`.
void ExpectColourAt(const DecodedImage& image, Rgb colour,
                    const std::vector<std::pair<int, int>>& points,
                    int tolerance = 0) {
  for (const auto& [x, y] : points)
    EXPECT_COLOUR(image, x, y, colour, tolerance);
}

// Returns how many pixels of the box (right and bottom excluded) are dark.
int DarkPixels(const DecodedImage& image, int left, int top, int right,
               int bottom) {
  int dark = 0;
  for (int y = top; y < bottom; ++y) {
    for (int x = left; x < right; ++x) {
      Rgb p = PixelAt(image, x, y);
      if (p.r + p.g + p.b < 3 * 100) ++dark;
    }
  }
  return dark;
}

std::vector<uint8_t> RedRectangleEmf() {
  EmfWriter emf(192, 96);
  emf.Select(kNullPen).SolidBrush(1, ColorRef(255, 0, 0)).Select(1);
  emf.Rectangle(20, 10, 60, 50);
  return emf.Finish();
}

TEST(EmfTest, ShapeAtItsPlaceAndFrameIsTheLogicalSize) {
  const std::vector<uint8_t> bytes = RedRectangleEmf();
  DecodedImage full = DecodePictureBytes(bytes);
  ASSERT_NO_FATAL_FAILURE(testing::ExpectLayout(full, 192, 96, 192, 96));
  ExpectColourAt(full, kRed, {{40, 30}, {21, 11}});
  ExpectColourAt(full, kWhite, {{62, 30}, {40, 52}, {150, 80}});

  // Drawn straight at the width asked, the height in proportion.
  DecodedImage half = DecodePictureBytes(bytes, {96, 0});
  ASSERT_NO_FATAL_FAILURE(testing::ExpectLayout(half, 192, 96, 96, 48));
  EXPECT_COLOUR(half, 20, 15, kRed, 0);
  EXPECT_COLOUR(half, 40, 15, kWhite, 0);
  DecodedImage by_height = DecodePictureBytes(bytes, {0, 24});
  EXPECT_EQ(by_height.pixel_width, 48);
  EXPECT_EQ(by_height.pixel_height, 24);
  // Never more pixels than the logical size.
  DecodedImage larger = DecodePictureBytes(bytes, {1000, 0});
  EXPECT_EQ(larger.pixel_width, 192);
  EXPECT_EQ(larger.pixel_height, 96);
}

TEST(EmfTest, MappingModeWorldTransformAndSavedStates) {
  EmfWriter emf(192, 96);
  emf.Select(kNullPen);
  emf.Record(kSetMapMode, {8});  // anisotropic
  emf.Record(kSetWindowExtEx, {1000, 500});
  emf.Record(kSetViewportExtEx, {192, 96});
  emf.SolidBrush(1, ColorRef(0, 0, 255)).Select(1);
  emf.Rectangle(500, 250, 1000, 500);  // the bottom right quarter
  emf.Record(kSaveDc, {});
  emf.Record(kSetWorldTransform, {FloatBits(0.5F), 0, 0, FloatBits(0.5F),
                                  FloatBits(0), FloatBits(0)});
  emf.SolidBrush(2, ColorRef(0, 255, 0)).Select(2);
  emf.Rectangle(0, 0, 400, 200);  // 0..38 x 0..19 pixels, halved
  emf.Record(kRestoreDc, {static_cast<uint32_t>(-1)});
  emf.Rectangle(0, 400, 100, 500);  // blue again, whole scale
  DecodedImage image = DecodePictureBytes(emf.Finish());
  ExpectColourAt(image, kBlue, {{150, 70}, {10, 86}});
  ExpectColourAt(image, kWhite, {{90, 40}, {45, 8}, {10, 60}});
  ExpectColourAt(image, kGreen, {{15, 8}, {30, 16}});
}

TEST(EmfTest, PathsAndClipRectangles) {
  EmfWriter emf(192, 96);
  emf.Select(kNullPen).SolidBrush(1, ColorRef(255, 0, 0)).Select(1);
  emf.Record(kBeginPath, {});
  emf.Record(kMoveToEx, {10, 10});
  emf.Record(kLineTo, {90, 10});
  emf.Record(kLineTo, {10, 90});
  emf.Record(kCloseFigure, {});
  emf.Record(kEndPath, {});
  emf.Record(kFillPath, {0, 0, 192, 96});
  emf.Record(kIntersectClipRect, {100, 0, 150, 50});
  emf.SolidBrush(2, ColorRef(0, 0, 255)).Select(2);
  emf.Rectangle(100, 0, 192, 96);
  DecodedImage image = DecodePictureBytes(emf.Finish());
  EXPECT_COLOUR(image, 20, 20, kRed, 0);
  EXPECT_COLOUR(image, 120, 20, kBlue, 0);
  ExpectColourAt(image, kWhite, {{70, 70}, {170, 20}, {120, 70}});
}

TEST(EmfTest, ClipPathsCombineWithTheClipAsTheirModeSays) {
  constexpr uint32_t kSelectClipPath = 67;
  struct Case {
    uint32_t mode;
    // Blue or not at x = 25 (the clip only), 75 (both), 125 (the path only).
    bool only_clip, both, only_path;
  };
  for (const Case& c : {Case{1, false, true, false},    // and
                        Case{2, true, true, true},      // or
                        Case{3, true, false, true},     // xor
                        Case{4, true, false, false},    // diff
                        Case{5, false, true, true}}) {  // copy
    SCOPED_TRACE(c.mode);
    EmfWriter emf(200, 60);
    emf.Record(kIntersectClipRect, {0, 0, 100, 60});
    emf.Record(kBeginPath, {});
    emf.Rectangle(50, 0, 150, 60);
    emf.Record(kEndPath, {});
    emf.Record(kSelectClipPath, {c.mode});
    emf.Select(kNullPen).SolidBrush(1, ColorRef(0, 0, 255)).Select(1);
    emf.Rectangle(0, 0, 200, 60);
    const DecodedImage image = DecodePictureBytes(emf.Finish());
    EXPECT_COLOUR(image, 25, 30, c.only_clip ? kBlue : kWhite, 0);
    EXPECT_COLOUR(image, 75, 30, c.both ? kBlue : kWhite, 0);
    EXPECT_COLOUR(image, 125, 30, c.only_path ? kBlue : kWhite, 0);
    EXPECT_COLOUR(image, 175, 30, kWhite, 0);
  }
}

TEST(EmfTest, GradientFillsShadeRectanglesAndTriangles) {
  constexpr uint32_t kGradientFill = 118;
  // A vertex: x, y, and 16-bit red, green, blue and alpha.
  const auto vertex = [](int x, int y, Rgb c) {
    return std::vector<uint32_t>{static_cast<uint32_t>(x),
                                 static_cast<uint32_t>(y),
                                 static_cast<uint32_t>(c.r << 8 | c.g << 24),
                                 static_cast<uint32_t>(c.b << 8)};
  };
  struct Case {
    const char* name;
    uint32_t mode;
    std::vector<std::vector<uint32_t>> vertices;
    std::vector<uint32_t> indices;
    std::vector<Probe> probes;  // within 8
  };
  const Rgb purple{128, 0, 128};
  const Case cases[] = {
      {"across",
       0,
       {vertex(0, 0, kRed), vertex(100, 60, kBlue)},
       {0, 1},
       {{2, 30, kRed}, {50, 30, purple}, {97, 30, kBlue}}},
      {"down",
       1,
       {vertex(0, 0, kRed), vertex(100, 60, kBlue)},
       {0, 1},
       {{50, 1, kRed}, {50, 30, purple}, {50, 58, kBlue}}},
      {"a triangle",
       2,
       {vertex(0, 0, kRed), vertex(100, 0, kGreen), vertex(0, 60, kBlue)},
       {0, 1, 2},
       {{0, 0, kRed}, {98, 0, kGreen}, {0, 59, kBlue}, {80, 50, kWhite}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint32_t> params = {
        0, 0, 0, 0, static_cast<uint32_t>(c.vertices.size()), 1, c.mode};
    for (const auto& v : c.vertices)
      params.insert(params.end(), v.begin(), v.end());
    params.insert(params.end(), c.indices.begin(), c.indices.end());
    EmfWriter emf(100, 60);
    emf.Record(kGradientFill, params);
    ExpectProbes(DecodePictureBytes(emf.Finish()), c.probes, 8);
  }
}

TEST(EmfTest, TextIsDrawnInItsBox) {
  EmfWriter emf(192, 96);
  emf.Record(kSetBkMode, {1});  // transparent
  emf.Record(kSetTextColor, {ColorRef(0, 0, 0)});
  emf.Font(1, -32, u"Arial").Select(1);
  emf.Text(20, 30, u"Hello");
  DecodedImage image = DecodePictureBytes(emf.Finish());
  // Aligned by its top left: the capitals stand in 30..56.
  EXPECT_GT(DarkPixels(image, 20, 30, 110, 62), 100);
  EXPECT_EQ(DarkPixels(image, 0, 0, 192, 28), 0);
  EXPECT_EQ(DarkPixels(image, 0, 66, 192, 96), 0);
  EXPECT_EQ(DarkPixels(image, 0, 0, 18, 96), 0);
}

TEST(EmfTest, BitmapRecordIsDrawnUpright) {
  EmfWriter emf(192, 96);
  emf.StretchDib(0, 0, 96, 96, 2, 2,
                 {0xFF0000, 0x00FF00,    // top row: red, green
                  0x0000FF, 0xFFFF00});  // bottom row: blue, yellow
  DecodedImage image = DecodePictureBytes(emf.Finish());
  // Enlarged, each of its pixels stays a square of one colour.
  ExpectColourAt(image, kRed, {{2, 2}, {46, 46}});
  EXPECT_COLOUR(image, 50, 2, kGreen, 0);
  EXPECT_COLOUR(image, 2, 50, kBlue, 0);
  ExpectColourAt(image, kYellow, {{50, 50}, {93, 93}});
  EXPECT_COLOUR(image, 150, 50, kWhite, 0);
}

TEST(EmfTest, EmptyFrameFallsBackToBoundsAndUnknownRecordsAreSkipped) {
  EmfWriter emf(100, 50);
  emf.SetFrame(0, 0, 0, 0);
  emf.Record(0x7777, {1, 2, 3});
  emf.Select(kNullPen).SolidBrush(1, ColorRef(255, 0, 0)).Select(1);
  emf.Rectangle(0, 0, 50, 50);
  DecodedImage image = DecodePictureBytes(emf.Finish());
  ASSERT_NO_FATAL_FAILURE(testing::ExpectLayout(image, 100, 50, 100, 50));
  EXPECT_COLOUR(image, 25, 25, kRed, 0);
  EXPECT_COLOUR(image, 75, 25, kWhite, 0);
}

// Records of a real file that the player does not draw, or draws only in
// part, never cost the rest of the picture.
TEST(EmfTest, RecordsNotDrawnLeaveTheShapesAfterThem) {
  // A region of one rectangle, 60,60 - 70,70: RGNDATAHEADER then the rect.
  const std::vector<uint32_t> region = {60, 60, 70, 70, 48, 32, 1,  1, 16,
                                        60, 60, 70, 70, 60, 60, 70, 70};
  const Dib stripes = PackedDib(8, 8, 1, std::vector<uint32_t>(64, 1));
  // A bitmap of two rows whose bits hold one: a band of its scan lines.
  Dib band = PackedDib(4, 2, 24, std::vector<uint32_t>(8, 0));
  band.data.resize(band.data.size() / 2);
  struct Case {
    const char* what;
    std::function<void(EmfWriter&)> write;
  };
  const Case cases[] = {
      {"offset clip region",
       [](EmfWriter& e) {
         e.Record(kOffsetClipRgn, {5, 5});
       }},
      {"invert region", [&](EmfWriter& e) { e.Record(kInvertRgn, region); }},
      {"paint region", [&](EmfWriter& e) { e.Record(kPaintRgn, region); }},
      {"mono brush",
       [&](EmfWriter& e) { e.PatternBrush(kCreateMonoBrush, 3, stripes); }},
      {"pattern brush",
       [&](EmfWriter& e) {
         e.PatternBrush(kCreateDibPatternBrushPt, 3, stripes);
       }},
      {"band of a bitmap", [&](EmfWriter& e) { e.SetDib(0, 60, band); }},
      {"type 200",
       [](EmfWriter& e) {
         e.Record(200, {1, 2, 3, 4});
       }},
      {"empty record", [](EmfWriter& e) { e.Record(0x7777, {}); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EmfWriter emf(192, 96);
    emf.Select(kNullPen).SolidBrush(1, ColorRef(255, 0, 0)).Select(1);
    emf.Rectangle(0, 0, 40, 40);
    c.write(emf);
    emf.SolidBrush(2, ColorRef(0, 0, 255)).Select(2);
    emf.Rectangle(100, 0, 140, 40);
    const DecodedImage image = DecodePictureBytes(emf.Finish());
    EXPECT_COLOUR(image, 20, 20, kRed, 0);
    EXPECT_COLOUR(image, 120, 20, kBlue, 0);
  }
  // Whatever its type, a record that claims more bytes than the file
  // holds is damage.
  EmfWriter overrun(192, 96);
  overrun.Record(200, {1, 2, 3, 4});
  std::vector<uint8_t> bytes = overrun.Finish();
  bytes[108 + 5] = 0x10;
  EXPECT_EQ(ErrorNumberOf(bytes), platform::kErrInvalidPicture);
}

TEST(EmfTest, StockObjectsFillAndOutline) {
  constexpr Rgb kBlack = {0, 0, 0};
  struct Case {
    uint32_t stock;
    Rgb inside;
    bool outlined;  // the default black pen around it
  };
  for (const Case& c :
       {Case{0, kWhite, true}, Case{1, {192, 192, 192}, true},
        Case{2, {128, 128, 128}, true}, Case{3, {64, 64, 64}, true},
        Case{4, kBlack, true}, Case{5, kWhite, true},  // null brush: not filled
        Case{8, kRed, false}}) {                       // null pen
    SCOPED_TRACE(c.stock);
    EmfWriter emf(192, 96);
    emf.SolidBrush(1, ColorRef(255, 0, 0)).Select(1);
    emf.Select(kStock | c.stock);
    emf.Rectangle(20, 10, 60, 50);
    const DecodedImage image = DecodePictureBytes(emf.Finish());
    EXPECT_COLOUR(image, 40, 30, c.inside, 1);
    EXPECT_COLOUR(image, 80, 30, kWhite, 0);
    // The outline's pixel width straddles the edge.
    EXPECT_EQ(ColourDiff(PixelAt(image, 19, 30), kWhite, 30).empty(),
              !c.outlined);
  }
}

// A colour of the selected palette, by its index.
constexpr uint32_t PaletteIndex(uint32_t index) { return 0x01000000 | index; }

TEST(EmfTest, PaletteIndicesTakeTheSelectedPalettesColours) {
  enum : uint32_t {
    kSelectPalette = 48,
    kCreatePalette = 49,
    kSetPaletteEntries = 50,
  };
  const uint32_t red = ColorRef(255, 0, 0);
  const uint32_t green = ColorRef(0, 255, 0);
  const uint32_t blue = ColorRef(0, 0, 255);
  // Palette 2 of red, green and blue, selected.
  const auto rgb_palette = [&](EmfWriter& emf) {
    emf.Record(kCreatePalette, {2, 0x300 | 3 << 16, red, green, blue});
    emf.Record(kSelectPalette, {2});
  };
  struct Case {
    const char* name;
    std::function<void(EmfWriter&)> before;
    uint32_t colour;
    Rgb expected;
  };
  for (const Case& c : std::vector<Case>{
           {"the default palette's sky blue",
            nullptr,
            PaletteIndex(9),
            {166, 202, 240}},
           {"the selected palette", rgb_palette, PaletteIndex(1), kGreen},
           {"past its end: its first entry", rgb_palette, PaletteIndex(7),
            kRed},
           {"an entry changed once selected",
            [&](EmfWriter& emf) {
              rgb_palette(emf);
              emf.Record(kSetPaletteEntries, {2, 1, 1, ColorRef(255, 255, 0)});
            },
            PaletteIndex(1), kYellow},
           {"a change past its end is not made",
            [&](EmfWriter& emf) {
              rgb_palette(emf);
              emf.Record(kSetPaletteEntries, {2, 60000, 1, green});
            },
            PaletteIndex(60000), kRed},
           {"a palette-relative colour is a colour", rgb_palette,
            0x02000000 | blue, kBlue}}) {
    SCOPED_TRACE(c.name);
    EmfWriter emf(100, 60);
    if (c.before) c.before(emf);
    emf.Select(kNullPen).SolidBrush(1, c.colour).Select(1);
    emf.Rectangle(10, 10, 90, 50);
    const DecodedImage image = DecodePictureBytes(emf.Finish());
    EXPECT_COLOUR(image, 50, 30, c.expected, 0);
  }

  // A bitmap whose colour table holds indices of the palette.
  Dib indexed = PackedDib(2, 1, 1, {0, 1});
  indexed.palette = {2, 1};
  indexed.usage = 1;
  EmfWriter emf(100, 60);
  rgb_palette(emf);
  emf.StretchDib(0, 0, 100, 60, kSrcCopy, indexed);
  WmfWriter wmf;
  wmf.Window(0, 0, 100, 60).Palette({red, green, blue});
  wmf.Bitmap(0x0F43, 0, 0, 100, 60, kSrcCopy, indexed);
  for (const std::vector<uint8_t>& bytes : {emf.Finish(), wmf.Finish()}) {
    const DecodedImage image = DecodePictureBytes(bytes);
    EXPECT_COLOUR(image, 25, 30, kBlue, 0);
    EXPECT_COLOUR(image, 75, 30, kGreen, 0);
  }
}

TEST(MetafileTest, PensAndBrushesDrawInTheirRasterOperation) {
  constexpr Rgb kBlack = {0, 0, 0};
  constexpr Rgb kMagenta = {255, 0, 255};
  struct Case {
    uint16_t rop2;
    Rgb over_red;    // a blue box drawn over red
    Rgb over_white;  // and over the white page
  };
  for (const Case& c : {Case{13, kBlue, kBlue},  // the copy
                        Case{7, kMagenta, kYellow}, Case{10, kGreen, kBlue},
                        Case{11, kRed, kWhite},  // nothing drawn
                        Case{9, kBlack, kBlue}, Case{15, kMagenta, kWhite},
                        Case{6, {0, 255, 255}, kBlack}, Case{1, kBlack, kBlack},
                        Case{16, kWhite, kWhite}}) {
    SCOPED_TRACE(c.rop2);
    constexpr uint32_t kSetRop2 = 20;
    EmfWriter emf(100, 60);
    emf.Select(kNullPen).SolidBrush(1, ColorRef(255, 0, 0)).Select(1);
    emf.Rectangle(10, 10, 50, 50);
    emf.Record(kSetRop2, {c.rop2});
    emf.SolidBrush(2, ColorRef(0, 0, 255)).Select(2);
    emf.Rectangle(30, 10, 90, 50);
    WmfWriter wmf;
    wmf.Window(0, 0, 100, 60).Pen(5, 0, 0);  // a null pen
    wmf.SolidBrush(ColorRef(255, 0, 0)).Rectangle(10, 10, 50, 50);
    wmf.Record(0x0104, {c.rop2});
    wmf.SolidBrush(ColorRef(0, 0, 255)).Rectangle(30, 10, 90, 50);
    for (const std::vector<uint8_t>& bytes : {emf.Finish(), wmf.Finish()}) {
      const DecodedImage image = DecodePictureBytes(bytes);
      EXPECT_COLOUR(image, 20, 30, kRed, 0);
      EXPECT_COLOUR(image, 40, 30, c.over_red, 0);
      EXPECT_COLOUR(image, 70, 30, c.over_white, 0);
    }
  }
}

TEST(EmfTest, AlphaBlendMixesWithWhatIsBelow) {
  struct Case {
    const char* what;
    Dib dib;
    uint32_t blend;
    Rgb expected;
  };
  // Premultiplied: half-transparent red is 128, 0, 0 with alpha 128.
  const Dib half_red =
      PackedDib(2, 2, 32, std::vector<uint32_t>(4, 0x80800000));
  const Dib red = PackedDib(2, 2, 32, std::vector<uint32_t>(4, 0xFFFF0000));
  const Dib red24 = PackedDib(2, 2, 24, std::vector<uint32_t>(4, 0xFF0000));
  const Case cases[] = {
      {"per-pixel alpha", half_red, Blend(255, kAcSrcAlpha), {255, 127, 127}},
      {"constant alpha", red, Blend(128, 0), {255, 127, 127}},
      {"both", half_red, Blend(128, kAcSrcAlpha), {255, 191, 191}},
      {"no alpha in 24 bits", red24, Blend(255, kAcSrcAlpha), kRed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EmfWriter emf(192, 96);
    emf.Blit(kAlphaBlend, 20, 10, 40, 40, c.blend, c.dib);
    const DecodedImage image = DecodePictureBytes(emf.Finish());
    EXPECT_COLOUR(image, 40, 30, c.expected, 2);
    EXPECT_COLOUR(image, 80, 30, kWhite, 0);
  }
}

// Bitmaps as files hold them: an icon drawn as an AND mask then its colours
// XORed, a transparent colour, palettes and run-length rows. Each is a
// 4 x 2 bitmap drawn at 80 x 40 whose left half is red; its bottom right is
// blue, or shows the white below.
TEST(EmfTest, BitmapsAreComposedAsTheyAreMeant) {
  constexpr uint32_t kR = 0xFF0000;
  constexpr uint32_t kG = 0x00FF00;
  const std::vector<uint32_t> palette = {0x000000, kR, kG, 0x0000FF};
  constexpr uint32_t kW = 0xFFFFFF;
  // The icon's shape is the left half: black in the mask, red in colour.
  const Dib mask = PackedDib(4, 2, 24, {0, 0, kW, kW, 0, 0, kW, kW});
  const Dib colours = PackedDib(4, 2, 24, {kR, kR, 0, 0, kR, kR, 0, 0});
  Dib four_bits = PackedDib(4, 2, 4, {1, 1, 2, 3, 1, 1, 3, 3});
  four_bits.palette = palette;
  Dib upside_down = PackedDib(4, 2, 4, {3, 3, 1, 1, 3, 2, 1, 1});
  upside_down.palette = palette;
  Dib left_half = PackedDib(4, 2, 1, {1, 1, 0, 0, 1, 1, 0, 0});
  left_half.palette = {0x000000, 0xFFFFFF};
  // MAKEROP4(SRCCOPY, DSTCOPY): the source where the mask is 1.
  constexpr uint32_t kMaskedCopy = 0xAACC0020;
  // Bottom row: 2 red, 2 blue; top row given as 4 pixels at once.
  Dib rle8{4, 2, 8, 1, palette, {2, 1, 2, 3, 0, 0, 0, 4, 1, 1, 2, 3, 0, 1}};
  Dib rle4{4, 2,       4,
           2, palette, {2, 0x11, 2, 0x33, 0, 0, 0, 4, 0x11, 0x23, 0, 1}};
  struct Case {
    const char* what;
    std::function<void(EmfWriter&)> write;
    Rgb bottom_right;
  };
  const Case cases[] = {
      {"icon pair, BitBlt",
       [&](EmfWriter& e) {
         e.Blit(kBitBlt, 0, 0, 80, 40, kSrcAnd, mask);
         e.Blit(kBitBlt, 0, 0, 80, 40, kSrcInvert, colours);
       },
       kWhite},
      {"icon pair, StretchDIBits",
       [&](EmfWriter& e) {
         e.StretchDib(0, 0, 80, 40, kSrcAnd, mask);
         e.StretchDib(0, 0, 80, 40, kSrcInvert, colours);
       },
       kWhite},
      {"transparent colour",
       [&](EmfWriter& e) {
         e.Blit(kTransparentBlt, 0, 0, 80, 40, 0x00FF00,  // green
                PackedDib(4, 2, 24, {kR, kR, kG, kG, kR, kR, kG, kG}));
       },
       kWhite},
      {"4-bit palette",
       [&](EmfWriter& e) { e.StretchDib(0, 0, 80, 40, kSrcCopy, four_bits); },
       kBlue},
      {"RLE8",
       [&](EmfWriter& e) { e.StretchDib(0, 0, 80, 40, kSrcCopy, rle8); },
       kBlue},
      {"RLE4",
       [&](EmfWriter& e) { e.StretchDib(0, 0, 80, 40, kSrcCopy, rle4); },
       kBlue},
      // These two draw unscaled: a world transform makes each pixel 20.
      {"masked copy",
       [&](EmfWriter& e) {
         e.Record(kSetWorldTransform,
                  {FloatBits(20), 0, 0, FloatBits(20), 0, 0});
         e.Blit(kMaskBlt, 0, 0, 4, 2, kMaskedCopy, four_bits, &left_half);
       },
       kWhite},
      {"SetDIBitsToDevice",
       [&](EmfWriter& e) {
         e.Record(kSetWorldTransform,
                  {FloatBits(20), 0, 0, FloatBits(20), 0, 0});
         e.SetDib(0, 0, four_bits);
       },
       kBlue},
      {"PlgBlt",
       [&](EmfWriter& e) {
         e.PlgBlt({{{0, 0}, {80, 0}, {0, 40}}}, four_bits);
       },
       kBlue},
      {"PlgBlt through its mask",
       [&](EmfWriter& e) {
         e.PlgBlt({{{0, 0}, {80, 0}, {0, 40}}}, four_bits, &left_half);
       },
       kWhite},
      {"PlgBlt turned half round",
       [&](EmfWriter& e) {
         e.PlgBlt({{{80, 40}, {0, 40}, {80, 0}}}, upside_down);
       },
       kBlue},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EmfWriter emf(192, 96);
    c.write(emf);
    const DecodedImage image = DecodePictureBytes(emf.Finish());
    ExpectColourAt(image, kRed, {{10, 10}, {30, 30}});
    EXPECT_COLOUR(image, 70, 30, c.bottom_right, 0);
    EXPECT_COLOUR(image, 120, 20, kWhite, 0);
    // Drawn reduced for a thumbnail, at a scale that falls between
    // pixels, the same.
    const DecodedImage small = DecodePictureBytes(emf.Finish(), {57, 0});
    EXPECT_COLOUR(small, 3, 3, kRed, 0);
    EXPECT_COLOUR(small, 21, 9, c.bottom_right, 0);
  }
  // A parallelogram reaching a billion units beyond the picture: cut to
  // it, drawn where it covers it.
  EmfWriter far(192, 96);
  constexpr int kFar = 1'000'000'000;
  far.PlgBlt({{{-kFar, -kFar}, {kFar, -kFar}, {-kFar, kFar}}},
             PackedDib(1, 1, 24, {kG}));
  EXPECT_COLOUR(DecodePictureBytes(far.Finish()), 100, 50, kGreen, 0);
}

TEST(EmfTest, MonoBrushTakesTheTextColoursAndExcludedRectIsLeft) {
  EmfWriter emf(192, 96);
  emf.Record(kSetTextColor, {ColorRef(255, 0, 0)});
  emf.Record(kSetBkColor, {ColorRef(0, 0, 255)});
  // 8 x 8: the top four rows 0 bits, the bottom four 1 bits.
  std::vector<uint32_t> bits(64, 0);
  std::fill(bits.begin() + 32, bits.end(), 1);
  emf.PatternBrush(kCreateMonoBrush, 1, PackedDib(8, 8, 1, bits)).Select(1);
  emf.Select(kNullPen);
  emf.Record(kExcludeClipRect, {32, 0, 48, 96});
  emf.Rectangle(0, 0, 64, 64);
  const DecodedImage image = DecodePictureBytes(emf.Finish());
  ExpectColourAt(image, kRed, {{2, 2}, {2, 10}, {60, 2}});
  EXPECT_COLOUR(image, 2, 6, kBlue, 0);
  ExpectColourAt(image, kWhite, {{40, 2}, {100, 2}});
}

// Each refusal names what is wrong; a picture too large to draw is not an
// invalid one.
void ExpectRefusals(
    const std::vector<std::pair<std::vector<uint8_t>, std::string>>& cases) {
  for (size_t i = 0; i < cases.size(); ++i) {
    const testing::Refusal refusal = testing::RefusalOf(cases[i].first);
    EXPECT_EQ(refusal.number, cases[i].second == "too large"
                                  ? platform::kErrOutOfMemory
                                  : platform::kErrInvalidPicture)
        << i;
    EXPECT_NE(refusal.description.find(cases[i].second), std::string::npos)
        << i << ": " << refusal.description;
  }
}

TEST(EmfTest, DamagedAndHostileFilesAreInvalid) {
  const std::vector<uint8_t> good = RedRectangleEmf();
  std::vector<uint8_t> past_end = good;
  past_end[108 + 4] = 0xF0;  // the first record claims more than the file
  std::vector<uint8_t> tiny_record = good;
  tiny_record[108 + 4] = 4;
  std::vector<uint8_t> no_end = good;
  no_end.resize(good.size() - 20);  // its EOF record
  EmfWriter empty(10, 10);
  empty.SetFrame(0, 0, 0, 0);
  empty.SetBounds(0, 0, -1, -1);
  // Millions of pixels wide.
  EmfWriter huge(10, 10);
  huge.SetFrame(0, 0, 300000000, 100);
  // A bitmap whose header claims far more pixels than its record holds.
  EmfWriter dib(100, 100);
  dib.StretchDib(0, 0, 10, 10, 2, 2, {0, 0, 0, 0});
  std::vector<uint8_t> big_dib = dib.Finish();
  const size_t header_at = 108 + 80;  // the record's fixed part, then the DIB
  ASSERT_EQ(big_dib[header_at], 40);
  big_dib[header_at + 5] = 0x40;  // width 16386
  big_dib[header_at + 9] = 0x40;  // height 16386
  EmfWriter many(10, 10);
  for (int i = 0; i < (1 << 20); ++i) many.Record(kSetBkMode, {1});
  // As many EMF+ records (GetDC, no data), in one comment.
  EmfWriter many_plus(10, 10);
  many_plus.EmfPlus(std::vector<EmfPlusRecord>(1 << 20, {0x4004, 0, {}}));

  ExpectRefusals({
      {past_end, "(EMF: record 37 at byte 108 is damaged)"},
      {tiny_record, "at byte 108 is damaged"},
      {std::vector<uint8_t>(good.begin(), good.end() - 30), "is damaged"},
      {no_end, "(EMF: cut short before its last record)"},
      {std::vector<uint8_t>(good.begin(), good.begin() + 60),
       "(EMF: damaged header)"},
      {empty.Finish(), "(a size of "},
      {huge.Finish(), "too large"},
      {big_dib, "(EMF: record 81 at byte 108 is damaged)"},
      {many.Finish(), "(EMF: more than 1048576 records)"},
      {many_plus.Finish(), "(EMF: more than 1048576 records)"},
  });
}

// EMF+ records, flags and values used below. A record's type is its
// number with the EMF+ bit set.
constexpr uint16_t kPlus = 0x4000;
enum : uint16_t {
  kPlusHeader = kPlus | 0x01,
  kPlusEndOfFile = kPlus | 0x02,
  kPlusGetDc = kPlus | 0x04,
  kPlusObject = kPlus | 0x08,
  kPlusClear = kPlus | 0x09,
  kPlusFillRects = kPlus | 0x0A,
  kPlusFillPolygon = kPlus | 0x0C,
  kPlusDrawLines = kPlus | 0x0D,
  kPlusFillEllipse = kPlus | 0x0E,
  kPlusFillRegion = kPlus | 0x13,
  kPlusFillPath = kPlus | 0x14,
  kPlusFillClosedCurve = kPlus | 0x16,
  kPlusDrawCurve = kPlus | 0x18,
  kPlusDrawImage = kPlus | 0x1A,
  kPlusDrawImagePoints = kPlus | 0x1B,
  kPlusDrawString = kPlus | 0x1C,
  kPlusSave = kPlus | 0x25,
  kPlusRestore = kPlus | 0x26,
  kPlusSetWorldTransform = kPlus | 0x2A,
  kPlusTranslateWorldTransform = kPlus | 0x2D,
  kPlusSetPageTransform = kPlus | 0x30,
  kPlusSetClipRect = kPlus | 0x32,
  kPlusSetClipRegion = kPlus | 0x34,
};
constexpr uint16_t kPlusColour = 0x8000;    // the brush is an ARGB colour
constexpr uint16_t kPlusShort = 0x4000;     // 16-bit coordinates
constexpr uint16_t kPlusRelative = 0x0800;  // each point after the last
constexpr uint32_t kPlusVersion = 0xDBC01002;
constexpr uint32_t kArgbRed = 0xFFFF0000;
constexpr uint32_t kArgbGreen = 0xFF00FF00;
constexpr uint32_t kArgbBlue = 0xFF0000FF;

uint16_t ObjectFlags(uint16_t type, uint16_t index) {
  return static_cast<uint16_t>(type << 8 | index);
}
// Two 16-bit values in one.
uint32_t Pair(int16_t a, int16_t b) {
  return static_cast<uint16_t>(a) |
         static_cast<uint32_t>(static_cast<uint16_t>(b)) << 16;
}
std::vector<uint32_t> Floats(std::initializer_list<float> values) {
  std::vector<uint32_t> out;
  for (float v : values) out.push_back(FloatBits(v));
  return out;
}
std::vector<uint32_t> Join(std::vector<uint32_t> a,
                           const std::vector<uint32_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
EmfPlusRecord FillRect(uint32_t argb, float x, float y, float w, float h) {
  return {kPlusFillRects, kPlusColour, Join({argb, 1}, Floats({x, y, w, h}))};
}
EmfPlusRecord SolidBrushObject(uint16_t index, uint32_t argb) {
  return {kPlusObject, ObjectFlags(1, index), {kPlusVersion, 0, argb}};
}
// A 2 x 2 32-bit ARGB bitmap: red, green above blue, yellow.
EmfPlusRecord QuarterImageObject(uint16_t index) {
  return {kPlusObject,
          ObjectFlags(5, index),
          {kPlusVersion, 1, 2, 2, 8, 0x0026200A, 0, kArgbRed, kArgbGreen,
           kArgbBlue, 0xFFFFFF00}};
}

// A 2 x 2 PNG of the same colours, compressed, its object saying `width` x
// `height`.
EmfPlusRecord QuarterPngObject(uint16_t index, uint32_t width,
                               uint32_t height) {
  testing::PngSpec spec;
  spec.width = 2;
  spec.height = 2;
  spec.samples = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 0};
  std::vector<uint8_t> png = testing::EncodePng(spec);
  png.resize((png.size() + 3) / 4 * 4);
  EmfPlusRecord r{kPlusObject,
                  ObjectFlags(5, index),
                  {kPlusVersion, 1, width, height, 0, 0x0026200A, 1}};
  for (size_t i = 0; i < png.size(); i += 4) {
    uint32_t word = 0;
    std::memcpy(&word, &png[i], 4);
    r.data.push_back(word);
  }
  return r;
}

// An EMF+ only picture of 100 x 100 pixels made of `records`, or a dual one.
std::vector<uint8_t> EmfPlusOnly(const std::vector<EmfPlusRecord>& records,
                                 bool dual = false) {
  EmfWriter emf(100, 100);
  emf.EmfPlus({{kPlusHeader,
                static_cast<uint16_t>(dual ? 1 : 0),
                {kPlusVersion, 1, 96, 96}}});
  emf.EmfPlus(records);
  emf.EmfPlus({{kPlusEndOfFile, 0, {}}});
  return emf.Finish();
}

TEST(EmfPlusTest, RecordsDrawAtTheirPlaceAndColour) {
  struct Case {
    const char* name;
    std::vector<EmfPlusRecord> records;
    std::vector<Probe> probes;
  };
  const std::vector<Case> cases = {
      {"rectangle of a colour",
       {FillRect(kArgbRed, 10, 10, 40, 30)},
       {{20, 20, kRed}, {60, 20, kWhite}, {20, 45, kWhite}}},
      {"rectangle of a brush object",
       {SolidBrushObject(3, kArgbGreen),
        {kPlusFillRects, 0, Join({3, 1}, Floats({10, 10, 40, 30}))}},
       {{20, 20, kGreen}, {60, 20, kWhite}}},
      {"path of 16-bit points, closed",
       {{kPlusObject,
         ObjectFlags(3, 1),
         {kPlusVersion, 3, kPlusShort, Pair(10, 10), Pair(90, 10), Pair(10, 90),
          0x00810100}},
        {kPlusFillPath, kPlusColour | 1, {kArgbBlue}}},
       {{20, 20, kBlue}, {80, 80, kWhite}}},
      {"polygon",
       {{kPlusFillPolygon, kPlusColour,
         Join({kArgbBlue, 3}, Floats({90, 90, 10, 90, 90, 10}))}},
       {{80, 80, kBlue}, {20, 20, kWhite}}},
      {"line of a pen",
       {{kPlusObject, ObjectFlags(2, 2),
         Join({kPlusVersion, 0, 0, 2},
              Join(Floats({6}), {kPlusVersion, 0, kArgbRed}))},
        {kPlusDrawLines, kPlusShort | 2, {2, Pair(10, 50), Pair(90, 50)}}},
       {{50, 50, kRed}, {50, 52, kRed}, {50, 40, kWhite}, {5, 50, kWhite}}},
      {"ellipse",
       {{kPlusFillEllipse, kPlusColour,
         Join({kArgbBlue}, Floats({20, 20, 60, 60}))}},
       {{50, 50, kBlue}, {22, 22, kWhite}}},
      {"world transform moves",
       {{kPlusTranslateWorldTransform, 0, Floats({50, 0})},
        FillRect(kArgbRed, 10, 10, 20, 20)},
       {{20, 20, kWhite}, {70, 20, kRed}}},
      {"world transform set, state saved and restored",
       {{kPlusSave, 0, {7}},
        {kPlusSetWorldTransform, 0, Floats({2, 0, 0, 2, 0, 0})},
        FillRect(kArgbGreen, 5, 5, 10, 10),
        {kPlusRestore, 0, {7}},
        FillRect(kArgbRed, 60, 60, 20, 20)},
       {{25, 25, kGreen}, {8, 8, kWhite}, {70, 70, kRed}}},
      {"page in half inches",
       {{kPlusSetPageTransform, 4, Floats({0.5F})},
        FillRect(kArgbRed, 0, 0, 1, 1)},
       {{40, 40, kRed}, {55, 55, kWhite}}},
      {"clip rectangle",
       {{kPlusSetClipRect, 0, Floats({0, 0, 50, 100})},
        FillRect(kArgbRed, 10, 10, 80, 80)},
       {{40, 50, kRed}, {60, 50, kWhite}}},
      {"clear",
       {{kPlusClear, 0, {kArgbGreen}}},
       {{1, 1, kGreen}, {98, 98, kGreen}}},
      {"image upright",
       {QuarterImageObject(4),
        {kPlusDrawImage, 4,
         Join({0, 2}, Floats({0, 0, 2, 2, 10, 10, 80, 80}))}},
       {{25, 25, kRed},
        {75, 25, kGreen},
        {25, 75, kBlue},
        {75, 75, kYellow},
        {5, 5, kWhite}}},
      {"compressed image",
       {QuarterPngObject(4, 2, 2),
        {kPlusDrawImage, 4,
         Join({0, 2}, Floats({0, 0, 2, 2, 10, 10, 80, 80}))}},
       {{25, 25, kRed}, {75, 25, kGreen}, {25, 75, kBlue}, {75, 75, kYellow}}},
      {"image on a mirrored parallelogram",
       {QuarterImageObject(4),
        {kPlusDrawImagePoints, 4,
         Join({0, 2}, Join(Floats({0, 0, 2, 2}),
                           Join({3}, Floats({90, 10, 10, 10, 90, 90}))))}},
       {{25, 25, kGreen}, {75, 25, kRed}, {25, 75, kYellow}, {75, 75, kBlue}}},
      {"polygon of relative points, 7 and 15 bits",
       {{kPlusFillPolygon,
         kPlusColour | kPlusRelative,
         // (10, 10), then (+80, 0) and (-80, +80).
         {kArgbBlue, 3, 0x50800A0A, 0x80B0FF00, 0x00000050}}},
       {{20, 20, kBlue}, {80, 12, kBlue}, {80, 80, kWhite}}},
      {"closed curve filled, bulging past its points",
       {{kPlusFillClosedCurve, kPlusColour,
         Join({kArgbBlue},
              Join(Floats({0.5F}),
                   Join({4}, Floats({20, 20, 80, 20, 80, 80, 20, 80}))))}},
       {{50, 50, kBlue}, {50, 15, kBlue}, {5, 5, kWhite}}},
      {"open curve drawn through its points",
       {{kPlusObject, ObjectFlags(2, 2),
         Join({kPlusVersion, 0, 0, 2},
              Join(Floats({6}), {kPlusVersion, 0, kArgbRed}))},
        {kPlusDrawCurve, 2,
         Join(Floats({0.5F}),
              Join({0, 2, 3}, Floats({10, 60, 50, 20, 90, 60})))}},
       // Off the straight lines between the points: (27, 43) on them.
       {{50, 20, kRed}, {27, 37, kRed}, {50, 40, kWhite}, {50, 60, kWhite}}},
      {"linear gradient across its rectangle",
       {{kPlusObject, ObjectFlags(1, 5),
         Join({kPlusVersion, 4, 0, 0},
              Join(Floats({0, 0, 100, 100}), {kArgbRed, kArgbBlue, 0, 0}))},
        {kPlusFillRects, 0, Join({5, 1}, Floats({0, 0, 100, 100}))}},
       {{2, 50, kRed}, {50, 50, Rgb{128, 0, 128}}, {97, 20, kBlue}}},
      {"linear gradient through preset colours",
       {{kPlusObject, ObjectFlags(1, 5),
         Join(Join({kPlusVersion, 4, 0x04, 0},
                   Join(Floats({0, 0, 100, 100}),
                        {kArgbRed, kArgbBlue, 0, 0, 3})),
              Join(Floats({0, 0.5F, 1}), {kArgbRed, kArgbGreen, kArgbBlue}))},
        {kPlusFillRects, 0, Join({5, 1}, Floats({0, 0, 100, 100}))}},
       {{1, 50, kRed}, {50, 50, kGreen}, {98, 50, kBlue}}},
      {"path gradient from its centre to its edge",
       {{kPlusObject, ObjectFlags(1, 5),
         Join(
             Join({kPlusVersion, 3, 0, 0, kArgbGreen}, Floats({50, 50})),
             Join({1, kArgbRed, 4}, Floats({10, 10, 90, 10, 90, 90, 10, 90})))},
        {kPlusFillEllipse, 0, Join({5}, Floats({10, 10, 80, 80}))}},
       {{50, 50, kGreen}, {50, 30, Rgb{128, 128, 0}}, {5, 5, kWhite}}},
      {"cross hatch, 8 pixels a period",
       {{kPlusObject,
         ObjectFlags(1, 5),
         {kPlusVersion, 1, 4, kArgbRed, kArgbGreen}},
        {kPlusFillRects, 0, Join({5, 1}, Floats({0, 0, 100, 100}))}},
       {{8, 3, kRed}, {3, 16, kRed}, {3, 3, kGreen}, {12, 13, kGreen}}},
      {"texture, each pixel 20 units, tiled",
       {{kPlusObject, ObjectFlags(1, 5),
         Join(Join({kPlusVersion, 2, 2, 0}, Floats({20, 0, 0, 20, 0, 0})),
              QuarterImageObject(0).data)},
        {kPlusFillRects, 0, Join({5, 1}, Floats({0, 0, 100, 100}))}},
       {{10, 10, kRed},
        {30, 10, kGreen},
        {10, 30, kBlue},
        {30, 30, kYellow},
        {50, 50, kRed}}},
      {"region of two rectangles filled",
       {{kPlusObject, ObjectFlags(4, 6),
         Join(Join({kPlusVersion, 3, 2, 0x10000000}, Floats({10, 10, 30, 30})),
              Join({0x10000000}, Floats({60, 60, 30, 30})))},
        {kPlusFillRegion, kPlusColour | 6, {kArgbRed}}},
       {{20, 20, kRed}, {70, 70, kRed}, {50, 50, kWhite}, {70, 20, kWhite}}},
      {"clipped to everywhere but a rectangle",
       {{kPlusObject, ObjectFlags(4, 6),
         Join({kPlusVersion, 3, 4, 0x10000003, 0x10000000},
              Floats({40, 40, 20, 20}))},
        {kPlusSetClipRegion, 6, {}},
        FillRect(kArgbRed, 0, 0, 100, 100)},
       {{10, 10, kRed}, {90, 90, kRed}, {50, 50, kWhite}}},
      {"text without a font not drawn, the rest is",
       {{kPlusDrawString, 0, {0, 0, 0}}, FillRect(kArgbRed, 10, 10, 40, 30)},
       {{20, 20, kRed}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const DecodedImage image = DecodePictureBytes(EmfPlusOnly(c.records));
    ASSERT_EQ(image.pixel_width, 100);
    ExpectProbes(image, c.probes, 8);
  }
}

// `text` as UTF-16 units, two to a value.
std::vector<uint32_t> Utf16Words(const std::u16string& text) {
  std::vector<uint32_t> words((text.size() + 1) / 2, 0);
  for (size_t i = 0; i < text.size(); ++i) {
    words[i / 2] |= static_cast<uint32_t>(text[i]) << (i % 2 * 16);
  }
  return words;
}

// Text is drawn in its font's size, placed in its box as its format says,
// and nowhere else.
TEST(EmfPlusTest, TextIsDrawnInItsBoxAsItsFormatAligns) {
  // Arial, `em` in `unit`s (2 pixels, 3 points).
  const auto font = [](float em, uint32_t unit) {
    return EmfPlusRecord{kPlusObject, ObjectFlags(6, 1),
                         Join(Join({kPlusVersion}, Floats({em})),
                              Join({unit, 0, 0, 5}, Utf16Words(u"Arial")))};
  };
  // Centred along and across the lines.
  const EmfPlusRecord centred{
      kPlusObject, ObjectFlags(7, 2),
      Join({kPlusVersion, 0, 0, 1, 1, 0, 0},
           Join(Floats({0}), Join({0}, Floats({0, 0, 0}))))};
  // Not broken to fit the box.
  const EmfPlusRecord unwrapped{
      kPlusObject, ObjectFlags(7, 3),
      Join({kPlusVersion, 0x1000, 0, 0, 0, 0, 0},
           Join(Floats({0}), Join({0}, Floats({0, 0, 0}))))};
  const auto text = [](uint32_t format, float x, float y, float w, float h,
                       const std::u16string& string = u"HH") {
    return EmfPlusRecord{
        kPlusDrawString, kPlusColour | 1,
        Join(Join({0xFF000000, format, static_cast<uint32_t>(string.size())},
                  Floats({x, y, w, h})),
             Utf16Words(string))};
  };
  struct Case {
    const char* name;
    std::vector<EmfPlusRecord> records;
    // Where every dark pixel lies: the capitals after the format's margin
    // (1/6 em by default), or in the middle.
    QRect ink;
  };
  const Case cases[] = {
      {"pixels, at the box's corner",
       {font(30, 2), text(9, 10, 10, 80, 40)},
       QRect(12, 10, 45, 32)},
      {"points (22.5 pt: 30 px)",
       {font(22.5F, 3), text(9, 10, 10, 80, 40)},
       QRect(12, 10, 45, 32)},
      {"centred in the box",
       {font(30, 2), centred, text(2, 0, 0, 100, 100)},
       QRect(29, 38, 42, 24)},
      {"broken at the space to fit the box's width",
       {font(30, 2), text(9, 10, 10, 60, 80, u"HH  HH")},
       QRect(12, 10, 45, 67)},
      {"on one line when its format says so",
       {font(30, 2), unwrapped, text(3, 10, 10, 60, 80, u"HH  HH")},
       QRect(10, 10, 90, 32)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const DecodedImage image = DecodePictureBytes(EmfPlusOnly(c.records));
    const int inside = DarkPixels(image, c.ink.left(), c.ink.top(),
                                  c.ink.right() + 1, c.ink.bottom() + 1);
    EXPECT_GT(inside, 150);
    EXPECT_EQ(DarkPixels(image, 0, 0, 100, 100), inside);
  }
}

// An object spread over several records, in one comment or across
// comments, is joined and drawn like one in a single record.
TEST(EmfPlusTest, AnObjectSpreadOverSeveralRecordsIsJoined) {
  // The quarters image cut into three records: every one but the last has
  // the continued flag and the total size first.
  const EmfPlusRecord whole = QuarterImageObject(4);
  const auto total = static_cast<uint32_t>(whole.data.size() * 4);
  const auto part = [&](size_t from, size_t to, bool more) {
    EmfPlusRecord r{kPlusObject,
                    static_cast<uint16_t>(whole.flags | (more ? 0x8000 : 0)),
                    {}};
    if (more) r.data.push_back(total);
    r.data.insert(r.data.end(), whole.data.begin() + from,
                  whole.data.begin() + to);
    return r;
  };
  const std::vector<EmfPlusRecord> parts = {part(0, 4, true), part(4, 8, true),
                                            part(8, whole.data.size(), false)};
  const EmfPlusRecord draw{kPlusDrawImage, 4,
                           Join({0, 2}, Floats({0, 0, 2, 2, 10, 10, 80, 80}))};
  for (const bool across_comments : {false, true}) {
    SCOPED_TRACE(across_comments ? "across comments" : "in one comment");
    EmfWriter emf(100, 100);
    emf.EmfPlus({{kPlusHeader, 0, {kPlusVersion, 1, 96, 96}}});
    if (across_comments) {
      emf.EmfPlus({parts[0]}).EmfPlus({parts[1]}).EmfPlus({parts[2], draw});
    } else {
      emf.EmfPlus({parts[0], parts[1], parts[2], draw});
    }
    emf.EmfPlus({{kPlusEndOfFile, 0, {}}});
    const DecodedImage image = DecodePictureBytes(emf.Finish());
    EXPECT_COLOUR(image, 25, 25, kRed, 8);
    EXPECT_COLOUR(image, 75, 25, kGreen, 8);
    EXPECT_COLOUR(image, 25, 75, kBlue, 8);
    EXPECT_COLOUR(image, 75, 75, kYellow, 8);
  }
}

TEST(EmfPlusTest, DualFilesDrawTheirEmfRecordsAndOnlyFilesTheirGetDcOnes) {
  struct Case {
    const char* name;
    bool dual;
    bool get_dc;
    Rgb at_emf_rectangle;
    Rgb at_emf_plus_rectangle;
  };
  const Case cases[] = {
      {"dual", true, false, kBlue, kWhite},
      {"EMF+ only", false, false, kWhite, kRed},
      {"EMF+ only, EMF records after GetDC", false, true, kBlue, kRed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EmfWriter emf(100, 100);
    emf.EmfPlus({{kPlusHeader,
                  static_cast<uint16_t>(c.dual ? 1 : 0),
                  {kPlusVersion, 1, 96, 96}},
                 FillRect(kArgbRed, 60, 60, 30, 30)});
    if (c.get_dc) emf.EmfPlus({{kPlusGetDc, 0, {}}});
    emf.Select(kNullPen).SolidBrush(1, ColorRef(0, 0, 255)).Select(1);
    emf.Rectangle(10, 10, 40, 40);
    emf.EmfPlus({{kPlusEndOfFile, 0, {}}});
    const DecodedImage image = DecodePictureBytes(emf.Finish());
    EXPECT_COLOUR(image, 25, 25, c.at_emf_rectangle, 0);
    EXPECT_COLOUR(image, 75, 75, c.at_emf_plus_rectangle, 0);
  }
}

TEST(EmfPlusTest, UndrawableAndDamagedRecordsAreInvalid) {
  // Nothing but text without its font, which is not drawn: named, not a
  // blank picture.
  int32_t number = 0;
  std::string description;
  try {
    DecodePictureBytes(EmfPlusOnly({{kPlusDrawString, 0, {0, 0, 0}}}));
  } catch (const platform::Error& e) {
    number = e.number();
    description = e.description();
  }
  EXPECT_EQ(number, platform::kErrInvalidPicture);
  EXPECT_NE(description.find("EMF+ only"), std::string::npos) << description;
  // An empty EMF+ picture is a blank one.
  EXPECT_EQ(ErrorNumberOf(EmfPlusOnly({})), 0);

  struct Case {
    const char* name;
    std::vector<EmfPlusRecord> records;
  };
  const std::vector<Case> cases = {
      {"rectangles past the record",
       {{kPlusFillRects, kPlusColour, {kArgbRed, 1000, 0}}}},
      {"object index over 63", {SolidBrushObject(64, kArgbRed)}},
      {"brush index over 63",
       {{kPlusFillRects, 0, Join({200, 1}, Floats({0, 0, 9, 9}))}}},
      {"path with more points than it holds",
       {{kPlusObject,
         ObjectFlags(3, 1),
         {kPlusVersion, 1000000, kPlusShort, Pair(1, 1)}}}},
      {"polygon count past the record",
       {{kPlusFillPolygon, kPlusColour, {kArgbRed, 0xFFFFFFFF, 0, 0}}}},
      {"bitmap larger than its pixels",
       {{kPlusObject,
         ObjectFlags(5, 1),
         {kPlusVersion, 1, 4000, 4000, 16000, 0x0026200A, 0, 0}}}},
      {"compressed image larger than its object says",
       {QuarterPngObject(1, 1, 1)}},
      {"not a number",
       {FillRect(kArgbRed, std::numeric_limits<float>::quiet_NaN(), 0, 9, 9)}},
      {"region node of no kind",
       {{kPlusObject, ObjectFlags(4, 1), {kPlusVersion, 1, 9}}}},
      {"region nested 66 deep",
       {{kPlusObject, ObjectFlags(4, 1),
         Join(Join({kPlusVersion, 67}, std::vector<uint32_t>(66, 1)),
              {0x10000002})}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ErrorNumberOf(EmfPlusOnly(c.records)),
              platform::kErrInvalidPicture);
  }
  // An image over the picture limits is too large, before it is drawn,
  // whether an image object's or a texture brush's.
  const std::vector<uint32_t> too_wide = {kPlusVersion, 1,          70000, 1,
                                          280000,       0x0026200A, 0,     0};
  for (const EmfPlusRecord& object :
       {EmfPlusRecord{kPlusObject, ObjectFlags(5, 1), too_wide},
        EmfPlusRecord{kPlusObject, ObjectFlags(1, 1),
                      Join({kPlusVersion, 2, 0, 0}, too_wide)}}) {
    EXPECT_EQ(ErrorNumberOf(EmfPlusOnly({object})), platform::kErrOutOfMemory);
  }
  // A record claiming more bytes than its comment holds.
  std::vector<uint8_t> long_record =
      EmfPlusOnly({FillRect(kArgbRed, 0, 0, 9, 9)});
  const size_t fill_at = 108 + 12 + 4 + 28 + 12 + 4;  // header comment, then
  ASSERT_EQ(long_record[fill_at], 0x0A);
  long_record[fill_at + 5] = 0x10;
  EXPECT_EQ(ErrorNumberOf(long_record), platform::kErrInvalidPicture);
}

std::vector<uint8_t> PlaceableWmf() {
  // Two inches by one in twips, a red box at 0.2 - 0.6 by 0.1 - 0.5 inch.
  WmfWriter wmf(0, 0, 2880, 1440, 1440);
  wmf.Window(0, 0, 2880, 1440);
  wmf.SolidBrush(ColorRef(255, 0, 0));
  wmf.Rectangle(288, 144, 864, 720);
  return wmf.Finish();
}

TEST(WmfTest, PlaceableBoxAtItsUnitsPerInchIsTheLogicalSize) {
  const std::vector<uint8_t> bytes = PlaceableWmf();
  DecodedImage full = DecodePictureBytes(bytes);
  ASSERT_NO_FATAL_FAILURE(testing::ExpectLayout(full, 192, 96, 192, 96));
  EXPECT_COLOUR(full, 40, 30, kRed, 0);
  ExpectColourAt(full, kWhite, {{100, 30}, {40, 70}});
  DecodedImage half = DecodePictureBytes(bytes, {96, 0});
  EXPECT_EQ(half.width, 192);
  ASSERT_EQ(half.pixel_width, 96);
  ASSERT_EQ(half.pixel_height, 48);
  EXPECT_COLOUR(half, 20, 15, kRed, 0);
  EXPECT_COLOUR(half, 50, 15, kWhite, 0);
}

TEST(WmfTest, PlainFileTakesItsWindowExtentNotWhatItDraws) {
  WmfWriter wmf;
  wmf.Window(0, 0, 200, 100);
  wmf.SolidBrush(ColorRef(255, 0, 0));
  wmf.Rectangle(20, 10, 60, 50);
  DecodedImage image = DecodePictureBytes(wmf.Finish());
  ASSERT_NO_FATAL_FAILURE(testing::ExpectLayout(image, 200, 100, 200, 100));
  EXPECT_COLOUR(image, 40, 30, kRed, 0);
  EXPECT_COLOUR(image, 100, 70, kWhite, 0);

  WmfWriter scaled;
  scaled.Record(0x0103, {8});  // anisotropic
  scaled.Window(0, 0, 1000, 500);
  scaled.SolidBrush(ColorRef(0, 0, 255));
  scaled.Rectangle(500, 250, 1000, 500);
  DecodedImage small = DecodePictureBytes(scaled.Finish(), {100, 0});
  ASSERT_NO_FATAL_FAILURE(testing::ExpectLayout(small, 1000, 500, 100, 50));
  EXPECT_COLOUR(small, 80, 40, kBlue, 0);
  EXPECT_COLOUR(small, 20, 10, kWhite, 0);
}

TEST(WmfTest, TextIsDrawn) {
  WmfWriter wmf(0, 0, 192, 96, 96);
  wmf.Window(0, 0, 192, 96);
  wmf.Text(20, 30, 32, "Hello");
  DecodedImage image = DecodePictureBytes(wmf.Finish());
  EXPECT_GT(DarkPixels(image, 20, 30, 110, 62), 50);
  EXPECT_EQ(DarkPixels(image, 0, 70, 192, 96), 0);
}

// A placeable file's box, or a plain file's first window, fills the
// picture, wherever the window the records set puts what they draw.
TEST(WmfTest, WindowPlacesWhatIsDrawnOnTheFrame) {
  struct Case {
    const char* name;
    std::function<WmfWriter()> make;
    int width;
    int height;
    std::vector<Probe> probes;
  };
  const uint32_t red = ColorRef(255, 0, 0);
  const std::vector<Case> cases = {
      {"clip art: the window's y axis points up",
       [&] {
         WmfWriter wmf(0, 0, 200, 100, 96);
         wmf.Window(0, 100, 200, -100);
         wmf.SolidBrush(red).Rectangle(20, 60, 60, 90);
         return wmf;
       },
       200,
       100,
       {{40, 25, kRed}, {40, 75, kWhite}, {100, 25, kWhite}}},
      {"window moved and scaled against the box",
       [&] {
         WmfWriter wmf(0, 0, 200, 100, 96);
         wmf.MapMode(8).Window(-100, -50, 400, 200).Viewport(5, 5, 50, 50);
         wmf.SolidBrush(red).Rectangle(100, 50, 200, 150);
         return wmf;
       },
       200,
       100,
       {{125, 75, kRed}, {60, 40, kWhite}, {175, 75, kWhite}}},
      {"plain, anisotropic, with a viewport",
       [&] {
         WmfWriter wmf;
         wmf.MapMode(8).Window(0, 0, 1000, 500).Viewport(10, 10, 500, 250);
         wmf.SolidBrush(red).Rectangle(500, 250, 1000, 500);
         return wmf;
       },
       1000,
       500,
       {{800, 400, kRed}, {200, 100, kWhite}, {800, 100, kWhite}}},
      {"plain, metric: framed by what it draws",
       [&] {
         WmfWriter wmf;
         wmf.MapMode(2);  // tenths of a millimetre, y up
         wmf.SolidBrush(red).Rectangle(100, 0, 354, -127);
         wmf.SolidBrush(ColorRef(0, 0, 255)).Rectangle(100, -127, 354, -254);
         return wmf;
       },
       96,
       96,
       {{48, 20, kRed}, {48, 76, kBlue}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const DecodedImage image = DecodePictureBytes(c.make().Finish());
    EXPECT_EQ(image.width, c.width);
    EXPECT_EQ(image.height, c.height);
    ExpectProbes(image, c.probes, 0);
  }
}

TEST(WmfTest, DeletedObjectsSlotGoesToTheNextAndUnknownRecordsAreSkipped) {
  WmfWriter wmf(0, 0, 100, 100, 96);
  wmf.Pen(5, 0, 0);  // a null pen
  const uint16_t pen = wmf.last_object();
  wmf.SolidBrush(ColorRef(255, 0, 0));
  const uint16_t red = wmf.last_object();
  wmf.Delete(pen).Record(0x0999, {1, 2, 3});
  // Bitmap records cut short before their bitmap are skipped too.
  for (uint16_t function : {0x0F43, 0x0D33, 0x0B41, 0x0940}) {
    wmf.Record(function, {1, 2});
  }
  // Takes the pen's slot, and is selected by it.
  wmf.SolidBrush(ColorRef(0, 0, 255)).Rectangle(10, 10, 40, 40);
  wmf.Select(red).Rectangle(60, 60, 90, 90);
  const DecodedImage image = DecodePictureBytes(wmf.Finish());
  EXPECT_COLOUR(image, 25, 25, kBlue, 0);
  EXPECT_COLOUR(image, 75, 75, kRed, 0);
}

// Red over blue, 2 x 2: stretched over 40 x 40, or drawn as it is.
TEST(WmfTest, BitmapRecordsDrawUprightAtTheirPlace) {
  const Dib dib = PackedDib(2, 2, 24, {0xFF0000, 0xFF0000, 0x0000FF, 0x0000FF});
  struct Case {
    const char* name;
    uint16_t function;
    int16_t size;
  };
  for (const Case& c :
       {Case{"StretchDIB", 0x0F43, 40}, Case{"DIBStretchBlt", 0x0B41, 40},
        Case{"DIBBitBlt", 0x0940, 2}, Case{"SetDIBitsToDevice", 0x0D33, 2},
        Case{"StretchBlt of an old bitmap", 0x0B23, 40},
        Case{"BitBlt of an old bitmap", 0x0922, 2}}) {
    SCOPED_TRACE(c.name);
    WmfWriter wmf(0, 0, 100, 100, 96);
    wmf.Bitmap(c.function, 50, 20, c.size, c.size, kSrcCopy, dib);
    // The same in one bit a pixel: 0 in the text colour, 1 in the
    // background's, for the old bitmap; through its palette for a DIB.
    Dib one_bit = PackedDib(2, 2, 1, {0, 0, 1, 1});
    one_bit.palette = {0xFF0000, 0x0000FF};
    WmfWriter mono(0, 0, 100, 100, 96);
    mono.Record(0x0209, {0x00FF, 0x0000});  // SetTextColor, red
    mono.Record(0x0201, {0x0000, 0x00FF});  // SetBkColor, blue
    mono.Bitmap(c.function, 50, 20, c.size, c.size, kSrcCopy, one_bit);
    for (const std::vector<uint8_t>& bytes : {wmf.Finish(), mono.Finish()}) {
      const DecodedImage image = DecodePictureBytes(bytes);
      EXPECT_COLOUR(image, 50, 20, kRed, 8);
      EXPECT_COLOUR(image, 50 + c.size - 1, 20 + c.size - 1, kBlue, 8);
      ExpectColourAt(image, kWhite, {{48, 20}, {50, 20 + c.size + 1}});
    }
  }
}

TEST(WmfTest, IconPairsShowWhatIsBelowAndPatternBrushesFill) {
  WmfWriter wmf(0, 0, 100, 100, 96);
  wmf.PatternBrush(PackedDib(2, 2, 24, std::vector<uint32_t>(4, 0x00FF00)));
  wmf.Rectangle(0, 0, 100, 50);
  wmf.SolidBrush(ColorRef(0, 0, 255)).Rectangle(0, 50, 100, 100);
  // The mask's black keeps the image's red; its white, with the image's
  // black, leaves the blue below.
  wmf.Bitmap(0x0B41, 10, 60, 80, 30, kSrcAnd,
             PackedDib(2, 1, 24, {0x000000, 0xFFFFFF}));
  wmf.Bitmap(0x0B41, 10, 60, 80, 30, kSrcInvert,
             PackedDib(2, 1, 24, {0xFF0000, 0x000000}));
  const DecodedImage image = DecodePictureBytes(wmf.Finish());
  EXPECT_COLOUR(image, 50, 25, kGreen, 0);
  EXPECT_COLOUR(image, 30, 75, kRed, 0);
  EXPECT_COLOUR(image, 70, 75, kBlue, 0);
}

TEST(MetafileTest, RegionsClipAndAreDrawn) {
  constexpr Rgb kBlack = {0, 0, 0};
  enum : uint16_t {
    kInvertRegion = 0x012A,
    kPaintRegion = 0x012B,
    kSelectClipRegion = 0x012C,
    kFillRegion = 0x0228,
    kFrameRegion = 0x0429,
  };
  struct Case {
    const char* what;
    // Draws with the region in slot `region`.
    std::function<void(WmfWriter&, uint16_t region)> draw;
    Rgb inside;   // the region's left box
    Rgb between;  // between its two boxes
  };
  const auto fill_all = [](WmfWriter& wmf) {
    wmf.SolidBrush(ColorRef(0, 0, 255)).Rectangle(0, 0, 100, 60);
  };
  const Case cases[] = {
      {"clipped to",
       [&](WmfWriter& wmf, uint16_t region) {
         wmf.Record(kSelectClipRegion, {region});
         fill_all(wmf);
       },
       kBlue, kWhite},
      {"clipping ended by the empty region",
       [&](WmfWriter& wmf, uint16_t region) {
         wmf.Record(kSelectClipRegion, {region});
         wmf.Record(kSelectClipRegion, {0});
         fill_all(wmf);
       },
       kBlue, kBlue},
      {"filled with its brush, not the one selected",
       [](WmfWriter& wmf, uint16_t region) {
         wmf.SolidBrush(ColorRef(0, 255, 0));
         const uint16_t green = wmf.last_object();
         wmf.SolidBrush(ColorRef(255, 0, 0));
         wmf.Record(kFillRegion, {green, region});
       },
       kGreen, kWhite},
      {"painted with the brush selected",
       [](WmfWriter& wmf, uint16_t region) {
         wmf.SolidBrush(ColorRef(0, 255, 0));
         wmf.Record(kPaintRegion, {region});
       },
       kGreen, kWhite},
      {"inverted",
       [](WmfWriter& wmf, uint16_t region) {
         wmf.Record(kInvertRegion, {region});
       },
       kBlack, kWhite},
      {"framed: its inside left as it was",
       [](WmfWriter& wmf, uint16_t region) {
         wmf.SolidBrush(ColorRef(0, 255, 0));
         // height, width, brush, region
         wmf.Record(kFrameRegion, {3, 3, wmf.last_object(), region});
       },
       kWhite, kWhite},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WmfWriter wmf;
    wmf.Window(0, 0, 100, 60).Pen(5, 0, 0);  // a null pen
    wmf.Region({{10, 10, 40, 50}, {60, 10, 90, 50}});
    c.draw(wmf, wmf.last_object());
    const DecodedImage image = DecodePictureBytes(wmf.Finish());
    EXPECT_COLOUR(image, 25, 30, c.inside, 0);
    EXPECT_COLOUR(image, 75, 30, c.inside, 0);
    EXPECT_COLOUR(image, 50, 30, c.between, 0);
    EXPECT_COLOUR(image, 5, 55, c.between, 0);
  }
  WmfWriter framed;
  framed.Window(0, 0, 100, 60);
  framed.Region({{10, 10, 40, 50}});
  const uint16_t region = framed.last_object();
  framed.SolidBrush(ColorRef(0, 255, 0));
  framed.Record(kFrameRegion, {3, 3, framed.last_object(), region});
  const DecodedImage image = DecodePictureBytes(framed.Finish());
  ExpectColourAt(image, kGreen, {{11, 30}, {38, 30}, {25, 11}, {25, 48}});

  // An EMF's clip moved by OffsetClipRgn: the left half moved right.
  EmfWriter emf(100, 60);
  emf.Record(kIntersectClipRect, {0, 0, 50, 60});
  emf.Record(kOffsetClipRgn, {50, 0});
  emf.Select(kNullPen).SolidBrush(1, ColorRef(0, 0, 255)).Select(1);
  emf.Rectangle(0, 0, 100, 60);
  const DecodedImage moved = DecodePictureBytes(emf.Finish());
  EXPECT_COLOUR(moved, 25, 30, kWhite, 0);
  EXPECT_COLOUR(moved, 75, 30, kBlue, 0);
}

// Counts the pixels where `a` and `b` differ by more than a quarter of a
// channel's range.
int DifferentPixels(const DecodedImage& a, const DecodedImage& b) {
  int different = 0;
  for (int y = 0; y < a.pixel_height; ++y) {
    for (int x = 0; x < a.pixel_width; ++x) {
      if (!ColourDiff(PixelAt(a, x, y), PixelAt(b, x, y), 64).empty()) {
        ++different;
      }
    }
  }
  return different;
}

TEST(WmfTest, TextIsReadInItsFontsCodePage) {
  struct Case {
    const char* name;
    uint8_t charset;
    std::string bytes;
    std::u16string text;
    const char* face = "Arial";
    // Other text of the same length: drawn otherwise, so in glyphs rather
    // than in the boxes of a font that lacks them.
    std::u16string unlike{};
  };
  for (const Case& c :
       {Case{"RUSSIAN", 204, "\xCF\xF0\xE8\xE2\xE5\xF2",
             u"\u041F\u0440\u0438\u0432\u0435\u0442"},
        Case{"GB2312", 134, "\xD6\xD0\xCE\xC4", u"\u4E2D\u6587", "Arial",
             u"\u65E5\u672C"},
        // The Symbol font's own codes.
        Case{"SYMBOL", 2, "abp", u"\u03B1\u03B2\u03C0", "Symbol"}}) {
    SCOPED_TRACE(c.name);
    const std::string face = c.face;
    WmfWriter wmf(0, 0, 192, 96, 96);
    wmf.Text(20, 30, 32, c.bytes, c.charset, face);
    const DecodedImage image = DecodePictureBytes(wmf.Finish());
    // The same text as EMF draws it from UTF-16, and as question marks.
    auto emf_text = [&](const std::u16string& text) {
      EmfWriter emf(192, 96);
      emf.Font(1, 32, std::u16string(face.begin(), face.end()))
          .Select(1)
          .Text(20, 30, text);
      return DecodePictureBytes(emf.Finish());
    };
    EXPECT_GT(DarkPixels(image, 20, 30, 190, 62), 50);
    EXPECT_LT(DifferentPixels(image, emf_text(c.text)), 10);
    EXPECT_GT(
        DifferentPixels(image, emf_text(std::u16string(c.text.size(), u'?'))),
        50);
    if (!c.unlike.empty()) {
      EXPECT_GT(DifferentPixels(image, emf_text(c.unlike)), 50);
    }
  }
}

// The records whose EMF grows most over them, each many times over: the
// translation stays within its bound and the picture is drawn.
TEST(WmfTest, ManySmallRecordsAreDrawn) {
  struct Case {
    const char* name;
    uint16_t function;
    std::vector<uint16_t> params;
  };
  for (const Case& c : {
           Case{"SetPixel", 0x041F, {0x00FF, 0, 5, 5}},
           Case{"PatBlt", 0x061D, {0x0062, 0x00FF, 1, 1, 5, 5}},  // WHITENESS
           Case{"TextOut", 0x0521, {1, 'A', 5, 5}},
       }) {
    SCOPED_TRACE(c.name);
    WmfWriter wmf(0, 0, 10, 10, 96);
    for (int i = 0; i < 10000; ++i) wmf.Record(c.function, c.params);
    EXPECT_EQ(DecodePictureBytes(wmf.Finish()).width, 10);
  }
}

TEST(WmfTest, DamagedAndHostileFilesAreInvalid) {
  const std::vector<uint8_t> good = PlaceableWmf();
  const size_t first_record = 22 + 18;
  std::vector<uint8_t> past_end = good;
  past_end[first_record + 2] = 0x10;  // millions of words
  std::vector<uint8_t> no_units = good;
  no_units[14] = no_units[15] = 0;
  // A StretchDIB whose bitmap claims 20000 x 20000 pixels in a few bytes.
  WmfWriter dib(0, 0, 100, 100, 96);
  std::vector<uint16_t> params(11, 0);
  params.insert(params.end(), {40, 0, 20000, 0, 20000, 0, 1, 24});
  params.resize(params.size() + 20, 0);
  dib.Record(0x0F43, params);
  WmfWriter many;
  many.Window(0, 0, 10, 10);
  for (int i = 0; i < (1 << 20); ++i) many.Record(0x0102, {1});

  ExpectRefusals({
      {past_end, "(WMF: record "},
      {std::vector<uint8_t>(good.begin(), good.end() - 10), "(WMF: "},
      {std::vector<uint8_t>(good.begin(), good.begin() + 30),
       "(WMF: damaged header)"},
      {no_units, "(WMF: placeable header of 0 units an inch)"},
      {dib.Finish(), "(WMF: record 3907 at byte "},
      {many.Finish(), "(WMF: more than 1048576 records)"},
  });
}

// inkscape_shapes.svg exported by Inkscape 1.2 as EMF and as WMF: a red
// box at 10,10 40 x 30, a blue ellipse at 80,25, a picture at 150,10 20 x 40
// (red over blue) and "Vignettes" in 24-pixel type with its baseline at 80.
TEST(MetafileTest, InkscapeExportsDrawAsTheirDrawing) {
  struct Case {
    const char* name;
    int width;
    int height;
  };
  // The EMF's frame, in hundredths of a millimetre, is a little wider.
  for (const Case& c : {Case{"inkscape_shapes.emf", 193, 98},
                        Case{"inkscape_shapes.wmf", 192, 96}}) {
    SCOPED_TRACE(c.name);
    const DecodedImage image =
        DecodePictureFile(testing::NativeToUtf16(testing::FixturePath(c.name)));
    EXPECT_EQ(image.width, c.width);
    EXPECT_EQ(image.height, c.height);
    // The box, the ellipse and the picture upright.
    ExpectColourAt(image, kRed, {{12, 12}, {48, 38}, {160, 14}}, 2);
    ExpectColourAt(image, kBlue, {{80, 25}, {160, 46}}, 2);
    EXPECT_COLOUR(image, 100, 50, kWhite, 0);
    EXPECT_GT(DarkPixels(image, 10, 60, 130, 86), 300);
    EXPECT_EQ(DarkPixels(image, 0, 88, c.width, c.height), 0);
  }
}

// libreoffice_shapes.svg exported by LibreOffice Draw 7.4 as WMF and as
// EMF: a red box, a blue disc with a black ring and a green triangle, and
// "Привет" in the WMF's Cyrillic code page. Both frame what is drawn.
TEST(MetafileTest, LibreOfficeExportsDrawAsTheirDrawing) {
  struct Place {
    double x;  // in parts of the picture's width and height
    double y;
    Rgb colour;
  };
  const Place places[] = {
      {0.23, 0.20, Rgb{208, 32, 32}}, {0.77, 0.24, Rgb{32, 64, 208}},
      {0.36, 0.85, Rgb{32, 160, 64}}, {0.53, 0.47, kWhite},
      {0.53, 0.05, kWhite},
  };
  std::vector<int> ink;
  for (const char* name :
       {"libreoffice_shapes.wmf", "libreoffice_shapes.emf"}) {
    SCOPED_TRACE(name);
    const DecodedImage image = DecodePictureFile(
        testing::NativeToUtf16(testing::FixturePath(name)), {300, 0});
    ASSERT_EQ(image.pixel_width, 300);
    EXPECT_NEAR(image.pixel_height, 219, 2);
    for (const Place& p : places) {
      EXPECT_COLOUR(image, static_cast<int>(p.x * image.pixel_width),
                    static_cast<int>(p.y * image.pixel_height), p.colour, 8);
    }
    // The word, right of the triangle.
    ink.push_back(DarkPixels(image, 195, 160, 285, 205));
    EXPECT_GT(ink.back(), 250);
  }
  // The same letters from the WMF's code page as from the EMF's UTF-16.
  EXPECT_NEAR(ink[0], ink[1], ink[1] / 4.0);
}

TEST(MetafileTest, SeveralThreadsAtOnceDrawTheSame) {
  const std::vector<uint8_t> wmf = PlaceableWmf();
  EmfWriter text(192, 96);
  text.Font(1, -32, u"Times New Roman").Select(1).Text(10, 10, u"Vignettes");
  const std::vector<uint8_t> emf = text.Finish();
  const DecodedImage wmf_alone = DecodePictureBytes(wmf);
  const DecodedImage emf_alone = DecodePictureBytes(emf);
  std::vector<std::future<bool>> runs;
  for (int t = 0; t < 4; ++t) {
    runs.push_back(std::async(std::launch::async, [&] {
      bool same = true;
      for (int i = 0; i < 10; ++i) {
        same = same && DecodePictureBytes(wmf).bgrx == wmf_alone.bgrx &&
               DecodePictureBytes(emf).bgrx == emf_alone.bgrx;
      }
      return same;
    }));
  }
  for (auto& run : runs) EXPECT_TRUE(run.get());
}

}  // namespace
}  // namespace vg::decoders
