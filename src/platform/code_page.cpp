#include "platform/code_page.h"

#include <cstdint>

namespace vg::platform {
namespace {

constexpr char16_t kEscapeBase = 0xDC00;

void AppendCodePoint(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Decodes one strict UTF-8 sequence at bytes[i]; returns its length, or 0 when
// the bytes there are not a valid, shortest-form sequence.
size_t DecodeOne(std::string_view bytes, size_t i, char32_t& cp) {
  auto b = [&](size_t k) { return static_cast<uint8_t>(bytes[i + k]); };
  auto cont = [&](size_t k) {
    return i + k < bytes.size() && (b(k) & 0xC0) == 0x80;
  };
  uint8_t lead = b(0);
  if (lead < 0x80) {
    cp = lead;
    return 1;
  }
  if (lead >= 0xC2 && lead <= 0xDF && cont(1)) {
    cp = (char32_t{lead & 0x1Fu} << 6) | (b(1) & 0x3F);
    return 2;
  }
  if (lead >= 0xE0 && lead <= 0xEF && cont(1) && cont(2)) {
    cp = (char32_t{lead & 0x0Fu} << 12) | (char32_t{b(1) & 0x3Fu} << 6) |
         (b(2) & 0x3F);
    if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4 && cont(1) && cont(2) && cont(3)) {
    cp = (char32_t{lead & 0x07u} << 18) | (char32_t{b(1) & 0x3Fu} << 12) |
         (char32_t{b(2) & 0x3Fu} << 6) | (b(3) & 0x3F);
    if (cp < 0x10000 || cp > 0x10FFFF) return 0;
    return 4;
  }
  return 0;
}

}  // namespace

std::u16string FromAnsi(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    char32_t cp = 0;
    size_t n = DecodeOne(bytes, i, cp);
    if (n == 0) {
      out.push_back(
          static_cast<char16_t>(kEscapeBase + static_cast<uint8_t>(bytes[i])));
      ++i;
    } else {
      AppendCodePoint(out, cp);
      i += n;
    }
  }
  return out;
}

std::string ToAnsi(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() &&
        text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      char32_t cp = 0x10000 + ((char32_t{c} - 0xD800) << 10) +
                    (char32_t{text[i + 1]} - 0xDC00);
      AppendUtf8(out, cp);
      ++i;
    } else if (c >= 0xDC80 && c <= 0xDCFF) {
      out.push_back(static_cast<char>(c - kEscapeBase));
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      out.push_back('?');
    } else {
      AppendUtf8(out, c);
    }
  }
  return out;
}

}  // namespace vg::platform
