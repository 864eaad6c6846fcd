#include "app/voxtar_app.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QTest>

#include "app/about_dlg.h"
#include "platform/file_system.h"
#include "tests/ui/ui_test_support.h"
#include "ui/voxtar_dlg.h"

namespace voxtar {
namespace {

using testing::ActiveModal;
using testing::WhenModal;

TEST(StartUp, RefusesWithoutTheTemplateRecording) {
  testing::TempDir dir;
  testing::ScopedWorkingDirectory cwd(dir.path());
  testing::FakeWindowServices services;
  CVoxtarApp app;
  EXPECT_FALSE(app.InitInstance());
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
  EXPECT_TRUE(CheckTemplateRecording());
  EXPECT_TRUE(services.boxes.empty());
  // A directory of that name cannot be read as a file.
  std::filesystem::remove(dir / "sample.wav");
  std::filesystem::create_directory(dir / "sample.wav");
  EXPECT_FALSE(CheckTemplateRecording());
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
    auto* dialog = ActiveModal<CVoxtarDlg>();
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
    QTest::keyClick(dialog->GetDlgItem(ids::kStatistics), Qt::Key_F1);
    QTest::keyClick(dialog->GetDlgItem(ids::kStatistics), Qt::Key_Escape);
    return true;
  });
  CVoxtarApp app;
  EXPECT_FALSE(app.InitInstance());
  EXPECT_EQ(caption, QStringLiteral("Voxtar"));
  EXPECT_TRUE(iconShown);
  EXPECT_TRUE(aboutShown);
  EXPECT_EQ(QApplication::organizationName(), QStringLiteral("Voxtar-2015"));
  EXPECT_EQ(QApplication::applicationVersion(), QStringLiteral("1.0.0.1"));
  EXPECT_TRUE(services.boxes.empty());
  CVoxtarDlg::SetAboutHandler(nullptr);
}

}  // namespace
}  // namespace voxtar
