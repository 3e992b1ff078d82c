// Lets a test assert that a result is ok and show its reason when it is not:
//   ASSERT_TRUE(test::Succeeded(connection.Exec(sql)));
#pragma once

#include <gtest/gtest.h>

#include "base/result.h"

namespace mirk3::test {

template <typename T>
::testing::AssertionResult Succeeded(const Result<T>& result) {
  if (result) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << result.error().text;
}

}  // namespace mirk3::test
