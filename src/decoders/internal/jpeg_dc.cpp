#include "decoders/internal/jpeg_dc.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstring>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include "decoders/internal/jpeg_decoder.h"
#include "decoders/internal/picture_error.h"

namespace vg::decoders::decoders_internal {
namespace {

// Marker codes, the byte after 0xFF (jpeglib.h names the others used here:
// JPEG_RST0, JPEG_EOI, JPEG_APP0, JPEG_COM). kSof2 starts a progressive
// frame coded by Huffman tables.
enum : uint8_t { kSof2 = 0xC2, kDht = 0xC4, kSoi = 0xD8 };
enum : uint8_t { kSos = 0xDA, kDqt = 0xDB, kDri = 0xDD };

// Codes of up to kLookBits bits are found with one look in a table.
constexpr int kLookBits = 9;
// The most blocks an MCU may hold, as libjpeg allows.
constexpr int kMaxBlocksInMcu = 10;

struct HuffmanTable {
  bool defined = false;
  // The next kLookBits bits -> code length << 8 | symbol; 0 when longer.
  std::array<uint16_t, 1 << kLookBits> fast{};
  // For an AC table: where the next kLookBits bits hold a whole code and
  // the bits of its value (of 7 bits at most), value << 8 | run << 4 |
  // the bits taken; 0 otherwise.
  std::array<int16_t, 1 << kLookBits> fast_ac{};
  // For codes of length 1 to 16: the largest (-1: none), and what to add to
  // a code of that length for its symbol's index in `values`.
  std::array<int32_t, 17> max_code{};
  std::array<int32_t, 17> value_offset{};
  std::array<uint8_t, 256> values{};
};

// Builds the canonical code of a DHT table: counts[l] codes of length l + 1
// for `values` in order. False for a table no code fits.
bool BuildTable(std::span<const uint8_t> counts,
                std::span<const uint8_t> values, HuffmanTable& table) {
  table = HuffmanTable{};
  int32_t code = 0;
  size_t k = 0;
  for (int length = 1; length <= 16; ++length) {
    const int n = counts[static_cast<size_t>(length - 1)];
    table.value_offset[static_cast<size_t>(length)] =
        static_cast<int32_t>(k) - code;
    for (int i = 0; i < n; ++i, ++code, ++k) {
      // libjpeg's rule: the code of all ones is never used.
      if (code + 1 >= 1 << length) return false;
      if (length <= kLookBits) {
        const int shift = kLookBits - length;
        for (int32_t j = code << shift; j < (code + 1) << shift; ++j) {
          table.fast[static_cast<size_t>(j)] =
              static_cast<uint16_t>(length << 8 | values[k]);
        }
      }
    }
    table.max_code[static_cast<size_t>(length)] = n > 0 ? code - 1 : -1;
    code <<= 1;
  }
  std::copy(values.begin(), values.end(), table.values.begin());
  for (size_t i = 0; i < table.fast.size(); ++i) {
    const int length = table.fast[i] >> 8;
    const int run = (table.fast[i] >> 4) & 15;
    const int size = table.fast[i] & 15;
    if (length == 0 || size == 0 || size > 7 || length + size > kLookBits) {
      continue;
    }
    auto v = static_cast<int32_t>(i >> (kLookBits - length - size)) &
             ((1 << size) - 1);
    if (v < 1 << (size - 1)) v -= (1 << size) - 1;
    table.fast_ac[i] = static_cast<int16_t>(v * 256 + run * 16 + length + size);
  }
  table.defined = true;
  return true;
}

// The bits of one run of entropy-coded data, stuffed zero bytes taken out.
// Past its end it gives zero bits, and remembers that it did.
class BitReader {
 public:
  BitReader(const uint8_t* p, const uint8_t* end) : p_(p), end_(end) {}

  uint32_t Peek(int n) {
    if (count_ < n) Fill();
    return static_cast<uint32_t>(bits_ >> (64 - n));
  }
  void Skip(int n) {
    bits_ <<= n;
    count_ -= n;
  }
  uint32_t Get(int n) {
    if (n == 0) return 0;
    const uint32_t v = Peek(n);
    Skip(n);
    return v;
  }
  // True once a bit past the end was taken.
  bool overran() const { return count_ < made_up_; }

 private:
  void Fill() {
    // Whole bytes at once while none of the next eight is 0xFF.
    if (end_ - p_ >= 8) {
      uint64_t word = 0;
      std::memcpy(&word, p_, 8);
      const uint64_t inverted = ~word;
      if (((inverted - 0x0101010101010101) & ~inverted & 0x8080808080808080) ==
          0) {
        const int take = (64 - count_) >> 3;
        word = __builtin_bswap64(word) >> (64 - 8 * take);
        bits_ |= word << (64 - count_ - 8 * take);
        p_ += take;
        count_ += 8 * take;
        return;
      }
    }
    while (count_ <= 56) {
      uint64_t byte = 0;
      if (p_ < end_ && !(p_[0] == 0xFF && (p_ + 1 == end_ || p_[1] != 0))) {
        byte = *p_;
        p_ += byte == 0xFF ? 2 : 1;
      } else {
        made_up_ += 8;
      }
      bits_ |= byte << (56 - count_);
      count_ += 8;
    }
  }

