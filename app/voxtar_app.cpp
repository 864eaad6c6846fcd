#include "app/voxtar_app.h"

#include <QApplication>
#include <cstdio>

#include "app/about_dlg.h"
#include "audio/pulse_audio_engine.h"
#include "platform/file_system.h"
#include "platform/window_services.h"
#include "ui/voxtar_dlg.h"

// Outside the namespace: the resource initialiser is a global function.
static void InitVoxtarResources() {
  Q_INIT_RESOURCE(voxtar);
}

namespace voxtar {

QIcon ProgramIcon() {
  InitVoxtarResources();
  QIcon icon;
  for (int size : {16, 24, 32, 48, 256}) {
    icon.addFile(QStringLiteral(":/voxtar/icon-%1.png").arg(size), QSize(size, size));
  }
  return icon;
}

bool CheckTemplateRecording() {
  // Looked up in the working directory ignoring case, as the audio engine will; a directory of
  // that name does not pass.
  std::FILE* file = platform::OpenFile(kTemplateRecording, "rb");
  if (file == nullptr) {
    const std::u16string directory = platform::CurrentDirectory();
    platform::ShowMessageBox(nullptr, QStringLiteral("Cannot open sample.wav"),
                             QString::fromStdU16String(directory));
    return false;
  }
  // Only that it opens matters; the format shows when a recording is made.
  std::fclose(file);
  return true;
}

CVoxtarApp::CVoxtarApp() {
  InitVoxtarResources();
}

bool CVoxtarApp::InitInstance() {
  if (!CheckTemplateRecording()) {
    return false;
  }
  QApplication::setOrganizationName(QString::fromUtf8(kOrganizationName));
  QApplication::setApplicationName(QString::fromUtf8(kApplicationName));
  QApplication::setApplicationVersion(QString::fromUtf8(kApplicationVersion));
  QApplication::setWindowIcon(ProgramIcon());
  QGuiApplication::setDesktopFileName(QStringLiteral("voxtar"));
  CVoxtarDlg::SetAboutHandler([](QWidget* parent) {
    CAboutDlg about(parent);
    about.exec();
  });

  // Made here, after the start-up check, and kept until the dialog is gone.
  audio::PulseAudioEngine engine(QGuiApplication::desktopFileName().toStdString());
  CVoxtarDlg dialog(engine);
  dialog.DoModal();
  return false;
}

}  // namespace voxtar
