// SPDX-License-Identifier: GPL-3.0-or-later
#include <iostream>
#include <string>
#include <vector>

#include "cli/lesson_tool.h"
#include "textcheck/take_text_judge.h"

int main(int argc, char** argv) {
  // Every judgement of the takes checks them against their texts.
  voxtar::textcheck::PlugSpeechCheck();
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    args.emplace_back(argv[i]);
  }
  const int status = voxtar::cli::RunLessonTool(args, std::cout, std::cerr);
  std::cout.flush();
  if (!std::cout) {
    return voxtar::cli::kExitFailed;  // output lost (a full disk, a closed pipe)
  }
  return status;
}
