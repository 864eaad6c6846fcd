// The wave device's failure reports as the operator sees them: a message box without owner
// window (the other windows stay usable), an OK button and no icon.
#pragma once

#include "audio/failure_reporter.h"

namespace voxtar {

class FailureBoxes final : public audio::FailureReporter {
 public:
  void ReportFailure(const QString& text, const QString& caption) override;
};

}  // namespace voxtar
