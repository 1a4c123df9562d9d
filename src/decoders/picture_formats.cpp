#include "decoders/picture_formats.h"

#include <array>
#include <cstddef>
#include <vector>

#include "decoders/internal/picture_format_table.h"

namespace vg::decoders {
namespace {

// The rows without their decoders, copied while this file compiles: the
// table itself is read only there, so nothing here reaches a decoder.
template <size_t kCount>
constexpr std::array<PictureFormatRow, kCount> RowsOf(
    const std::array<decoders_internal::PictureFormatEntry, kCount>& table) {
  std::array<PictureFormatRow, kCount> rows{};
  for (size_t k = 0; k < kCount; ++k) rows[k] = table[k].row;
  return rows;
}

constexpr auto kRows = RowsOf(decoders_internal::kPictureFormatTable);

}  // namespace

std::span<const PictureFormatRow> PictureFormats() { return kRows; }

const PictureFormatRow* FindPictureFormat(PictureFormat format) {
  for (const PictureFormatRow& row : kRows) {
    if (row.format == format) return &row;
  }
  return nullptr;
}

std::string PictureFormatList() {
  std::string pictures;
  std::vector<std::string_view> metafiles;
  for (const PictureFormatRow& row : kRows) {
    if (row.metafile) {
      metafiles.push_back(row.name);
    } else {
      pictures += pictures.empty() ? "" : ", ";
      pictures += row.name;
    }
  }
  if (metafiles.empty()) return pictures;
  pictures += ", and the ";
  for (size_t k = 0; k < metafiles.size(); ++k) {
    if (k > 0) pictures += k + 1 == metafiles.size() ? " and " : ", ";
    pictures += metafiles[k];
  }
  return pictures + " metafiles";
}

}  // namespace vg::decoders
