#include "metafile_testutil.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace vg::decoders::testing {
namespace {

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
uint32_t U(int v) { return static_cast<uint32_t>(v); }
uint16_t W(int v) { return static_cast<uint16_t>(v); }

// Hundredths of a millimetre in `px` pixels at 96 to the inch.
int32_t Himetric(int px) { return px * 2540 / 96; }

// BITMAPINFO then the bits of `dib`.
void PutDib(std::vector<uint8_t>& out, const Dib& dib) {
  Put32(out, 40);
  Put32(out, U(dib.width));
  Put32(out, U(dib.height));
  Put16(out, 1);
  Put16(out, dib.bits);
  Put32(out, dib.compression);
  Put32(out, static_cast<uint32_t>(dib.data.size()));
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, static_cast<uint32_t>(dib.palette.size()));
  Put32(out, 0);
  for (uint32_t rgb : dib.palette) {
    if (dib.usage == 1) {
      Put16(out, static_cast<uint16_t>(rgb));
    } else {
      Put32(out, rgb);
    }
  }
  out.insert(out.end(), dib.data.begin(), dib.data.end());
  while (out.size() % 4 != 0) out.push_back(0);
}

uint32_t BmiBytes(const Dib& dib) {
  return 40 +
         (dib.usage == 1 ? 2 : 4) * static_cast<uint32_t>(dib.palette.size());
}

// Where `dib` stands in a record whose fixed part is `fixed` bytes: its
// BITMAPINFO right after that part, then its bits (offBmi, cbBmi, offBits,
// cbBits).
void PutDibPlace(std::vector<uint8_t>& out, uint32_t fixed, const Dib& dib) {
  Put32(out, fixed);
  Put32(out, BmiBytes(dib));
  Put32(out, fixed + BmiBytes(dib));
  Put32(out, static_cast<uint32_t>(dib.data.size()));
}

// An identity XFORM, a blit's source transform.
void PutIdentity(std::vector<uint8_t>& out) {
  for (float f : {1.0F, 0.0F, 0.0F, 1.0F, 0.0F, 0.0F}) {
    uint32_t bits = 0;
    std::memcpy(&bits, &f, sizeof bits);
    Put32(out, bits);
  }
}

// Where a bitmap after `dib` in a record whose fixed part is `fixed` bytes
// starts.
uint32_t AfterDib(uint32_t fixed, const Dib& dib) {
  return fixed + BmiBytes(dib) +
         static_cast<uint32_t>(dib.data.size() + 3) / 4 * 4;
}

// The start of a StretchDIBits or SetDIBitsToDevice record: empty bounds,
// the destination corner, all of `dib` as the source, and where it stands
// after the record's fixed part of `fixed` bytes.
std::vector<uint8_t> DibRecordStart(int x, int y, uint32_t fixed,
                                    const Dib& dib) {
  std::vector<uint8_t> p;
  for (int i = 0; i < 4; ++i) Put32(p, 0);  // bounds
  for (int v : {x, y, 0, 0, dib.width, dib.height}) Put32(p, U(v));
  PutDibPlace(p, fixed, dib);
  return p;
}

}  // namespace

Dib PackedDib(int width, int height, uint16_t bits,
              const std::vector<uint32_t>& pixels) {
  Dib dib{width, height, bits, 0, {}, {}};
  const size_t stride = (static_cast<size_t>(width) * bits + 31) / 32 * 4;
  for (int row = height - 1; row >= 0; --row) {
    std::vector<uint8_t> line(stride, 0);
    for (int col = 0; col < width; ++col) {
      const uint32_t v =
          pixels[static_cast<size_t>(row) * static_cast<size_t>(width) +
                 static_cast<size_t>(col)];
      const size_t bit = static_cast<size_t>(col) * bits;
      if (bits < 8) {
        line[bit / 8] |= static_cast<uint8_t>(v << (8 - bits - bit % 8));
      } else {
        for (size_t i = 0; i < bits / 8U; ++i) {
          line[bit / 8 + i] = static_cast<uint8_t>(v >> (8 * i));
        }
      }
    }
    dib.data.insert(dib.data.end(), line.begin(), line.end());
  }
  return dib;
}

