#include "jpeg/ijl.h"

#include <turbojpeg.h>

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "jpeg/internal/replace_file.h"

namespace vg::jpeg {
namespace {

// Marks a record that ijlInit prepared (a zero-filled one has 0 here).
constexpr uint32_t kPreparedMarker = 0x494A4C31;  // "IJL1"
constexpr int32_t kDefaultQuality = 75;
// The JPEG format stores each side in 16 bits.
constexpr int32_t kMaxSide = 65535;

// Accurate integer DCT, not TJFLAG_FASTDCT. Measured on a 1920 x 1080
// photo-like gradient at quality 90 (bench/jpeg_encode_bench.cpp,
// BM_DctMethod): the fast DCT saved only a few percent of the encode time
// but lost PSNR and gave no smaller files, and thumbnails are small enough
// that the encode is not where a batch spends its time.
constexpr int kEncodeFlags = TJFLAG_ACCURATEDCT;

bool IsPrepared(const JPEG_CORE_PROPERTIES* props) {
  return props->library_marker == kPreparedMarker &&
         props->library_state != nullptr;
}

int SubsamplingFor(const JPEG_CORE_PROPERTIES& props) {
  if (props.JPGColor == IJL_COLOR_GRAY && props.JPGChannels == 1) {
    return TJSAMP_GRAY;
  }
  if (props.JPGColor != IJL_COLOR_YCBCR || props.JPGChannels != 3) return -1;
  switch (props.JPGSubsampling) {
    case IJL_SUBSAMPLING_444:
      return TJSAMP_444;
    case IJL_SUBSAMPLING_422:
      return TJSAMP_422;
    case IJL_SUBSAMPLING_420:
      return TJSAMP_420;
    default:
      return -1;
  }
}

int PixelFormatFor(const JPEG_CORE_PROPERTIES& props) {
  if (props.DIBChannels != 3) return -1;
  if (props.DIBColor == IJL_COLOR_BGR) return TJPF_BGR;
  if (props.DIBColor == IJL_COLOR_RGB) return TJPF_RGB;
  return -1;
}

int32_t ClampQuality(int32_t quality) {
  if (quality < 1) return 1;
  if (quality > 100) return 100;
  return quality;
}

// Frees a TurboJPEG output buffer on every path out of ijlWrite.
struct TjBuffer {
  unsigned char* data = nullptr;
  TjBuffer() = default;
  TjBuffer(const TjBuffer&) = delete;
  TjBuffer& operator=(const TjBuffer&) = delete;
  ~TjBuffer() { tjFree(data); }
};

void CallBeforeReplace(int fd, void* context) {
  const auto* props = static_cast<const JPEG_CORE_PROPERTIES*>(context);
  props->JPGBeforeReplace(fd, props->JPGBeforeReplaceContext);
}

}  // namespace

int32_t ijlInit(JPEG_CORE_PROPERTIES* props) {
  if (props == nullptr) return IJL_ERR_BAD_PARAMETER;
  tjhandle encoder = tjInitCompress();
  if (encoder == nullptr) return IJL_ERR_OUT_OF_MEMORY;
  props->DIBChannels = 3;
  props->DIBColor = IJL_COLOR_BGR;
  props->JPGChannels = 3;
  props->JPGColor = IJL_COLOR_YCBCR;
  props->JPGSubsampling = IJL_SUBSAMPLING_420;
  props->jquality = kDefaultQuality;
  props->JPGBeforeReplace = nullptr;
  props->JPGBeforeReplaceContext = nullptr;
  props->library_state = encoder;
  props->library_marker = kPreparedMarker;
  return IJL_OK;
}

int32_t ijlWrite(JPEG_CORE_PROPERTIES* props, int32_t mode) {
  if (props == nullptr) return IJL_ERR_BAD_PARAMETER;
  if (!IsPrepared(props)) return IJL_ERR_NOT_INITIALISED;
  if (mode != IJL_JFILE_WRITEWHOLEIMAGE) return IJL_ERR_UNSUPPORTED_MODE;

  const int32_t width = props->DIBWidth;
  const int64_t rows = props->DIBHeight < 0 ? -int64_t{props->DIBHeight}
                                            : int64_t{props->DIBHeight};
  if (rows < 1 || rows > kMaxSide) return IJL_ERR_BAD_PARAMETER;
  const auto height = static_cast<int32_t>(rows);
  const int pixel_format = PixelFormatFor(*props);
  const int subsampling = SubsamplingFor(*props);
  if (props->DIBBytes == nullptr || props->JPGFile == nullptr || width < 1 ||
      width > kMaxSide || props->JPGWidth != width ||
      props->JPGHeight != height || props->DIBPadBytes < 0 ||
      pixel_format < 0 || subsampling < 0) {
    return IJL_ERR_BAD_PARAMETER;
  }
  const int64_t pitch = int64_t{width} * 3 + props->DIBPadBytes;
  if (pitch > INT32_MAX) return IJL_ERR_BAD_PARAMETER;

  // Sized for the worst case so that the encoder never reallocates and an
  // allocation failure is told apart from an encoder failure. Beyond what
  // tjAlloc can take, the encoder grows its own buffer instead.
  TjBuffer jpeg;
  const unsigned long capacity = tjBufSize(width, height, subsampling);
  if (capacity == static_cast<unsigned long>(-1)) return IJL_ERR_BAD_PARAMETER;
  const bool preallocate = capacity <= INT32_MAX;
  unsigned long size = 0;
  if (preallocate) {
    jpeg.data = tjAlloc(static_cast<int>(capacity));
    if (jpeg.data == nullptr) return IJL_ERR_OUT_OF_MEMORY;
    size = capacity;
  }

  const int flags = kEncodeFlags | (preallocate ? TJFLAG_NOREALLOC : 0) |
                    (props->DIBHeight < 0 ? TJFLAG_BOTTOMUP : 0);
  auto encoder = static_cast<tjhandle>(props->library_state);
  if (tjCompress2(encoder, props->DIBBytes, width, static_cast<int>(pitch),
                  height, pixel_format, &jpeg.data, &size, subsampling,
                  ClampQuality(props->jquality), flags) != 0) {
    return IJL_ERR_ENCODER;
  }

  const bool has_step = props->JPGBeforeReplace != nullptr;
  switch (jpeg_internal::ReplaceFile(
      props->JPGFile, std::span<const uint8_t>(jpeg.data, size),
      has_step ? &CallBeforeReplace : nullptr, has_step ? props : nullptr)) {
    case jpeg_internal::ReplaceResult::kDone:
      return IJL_OK;
    case jpeg_internal::ReplaceResult::kCannotCreate:
      return IJL_ERR_OPEN_FILE;
    case jpeg_internal::ReplaceResult::kCannotWrite:
      return IJL_ERR_WRITE_FILE;
    case jpeg_internal::ReplaceResult::kCannotReplace:
      return IJL_ERR_REPLACE_FILE;
  }
  return IJL_ERR_WRITE_FILE;
}

int32_t ijlFree(JPEG_CORE_PROPERTIES* props) {
  if (props == nullptr) return IJL_ERR_BAD_PARAMETER;
  if (!IsPrepared(props)) return IJL_ERR_NOT_INITIALISED;
  tjDestroy(static_cast<tjhandle>(props->library_state));
  props->library_state = nullptr;
  props->library_marker = 0;
  return IJL_OK;
}

const char* IjlStatusText(int32_t status) {
  switch (status) {
    case IJL_OK:
      return "success";
    case IJL_ERR_BAD_PARAMETER:
      return "bad parameter";
    case IJL_ERR_NOT_INITIALISED:
      return "properties record not initialised";
    case IJL_ERR_UNSUPPORTED_MODE:
      return "unsupported write mode";
    case IJL_ERR_OPEN_FILE:
      return "cannot create the output file";
    case IJL_ERR_WRITE_FILE:
      return "cannot write the output file";
    case IJL_ERR_REPLACE_FILE:
      return "cannot replace the output file";
    case IJL_ERR_OUT_OF_MEMORY:
      return "out of memory";
    case IJL_ERR_ENCODER:
      return "the encoder failed";
    default:
      return "unknown status";
  }
}

}  // namespace vg::jpeg
