// Draws the EMF+ records of an EMF (those GDI+ and office suites write in
// comment records) with the EMF player's painter. Internal to vg::decoders.
//
// A "dual" file draws its picture twice, once in EMF records and once in
// EMF+ ones; there the EMF records are drawn and the EMF+ ones left. An
// "EMF+ only" file draws it in EMF+ records alone (with EMF records between
// GetDC and the next EMF+ record): there the EMF+ records are drawn. Drawn:
// the object table (solid, hatched and gradient brushes as one colour, pens,
// paths, bitmaps and PNG, JPEG or GIF images), rectangles, polygons, lines,
// Béziers, ellipses, pies and arcs, paths, images, Clear, world and page
// transforms, saved states, clip rectangles and paths. Other records are
// skipped; text is not drawn.
#ifndef VG_DECODERS_INTERNAL_EMF_PLUS_H_
#define VG_DECODERS_INTERNAL_EMF_PLUS_H_

#include <QBrush>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QTransform>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "decoders/internal/metafile_raster.h"
#include "decoders/internal/outline_font.h"

namespace vg::decoders::decoders_internal {

class EmfPlus {
 public:
  // Draws with `painter`; `device_to_output` maps the EMF's reference
  // device pixels to the painter's; text is drawn with `fonts`. Raises 481
  // once `deadline` has passed. All four outlive this.
  EmfPlus(QPainter* painter, const QTransform* device_to_output,
          const Deadline* deadline, OutlineFonts* fonts);

  // Whether the data of a comment record holds EMF+ records.
  static bool IsEmfPlus(std::span<const uint8_t> comment_data);

  // What the EMF+ records of a file's comments hold, walked without
  // drawing, one comment after another.
  struct Survey {
    int64_t records = 0;
    int64_t largest_image_pixels = 0;  // of the largest image object
    // Some object is spread over several records, which drawing joins.
    bool continued_objects = false;
    bool in_continued = false;  // between the records of such an object
  };
  // Adds the EMF+ records of a comment's data to `survey`. Raises 481 when
  // one lies beyond the comment, and "too large" for an image over the
  // picture limits.
  static void Scan(std::span<const uint8_t> comment_data, Survey* survey);

  // Plays the EMF+ records of a comment's data. Raises 481 when one is
  // damaged.
  void Play(std::span<const uint8_t> comment_data);

  // Whether the EMF+ records draw the picture at this point, so that the
  // EMF records there are to be skipped.
  bool DrawsPicture() const { return header_seen_ && !dual_ && !in_get_dc_; }

  // Raises 481 "EMF+ only" when the picture is drawn by EMF+ records and
  // none of them could be drawn although some would have drawn.
  void Finish() const;

 private:
  struct Object {
    enum class Kind {
      kNone,
      kBrush,
      kPen,
      kPath,
      kRegion,
      kImage,
      kFont,
      kFormat
    };
    Kind kind = Kind::kNone;
    QBrush brush;
    QPen pen;
    QPainterPath path;  // a path's, or a region's area
    QImage image;
    // A font: its face, and its em in `unit`s (0 world, 2 pixel, 3
    // point...).
    struct Font {
      FontRequest request;
      double em = 0;
      uint32_t unit = 0;
    } font;
    // A string format: its alignment along the line and across the lines
    // (0 near, 1 centre, 2 far), and its margin before the line, in ems.
    struct Format {
      uint32_t align = 0;
      uint32_t line_align = 0;
      double leading_margin = 0;  // in ems, before and after each line
      bool wrap = true;  // lines broken at spaces to fit the box's width
    } format;
  };
  struct State {
    QTransform world;
    QTransform page;  // page units to device pixels
    bool clipped = false;
    QPainterPath clip;  // on the output
  };

  void PlayRecord(uint16_t type, uint16_t flags, std::span<const uint8_t> data);
  // Makes an object, joining one spread over several records first.
  void TakeObject(uint16_t flags, std::span<const uint8_t> data);
  void MakeObject(uint16_t flags, std::span<const uint8_t> data);
  // The transform from world coordinates to the painter's.
  QTransform ToOutput() const;
  // Draws `path` filled with `brush` or stroked with `pen` (not both).
  void Draw(const QPainterPath& path, const QBrush* brush, const QPen* pen);
  // Draws the text of a DrawString record.
  void DrawString(uint16_t flags, std::span<const uint8_t> data);
  // Breaks `line` at spaces into the pieces that fit `room` (in ems) in
  // `font`, as they are drawn.
  std::vector<std::u16string_view> Wrap(const FontRequest& font,
                                        std::u16string_view line, double room);
  void DrawImage(const QImage& image, const QRectF& source,
                 const std::array<QPointF, 3>& dest);
  // Sets the painter's clip to the current one.
  void SetClip();
  void Clip(uint16_t flags, const QPainterPath& world_path);
  QBrush BrushOf(uint16_t flags, uint32_t value) const;
  const QPen& PenOf(uint32_t index) const;
  const Object& ObjectOf(uint32_t index, Object::Kind kind) const;

  QPainter* painter_;
  const QTransform* device_to_output_;
  const Deadline* deadline_;
  OutlineFonts* fonts_;
  bool header_seen_ = false;
  bool dual_ = false;
  bool in_get_dc_ = false;
  bool drew_ = false;
  bool skipped_drawing_ = false;
  double dpi_x_ = 96;
  double dpi_y_ = 96;
  State state_;
  std::vector<std::pair<uint32_t, State>> saved_;
  std::array<Object, 64> objects_;
  // The data so far of an object spread over several records, and the
  // flags of its first record; no more than the file's bytes.
  std::vector<uint8_t> continued_;
  std::optional<uint16_t> continued_flags_;
};

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_EMF_PLUS_H_
