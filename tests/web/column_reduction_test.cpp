// The server's reduction of a trend to pixel columns: a day of one-second
// results arrives as two points a column with each column's extremes, a
// column without results breaks the lines, and few points pass as they are.

#include <gtest/gtest.h>

#include <cmath>

#include "web/column_reduction.h"

using web::reduceToColumns;

TEST(ColumnReduction, ADayOfSecondsBecomesTwoPointsAColumnWithItsExtremes) {
  constexpr qint64 kDay = 86400000;
  std::vector<qint64> times;
  std::vector<std::vector<double>> values(2);
  for (qint64 i = 0; i < 86400; ++i) {
    times.push_back(i * 1000);
    values[0].push_back(std::sin(double(i) / 600) * 100 + (i == 43210 ? 1000 : 0));  // one spike
    values[1].push_back(i % 1000 == 999 ? std::nan("") : double(i % 40));          // codes now and then
  }
  const web::ReducedTrend t = reduceToColumns(times, values, 0, kDay, 1000);
  ASSERT_TRUE(t.reduced);
  EXPECT_EQ(t.times.size(), size_t(2000));
  ASSERT_EQ(t.series[0].size(), t.times.size());
  EXPECT_TRUE(std::is_sorted(t.times.begin(), t.times.end()));
  // The spike survives as its column's high; every column spans 0..39 in the second series.
  double highest = 0;
  for (const auto& v : t.series[0]) highest = std::max(highest, v.value_or(0));
  EXPECT_GT(highest, 1000);
  for (size_t i = 0; i < t.times.size(); i += 2) {
    ASSERT_TRUE(t.series[1][i] && t.series[1][i + 1]);
    EXPECT_EQ(*t.series[1][i], 0);
    EXPECT_EQ(*t.series[1][i + 1], 39);
  }
}

TEST(ColumnReduction, AnHourWithoutResultsBreaksTheLines) {
  std::vector<qint64> times;
  std::vector<std::vector<double>> values(1);
  for (qint64 s = 0; s < 86400; ++s) {
    if (s >= 36000 && s < 39600) continue;  // 10:00-11:00 lost
    times.push_back(s * 1000);
    values[0].push_back(1);
  }
  const web::ReducedTrend t = reduceToColumns(times, values, 0, 86400000, 500);
  int breaks = 0;
  for (const auto& v : t.series[0]) breaks += v ? 0 : 1;
  EXPECT_EQ(breaks, 1);
}

TEST(ColumnReduction, FewPointsPassAsTheyAreAndOnlyThoseInTheSpan) {
  std::vector<qint64> times{0, 60000, 120000, 180000, 9000000};
  std::vector<std::vector<double>> values{{1, 2, std::nan(""), 4, 5}};
  const web::ReducedTrend t = reduceToColumns(times, values, 60000, 200000, 800);
  EXPECT_FALSE(t.reduced);
  ASSERT_EQ(t.times, (std::vector<qint64>{60000, 120000, 180000}));
  EXPECT_EQ(t.series[0][0], 2);
  EXPECT_FALSE(t.series[0][1]);
  EXPECT_EQ(t.series[0][2], 4);
  // Among points a minute apart, a lost hour breaks the line once.
  const web::ReducedTrend gap = reduceToColumns({0, 60000, 120000, 3720000, 3780000}, {{1, 1, 1, 1, 1}}, 0, 3800000, 800);
  EXPECT_EQ(std::count(gap.series[0].begin(), gap.series[0].end(), std::nullopt), 1);
}
