// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/voxtar_app.h"

#include <QApplication>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <cstdio>
#include <utility>

#include "app/about_dlg.h"
#include "audio/pulse_audio_engine.h"
#include "lesson/working_directory.h"
#include "platform/file_system.h"
#include "platform/window_services.h"
#include "ui/voxtar_dlg.h"

// Outside the namespace: the resource initialiser is a global function.
static void InitVoxtarResources() {
  Q_INIT_RESOURCE(voxtar);
}

namespace voxtar::app {

QIcon ProgramIcon() {
  InitVoxtarResources();
  QIcon icon;
  for (int size : {16, 24, 32, 48, 256}) {
    icon.addFile(QStringLiteral(":/voxtar/icon-%1.png").arg(size), QSize(size, size));
  }
  return icon;
}

bool CheckTemplateRecording(platform::WindowServices& services) {
  // Looked up in the working directory ignoring case, as the audio engine will; a directory of
  // that name does not pass.
  std::FILE* file = platform::OpenFile(lesson::workdir::kTemplateRecording, "rb");
  if (file == nullptr) {
    const std::u16string directory = platform::CurrentDirectory();
    services.ShowMessageBox(
        {nullptr,
         QCoreApplication::translate("CVoxtarApp", "Cannot open ") +
             QString::fromStdU16String(std::u16string(lesson::workdir::kTemplateRecording)),
         QString::fromStdU16String(directory), platform::BoxIcon::None});
    return false;
  }
  // Only that it opens matters; the format shows when a recording is made.
  std::fclose(file);
  return true;
}

namespace {

constexpr const char* kLastDirectoryKey = "lastWorkingDirectory";

// The names a desktop matches the windows against: the window class (the application name) and
// the desktop entry. Set before the first window, the chooser's included, since the window
// system reads them once.
// "unknown option '--bogus'", the option as it was given, for the first unknown `names`.
std::optional<QString> UnknownOption(const QStringList& arguments, const QStringList& names) {
  if (names.isEmpty()) {
    return std::nullopt;
  }
  for (const QString& argument : arguments) {
    if (argument == QLatin1String("--")) {
      break;
    }
    QString name = argument.section(QLatin1Char('='), 0, 0);
    while (name.startsWith(QLatin1Char('-'))) {
      name.remove(0, 1);
    }
    if (argument.startsWith(QLatin1Char('-')) && name == names.front()) {
      return QStringLiteral("unknown option '%1'").arg(argument);
    }
  }
  return QStringLiteral("unknown option '%1'").arg(names.front());
}

void NameApplicationWindows() {
  QApplication::setApplicationName(QString::fromUtf8(ui::kApplicationName));
  QApplication::setApplicationVersion(QString::fromUtf8(kApplicationVersion));
  QGuiApplication::setDesktopFileName(QString::fromUtf8(kDesktopId));
}

}  // namespace

StartCommand ParseCommandLine(const QStringList& arguments) {
  StartCommand command;
  const auto usage = [&command](const QString& error) {
    command.action = StartCommand::Action::Usage;
    command.error = error;
    return command;
  };
  const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
  const QCommandLineOption version(QStringLiteral("version"));
  const QCommandLineOption choose(QStringLiteral("choose"));
  QCommandLineParser parser;
  // "-odd" is one unknown option, not -o -d -d.
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  parser.addOptions({help, version, choose});
  const bool parsed = parser.parse(QStringList(QStringLiteral("voxtar")) + arguments);
  // Help and version are answered whatever else the line holds, the one given first.
  for (const QString& name : parser.optionNames()) {
    if (help.names().contains(name)) {
      command.action = StartCommand::Action::Help;
      return command;
    }
    if (version.names().contains(name)) {
      command.action = StartCommand::Action::Version;
      return command;
    }
  }
  if (parser.isSet(choose)) {
    command.directory = StartCommand::Directory::Choose;
  }
  if (!parsed) {
    // An unknown option, as given; else Qt's words ("unexpected value after '--choose'").
    QString error = parser.errorText();
    if (error.endsWith(QLatin1Char('.'))) {
      error.chop(1);
    }
    error = error.left(1).toLower() + error.mid(1);
    return usage(UnknownOption(arguments, parser.unknownOptionNames()).value_or(error));
  }
  const QStringList directories = parser.positionalArguments();
  if (directories.size() > 1) {
    return usage(QStringLiteral("more than one DIR"));
  }
  if (!directories.isEmpty()) {
    if (command.directory == StartCommand::Directory::Choose) {
      return usage(QStringLiteral("--choose takes no DIR"));
    }
    command.directory = StartCommand::Directory::Given;
    command.path = directories.front();
  }
  return command;
}

QString HelpText() {
  return QStringLiteral(
      "Usage: voxtar [DIR]\n"
      "       voxtar --choose\n"
      "Records the spoken prompts of a language-course lesson.\n"
      "\n"
      "Works in DIR, or in the current directory; the working directory must hold\n"
      "the template recording \"sample.wav\".\n"
      "\n"
      "Options:\n"
      "      --choose        choose the working directory in a directory chooser\n"
      "                      first; it opens at the last working directory used\n"
      "  -h, --help          show this help and exit\n"
      "      --version       show the version and exit\n"
      "\n"
      "Exit status: 0 when the program ran or the chooser was cancelled, 1 when it\n"
      "refused to start (no \"sample.wav\", or DIR cannot be entered), 2 on bad usage.\n");
}

QString DefaultSettingsFile() {
  // ~/.config/voxtar/voxtar.conf: named after the program, as Linux programs keep theirs.
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/voxtar/voxtar.conf");
}

std::optional<QString> ChooseDirectoryWithDialog(const QString& start) {
  const QString chosen = QFileDialog::getExistingDirectory(
      nullptr, QCoreApplication::translate("CVoxtarApp", "Voxtar - choose the working directory"),
      start);
  if (chosen.isEmpty()) {
    return std::nullopt;
  }
  return chosen;
}

CVoxtarApp::CVoxtarApp(platform::WindowServices& services, DirectoryChooser chooser,
                       QString settingsFile)
    : services_(services), chooser_(std::move(chooser)), settingsFile_(std::move(settingsFile)) {
  InitVoxtarResources();
}

bool CVoxtarApp::EnterDirectory(const QString& directory) {
  const QString absolute = QDir(directory).absolutePath();
  if (!QFileInfo(absolute).isDir() || !QDir::setCurrent(absolute)) {
    services_.ShowMessageBox({nullptr,
                              QCoreApplication::translate("CVoxtarApp", "Cannot open directory"),
                              QDir::toNativeSeparators(absolute), platform::BoxIcon::None});
    return false;
  }
  QSettings settings(settingsFile_, QSettings::IniFormat);
  settings.setValue(QString::fromLatin1(kLastDirectoryKey), absolute);
  return true;
}

int CVoxtarApp::Run(const StartCommand& command) {
  NameApplicationWindows();
  refused_ = false;
  if (command.directory == StartCommand::Directory::Given && !EnterDirectory(command.path)) {
    return kExitRefused;
  }
  if (command.directory == StartCommand::Directory::Choose) {
    QString start = QSettings(settingsFile_, QSettings::IniFormat)
                        .value(QString::fromLatin1(kLastDirectoryKey))
                        .toString();
    if (start.isEmpty() || !QFileInfo(start).isDir()) {
      start = QDir::homePath();
    }
    const std::optional<QString> chosen = chooser_(start);
    if (!chosen) {
      return kExitOk;
    }
    if (!EnterDirectory(*chosen)) {
      return kExitRefused;
    }
  }
  InitInstance();
  return refused_ ? kExitRefused : kExitOk;
}

bool CVoxtarApp::InitInstance() {
  refused_ = !CheckTemplateRecording(services_);
  if (refused_) {
    return false;
  }
  QApplication::setOrganizationName(QString::fromUtf8(kOrganizationName));
  NameApplicationWindows();
  QApplication::setWindowIcon(ProgramIcon());

  // Made here, after the start-up check, and kept until the dialog is gone.
  audio::PulseAudioEngine engine(QGuiApplication::desktopFileName().toStdString());
  // Connected while the window comes up, so the first take of a sitting starts as quickly as the
  // others.
  engine.Warm();
  ui::CVoxtarDlg dialog(engine, services_, settingsFile_);
  dialog.SetAboutHandler([](QWidget* parent) {
    CAboutDlg about(parent);
    about.exec();
  });
  dialog.DoModal();
  return false;
}

}  // namespace voxtar::app
