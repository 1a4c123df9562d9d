#include "decoders/internal/outline_font.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <QTransform>
#include <algorithm>
#include <cctype>
#include <span>
#include <vector>

namespace vg::decoders::decoders_internal {
namespace {

// Outlines are loaded this many pixels to the em, in FreeType's 26.6
// fixed point, and scaled to 1 em afterwards.
constexpr int kLoadEmPx = 256;
constexpr double kUnitsPerEm = kLoadEmPx * 64.0;

constexpr const char* kFontFolders[] = {
    "/usr/share/fonts/truetype/liberation/",
    "/usr/share/fonts/truetype/liberation2/",
};

// Where the Liberation fonts have no glyph (Chinese, Japanese, Korean):
// one sans-serif font that covers the common CJK code pages.
constexpr const char* kFallbackFolder = "/usr/share/fonts/truetype/wqy/";
constexpr const char* kFallbackFile = "wqy-microhei.ttc";

std::string Lower(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) {
    out += c < 128 ? static_cast<char>(std::tolower(c)) : '?';
  }
  return out;
}

// Returns the Liberation file name that stands in for `font`.
std::string FileFor(const FontRequest& font) {
  const std::string face = Lower(font.face);
  auto has = [&](const char* word) {
    return face.find(word) != std::string::npos;
  };
  std::string family = "LiberationSans";
  if (font.fixed_pitch || has("courier") || has("mono") || has("consol")) {
    family = "LiberationMono";
  } else if (has("times") || has("serif") || has("roman") || has("georgia") ||
             has("garamond") || has("cambria") ||
             (font.roman && !has("sans") && !has("arial"))) {
    if (!has("sans")) family = "LiberationSerif";
  }
  const char* style = font.bold && font.italic ? "-BoldItalic"
                      : font.bold              ? "-Bold"
                      : font.italic            ? "-Italic"
                                               : "-Regular";
  return family + style + ".ttf";
}

struct Sink {
  QPainterPath* path;
};

QPointF At(const FT_Vector* v) {
  return {static_cast<double>(v->x) / kUnitsPerEm,
          -static_cast<double>(v->y) / kUnitsPerEm};
}

int MoveTo(const FT_Vector* to, void* user) {
  static_cast<Sink*>(user)->path->moveTo(At(to));
  return 0;
}
int LineTo(const FT_Vector* to, void* user) {
  static_cast<Sink*>(user)->path->lineTo(At(to));
  return 0;
}
int ConicTo(const FT_Vector* control, const FT_Vector* to, void* user) {
  static_cast<Sink*>(user)->path->quadTo(At(control), At(to));
  return 0;
}
int CubicTo(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to,
            void* user) {
  static_cast<Sink*>(user)->path->cubicTo(At(c1), At(c2), At(to));
  return 0;
}

}  // namespace

struct OutlineFonts::Face {
  Face() = default;
  Face(const Face&) = delete;
  Face& operator=(const Face&) = delete;
  ~Face() {
    if (face != nullptr) FT_Done_Face(face);
  }
  FT_Face face = nullptr;  // null when no file was found
};

OutlineFonts::OutlineFonts() {
  FT_Library library = nullptr;
  if (FT_Init_FreeType(&library) == 0) library_ = library;
}

OutlineFonts::~OutlineFonts() {
  faces_.clear();  // before the library they come from
  if (library_ != nullptr) FT_Done_FreeType(static_cast<FT_Library>(library_));
}

OutlineFonts::Face* OutlineFonts::Open(const FontRequest& font) {
  return OpenFile(FileFor(font), kFontFolders);
}

OutlineFonts::Face* OutlineFonts::OpenFallback() {
  const char* const folders[] = {kFallbackFolder};
  return OpenFile(kFallbackFile, folders);
}

OutlineFonts::Face* OutlineFonts::OpenFile(
    const std::string& file, std::span<const char* const> folders) {
  if (library_ == nullptr) return nullptr;
  auto found = faces_.find(file);
  if (found != faces_.end()) {
    return found->second->face != nullptr ? found->second.get() : nullptr;
  }
  Face* face = (faces_[file] = std::make_unique<Face>()).get();
  for (const char* folder : folders) {
    const std::string path = std::string(folder) + file;
    if (FT_New_Face(static_cast<FT_Library>(library_), path.c_str(), 0,
                    &face->face) == 0) {
      if (FT_Set_Pixel_Sizes(face->face, 0, kLoadEmPx) == 0) return face;
      FT_Done_Face(face->face);
      face->face = nullptr;
    }
  }
  return nullptr;
}

double OutlineFonts::CellPerEm(const FontRequest& font) {
  Face* face = Open(font);
  if (face == nullptr || face->face->units_per_EM == 0) return 1;
  const double cell =
      static_cast<double>(face->face->ascender - face->face->descender);
  return cell > 0 ? cell / face->face->units_per_EM : 1;
}

TextOutline OutlineFonts::Layout(const FontRequest& font,
                                 std::u16string_view text,
                                 const std::vector<double>& advances) {
  TextOutline out;
  Face* face = Open(font);
  if (face == nullptr || face->face->units_per_EM == 0) return out;
  FT_Face f = face->face;
  out.ascent = static_cast<double>(f->ascender) / f->units_per_EM;
  out.descent = -static_cast<double>(f->descender) / f->units_per_EM;
  const FT_Outline_Funcs funcs = {MoveTo, LineTo, ConicTo, CubicTo, 0, 0};
  double x = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t code = text[i];
    // A surrogate pair is one character and one advance entry each.
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size() &&
        text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
    }
    FT_Face from = f;
    if (code > 0x7F && FT_Get_Char_Index(f, code) == 0) {
      if (Face* fallback = OpenFallback();
          fallback != nullptr && FT_Get_Char_Index(fallback->face, code) != 0) {
        from = fallback->face;
      }
    }
    double advance = 0;
    if (FT_Load_Char(from, code, FT_LOAD_NO_BITMAP | FT_LOAD_NO_HINTING) == 0) {
      advance = static_cast<double>(from->glyph->advance.x) / kUnitsPerEm;
      if (from->glyph->format == FT_GLYPH_FORMAT_OUTLINE) {
        QPainterPath glyph;
        Sink sink{&glyph};
        FT_Outline_Decompose(&from->glyph->outline, &funcs, &sink);
        out.path.addPath(glyph.translated(x, 0));
      }
    }
    if (i < advances.size()) advance = advances[i];
    x += advance;
    if (code > 0xFFFF) {
      ++i;
      if (i < advances.size()) x += advances[i];
    }
  }
  out.advance = x;
  return out;
}

}  // namespace vg::decoders::decoders_internal
