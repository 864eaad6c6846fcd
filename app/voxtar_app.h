// SPDX-License-Identifier: GPL-3.0-or-later
// The program's start-up: reads the command line, enters the working directory (given, or chosen
// in a directory chooser for a desktop start), refuses to run without the template recording
// "sample.wav" there, prepares the application, and runs the main dialog modally; the program
// ends when the dialog ends.
#pragma once

#include <QIcon>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "version.h"

namespace voxtar::platform {
class WindowServices;
}

namespace voxtar::app {

inline constexpr const char* kOrganizationName = "Voxtar-2015";
inline constexpr const char* kApplicationVersion = kVersion;
// The desktop entry, icons and metainfo are installed under this id; the window names it so that
// a desktop shows the program's own icon for it.
inline constexpr const char* kDesktopId = "io.github.voxtar.Voxtar";

// Exit statuses of the program.
inline constexpr int kExitOk = 0;
inline constexpr int kExitRefused = 1;  // no "sample.wav", or the directory cannot be entered
inline constexpr int kExitUsage = 2;

// The program icon from the resources (icon 128).
QIcon ProgramIcon();

// Opens "sample.wav" in the working directory for reading. When it cannot be opened, shows
// "Cannot open sample.wav" with the working directory as caption, without owner, and returns
// false.
bool CheckTemplateRecording(platform::WindowServices& services);

// What the command line asks for.
struct StartCommand {
  enum class Action { Run, Help, Version, Usage };
  enum class Directory { Current, Given, Choose };
  Action action = Action::Run;
  Directory directory = Directory::Current;
  QString path;   // Directory::Given
  QString error;  // Action::Usage: what is wrong
};

// `arguments` without the program name.
StartCommand ParseCommandLine(const QStringList& arguments);
// The text of `voxtar --help`.
QString HelpText();

// The user's settings file: the last working directory of a desktop start and the chosen sound
// devices. Deliberately not the organisation name given to the application, under which the
// program keeps nothing.
QString DefaultSettingsFile();

// Shows a directory chooser opening at `start`; the chosen directory, or nothing when cancelled.
using DirectoryChooser = std::function<std::optional<QString>(const QString& start)>;
std::optional<QString> ChooseDirectoryWithDialog(const QString& start);

class CVoxtarApp {
 public:
  // `services` shows the boxes and file dialogs of the program's windows; it outlives the
  // application object.
  explicit CVoxtarApp(platform::WindowServices& services,
                      DirectoryChooser chooser = ChooseDirectoryWithDialog,
                      QString settingsFile = DefaultSettingsFile());

  // The start-up in the working directory: false on every path (the program ends when it
  // returns). Needs a QApplication. refused() tells whether it refused to start.
  bool InitInstance();
  bool refused() const { return refused_; }

  // Enters the directory the command asks for, then InitInstance. Returns the exit status:
  // kExitRefused after the box of a refused start, kExitOk otherwise (a cancelled chooser too).
  int Run(const StartCommand& command);

 private:
  // Changes to `directory`; on failure shows "Cannot open directory" with the path as caption.
  bool EnterDirectory(const QString& directory);

  platform::WindowServices& services_;
  DirectoryChooser chooser_;
  QString settingsFile_;
  bool refused_ = false;
};

}  // namespace voxtar::app