  const uint8_t* p_;
  const uint8_t* end_;
  uint64_t bits_ = 0;
  int count_ = 0;
  int made_up_ = 0;  // zero bits at the end of bits_ that the data lacks
};

// Decode's way for a code longer than kLookBits.
[[gnu::noinline]] int DecodeLong(BitReader& bits, const HuffmanTable& table) {
  const uint32_t look = bits.Peek(16);
  for (int length = kLookBits + 1; length <= 16; ++length) {
    const auto code = static_cast<int32_t>(look >> (16 - length));
    if (code <= table.max_code[static_cast<size_t>(length)]) {
      bits.Skip(length);
      const int32_t index =
          code + table.value_offset[static_cast<size_t>(length)];
      if (index < 0 || index > 255) return -1;
      return table.values[static_cast<size_t>(index)];
    }
  }
  return -1;
}

// Returns the next symbol of `table`, or -1 for a code it does not have.
inline int Decode(BitReader& bits, const HuffmanTable& table) {
  const uint16_t fast = table.fast[bits.Peek(kLookBits)];
  if (fast != 0) {
    bits.Skip(fast >> 8);
    return fast & 0xFF;
  }
  return DecodeLong(bits, table);
}

// The value of an s-bit difference whose bits come next (JPEG's EXTEND).
int32_t Extend(BitReader& bits, int s) {
  if (s == 0) return 0;
  auto v = static_cast<int32_t>(bits.Get(s));
  return v < 1 << (s - 1) ? v - (1 << s) + 1 : v;
}

// A coefficient as libjpeg keeps it: 16 bits, wrapping.
int16_t Coefficient(int32_t v) {
  return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(v)));
}

// A block's AC coefficients as kept: those a component's transform reads,
// and a bit for each that is not zero.
struct KeptBlock {
  int16_t* values;
  const int8_t* slot;
  uint64_t& nonzero;

  void Set(int k, int16_t v) {
    if (v != 0) nonzero |= uint64_t{1} << k;
    if (slot[k] >= 0) values[slot[k]] = v;
  }
  bool IsZero(int k) const { return (nonzero >> k & 1) == 0; }
};

// One block's first pass over coefficients ss..se (zigzag order) from bit
// `al` up. `eob_run` counts the blocks still to pass over, the one before
// included. False for a code the table lacks or a run past se.
bool FirstAc(BitReader& bits, const HuffmanTable& table, int ss, int se, int al,
             int32_t& eob_run, KeptBlock block) {
  if (eob_run > 0) {
    --eob_run;
    return true;
  }
  for (int k = ss; k <= se; ++k) {
    const int16_t fast = table.fast_ac[bits.Peek(kLookBits)];
    if (fast != 0) {
      k += (fast >> 4) & 15;
      if (k > se) return false;
      bits.Skip(fast & 15);
      block.Set(k, Coefficient(static_cast<int32_t>(
                       static_cast<uint32_t>(fast >> 8) << al)));
      continue;
    }
    const int rs = Decode(bits, table);
    if (rs < 0) return false;
    const int r = rs >> 4;
    const int s = rs & 15;
    if (s != 0) {
      k += r;
      if (k > se) return false;
      block.Set(k, Coefficient(static_cast<int32_t>(
                       static_cast<uint32_t>(Extend(bits, s)) << al)));
    } else if (r == 15) {
      k += 15;  // sixteen zeros
    } else {
      eob_run = (1 << r) - 1 + static_cast<int32_t>(bits.Get(r));
      break;
    }
  }
  return true;
}

// The bits of coefficients k..last (none when k > last).
uint64_t Band(int k, int last) {
  return k > last ? 0 : (~uint64_t{0} << k) & (~uint64_t{0} >> (63 - last));
}

// Adds the next correction bits, one to each coefficient of `which` in
// turn (all sent, nonzero), as bit `p1` of its magnitude.
void Correct(BitReader& bits, int32_t p1, KeptBlock& block, uint64_t which) {
  while (which != 0) {
    // Up to 16 bits at a time.
    const uint32_t got = bits.Peek(16);
    int used = 0;
    for (; which != 0 && used < 16; which &= which - 1) {
      const auto bit = static_cast<int32_t>(got >> (15 - used++) & 1);
      const int8_t slot = block.slot[std::countr_zero(which)];
      if (slot < 0) continue;
      // Bit p1 set, away from zero, unless it is set already: no branch
      // on the bit, which is as likely one as zero.
      int16_t& c = block.values[slot];
      const int32_t away = c < 0 ? -p1 : p1;
      c = Coefficient(c + away * (bit & static_cast<int32_t>((c & p1) == 0)));
    }
    bits.Skip(used);
  }
}