EmfWriter::EmfWriter(int width_px, int height_px, uint16_t handles)
    : frame_{0, 0, Himetric(width_px), Himetric(height_px)},
      bounds_{0, 0, width_px - 1, height_px - 1},
      handles_(handles) {}

void EmfWriter::SetFrame(int32_t left, int32_t top, int32_t right,
                         int32_t bottom) {
  const int32_t box[4] = {left, top, right, bottom};
  std::copy(std::begin(box), std::end(box), frame_);
}

void EmfWriter::SetBounds(int32_t left, int32_t top, int32_t right,
                          int32_t bottom) {
  const int32_t box[4] = {left, top, right, bottom};
  std::copy(std::begin(box), std::end(box), bounds_);
}

EmfWriter& EmfWriter::RecordBytes(uint32_t type,
                                  const std::vector<uint8_t>& params) {
  std::vector<uint8_t> padded = params;
  while (padded.size() % 4 != 0) padded.push_back(0);
  Put32(records_, type);
  Put32(records_, static_cast<uint32_t>(8 + padded.size()));
  records_.insert(records_.end(), padded.begin(), padded.end());
  ++count_;
  return *this;
}

EmfWriter& EmfWriter::Record(uint32_t type,
                             const std::vector<uint32_t>& params) {
  std::vector<uint8_t> bytes;
  for (uint32_t v : params) Put32(bytes, v);
  return RecordBytes(type, bytes);
}

uint32_t FloatBits(float f) {
  uint32_t bits = 0;
  std::memcpy(&bits, &f, sizeof bits);
  return bits;
}

EmfWriter& EmfWriter::EmfPlus(const std::vector<EmfPlusRecord>& records) {
  std::vector<uint8_t> data;
  Put32(data, 0x2B464D45);  // "EMF+"
  for (const EmfPlusRecord& r : records) {
    const auto data_size = static_cast<uint32_t>(r.data.size() * 4);
    Put32(data, uint32_t{r.type} | uint32_t{r.flags} << 16);
    Put32(data, 12 + data_size);
    Put32(data, data_size);
    for (uint32_t v : r.data) Put32(data, v);
  }
  std::vector<uint8_t> params;
  Put32(params, static_cast<uint32_t>(data.size()));
  params.insert(params.end(), data.begin(), data.end());
  return RecordBytes(70, params);
}

EmfWriter& EmfWriter::SolidBrush(uint32_t handle, uint32_t colour) {
  return Record(39, {handle, 0, colour, 0});
}

EmfWriter& EmfWriter::Pen(uint32_t handle, uint32_t style, int width,
                          uint32_t colour) {
  return Record(38, {handle, style, U(width), 0, colour});
}

EmfWriter& EmfWriter::Select(uint32_t handle) { return Record(37, {handle}); }

EmfWriter& EmfWriter::Rectangle(int left, int top, int right, int bottom) {
  return Record(43, {U(left), U(top), U(right), U(bottom)});
}

EmfWriter& EmfWriter::Font(uint32_t handle, int height,
                           const std::u16string& face) {
  std::vector<uint8_t> p;
  Put32(p, handle);
  Put32(p, U(height));
  for (int i = 0; i < 3; ++i) Put32(p, 0);  // width, escapement, orientation
  Put32(p, 400);                            // weight
  for (int i = 0; i < 8; ++i) p.push_back(0);
  for (size_t i = 0; i < 32; ++i) Put16(p, i < face.size() ? face[i] : 0);
  return RecordBytes(82, p);
}

EmfWriter& EmfWriter::Text(int x, int y, const std::u16string& text) {
  std::vector<uint8_t> p;
  for (int i = 0; i < 4; ++i) Put32(p, 0);  // bounds
  Put32(p, 1);                              // graphics mode
  Put32(p, 0);                              // x scale (a float 0)
  Put32(p, 0);
  Put32(p, U(x));
  Put32(p, U(y));
  Put32(p, static_cast<uint32_t>(text.size()));
  Put32(p, 76);  // the string, right after this fixed part
  Put32(p, 0);   // options
  for (int i = 0; i < 4; ++i) Put32(p, 0);  // rectangle
  Put32(p, 0);                              // no advances
  for (char16_t c : text) Put16(p, c);
  return RecordBytes(84, p);
}

