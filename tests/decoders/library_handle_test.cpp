// The owner of what a C library hands out: each object given back once.
#include "decoders/internal/library_handle.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace vg::decoders::decoders_internal {
namespace {

std::vector<int*> freed;
void Free(int* object) { freed.push_back(object); }
using Handle = LibraryHandle<int, Free>;

TEST(LibraryHandleTest, GivesEachObjectBackOnceWhicheverWayItLeaves) {
  int a = 0;
  int b = 0;
  int c = 0;
  freed.clear();
  {
    const Handle empty;
    Handle held(&a);
    Handle moved(std::move(held));
    EXPECT_EQ(held.get(), nullptr);  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(moved.get(), &a);
    *moved.out() = &b;  // what was held goes back before the new one comes
    EXPECT_EQ(freed, std::vector<int*>{&a});
    Handle other(&c);
    other = std::move(moved);
    EXPECT_EQ(other.get(), &b);
    EXPECT_EQ(freed.size(), 1U);
  }
  // Out of scope: b by `other`, c by `moved`, nothing by the empty ones.
  EXPECT_EQ(freed, (std::vector<int*>{&a, &b, &c}));
}

}  // namespace
}  // namespace vg::decoders::decoders_internal
