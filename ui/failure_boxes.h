// SPDX-License-Identifier: GPL-3.0-or-later
// The wave device's failure reports as the operator sees them: a message box without owner
// window (the other windows stay usable), an OK button and no icon.
#pragma once

#include "audio/failure_reporter.h"

namespace voxtar::platform {
class WindowServices;
}

namespace voxtar::ui {

class FailureBoxes final : public audio::FailureReporter {
 public:
  // `services` shows the boxes; it outlives this reporter.
  explicit FailureBoxes(platform::WindowServices& services) : services_(services) {}

  void ReportFailure(const QString& text, const QString& caption) override;

 private:
  platform::WindowServices& services_;
};

}  // namespace voxtar::ui