EmfWriter& EmfWriter::StretchDib(int x, int y, int cx, int cy, int width,
                                 int height,
                                 const std::vector<uint32_t>& top_down_rgb) {
  const uint32_t stride = static_cast<uint32_t>((width * 3 + 3) / 4 * 4);
  std::vector<uint8_t> p;
  for (int i = 0; i < 4; ++i) Put32(p, 0);  // bounds
  Put32(p, U(x));
  Put32(p, U(y));
  Put32(p, 0);  // xSrc
  Put32(p, 0);  // ySrc
  Put32(p, U(width));
  Put32(p, U(height));
  Put32(p, 80);  // offBmi: right after the fixed part
  Put32(p, 40);
  Put32(p, 120);  // offBits
  Put32(p, stride * U(height));
  Put32(p, 0);           // DIB_RGB_COLORS
  Put32(p, 0x00CC0020);  // SRCCOPY
  Put32(p, U(cx));
  Put32(p, U(cy));
  // BITMAPINFOHEADER, height positive: rows bottom-up.
  Put32(p, 40);
  Put32(p, U(width));
  Put32(p, U(height));
  Put16(p, 1);
  Put16(p, 24);
  for (int i = 0; i < 6; ++i) Put32(p, 0);
  for (int row = height - 1; row >= 0; --row) {
    size_t start = p.size();
    for (int col = 0; col < width; ++col) {
      uint32_t rgb =
          top_down_rgb[static_cast<size_t>(row) * static_cast<size_t>(width) +
                       static_cast<size_t>(col)];
      p.push_back(static_cast<uint8_t>(rgb));
      p.push_back(static_cast<uint8_t>(rgb >> 8));
      p.push_back(static_cast<uint8_t>(rgb >> 16));
    }
    while (p.size() - start < stride) p.push_back(0);
  }
  return RecordBytes(81, p);
}

EmfWriter& EmfWriter::StretchDib(int x, int y, int cx, int cy, uint32_t rop,
                                 const Dib& dib) {
  std::vector<uint8_t> p = DibRecordStart(x, y, 80, dib);
  Put32(p, dib.usage);
  Put32(p, rop);
  Put32(p, U(cx));
  Put32(p, U(cy));
  PutDib(p, dib);
  return RecordBytes(81, p);
}

EmfWriter& EmfWriter::Blit(uint32_t type, int x, int y, int cx, int cy,
                           uint32_t op, const Dib& dib, const Dib* mask) {
  // BitBlt and MaskBlt have no source size; MaskBlt adds its mask.
  const uint32_t fixed = type == 76 ? 100 : type == 78 ? 128 : 108;
  std::vector<uint8_t> p;
  for (int i = 0; i < 4; ++i) Put32(p, 0);  // bounds
  for (int v : {x, y, cx, cy}) Put32(p, U(v));
  Put32(p, op);
  Put32(p, 0);  // xSrc, ySrc
  Put32(p, 0);
  PutIdentity(p);
  Put32(p, 0xFFFFFF);  // source background
  Put32(p, dib.usage);
  PutDibPlace(p, fixed, dib);
  if (type == 78 && mask != nullptr) {
    Put32(p, 0);  // xMask, yMask
    Put32(p, 0);
    Put32(p, 0);  // DIB_RGB_COLORS
    PutDibPlace(p, AfterDib(fixed, dib), *mask);
  } else if (type != 76) {
    Put32(p, U(dib.width));
    Put32(p, U(dib.height));
  }
  PutDib(p, dib);
  if (mask != nullptr) PutDib(p, *mask);
  return RecordBytes(type, p);
}

