#include "thumbnail/desktop_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "decoders/picture_formats.h"
#include "thumbnail/internal/md5.h"

namespace vg::thumbnail {
namespace {

bool KeptInUri(unsigned char c) {
  if (std::isalnum(c) != 0) return true;
  return std::strchr("-._~!$&'()*+,=:@/", c) != nullptr && c != '\0';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

uint32_t BigEndian32(const unsigned char* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) |
         (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

// What shared-mime-info's globs give; its magic is consulted only when
// the name says nothing, so a JPEG named .png is still image/png.
// `extension` is in lower case.
std::string_view MimeTypeOfExtension(std::string_view extension) {
  for (const decoders::PictureFormatRow& row : decoders::PictureFormats()) {
    for (const decoders::MimeType& type : row.mime_types) {
      std::string_view globs = type.extensions;
      while (!globs.empty()) {
        const size_t space = globs.find(' ');
        if (globs.substr(0, space) == extension) return type.name;
        globs.remove_prefix(space == std::string_view::npos ? globs.size()
                                                            : space + 1);
      }
    }
  }
  return {};
}

}  // namespace

const std::vector<CacheSize>& StandardCacheSizes() {
  static const std::vector<CacheSize> sizes = {
      {"normal", 128}, {"large", 256}, {"x-large", 512}, {"xx-large", 1024}};
  return sizes;
}

std::string ParseCacheSizes(std::string_view text,
                            std::vector<CacheSize>* sizes) {
  const std::vector<CacheSize>& all = StandardCacheSizes();
  std::vector<bool> asked(all.size(), false);
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    const std::string_view word = text.substr(
        start, comma == std::string_view::npos ? comma : comma - start);
    size_t k = 0;
    while (k < all.size() && all[k].folder != word) ++k;
    if (k == all.size()) {
      return "unknown thumbnail size '" + std::string(word) +
             "' (normal, large, x-large or xx-large)";
    }
    asked[k] = true;
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  sizes->clear();
  for (size_t k = 0; k < all.size(); ++k) {
    if (asked[k]) sizes->push_back(all[k]);
  }
  return {};
}

std::string CacheRoot() {
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  std::string base;
  if (xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME");
             home != nullptr && home[0] != '\0') {
    base = std::string(home) + "/.cache";
  } else {
    return {};
  }
  if (base.back() != '/') base += '/';
  return base + "thumbnails/";
}

std::string AbsolutePath(std::string_view path) {
  std::string whole;
  if (path.empty() || path[0] != '/') {
    std::string cwd(4096, '\0');
    while (getcwd(cwd.data(), cwd.size()) == nullptr && errno == ERANGE) {
      cwd.resize(cwd.size() * 2);
    }
    cwd.resize(std::strlen(cwd.c_str()));
    whole = cwd + "/";
  }
  whole += path;
  std::vector<std::string_view> parts;
  const std::string_view all(whole);
  size_t start = 0;
  while (start <= all.size()) {
    size_t slash = all.find('/', start);
    if (slash == std::string_view::npos) slash = all.size();
    const std::string_view part = all.substr(start, slash - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = slash + 1;
  }
  std::string out;
  for (std::string_view part : parts) {
    out += '/';
    out += part;
  }
  return out.empty() ? "/" : out;
}

std::string FileUri(std::string_view absolute_path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string uri = "file://";
  for (char ch : absolute_path) {
    const auto c = static_cast<unsigned char>(ch);
    if (KeptInUri(c)) {
      uri += ch;
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  return uri;
}

std::string PathFromFileUri(std::string_view uri) {
  constexpr std::string_view kScheme = "file://";
  if (uri.size() < kScheme.size() ||
      Lower(uri.substr(0, kScheme.size())) != kScheme) {
    return {};
  }
  std::string_view rest = uri.substr(kScheme.size());
  if (!rest.empty() && rest[0] != '/') {
    const size_t slash = rest.find('/');
    if (slash == std::string_view::npos ||
        Lower(rest.substr(0, slash)) != "localhost") {
      return {};
    }
    rest = rest.substr(slash);
  }
  if (rest.empty()) return {};
  std::string path;
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '%') {
      if (i + 2 >= rest.size()) return {};
      const int high = HexValue(rest[i + 1]);
      const int low = HexValue(rest[i + 2]);
      if (high < 0 || low < 0 || (high == 0 && low == 0)) return {};
      path += static_cast<char>(high * 16 + low);
      i += 2;
    } else if (rest[i] == '?' || rest[i] == '#') {
      return {};
    } else {
      path += rest[i];
    }
  }
  return path;
}

std::string CacheEntryName(std::string_view uri) {
  return thumbnail_internal::Md5Hex(uri) + ".png";
}

std::string PictureMimeType(std::string_view path,
                            std::string_view first_bytes) {
  const size_t slash = path.rfind('/');
  const std::string_view name =
      slash == std::string_view::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  if (dot != std::string_view::npos && dot > 0) {
    const std::string_view mime =
        MimeTypeOfExtension(Lower(name.substr(dot + 1)));
    if (!mime.empty()) return std::string(mime);
  }
  const auto starts = [&](std::string_view magic, size_t at = 0) {
    return first_bytes.size() >= at + magic.size() &&
           first_bytes.substr(at, magic.size()) == magic;
  };
  if (starts("\xFF\xD8\xFF")) return "image/jpeg";
  if (starts("\x89PNG\r\n\x1A\n")) return "image/png";
  if (starts("GIF87a") || starts("GIF89a")) return "image/gif";
  if (starts("RIFF") && starts("WEBP", 8)) return "image/webp";
  if (starts(std::string_view("II*\0", 4)) ||
      starts(std::string_view("MM\0*", 4))) {
    return "image/tiff";
  }
  if (starts("ftypavif", 4)) return "image/avif";
  if (starts("ftyphei", 4) || starts("ftypmif1", 4)) return "image/heif";
  if (starts("\xD7\xCD\xC6\x9A")) return "image/wmf";
  if (starts(" EMF", 40)) return "image/emf";
  if (starts("BM")) return "image/bmp";
  return {};
}

bool ReadCacheSource(const std::string& path, std::string uri,
                     CacheSource* source) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  std::string head(64, '\0');
  ssize_t got = -1;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    got = pread(fd, head.data(), head.size(), 0);
  }
  close(fd);
  if (got < 0) return false;
  head.resize(static_cast<size_t>(got));
  source->uri = std::move(uri);
  source->mtime_seconds = st.st_mtim.tv_sec;
  source->size_bytes = st.st_size;
  source->mime_type = PictureMimeType(path, head);
  return true;
}

std::vector<std::pair<std::string, std::string>> EntryText(
    const CacheSource& source, int32_t width, int32_t height) {
  std::vector<std::pair<std::string, std::string>> text = {
      {"Thumb::URI", source.uri},
      {"Thumb::MTime", std::to_string(source.mtime_seconds)},
      {"Thumb::Size", std::to_string(source.size_bytes)},
  };
  if (!source.mime_type.empty()) {
    text.emplace_back("Thumb::Mimetype", source.mime_type);
  }
  if (width > 0 && height > 0) {
    text.emplace_back("Thumb::Image::Width", std::to_string(width));
    text.emplace_back("Thumb::Image::Height", std::to_string(height));
  }
  text.emplace_back("Software", "Vignettes");
  return text;
}

bool IsPictureTypeWeRead(std::string_view mime_type) {
  if (mime_type.empty()) return false;
  for (const decoders::PictureFormatRow& row : decoders::PictureFormats()) {
    for (const decoders::MimeType& type : row.mime_types) {
      if (mime_type == type.name) return true;
    }
  }
  return false;
}

bool EntryIsValid(const std::string& path, std::string_view uri,
                  int64_t mtime_seconds) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  // The text chunks come before the pixels; 64 KB holds them in any entry
  // a thumbnailer writes.
  std::string head(65536, '\0');
  ssize_t got = 0;
  size_t have = 0;
  while (have < head.size() &&
         (got = read(fd, head.data() + have, head.size() - have)) > 0) {
    have += static_cast<size_t>(got);
  }
  close(fd);
  head.resize(have);
  if (head.compare(0, 8, "\x89PNG\r\n\x1A\n") != 0) return false;
  bool uri_matches = false;
  bool mtime_matches = false;
  size_t at = 8;
  const auto* bytes = reinterpret_cast<const unsigned char*>(head.data());
  while (at + 12 <= head.size()) {
    const uint32_t length = BigEndian32(bytes + at);
    const std::string_view type(head.data() + at + 4, 4);
    if (type == "IDAT" || type == "IEND" || length > head.size() - at - 12) {
      break;
    }
    if (type == "tEXt") {
      const std::string_view text(head.data() + at + 8, length);
      const size_t nul = text.find('\0');
      if (nul != std::string_view::npos) {
        const std::string_view key = text.substr(0, nul);
        const std::string_view value = text.substr(nul + 1);
        if (key == "Thumb::URI") uri_matches = value == uri;
        if (key == "Thumb::MTime") {
          mtime_matches = value == std::to_string(mtime_seconds);
        }
      }
    }
    at += 12 + length;
  }
  return uri_matches && mtime_matches;
}

}  // namespace vg::thumbnail
