#include "cli/report.h"

#include <cstdio>

#include "platform/code_page.h"

namespace vg::cli {
namespace {

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendEscape(std::string& out, unsigned unit) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "\\u%04x", unit);
  out += hex;
}

bool IsHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

std::string JsonString(std::u16string_view text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (IsHigh(c) && i + 1 < text.size() && IsLow(text[i + 1])) {
      AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) +
                          (static_cast<char32_t>(text[i + 1]) - 0xDC00));
      ++i;
    } else if (IsHigh(c) || IsLow(c) || c < 0x20 || c == 0x7F) {
      // Control characters, and the bytes of a name that was not UTF-8
      // (U+DC80 to U+DCFF): written as the escape each already is, never as
      // text it is not.
      AppendEscape(out, c);
    } else if (c == u'"' || c == u'\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else {
      AppendUtf8(out, c);
    }
  }
  out += '"';
  return out;
}

std::string ReportLine(const thumbnail::PictureResult& result) {
  std::string line =
      "{\"input\":" + JsonString(result.input) + ",\"outputs\":[";
  for (size_t i = 0; i < result.outputs.size(); ++i) {
    if (i > 0) line += ',';
    line += JsonString(result.outputs[i]);
  }
  char ms[32];
  std::snprintf(ms, sizeof ms, "%.1f", result.milliseconds);
  line += "],\"status\":\"";
  line += thumbnail::ToString(result.status);
  // Reasons may quote a path: its bytes go through the same escapes.
  line += "\",\"reason\":" + JsonString(platform::FromAnsi(result.reason));
  line += ",\"ms\":";
  line += ms;
  line += "}\n";
  return line;
}

}  // namespace vg::cli
