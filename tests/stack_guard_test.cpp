#include "platform/stack_guard.h"

#include <gtest/gtest.h>

#include <set>

namespace tavelon::platform {
namespace {

// Without random numbers the guard is all that differs between runs folded
// into the fixed value: each one changes it, and none of them leaves the
// guard without its zero byte.
TEST(StackGuardTest, EachVaryingValueChangesTheGuardAndItsLowByteStaysZero) {
  const std::uintptr_t runs[][5] = {
      {1000, 5000000, 4242, 4243, 0x0019FF30},  // a run
      {1001, 5000000, 4242, 4243, 0x0019FF30},  // a tick later
      {1000, 5000001, 4242, 4243, 0x0019FF30},  // the counter
      {1000, 5000000, 4246, 4243, 0x0019FF30},  // another process
      {1000, 5000000, 4242, 4247, 0x0019FF30},  // another thread
      {1000, 5000000, 4242, 4243, 0x0029FF30},  // the stack elsewhere
      {1000, 5000000, 4243, 4242, 0x0019FF30},  // two swapped
  };
  std::set<std::uintptr_t> guards;
  for (const auto& run : runs) {
    std::uintptr_t bits = 0x2B992D00u;
    for (const std::uintptr_t value : run) bits = MixIntoGuard(bits, value);
    const std::uintptr_t guard = GuardValue(bits);
    EXPECT_EQ(guard & 0xFF, 0u);
    EXPECT_NE(guard, 0u);
    guards.insert(guard);
  }
  EXPECT_EQ(guards.size(), sizeof runs / sizeof *runs);
}

}  // namespace
}  // namespace tavelon::platform