// One block's refinement of coefficients ss..se by bit `al`: a correction
// bit for each nonzero one, in turn, and new coefficients of magnitude
// 1 << al among the zeros. False for a code the table lacks, a new
// coefficient larger than that, or one past se.
bool RefineAc(BitReader& bits, const HuffmanTable& table, int ss, int se,
              int al, int32_t& eob_run, KeptBlock block) {
  const int32_t p1 = 1 << al;
  int k = ss;
  if (eob_run == 0) {
    for (; k <= se; ++k) {
      const int rs = Decode(bits, table);
      if (rs < 0) return false;
      const int r = rs >> 4;
      const int s = rs & 15;
      int32_t value = 0;
      if (s != 0) {
        if (s != 1) return false;
        value = bits.Get(1) != 0 ? p1 : -p1;
      } else if (r != 15) {
        eob_run = (1 << r) + static_cast<int32_t>(bits.Get(r));
        break;
      }
      // Past r zeros to the next, where the new coefficient goes (past
      // se when there are not so many), correcting the nonzero ones on
      // the way.
      const uint64_t band = Band(k, se);
      uint64_t zero = ~block.nonzero & band;
      for (int i = 0; i < r && zero != 0; ++i) zero &= zero - 1;
      const int next = zero != 0 ? std::countr_zero(zero) : se + 1;
      Correct(bits, p1, block, block.nonzero & band & ~Band(next, 63));
      k = next;
      if (value != 0) {
        if (k > se) return false;
        block.Set(k, Coefficient(value));
      }
    }
  }
  if (eob_run > 0) {
    // Past the end of the block: only corrections.
    Correct(bits, p1, block, block.nonzero & Band(k, se));
    --eob_run;
  }
  return true;
}

// The side of the block libjpeg's inverse DCT draws a component's blocks
// at, at scale/8: the scale, doubled while the component still has twice
// the samples it needs both ways (so that chroma sampled at half comes out
// at the picture's size without being drawn up).
int BlockSide(const JpegDc& dc, const JpegDcComponent& comp, int scale) {
  int side = scale;
  while (side < 8 && (dc.max_h * scale) % (comp.h * side * 2) == 0 &&
         (dc.max_v * scale) % (comp.v * side * 2) == 0) {
    side *= 2;
  }
  return side;
}

// One scan's header, as SOS gives it.
struct Scan {
  int count = 0;
  std::array<int, 4> component{};  // indices into JpegDc::components
  std::array<int, 4> dc_table{};
  std::array<int, 4> ac_table{};
  int ss = 0;
  int se = 0;
  int ah = 0;
  int al = 0;
};

struct Reader {
  std::span<const uint8_t> bytes;
  JpegDc& out;
  bool keep_ac = false;
  std::array<HuffmanTable, 4> dc_tables{};
  std::array<HuffmanTable, 4> ac_tables{};  // built when keep_ac
  // The quantisation tables in natural order (their DC alone unless
  // keep_ac).
  std::array<std::array<uint16_t, 64>, 4> quant{};
  std::array<bool, 4> quant_defined{};
  // For each component and coefficient, the bit its scans have brought it
  // down to (-1: none yet).
  std::vector<std::array<int8_t, 64>> coef_bits{};
  int restart_interval = 0;
  bool frame = false;
  int scans = 0;

  uint16_t Be16(size_t at) const {
    return static_cast<uint16_t>(bytes[at] << 8 | bytes[at + 1]);
  }

  bool ReadDqt(std::span<const uint8_t> body) {
    size_t at = 0;
    while (at < body.size()) {
      const int precision = body[at] >> 4;
      const int id = body[at] & 15;
      const size_t size = precision == 0 ? 64 : 128;
      if (precision > 1 || id > 3 || body.size() - at - 1 < size) return false;
      std::array<uint16_t, 64>& table = quant[static_cast<size_t>(id)];
      for (size_t k = 0; k < (keep_ac ? 64 : 1); ++k) {
        table[kJpegNaturalOrder[k]] =
            precision == 0 ? body[at + 1 + k]
                           : static_cast<uint16_t>(body[at + 1 + 2 * k] << 8 |
                                                   body[at + 2 + 2 * k]);
      }
      quant_defined[static_cast<size_t>(id)] = true;
      at += 1 + size;
    }
    return true;
  }

  bool ReadDht(std::span<const uint8_t> body) {
    size_t at = 0;
    while (at < body.size()) {
      if (body.size() - at < 17) return false;
      const int table_class = body[at] >> 4;
      const int id = body[at] & 15;
      size_t total = 0;
      for (size_t i = 0; i < 16; ++i) total += body[at + 1 + i];
      if (table_class > 1 || id > 3 || total > 256 ||
          body.size() - at - 17 < total) {
        return false;
      }
      std::span<const uint8_t> values = body.subspan(at + 17, total);
      // A DC symbol is a count of bits: libjpeg takes at most 15.
      if (table_class == 0 && std::any_of(values.begin(), values.end(),
                                          [](uint8_t v) { return v > 15; })) {
        return false;
      }
      if ((table_class == 0 || keep_ac) &&
          !BuildTable(
              body.subspan(at + 1, 16), values,
              (table_class == 0 ? dc_tables
                                : ac_tables)[static_cast<size_t>(id)])) {
        return false;
      }
      at += 17 + total;
    }
    return true;
  }