EmfWriter& EmfWriter::PlgBlt(const std::array<std::array<int, 2>, 3>& corners,
                             const Dib& dib, const Dib* mask) {
  constexpr uint32_t kFixed = 140;
  std::vector<uint8_t> p;
  for (int i = 0; i < 4; ++i) Put32(p, 0);  // bounds
  for (const auto& [x, y] : corners) {
    Put32(p, U(x));
    Put32(p, U(y));
  }
  for (int v : {0, 0, dib.width, dib.height}) Put32(p, U(v));
  PutIdentity(p);
  Put32(p, 0xFFFFFF);  // source background
  Put32(p, dib.usage);
  PutDibPlace(p, kFixed, dib);
  for (int i = 0; i < 3; ++i) Put32(p, 0);  // mask corner, DIB_RGB_COLORS
  if (mask != nullptr) {
    PutDibPlace(p, AfterDib(kFixed, dib), *mask);
  } else {
    for (int i = 0; i < 4; ++i) Put32(p, 0);
  }
  PutDib(p, dib);
  if (mask != nullptr) PutDib(p, *mask);
  return RecordBytes(79, p);
}

EmfWriter& EmfWriter::SetDib(int x, int y, const Dib& dib) {
  std::vector<uint8_t> p = DibRecordStart(x, y, 76, dib);
  Put32(p, dib.usage);
  Put32(p, 0);  // from the first scan line
  Put32(p, U(dib.height));
  PutDib(p, dib);
  return RecordBytes(80, p);
}

EmfWriter& EmfWriter::PatternBrush(uint32_t type, uint32_t handle,
                                   const Dib& dib) {
  constexpr uint32_t kFixed = 32;
  std::vector<uint8_t> p;
  Put32(p, handle);
  Put32(p, dib.usage);
  PutDibPlace(p, kFixed, dib);
  PutDib(p, dib);
  return RecordBytes(type, p);
}

std::vector<uint8_t> EmfWriter::Finish() const {
  std::vector<uint8_t> out;
  constexpr uint32_t kHeaderBytes = 108;
  Put32(out, 1);
  Put32(out, kHeaderBytes);
  for (int32_t v : bounds_) Put32(out, U(v));
  for (int32_t v : frame_) Put32(out, U(v));
  Put32(out, 0x464D4520);  // " EMF"
  Put32(out, 0x10000);
  Put32(out, static_cast<uint32_t>(kHeaderBytes + records_.size() + 20));
  Put32(out, count_ + 2);
  Put16(out, handles_);
  Put16(out, 0);
  Put32(out, 0);  // no description
  Put32(out, 0);
  Put32(out, 0);    // no palette
  Put32(out, 960);  // reference device: 960 pixels in 254 mm, 96 per inch
  Put32(out, 960);
  Put32(out, 254);
  Put32(out, 254);
  Put32(out, 0);  // no pixel format
  Put32(out, 0);
  Put32(out, 0);       // not OpenGL
  Put32(out, 254000);  // micrometres
  Put32(out, 254000);
  out.insert(out.end(), records_.begin(), records_.end());
  // EOF: no palette entries.
  Put32(out, 14);
  Put32(out, 20);
  Put32(out, 0);
  Put32(out, 16);
  Put32(out, 20);
  return out;
}

WmfWriter::WmfWriter(int16_t left, int16_t top, int16_t right, int16_t bottom,
                     uint16_t units_per_inch)
    : placeable_(true),
      box_{left, top, right, bottom},
      units_per_inch_(units_per_inch) {}

WmfWriter& WmfWriter::Record(uint16_t function,
                             const std::vector<uint16_t>& params) {
  const uint32_t words = 3 + static_cast<uint32_t>(params.size());
  Put32(records_, words);
  Put16(records_, function);
  for (uint16_t v : params) Put16(records_, v);
  largest_words_ = std::max(largest_words_, words);
  return *this;
}

WmfWriter& WmfWriter::Window(int16_t x, int16_t y, int16_t cx, int16_t cy) {
  Record(0x020B, {W(y), W(x)});
  return Record(0x020C, {W(cy), W(cx)});
}

WmfWriter& WmfWriter::Viewport(int16_t x, int16_t y, int16_t cx, int16_t cy) {
  Record(0x020D, {W(y), W(x)});
  return Record(0x020E, {W(cy), W(cx)});
}

