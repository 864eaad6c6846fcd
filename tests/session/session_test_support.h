// Shared by the session's tests: the failures a wave device or the flow reports, recorded instead
// of shown.
#pragma once

#include <QString>
#include <vector>

#include "audio/failure_reporter.h"

namespace voxtar::testing {

class RecordedFailures final : public audio::FailureReporter {
 public:
  struct Report {
    QString text;
    QString caption;
  };
  void ReportFailure(const QString& text, const QString& caption) override {
    reports.push_back({text, caption});
  }
  std::vector<Report> reports;
};

}  // namespace voxtar::testing
