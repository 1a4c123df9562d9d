#include "cli/report.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/code_page.h"

namespace vg::cli {
namespace {

TEST(JsonStringTest, Utf8AsTextOtherBytesAsSurrogateEscapes) {
  EXPECT_EQ(JsonString(u"a.jpg"), "\"a.jpg\"");
  // Valid UTF-8 stays text, astral characters included.
  EXPECT_EQ(
      JsonString(platform::FromAnsi("\xc3\xa9t\xc3\xa9 \xf0\x9f\x98\x80")),
      "\"\xc3\xa9t\xc3\xa9 \xf0\x9f\x98\x80\"");
  // What JSON must escape.
  EXPECT_EQ(JsonString(u"q\"b\\s\n\x01\x7f"), R"("q\"b\\s\u000a\u0001\u007f")");
  // Bytes of a name that is not UTF-8, one escape each: a lone byte, an
  // overlong "/" and a truncated sequence.
  EXPECT_EQ(JsonString(platform::FromAnsi("x\x80y\xc0\xaf\xe2\x82")),
            R"("x\udc80y\udcc0\udcaf\udce2\udc82")");
}

TEST(ReportLineTest, OneObjectALine) {
  thumbnail::PictureResult r;
  r.input = platform::FromAnsi("in/caf\xe9.jpg");
  r.outputs = {u"out/cafe.jpg", u"out/Grand/cafe.jpg"};
  r.status = thumbnail::Status::kFailed;
  r.reason = "too tall for width 150: 70000 pixels";
  r.milliseconds = 12.34;
  EXPECT_EQ(ReportLine(r),
            R"({"input":"in/caf\udce9.jpg","outputs":["out/cafe.jpg",)"
            R"("out/Grand/cafe.jpg"],"status":"failed","reason":"too tall )"
            R"(for width 150: 70000 pixels","ms":12.3})"
            "\n");
  r.status = thumbnail::Status::kUpToDate;
  r.reason.clear();
  EXPECT_NE(ReportLine(r).find(R"("status":"up-to-date","reason":"")"),
            std::string::npos);
}

}  // namespace
}  // namespace vg::cli