  // Works out which of its AC coefficients `comp` keeps at out.scale; false
  // when its transform is not one that is drawn here.
  bool KeepAc(JpegDcComponent& comp) const {
    comp.side = BlockSide(out, comp, out.scale);
    const int wide = comp.h * comp.side;
    const int full = out.max_h * out.scale;
    if (comp.v * comp.side != out.max_v * out.scale ||
        (wide != full && 2 * wide != full)) {
      return false;
    }
    comp.slot = JpegKeptSlots(comp.side);
    comp.ac_stride =
        static_cast<int>(std::count_if(comp.slot.begin(), comp.slot.end(),
                                       [](int8_t slot) { return slot >= 0; }));
    return true;
  }

  bool ReadSof(std::span<const uint8_t> body) {
    if (frame || body.size() < 6 || body[0] != 8) return false;
    out.height = static_cast<int32_t>(body[1] << 8 | body[2]);
    out.width = static_cast<int32_t>(body[3] << 8 | body[4]);
    const int n = body[5];
    if (out.width == 0 || out.height == 0 || (n != 1 && n != 3) ||
        body.size() != 6 + 3 * static_cast<size_t>(n)) {
      return false;
    }
    out.components.resize(static_cast<size_t>(n));
    for (size_t c = 0; c < static_cast<size_t>(n); ++c) {
      JpegDcComponent& comp = out.components[c];
      comp.id = body[6 + 3 * c];
      comp.h = body[7 + 3 * c] >> 4;
      comp.v = body[7 + 3 * c] & 15;
      comp.quant_table = body[8 + 3 * c];
      if (comp.h < 1 || comp.h > 4 || comp.v < 1 || comp.v > 4 ||
          comp.quant_table > 3) {
        return false;
      }
      for (size_t d = 0; d < c; ++d) {
        if (out.components[d].id == comp.id) return false;
      }
      out.max_h = std::max(out.max_h, comp.h);
      out.max_v = std::max(out.max_v, comp.v);
    }
    // Drawn from the luma's grid: the luma must be the most sampled, and
    // chroma sampled as it or at half of it.
    for (const JpegDcComponent& comp : out.components) {
      const bool first = &comp == &out.components.front();
      if (first ? comp.h != out.max_h || comp.v != out.max_v
                : (comp.h != out.max_h && comp.h * 2 != out.max_h) ||
                      (comp.v != out.max_v && comp.v * 2 != out.max_v)) {
        return false;
      }
    }
    const int32_t mcus_wide = (out.width + 8 * out.max_h - 1) / (8 * out.max_h);
    const int32_t mcus_high =
        (out.height + 8 * out.max_v - 1) / (8 * out.max_v);
    for (JpegDcComponent& comp : out.components) {
      const int32_t samples_wide =
          (out.width * comp.h + out.max_h - 1) / out.max_h;
      const int32_t samples_high =
          (out.height * comp.v + out.max_v - 1) / out.max_v;
      comp.used_wide = (samples_wide + 7) / 8;
      comp.used_high = (samples_high + 7) / 8;
      comp.blocks_wide = mcus_wide * comp.h;
      comp.blocks_high = mcus_high * comp.v;
      const size_t blocks = static_cast<size_t>(comp.blocks_wide) *
                            static_cast<size_t>(comp.blocks_high);
      Allocate(comp.dc, blocks);
      if (keep_ac) {
        if (!KeepAc(comp)) return false;
        Allocate(comp.ac, blocks * static_cast<size_t>(comp.ac_stride));
        Allocate(comp.nonzero, blocks);
      }
    }
    coef_bits.assign(static_cast<size_t>(n), {});
    for (std::array<int8_t, 64>& bits : coef_bits) bits.fill(-1);
    frame = true;
    return true;
  }

