// SPDX-License-Identifier: GPL-3.0-or-later
// A take's judgement in the operator's language: the window words the problems and figures that
// the judgement holds. Without a translation the words are the judgement's own English ones.
#pragma once

#include <QString>

#include "measures/judgement.h"

namespace voxtar::ui {

// One finding: "too quiet (peak -34.0 dB)".
QString FindingText(const measures::Finding& finding);
// The strip's line: "ok, peak -6.2 dB, 2.4 s", or the findings joined with ", ".
QString JudgementText(const measures::Judgement& judgement);

}  // namespace voxtar::ui
