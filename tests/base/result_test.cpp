// A result holds its value or its reason, and hands a move-only value over without a copy.
#include "base/result.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>

namespace mirk3 {
namespace {

Result<std::unique_ptr<int>> Made(bool fail) {
  if (fail) return Fail("cannot make it: No space left on device", ENOSPC);
  return std::make_unique<int>(7);
}

TEST(Result, HoldsTheValueOrTheReasonNeverBoth) {
  Result<std::unique_ptr<int>> made = Made(false);
  ASSERT_TRUE(made.ok());
  EXPECT_TRUE(made.error().text.empty());
  std::unique_ptr<int> taken = std::move(made).value();
  ASSERT_NE(taken, nullptr);
  EXPECT_EQ(*taken, 7);

  const Result<std::unique_ptr<int>> refused = Made(true);
  EXPECT_FALSE(refused);
  EXPECT_EQ(refused.error().text, "cannot make it: No space left on device");
  EXPECT_EQ(refused.error().errorNumber, ENOSPC);

  const Status done;
  const Status failed = Fail("gone");
  EXPECT_TRUE(done.ok());
  EXPECT_FALSE(failed.ok());
  EXPECT_EQ(failed.error().text, "gone");
  EXPECT_EQ(failed.error().errorNumber, 0);
}

}  // namespace
}  // namespace mirk3
