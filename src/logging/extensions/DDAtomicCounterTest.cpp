#include "logging/extensions/DDAtomicCounter.h"

#include <gtest/gtest.h>

#include <limits>

TEST(DDAtomicCounterTest, CountsAndWrapsAtTheEdges) {
    DDAtomicCounter counter(0);
    EXPECT_EQ(counter.increment(), 1);
    EXPECT_EQ(counter.decrement(), 0);
    EXPECT_EQ(counter.decrement(), -1);

    constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
    DDAtomicCounter edge(kMax);
    EXPECT_EQ(edge.increment(), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(edge.decrement(), kMax);
    EXPECT_EQ(edge.value(), kMax);
}
