// Helpers for the window-model tests: temporary folders, pictures written as
// files, and reading back the JPEG files the commands write.
#ifndef VG_TESTS_APP_APP_TESTUTIL_H_
#define VG_TESTS_APP_APP_TESTUTIL_H_

#include <cstdint>
#include <filesystem>
#include <string>

namespace vg::app::testing {

// A folder under /tmp removed with everything in it at the end of the scope.
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

struct JpegInfo {
  int width = 0;
  int height = 0;
  bool ok = false;
};

// Reads the size of a JPEG file (ok false when it is not one).
JpegInfo ReadJpegInfo(const std::filesystem::path& path);

// Returns the bytes of a file.
std::string ReadBytes(const std::filesystem::path& path);

}  // namespace vg::app::testing

#endif  // VG_TESTS_APP_APP_TESTUTIL_H_
