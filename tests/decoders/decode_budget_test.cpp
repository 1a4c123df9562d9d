// The shared limit on what decodes running at once may hold.
#include "decoders/internal/decode_budget.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace vg::decoders::decoders_internal {
namespace {

using namespace std::chrono_literals;

TEST(DecodeBudgetTest, ADecodeThatWouldPassTheLimitWaitsForTheOthers) {
  DecodeBudget budget(100);
  DecodeBudget::Lease first = budget.Take(70);
  DecodeBudget::Lease small = budget.Take(30);  // fits beside it
  EXPECT_EQ(budget.held(), 100);

  std::atomic<bool> taken{false};
  std::thread waiter([&] {
    DecodeBudget::Lease third = budget.Take(40);
    taken = true;
  });
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(taken) << "went ahead with 140 of 100 held";
  small.Release();  // 70 held: still no room for 40
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(taken);
  first.Release();
  waiter.join();
  EXPECT_TRUE(taken);
  EXPECT_EQ(budget.held(), 0);
}

TEST(DecodeBudgetTest, ADecodeLargerThanTheLimitGoesAheadAlone) {
  DecodeBudget budget(100);
  {
    DecodeBudget::Lease huge = budget.Take(500);
    EXPECT_EQ(budget.held(), 500);
    std::atomic<bool> taken{false};
    std::thread waiter([&] {
      DecodeBudget::Lease tiny = budget.Take(1);
      taken = true;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(taken);
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
