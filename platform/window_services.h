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
  // Runs the open-file dialog; the chosen file's full path, or nothing when cancelled. Never
  // changes the working directory.
  virtual std::optional<QString> GetOpenFileName(const OpenFileRequest& request) = 0;
};

// The real ones: Qt's message box and file dialog. The application makes one and hands it to
// the windows that need it.
class QtWindowServices final : public WindowServices {
 public:
  void ShowMessageBox(const MessageBoxRequest& request) override;
  std::optional<QString> GetOpenFileName(const OpenFileRequest& request) override;
};

}  // namespace voxtar::platform
