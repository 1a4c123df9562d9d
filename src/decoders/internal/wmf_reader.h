// Draws Windows metafiles (WMF, placeable or plain) by translating their
// records into an enhanced metafile, which the EMF player draws, as Windows
// itself plays one. Internal to vg::decoders.
#ifndef VG_DECODERS_INTERNAL_WMF_READER_H_
#define VG_DECODERS_INTERNAL_WMF_READER_H_

#include <cstdint>
#include <span>
#include <vector>

#include "decoders/decode_picture.h"
#include "decoders/internal/decode_budget.h"

namespace vg::decoders::decoders_internal {

// Returns the EMF that draws the WMF `bytes`: a placeable file's box, at its
// units per inch, or a plain file's first window (SetWindowOrg and
// SetWindowExt) fills the EMF's frame, whatever window the records set
// afterwards; a plain file that sets no window, or sets a metric mapping
// mode, is framed by what it draws. Each record must lie within the file,
// their number within kMaxMetafileRecords, no record larger than the
// header says, each bitmap's header within the picture limits and its
// pixels within its record. Raises 481 otherwise. Records of kinds not
// drawn are skipped. The EMF is at most kWmfToEmfGrowth times the WMF's
// size plus kWmfToEmfOverhead bytes.
std::vector<uint8_t> WmfToEmf(std::span<const uint8_t> bytes);

// SetPixel grows most: 14 bytes become a StretchDIBits of 124.
inline constexpr size_t kWmfToEmfGrowth = 10;
inline constexpr size_t kWmfToEmfOverhead = 4096;

// Draws the WMF `bytes` on white at the size `hint` asks for
// (MetafileRasterSize), through WmfToEmf and DecodeEmf. The logical size is
// the placeable box at its units per inch in pixels at 96 dots per inch,
// a plain file's window extent, or the extent of what it draws. Raises 481
// (damaged, over the limits or over the time limit) or 7.
DecodedImage DecodeWmf(std::span<const uint8_t> bytes, const DecodeHint& hint,
                       DecodeBudget& budget);

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_WMF_READER_H_
