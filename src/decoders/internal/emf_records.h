// The numbers an EMF's records carry: record types, stock objects and the
// modes and flags of the records the player draws. Internal to
// vg::decoders.
#ifndef VG_DECODERS_INTERNAL_EMF_RECORDS_H_
#define VG_DECODERS_INTERNAL_EMF_RECORDS_H_

#include <cstddef>
#include <cstdint>

namespace vg::decoders::decoders_internal::emf {

// Record types.
enum : uint32_t {
  kHeader = 1,
  kPolyBezier = 2,
  kPolygon = 3,
  kPolyline = 4,
  kPolyBezierTo = 5,
  kPolylineTo = 6,
  kPolyPolyline = 7,
  kPolyPolygon = 8,
  kSetWindowExtEx = 9,
  kSetWindowOrgEx = 10,
  kSetViewportExtEx = 11,
  kSetViewportOrgEx = 12,
  kEof = 14,
  kSetMapMode = 17,
  kSetBkMode = 18,
  kSetPolyFillMode = 19,
  kSetRop2 = 20,
  kSetTextAlign = 22,
  kSetTextColor = 24,
  kSetBkColor = 25,
  kOffsetClipRgn = 26,
  kMoveToEx = 27,
  kExcludeClipRect = 29,
  kIntersectClipRect = 30,
  kScaleViewportExtEx = 31,
  kScaleWindowExtEx = 32,
  kSaveDc = 33,
  kRestoreDc = 34,
  kSetWorldTransform = 35,
  kModifyWorldTransform = 36,
  kSelectObject = 37,
  kCreatePen = 38,
  kCreateBrushIndirect = 39,
  kDeleteObject = 40,
  kAngleArc = 41,
  kEllipse = 42,
  kRectangle = 43,
  kRoundRect = 44,
  kArc = 45,
  kChord = 46,
  kPie = 47,
  kSelectPalette = 48,
  kCreatePalette = 49,
  kSetPaletteEntries = 50,
  kResizePalette = 51,
  kRealizePalette = 52,
  kLineTo = 54,
  kArcTo = 55,
  kSetArcDirection = 57,
  kBeginPath = 59,
  kEndPath = 60,
  kCloseFigure = 61,
  kFillPath = 62,
  kStrokeAndFillPath = 63,
  kStrokePath = 64,
  kSelectClipPath = 67,
  kAbortPath = 68,
  kComment = 70,
  kFillRgn = 71,
  kFrameRgn = 72,
  kInvertRgn = 73,
  kPaintRgn = 74,
  kExtSelectClipRgn = 75,
  kBitBlt = 76,
  kStretchBlt = 77,
  kMaskBlt = 78,
  kPlgBlt = 79,
  kSetDiBitsToDevice = 80,
  kStretchDiBits = 81,
  kExtCreateFontIndirectW = 82,
  kExtTextOutA = 83,
  kExtTextOutW = 84,
  kPolyBezier16 = 85,
  kPolygon16 = 86,
  kPolyline16 = 87,
  kPolyBezierTo16 = 88,
  kPolylineTo16 = 89,
  kPolyPolyline16 = 90,
  kPolyPolygon16 = 91,
  kCreateMonoBrush = 93,
  kCreateDibPatternBrushPt = 94,
  kExtCreatePen = 95,
  kAlphaBlend = 114,
  kTransparentBlt = 116,
  kGradientFill = 118,
};

// Every record starts with its type and its size in bytes.
inline constexpr size_t kRecordHeadBytes = 8;
inline constexpr size_t kHeaderMinBytes = 88;
inline constexpr uint32_t kStockObject = 0x80000000;

// Stock objects, by their index below kStockObject.
enum : uint32_t {
  kWhiteBrush = 0,
  kLtGrayBrush = 1,
  kGrayBrush = 2,
  kDkGrayBrush = 3,
  kBlackBrush = 4,
  kNullBrush = 5,
  kWhitePen = 6,
  kBlackPen = 7,
  kNullPen = 8,
  kOemFixedFont = 10,
  kAnsiFixedFont = 11,
  kAnsiVarFont = 12,
  kSystemFont = 13,
  kDeviceDefaultFont = 14,
  kDefaultPalette = 15,
  kSystemFixedFont = 16,
  kDefaultGuiFont = 17,
  kDcBrush = 18,  // black until set, and no record sets it
  kDcPen = 19,
};

// How a clipping region or path combines with the current clip.
enum : uint32_t {
  kRgnAnd = 1,
  kRgnOr = 2,
  kRgnXor = 3,
  kRgnDiff = 4,
  kRgnCopy = 5,
};

// How ModifyWorldTransform combines its matrix with the world transform.
enum : uint32_t {
  kMwtIdentity = 1,
  kMwtLeftMultiply = 2,
  kMwtRightMultiply = 3,
  kMwtSet = 4,  // what SetWorldTransform does
};

// A COLORREF whose high byte is this names an entry of the selected
// palette, by the index in its low 16 bits.
inline constexpr uint32_t kPaletteIndexFlag = 0x01;
// A bitmap's colour table holds 16-bit indices of the selected palette.
inline constexpr uint32_t kDibPalColors = 1;

// SetROP2: how a pen or brush combines with what lies below, numbered from
// kR2Black (1) to kR2White (16) as emf_colour.cpp's table lists them.
enum : uint32_t {
  kR2Black = 1,
  kR2XorPen = 7,
  kR2Nop = 11,  // nothing drawn
  kR2CopyPen = 13,
  kR2White = 16,
};

// SetBkMode: the background behind text and hatches is painted.
inline constexpr uint32_t kBkOpaque = 2;
// SetPolyFillMode: every area a path winds around is filled.
inline constexpr uint32_t kWindingFill = 2;
// SetArcDirection: arcs are drawn clockwise.
inline constexpr uint32_t kArcClockwise = 2;

// Pen styles: the line's pattern (the low four bits), its end caps and its
// joins.
enum : uint32_t {
  kPsStyleMask = 0xF,
  kPsDash = 1,
  kPsDot = 2,
  kPsDashDot = 3,
  kPsDashDotDot = 4,
  kPsNull = 5,
  kPsEndCapMask = 0xF00,
  kPsEndCapSquare = 0x100,
  kPsEndCapFlat = 0x200,  // round when neither
  kPsJoinMask = 0xF000,
  kPsJoinBevel = 0x1000,
  kPsJoinMiter = 0x2000,  // round when neither
};

// Brush styles; the others are drawn solid.
enum : uint32_t {
  kBsNull = 1,
  kBsHatched = 2,
};

// Text alignment bits.
inline constexpr uint32_t kTaUpdateCp = 1;
inline constexpr uint32_t kTaRight = 2;
inline constexpr uint32_t kTaCenter = 6;
inline constexpr uint32_t kTaBottom = 8;
inline constexpr uint32_t kTaBaseline = 24;
// ExtTextOut's option of advances in both directions.
inline constexpr uint32_t kEtoPdy = 0x2000;

// Raster operations with a meaning here.
inline constexpr uint32_t kPatCopy = 0x00F00021;
inline constexpr uint32_t kBlackness = 0x00000042;
inline constexpr uint32_t kWhiteness = 0x00FF0062;
// The same operations by the index byte of their code (bits 16-23), the
// form a MaskBlt's two operations take.
enum : uint32_t {
  kRop3NotSrcCopy = 0x33,
  kRop3SrcInvert = 0x66,  // source XOR destination
  kRop3SrcAnd = 0x88,
  kRop3DstCopy = 0xAA,  // the destination left as it is
  kRop3SrcCopy = 0xCC,
  kRop3SrcPaint = 0xEE,  // source OR destination
};
// The BLENDFUNCTION's alpha format: the source's own alpha, premultiplied.
inline constexpr uint32_t kAcSrcAlpha = 0x01;

}  // namespace vg::decoders::decoders_internal::emf

#endif  // VG_DECODERS_INTERNAL_EMF_RECORDS_H_
