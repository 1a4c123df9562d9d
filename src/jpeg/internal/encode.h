// Internal to vg::jpeg: do not include from other modules.
//
// The encode step of ijlWrite on its own: checks a record's picture and file
// fields and compresses the picture into memory with TurboJPEG. The
// benchmarks measure it without touching a file.
#ifndef VG_JPEG_INTERNAL_ENCODE_H_
#define VG_JPEG_INTERNAL_ENCODE_H_

#include <turbojpeg.h>

#include <cstddef>
#include <cstdint>
#include <span>

#include "jpeg/ijl.h"

namespace vg::jpeg::jpeg_internal {

// A compressed picture in a TurboJPEG buffer; move-only, freed with it.
class JpegBytes {
 public:
  JpegBytes() = default;
  ~JpegBytes();
  JpegBytes(JpegBytes&& other) noexcept;
  JpegBytes& operator=(JpegBytes&& other) noexcept;
  JpegBytes(const JpegBytes&) = delete;
  JpegBytes& operator=(const JpegBytes&) = delete;

  std::span<const uint8_t> bytes() const { return {data_, size_}; }

 private:
  friend int32_t Encode(tjhandle, const JPEG_CORE_PROPERTIES&, JpegBytes&);
  unsigned char* data_ = nullptr;
  size_t size_ = 0;
};

// Encodes the picture `props` describes (DIB* fields, JPGWidth/JPGHeight,
// JPGChannels/JPGColor/JPGSubsampling, jquality clamped to 1..100; JPGFile
// must be non-null) with `encoder` into `out`. Returns IJL_OK,
// IJL_ERR_BAD_PARAMETER, IJL_ERR_OUT_OF_MEMORY or IJL_ERR_ENCODER; `out` is
// emptied first. Uses `encoder` only: calls with different encoders may run
// at once.
int32_t Encode(tjhandle encoder, const JPEG_CORE_PROPERTIES& props,
               JpegBytes& out);

}  // namespace vg::jpeg::jpeg_internal

#endif  // VG_JPEG_INTERNAL_ENCODE_H_
