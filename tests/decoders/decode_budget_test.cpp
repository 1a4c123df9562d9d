// The shared limit on what decodes running at once may hold.
#include "decoders/internal/decode_budget.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>

namespace vg::decoders::decoders_internal {
namespace {

// Waits until the Take of another thread, which sets `taken` once it has
// its lease, is blocked in `budget` (it counts as waiting) or has gone
// ahead; returns true for the first, with `held` still held. Yields between
// looks: it waits for a thing to happen, never for time to prove that one
// did not.
bool Blocked(const DecodeBudget& budget, const std::atomic<bool>& taken,
             int64_t held) {
  while (budget.waiting() == 0 && !taken) std::this_thread::yield();
  return !taken && budget.held() == held;
}

TEST(DecodeBudgetTest, ADecodeThatWouldPassTheLimitWaitsForTheOthers) {
  DecodeBudget budget(100);
  DecodeBudget::Lease first = budget.Take(70);
  EXPECT_TRUE(budget.WouldGrant(30));
  DecodeBudget::Lease small = budget.Take(30);  // fits beside it
  EXPECT_EQ(budget.held(), 100);

  std::atomic<bool> taken{false};
  std::thread waiter([&] {
    DecodeBudget::Lease third = budget.Take(40);
    taken = true;
  });
  EXPECT_TRUE(Blocked(budget, taken, 100)) << "went ahead with 140 of 100 held";
  small.Release();  // 70 held: still no room for 40
  EXPECT_FALSE(budget.WouldGrant(40));
  EXPECT_TRUE(budget.WouldGrant(30));
  first.Release();
  waiter.join();
  EXPECT_TRUE(taken);
  EXPECT_EQ(budget.held(), 0);
}

TEST(DecodeBudgetTest, ADecodeLargerThanTheLimitGoesAheadAlone) {
  DecodeBudget budget(100);
  EXPECT_TRUE(budget.WouldGrant(500));
  {
    DecodeBudget::Lease huge = budget.Take(500);
    EXPECT_EQ(budget.held(), 500);
    // Beside its own lease, the same decode may take more.
    EXPECT_TRUE(budget.WouldGrant(1, 1));
    std::atomic<bool> taken{false};
    std::thread waiter([&] {
      DecodeBudget::Lease tiny = budget.Take(1);
      taken = true;
    });
    EXPECT_TRUE(Blocked(budget, taken, 500));
    huge.Release();
    waiter.join();
    EXPECT_TRUE(taken);
  }
  // Moved leases give back once; a negative request holds nothing.
  DecodeBudget::Lease a = budget.Take(60);
  DecodeBudget::Lease b = std::move(a);
  a.Release();
  EXPECT_EQ(budget.held(), 60);
  b = budget.Take(-5);
  EXPECT_EQ(budget.held(), 0);
}

}  // namespace
}  // namespace vg::decoders::decoders_internal
