// SPDX-License-Identifier: GPL-3.0-or-later
// The report as one HTML file that stands on its own: inline CSS and SVG, no script, nothing
// fetched, so it opens offline and mails as one attachment; it prints black on white, a chart
// never split across two pages. Per lesson: its counts, a chart of each take's loudness and true
// peak against its prompt number with the profile's band and the lesson's median, a histogram of
// the takes' lengths and a table of the flagged takes; then the totals. Every chart mark carries
// a title with the take's name and figures, which screen readers and tooltips show. No Qt.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "measures/delivery_profile.h"
#include "measures/take_measures.h"
#include "report/lesson_report.h"

namespace voxtar::report {

// What the takes were judged by.
struct Judged {
  measures::DeliveryProfile profile;
  std::optional<measures::TakeFormat> expectedFormat;  // unset: formats were not judged
};

std::string RenderHtml(const std::vector<LessonReport>& lessons, const Judged& judged);

// Text (UTF-8, untrusted: a lesson's names and texts, a path as given) for HTML text and
// attribute values: & < > " ' as character references, bytes that are not UTF-8 as U+FFFD, and
// control characters as their visible pictures (U+241B for ESC), so that nothing in it can become
// markup or vanish.
std::string EscapeHtml(std::string_view text);

}  // namespace voxtar::report