  bool ReadSos(std::span<const uint8_t> body, Scan& scan) {
    if (!frame || body.empty()) return false;
    scan.count = body[0];
    if (scan.count < 1 || scan.count > 4 ||
        body.size() != 4 + 2 * static_cast<size_t>(scan.count)) {
      return false;
    }
    for (size_t i = 0; i < static_cast<size_t>(scan.count); ++i) {
      const int id = body[1 + 2 * i];
      auto found =
          std::find_if(out.components.begin(), out.components.end(),
                       [id](const JpegDcComponent& c) { return c.id == id; });
      if (found == out.components.end()) return false;
      scan.component[i] = static_cast<int>(found - out.components.begin());
      scan.dc_table[i] = body[2 + 2 * i] >> 4;
      scan.ac_table[i] = body[2 + 2 * i] & 15;
      if (scan.dc_table[i] > 3 || scan.ac_table[i] > 3) return false;
      for (size_t j = 0; j < i; ++j) {
        if (scan.component[j] == scan.component[i]) return false;
      }
      // The component's quantisers are those of its first scan.
      JpegDcComponent& comp = *found;
      if (!comp.seen) {
        if (!quant_defined[static_cast<size_t>(comp.quant_table)]) {
          return false;
        }
        comp.quant = quant[static_cast<size_t>(comp.quant_table)];
        comp.seen = true;
      }
    }
    const size_t p = 1 + 2 * static_cast<size_t>(scan.count);
    scan.ss = body[p];
    scan.se = body[p + 1];
    scan.ah = body[p + 2] >> 4;
    scan.al = body[p + 2] & 15;
    // What libjpeg takes as a progressive scan.
    if (scan.ss == 0 ? scan.se != 0
                     : scan.se < scan.ss || scan.se > 63 || scan.count != 1) {
      return false;
    }
    if ((scan.ah != 0 && scan.al != scan.ah - 1) || scan.al > 13) return false;
    for (int i = 0; i < scan.count; ++i) {
      if (scan.ss == 0
              ? scan.ah == 0 &&
                    !dc_tables[static_cast<size_t>(scan.dc_table[i])].defined
              : keep_ac &&
                    !ac_tables[static_cast<size_t>(scan.ac_table[i])].defined) {
        return false;
      }
      // Each coefficient first sent whole or from some bit down, then
      // refined one bit at a time; AC only once the DC has come.
      std::array<int8_t, 64>& bits =
          coef_bits[static_cast<size_t>(scan.component[i])];
      if (scan.ss > 0 && bits[0] < 0) return false;
      for (int k = scan.ss; k <= scan.se; ++k) {
        int8_t& bit = bits[static_cast<size_t>(k)];
        if (scan.ah != std::max<int>(bit, 0) || (scan.ah == 0 && bit >= 0)) {
          return false;
        }
        bit = static_cast<int8_t>(scan.al);
      }
    }
    int blocks = 0;
    for (int i = 0; i < scan.count; ++i) {
      const JpegDcComponent& comp =
          out.components[static_cast<size_t>(scan.component[i])];
      blocks += scan.count == 1 ? 1 : comp.h * comp.v;
    }
    return blocks <= kMaxBlocksInMcu;
  }

  // Calls decode(bits, first, last) for the MCUs [first, last) of each
  // restart interval of the scan whose data is [begin, end), `bits` holding
  // that interval's data. False when the markers are out of turn, when
  // `decode` is, or when it read past its interval's data.
  // Where the first restart marker in [at, end) stands; `end` when none.
  size_t NextRestartMarker(size_t at, size_t end) const {
    while (at + 1 < end) {
      const void* ff = std::memchr(bytes.data() + at, 0xFF, end - 1 - at);
      if (ff == nullptr) break;
      at = static_cast<size_t>(static_cast<const uint8_t*>(ff) - bytes.data());
      if (bytes[at + 1] >= JPEG_RST0 && bytes[at + 1] <= JPEG_RST0 + 7) {
        return at;
      }
      ++at;
    }
    return end;
  }

  template <typename DecodeInterval>
  bool ForEachInterval(size_t begin, size_t end, int64_t mcus,
                       DecodeInterval decode) {
    const int64_t interval = restart_interval > 0 ? restart_interval : mcus;
    const int64_t intervals = (mcus + interval - 1) / interval;
    size_t at = begin;
    for (int64_t i = 0; i < intervals; ++i) {
      // The interval's data runs to its restart marker, the last one's to
      // the scan's end, where no restart marker may stand.
      const size_t stop = NextRestartMarker(at, end);
      if (i + 1 == intervals
              ? stop != end
              : stop == end || bytes[stop + 1] != JPEG_RST0 + (i & 7)) {
        return false;
      }
      BitReader bits(bytes.data() + at, bytes.data() + stop);
      const int64_t first = i * interval;
      if (!decode(bits, first, std::min(mcus, first + interval)) ||
          bits.overran()) {
        return false;
      }
      at = stop + 2;
    }
    return true;
  }

