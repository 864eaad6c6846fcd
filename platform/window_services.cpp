// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/window_services.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QWindow>
#include <algorithm>
#include <vector>

namespace voxtar::platform {

namespace {

// The window the operator is looking at: the active one, else a window of the program that is
// up (the program has one main window). Null before any window exists (the start-up box).
QWidget* FrontWindow() {
  if (QWidget* active = QApplication::activeWindow()) {
    return active->window();
  }
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (window->isVisible() && !window->isMinimized() && window->windowHandle() != nullptr &&
        (window->windowType() == Qt::Window || window->windowType() == Qt::Dialog)) {
      return window;
    }
  }
  return nullptr;
}

// A box without owner disables nothing, yet it must not open behind the window the operator works
// in, where nobody sees it while the handler waits on it: it is made transient for that window
// (not its child, so it disables nothing), which has window managers stack it above and give it
// the focus.
void KeepInFront(QWidget& box) {
  if (QWidget* front = FrontWindow(); front != nullptr && front != &box) {
    box.winId();
    box.windowHandle()->setTransientParent(front->windowHandle());
  }
}

}  // namespace

void QtWindowServices::ShowMessageBox(const MessageBoxRequest& request) {
  QMessageBox box(request.icon == BoxIcon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon,
                  request.caption, request.text, QMessageBox::Ok, request.owner);
  // Shown exactly as given: a path or an error text with something like a tag in it is not
  // markup.
  box.setTextFormat(Qt::PlainText);
  if (request.owner != nullptr) {
    // An owned box disables its owner only, like an owned message box.
    box.setWindowModality(Qt::WindowModal);
    box.exec();
    return;
  }
  // Without owner the box disables nothing: the other windows keep taking input and notices
  // are still delivered while it waits.
  box.setWindowModality(Qt::NonModal);
  KeepInFront(box);
  QEventLoop loop;
  QObject::connect(&box, &QDialog::finished, &loop, &QEventLoop::quit);
  box.show();
  box.raise();
  box.activateWindow();
  loop.exec();
}

int QtWindowServices::ShowChoiceBox(const ChoiceBoxRequest& request) {
  QMessageBox box(request.icon == BoxIcon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon,
                  request.caption, request.text, QMessageBox::NoButton, request.owner);
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(request.owner != nullptr ? Qt::WindowModal : Qt::ApplicationModal);
  const int last = static_cast<int>(request.buttons.size()) - 1;
  const int cancel = request.cancelButton >= 0 ? request.cancelButton : last;
  std::vector<QPushButton*> buttons;
  for (int i = 0; i <= last; ++i) {
    // Roles only place the buttons; which one was chosen is read back by identity.
    const QMessageBox::ButtonRole role =
        i == cancel ? QMessageBox::RejectRole : QMessageBox::AcceptRole;
    buttons.push_back(box.addButton(request.buttons[i], role));
  }
  if (request.defaultButton >= 0 && request.defaultButton <= last) {
    box.setDefaultButton(buttons[static_cast<std::size_t>(request.defaultButton)]);
  }
  if (cancel >= 0 && cancel <= last) {
    box.setEscapeButton(buttons[static_cast<std::size_t>(cancel)]);
  }
  if (request.owner == nullptr) {
    KeepInFront(box);
  }
  box.exec();
  const auto chosen = std::find(buttons.begin(), buttons.end(), box.clickedButton());
  return chosen == buttons.end() ? cancel : static_cast<int>(chosen - buttons.begin());
}

std::optional<QString> QtWindowServices::GetOpenFileName(const OpenFileRequest& request) {
  QFileDialog dialog(request.owner);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(request.fileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  if (!request.filter.isEmpty()) {
    dialog.setNameFilter(request.filter);
  }
  QString suffix = request.defaultSuffix;
  if (suffix.startsWith(QLatin1String("*."))) {
    suffix.remove(0, 2);
  } else if (suffix.startsWith(QLatin1Char('.'))) {
    suffix.remove(0, 1);
  }
  if (!suffix.isEmpty()) {
    dialog.setDefaultSuffix(suffix);
  }
  if (!request.initialPath.isEmpty()) {
    const QFileInfo start(request.initialPath);
    if (start.isDir() || request.initialPath.endsWith(QLatin1Char('/'))) {
      dialog.setDirectory(request.initialPath);
    } else {
      dialog.setDirectory(start.absolutePath());
      dialog.selectFile(start.fileName());
    }
  }
  // The dialog reads directories by absolute path and never calls chdir, so the working
  // directory stays as it was.
  if (dialog.exec() != QDialog::Accepted) {
    return std::nullopt;
  }
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) {
    return std::nullopt;
  }
  return QDir::toNativeSeparators(QFileInfo(chosen.first()).absoluteFilePath());
}

}  // namespace voxtar::platform
