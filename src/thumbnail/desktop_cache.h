// File: thumbnail/desktop_cache.h
//
// The desktop's thumbnail cache, as file managers read it (the freedesktop
// Thumbnail Managing Standard): one PNG a picture and a size, named after
// the MD5 of the picture's canonical file URI, in the size's folder below
// $XDG_CACHE_HOME/thumbnails/ (or ~/.cache/thumbnails/), and carrying the
// picture's URI and modification time, by which a reader knows it is still
// the picture's.
//
//   std::string uri = FileUri(AbsolutePath("photos/a b.jpg"));
//   // "file:///home/me/photos/a%20b.jpg"
//   std::string entry = CacheRoot() + "large/" + CacheEntryName(uri);
//   if (!EntryIsValid(entry, uri, mtime)) { ... make it again ... }
//
// Not for the thumbnails of the engine's own runs (JPEG files beside the
// pictures), nor for reading pictures.
#ifndef VG_THUMBNAIL_DESKTOP_CACHE_H_
#define VG_THUMBNAIL_DESKTOP_CACHE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vg::thumbnail {

// One size of the cache: the folder below the cache root and the longest
// side of its thumbnails in pixels.
struct CacheSize {
  std::string folder;  // "normal", "large", "x-large", "xx-large"
  int32_t pixels = 0;  // 128, 256, 512, 1024
};

// Returns the sizes the standard defines, smallest first.
const std::vector<CacheSize>& StandardCacheSizes();

// Reads a comma list of size names ("normal,large"); each at most once,
// kept in the standard's order. Returns an empty text when read, else the
// problem ("unknown thumbnail size 'huge' (normal, large, x-large or
// xx-large)").
[[nodiscard]] std::string ParseCacheSizes(std::string_view text,
                                          std::vector<CacheSize>* sizes);

// Returns the cache root with its trailing "/": $XDG_CACHE_HOME/thumbnails/
// when that variable holds an absolute path, else $HOME/.cache/thumbnails/.
// Empty when neither is set.
std::string CacheRoot();

// Returns `path` made absolute against the working folder and tidied as a
// file manager names it: "." and empty parts dropped, ".." taking away the
// part before it. Symbolic links are not followed: a picture seen through a
// link is known by the link's path, as the desktop knows it.
std::string AbsolutePath(std::string_view path);

// Returns the file URI of an absolute path: "file://" and the path's bytes,
// every byte but letters, digits and -._~!$&'()*+,=:@/ written %XX (upper
// case), as GLib writes it, so that a desktop finds what we write.
std::string FileUri(std::string_view absolute_path);

// Returns the path a file URI names ("file:///a%20b" or
// "file://localhost/a%20b" gives "/a b"), or an empty text when `uri` is no
// local file URI or holds a bad escape or a NUL.
std::string PathFromFileUri(std::string_view uri);

// Returns the entry's file name: the MD5 of `uri` in lower-case hex, ".png".
std::string CacheEntryName(std::string_view uri);

// Returns the MIME type the desktop gives a picture file, known from its
// name's extension or else its first bytes ("image/jpeg"); empty when
// neither tells.
std::string PictureMimeType(std::string_view path,
                            std::string_view first_bytes);

// Returns true when the PNG at `path` is a thumbnail of `uri` as it was at
// `mtime_seconds`: its Thumb::URI and Thumb::MTime say so.
bool EntryIsValid(const std::string& path, std::string_view uri,
                  int64_t mtime_seconds);

// What an entry records of its picture.
struct CacheSource {
  std::string uri;
  int64_t mtime_seconds = 0;
  int64_t size_bytes = 0;
  std::string mime_type;  // empty when unknown
};

// Reads the time, size and type of the picture at `path` (bytes), known to
// the desktop as `uri`. Returns false when the file cannot be looked at.
bool ReadCacheSource(const std::string& path, std::string uri,
                     CacheSource* source);

// Returns the text entries of a thumbnail of `source`, whose picture is
// `width` x `height` pixels: Thumb::URI, Thumb::MTime, Thumb::Size,
// Thumb::Mimetype (when known), Thumb::Image::Width and ::Height, Software.
std::vector<std::pair<std::string, std::string>> EntryText(
    const CacheSource& source, int32_t width, int32_t height);

// Returns true for the MIME types of the pictures this program reads.
bool IsPictureTypeWeRead(std::string_view mime_type);

// The folder of failure entries written by this program, below the root.
inline constexpr const char* kOwnFailFolder = "fail/vignettes/";
// The folder GNOME's thumbnail factory (Files, Nemo, Caja...) looks in
// before it tries a picture again.
inline constexpr const char* kDesktopFailFolder =
    "fail/gnome-thumbnail-factory/";

}  // namespace vg::thumbnail

#endif  // VG_THUMBNAIL_DESKTOP_CACHE_H_