  // Decodes the DC scan `scan` from its data [begin, end).
  bool DecodeDcScan(const Scan& scan, size_t begin, size_t end) {
    const bool interleaved = scan.count > 1;
    const JpegDcComponent& first =
        out.components[static_cast<size_t>(scan.component[0])];
    const int32_t mcus_wide =
        interleaved ? (out.width + 8 * out.max_h - 1) / (8 * out.max_h)
                    : first.used_wide;
    const int32_t mcus_high =
        interleaved ? (out.height + 8 * out.max_v - 1) / (8 * out.max_v)
                    : first.used_high;
    return ForEachInterval(
        begin, end, int64_t{mcus_wide} * mcus_high,
        [&](BitReader& bits, int64_t mcu, int64_t last) {
          std::array<int32_t, 4> predictor{};
          auto mx = static_cast<int32_t>(mcu % mcus_wide);
          auto my = static_cast<int32_t>(mcu / mcus_wide);
          for (; mcu < last; ++mcu, mx = mx + 1 < mcus_wide ? mx + 1 : 0,
                                    my += mx == 0 ? 1 : 0) {
            for (int c = 0; c < scan.count; ++c) {
              JpegDcComponent& comp =
                  out.components[static_cast<size_t>(scan.component[c])];
              const int h = interleaved ? comp.h : 1;
              const int v = interleaved ? comp.v : 1;
              for (int by = 0; by < v; ++by) {
                for (int bx = 0; bx < h; ++bx) {
                  int16_t& dc =
                      comp.dc[static_cast<size_t>(my * v + by) *
                                  static_cast<size_t>(comp.blocks_wide) +
                              static_cast<size_t>(mx * h + bx)];
                  if (scan.ah != 0) {
                    if (bits.Get(1) != 0) {
                      dc = static_cast<int16_t>(dc | 1 << scan.al);
                    }
                    continue;
                  }
                  const int s = Decode(
                      bits, dc_tables[static_cast<size_t>(scan.dc_table[c])]);
                  if (s < 0) return false;
                  int32_t& pred = predictor[static_cast<size_t>(c)];
                  pred += Extend(bits, s);
                  // A coefficient is 16 bits, as libjpeg keeps it.
                  dc = static_cast<int16_t>(static_cast<uint16_t>(
                      static_cast<uint32_t>(pred) << scan.al));
                }
              }
            }
          }
          return true;
        });
  }

  // Decodes the AC scan `scan` (one component, coefficients ss..se) from
  // its data [begin, end).
  bool DecodeAcScan(const Scan& scan, size_t begin, size_t end) {
    JpegDcComponent& comp =
        out.components[static_cast<size_t>(scan.component[0])];
    const HuffmanTable& table =
        ac_tables[static_cast<size_t>(scan.ac_table[0])];
    const int32_t wide = comp.used_wide;
    return ForEachInterval(
        begin, end, int64_t{wide} * comp.used_high,
        [&](BitReader& bits, int64_t block, int64_t last) {
          int32_t eob_run = 0;
          auto x = static_cast<int32_t>(block % wide);
          auto y = static_cast<int32_t>(block / wide);
          for (; block < last;
               ++block, x = x + 1 < wide ? x + 1 : 0, y += x == 0 ? 1 : 0) {
            const size_t at =
                static_cast<size_t>(y) * static_cast<size_t>(comp.blocks_wide) +
                static_cast<size_t>(x);
            const KeptBlock kept{
                comp.ac.data() + at * static_cast<size_t>(comp.ac_stride),
                comp.slot.data(), comp.nonzero[at]};
            const bool ok = scan.ah == 0
                                ? FirstAc(bits, table, scan.ss, scan.se,
                                          scan.al, eob_run, kept)
                                : RefineAc(bits, table, scan.ss, scan.se,
                                           scan.al, eob_run, kept);
            if (!ok) return false;
          }
          return true;
        });
  }

  bool Read() {
    if (bytes.size() < 4 || bytes[0] != 0xFF || bytes[1] != kSoi) return false;
    size_t at = 2;
    for (;;) {
      // A marker, after any fill bytes.
      if (at >= bytes.size() || bytes[at] != 0xFF) return false;
      while (at < bytes.size() && bytes[at] == 0xFF) ++at;
      if (at >= bytes.size()) return false;
      const uint8_t code = bytes[at++];
      if (code == JPEG_EOI) break;
      if (at + 2 > bytes.size()) return false;
      const size_t length = Be16(at);
      if (length < 2 || length > bytes.size() - at) return false;
      std::span<const uint8_t> body = bytes.subspan(at + 2, length - 2);
      at += length;
      bool ok = true;
      switch (code) {
        case kSof2:
          ok = ReadSof(body);
          break;
        case kDht:
          ok = ReadDht(body);
          break;
        case kDqt:
          ok = ReadDqt(body);
          break;
        case kDri:
          ok = body.size() == 2;
          if (ok) restart_interval = body[0] << 8 | body[1];
          break;
        case kSos: {
          Scan scan;
          if (++scans > kMaxJpegScans || !ReadSos(body, scan)) return false;
          const size_t end = JpegScanDataEnd(bytes, at);
          if (end >= bytes.size()) return false;
          if (scan.ss == 0 ? !DecodeDcScan(scan, at, end)
                           : keep_ac && !DecodeAcScan(scan, at, end)) {
            return false;
          }
          at = end;
          break;
        }
        default:
          // Application data and comments are passed over; any other
          // marker (another frame type, DNL, ...) is libjpeg's to read.
          ok =
              (code >= JPEG_APP0 && code <= JPEG_APP0 + 15) || code == JPEG_COM;
          break;
      }
      if (!ok) return false;
    }
    if (!frame) return false;
    // Every component must have had a DC scan.
    return std::all_of(out.components.begin(), out.components.end(),
                       [](const JpegDcComponent& c) { return c.seen; });
  }
};

