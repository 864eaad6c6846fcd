// SPDX-License-Identifier: GPL-3.0-or-later
// The recording session's additions to the main dialog: the take keys from the text box and the
// capture margins chosen in the context menu, on the simulated engine. What the session does
// after a take is tests/session's.
#include <gtest/gtest.h>
#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTest>
#include <filesystem>
#include <string>

#include "history/take_history.h"
#include "tests/ui/main_dialog_fixture.h"
#include "ui/level_meter_widget.h"
#include "ui/voxtar_dlg.h"
#include "ui/waveform_view.h"

namespace voxtar::testing {
namespace {

constexpr int kRate = 22050;

// The item whose text starts with `path`'s last part, through the submenus named before it.
QAction* MenuItem(const QMenu& menu, std::initializer_list<const char*> path) {
  const QMenu* at = &menu;
  QAction* found = nullptr;
  for (const char* part : path) {
    found = nullptr;
    for (QAction* action : at->actions()) {
      if (action->text().startsWith(QString::fromUtf8(part))) {
        found = action;
        break;
      }
    }
    if (found == nullptr) {
      return nullptr;
    }
    if (found->menu() != nullptr) {
      at = found->menu();
    }
  }
  return found;
}

class MainDialogSession : public MainDialogCommands {
 protected:
  void SetUp() override {
    MainDialogCommands::SetUp();
    Load({u"a001.wav Hello there", u"a002.wav Good morning", u"a003.wav Good night"});
    box = dialog.GetDlgItem(ui::ids::kPromptText);
    box->setFocus();
  }
  void Key(Qt::Key key, Qt::KeyboardModifiers modifiers) {
    QTest::keyClick(box, key, modifiers);
    QCoreApplication::processEvents();
    SettleSave(dialog);
  }
  // A take as a speaker gives it: room, voice at `amplitude`, room.
  void SpeakATake(double amplitude) {
    Key(Qt::Key_R, Qt::ControlModifier);
    ASSERT_EQ(dialog.audioMode(), session::AudioMode::Recording);
    Speak(amplitude);
    Key(Qt::Key_R, Qt::ControlModifier);
  }
  void Speak(double amplitude) {
    engine.SetInputTone(440, 0.0);
    engine.Advance(400);
    engine.SetInputTone(440, amplitude);
    engine.Advance(800);
    engine.SetInputTone(440, 0.0);
    engine.Advance(500);
  }
  void Session(void (*change)(session::SessionSettings&)) {
    session::SessionSettings changed = dialog.session().settings();
    change(changed);
    dialog.SetSessionSettings(changed);
  }
  int Earlier(const char16_t* name) const {
    return history::TakeHistory(dir.wide() + u"/Prompt/unit/", dir.wide()).CountEarlier(name);
  }

