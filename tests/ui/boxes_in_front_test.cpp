// SPDX-License-Identifier: GPL-3.0-or-later
// Message boxes under a real X server and window manager (tests/support/with-x-server.sh): a box
// shown while the main dialog is up is stacked above it and has the focus, so Enter closes the box
// and not the dialog. Only a window system decides this; the offscreen platform has no stacking.
#include <gtest/gtest.h>

#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "audio/pulse_audio_engine.h"
#include "audio/wave_element.h"
#include "platform/window_services.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/main_dialog_fixture.h"
#include "tests/ui/ui_test_support.h"
#include "ui/voxtar_dlg.h"

namespace voxtar::ui {
namespace {

// The real boxes; the open-file dialog answers at once with the lesson to open.
class RealBoxes final : public platform::WindowServices {
 public:
  void ShowMessageBox(const platform::MessageBoxRequest& request) override {
    real_.ShowMessageBox(request);
  }
  int ShowChoiceBox(const platform::ChoiceBoxRequest& request) override {
    return real_.ShowChoiceBox(request);
  }
  std::optional<QString> GetOpenFileName(const platform::OpenFileRequest& /*request*/) override {
    return nextFile;
  }
  std::optional<QString> nextFile;

 private:
  platform::QtWindowServices real_;
};

// The window ids an X property of the root window lists, in its order.
std::vector<WId> RootWindows(const char* property) {
  QProcess xprop;
  xprop.start(QStringLiteral("xprop"), {QStringLiteral("-root"), QString::fromLatin1(property)});
  xprop.waitForFinished(5000);
  std::vector<WId> ids;
  const QString out = QString::fromLatin1(xprop.readAllStandardOutput());
  static const QRegularExpression kId(QStringLiteral("0x[0-9a-fA-F]+"));
  for (const QRegularExpressionMatch& match : kId.globalMatch(out)) {
    ids.push_back(static_cast<WId>(match.captured().toULongLong(nullptr, 16)));
  }
  return ids;
}

struct Front {
  bool above = false;
  bool focused = false;
};

Front Where(const QWidget& box, const QWidget& dialog) {
  const std::vector<WId> stacking = RootWindows("_NET_CLIENT_LIST_STACKING");
  const auto at = [&stacking](WId id) { return std::find(stacking.begin(), stacking.end(), id); };
  const std::vector<WId> active = RootWindows("_NET_ACTIVE_WINDOW");
  return {at(box.winId()) != stacking.end() && at(dialog.winId()) < at(box.winId()),
          !active.empty() && active.front() == box.winId()};
}

// Runs `trigger`, which shows a box while `dialog` is up and waits on it; checks that the box
// comes up above the dialog with the focus and that a real Enter key closes it. A box that never
// gets there is closed by the test after 5 s so that nothing hangs.
void ExpectInFrontAndClosedByEnter(QWidget& dialog, const QString& caption,
                                   const std::function<void()>& trigger) {
  bool seen = false;
  QPointer<QMessageBox> answered;
  Front front;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QMessageBox* box = nullptr;
    for (QWidget* window : QApplication::topLevelWidgets()) {
      if (auto* shown = qobject_cast<QMessageBox*>(window); shown && shown->isVisible()) {
        box = shown;
      }
    }
    if (box == nullptr) {
      return;
    }
    if (seen) {
      // The key takes a moment to arrive; but nothing may wait on a box nobody answers.
      if (box != answered || std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << (box == answered ? "Enter did not close the box " : "another box: ")
                      << box->windowTitle().toStdString();
        box->button(QMessageBox::Ok)->click();
      }
      return;
    }
    front = Where(*box, dialog);
    if (front.above && front.focused) {
      seen = true;
      answered = box;
      deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
      EXPECT_TRUE(box->windowTitle().contains(caption)) << box->windowTitle().toStdString();
      // A key of the X server, delivered to whichever window has the focus.
      QProcess::execute(QStringLiteral("xdotool"),
                        {QStringLiteral("key"), QStringLiteral("Return")});
    } else if (std::chrono::steady_clock::now() > deadline) {
      seen = true;
      ADD_FAILURE() << "the box is " << (front.above ? "" : "not ") << "above the dialog and "
                    << (front.focused ? "" : "not ") << "focused";
      box->button(QMessageBox::Ok)->click();
    }
  });
  poll.start(20);
  trigger();
  poll.stop();
  EXPECT_TRUE(seen) << "no box came up";
  for (QWidget* window : QApplication::topLevelWidgets()) {
    EXPECT_FALSE(qobject_cast<QMessageBox*>(window) && window->isVisible())
        << "the box is still up";
  }
  EXPECT_TRUE(dialog.isVisible()) << "Enter went to the dialog";
}

class BoxesInFront : public ::testing::Test {
 protected:
  void SetUp() override {
    if (qgetenv("QT_QPA_PLATFORM") != "xcb") {
      GTEST_SKIP() << "needs tests/support/with-x-server.sh";
    }
  }
  static void Open(ui::CVoxtarDlg& dialog, RealBoxes& services,
                   const std::filesystem::path& index) {
    // As DoModal runs it: application-modal.
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    testing::OpenThroughTheDialog(dialog, services, index);
  }
};

// Play finds no sound server: the device's box about it comes up in front.
TEST_F(BoxesInFront, ABoxOfTheWaveDeviceIsAboveTheDialogFocusedAndClosedByEnter) {
  if (qEnvironmentVariableIsSet("VOXTAR_PULSE_PID")) {
    GTEST_SKIP() << "runs where there is no sound server";
  }
  testing::TempDir dir;
  testing::ScopedWorkingDirectory cwd(dir.path());
  std::string error;
  ASSERT_TRUE(audio::WriteWaveFile(audio::MakeElement(0x010002, 22050, 1, 2205),
                                   dir.wide() + u"/sample.wav", &error));
  testing::WriteBytes(dir / "Ini/unit.idx", testing::IndexBytes({u"a001.wav Hello there"}));
  RealBoxes services;
  audio::PulseAudioEngine engine;
  ui::CVoxtarDlg dialog(engine, services);
  Open(dialog, services, dir / "Ini/unit.idx");
  ExpectInFrontAndClosedByEnter(dialog, QStringLiteral("No sound system"),
                                [&] { testing::Click(dialog, ui::ids::kPlay); });
}

// The sound server dies during a take: the "Wave Stop Error" box of the Stop comes up in front.
TEST_F(BoxesInFront, TheBoxOfALostSoundServerIsAboveTheDialogFocusedAndClosedByEnter) {
  const char* pid = std::getenv("VOXTAR_PULSE_PID");
  if (pid == nullptr || std::getenv("VOXTAR_KILL_SERVER") == nullptr) {
    GTEST_SKIP() << "runs only in its own process under with-pulseaudio.sh";
  }
  const testing::DemoWorkingDirectory demo;
  RealBoxes services;
  audio::PulseAudioEngine engine;
  ui::CVoxtarDlg dialog(engine, services);
  Open(dialog, services, demo.dir / "Ini/unit01.idx");
  testing::KillTheServerDuringATake(dialog, pid);
  ExpectInFrontAndClosedByEnter(dialog, QStringLiteral("Wave Stop Error"),
                                [&] { testing::Click(dialog, ui::ids::kRecord); });
}

}  // namespace
}  // namespace voxtar::ui
