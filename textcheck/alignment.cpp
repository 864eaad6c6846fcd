// SPDX-License-Identifier: GPL-3.0-or-later
#include "textcheck/alignment.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>

namespace voxtar::textcheck {

namespace {

constexpr double kUnreachable = std::numeric_limits<double>::infinity();

// One step into cell (row, column): from (row - rows, column - columns); the query frames in
// between meet the same target frame.
struct Step {
  int rows;
  int columns;
};
// The diagonal first: it wins a tie.
constexpr std::array<Step, 5> kSteps = {{{1, 1}, {1, 2}, {1, 3}, {2, 1}, {3, 1}}};
constexpr std::uint8_t kNoStep = 0xFF;

}  // namespace

BandedCosts::BandedCosts(int rows, int columns)
    : BandedCosts(std::vector<BandRow>(static_cast<std::size_t>(std::max(rows, 0)), {0, columns}),
                  columns) {}

BandedCosts::BandedCosts(std::vector<BandRow> band, int columns)
    : band_(std::move(band)), columns_(std::max(columns, 0)) {
  offsets_.reserve(band_.size());
  std::size_t cells = 0;
  for (BandRow& range : band_) {
    range.begin = std::clamp(range.begin, 0, columns_);
    range.end = std::clamp(range.end, range.begin, columns_);
    offsets_.push_back(cells);
    cells += static_cast<std::size_t>(range.end - range.begin);
  }
  costs_.assign(cells, 0.0F);
}

bool BandedCosts::contains(int row, int column) const {
  if (row < 0 || row >= rows()) {
    return false;
  }
  const BandRow& range = band(row);
  return column >= range.begin && column < range.end;
}

float& BandedCosts::at(int row, int column) {
  const auto r = static_cast<std::size_t>(row);
  return costs_[offsets_[r] + static_cast<std::size_t>(column - band_[r].begin)];
}

float BandedCosts::at(int row, int column) const {
  const auto r = static_cast<std::size_t>(row);
  return costs_[offsets_[r] + static_cast<std::size_t>(column - band_[r].begin)];
}

Alignment AlignOpenEnds(const BandedCosts& costs) {
  const int rows = costs.rows();
  Alignment alignment;
  if (rows == 0 || costs.columns() == 0) {
    return alignment;
  }
  // Accumulated costs and the step into each cell, banded like the local costs. Before the
  // first query frame every target frame is a free start.
  std::vector<double> total(costs.cells(), kUnreachable);
  std::vector<std::uint8_t> from(costs.cells(), kNoStep);
  std::vector<std::size_t> offsets(static_cast<std::size_t>(rows) + 1, 0);
  for (int row = 0; row < rows; ++row) {
    const BandRow& range = costs.band(row);
    offsets[static_cast<std::size_t>(row) + 1] =
        offsets[static_cast<std::size_t>(row)] + static_cast<std::size_t>(range.end - range.begin);
  }
  const auto cell = [&](int row, int column) {
    return offsets[static_cast<std::size_t>(row)] +
           static_cast<std::size_t>(column - costs.band(row).begin);
  };
  // The accumulated cost at a cell; 0 on the free start row -1, unreachable outside the band.
  const auto totalAt = [&](int row, int column) {
    if (row < 0) {
      return 0.0;
    }
    const BandRow& range = costs.band(row);
    return column >= range.begin && column < range.end ? total[cell(row, column)] : kUnreachable;
  };
  const auto costAt = [&](int row, int column) {
    const BandRow& range = costs.band(row);
    return column >= range.begin && column < range.end ? static_cast<double>(costs.at(row, column))
                                                       : kUnreachable;
  };
  for (int row = 0; row < rows; ++row) {
    const BandRow& range = costs.band(row);
    for (int column = range.begin; column < range.end; ++column) {
      double best = kUnreachable;
      std::uint8_t bestStep = kNoStep;
      const auto consider = [&](double value, std::size_t step) {
        if (value < best) {
          best = value;
          bestStep = static_cast<std::uint8_t>(step);
        }
      };
      for (std::size_t s = 0; s < 3; ++s) {  // the target advances by 1, 2 or 3
        consider(totalAt(row - 1, column - kSteps[s].columns), s);
      }
      if (row >= 1) {  // two query frames on this target frame
        const double between = costAt(row - 1, column);
        consider(between + totalAt(row - 2, column - 1), 3);
        if (row >= 2) {  // three
          consider(between + costAt(row - 2, column) + totalAt(row - 3, column - 1), 4);
        }
      }
      if (bestStep != kNoStep) {
        total[cell(row, column)] = best + costs.at(row, column);
        from[cell(row, column)] = bestStep;
      }
    }
  }
  const BandRow& last = costs.band(rows - 1);
  int end = -1;
  for (int column = last.begin; column < last.end; ++column) {
    if (total[cell(rows - 1, column)] < kUnreachable &&
        (end < 0 || total[cell(rows - 1, column)] < total[cell(rows - 1, end)])) {
      end = column;
    }
  }
  if (end < 0) {
    return alignment;
  }
  alignment.found = true;
  alignment.cost = total[cell(rows - 1, end)] / rows;
  alignment.columns.assign(static_cast<std::size_t>(rows), 0);
  int row = rows - 1;
  int column = end;
  while (row >= 0) {
    const Step step = kSteps[from[cell(row, column)]];
    for (int covered = row; covered > row - step.rows; --covered) {
      alignment.columns[static_cast<std::size_t>(covered)] = column;
    }
    row -= step.rows;
    column -= step.columns;
  }
  return alignment;
}

std::vector<BandRow> BandAround(const Alignment& coarse, int factor, int rows, int columns,
                                int radius) {
  std::vector<BandRow> band(static_cast<std::size_t>(std::max(rows, 0)));
  const int coarseRows = static_cast<int>(coarse.columns.size());
  if (coarseRows == 0 || factor <= 0) {
    return band;
  }
  for (int row = 0; row < rows; ++row) {
    const int at = std::min(row / factor, coarseRows - 1);
    const int first = std::max(at - 1, 0);
    const int lastRow = std::min(at + 1, coarseRows - 1);
    int low = coarse.columns[static_cast<std::size_t>(first)];
    int high = low;
    for (int r = first; r <= lastRow; ++r) {
      low = std::min(low, coarse.columns[static_cast<std::size_t>(r)]);
      high = std::max(high, coarse.columns[static_cast<std::size_t>(r)]);
    }
    BandRow& range = band[static_cast<std::size_t>(row)];
    range.begin = std::clamp(low * factor - radius, 0, columns);
    range.end = std::clamp((high + 1) * factor + radius, range.begin, columns);
  }
  return band;
}

}  // namespace voxtar::textcheck
