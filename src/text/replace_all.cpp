#include "text/replace_all.h"

#include <cstdint>
#include <limits>

#include "platform/case_fold.h"
#include "platform/checked.h"
#include "platform/error.h"

namespace vg::text {
namespace {

// Returns a 1-based position or a length as the 16-bit integer that holds it;
// raises 6 past 32767.
int16_t ToInt16(std::size_t value) {
  if (value > static_cast<std::size_t>(std::numeric_limits<int16_t>::max())) {
    throw platform::Error::Overflow(platform::ProgramName());
  }
  return static_cast<int16_t>(value);
}

}  // namespace

std::u16string ReplaceAll(std::u16string_view source,
                          std::u16string_view pattern,
                          std::u16string_view replacement) {
  // An empty pattern matches everywhere and would never let the search end.
  if (pattern.empty()) {
    throw platform::Error::InvalidCall(platform::ProgramName());
  }
  // The text being rewritten is always "what has been written so far" followed
  // by the untouched rest of `source`, and the search resumes at the start of
  // that rest. So the rest is searched in `source` itself (folded once), and
  // `pos` tracks where that rest starts in the rewritten text, 1-based, to
  // keep its 16-bit limit.
  const std::u16string folded_source = platform::FoldCase(source);
  const std::u16string folded_pattern = platform::FoldCase(pattern);
  std::u16string out;
  int16_t pos = 1;
  std::size_t rest = 0;  // start of the untouched rest in `source`
  for (;;) {
    std::size_t hit = folded_source.find(folded_pattern, rest);
    if (hit == std::u16string::npos) break;
    int16_t match = ToInt16(static_cast<std::size_t>(pos) + (hit - rest));
    pos = platform::CheckedAdd16(match, ToInt16(replacement.size()));
    out.append(source.substr(rest, hit - rest));
    out.append(replacement);
    rest = hit + pattern.size();
  }
  out.append(source.substr(rest));
  return out;
}

}  // namespace vg::text
