// SPDX-License-Identifier: GPL-3.0-or-later
// The progress of judging a lesson's takes, on a terminal: "unit01.idx: checking texts 12 of 40",
// once the work has taken longer than a second, redrawn at most ten times a second, and wiped
// before anything else is written. Nothing when stderr is no terminal.
#pragma once

#include <unistd.h>

#include <chrono>
#include <iostream>
#include <string>
#include <utility>

#include "measures/lesson_judging.h"

namespace voxtar::cli {

class JudgingMeter {
 public:
  JudgingMeter(std::ostream& err, std::string label)
      : err_(err),
        label_(std::move(label)),
        shown_(&err == &std::cerr && ::isatty(STDERR_FILENO) == 1),
        start_(Clock::now()) {}
  ~JudgingMeter() { Clear(); }
  JudgingMeter(const JudgingMeter&) = delete;
  JudgingMeter& operator=(const JudgingMeter&) = delete;

  measures::JudgingProgress Callback() {
    return [this](std::string_view stage, std::size_t done, std::size_t total) {
      Show(stage, done, total);
    };
  }
  void Clear() {
    if (drawn_) {
      err_ << "\r\x1b[K" << std::flush;
      drawn_ = false;
    }
  }

 private:
  using Clock = std::chrono::steady_clock;
  void Show(std::string_view stage, std::size_t done, std::size_t total) {
    const Clock::time_point now = Clock::now();
    if (!shown_ || now - start_ < std::chrono::seconds(1) ||
        (now - drawnAt_ < std::chrono::milliseconds(100) && done < total)) {
      return;
    }
    err_ << "\r\x1b[K" << label_ << ": " << stage << ' ' << done << " of " << total << std::flush;
    drawn_ = true;
    drawnAt_ = now;
  }

  std::ostream& err_;
  std::string label_;
  bool shown_;
  bool drawn_ = false;
  Clock::time_point start_;
  Clock::time_point drawnAt_{};
};

}  // namespace voxtar::cli
