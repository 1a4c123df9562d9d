// Where features land in a thumbnail when the picture was decoded at a
// reduced scale whose size is no whole number of pixels: a 931-pixel JPEG
// read at 3/8 is 349.125 pixels wide, its last column covered in part.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "common/test_files.h"
#include "thumbnail/make.h"

namespace vg::thumbnail {
namespace {

// Dark bars on white, each `kBarParts`-th of the side wide: vertical ones
// in the top half only, horizontal ones in the bottom half only, so that
// each can be found on its own.
constexpr double kColumns[] = {0.2, 0.5, 0.85};
constexpr double kRows[] = {0.62, 0.85};
constexpr int kBarParts = 18;

struct Bar {
  int begin = 0;  // first pixel
  int end = 0;    // one past the last
};

Bar BarAt(double where, int side) {
  const int width = std::max(2, side / kBarParts);
  const int begin = static_cast<int>(where * side) - width / 2;
  return {begin, begin + width};
}

std::vector<uint8_t> BarsPicture(int w, int h) {
  std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3, 235);
  const auto dark = [&](int x, int y) {
    std::fill_n(&rgb[(static_cast<size_t>(y) * w + x) * 3], 3, uint8_t{20});
  };
  for (double c : kColumns) {
    const Bar bar = BarAt(c, w);
    for (int y = 0; y < h / 2; ++y) {
      for (int x = bar.begin; x < bar.end; ++x) dark(x, y);
    }
  }
  for (double r : kRows) {
    const Bar bar = BarAt(r, h);
    for (int y = bar.begin; y < bar.end; ++y) {
      for (int x = 0; x < w; ++x) dark(x, y);
    }
  }
  return rgb;
}

// The centre of darkness of `profile` (one value per pixel, 255 white)
// between first and last, in pixel-index coordinates.
double DarkCentre(const std::vector<double>& profile, int first, int last) {
  first = std::max(first, 0);
  last = std::min(last, static_cast<int>(profile.size()) - 1);
  double mass = 0;
  double moment = 0;
  for (int k = first; k <= last; ++k) {
    const double d = std::max(0.0, 235.0 - profile[static_cast<size_t>(k)]);
    mass += d;
    moment += d * k;
  }
  return mass > 0 ? moment / mass : -1;
}

// Checks where every bar of a w x h picture landed in `thumb`, drawn
// draw_w x draw_h; returns the misplacements over 0.1 pixel.
std::string Misplaced(const Thumbnail& thumb, const Geometry& g, int w, int h) {
  const dib::aDIBSection& dib = thumb.dib;
  const int tw = dib.Width();
  const int th = dib.Height();
  const auto green = [&](int x, int y) {
    return dib.Bits()[static_cast<size_t>(th - 1 - y) *
                          static_cast<size_t>(dib.BytesPerScanLine()) +
                      static_cast<size_t>(x) * 3 + 1];
  };
  const double sx = static_cast<double>(g.draw_width) / w;
  const double sy = static_cast<double>(g.draw_height) / h;
  // Columns read over the top rows, clear of the bars' ends.
  std::vector<double> columns(static_cast<size_t>(tw), 0);
  const int top_rows = std::max(1, static_cast<int>(0.5 * h * sy) - 4);
  for (int y = 0; y < top_rows; ++y) {
    for (int x = 0; x < tw; ++x) columns[static_cast<size_t>(x)] += green(x, y);
  }
  for (double& c : columns) c /= top_rows;
  std::vector<double> rows(static_cast<size_t>(th), 0);
  for (int y = 0; y < th; ++y) {
    for (int x = 0; x < tw; ++x) rows[static_cast<size_t>(y)] += green(x, y);
    rows[static_cast<size_t>(y)] /= tw;
  }
  std::string out;
  // Rows are read from below the top half's vertical bars and the reach
  // of the filter past their ends.
  const int below_top = static_cast<int>(0.5 * h * sy) + 4;
  const auto check = [&](const std::vector<double>& profile, Bar bar,
                         double scale, const char* axis, int from) {
    const double expected = (bar.begin + bar.end) / 2.0 * scale - 0.5;
    // In a thumbnail a few dozen pixels high, the first horizontal bar's
    // blur reaches into the rows left out for the vertical bars: cut
    // short, its centre of darkness would be off. Not measured then.
    if (bar.begin * scale - 0.5 - 1.5 < from) return;
    const int reach = static_cast<int>((bar.end - bar.begin) * scale / 2) + 5;
    const int centre = static_cast<int>(std::lround(expected));
    const double found =
        DarkCentre(profile, std::max(from, centre - reach), centre + reach);
    if (std::fabs(found - expected) > 0.1) {
      out += std::string(axis) + " bar at " + std::to_string(expected) +
             " found at " + std::to_string(found) + "; ";
    }
  };
  for (double c : kColumns) check(columns, BarAt(c, w), sx, "x", 0);
  for (double r : kRows) check(rows, BarAt(r, h), sy, "y", below_top);
  return out;
}

struct Size {
  int w;
  int h;
};

// 931 x 647, and every remainder of a side divided by 8, both ways.
std::vector<Size> Sizes() {
  std::vector<Size> sizes = {{931, 647}};
  for (int r = 1; r <= 7; ++r) sizes.push_back({800 + r, 608 + 8 - r});
  return sizes;
}

// Thumbnail widths that make a JPEG decode at each of 1/8, 2/8, 4/8 and
// 8/8 (kept 7/4 times the width, and 9/4 at 1/8 by a sequential file), and
// a whole-factor reduction by 1 ... 8 (kept 3/2 times).
std::vector<int> Widths(int w) {
  std::vector<int> widths = {w * 4 / 8 / 9 - 1};
  for (int m = 1; m <= 7; ++m) widths.push_back(w * m * 4 / 8 / 7 - 1);
  for (int f : {3, 5, 6, 7}) widths.push_back(w * 2 / 3 / f - 1);
  widths.push_back(w * 9 / 10);
  return widths;
}

TEST(GeometryTest, ReducedDecodesPutEveryFeatureWhereItIs) {
  testing::TempFolder folder;
  for (const Size& size : Sizes()) {
    const std::vector<uint8_t> rgb = BarsPicture(size.w, size.h);
    testing::WriteRgbJpeg(folder.path() / "p.jpg", size.w, size.h, rgb, 98,
                          true);
    testing::WriteRgbBmp(folder.path() / "p.bmp", size.w, size.h, rgb);
    for (const char* name : {"p.jpg", "p.bmp"}) {
      std::set<int> decoded_widths;
      for (int width : Widths(size.w)) {
        SCOPED_TRACE(std::string(name) + " " + std::to_string(size.w) + "x" +
                     std::to_string(size.h) + " at " + std::to_string(width));
        const platform::PicturePtr picture =
            LoadPicture(folder.text() + std::u16string(name, name + 5), width);
        decoded_widths.insert(picture->BitmapWidth());
        const Geometry g =
            GeometryFor(width, ProportionalHeight(size.w, size.h, width));
        const Thumbnail thumb = Render(*picture, g);
        ASSERT_NE(thumb.dib.hDib(), 0);
        EXPECT_EQ(Misplaced(thumb, g, size.w, size.h), "");
      }
      // Every scale was tried: 1/8, 2/8, 4/8 and 8/8, or the factors 1 ... 8.
      EXPECT_GE(decoded_widths.size(), std::string(name) == "p.jpg" ? 4U : 8U)
          << name;
    }
  }
}

}  // namespace
}  // namespace vg::thumbnail
