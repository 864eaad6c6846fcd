// SPDX-License-Identifier: GPL-3.0-or-later
// Takes made up in memory, written to files and measured as the recorder's takes are.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "measures/judgement.h"
#include "measures/take_measures.h"
#include "platform/utf8.h"
#include "testing/synthetic_take.h"
#include "tests/support/temp_dir.h"

namespace voxtar::measures {

// The problems as voxtar-lesson names them: "ok", or "clipped, cut at the end".
inline std::string Names(const Judgement& judgement) {
  std::string text;
  for (const Finding& finding : judgement.findings) {
    text += (text.empty() ? "" : ", ") + std::string(ProblemName(finding.problem));
  }
  return text.empty() ? "ok" : text;
}

class TakeFiles : public ::testing::Test {
 protected:
  std::u16string Wide(std::string_view name) const {
    return platform::FromUtf8((tmp / name).string());
  }
  // Saves the take as `name` and measures the file.
  TakeMeasures Measure(const audio::WaveElement& take, std::string_view name = "take.wav") const {
    std::string error;
    TakeMeasures measured;
    if (!audio::WriteWaveFile(take, Wide(name), &error) ||
        !MeasureTakeFile(Wide(name), &measured, &error)) {
      ADD_FAILURE() << error;
    }
    return measured;
  }

  testing::TempDir tmp;
};

}  // namespace voxtar::measures
