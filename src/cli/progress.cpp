#include "cli/progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace vg::cli {
namespace {

constexpr std::size_t kBarWidth = 20;

// "1 204", "20 000": a space every three digits, as French and SI write
// large numbers, so that the counts of a long run read at a glance.
std::string Grouped(std::size_t n) {
  std::string digits = std::to_string(n);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ' ';
    out += digits[i];
  }
  return out;
}

std::string Rate(double per_second) {
  char text[32];
  if (per_second >= 10) {
    std::snprintf(text, sizeof text, "%.0f/s", per_second);
  } else {
    std::snprintf(text, sizeof text, "%.2g/s", per_second);
  }
  return text;
}

// Whole seconds under a minute, minutes under an hour, then hours and
// minutes: a precision the estimate has.
std::string TimeLeft(double seconds) {
  // Past what a run can take (or a rate of almost nothing): said as such,
  // rather than as a number a cast cannot hold.
  if (!(seconds < 1e9)) return "a long time left";
  const auto whole = static_cast<long long>(std::ceil(seconds));
  const long long minutes = (whole + 30) / 60;
  char text[48];
  if (whole < 60) {
    std::snprintf(text, sizeof text, "%lld s left", whole);
  } else if (minutes < 60) {
    std::snprintf(text, sizeof text, "%lld min left", minutes);
  } else {
    std::snprintf(text, sizeof text, "%lld h %02lld min left", minutes / 60,
                  minutes % 60);
  }
  return text;
}

}  // namespace

std::string ProgressText(std::size_t done, std::size_t total,
                         double elapsed_seconds) {
  const std::size_t filled =
      total > 0 ? std::min(done, total) * kBarWidth / total : kBarWidth;
  std::string text = "[" + std::string(filled, '#') +
                     std::string(kBarWidth - filled, ' ') + "] " +
                     Grouped(done) + "/" + Grouped(total);
  if (done == 0 || !(elapsed_seconds > 0)) return text;
  const double rate = static_cast<double>(done) / elapsed_seconds;
  text += "  " + Rate(rate);
  if (done < total) {
    text += "  " + TimeLeft(static_cast<double>(total - done) / rate);
  }
  return text;
}

bool ProgressPacer::Due(std::chrono::steady_clock::time_point now, bool last) {
  if (!last && drawn_ && now - *drawn_ < kInterval) return false;
  drawn_ = now;
  return true;
}

}  // namespace vg::cli
