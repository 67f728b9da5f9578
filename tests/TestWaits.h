#pragma once

// Included ahead of every test file (see tessivo_add_test).
//
// A QTRY_* check polls until its condition holds and returns as soon as it
// does, so its limit only says how long a machine may take before the test
// gives up. Qt's default of 5 s is within reach of a loaded machine running
// a sanitized build on two cores, where such a check would fail for want of
// speed alone. The limit for the checks that name none is raised to one no
// machine the tests run on reaches; a check whose condition never comes
// still fails, only later. Timers, graces and deadlines of the code under
// test are driven by its injected clock instead, never by these limits.

#include <QtTest/qtestcase.h>

namespace TestWaits {
// Milliseconds: for a wait that ends by an event, never as a measure of time.
inline constexpr int limitMs = 60'000;
} // namespace TestWaits

#undef QTRY_VERIFY
#define QTRY_VERIFY(expr) QTRY_VERIFY_WITH_TIMEOUT(expr, TestWaits::limitMs)
#undef QTRY_VERIFY2
#define QTRY_VERIFY2(expr, messageExpression)                                                                \
    QTRY_VERIFY2_WITH_TIMEOUT(expr, messageExpression, TestWaits::limitMs)
#undef QTRY_COMPARE
#define QTRY_COMPARE(expr, expected) QTRY_COMPARE_WITH_TIMEOUT(expr, expected, TestWaits::limitMs)
#undef QTRY_COMPARE_EQ
#define QTRY_COMPARE_EQ(left, right) QTRY_COMPARE_EQ_WITH_TIMEOUT(left, right, TestWaits::limitMs)
#undef QTRY_COMPARE_NE
#define QTRY_COMPARE_NE(left, right) QTRY_COMPARE_NE_WITH_TIMEOUT(left, right, TestWaits::limitMs)
#undef QTRY_COMPARE_LT
#define QTRY_COMPARE_LT(left, right) QTRY_COMPARE_LT_WITH_TIMEOUT(left, right, TestWaits::limitMs)
#undef QTRY_COMPARE_LE
#define QTRY_COMPARE_LE(left, right) QTRY_COMPARE_LE_WITH_TIMEOUT(left, right, TestWaits::limitMs)
#undef QTRY_COMPARE_GT
#define QTRY_COMPARE_GT(left, right) QTRY_COMPARE_GT_WITH_TIMEOUT(left, right, TestWaits::limitMs)
#undef QTRY_COMPARE_GE
#define QTRY_COMPARE_GE(left, right) QTRY_COMPARE_GE_WITH_TIMEOUT(left, right, TestWaits::limitMs)
