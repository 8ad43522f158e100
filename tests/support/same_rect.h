// Rectangle comparison for the tests, with both rectangles in the failure message. Takes any
// rectangle with left, top, right and bottom: the portable Rect and Win32's RECT.
#pragma once

#include <gtest/gtest.h>

template <class R>
::testing::AssertionResult SameRect(const R& actual, const R& expected) {
  if (actual.left == expected.left && actual.top == expected.top &&
      actual.right == expected.right && actual.bottom == expected.bottom) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "(" << actual.left << ", " << actual.top << ", " << actual.right << ", "
         << actual.bottom << ") instead of (" << expected.left << ", " << expected.top << ", "
         << expected.right << ", " << expected.bottom << ")";
}
