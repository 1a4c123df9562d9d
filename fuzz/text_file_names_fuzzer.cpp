// Feeds arbitrary UTF-16 text to the file-name helpers. The input is read as
// host-order UTF-16; its last code unit chooses how many of the first units
// form the pattern (low 4 bits) and how many the next ones form the
// replacement (next 4 bits) of ReplaceAll; the rest is the source text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/case_fold.h"
#include "platform/error.h"
#include "platform/message_box.h"
#include "text/internal/dos_name.h"
#include "text/replace_all.h"
#include "text/to_dos_name.h"

namespace {

// Longer inputs add nothing but time: positions pass 32767 well before this.
constexpr std::size_t kMaxUnits = 70000;

void CheckDosName(const std::u16string& text) {
  const auto& index = vg::text::dos_name_internal::DosNameIndex();
  std::u16string out = vg::text::ToDosName(text);
  // Nothing vanishes: a character gives at least one unit. A reading is at
  // most 22 units for one (U+FDFA, an Arabic ligature of four words).
  if (out.empty() != text.empty() || out.size() > 32 * text.size())
    __builtin_trap();
  bool all_listed = std::all_of(text.begin(), text.end(), [&](char16_t c) {
    return index.Find(c).found;
  });
  if (all_listed && out.size() != text.size()) __builtin_trap();
  for (char16_t c : out) {
    // No reachable target is a space, and every target is Latin-1.
    if (c == u' ' || c > 0xFF) __builtin_trap();
  }
  // Every target, "_", "u" and the hex digits map to themselves, so a second
  // pass changes nothing.
  if (vg::text::ToDosName(out) != out) __builtin_trap();
  // Quotes never survive, so the batch's later replacement finds none.
  if (vg::text::ReplaceAll(out, u"'", u"-") != out) __builtin_trap();
  // A name never comes out naming a folder ("." or "..") unless it did.
  if ((out == u"." || out == u"..") && out != text) __builtin_trap();
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
