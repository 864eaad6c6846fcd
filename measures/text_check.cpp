// SPDX-License-Identifier: GPL-3.0-or-later
#include "measures/text_check.h"

#include <atomic>

namespace voxtar::measures {

namespace {

std::atomic<TextJudge*> plugged{nullptr};

}  // namespace

void PlugTextJudge(TextJudge* judge) {
  plugged.store(judge);
}

TextJudge* PluggedTextJudge() {
  return plugged.load();
}

}  // namespace voxtar::measures
