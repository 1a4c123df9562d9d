// File: jpeg/ijl.h
//
// The JPEG library interface: one properties record per save, initialised,
// filled from a 24-bit DIB section, written once as a JFIF file, released.
// Encoding is done by libjpeg-turbo (TurboJPEG), which reads the DIB's memory
// in place: bottom-up rows of B, G, R bytes, each row followed by its padding.
//
//   JPEG_CORE_PROPERTIES props{};             // zero-filled
//   if (ijlInit(&props) != IJL_OK) return false;
//   props.DIBWidth = w;  props.DIBHeight = -h;  // negative: bottom-up
//   props.DIBBytes = bits;  props.DIBPadBytes = stride - w * 3;
//   props.JPGFile = path.c_str();  props.JPGWidth = w;  props.JPGHeight = h;
//   props.jquality = 90;
//   int32_t status = ijlWrite(&props, IJL_JFILE_WRITEWHOLEIMAGE);
//   ijlFree(&props);
//
// What a write guarantees: status 0 only when the file is complete, flushed
// to disk and closed under its name. The bytes go to a temporary file in the
// target's folder, which takes the target's name only once complete; a
// failed write removes it, so it never leaves a partial file and never
// destroys a file already there. A symbolic link at the path is followed:
// the file it points to is replaced and the link stays; other hard links to
// a replaced file keep the old bytes. Only a regular file is ever replaced.
// The folder is not flushed after the rename: after a power cut the name
// may still show the old file, never a partial one.
//
// Records share nothing: saves may run at once on different threads, each
// with its own record. Not for reading JPEG files (the picture loader does
// that) and not for anything but whole-image writes.
#ifndef VG_JPEG_IJL_H_
#define VG_JPEG_IJL_H_

#include <cstdint>

namespace vg::jpeg {

// Status of every operation: 0 is success, each failure its own negative.
enum IjlStatus : int32_t {
  IJL_OK = 0,
  IJL_ERR_BAD_PARAMETER = -1,     // null record, buffer or path; sizes,
                                  // layout or colours the encoder can't take
  IJL_ERR_NOT_INITIALISED = -2,   // record not prepared by ijlInit
  IJL_ERR_UNSUPPORTED_MODE = -3,  // a write mode other than whole image
  IJL_ERR_OPEN_FILE = -4,         // output not creatable: folder missing,
                                  // no permission, empty path
  IJL_ERR_WRITE_FILE = -5,        // write, flush or close failed: disk full,
                                  // file size limit, I/O error
  IJL_ERR_REPLACE_FILE = -6,      // the complete file could not take the
                                  // target's name (e.g. it is a folder)
  IJL_ERR_OUT_OF_MEMORY = -7,     // encoder or output buffer not allocated
  IJL_ERR_ENCODER = -8,           // the encoder failed on the picture
};

// Write modes of ijlWrite.
enum IjlWriteMode : int32_t {
  IJL_JFILE_WRITEWHOLEIMAGE = 8,  // encode the whole buffer into JPGFile
};

// Colour layout of the pixel buffer and of the JPEG file.
enum IjlColor : int32_t {
  IJL_COLOR_UNSET = 0,  // a record ijlInit has not filled
  IJL_COLOR_BGR = 1,    // buffer: bytes B, G, R per pixel, like every DIB
  IJL_COLOR_RGB = 2,    // buffer: bytes R, G, B per pixel
  IJL_COLOR_YCBCR = 3,  // file: three-channel colour JPEG (JFIF)
  IJL_COLOR_GRAY = 4,   // file: one-channel grey JPEG
};

// Chroma subsampling of a YCbCr file (horizontal:vertical).
enum IjlSubsampling : int32_t {
  IJL_SUBSAMPLING_UNSET = 0,
  IJL_SUBSAMPLING_444 = 1,  // full chroma resolution
  IJL_SUBSAMPLING_422 = 2,  // chroma halved across
  IJL_SUBSAMPLING_420 = 3,  // chroma halved across and down (the default)
};

// Optional step of a write: called with the descriptor of the complete
// temporary file just before it takes the target's name, to give it times,
// mode, owner or extended attributes. It must not close `fd`. Its own errors
// do not fail the write. Runs on the writing thread.
using IjlBeforeReplace = void (*)(int fd, void* context);

// One save's properties. Zero-fill it, then ijlInit fills the defaults.
struct JPEG_CORE_PROPERTIES {
  // The pixels, read in place and never written. Not owned.
  const uint8_t* DIBBytes;  // first byte of the first row in memory
  int32_t DIBWidth;         // pixels per row, 1..65535
  int32_t DIBHeight;        // rows; negative: bottom-up (the first row in
                            // memory is the bottom row), positive: top-down
  int32_t DIBPadBytes;      // bytes after each row's pixels, >= 0
  int32_t DIBChannels;      // bytes per pixel; 3 (ijlInit)
  IjlColor DIBColor;        // IJL_COLOR_BGR (ijlInit) or IJL_COLOR_RGB

  // The file. JPGWidth and JPGHeight must equal the buffer's size: there is
  // no scaling.
  const char* JPGFile;  // path as ANSI bytes + one zero byte; not owned
  int32_t JPGWidth;     // pixels
  int32_t JPGHeight;    // rows, positive
  int32_t JPGChannels;  // 3 with IJL_COLOR_YCBCR (ijlInit), 1 with GRAY
  IjlColor JPGColor;    // IJL_COLOR_YCBCR (ijlInit) or IJL_COLOR_GRAY
  IjlSubsampling JPGSubsampling;  // IJL_SUBSAMPLING_420 (ijlInit)
  int32_t jquality;  // 1..100; below 1 counts as 1, above 100 as 100

  IjlBeforeReplace JPGBeforeReplace;  // optional, see above
  void* JPGBeforeReplaceContext;      // passed to JPGBeforeReplace

  // The library's own state, set by ijlInit and cleared by ijlFree.
  void* library_state;
  uint32_t library_marker;
};

// Prepares a zero-filled `props` and fills its defaults: a three-channel BGR
// buffer, a three-channel YCbCr file with 4:2:0 chroma, quality 75, no
// before-replace step. Acquires an encoder that ijlFree releases. Returns
// IJL_OK, IJL_ERR_BAD_PARAMETER (null record) or IJL_ERR_OUT_OF_MEMORY (then
// nothing is held and ijlFree is not needed). Calling it again on a prepared
// record without ijlFree leaks that record's encoder.
int32_t ijlInit(JPEG_CORE_PROPERTIES* props);

// With `mode` IJL_JFILE_WRITEWHOLEIMAGE: encodes the whole buffer as an
// upright baseline JFIF file at `props->jquality` and puts it at
// `props->JPGFile`, creating or replacing that file (see the File comment).
// A new file gets the mode the folder gives new files (0666 less the umask).
// Returns IJL_OK when the file is complete and closed, otherwise one of the
// failure statuses above; the record stays prepared either way.
int32_t ijlWrite(JPEG_CORE_PROPERTIES* props, int32_t mode);

// Releases what ijlInit acquired; `props` must then be prepared again before
// another write. Returns IJL_OK, or IJL_ERR_BAD_PARAMETER (null) /
// IJL_ERR_NOT_INITIALISED, which the savers ignore. Safe to call twice.
int32_t ijlFree(JPEG_CORE_PROPERTIES* props);

// Returns a fixed English text for `status` ("cannot create the output
// file"), for our own messages and logs; unknown statuses give
// "unknown status". Never null, never freed.
const char* IjlStatusText(int32_t status);

}  // namespace vg::jpeg

#endif  // VG_JPEG_IJL_H_
