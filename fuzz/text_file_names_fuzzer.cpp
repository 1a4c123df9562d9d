// Feeds arbitrary UTF-16 text to the file-name helpers. The input is read as
// host-order UTF-16; its last code unit chooses how many of the first units
// form the pattern (low 4 bits) and how many the next ones form the
// replacement (next 4 bits) of ReplaceAll; the rest is the source text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/case_fold.h"
#include "platform/error.h"
#include "platform/message_box.h"
#include "text/internal/dos_name.h"
#include "text/replace_all.h"
#include "text/to_dos_name.h"

namespace {

// Longer inputs add nothing but time: positions pass 32767 well before this.
constexpr std::size_t kMaxUnits = 70000;

bool IsHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void CheckDosName(const std::u16string& text) {
  const auto& index = vg::text::dos_name_internal::DosNameIndex();
  std::u16string out = vg::text::ToDosName(text);
  // A character is one unit or, written as its code, at most five ("uD800";
  // a pair gives at most seven, "u10FFFF").
  if (out.size() < text.size() || out.size() > 5 * text.size())
    __builtin_trap();
  bool all_listed = std::all_of(text.begin(), text.end(), [&](char16_t c) {
    return index.Find(c).found;
  });
  if (all_listed && out.size() != text.size()) __builtin_trap();
  for (char16_t c : out) {
    // No reachable target is a space, and every target is Latin-1.
    if (c == u' ' || c > 0xFF) __builtin_trap();
  }
  // Every target, "u" and the hex digits map to themselves, so a second pass
  // changes nothing.
  if (vg::text::ToDosName(out) != out) __builtin_trap();
  // Quotes never survive, so the batch's later replacement finds none.
  if (vg::text::ReplaceAll(out, u"'", u"-") != out) __builtin_trap();
}

// Characters the tables do not list keep names apart: a text made of them
// alone (no escaped byte, which is read as Windows-1252 first) reads back,
// code by code, from the name it gives.
void CheckCodesReadBack(const std::u16string& text) {
  const auto& index = vg::text::dos_name_internal::DosNameIndex();
  std::u16string unlisted;
  for (std::size_t k = 0; k < text.size(); ++k) {
    if (IsHigh(text[k]) && k + 1 < text.size() && IsLow(text[k + 1])) {
      unlisted.append(text, k++, 2);
    } else if (!index.Find(text[k]).found &&
               !(text[k] >= 0xDC80 && text[k] <= 0xDCFF)) {
      unlisted.push_back(text[k]);
    }
  }
  std::vector<char32_t> want;
  for (std::size_t k = 0; k < unlisted.size(); ++k) {
    char32_t c = unlisted[k];
    if (IsHigh(unlisted[k]) && k + 1 < unlisted.size() &&
        IsLow(unlisted[k + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (unlisted[++k] - 0xDC00u);
    }
    want.push_back(c);
  }
  std::u16string out = vg::text::ToDosName(unlisted);
  std::vector<char32_t> got;
  for (std::size_t k = 0; k < out.size();) {
    if (out[k++] != u'u') __builtin_trap();
    std::size_t digits = 0;
    char32_t c = 0;
    for (; k < out.size() && out[k] != u'u'; ++k, ++digits) {
      char16_t d = out[k];
      if (d >= u'0' && d <= u'9') {
        c = c * 16 + (d - u'0');
      } else if (d >= u'A' && d <= u'F') {
        c = c * 16 + (d - u'A' + 10);
      } else {
        __builtin_trap();
      }
    }
    // Four digits at least, and no leading zero beyond them.
    if (digits < 4 || digits > 6 ||
        (digits > 4 && c < (1u << 4 * (digits - 1))))
      __builtin_trap();
    got.push_back(c);
  }
  if (got != want) __builtin_trap();
}

void CheckReplaceAll(const std::u16string& source,
                     const std::u16string& pattern,
                     const std::u16string& replacement) {
  std::u16string out;
  try {
    out = vg::text::ReplaceAll(source, pattern, replacement);
  } catch (const vg::platform::Error& e) {
    if (pattern.empty()) {
      if (e.number() != vg::platform::kErrInvalidProcedureCall)
        __builtin_trap();
      return;
    }
    if (e.number() != vg::platform::kErrOverflow) __builtin_trap();
    // Overflow needs a rewritten text that can reach past 32767.
    std::size_t most_matches = source.size() / pattern.size();
    std::size_t longest =
        source.size() + most_matches * replacement.size() + replacement.size();
    if (longest <= 32767) __builtin_trap();
    return;
  }
  if (pattern.empty()) __builtin_trap();
  auto folded = vg::platform::FoldCase(source);
  if (folded.find(vg::platform::FoldCase(pattern)) == std::u16string::npos &&
      out != source) {
    __builtin_trap();
  }
  // Each match changes the length by the same amount.
  long long grown = static_cast<long long>(out.size()) -
                    static_cast<long long>(source.size());
  long long step = static_cast<long long>(replacement.size()) -
                   static_cast<long long>(pattern.size());
  if (step == 0 ? grown != 0 : grown % step != 0 || grown / step < 0) {
    __builtin_trap();
  }
  // Putting back what was found changes at most the case of the matches.
  // Positions stay those of `source` there, which may still pass 32767.
  try {
    if (vg::platform::FoldCase(
            vg::text::ReplaceAll(source, pattern, pattern)) != folded) {
      __builtin_trap();
    }
  } catch (const vg::platform::Error& e) {
    if (e.number() != vg::platform::kErrOverflow || source.size() < 32767) {
      __builtin_trap();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The shipped tables never produce a space, so no box may ever be shown.
  static const bool trap_installed = [] {
    vg::platform::SetMessageBoxPresenter(
        [](const vg::platform::MessageBoxRequest&) { __builtin_trap(); });
    return true;
  }();
  (void)trap_installed;

  std::u16string units(std::min(size / 2, kMaxUnits), u'\0');
  if (!units.empty()) std::memcpy(units.data(), data, units.size() * 2);
  CheckDosName(units);
  CheckCodesReadBack(units);
  if (units.empty()) return 0;

  char16_t options = units.back();
  units.pop_back();
  std::size_t pattern_length =
      std::min<std::size_t>(options & 0xF, units.size());
  std::size_t replacement_length = std::min<std::size_t>(
      (options >> 4) & 0xF, units.size() - pattern_length);
  std::u16string pattern = units.substr(0, pattern_length);
  std::u16string replacement = units.substr(pattern_length, replacement_length);
  std::u16string source = units.substr(pattern_length + replacement_length);
  CheckReplaceAll(source, pattern, replacement);
  return 0;
}
