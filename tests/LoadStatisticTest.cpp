#include "core/LoadStatistic.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

TEST(LoadStatistic, PercentOfTimeSpentWorking)
{
    EXPECT_EQ(loadPercent(0, 0, 123456), 100) << "no wait yet";
    EXPECT_EQ(loadPercent(1000, 1500, 2000), 50);
    EXPECT_EQ(loadPercent(1000, 1900, 2000), 10);
    EXPECT_EQ(loadPercent(1000, 2000, 2000), 0);
    EXPECT_EQ(loadPercent(1000, 1001, 1000000000000ull), 99);   // integer division
    EXPECT_EQ(loadPercent(5, 5, 5), 100) << "no time passed at all";
}

TEST(LoadStatistic, SumCoversTheLast31Figures)
{
    LoadStatistic stat;
    std::vector<int> written;
    for (int i = 0; i < 100; ++i) {
        const uint8_t load = uint8_t((i * 37) % 101);
        stat.add(load);
        written.push_back(load);
        const size_t from = written.size() > 31 ? written.size() - 31 : 0;
        const int expected = std::accumulate(written.begin() + from, written.end(), 0);
        ASSERT_EQ(stat.sum.load(), expected) << "after " << i + 1 << " figures";
    }
}
