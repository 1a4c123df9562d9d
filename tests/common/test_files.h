// File: common/test_files.h
//
// Helpers every test may use (linked into each test executable): temporary
// folders, pictures written as files, reading back the JPEG files the
// programs write, and the number of the error a call raises.
#ifndef VG_TESTS_COMMON_TEST_FILES_H_
#define VG_TESTS_COMMON_TEST_FILES_H_

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/error.h"

namespace vg::testing {

// Returns the number of the error that `f` raises, 0 when it raises none.
template <typename F>
int32_t ErrorNumberOf(F&& f) {
  try {
    f();
  } catch (const platform::Error& e) {
    return e.number();
  }
  return 0;
}

// A folder under $TMPDIR (else /tmp) removed with everything in it at the end
// of the scope.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }
  // The folder as the window's text boxes hold it: with a trailing "/".
  std::u16string text() const;

 private:
  std::filesystem::path path_;
};

// Writes a w x h JPEG whose top half is (r, g, b) and bottom half black.
void WriteJpeg(const std::filesystem::path& path, int w, int h, uint8_t r = 200,
               uint8_t g = 100, uint8_t b = 50);

// Writes a w x h JPEG full of fine detail (stripes and rings that depend on
// `seed`), whose thumbnails differ with the scale it is decoded at.
void WriteDetailedJpeg(const std::filesystem::path& path, int w, int h,
                       int seed = 0);

// Writes w x h RGB pixels (rows top-down, 3 bytes a pixel) as a JPEG of
// `quality`, chroma at full resolution or halved both ways.
void WriteRgbJpeg(const std::filesystem::path& path, int w, int h,
                  const std::vector<uint8_t>& rgb, int quality,
                  bool full_chroma);

// Writes the same pixels as a 24-bit BMP.
void WriteRgbBmp(const std::filesystem::path& path, int w, int h,
                 const std::vector<uint8_t>& rgb);

struct JpegInfo {
  int width = 0;
  int height = 0;
  bool ok = false;
};

// Reads the size of a JPEG file (ok false when it is not one).
JpegInfo ReadJpegInfo(const std::filesystem::path& path);

// Returns the bytes of a file (empty when it cannot be read).
std::string ReadBytes(const std::filesystem::path& path);

// Returns the names of the regular files directly in `folder`.
std::set<std::string> FilesIn(const std::filesystem::path& folder);

// Returns true when the two folders hold the same names with the same bytes
// (regular files directly inside them); `why` gets the first difference.
bool SameFiles(const std::filesystem::path& a, const std::filesystem::path& b,
               std::string* why = nullptr);

// Returns the paths below `folder` of every regular file in it and in its
// sub-folders ("a.jpg", "sub/Grand/b.jpg"), links not followed; safe to
// call while a program writes there.
std::set<std::string> TreeIn(const std::filesystem::path& folder);

// Returns true when the two trees hold the same paths with the same bytes;
// `why` gets the first difference.
bool SameTree(const std::filesystem::path& a, const std::filesystem::path& b,
              std::string* why = nullptr);

}  // namespace vg::testing

#endif  // VG_TESTS_COMMON_TEST_FILES_H_
