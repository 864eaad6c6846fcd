// SPDX-License-Identifier: GPL-3.0-or-later
// How a wave device tells the operator that an operation failed. The program shows each report
// as a message box without owner window, with an OK button and no icon; tests record them.
//
// Threads: called on the GUI thread; a report may wait until the operator dismissed it.
#pragma once

#include <QString>

namespace voxtar::audio {

class FailureReporter {
 public:
  virtual ~FailureReporter() = default;
  // `text` is the box's message and `caption` its caption.
  virtual void ReportFailure(const QString& text, const QString& caption) = 0;
};

}  // namespace voxtar::audio