// One block's pixel at 1/8, as libjpeg's 1 x 1 inverse DCT makes it.
uint8_t BlockPixel(const JpegDcComponent& comp, int32_t bx, int32_t by) {
  const int32_t dc =
      comp.dc[static_cast<size_t>(by) * static_cast<size_t>(comp.blocks_wide) +
              static_cast<size_t>(bx)];
  return JpegIdctLimit((dc * comp.quant[0] + 4) >> 3);
}

// A chroma component drawn up to the luma's grid by triangle interpolation
// where sampled at half, one output row at a time: first each of its
// columns from the nearer block row (three parts) and the farther (one),
// then each pixel from the nearer column and the farther alike.
class ChromaRow {
 public:
  ChromaRow(const JpegDcComponent& comp, const JpegDc& dc, int32_t y)
      : comp_(comp),
        half_h_(comp.h != dc.max_h),
        columns_(static_cast<size_t>(comp.used_wide)) {
    const bool half_v = comp.v != dc.max_v;
    const int32_t cy = half_v ? y / 2 : y;
    const int32_t ny =
        half_v ? std::clamp(y % 2 == 0 ? cy - 1 : cy + 1, 0, comp.used_high - 1)
               : cy;
    for (int32_t cx = 0; cx < comp.used_wide; ++cx) {
      columns_[static_cast<size_t>(cx)] =
          half_v ? 3 * BlockPixel(comp, cx, cy) + BlockPixel(comp, cx, ny)
                 : 4 * BlockPixel(comp, cx, cy);
    }
  }

  // The value at output column x.
  uint8_t At(int32_t x) const {
    const int32_t cx = half_h_ ? x / 2 : x;
    const int32_t near = columns_[static_cast<size_t>(cx)];
    int32_t sum = 4 * near;
    if (half_h_) {
      const int32_t nx =
          std::clamp(x % 2 == 0 ? cx - 1 : cx + 1, 0, comp_.used_wide - 1);
      sum = 3 * near + columns_[static_cast<size_t>(nx)];
    }
    return static_cast<uint8_t>((sum + 8) >> 4);
  }

 private:
  const JpegDcComponent& comp_;
  bool half_h_;
  std::vector<int32_t> columns_;  // sums of four
};

// libjpeg's YCbCr to RGB tables (16 fractional bits).
struct ColourTables {
  std::array<int32_t, 256> cr_r{};
  std::array<int32_t, 256> cb_b{};
  std::array<int32_t, 256> cr_g{};
  std::array<int32_t, 256> cb_g{};
  ColourTables() {
    for (int32_t i = 0; i < 256; ++i) {
      const int32_t x = i - 128;
      cr_r[static_cast<size_t>(i)] = (91881 * x + 32768) >> 16;   // 1.402
      cb_b[static_cast<size_t>(i)] = (116130 * x + 32768) >> 16;  // 1.772
      cr_g[static_cast<size_t>(i)] = -46802 * x;                  // 0.71414
      cb_g[static_cast<size_t>(i)] = -22554 * x + 32768;          // 0.34414
    }
  }
};

uint8_t Clamp(int32_t v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

#if defined(__SSE2__)
// (a + 32768) >> 16 for a = c * x, from 16-bit lanes x (|x| <= 128) and c:
// pmulhw of 2x gives a >> 15, and ((a >> 15) + 1) >> 1 is the same.
__m128i RoundedProduct(__m128i twice_x, int16_t c) {
  return _mm_srai_epi16(
      _mm_add_epi16(_mm_mulhi_epi16(twice_x, _mm_set1_epi16(c)),
                    _mm_set1_epi16(1)),
      1);
}

// Eight pixels of JpegYccRowToBgrx, to the same bytes: the tables' values
// worked out in 16-bit lanes. 1.402 x = x + 0.402 x; 1.772 x = 2 x - 0.228 x;
// green's 0.71414 x = x - 0.28586 x, so that every constant fits 16 bits.
void YccToBgrx8(const uint8_t* luma, const uint8_t* cb, const uint8_t* cr,
                uint8_t* bgrx) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i centre = _mm_set1_epi16(128);
  const auto load = [&](const uint8_t* p) {
    return _mm_unpacklo_epi8(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), zero);
  };
  const __m128i y = load(luma);
  const __m128i u = _mm_sub_epi16(load(cb), centre);
  const __m128i v = _mm_sub_epi16(load(cr), centre);
  const __m128i red = _mm_add_epi16(
      y, _mm_add_epi16(v, RoundedProduct(_mm_add_epi16(v, v), 26345)));
  const __m128i blue = _mm_add_epi16(
      y, _mm_add_epi16(_mm_add_epi16(u, u),
                       RoundedProduct(_mm_add_epi16(u, u), -14942)));
  // -22554 u + 18734 v + 32768 in 32 bits, >> 16, then - v.
  const __m128i weights =
      _mm_set1_epi32(static_cast<int32_t>(18734u << 16 | (-22554 & 0xFFFF)));
  const __m128i half = _mm_set1_epi32(32768);
  const __m128i g_lo = _mm_srai_epi32(
      _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(u, v), weights), half),
      16);
  const __m128i g_hi = _mm_srai_epi32(
      _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(u, v), weights), half),
      16);
  const __m128i green =
      _mm_add_epi16(y, _mm_sub_epi16(_mm_packs_epi32(g_lo, g_hi), v));
  // Clamped to bytes, then interleaved B, G, R, 0xFF.
  const __m128i bg = _mm_unpacklo_epi8(_mm_packus_epi16(blue, blue),
                                       _mm_packus_epi16(green, green));
  const __m128i rx = _mm_unpacklo_epi8(_mm_packus_epi16(red, red),
                                       _mm_set1_epi8(static_cast<char>(0xFF)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(bgrx),
                   _mm_unpacklo_epi16(bg, rx));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(bgrx + 16),
                   _mm_unpackhi_epi16(bg, rx));
}
#endif

}  // namespace