WmfWriter& WmfWriter::MapMode(uint16_t mode) { return Record(0x0103, {mode}); }

WmfWriter& WmfWriter::Create(uint16_t function,
                             const std::vector<uint16_t>& params, bool select) {
  Record(function, params);
  const auto free = std::find(used_.begin(), used_.end(), false);
  last_object_ = static_cast<uint16_t>(free - used_.begin());
  if (free == used_.end()) {
    used_.push_back(true);
  } else {
    *free = true;
  }
  objects_ = std::max(objects_, static_cast<uint16_t>(used_.size()));
  return select ? Select(last_object_) : *this;
}

WmfWriter& WmfWriter::SolidBrush(uint32_t colour) {
  return Create(0x02FC, {0, W(colour & 0xFFFF), W(colour >> 16), 0});
}

WmfWriter& WmfWriter::Palette(const std::vector<uint32_t>& colours) {
  std::vector<uint16_t> p = {0x300, W(static_cast<int>(colours.size()))};
  for (uint32_t c : colours) {
    p.push_back(W(c & 0xFFFF));
    p.push_back(W(c >> 16));
  }
  Create(0x00F7, p);
  return Record(0x0234, {last_object_});
}

WmfWriter& WmfWriter::Region(const std::vector<std::array<int16_t, 4>>& rects) {
  // Next in chain, type 6, count, size, scans, largest scan, bounds.
  std::vector<uint16_t> p = {0, 6, 0, 0, 0, W(static_cast<int>(rects.size())),
                             6, 0, 0, 0, 0};
  for (const auto& [left, top, right, bottom] : rects) {
    for (int16_t v : {int16_t{2}, top, bottom, left, right, int16_t{2}}) {
      p.push_back(W(v));
    }
  }
  p[4] = W(static_cast<int>(p.size() * 2));
  return Create(0x06FF, p, false);
}

WmfWriter& WmfWriter::Pen(uint16_t style, int16_t width, uint32_t colour) {
  return Create(0x02FA,
                {style, W(width), 0, W(colour & 0xFFFF), W(colour >> 16)});
}

namespace {

// The words of `dib` as a WMF record holds it.
std::vector<uint16_t> DibWords(const Dib& dib) {
  std::vector<uint8_t> bytes;
  PutDib(bytes, dib);
  std::vector<uint16_t> words;
  for (size_t i = 0; i < bytes.size(); i += 2) {
    words.push_back(static_cast<uint16_t>(bytes[i] | bytes[i + 1] << 8));
  }
  return words;
}

}  // namespace

// The words of `dib` as a device-dependent bitmap: type, width, height,
// bytes a row, planes and bits a pixel, then its rows top first, each a
// whole number of words.
std::vector<uint16_t> Bitmap16Words(const Dib& dib) {
  const size_t stride = (size_t(dib.width) * dib.bits + 31) / 32 * 4;
  const size_t row_bytes = (size_t(dib.width) * dib.bits + 15) / 16 * 2;
  std::vector<uint16_t> words = {0, W(dib.width), W(dib.height),
                                 W(static_cast<int>(row_bytes)),
                                 W(1 | dib.bits << 8)};
  for (int y = dib.height - 1; y >= 0; --y) {
    for (size_t i = 0; i < row_bytes; i += 2) {
      const size_t at = size_t(y) * stride + i;
      words.push_back(W(dib.data[at] | dib.data[at + 1] << 8));
    }
  }
  return words;
}

