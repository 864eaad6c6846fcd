#include "platform/window_services.h"

#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace voxtar::platform {

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
  QEventLoop loop;
  QObject::connect(&box, &QDialog::finished, &loop, &QEventLoop::quit);
  box.show();
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
