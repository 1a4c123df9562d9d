#include "jpeg/ijl.h"

#include <turbojpeg.h>

#include <cstdint>

#include "jpeg/internal/encode.h"
#include "platform/replace_file.h"

namespace vg::jpeg {
namespace {

// Marks a record that ijlInit prepared (a zero-filled one has 0 here).
constexpr uint32_t kPreparedMarker = 0x494A4C31;  // "IJL1"
constexpr int32_t kDefaultQuality = 75;

bool IsPrepared(const JPEG_CORE_PROPERTIES* props) {
  return props->library_marker == kPreparedMarker &&
         props->library_state != nullptr;
}

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

  jpeg_internal::JpegBytes jpeg;
  const int32_t status = jpeg_internal::Encode(
      static_cast<tjhandle>(props->library_state), *props, jpeg);
  if (status != IJL_OK) return status;

  const bool has_step = props->JPGBeforeReplace != nullptr;
  switch (platform::ReplaceFile(props->JPGFile, jpeg.bytes(),
                                has_step ? &CallBeforeReplace : nullptr,
                                has_step ? props : nullptr)) {
    case platform::ReplaceResult::kDone:
      return IJL_OK;
    case platform::ReplaceResult::kCannotCreate:
      return IJL_ERR_OPEN_FILE;
    case platform::ReplaceResult::kCannotWrite:
      return IJL_ERR_WRITE_FILE;
    case platform::ReplaceResult::kCannotReplace:
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
