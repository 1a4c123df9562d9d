// Windows metafiles (EMF and WMF) written record by record, for the
// metafile reader tests and fuzz seeds.
#ifndef VG_TESTS_DECODERS_METAFILE_TESTUTIL_H_
#define VG_TESTS_DECODERS_METAFILE_TESTUTIL_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace vg::decoders::testing {

// A COLORREF: red in the low byte.
constexpr uint32_t ColorRef(int r, int g, int b) {
  return static_cast<uint32_t>(r) | static_cast<uint32_t>(g) << 8 |
         static_cast<uint32_t>(b) << 16;
}

// A device-independent bitmap for the EMF bitmap records.
struct Dib {
  int width = 0;
  int height = 0;  // positive: rows stored bottom-up
  uint16_t bits = 24;
  uint32_t compression = 0;       // BI_RGB; BI_RLE8 (1) and BI_RLE4 (2) too
  std::vector<uint32_t> palette;  // 0xRRGGBB entries
  std::vector<uint8_t> data;      // the rows as stored, or the runs
  // 1 (DIB_PAL_COLORS): `palette` holds indices of the selected palette,
  // written as 16-bit entries; 0: colours.
  uint32_t usage = 0;
};

// Returns a bitmap of `bits` (1, 4, 8, 24 or 32) per pixel from `pixels`
// given top row first: palette indices up to 8 bits, 0xRRGGBB at 24 and
// 0xAARRGGBB at 32. Its rows are stored bottom-up, padded to 4 bytes.
Dib PackedDib(int width, int height, uint16_t bits,
              const std::vector<uint32_t>& pixels);

// One EMF+ record: its type, flags and data as 32-bit values.
struct EmfPlusRecord {
  uint16_t type = 0;
  uint16_t flags = 0;
  std::vector<uint32_t> data;
};

// A float's bits, for EMF+ data.
uint32_t FloatBits(float f);

// An enhanced metafile. The reference device has 96 pixels to the inch, so
// that in the default mapping one logical unit is one pixel of the logical
// size; the frame is 0,0 - width_px,height_px in those units.
class EmfWriter {
 public:
  EmfWriter(int width_px, int height_px, uint16_t handles = 8);

  // Appends a record of `type` whose parameters are the 32-bit values
  // `params` (after type and size).
  EmfWriter& Record(uint32_t type, const std::vector<uint32_t>& params);
  // Appends a record of `type` with raw parameter bytes.
  EmfWriter& RecordBytes(uint32_t type, const std::vector<uint8_t>& params);

  EmfWriter& SolidBrush(uint32_t handle, uint32_t colour);
  EmfWriter& Pen(uint32_t handle, uint32_t style, int width, uint32_t colour);
  EmfWriter& Select(uint32_t handle);
  EmfWriter& Rectangle(int left, int top, int right, int bottom);
  EmfWriter& Font(uint32_t handle, int height, const std::u16string& face);
  // ExtTextOutW at (x, y), no advances given.
  EmfWriter& Text(int x, int y, const std::u16string& text);
  // StretchDIBits of a 24-bit bottom-up bitmap `width` x `height`, rows
  // given top row first as 0xRRGGBB values, into the destination rect.
  EmfWriter& StretchDib(int x, int y, int cx, int cy, int width, int height,
                        const std::vector<uint32_t>& top_down_rgb);
  // StretchDIBits of `dib`, all of it, into the destination rect.
  EmfWriter& StretchDib(int x, int y, int cx, int cy, uint32_t rop,
                        const Dib& dib);
  // A BitBlt (76), StretchBlt (77), MaskBlt (78, through `mask`),
  // AlphaBlend (114) or TransparentBlt (116) of `dib`, all of it, into the
  // destination rect; `op` is the raster operation, the blend function or
  // the transparent colour.
  EmfWriter& Blit(uint32_t type, int x, int y, int cx, int cy, uint32_t op,
                  const Dib& dib, const Dib* mask = nullptr);
  // A PlgBlt of `dib`, all of it, onto the parallelogram of `corners`
  // (where its top left, top right and bottom left corners go), through
  // `mask` (1 bits draw) when given.
  EmfWriter& PlgBlt(const std::array<std::array<int, 2>, 3>& corners,
                    const Dib& dib, const Dib* mask = nullptr);
  // SetDIBitsToDevice of `dib`, all of it, at (x, y).
  EmfWriter& SetDib(int x, int y, const Dib& dib);
  // A brush from a bitmap: CreateMonoBrush (93) or CreateDIBPatternBrushPt
  // (94).
  EmfWriter& PatternBrush(uint32_t type, uint32_t handle, const Dib& dib);

