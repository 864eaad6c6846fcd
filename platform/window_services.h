// SPDX-License-Identifier: GPL-3.0-or-later
// The window system's stand-ins that the dialogs and the wave device use: message boxes and the
// open-file dialog. Behind an interface, passed to whoever shows them, so that tests hand in their
// own and no test ever blocks on a modal window. Qt Widgets.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

namespace voxtar::platform {

enum class BoxIcon { None, Warning };

// One message box with an OK button only. owner may be null (a box without owner window, which
// leaves every other window of the program enabled).
struct MessageBoxRequest {
  QWidget* owner = nullptr;
  QString text;
  QString caption;
  BoxIcon icon = BoxIcon::None;
};

// A question with buttons of its own, owned by `owner` (modal to it), for choices that could lose
// work: the answer is the index of the button chosen.
struct ChoiceBoxRequest {
  QWidget* owner = nullptr;
  QString text;
  QString caption;
  BoxIcon icon = BoxIcon::Warning;
  QStringList buttons;    // left to right
  int defaultButton = 0;  // what Enter chooses
  int cancelButton = -1;  // what Escape and the close box choose; -1: the last button
};

struct OpenFileRequest {
  QWidget* owner = nullptr;
  QString initialPath;  // directory or file to start in
  QString filter;       // "Description (*.ext)"
  QString defaultSuffix;
  bool fileMustExist = true;
};

class WindowServices {
 public:
  virtual ~WindowServices() = default;
  // Shows the box and returns when the operator dismissed it.
  virtual void ShowMessageBox(const MessageBoxRequest& request) = 0;
  // Shows the question and returns the index of the button the operator chose.
  virtual int ShowChoiceBox(const ChoiceBoxRequest& request) = 0;
  // Runs the open-file dialog; the chosen file's full path, or nothing when cancelled. Never
  // changes the working directory.
  virtual std::optional<QString> GetOpenFileName(const OpenFileRequest& request) = 0;
};

// The real ones: Qt's message box and file dialog. The application makes one and hands it to
// the windows that need it.
class QtWindowServices final : public WindowServices {
 public:
  void ShowMessageBox(const MessageBoxRequest& request) override;
  int ShowChoiceBox(const ChoiceBoxRequest& request) override;
  std::optional<QString> GetOpenFileName(const OpenFileRequest& request) override;
};

}  // namespace voxtar::platform
