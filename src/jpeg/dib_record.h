// File: jpeg/dib_record.h
//
// What both savers do with the library record: release it on every way out
// of the saver, and fill it from a DIB section. Written against what a DIB
// section offers (aDIBSection and cDIBSection, by their common base), so that
// the JPEG writer needs nothing of the bitmap classes, which build on it.
#ifndef VG_JPEG_DIB_RECORD_H_
#define VG_JPEG_DIB_RECORD_H_

#include <concepts>
#include <cstdint>
#include <string>

#include "jpeg/ijl.h"
#include "platform/checked.h"

namespace vg::jpeg {

// A 24-bit bottom-up DIB section: aDIBSection or cDIBSection.
template <class Dib>
concept DibSection = requires(const Dib& d) {
  { d.Width() } -> std::convertible_to<int32_t>;
  { d.Height() } -> std::convertible_to<int32_t>;
  { d.BytesPerScanLine() } -> std::convertible_to<int32_t>;
  { d.DIBSectionBitsPtr() } -> std::convertible_to<uintptr_t>;
};

// Calls ijlFree on a record that ijlInit prepared, unless already released.
class [[nodiscard]] RecordRelease {
 public:
  explicit RecordRelease(JPEG_CORE_PROPERTIES* props) : props_(props) {}
  ~RecordRelease() { Release(); }
  RecordRelease(const RecordRelease&) = delete;
  RecordRelease& operator=(const RecordRelease&) = delete;
  // Releases now; its status is of no interest to the savers.
  void Release() {
    if (props_ != nullptr) (void)ijlFree(props_);
    props_ = nullptr;
  }

 private:
  JPEG_CORE_PROPERTIES* props_;
};

// Fills the fields the savers set, in the order the window's saver always
// has, each property read anew where it is used. `path` (ANSI bytes) must
// outlive the write. Raises error 6 when a size does not fit (as
// BytesPerScanLine does).
template <DibSection Dib>
void FillFromDib(JPEG_CORE_PROPERTIES& props, const Dib& cDib,
                 const std::string& path, int32_t lQuality) {
  props.DIBWidth = cDib.Width();
  // Negative: the rows are bottom-up, like every DIB.
  props.DIBHeight = platform::CheckedSub32(0, cDib.Height());
  // The class hands its pixels out as an address held in an integer.
  props.DIBBytes =
      reinterpret_cast<const uint8_t*>(  // NOLINT(performance-no-int-to-ptr)
          cDib.DIBSectionBitsPtr());
  props.DIBPadBytes = platform::CheckedSub32(
      cDib.BytesPerScanLine(), platform::CheckedMul32(cDib.Width(), 3));
  props.JPGFile = path.c_str();
  props.JPGWidth = cDib.Width();
  props.JPGHeight = cDib.Height();
  props.jquality = lQuality;
}

}  // namespace vg::jpeg

#endif  // VG_JPEG_DIB_RECORD_H_