// libjpeg's clamp after its inverse DCT, indexed by the value before the
// +128 level shift, masked to 10 bits: in range, the value shifted; out of
// range, 0 or 255 (and beyond +-512 wrapping as libjpeg's does).
uint8_t JpegIdctLimit(int32_t value) {
  const int32_t i = value & 1023;
  if (i < 128) return static_cast<uint8_t>(i + 128);
  if (i < 512) return 255;
  if (i < 896) return 0;
  return static_cast<uint8_t>(i - 896);
}

void JpegYccToBgrx(uint8_t luma, uint8_t cb, uint8_t cr, uint8_t* px) {
  JpegYccRowToBgrx(&luma, &cb, &cr, 1, px);
}

void JpegYccRowToBgrx(const uint8_t* luma, const uint8_t* cb, const uint8_t* cr,
                      size_t width, uint8_t* bgrx) {
  static const ColourTables kTables;
  size_t x = 0;
#if defined(__SSE2__)
  for (; x + 8 <= width; x += 8) {
    YccToBgrx8(luma + x, cb + x, cr + x, bgrx + 4 * x);
  }
#endif
  for (; x < width; ++x) {
    uint8_t* px = bgrx + 4 * x;
    px[0] = Clamp(luma[x] + kTables.cb_b[cb[x]]);
    px[1] =
        Clamp(luma[x] + ((kTables.cb_g[cb[x]] + kTables.cr_g[cr[x]]) >> 16));
    px[2] = Clamp(luma[x] + kTables.cr_r[cr[x]]);
    px[3] = 0xFF;
  }
}

size_t JpegScanDataEnd(std::span<const uint8_t> bytes, size_t at) {
  while (at < bytes.size()) {
    const void* ff = std::memchr(bytes.data() + at, 0xFF, bytes.size() - at);
    if (ff == nullptr) return bytes.size();
    at = static_cast<size_t>(static_cast<const uint8_t*>(ff) - bytes.data());
    if (at + 1 >= bytes.size()) return bytes.size();
    const uint8_t code = bytes[at + 1];
    if (code != 0 && code != 0xFF &&
        (code < JPEG_RST0 || code > JPEG_RST0 + 7)) {
      return at;
    }
    at += code == 0xFF ? 1 : 2;
  }
  return bytes.size();
}

bool ReadJpegDc(std::span<const uint8_t> bytes, JpegDc& out) {
  out = JpegDc{};
  Reader reader{bytes, out};
  return reader.Read();
}

bool ReadJpegCoefficients(std::span<const uint8_t> bytes, int scale,
                          JpegDc& out) {
  out = JpegDc{};
  if (scale != 2 && scale != 4) return false;
  out.scale = scale;
  Reader reader{bytes, out, true};
  return reader.Read();
}

size_t JpegDcRowBytes(const JpegDc& dc, bool grey_out) {
  return static_cast<size_t>(dc.columns()) * (grey_out ? 1 : 4);
}

void RenderJpegDcRow(const JpegDc& dc, int32_t y, bool grey_out, uint8_t* row) {
  const JpegDcComponent& luma = dc.components.front();
  const int32_t width = dc.columns();
  std::optional<ChromaRow> blue;
  std::optional<ChromaRow> red;
  if (!grey_out && dc.components.size() == 3) {
    blue.emplace(dc.components[1], dc, y);
    red.emplace(dc.components[2], dc, y);
  }
  for (int32_t x = 0; x < width; ++x) {
    const uint8_t l = BlockPixel(luma, x, y);
    if (grey_out) {
      row[x] = l;
      continue;
    }
    uint8_t* px = row + static_cast<ptrdiff_t>(x) * 4;
    px[3] = 0xFF;
    if (dc.components.size() == 1) {
      px[0] = px[1] = px[2] = l;
      continue;
    }
    JpegYccToBgrx(l, blue->At(x), red->At(x), px);
  }
}

}  // namespace vg::decoders::decoders_internal
