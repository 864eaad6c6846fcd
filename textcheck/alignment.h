// SPDX-License-Identifier: GPL-3.0-or-later
// Dynamic time warping of a query (every frame aligned) into a target that is open at both ends:
// the alignment may start and end anywhere in the target, so it finds the part of the target the
// whole query fits best. Run once with the reading as query and once with the reference speech,
// it tells how much of the text the reading covers and how much of the reading the text covers.
//
// Steps: each query frame is paid for once, at the target frame it meets. From one query frame to
// the next the target advances by 1, 2 or 3 frames, or 2 or 3 query frames in a row meet the same
// target frame, so the two may differ in pace by up to three times either way. The cost is the
// sum over the query frames, divided by their number, so alignments of any target span compare.
//
// Only the cells of a band are looked at: the alignment of long readings stays cheap.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace voxtar::textcheck {

// The target frames query frame `row` may meet: [begin, end).
struct BandRow {
  int begin = 0;
  int end = 0;
};

// Local costs, for the cells of a band only.
class BandedCosts {
 public:
  BandedCosts() = default;
  // Every target frame for every query frame.
  BandedCosts(int rows, int columns);
  // The given ranges, one per query frame; each is clipped to [0, columns).
  BandedCosts(std::vector<BandRow> band, int columns);

  int rows() const { return static_cast<int>(band_.size()); }
  int columns() const { return columns_; }
  const BandRow& band(int row) const { return band_[static_cast<std::size_t>(row)]; }
  bool contains(int row, int column) const;
  std::size_t cells() const { return costs_.size(); }

  // The cost at a cell inside the band.
  float& at(int row, int column);
  float at(int row, int column) const;

  // Sets every cell to cost(row, column).
  template <typename Cost>
  void Fill(Cost&& cost) {
    for (int row = 0; row < rows(); ++row) {
      const BandRow& range = band(row);
      for (int column = range.begin; column < range.end; ++column) {
        at(row, column) = cost(row, column);
      }
    }
  }

 private:
  std::vector<BandRow> band_;
  std::vector<std::size_t> offsets_;  // of each row's first cell in costs_
  std::vector<float> costs_;
  int columns_ = 0;
};

struct Alignment {
  bool found = false;  // false: no path fits the band and the steps
  double cost = 0.0;   // mean local cost over the query frames
  // The target frame each query frame meets.
  std::vector<int> columns;

  int firstColumn() const { return columns.front(); }
  int lastColumn() const { return columns.back(); }
};

// The cheapest alignment of every query frame (row) into the target (columns), open at both ends
// of the target.
Alignment AlignOpenEnds(const BandedCosts& costs);

// The band within `radius` frames of a coarse alignment made on frames `factor` times longer:
// coarse.columns[r] is the coarse target frame of coarse query frame r.
std::vector<BandRow> BandAround(const Alignment& coarse, int factor, int rows, int columns,
                                int radius);

}  // namespace voxtar::textcheck
