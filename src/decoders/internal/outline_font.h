// Glyph outlines of the fonts a metafile names, through FreeType: text as
// paths, drawn like any other shape. Internal to vg::decoders.
#ifndef VG_DECODERS_INTERNAL_OUTLINE_FONT_H_
#define VG_DECODERS_INTERNAL_OUTLINE_FONT_H_

#include <QPainterPath>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vg::decoders::decoders_internal {

// The font a metafile asks for.
struct FontRequest {
  std::u16string face;  // "Arial", "Times New Roman", ...
  bool bold = false;
  bool italic = false;
  bool fixed_pitch = false;
  bool roman = false;  // a serif family
};

// A line of text laid out at one em = 1 unit, baseline at y = 0, y down.
struct TextOutline {
  QPainterPath path;
  double ascent = 0;   // above the baseline, positive
  double descent = 0;  // below the baseline, positive
  double advance = 0;  // pen advance of the whole line
};

// The fonts of one picture's text. Not shared between threads.
class OutlineFonts {
 public:
  OutlineFonts();
  ~OutlineFonts();
  OutlineFonts(const OutlineFonts&) = delete;
  OutlineFonts& operator=(const OutlineFonts&) = delete;

  // Returns the outline of `text` in the Liberation font closest to
  // `font`, CJK characters from a CJK font. `advances`, when not empty, gives
  // each character's advance in ems instead of the font's own. Empty when no
  // font file is installed.
  TextOutline Layout(const FontRequest& font, std::u16string_view text,
                     const std::vector<double>& advances);

  // Returns the font's line height over its em (ascent + descent), to turn
  // a cell height into an em; 1 when no font file is installed.
  double CellPerEm(const FontRequest& font);

 private:
  struct Face;
  Face* Open(const FontRequest& font);
  Face* OpenFallback();
  Face* OpenFile(const std::string& file, std::span<const char* const> folders);

  void* library_ = nullptr;                             // FT_Library
  std::map<std::string, std::unique_ptr<Face>> faces_;  // by file name
};

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_OUTLINE_FONT_H_
