// Internal to vg::thumbnail: do not include from other modules.
//
// The MD5 digest (RFC 1321), which names the entries of the desktop's
// thumbnail cache. Kept here rather than taken from a library so that the
// desktop's thumbnailer, started once a picture, loads no library for it.
#ifndef VG_THUMBNAIL_INTERNAL_MD5_H_
#define VG_THUMBNAIL_INTERNAL_MD5_H_

#include <string>
#include <string_view>

namespace vg::thumbnail::thumbnail_internal {

// Returns the MD5 digest of `bytes` in lower-case hex (32 characters).
std::string Md5Hex(std::string_view bytes);

}  // namespace vg::thumbnail::thumbnail_internal

#endif  // VG_THUMBNAIL_INTERNAL_MD5_H_
