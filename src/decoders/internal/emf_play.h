// The player of an EMF's records, drawing on a QPainter; its work is
// shared by concern: records and mapping (emf_play.cpp), objects
// (emf_objects.cpp), clipping (emf_clip.cpp), lines and shapes
// (emf_drawing.cpp), text (emf_text.cpp) and bitmaps (emf_blit.cpp).
// Internal to vg::decoders.
//
//   Player player(header, &image, &deadline);
//   while (...) if (!player.Play(rec, type)) break;
//   player.Finish();
#ifndef VG_DECODERS_INTERNAL_EMF_PLAY_H_
#define VG_DECODERS_INTERNAL_EMF_PLAY_H_

#include <QBrush>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QTransform>
#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "decoders/internal/emf_header.h"
#include "decoders/internal/emf_plus.h"
#include "decoders/internal/emf_reader.h"
#include "decoders/internal/emf_records.h"
#include "decoders/internal/metafile_raster.h"
#include "decoders/internal/outline_font.h"

namespace vg::decoders::decoders_internal::emf {

// A shape reaching further than this many times the picture's larger side
// beyond it is cut to the picture before it is drawn.
inline constexpr double kFarOutsideSides = 4;
// The default font's height, in logical units, when a font says 0.
inline constexpr double kDefaultFontHeight = 16;

// Whether a record holds `n` bytes of parameters after its type and size.
inline bool HasParams(const Reader& r, size_t n) {
  return r.Has(kRecordHeadBytes, n);
}

// Where a bitmap record draws, from where of its bitmap, and with what
// raster operation (or blend function).
struct Blit {
  QRectF dest;
  QRectF source;
  uint32_t op = 0;
};

// A comment record's data, as much of it as the record holds; the record
// holds its size.
inline std::span<const uint8_t> CommentData(const Reader& r) {
  return r.bytes().subspan(12, std::min<size_t>(r.U32(8), r.size() - 12));
}

struct Font {
  FontRequest request;
  double height = 0;  // logical units; negative: em height, positive: cell
  double escapement_deg = 0;
};

struct GdiObject {
  enum class Kind { kNone, kPen, kBrush, kFont, kPalette } kind = Kind::kNone;
  QPen pen;
  QBrush brush;
  Font font;
  // A logical palette's entries; never more than its records held.
  std::vector<QRgb> palette;
};

// What a saved state keeps.
struct State {
  QTransform world;
  int map_mode = kMmText;
  QPointF window_org{0, 0};
  QSizeF window_ext{1, 1};
  QPointF viewport_org{0, 0};
  QSizeF viewport_ext{1, 1};
  QPen pen{QColor(0, 0, 0), 0};
  QBrush brush{QColor(255, 255, 255)};
  Font font;
  QColor text_color{0, 0, 0};
  QColor bk_color{255, 255, 255};
  bool bk_opaque = true;
  uint32_t text_align = 0;
  Qt::FillRule fill_rule = Qt::OddEvenFill;
  uint32_t rop2 = kR2CopyPen;
  // The object handle of the palette selected; 0 for the default one.
  uint32_t palette = 0;
  bool clockwise = false;
  QPointF current{0, 0};
  // The area drawn into, in output pixels; none: all of it.
  std::optional<QPainterPath> clip;
};

class Player {
 public:
  Player(const Header& header, QImage* image, const Deadline* deadline);

  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;
  // Unwinds the states the picture saved and did not restore, which a
  // painter would complain of.
  ~Player();

  // Plays one record; returns false at the end of the picture.
  bool Play(const Reader& r, uint32_t type);
  // Raises 481 when an EMF+ picture could not be drawn.
  void Finish() const { emf_plus_.Finish(); }

 private:
  // Each plays the records of its concern; false for any other record.
  // Window, viewport, mapping mode, world transform and saved states:
  bool PlayMapping(const Reader& r, uint32_t type);
  // Colours, modes and alignment that later records draw with:
  bool PlayAttribute(const Reader& r, uint32_t type);
  // Pens, brushes and fonts made, selected and deleted:
  bool PlayObject(const Reader& r, uint32_t type);
  // Logical palettes made, changed and selected:
  bool PlayPalette(const Reader& r, uint32_t type);
  // Clipping, and regions drawn:
  bool PlayClip(const Reader& r, uint32_t type);
  void PaintRegion(const Reader& r, uint32_t type);
  // The brush of object `index`, stock or made; nothing for another kind.
  std::optional<QBrush> BrushOf(uint32_t index);
  // Paths, and the current position that lines continue from:
  bool PlayPath(const Reader& r, uint32_t type);
  // Lines, polygons, rectangles, ellipses and arcs:
  bool PlayShape(const Reader& r, uint32_t type);

