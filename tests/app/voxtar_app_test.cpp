// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/voxtar_app.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QTest>
#include <array>
#include <cstdio>

#include "app/about_dlg.h"
#include "platform/file_system.h"
#include "tests/support/help_and_man.h"
#include "tests/ui/ui_test_support.h"
#include "ui/voxtar_dlg.h"

namespace voxtar::app {
namespace {

using testing::ActiveModal;
using testing::WhenModal;

TEST(StartUp, RefusesWithoutTheTemplateRecording) {
  testing::TempDir dir;
  testing::ScopedWorkingDirectory cwd(dir.path());
  testing::FakeWindowServices services;
  CVoxtarApp app(services);
  EXPECT_FALSE(app.InitInstance());
  EXPECT_TRUE(app.refused());
  ASSERT_EQ(services.boxes.size(), 1u);
  EXPECT_EQ(services.boxes[0].owner, nullptr);
  EXPECT_EQ(services.boxes[0].text, QStringLiteral("Cannot open sample.wav"));
  EXPECT_EQ(services.boxes[0].caption, QString::fromStdU16String(platform::CurrentDirectory()));
  EXPECT_EQ(services.boxes[0].icon, platform::BoxIcon::None);
  // No window was made and nothing was named.
  EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
  EXPECT_NE(QApplication::organizationName(), QStringLiteral("Voxtar-2015"));
}

TEST(StartUp, AnyOpenableSampleWavPassesTheCheck) {
  testing::TempDir dir;
  testing::ScopedWorkingDirectory cwd(dir.path());
  testing::FakeWindowServices services;
  testing::WriteBytes(dir / "sample.wav", "");
  EXPECT_TRUE(CheckTemplateRecording(services));
  EXPECT_TRUE(services.boxes.empty());
  // A directory of that name cannot be read as a file.
  std::filesystem::remove(dir / "sample.wav");
  std::filesystem::create_directory(dir / "sample.wav");
  EXPECT_FALSE(CheckTemplateRecording(services));
}

TEST(StartUp, RunsTheMainDialogUntilItEnds) {
  testing::TempDir dir;
  testing::ScopedWorkingDirectory cwd(dir.path());
  testing::FakeWindowServices services;
  testing::WriteBytes(dir / "sample.wav", "RIFF");
  QString caption;
  bool iconShown = false;
  bool aboutShown = false;
  WhenModal([&] {
    auto* dialog = ActiveModal<ui::CVoxtarDlg>();
    if (dialog == nullptr) {
      return false;
    }
    if (!dialog->isActiveWindow()) {
      dialog->activateWindow();
      return false;
    }
    caption = dialog->windowTitle();
    iconShown = !dialog->windowIcon().isNull();
    WhenModal([&] {
      auto* about = ActiveModal<CAboutDlg>();
      if (about == nullptr) {
        return false;
      }
      aboutShown = true;
      QTest::keyClick(about, Qt::Key_Escape);
      return true;
    });
    QTest::keyClick(dialog->GetDlgItem(ui::ids::kStatistics), Qt::Key_F1);
    QTest::keyClick(dialog->GetDlgItem(ui::ids::kStatistics), Qt::Key_Escape);
    return true;
  });
  CVoxtarApp app(services);
  EXPECT_FALSE(app.InitInstance());
  EXPECT_EQ(caption, QStringLiteral("Voxtar"));
  EXPECT_TRUE(iconShown);
  EXPECT_TRUE(aboutShown);
  EXPECT_EQ(QApplication::organizationName(), QStringLiteral("Voxtar-2015"));
  EXPECT_EQ(QApplication::applicationVersion(), QStringLiteral("1.0.0.1"));
  EXPECT_FALSE(app.refused());
  EXPECT_TRUE(services.boxes.empty());
}

TEST(CommandLine, ReadsDirectoryChooseHelpAndVersion) {
  using Action = StartCommand::Action;
  using Directory = StartCommand::Directory;
  struct Case {
    QStringList arguments;
    Action action;
    Directory directory;
    QString path;
  };
  const Case cases[] = {
      {{}, Action::Run, Directory::Current, {}},
      {{"lessons"}, Action::Run, Directory::Given, "lessons"},
      {{"--choose"}, Action::Run, Directory::Choose, {}},
      {{"--", "-odd name"}, Action::Run, Directory::Given, "-odd name"},
      {{"-h"}, Action::Help, Directory::Current, {}},
      {{"lessons", "--help"}, Action::Help, Directory::Given, {}},
      {{"--version", "--bogus"}, Action::Version, Directory::Current, {}},
      {{"--bogus"}, Action::Usage, Directory::Current, {}},
      {{"-odd"}, Action::Usage, Directory::Current, {}},
      {{"--choose=yes"}, Action::Usage, Directory::Current, {}},
      {{"--bogus", "-h"}, Action::Help, Directory::Current, {}},
      {{"-"}, Action::Run, Directory::Given, "-"},
      {{"a", "b"}, Action::Usage, Directory::Given, {}},
      {{"--choose", "a"}, Action::Usage, Directory::Choose, {}},
  };
  for (const Case& c : cases) {
    const StartCommand command = ParseCommandLine(c.arguments);
    const QString args = c.arguments.join(QLatin1Char(' '));
    EXPECT_EQ(command.action, c.action) << args.toStdString();
    EXPECT_EQ(command.error.isEmpty(), c.action != Action::Usage) << args.toStdString();
    if (c.action == Action::Run) {
      EXPECT_EQ(command.directory, c.directory) << args.toStdString();
      EXPECT_EQ(command.path, c.path) << args.toStdString();
    }
  }
}

TEST(CommandLine, ManPageListsWhatHelpLists) {
  const testing::Outline help = testing::OutlineOfHelp(HelpText().toStdString());
  const testing::Outline man = testing::OutlineOfManPage(testing::ReadBytes(VOXTAR_MAN_PAGE));
  EXPECT_EQ(man.synopsis, help.synopsis);
  ASSERT_FALSE(help.entries.empty());
  for (const auto& [section, entries] : help.entries) {
    EXPECT_EQ(
        man.entries.count(section) == 0 ? std::vector<std::string>{} : man.entries.at(section),
        entries)
        << section;
  }
}

// The real program: help and version are answered without a display.
TEST(CommandLine, HelpAndVersionNeedNoDisplay) {
  for (const char* option : {"--help", "--version"}) {
    const std::string command =
        std::string("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" VOXTAR_PROGRAM "' ") +
        option;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::array<char, 4096> buffer{};
    std::string out;
    for (std::size_t got = 0; (got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) {
      out.append(buffer.data(), got);
    }
    const int status = ::pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << option;
    EXPECT_EQ(out, option == std::string("--help") ? HelpText().toStdString()
                                                   : std::string("voxtar ") + kVersion + "\n");
  }
}

// Desktop starts: a directory given or chosen, the last one kept in a settings file of the test.
class StartIn : public ::testing::Test {
 protected:
  StartIn() : cwd_(tmp.path()) {}

  QString Settings() const { return QString::fromStdString((tmp / "settings.conf").string()); }
  QString LastDirectory() const {
    return QSettings(Settings(), QSettings::IniFormat).value("lastWorkingDirectory").toString();
  }
  QString Dir(std::string_view relative) const {
    return QString::fromStdString((tmp / relative).string());
  }
  CVoxtarApp App(const std::optional<QString>& choice = std::nullopt) {
    return CVoxtarApp(
        services,
        [this, choice](const QString& start) {
          chooserStarts.push_back(start);
          return choice;
        },
        Settings());
  }
  // Ends the main dialog once it is up; `shown` tells whether it came.
  void EscapeTheMainDialog() {
    WhenModal([this] {
      auto* dialog = ActiveModal<ui::CVoxtarDlg>();
      if (dialog == nullptr) {
        return false;
      }
      shownIn = QDir::currentPath();
      QTest::keyClick(dialog->GetDlgItem(ui::ids::kStatistics), Qt::Key_Escape);
      return true;
    });
  }

  testing::TempDir tmp;
  testing::FakeWindowServices services;
  std::vector<QString> chooserStarts;
  QString shownIn;

 private:
  testing::ScopedWorkingDirectory cwd_;
};

TEST_F(StartIn, AGivenDirectoryIsEnteredAndKept) {
  testing::WriteBytes(tmp / "course/sample.wav", "RIFF");
  EscapeTheMainDialog();
  EXPECT_EQ(App().Run(ParseCommandLine({Dir("course")})), kExitOk);
  EXPECT_EQ(shownIn, Dir("course"));
  EXPECT_TRUE(services.boxes.empty());
  EXPECT_EQ(LastDirectory(), Dir("course"));
  EXPECT_EQ(QGuiApplication::desktopFileName(), QString::fromLatin1(kDesktopId));
}

TEST_F(StartIn, AMissingDirectoryOrTemplateIsRefusedWithABoxAndAFailureStatus) {
  EXPECT_EQ(App().Run(ParseCommandLine({Dir("gone")})), kExitRefused);
  ASSERT_EQ(services.boxes.size(), 1u);
  EXPECT_EQ(services.boxes[0].text, QStringLiteral("Cannot open directory"));
  EXPECT_EQ(services.boxes[0].caption, Dir("gone"));
  EXPECT_EQ(services.boxes[0].owner, nullptr);
  EXPECT_EQ(QDir::currentPath(), QString::fromStdString(tmp.path().string()));
  // A file is not a directory either.
  testing::WriteBytes(tmp / "file", "");
  EXPECT_EQ(App().Run(ParseCommandLine({Dir("file")})), kExitRefused);
  EXPECT_EQ(services.boxes.size(), 2u);
  EXPECT_TRUE(LastDirectory().isEmpty());

  // Entered, but no template recording: the start-up box, then a failure status.
  std::filesystem::create_directory(tmp / "empty");
  EXPECT_EQ(App().Run(ParseCommandLine({Dir("empty")})), kExitRefused);
  ASSERT_EQ(services.boxes.size(), 3u);
  EXPECT_EQ(services.boxes[2].text, QStringLiteral("Cannot open sample.wav"));
  EXPECT_EQ(services.boxes[2].caption, Dir("empty"));
  // The same for a plain start in the working directory.
  EXPECT_EQ(App().Run(StartCommand{}), kExitRefused);
  EXPECT_EQ(services.boxes.size(), 4u);
  EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
}

TEST_F(StartIn, TheChooserOpensAtTheLastDirectoryAndCancelEndsQuietly) {
  const QString before = QDir::currentPath();
  const StartCommand choose = ParseCommandLine({"--choose"});
  // Nothing kept yet: the home directory.
  EXPECT_EQ(App().Run(choose), kExitOk);
  EXPECT_EQ(QDir::currentPath(), before);

  testing::WriteBytes(tmp / "course/sample.wav", "RIFF");
  EscapeTheMainDialog();
  EXPECT_EQ(App(Dir("course")).Run(choose), kExitOk);
  EXPECT_EQ(shownIn, Dir("course"));
  EXPECT_EQ(App().Run(choose), kExitOk);  // cancelled
  ASSERT_EQ(chooserStarts.size(), 3u);
  EXPECT_EQ(chooserStarts[0], QDir::homePath());
  EXPECT_EQ(chooserStarts[2], Dir("course"));
  EXPECT_TRUE(services.boxes.empty());

  // A kept directory that is gone no longer serves as the start.
  std::filesystem::remove_all(tmp / "course");
  EXPECT_EQ(App().Run(choose), kExitOk);
  EXPECT_EQ(chooserStarts.back(), QDir::homePath());
}

TEST_F(StartIn, AChosenDirectoryWithoutTemplateIsRefused) {
  std::filesystem::create_directory(tmp / "wrong");
  EXPECT_EQ(App(Dir("wrong")).Run(ParseCommandLine({"--choose"})), kExitRefused);
  ASSERT_EQ(services.boxes.size(), 1u);
  EXPECT_EQ(services.boxes[0].text, QStringLiteral("Cannot open sample.wav"));
  EXPECT_EQ(services.boxes[0].caption, Dir("wrong"));
}

}  // namespace
}  // namespace voxtar::app