  // Appends a comment record holding the EMF+ `records`.
  EmfWriter& EmfPlus(const std::vector<EmfPlusRecord>& records);

  // Returns the file: the header (with its frame, bounds and counts) and
  // the records, ended by EOF.
  std::vector<uint8_t> Finish() const;

  // Sets the header's frame in hundredths of a millimetre and its bounds.
  void SetFrame(int32_t left, int32_t top, int32_t right, int32_t bottom);
  void SetBounds(int32_t left, int32_t top, int32_t right, int32_t bottom);

 private:
  int32_t frame_[4];
  int32_t bounds_[4];
  uint16_t handles_;
  std::vector<uint8_t> records_;
  uint32_t count_ = 0;
};

// A Windows metafile, placeable (with a box in units per inch) or plain.
class WmfWriter {
 public:
  // A plain metafile.
  WmfWriter() = default;
  // A placeable one: its box and units per inch.
  WmfWriter(int16_t left, int16_t top, int16_t right, int16_t bottom,
            uint16_t units_per_inch);

  // Appends a record of `function` with 16-bit parameters.
  WmfWriter& Record(uint16_t function, const std::vector<uint16_t>& params);
  WmfWriter& Window(int16_t x, int16_t y, int16_t cx, int16_t cy);
  WmfWriter& Viewport(int16_t x, int16_t y, int16_t cx, int16_t cy);
  WmfWriter& MapMode(uint16_t mode);
  // Objects take the lowest free slot of the object table, as in Windows;
  // last_object() is the slot of the last one made.
  WmfWriter& SolidBrush(uint32_t colour);  // created and selected
  WmfWriter& Pen(uint16_t style, int16_t width, uint32_t colour);  // too
  // A logical palette of `colours` (COLORREFs), created and selected with
  // SelectPalette.
  WmfWriter& Palette(const std::vector<uint32_t>& colours);
  // A region of `rects` (left, top, right, bottom), each its own scan;
  // created, not selected.
  WmfWriter& Region(const std::vector<std::array<int16_t, 4>>& rects);
  WmfWriter& Select(uint16_t slot);
  WmfWriter& Delete(uint16_t slot);
  uint16_t last_object() const { return last_object_; }
  WmfWriter& Rectangle(int16_t left, int16_t top, int16_t right,
                       int16_t bottom);
  // A StretchDIB (0x0F43), DIBStretchBlt (0x0B41), DIBBitBlt (0x0940,
  // unscaled) or SetDIBitsToDevice (0x0D33, unscaled, SRCCOPY) of `dib`,
  // all of it, into the destination rect; or a StretchBlt (0x0B23) or
  // BitBlt (0x0922, unscaled) of it as a device-dependent bitmap.
  WmfWriter& Bitmap(uint16_t function, int16_t x, int16_t y, int16_t cx,
                    int16_t cy, uint32_t rop, const Dib& dib);
  // A DIBCreatePatternBrush of `dib`, created and selected.
  WmfWriter& PatternBrush(const Dib& dib);
  // A font `face` of `height` logical units in `charset`, created and
  // selected, then TextOut of the bytes of `text`.
  WmfWriter& Text(int16_t x, int16_t y, int16_t height, const std::string& text,
                  uint8_t charset = 0, const std::string& face = "Arial");

  std::vector<uint8_t> Finish() const;

 private:
  bool placeable_ = false;
  int16_t box_[4] = {0, 0, 0, 0};
  uint16_t units_per_inch_ = 0;
  std::vector<uint8_t> records_;
  uint32_t largest_words_ = 3;
  // Makes an object of `function` with `params` and selects it, unless
  // told not to.
  WmfWriter& Create(uint16_t function, const std::vector<uint16_t>& params,
                    bool select = true);

  uint16_t objects_ = 0;  // the table's size
  std::vector<bool> used_;
  uint16_t last_object_ = 0;
};

}  // namespace vg::decoders::testing

#endif  // VG_TESTS_DECODERS_METAFILE_TESTUTIL_H_
