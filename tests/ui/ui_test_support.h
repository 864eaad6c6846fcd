// SPDX-License-Identifier: GPL-3.0-or-later
// Shared by the window tests: message boxes and the file dialog replaced by recorders, and
// running code while a modal window is up (the working directory and the lesson files are
// tests/support's).
#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/window_services.h"
#include "testing/simulated_audio_engine.h"
#include "tests/support/temp_dir.h"

namespace voxtar::testing {

// An engine for the dialogs whose tests play and record nothing.
inline audio::AudioEngine& QuietEngine() {
  static audio::SimulatedAudioEngine engine;
  return engine;
}

// Records the boxes and file requests handed to it instead of showing them.
class FakeWindowServices final : public platform::WindowServices {
 public:
  void ShowMessageBox(const platform::MessageBoxRequest& request) override {
    boxes.push_back(request);
    if (whileBoxUp) {
      // Taken once: what the operator does while this box waits.
      std::exchange(whileBoxUp, nullptr)();
    }
  }
  // Answers with the next of `choices`, or the cancel button when none is left.
  int ShowChoiceBox(const platform::ChoiceBoxRequest& request) override {
    choiceBoxes.push_back(request);
    if (whileBoxUp) {
      std::exchange(whileBoxUp, nullptr)();
    }
    if (choices.empty()) {
      return request.cancelButton >= 0 ? request.cancelButton
                                       : static_cast<int>(request.buttons.size()) - 1;
    }
    const int choice = choices.front();
    choices.erase(choices.begin());
    return choice;
  }
  std::optional<QString> GetOpenFileName(const platform::OpenFileRequest& request) override {
    fileRequests.push_back(request);
    return nextFile;
  }

  std::vector<platform::MessageBoxRequest> boxes;
  std::vector<platform::ChoiceBoxRequest> choiceBoxes;
  std::vector<int> choices;
  std::vector<platform::OpenFileRequest> fileRequests;
  std::optional<QString> nextFile;
  std::function<void()> whileBoxUp;
};

// Runs `action` every 10 ms once the event loop turns (e.g. while a modal window is up) until it
// returns true or `tries` turns have passed.
inline void WhenModal(const std::function<bool()>& action, int tries = 300) {
  auto* timer = new QTimer(qApp);
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, action, tries]() mutable {
    if (action() || --tries <= 0) {
      timer->stop();
      timer->deleteLater();
    }
  });
  timer->start();
}

// The application's active modal window of the given class, if it is up.
template <typename T>
T* ActiveModal() {
  return qobject_cast<T*>(QApplication::activeModalWidget());
}

}  // namespace voxtar::testing
