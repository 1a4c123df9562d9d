// The table of formats and the files made outside C++ that must agree with
// it: the desktop entry, the thumbnailer entry and the manual pages, read
// from the source tree.
#include "decoders/picture_formats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/test_files.h"
#include "decoders/internal/picture_format_table.h"

namespace vg::decoders {
namespace {

namespace fs = std::filesystem;

const fs::path kSourceDir = VG_SOURCE_DIR;

std::vector<std::string> Sorted(std::vector<std::string> words) {
  std::sort(words.begin(), words.end());
  return words;
}

// Returns the MIME types of the table's rows, of only those offered to the
// thumbnail factory when `thumbnailer_only`.
std::vector<std::string> TableMimeTypes(bool thumbnailer_only) {
  std::vector<std::string> types;
  for (const PictureFormatRow& row : PictureFormats()) {
    if (thumbnailer_only && !row.thumbnailer) continue;
    for (const MimeType& type : row.mime_types) types.emplace_back(type.name);
  }
  return Sorted(types);
}

// Returns the values of the first "MimeType=" line of a desktop file, as
// written (an empty list when there is none).
std::vector<std::string> MimeTypeKey(const fs::path& file) {
  const std::string text = testing::ReadBytes(file);
  const size_t key = text.find("\nMimeType=");
  std::vector<std::string> types;
  if (key == std::string::npos) return types;
  const size_t start = key + std::string_view("\nMimeType=").size();
  const std::string line = text.substr(start, text.find('\n', start) - start);
  size_t from = 0;
  while (from < line.size()) {
    const size_t semicolon = std::min(line.find(';', from), line.size());
    types.push_back(line.substr(from, semicolon - from));
    from = semicolon + 1;
  }
  return Sorted(types);
}

// Returns a manual page's text with its lines joined by spaces and roff's
// "\-" read as "-".
std::string ManPageText(const fs::path& file) {
  std::string text = testing::ReadBytes(file);
  std::replace(text.begin(), text.end(), '\n', ' ');
  std::string out;
  for (size_t k = 0; k < text.size(); ++k) {
    if (text[k] == '\\' && k + 1 < text.size() && text[k + 1] == '-') continue;
    out += text[k];
  }
  return out;
}

TEST(PictureFormatsTest, EachFormatHasOneRowAndEachTypeAndExtensionOneFormat) {
  std::vector<PictureFormat> formats;
  std::vector<std::string> types;
  std::vector<std::string> extensions;
  for (const PictureFormatRow& row : PictureFormats()) {
    EXPECT_NE(row.format, PictureFormat::kUnknown);
    EXPECT_EQ(FindPictureFormat(row.format), &row) << row.name;
    EXPECT_FALSE(row.mime_types.empty()) << row.name;
    const decoders_internal::PictureFormatEntry* entry =
        decoders_internal::FindPictureFormatEntry(row.format);
    ASSERT_NE(entry, nullptr) << row.name;
    EXPECT_EQ(entry->row.name, row.name);
    EXPECT_NE(entry->decode, nullptr) << row.name;
    formats.push_back(row.format);
    for (const MimeType& type : row.mime_types) {
      types.emplace_back(type.name);
      std::string_view globs = type.extensions;
      while (!globs.empty()) {
        const size_t space = std::min(globs.find(' '), globs.size());
        extensions.emplace_back(globs.substr(0, space));
        globs.remove_prefix(std::min(space + 1, globs.size()));
      }
    }
  }
  EXPECT_EQ(FindPictureFormat(PictureFormat::kUnknown), nullptr);
  // kRaw is the last value.
  EXPECT_EQ(formats.size(), static_cast<size_t>(PictureFormat::kRaw))
      << "a format without a row, or one with two";
  for (const auto* list : {&types, &extensions}) {
    std::vector<std::string> sorted = Sorted(*list);
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end())
        << "named twice: " << *std::adjacent_find(sorted.begin(), sorted.end());
  }
  std::sort(formats.begin(), formats.end());
  EXPECT_EQ(std::adjacent_find(formats.begin(), formats.end()), formats.end());
}

TEST(PictureFormatsTest, DesktopFilesOfferExactlyTheTablesTypes) {
  std::vector<std::string> window =
      MimeTypeKey(kSourceDir / "data/io.github.vignettes.Vignettes.desktop");
  // The window also opens on a folder.
  const auto folder =
      std::find(window.begin(), window.end(), "inode/directory");
  ASSERT_NE(folder, window.end());
  window.erase(folder);
  EXPECT_EQ(window, TableMimeTypes(false));
  EXPECT_EQ(MimeTypeKey(kSourceDir / "data/vignettes.thumbnailer.in"),
            TableMimeTypes(true));
}

TEST(PictureFormatsTest, ManPagesListTheTablesFormats) {
  const std::string list = PictureFormatList();
  EXPECT_NE(list.find(", and the WMF and EMF metafiles"), std::string::npos)
      << list;
  for (const char* page :
       {"docs/vignettes.1", "docs/vignettes-thumbnailer.1"}) {
    EXPECT_NE(ManPageText(kSourceDir / page).find(list), std::string::npos)
        << page << " does not list the formats as: " << list;
  }
}

}  // namespace
}  // namespace vg::decoders