  QWidget* box = nullptr;
};

TEST_F(MainDialogSession, TheTakeKeysWorkFromTheTextBoxAndLeaveItsKeysAlone) {
  // A take over a001's: the history keeps the one-second take it replaces.
  const std::string silent = ReadBytes(dir / "Prompt/unit/a001.wav");
  SpeakATake(0.3);
  ASSERT_EQ(Earlier(u"a001.wav"), 1);
  const std::string saved = ReadBytes(dir / "Prompt/unit/a001.wav");

  // Undo take swaps the two, and back.
  Key(Qt::Key_Z, Qt::ControlModifier | Qt::AltModifier);
  EXPECT_EQ(ReadBytes(dir / "Prompt/unit/a001.wav"), silent);
  // F3 finds the silent take, from wherever the window is.
  Click(ui::ids::kNext);
  box->setFocus();
  QTRY_VERIFY(!dialog.flow().judge().measuring());
  Key(Qt::Key_F3, Qt::NoModifier);
  EXPECT_EQ(dialog.lesson().prompts.currentIndex, 0);
  Key(Qt::Key_Z, Qt::ControlModifier | Qt::AltModifier);
  EXPECT_EQ(ReadBytes(dir / "Prompt/unit/a001.wav"), saved);
  EXPECT_EQ(Earlier(u"a001.wav"), 1);

  Key(Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(Text(dialog, ui::ids::kPlay), QStringLiteral("<Playing>"));
  EXPECT_EQ(dialog.audioMode(), session::AudioMode::Playing);
  engine.Advance(1100);
  QCoreApplication::processEvents();
  EXPECT_EQ(Text(dialog, ui::ids::kPlay), QStringLiteral("Play"));

  // A take thrown away leaves the prompt's take and its history as they were.
  Key(Qt::Key_R, Qt::ControlModifier);
  engine.Advance(600);
  Key(Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(dialog.audioMode(), session::AudioMode::Idle);
  EXPECT_EQ(Text(dialog, ui::ids::kRecord), QStringLiteral("Record"));
  EXPECT_EQ(ReadBytes(dir / "Prompt/unit/a001.wav"), saved);
  EXPECT_EQ(Earlier(u"a001.wav"), 1);
  EXPECT_EQ(dialog.levelMeter()->takeCheckText(), QStringLiteral("The take was discarded"));
  // Play plays the prompt's take, not what was discarded.
  Key(Qt::Key_P, Qt::ControlModifier);
  EXPECT_EQ(dialog.audioMode(), session::AudioMode::Playing);
  Key(Qt::Key_P, Qt::ControlModifier);

  // The box's own keys are its own: typing, undo and redo.
  static_cast<QPlainTextEdit*>(box)->moveCursor(QTextCursor::End);
  QTest::keyClicks(box, QStringLiteral("!"));
  Key(Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(Text(dialog, ui::ids::kPromptText), QStringLiteral("Hello there"));
  Key(Qt::Key_Y, Qt::ControlModifier);
  EXPECT_EQ(Text(dialog, ui::ids::kPromptText), QStringLiteral("Hello there!"));
  EXPECT_EQ(dialog.audioMode(), session::AudioMode::Idle);
  EXPECT_TRUE(services.boxes.empty());
}

TEST_F(MainDialogSession, CaptureMarginsChosenInTheMenuFrameTheTake) {
  {
    QMenu menu;
    dialog.FillContextMenu(menu);
    MenuItem(menu, {"Capture &margins", "&Before Record", "250 ms"})->trigger();
  }
  {
    QMenu menu;
    dialog.FillContextMenu(menu);
    MenuItem(menu, {"Capture &margins", "&After Stop", "500 ms"})->trigger();
    EXPECT_FALSE(MenuItem(menu, {"Check &level"})->isEnabled());
  }
  EXPECT_EQ(dialog.session().settings().preRollMs, 250u);
  EXPECT_EQ(dialog.session().settings().postRollMs, 500u);
  ASSERT_TRUE(engine.preRollRunning());
  EXPECT_EQ(dialog.levelMeter()->mode(), ui::LevelMeterWidget::Mode::Meter);

  engine.Advance(1000);
  Key(Qt::Key_R, Qt::ControlModifier);
  engine.Advance(700);
  Key(Qt::Key_R, Qt::ControlModifier);
  // Still capturing the end of the last word.
  EXPECT_EQ(dialog.audioMode(), session::AudioMode::Recording);
  engine.Advance(600);
  QCoreApplication::processEvents();
  SettleSave(dialog);
  EXPECT_EQ(dialog.audioMode(), session::AudioMode::Idle);
  EXPECT_EQ(Text(dialog, ui::ids::kRecord), QStringLiteral("Record"));

  audio::WaveElement take;
  std::string error;
  ASSERT_TRUE(audio::ReadWaveFile(dir.wide() + u"/Prompt/unit/a001.wav", &take, &error)) << error;
  EXPECT_EQ(take.frames(), static_cast<std::uint64_t>(kRate) * (250 + 700 + 500) / 1000);
  EXPECT_EQ(dialog.flow().lastMarks().recordMs, 250u);
  EXPECT_EQ(dialog.flow().lastMarks().stopMs, 950u);

  // Off again: the input is let go.
  Session([](session::SessionSettings& s) { s.preRollMs = 0; });
  EXPECT_FALSE(engine.preRollRunning());
}

}  // namespace
}  // namespace voxtar::testing
