// SPDX-License-Identifier: GPL-3.0-or-later
// Measures of a tone in plain samples (normalised doubles, one channel): its level, its pitch and
// where it is loud. Shared by the engine tests and the dialog's end-to-end test.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace voxtar::testing {

// Root mean square of samples[from, to).
inline double Rms(const std::vector<double>& samples, std::size_t from = 0,
                  std::size_t to = SIZE_MAX) {
  to = std::min(to, samples.size());
  if (from >= to) {
    return 0.0;
  }
  double sum = 0.0;
  for (std::size_t i = from; i < to; ++i) {
    sum += samples[i] * samples[i];
  }
  return std::sqrt(sum / static_cast<double>(to - from));
}

// Frequency of a steady tone in samples[from, to), from its rising zero crossings.
inline double ToneFrequency(const std::vector<double>& samples, int rate, std::size_t from = 0,
                            std::size_t to = SIZE_MAX) {
  to = std::min(to, samples.size());
  std::optional<double> first;
  double last = 0.0;
  int crossings = 0;
  for (std::size_t i = from + 1; i < to; ++i) {
    if (samples[i - 1] < 0.0 && samples[i] >= 0.0) {
      const double at = static_cast<double>(i - 1) +
                        samples[i - 1] / (samples[i - 1] - samples[i]);  // interpolated
      if (!first) {
        first = at;
      } else {
        ++crossings;
      }
      last = at;
    }
  }
  if (!first || crossings == 0) {
    return 0.0;
  }
  return crossings * rate / (last - *first);
}

// The tone's frequency as the median over windows of 50 ms in samples[from, to): a sound heard
// back through a busy sound server may carry a dropout of a few milliseconds, which shifts an
// average over the whole span but only one or two windows. A wrong rate moves every window.
inline double MedianToneFrequency(const std::vector<double>& samples, int rate,
                                  std::size_t from = 0, std::size_t to = SIZE_MAX) {
  to = std::min(to, samples.size());
  const auto window = static_cast<std::size_t>(rate / 20);
  std::vector<double> estimates;
  for (std::size_t at = from; at + window <= to; at += window) {
    estimates.push_back(ToneFrequency(samples, rate, at, at + window));
  }
  if (estimates.empty()) {
    return ToneFrequency(samples, rate, from, to);
  }
  std::nth_element(estimates.begin(),
                   estimates.begin() + static_cast<std::ptrdiff_t>(estimates.size() / 2),
                   estimates.end());
  return estimates[estimates.size() / 2];
}

// Index of the first and one past the last sample whose magnitude reaches `threshold`.
inline std::pair<std::size_t, std::size_t> LoudSpan(const std::vector<double>& samples,
                                                    double threshold) {
  std::size_t first = samples.size();
  std::size_t last = 0;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    if (std::abs(samples[i]) >= threshold) {
      first = std::min(first, i);
      last = i + 1;
    }
  }
  return {first, last};
}

}  // namespace voxtar::testing