  QTransform Page() const;
  // The selected palette's entries; empty for the default palette.
  std::span<const QRgb> Palette() const;
  // A COLORREF's colour, through the selected palette when it names an
  // entry of it.
  QColor Colour(uint32_t ref) const;
  // Sets the painter's mode for the pen and brush's raster operation;
  // false when they draw nothing. Undo with EndRop2.
  bool BeginRop2();
  void EndRop2();
  void ApplyTransform() {
    painter_.setTransform(state_.world * Page() * device_to_output_);
  }
  QPointF Pt(const Reader& r, size_t at) const {
    return {static_cast<double>(r.I32(at)), static_cast<double>(r.I32(at + 4))};
  }
  QPointF Pt16(const Reader& r, size_t at) const {
    return {static_cast<double>(r.I16(at)), static_cast<double>(r.I16(at + 2))};
  }
  std::vector<QPointF> Points(const Reader& r, size_t count_at, size_t at,
                              bool small) const;
  void Emit(const QPainterPath& figure, bool closed);
  // Whether `path`, drawn, reaches far beyond the picture.
  bool FarOutside(const QPainterPath& path, double margin_px) const;
  // The picture's own area on the output, widened by `margin_px`.
  QPainterPath OutputArea(double margin_px) const;
  // Strokes and fills with the pen and brush, in their raster operation.
  void StrokeWith(const QPainterPath& path);
  void Stroke(const QPainterPath& path);
  void FillWith(const QPainterPath& path);
  // Fills `path` in the current transform, cut to the picture first when it
  // reaches far beyond it.
  void Fill(const QPainterPath& path, const QBrush& brush);
  QPainterPath& PathForContinuation();
  void Poly(const Reader& r, uint32_t type);
  void PolyPoly(const Reader& r, bool small, bool closed);
  void ArcShape(const Reader& r, uint32_t type);
  // An ellipse, a rectangle or a rounded one.
  void Box(const Reader& r, uint32_t type);
  void AngleArc(const Reader& r);
  void LineTo(const Reader& r);
  void ModifyWorld(const Reader& r, uint32_t type);
  void Text(const Reader& r, bool wide);
  void Bitmap(const Reader& r, uint32_t type);
  // A bitmap drawn onto a parallelogram, through its mask if it has one.
  void PlgBlt(const Reader& r);
  // Rectangles shaded from one colour to another, or triangles shaded
  // between the colours of their corners.
  void GradientFill(const Reader& r);
  void ShadeTriangle(const std::array<QPointF, 3>& corners,
                     const std::array<QColor, 3>& colours);
  // Draws `source` of `image` into `blit`'s destination, mirrored where
  // that is.
  void DrawBitmap(QImage image, const Blit& blit,
                  QPainter::CompositionMode mode, double opacity);
  // Keeps of `image` only the pixels of `source` that a MaskBlt's mask and
  // operations `rop4` draw from; false when it draws them otherwise.
  static bool MaskOut(const Reader& r, uint32_t rop4, const QRectF& source,
                      QImage* image);
  // Returns the area drawn into, in output pixels.
  QPainterPath CurrentClip() const;
  // Combines the clip with `area` (output pixels) as a region `mode` says.
  void CombineClip(const QPainterPath& area, uint32_t mode);
  // Sets the clip, and the painter's.
  void SetClip(std::optional<QPainterPath> area);
  void SelectObject(uint32_t index);
  void CreatePen(const Reader& r, bool extended);
  // Makes the brush of a CreateBrushIndirect, CreateMonoBrush or
  // CreateDIBPatternBrushPt record.
  void CreateBrush(const Reader& r, uint32_t type);
  void CreateFont(const Reader& r);
  void ClipRegion(const Reader& r);
  void Save();
  void Restore(int32_t relative);
  GdiObject* Object(uint32_t index) {
    return index > 0 && index < objects_.size() ? &objects_[index] : nullptr;
  }

  const Header header_;
  const Deadline* deadline_;
  QPainter painter_;
  QTransform device_to_output_;
  OutlineFonts fonts_;
  EmfPlus emf_plus_;
  double px_per_mm_x_ = kDefaultPxPerMm;
  double px_per_mm_y_ = kDefaultPxPerMm;
  State state_;
  std::vector<State> saved_;
  std::vector<GdiObject> objects_;
  bool in_path_ = false;
  QPainterPath path_;
};

}  // namespace vg::decoders::decoders_internal::emf

#endif  // VG_DECODERS_INTERNAL_EMF_PLAY_H_