WmfWriter& WmfWriter::Bitmap(uint16_t function, int16_t x, int16_t y,
                             int16_t cx, int16_t cy, uint32_t rop,
                             const Dib& dib) {
  const uint16_t w = W(dib.width);
  const uint16_t h = W(dib.height);
  std::vector<uint16_t> p;
  switch (function) {
    case 0x0F43:  // rop, usage, source, destination
      p = {W(rop & 0xFFFF), W(rop >> 16), W(dib.usage), h,   w, 0, 0,
           W(cy),           W(cx),        W(y),         W(x)};
      break;
    case 0x0B41:  // rop, source, destination
    case 0x0B23:
      p = {W(rop & 0xFFFF), W(rop >> 16), h, w, 0, 0, W(cy), W(cx), W(y), W(x)};
      break;
    case 0x0940:  // rop, source corner, destination
    case 0x0922:
      p = {W(rop & 0xFFFF), W(rop >> 16), 0, 0, h, w, W(y), W(x)};
      break;
    default:  // 0x0D33: usage, scan lines, source, destination
      p = {W(dib.usage), h, 0, 0, 0, h, w, W(y), W(x)};
      break;
  }
  const std::vector<uint16_t> words = function == 0x0B23 || function == 0x0922
                                          ? Bitmap16Words(dib)
                                          : DibWords(dib);
  p.insert(p.end(), words.begin(), words.end());
  return Record(function, p);
}

WmfWriter& WmfWriter::PatternBrush(const Dib& dib) {
  std::vector<uint16_t> p = {5, W(dib.usage)};  // BS_DIBPATTERNPT
  const std::vector<uint16_t> words = DibWords(dib);
  p.insert(p.end(), words.begin(), words.end());
  return Create(0x0142, p);
}

WmfWriter& WmfWriter::Select(uint16_t slot) { return Record(0x012D, {slot}); }

WmfWriter& WmfWriter::Delete(uint16_t slot) {
  if (slot < used_.size()) used_[slot] = false;
  return Record(0x01F0, {slot});
}

WmfWriter& WmfWriter::Rectangle(int16_t left, int16_t top, int16_t right,
                                int16_t bottom) {
  return Record(0x041B, {W(bottom), W(right), W(top), W(left)});
}

WmfWriter& WmfWriter::Text(int16_t x, int16_t y, int16_t height,
                           const std::string& text, uint8_t charset,
                           const std::string& face) {
  // LOGFONT16: height, width, escapement, orientation, weight, then bytes
  // italic, underline, strike out, character set ... pitch and family,
  // then the face name.
  std::vector<uint16_t> font = {
      W(height), 0, 0, 0, 400, 0, static_cast<uint16_t>(charset << 8), 0, 0};
  for (size_t i = 0; i < 32; i += 2) {
    uint8_t lo = i < face.size() ? static_cast<uint8_t>(face[i]) : 0;
    uint8_t hi = i + 1 < face.size() ? static_cast<uint8_t>(face[i + 1]) : 0;
    font.push_back(static_cast<uint16_t>(lo | hi << 8));
  }
  Create(0x02FB, font);
  std::vector<uint16_t> p = {W(static_cast<int>(text.size()))};
  for (size_t i = 0; i < text.size(); i += 2) {
    uint8_t lo = static_cast<uint8_t>(text[i]);
    uint8_t hi = i + 1 < text.size() ? static_cast<uint8_t>(text[i + 1]) : 0;
    p.push_back(static_cast<uint16_t>(lo | hi << 8));
  }
  p.push_back(W(y));
  p.push_back(W(x));
  return Record(0x0521, p);
}

std::vector<uint8_t> WmfWriter::Finish() const {
  std::vector<uint8_t> out;
  if (placeable_) {
    std::vector<uint8_t> head;
    Put32(head, 0x9AC6CDD7);
    Put16(head, 0);
    for (int16_t v : box_) Put16(head, W(v));
    Put16(head, units_per_inch_);
    Put32(head, 0);
    uint16_t sum = 0;
    for (size_t i = 0; i < head.size(); i += 2) {
      sum ^= static_cast<uint16_t>(head[i] | head[i + 1] << 8);
    }
    Put16(head, sum);
    out = head;
  }
  const uint32_t words = 9 + static_cast<uint32_t>(records_.size() / 2) + 3;
  Put16(out, 1);
  Put16(out, 9);
  Put16(out, 0x0300);
  Put32(out, words);
  Put16(out, objects_);
  Put32(out, largest_words_);
  Put16(out, 0);
  out.insert(out.end(), records_.begin(), records_.end());
  Put32(out, 3);  // EOF
  Put16(out, 0);
  return out;
}

}  // namespace vg::decoders::testing
