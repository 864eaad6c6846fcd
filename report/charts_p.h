// SPDX-License-Identifier: GPL-3.0-or-later
// The report's charts, as inline SVG appended to the page.
#pragma once

#include <string>

#include "measures/delivery_profile.h"
#include "report/lesson_report.h"

namespace voxtar::report {

// Each read take's integrated loudness (a dot; a square when flagged) and true peak (a dash)
// against its prompt number: one mark, class "take-mark", per take. Behind them the band the
// profile judges loudness by (its target and tolerance, and how far from the lesson's median a
// take may be), its true-peak limit and the lesson's median.
void AppendLevelChart(std::string& html, const LessonReport& lesson,
                      const measures::DeliveryProfile& profile);

// How many of the read takes are how long, in bins of a round width.
void AppendLengthHistogram(std::string& html, const LessonReport& lesson);

// `value` with `decimals` decimals, whatever the locale ("-23.0").
std::string Decimal(double value, int decimals);

}  // namespace voxtar::report
