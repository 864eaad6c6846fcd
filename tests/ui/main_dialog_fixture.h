// SPDX-License-Identifier: GPL-3.0-or-later
// Shared by the main dialog's tests: its controls read and clicked as the operator would, and
// two working directories with a lesson "Ini/unit.idx", one on the quiet engine and one on the
// simulated engine, whose commands are logged.
#pragma once

#include <gtest/gtest.h>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QString>
#include <QTest>
#include <QTextCursor>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/wave_element.h"
#include "testing/simulated_audio_engine.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/ui_test_support.h"
#include "ui/voxtar_dlg.h"

namespace voxtar::testing {

constexpr int kWav16 = 0x010002;  // WAV, 16-bit PCM

// What a button, the statistics line or the prompt box shows.
inline QString Text(ui::CVoxtarDlg& dialog, int id) {
  QWidget* widget = dialog.GetDlgItem(id);
  if (auto* button = qobject_cast<QPushButton*>(widget)) {
    return button->text();
  }
  if (auto* line = qobject_cast<QLineEdit*>(widget)) {
    return line->text();
  }
  return static_cast<QPlainTextEdit*>(widget)->toPlainText();
}

inline bool Enabled(ui::CVoxtarDlg& dialog, int id) {
  return dialog.GetDlgItem(id)->isEnabled();
}

// Waits until a take the dialog is saving is saved: the save runs off the GUI thread, and what
// follows it (the marker, the display, the next prompt) comes when it is over.
inline void SettleSave(ui::CVoxtarDlg& dialog) {
  EXPECT_TRUE(QTest::qWaitFor([&dialog] { return !dialog.session().saving(); }, 10000))
      << "the take's save never ended";
}

// Clicks as the operator would, and waits for a save the click started.
inline void Click(ui::CVoxtarDlg& dialog, int id) {
  QTest::mouseClick(static_cast<QPushButton*>(dialog.GetDlgItem(id)), Qt::LeftButton);
  SettleSave(dialog);
}

// Opens `index` through "Open", as the operator would, in a dialog that is up.
template <typename Services>
void OpenThroughTheDialog(ui::CVoxtarDlg& dialog, Services& services,
                          const std::filesystem::path& index) {
  services.nextFile = QString::fromStdString(index.string());
  Click(dialog, ui::ids::kOpen);
  ASSERT_EQ(dialog.lesson().state, lesson::LessonState::Saved);
}

#ifdef VOXTAR_DEMO_DIR
// A copy of the demo working directory, entered for one test.
struct DemoWorkingDirectory {
  static const std::filesystem::path& Copied(const TempDir& into) {
    std::filesystem::copy(VOXTAR_DEMO_DIR, into.path(), std::filesystem::copy_options::recursive);
    return into.path();
  }
  TempDir dir;
  ScopedWorkingDirectory cwd{Copied(dir)};
};

// Records on the first pending prompt, then kills the private sound server (by PID) mid-take.
inline void KillTheServerDuringATake(ui::CVoxtarDlg& dialog, const char* serverPid) {
  Click(dialog, ui::ids::kGoto);
  Click(dialog, ui::ids::kRecord);
  ASSERT_EQ(Text(dialog, ui::ids::kRecord), QStringLiteral("[STOP]"));
  QTest::qWait(400);
  ASSERT_EQ(std::system((std::string("kill -KILL ") + serverPid).c_str()), 0);
  QTest::qWait(300);
}
#endif

// A working directory with a lesson "Ini/unit.idx" whose prompt a001.wav is recorded.
class MainDialogWithLesson : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteBytes(dir / "sample.wav", "RIFF");
    WriteBytes(dir / "Prompt/unit/a001.wav", "RIFF");
  }
  void WriteLesson(const std::vector<std::u16string>& lines) {
    WriteBytes(dir / "Ini/unit.idx", IndexBytes(lines));
  }
  void Open(ui::CVoxtarDlg& dialog) {
    services.nextFile = QString::fromStdString((dir / "Ini/unit.idx").string());
    Click(dialog, ui::ids::kOpen);
  }
  TempDir dir;
  ScopedWorkingDirectory cwd{dir.path()};
  FakeWindowServices services;
};

// The dialog, shown, on the simulated engine, with a real template and a one-second take of
// a001.wav.
class MainDialogCommands : public ::testing::Test {
 protected:
  using Command = audio::SimulatedAudioEngine::Command;

  void SetUp() override {
    std::string error;
    ASSERT_TRUE(audio::WriteWaveFile(audio::MakeElement(kWav16, 22050, 1, 22050),
                                     (dir.wide() + u"/sample.wav"), &error))
        << error;
    sampleBytes = ReadBytes(dir / "sample.wav");
    // a001 has a take of one second.
    std::filesystem::create_directories(dir / "Prompt/unit");
    ASSERT_TRUE(audio::WriteWaveFile(audio::MakeElement(kWav16, 22050, 1, 22050),
                                     dir.wide() + u"/Prompt/unit/a001.wav", &error));
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  }
  void Load(const std::vector<std::u16string>& lines) {
    WriteBytes(dir / "Ini/unit.idx", IndexBytes(lines));
    services.nextFile = QString::fromStdString((dir / "Ini/unit.idx").string());
    Click(ui::ids::kOpen);
    ASSERT_NE(dialog.lesson().state, lesson::LessonState::NoLesson);
  }
  void Click(int id) { testing::Click(dialog, id); }
  void Type(const QString& text, bool replace = true) {
    auto* box = static_cast<QPlainTextEdit*>(dialog.GetDlgItem(ui::ids::kPromptText));
    box->setFocus();
    if (replace) {
      box->selectAll();
    } else {
      box->moveCursor(QTextCursor::End);
    }
    QTest::keyClicks(box, text);
  }
  int CountOf(Command command) const {
    int count = 0;
    for (Command logged : engine.commands()) {
      count += logged == command ? 1 : 0;
    }
    return count;
  }
  std::string IndexFile() const { return ReadBytes(dir / "Ini/unit.idx"); }

  TempDir dir;
  ScopedWorkingDirectory cwd{dir.path()};
  FakeWindowServices services;
  audio::SimulatedAudioEngine engine;
  std::string sampleBytes;
  // Declared last, the dialog goes first and closes its device while the engine exists.
  ui::CVoxtarDlg dialog{engine, services};
};

}  // namespace voxtar::testing
