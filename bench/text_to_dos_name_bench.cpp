// File names through ToDosName: names the tables cover alone, names with a
// few letters they lack (French capitals, ligatures), and names in other
// scripts, read by ICU's transliterator, with their words repeated (as in a
// folder of one camera) or new every time; one thread and two at once (each
// thread copies the transliterator on its first name).
//
//   build/bench/bench/text_to_dos_name_bench --benchmark_counters_tabular=true
//
// The batch names every picture once, before or while it decodes and writes
// it; compare the time per name with the milliseconds a picture takes.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>
#include <vector>

#include "platform/message_box.h"
#include "text/to_dos_name.h"

namespace {

const std::vector<std::u16string>& Names(int kind) {
  static const std::vector<std::u16string> kNames[] = {
      {u"IMG_20240612_181503.jpg", u"DSC01234.JPG", u"Vacances 2024 (3).jpg",
       u"\u00E9t\u00E9 \u00E0 la mer.jpg"},
      {u"\u00C0 la plage.jpg", u"\u0152uvre compl\u00E8te.jpg",
       u"No\u00EBl \u00C0 \u0141\u00F3d\u017A!.jpg", u"\u00CAtre \u00D4.jpg"},
      {u"\u65E5\u672C\u306E\u590F\u306E\u6D77.jpg",
       u"\u041C\u043E\u0441\u043A\u0432\u0430 "
       u"\u0437\u0438\u043C\u043E\u0439.jpg",
       u"\uC11C\uC6B8 \uC5EC\uD589.jpg", u"\u0391\u03B8\u03AE\u03BD\u03B1.jpg"},
  };
  return kNames[kind];
}

void BM_ToDosName(benchmark::State& state) {
  // No box is ever shown for these names; never block on one if it were.
  static const bool quiet = [] {
    vg::platform::SetMessageBoxPresenter(
        [](const vg::platform::MessageBoxRequest&) {});
    return true;
  }();
  benchmark::DoNotOptimize(quiet);
  const int kind = static_cast<int>(state.range(0));
  std::size_t i = 0;
  if (kind < 3) {
    const auto& names = Names(kind);
    for (auto _ : state) {
      (void)_;  // the loop's token, only counted
      benchmark::DoNotOptimize(vg::text::ToDosName(names[i++ % names.size()]));
    }
  } else {
    // Words never seen before: two ideographs that change with every name,
    // so that no reading is kept from an earlier one.
    std::u16string name = u"\u65E5\u672C\u306E.jpg";
    for (auto _ : state) {
      (void)_;  // the loop's token, only counted
      name[0] = static_cast<char16_t>(0x4E00 + i % 20000);
      name[1] = static_cast<char16_t>(0x4E00 + (i / 20000 + 7 * i) % 20000);
      ++i;
      benchmark::DoNotOptimize(vg::text::ToDosName(name));
    }
  }
  state.counters["names/s"] = benchmark::Counter(
      static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  static const char* const kLabels[] = {
      "tables only", "Latin letters outside the tables",
      "other scripts, words repeated", "other scripts, every word new"};
  state.SetLabel(kLabels[kind]);
}
BENCHMARK(BM_ToDosName)->DenseRange(0, 3)->ThreadRange(1, 2)->UseRealTime();

}  // namespace
