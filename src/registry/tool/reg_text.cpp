#include "registry/tool/reg_text.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "registry/registry_store.h"

namespace vg::registry::tool {
namespace {

using namespace vg::platform;

struct NamedType {
  const char* name;
  uint32_t type;
};

constexpr NamedType kTypes[] = {
    {"REG_NONE", REG_NONE},
    {"REG_SZ", REG_SZ},
    {"REG_EXPAND_SZ", REG_EXPAND_SZ},
    {"REG_BINARY", REG_BINARY},
    {"REG_DWORD", REG_DWORD},
    {"REG_DWORD_BIG_ENDIAN", REG_DWORD_BIG_ENDIAN},
    {"REG_LINK", REG_LINK},
    {"REG_MULTI_SZ", REG_MULTI_SZ},
    {"REG_QWORD", REG_QWORD},
};

bool SameIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

std::string HexBytes(std::string_view data, const char* separator) {
  std::string out;
  char byte[4];
  for (size_t i = 0; i < data.size(); ++i) {
    if (i > 0) out += separator;
    std::snprintf(byte, sizeof byte, "%02X",
                  static_cast<unsigned>(static_cast<unsigned char>(data[i])));
    out += byte;
  }
  return out;
}

uint64_t LittleEndian(std::string_view data) {
  uint64_t v = 0;
  for (size_t i = data.size(); i-- > 0;) {
    v = (v << 8) | static_cast<unsigned char>(data[i]);
  }
  return v;
}

std::string Hex(uint64_t v, int digits) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%0*llx", digits,
                static_cast<unsigned long long>(v));
  return buffer;
}

std::optional<uint64_t> ParseNumber(std::string_view text, uint64_t max) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') {
    return std::nullopt;
  }
  std::string copy(text);
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(copy.c_str(), &end, 0);
  if (errno != 0 || end != copy.c_str() + copy.size() || v > max) {
    return std::nullopt;
  }
  return v;
}

std::string Bytes(uint64_t v, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) {
    out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  }
  return out;
}

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

}  // namespace

std::string TypeName(uint32_t type) {
  for (const NamedType& t : kTypes) {
    if (t.type == type) return t.name;
  }
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "REG_0x%X", static_cast<unsigned>(type));
  return buffer;
}

std::optional<uint32_t> ParseTypeName(std::string_view name) {
  for (const NamedType& t : kTypes) {
    if (t.type != REG_LINK && SameIgnoringAsciiCase(name, t.name)) {
      return t.type;
    }
  }
  return std::nullopt;
}

std::string ShowData(uint32_t type, std::string_view data) {
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      return std::string(data.substr(0, data.find('\0')));
    case REG_MULTI_SZ: {
      std::string out;
      size_t start = 0;
      while (start < data.size()) {
        size_t end = data.find('\0', start);
        if (end == std::string_view::npos) end = data.size();
        if (end == start) break;  // the empty item that ends the list
        if (!out.empty()) out += "\\0";
        out.append(data.substr(start, end - start));
        start = end + 1;
      }
      return out;
    }
    case REG_DWORD:
      if (data.size() == 4) return "0x" + Hex(LittleEndian(data), 1);
      break;
    case REG_DWORD_BIG_ENDIAN:
      if (data.size() == 4) {
        std::string reversed(data.rbegin(), data.rend());
        return "0x" + Hex(LittleEndian(reversed), 1);
      }
      break;
    case REG_QWORD:
      if (data.size() == 8) return "0x" + Hex(LittleEndian(data), 1);
      break;
    default:
      break;
  }
  return HexBytes(data, "");
}

std::optional<std::string> ParseData(uint32_t type, std::string_view text,
                                     std::string_view separator) {
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      if (text.find('\0') != std::string_view::npos) return std::nullopt;
      return std::string(text) + '\0';
    case REG_MULTI_SZ: {
      std::string out;
      if (separator.empty()) return std::nullopt;
      size_t start = 0;
      while (!text.empty()) {
        size_t end = text.find(separator, start);
        std::string_view item = text.substr(
            start, end == std::string_view::npos ? end : end - start);
        if (item.empty()) return std::nullopt;  // an empty item ends a list
        out.append(item);
        out.push_back('\0');
        if (end == std::string_view::npos) break;
        start = end + separator.size();
      }
      out.push_back('\0');
      return out;
    }
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN: {
      auto v = ParseNumber(text, std::numeric_limits<uint32_t>::max());
      if (!v) return std::nullopt;
      std::string bytes = Bytes(*v, 4);
      if (type == REG_DWORD_BIG_ENDIAN)
        bytes.assign(bytes.rbegin(), bytes.rend());
      return bytes;
    }
    case REG_QWORD: {
      auto v = ParseNumber(text, std::numeric_limits<uint64_t>::max());
      if (!v) return std::nullopt;
      return Bytes(*v, 8);
    }
    default: {
      if (text.size() % 2 != 0) return std::nullopt;
      std::string out;
      for (size_t i = 0; i < text.size(); i += 2) {
        char pair[3] = {text[i], text[i + 1], 0};
        if (!std::isxdigit(static_cast<unsigned char>(pair[0])) ||
            !std::isxdigit(static_cast<unsigned char>(pair[1]))) {
          return std::nullopt;
        }
        out.push_back(static_cast<char>(std::strtoul(pair, nullptr, 16)));
      }
      return out;
    }
  }
}

std::string ExportLine(std::string_view name, uint32_t type,
                       std::string_view data) {
  std::string line = name.empty() ? "@=" : Quote(name) + "=";
  // A plain string: exactly one NUL, at the end, and nothing that would
  // break the line.
  if (type == REG_SZ && !data.empty() && data.back() == '\0' &&
      data.find('\0') == data.size() - 1 &&
      data.find_first_of("\r\n") == std::string_view::npos) {
    return line + Quote(data.substr(0, data.size() - 1));
  }
  if (type == REG_DWORD && data.size() == 4) {
    return line + "dword:" + Hex(LittleEndian(data), 8);
  }
  std::string hex = HexBytes(data, ",");
  for (char& c : hex) c = static_cast<char>(std::tolower(c));
  if (type == REG_BINARY) return line + "hex:" + hex;
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(type));
  return line + prefix + hex;
}

}  // namespace vg::registry::tool
