// File: cli/progress.h
//
// The command line's progress bar, drawn on a terminal (stderr) while a run
// goes: how far it is, how fast it goes and how long it has left.
//
//   [#####               ] 1 204/20 000  38/s  8 min left
//
//   ProgressPacer pacer;
//   if (pacer.Due(std::chrono::steady_clock::now(), done == total))
//     Draw(ProgressText(done, total, elapsed_seconds));
//
// The text is a pure function of its inputs, so that its form is tested
// with fixed numbers; the pacer decides when it is drawn. Not for a report
// or a log: on anything but a terminal the command line draws no bar.
#ifndef VG_CLI_PROGRESS_H_
#define VG_CLI_PROGRESS_H_

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

namespace vg::cli {

// Returns the bar for `done` of `total` pictures, `elapsed_seconds` after
// the first began: counts with a space every three digits, the rate since
// then, and the time the rest takes at that rate ("45 s", "8 min",
// "2 h 05 min"). Without a picture done or a time elapsed there is no rate
// and no time left; once done equals total, no time left. A total of 0
// shows a full bar.
std::string ProgressText(std::size_t done, std::size_t total,
                         double elapsed_seconds);

// Decides when the bar is drawn again: at most once every 100 ms, so that
// a fast run spends nothing on its terminal, but always for the last
// picture so that the bar ends full.
class ProgressPacer {
 public:
  static constexpr std::chrono::milliseconds kInterval{100};

  // Returns true when the bar should be drawn at `now` (a steady clock's
  // time), and then counts it as drawn; `last` is true for the last update.
  bool Due(std::chrono::steady_clock::time_point now, bool last);

 private:
  std::optional<std::chrono::steady_clock::time_point> drawn_;
};

}  // namespace vg::cli

#endif  // VG_CLI_PROGRESS_H_
