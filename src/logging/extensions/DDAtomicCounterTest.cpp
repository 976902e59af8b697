#include "logging/extensions/DDAtomicCounter.h"

#include <gtest/gtest.h>

#include <limits>

TEST(DDAtomicCounterTest, WrapsAtTheEdges) {
    constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
    DDAtomicCounter edge(kMax);
    EXPECT_EQ(edge.increment(), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(edge.decrement(), kMax);
    EXPECT_EQ(edge.value(), kMax);
}
