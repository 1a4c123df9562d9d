#include "cli/progress.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace vg::cli {
namespace {

TEST(ProgressTextTest, CountsRateAndTimeLeft) {
  const struct {
    std::size_t done;
    std::size_t total;
    double seconds;
    const char* want;
  } kCases[] = {
      {1204, 20000, 1204 / 38.0,
       "[#                   ] 1 204/20 000  38/s  8 min left"},
      {5, 10, 2.0, "[##########          ] 5/10  2.5/s  2 s left"},
      {10, 10, 4.0, "[####################] 10/10  2.5/s"},
      {1, 200000, 0.5,
       "[                    ] 1/200 000  2/s  27 h 47 min left"},
      {150, 1000, 60.0, "[###                 ] 150/1 000  2.5/s  6 min left"},
      {999, 1234567, 9.99,
       "[                    ] 999/1 234 567  100/s  3 h 26 min left"},
      {3, 1000000, 3600.0,
       "[                    ] 3/1 000 000  0.00083/s  a long time left"},
      // Nothing done yet, or no time: no rate to tell.
      {0, 20000, 12.0, "[                    ] 0/20 000"},
      {4, 8, 0.0, "[##########          ] 4/8"},
      // Nothing to do is done.
      {0, 0, 1.0, "[####################] 0/0"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(ProgressText(c.done, c.total, c.seconds), c.want)
        << c.done << "/" << c.total << " in " << c.seconds << " s";
  }
}

TEST(ProgressPacerTest, DrawsAtMostEvery100MsAndAlwaysTheLast) {
  using std::chrono::milliseconds;
  const std::chrono::steady_clock::time_point t0{std::chrono::seconds(1000)};
  const struct {
    int at_ms;
    bool last;
    bool due;
  } kSteps[] = {
      {0, false, true},    {50, false, false},  {99, false, false},
      {100, false, true},  {150, false, false}, {150, true, true},
      {160, false, false}, {249, false, false}, {250, false, true},
  };
  ProgressPacer pacer;
  for (const auto& step : kSteps) {
    EXPECT_EQ(pacer.Due(t0 + milliseconds(step.at_ms), step.last), step.due)
        << "at " << step.at_ms << " ms";
  }
}

}  // namespace
}  // namespace vg::cli
