#include "text/legacy_bytes.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/code_page.h"

namespace vg::text {
namespace {

// Decodes one Windows-1252 byte with the C library's own converter: an
// oracle written by others. Returns nothing for a byte it does not define.
std::optional<char16_t> Windows1252ByIconv(uint8_t byte) {
  iconv_t cd = iconv_open("UTF-16LE", "WINDOWS-1252");
  // iconv_open's documented failure value.
  if (cd ==
      reinterpret_cast<iconv_t>(-1)) {  // NOLINT(performance-no-int-to-ptr)
    ADD_FAILURE() << "iconv cannot convert from WINDOWS-1252";
    return std::nullopt;
  }
  char in[1] = {static_cast<char>(byte)};
  unsigned char out[4] = {};
  char* in_ptr = in;
  char* out_ptr = reinterpret_cast<char*>(out);
  size_t in_left = 1, out_left = sizeof out;
  size_t done = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
  iconv_close(cd);
  if (done == static_cast<size_t>(-1) || out_left != 2) return std::nullopt;
  return static_cast<char16_t>(out[0] | (out[1] << 8));
}

TEST(LegacyBytesTest, EveryByteReadsAsTheCLibrarySaysOrStaysEscaped) {
  int undefined = 0;
  for (unsigned byte = 0x80; byte <= 0xFF; ++byte) {
    const std::string bytes(1, static_cast<char>(byte));
    const std::u16string listed = platform::FromAnsi(bytes);
    ASSERT_EQ(listed, std::u16string(1, static_cast<char16_t>(0xDC00 + byte)));
    std::optional<char16_t> want =
        Windows1252ByIconv(static_cast<uint8_t>(byte));
    if (!want) ++undefined;
    EXPECT_EQ(LegacyBytesAsWindows1252(listed),
              std::u16string(1, want.value_or(listed[0])))
        << "byte " << byte;
  }
  EXPECT_EQ(undefined, 5);  // 0x81, 0x8D, 0x8F, 0x90, 0x9D
}

TEST(LegacyBytesTest, OnlyLoneEscapesChange) {
  EXPECT_EQ(LegacyBytesAsWindows1252(platform::FromAnsi("caf\xE9.jpg")),
            u"caf\u00E9.jpg");
  EXPECT_EQ(LegacyBytesAsWindows1252(u"caf\u00E9 \u65E5.jpg"),
            u"caf\u00E9 \u65E5.jpg");
  EXPECT_EQ(LegacyBytesAsWindows1252(u""), u"");
  // A pair whose second half lies in the escape range is a character.
  EXPECT_EQ(LegacyBytesAsWindows1252(u"\U00010080\U000100FF"),
            u"\U00010080\U000100FF");
  // After a high half that is already paired, a lone escape still counts.
  const char16_t pair_then_byte[] = {0xD800, 0xDC80, 0xDCE9, 0};
  EXPECT_EQ(LegacyBytesAsWindows1252(pair_then_byte), u"\U00010080\u00E9");
  // Escapes outside the byte range are no bytes of a name.
  const char16_t below[] = {0xDC7F, 0xDD00, 0};
  EXPECT_EQ(LegacyBytesAsWindows1252(below), below);
  // Bytes of a broken UTF-8 sequence are each read on their own.
  EXPECT_EQ(LegacyBytesAsWindows1252(platform::FromAnsi("\xC3(\xE2\x82")),
            u"\u00C3(\u00E2\u201A");
}

}  // namespace
}  // namespace vg::text
