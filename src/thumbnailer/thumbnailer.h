// File: thumbnailer/thumbnailer.h
//
// The desktop's thumbnailer: the program a file manager (through GNOME's
// thumbnail factory or tumbler) runs for one picture it cannot read
// itself, as its `.thumbnailer` entry says:
//
//   vignettes-thumbnailer -s 256 file:///home/me/clip%20art.wmf /tmp/t.png
//
// The picture is decoded in a decoder process, fitted in a SIZE box (never
// enlarged), upright and in sRGB, and written as PNG: RGB, or RGBA where
// the picture has transparency. Exit status 0 when written; 1 with a line
// on stderr and no file at OUTPUT when the picture gives no thumbnail; 2
// for a command line that cannot run. Nothing else is written, nothing is
// read but the picture.
#ifndef VG_THUMBNAILER_THUMBNAILER_H_
#define VG_THUMBNAILER_THUMBNAILER_H_

#include <string>

namespace vg::thumbnailer {

// The largest SIZE taken, in pixels.
inline constexpr int kMaxThumbnailSizePx = 4096;

// Runs the program with argv[1..argc-1]; returns its exit status.
int RunThumbnailer(int argc, char** argv);

// Returns the text of --help, ending with a newline.
const char* ThumbnailerUsage();

}  // namespace vg::thumbnailer

#endif  // VG_THUMBNAILER_THUMBNAILER_H_
