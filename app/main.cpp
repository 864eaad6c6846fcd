// SPDX-License-Identifier: GPL-3.0-or-later
#include <QApplication>
#include <QLocale>
#include <QStringList>
#include <cstdio>

#include "app/voxtar_app.h"
#include "platform/window_services.h"
#include "textcheck/take_text_judge.h"
#include "ui/language.h"

namespace {

QStringList Arguments(int argc, char** argv) {
  QStringList arguments;
  for (int i = 1; i < argc; ++i) {
    arguments.append(QString::fromLocal8Bit(argv[i]));
  }
  return arguments;
}

// Help and version are answered here; the other actions go on to the start-up.
bool Answered(const voxtar::app::StartCommand& command) {
  using Action = voxtar::app::StartCommand::Action;
  if (command.action == Action::Help) {
    std::fputs(voxtar::app::HelpText().toLocal8Bit().constData(), stdout);
    return true;
  }
  if (command.action == Action::Version) {
    std::printf("voxtar %s\n", voxtar::kVersion);
    return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  // Help and version need no display, so they are answered before the application exists. Qt's
  // own options (-platform and the like) are only taken out of argv by the application.
  if (Answered(voxtar::app::ParseCommandLine(Arguments(argc, argv)))) {
    return voxtar::app::kExitOk;
  }
  QApplication application(argc, argv);
  // The window speaks the desktop's language (LANG, LC_MESSAGES, LANGUAGE) where it has a
  // translation, English otherwise; help and usage on the terminal stay English.
  voxtar::ui::InstallTranslations(application, QLocale::system());
  const voxtar::app::StartCommand command = voxtar::app::ParseCommandLine(Arguments(argc, argv));
  if (Answered(command)) {
    return voxtar::app::kExitOk;
  }
  if (command.action == voxtar::app::StartCommand::Action::Usage) {
    std::fprintf(stderr, "voxtar: %s\nTry 'voxtar --help' for more information.\n",
                 command.error.toLocal8Bit().constData());
    return voxtar::app::kExitUsage;
  }
  // Every judgement of the takes checks them against their texts.
  voxtar::textcheck::PlugSpeechCheck();
  voxtar::platform::QtWindowServices services;
  voxtar::app::CVoxtarApp app(services);
  return app.Run(command);
}
