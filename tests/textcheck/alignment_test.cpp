// SPDX-License-Identifier: GPL-3.0-or-later
#include "textcheck/alignment.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace voxtar::textcheck {
namespace {

// Hand-made local costs, one string of digits per query frame; the band is every cell unless
// given.
BandedCosts Costs(const std::vector<std::string>& rows, std::vector<BandRow> band) {
  const auto columns = static_cast<int>(rows.front().size());
  if (band.empty()) {
    band.assign(rows.size(), {0, columns});
  }
  BandedCosts costs(std::move(band), columns);
  costs.Fill([&](int row, int column) {
    return static_cast<float>(
        rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)] - '0');
  });
  return costs;
}

// Matrices whose cheapest alignment is known: which target frame each query frame meets, and the
// mean cost of those cells.
TEST(Alignment, FindsTheCheapestPathOpenAtBothEndsOfTheTarget) {
  struct Case {
    const char* what;
    std::vector<std::string> costs;
    std::vector<BandRow> band;
    std::vector<int> columns;  // empty: no alignment fits
    double cost;
  };
  const Case cases[] = {
      {"the diagonal", {"0999", "9099", "9909", "9990"}, {}, {0, 1, 2, 3}, 0.0},
      {"a part of the target, its edges left free",
       {"99990999", "99999099", "99999909"},
       {},
       {4, 5, 6},
       0.0},
      {"the cheapest part, not the first that fits",
       {"1999099", "9199909", "9919990"},
       {},
       {4, 5, 6},
       0.0},
      {"a query three times slower",
       {"099", "099", "099", "909", "909", "990"},
       {},
       {0, 0, 0, 1, 1, 2},
       0.0},
      {"a query three times faster: target frames skipped free",
       {"0999999", "9990999", "9999990"},
       {},
       {0, 3, 6},
       0.0},
      {"four query frames cannot stay on one target frame",
       {"09", "09", "09", "09", "90"},
       {},
       {0, 0, 0, 1, 1},
       9.0 / 5},
      {"more than three times slower than the whole target: no fit",
       {"00", "00", "00", "00", "00", "00", "00"},
       {},
       {},
       0.0},
      {"the band keeps the alignment off the cheaper cells outside it",
       {"0111", "1011", "1101", "1110"},
       {{1, 4}, {1, 4}, {1, 4}, {1, 4}},
       {1, 1, 2, 3},
       1.0 / 4},
      {"a band that leaves no way through", {"00", "00", "00"}, {{0, 1}, {1, 2}, {0, 1}}, {}, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Alignment alignment = AlignOpenEnds(Costs(c.costs, c.band));
    ASSERT_EQ(alignment.found, !c.columns.empty());
    if (!alignment.found) {
      continue;
    }
    EXPECT_EQ(alignment.columns, c.columns);
    EXPECT_NEAR(alignment.cost, c.cost, 1e-9);
  }
}

// A band made around a coarse alignment holds the fine path that alignment stands for.
TEST(Alignment, BandAroundACoarseAlignmentHoldsItsFinePath) {
  Alignment coarse;
  coarse.found = true;
  coarse.columns = {0, 1, 1, 3};  // coarse frames of 4 fine ones
  const std::vector<BandRow> band = BandAround(coarse, 4, 16, 15, 2);
  ASSERT_EQ(band.size(), 16u);
  for (int row = 0; row < 16; ++row) {
    const int fine = coarse.columns[static_cast<std::size_t>(row / 4)] * 4 + row % 4;
    SCOPED_TRACE(row);
    EXPECT_LE(band[static_cast<std::size_t>(row)].begin, std::min(fine, 14));
    EXPECT_GT(band[static_cast<std::size_t>(row)].end, std::min(fine, 14));
    EXPECT_LE(band[static_cast<std::size_t>(row)].end, 15);
  }
  EXPECT_EQ(band.front().begin, 0);
  EXPECT_LT(band.front().end, 15);  // a band, not the whole target
}

}  // namespace
}  // namespace voxtar::textcheck
