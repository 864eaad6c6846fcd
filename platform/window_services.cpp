#include "platform/window_services.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QWindow>

namespace voxtar::platform {

namespace {

// The window the operator is looking at: the active one, else the one shown last that is still
// up. Null before any window exists (the start-up box).
QWidget* FrontWindow() {
  if (QWidget* active = QApplication::activeWindow()) {
    return active->window();
  }
  const QWidgetList windows = QApplication::topLevelWidgets();
  for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
    QWidget* window = *it;
    if (window->isVisible() && !window->isMinimized() && window->windowHandle() != nullptr &&
        (window->windowType() == Qt::Window || window->windowType() == Qt::Dialog)) {
      return window;
    }
  }
  return nullptr;
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
  // Yet it must not open behind the window the operator works in, where nobody sees it while the
  // handler waits on it: it is made transient for that window (not its child, so it disables
  // nothing), which has window managers stack it above and give it the focus.
  if (QWidget* front = FrontWindow()) {
    box.winId();
    box.windowHandle()->setTransientParent(front->windowHandle());
  }
  QEventLoop loop;
  QObject::connect(&box, &QDialog::finished, &loop, &QEventLoop::quit);
  box.show();
  box.raise();
  box.activateWindow();
  loop.exec();
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
