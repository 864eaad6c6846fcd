// SPDX-License-Identifier: GPL-3.0-or-later
// The main dialog's keys and menus: Enter, Escape and the close box, the keys of the buttons, the
// About box from the system menu, F1 and the context menu, and the context menu's commands and
// device choices.
#include <gtest/gtest.h>
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSettings>
#include <QSignalSpy>
#include <QStringList>
#include <QTest>
#include <QTextCursor>
#include <functional>
#include <string>
#include <utility>

#include "tests/ui/main_dialog_fixture.h"
#include "ui/level_meter_widget.h"
#include "ui/voxtar_dlg.h"

namespace voxtar::ui {
namespace {

using testing::Click;
using testing::FakeWindowServices;
using testing::MainDialogCommands;
using testing::MainDialogWithLesson;
using testing::QuietEngine;
using testing::Text;

TEST_F(MainDialogWithLesson, EnterInTheTextBoxEndsTheProgramAndWritesTheLesson) {
  WriteLesson({u"a001.wav Hello there", u"a002.wav Good morning"});
  ui::CVoxtarDlg dialog{QuietEngine(), services};
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  Open(dialog);
  auto* box = static_cast<QPlainTextEdit*>(dialog.GetDlgItem(ui::ids::kPromptText));
  box->setFocus();
  QTest::keyClick(box, Qt::Key_End);
  QTest::keyClicks(box, QStringLiteral(" you"));
  Click(dialog, ui::ids::kNext);
  ASSERT_EQ(dialog.lesson().state, lesson::LessonState::Modified);
  QSignalSpy finished(&dialog, &QDialog::finished);
  box->setFocus();
  QTest::keyClick(box, Qt::Key_Return);
  EXPECT_EQ(finished.count(), 1);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.lesson().state, lesson::LessonState::NoLesson);
  EXPECT_EQ(testing::ReadBytes(dir / "Ini/unit.idx"),
            testing::IndexBytes({u"a001.wav > Hello there you", u"a002.wav Good morning"}));
}

TEST_F(MainDialogWithLesson, EscapeAndTheCloseBoxWithoutLessonWriteNothing) {
  WriteLesson({u"a001.wav Hello there"});
  const std::string before = testing::ReadBytes(dir / "Ini/unit.idx");
  for (bool closeBox : {false, true}) {
    ui::CVoxtarDlg dialog{QuietEngine(), services};
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QSignalSpy finished(&dialog, &QDialog::finished);
    if (closeBox) {
      dialog.close();
    } else {
      QTest::keyClick(dialog.GetDlgItem(ui::ids::kStatistics), Qt::Key_Escape);
    }
    EXPECT_EQ(finished.count(), 1);
    EXPECT_FALSE(dialog.isVisible());
  }
  EXPECT_EQ(testing::ReadBytes(dir / "Ini/unit.idx"), before);
  EXPECT_TRUE(services.boxes.empty());
}

TEST_F(MainDialogWithLesson, AFocusedButtonTakesEnterAsItsOwnPress) {
  WriteLesson({u"a001.wav Hello there", u"a002.wav Good morning"});
  ui::CVoxtarDlg dialog{QuietEngine(), services};
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  Open(dialog);
  QWidget* next = dialog.GetDlgItem(ui::ids::kNext);
  next->setFocus();
  QSignalSpy finished(&dialog, &QDialog::finished);
  QTest::keyClick(next, Qt::Key_Return);
  EXPECT_EQ(dialog.lesson().prompts.currentIndex, 1);
  EXPECT_EQ(finished.count(), 0);
}

// Counts the About boxes a dialog asks for.
struct AboutCounter {
  std::function<void(QWidget*)> Handler() {
    return [this](QWidget* parent) {
      ++count;
      lastParent = parent;
    };
  }
  int count = 0;
  QWidget* lastParent = nullptr;
};

TEST(MainDialogAbout, SystemCommandsSixteenToThirtyOneOpenIt) {
  AboutCounter about;
  FakeWindowServices services;
  ui::CVoxtarDlg dialog{QuietEngine(), services};
  dialog.SetAboutHandler(about.Handler());
  EXPECT_TRUE(dialog.OnSysCommand(0x10));
  EXPECT_TRUE(dialog.OnSysCommand(0x1F));
  EXPECT_FALSE(dialog.OnSysCommand(0xF060));  // close
  EXPECT_FALSE(dialog.OnSysCommand(0x20));
  EXPECT_EQ(about.count, 2);
  EXPECT_EQ(about.lastParent, &dialog);
}

TEST(MainDialogAbout, F1AndTheContextMenuOpenIt) {
  AboutCounter about;
  FakeWindowServices services;
  ui::CVoxtarDlg dialog{QuietEngine(), services};
  dialog.SetAboutHandler(about.Handler());
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  QTest::keyClick(dialog.GetDlgItem(ui::ids::kStatistics), Qt::Key_F1);
  EXPECT_EQ(about.count, 1);

  QString itemText;
  testing::WhenModal([&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (menu == nullptr) {
      return false;
    }
    itemText = menu->actions().value(0)->text();
    QTest::keyClick(menu, Qt::Key_Down);
    QTest::keyClick(menu, Qt::Key_Return);
    return true;
  });
  const QPoint background(dialog.width() - 5, dialog.height() - 5);
  QContextMenuEvent event(QContextMenuEvent::Mouse, background, dialog.mapToGlobal(background));
  QApplication::sendEvent(&dialog, &event);
  EXPECT_EQ(itemText, QStringLiteral("&About Voxtar..."));
  EXPECT_EQ(about.count, 2);
}

TEST_F(MainDialogCommands, TheButtonKeysRunTheirCommandsFromTheTextBox) {
  Load({u"a001.wav Hello there", u"a002.wav Good morning", u"a003.wav Good night"});
  QWidget* box = dialog.GetDlgItem(ui::ids::kPromptText);
  box->setFocus();
  QTest::keyClick(box, Qt::Key_Right, Qt::AltModifier);
  EXPECT_EQ(dialog.lesson().prompts.currentIndex, 1);
  QTest::keyClick(box, Qt::Key_Right, Qt::AltModifier);
  EXPECT_EQ(dialog.lesson().prompts.currentIndex, 2);
  QTest::keyClick(box, Qt::Key_Left, Qt::AltModifier);
  EXPECT_EQ(dialog.lesson().prompts.currentIndex, 1);

  QTest::keyClick(box, Qt::Key_R, Qt::ControlModifier);
  EXPECT_EQ(Text(dialog, ui::ids::kRecord), QStringLiteral("[STOP]"));
  EXPECT_EQ(dialog.audioMode(), session::AudioMode::Recording);
  engine.Advance(300);
  QTest::keyClick(box, Qt::Key_R, Qt::ControlModifier);
  testing::SettleSave(dialog);
  EXPECT_EQ(dialog.audioMode(), session::AudioMode::Idle);
  EXPECT_EQ(Text(dialog, ui::ids::kStatistics), QStringLiteral("a002.wav :"));
  QTest::keyClick(box, Qt::Key_P, Qt::ControlModifier);
  EXPECT_EQ(Text(dialog, ui::ids::kPlay), QStringLiteral("<Playing>"));
  QTest::keyClick(box, Qt::Key_P, Qt::ControlModifier);
  EXPECT_EQ(Text(dialog, ui::ids::kPlay), QStringLiteral("Play"));
  // None of them typed into the box; its own word move still works.
  EXPECT_EQ(Text(dialog, ui::ids::kPromptText), QStringLiteral("Good morning"));
  auto* edit = static_cast<QPlainTextEdit*>(box);
  edit->moveCursor(QTextCursor::End);
  QTest::keyClick(box, Qt::Key_Left, Qt::ControlModifier);
  EXPECT_LT(edit->textCursor().position(), 12);
  EXPECT_EQ(dialog.lesson().prompts.currentIndex, 1);
  EXPECT_TRUE(services.boxes.empty());
}

TEST_F(MainDialogCommands, AKeyOfADisabledButtonDoesNothing) {
  // Before a lesson: Record and Play are disabled.
  QTest::keyClick(dialog.GetDlgItem(ui::ids::kStatistics), Qt::Key_R, Qt::ControlModifier);
  EXPECT_EQ(CountOf(Command::Open), 0);

  Load({u"a001.wav Hello there", u"a002.wav Good morning"});
  Click(ui::ids::kPlay);
  ASSERT_EQ(dialog.audioMode(), session::AudioMode::Playing);
  // "<<" is disabled on the first prompt: its key would otherwise release the playing device.
  QTest::keyClick(dialog.GetDlgItem(ui::ids::kStatistics), Qt::Key_Left, Qt::AltModifier);
  EXPECT_EQ(dialog.audioMode(), session::AudioMode::Playing);
  EXPECT_NE(dialog.device(), nullptr);
  Click(ui::ids::kNext);
  QTest::keyClick(dialog.GetDlgItem(ui::ids::kStatistics), Qt::Key_Right, Qt::AltModifier);
  EXPECT_EQ(dialog.lesson().prompts.currentIndex, 1);
  EXPECT_FALSE(dialog.IsCommandEnabled(ui::ids::kNext));
  EXPECT_TRUE(dialog.IsCommandEnabled(ui::ids::kPrevious));
}

QAction* Item(const QMenu& menu, const QString& startsWith) {
  for (QAction* action : menu.actions()) {
    if (action->text().startsWith(startsWith)) {
      return action;
    }
  }
  return nullptr;
}

TEST_F(MainDialogCommands, TheContextMenuOffersTheKeysAndTheLevelCheck) {
  QMenu menu;
  dialog.FillContextMenu(menu);
  EXPECT_EQ(menu.actions().value(0)->text(), QStringLiteral("&About Voxtar..."));
  const std::pair<const char*, const char*> keys[] = {{"&Record / Stop", "Ctrl+R"},
                                                      {"&Play / Stop", "Ctrl+P"},
                                                      {"Pre&vious prompt", "Alt+Left"},
                                                      {"&Next prompt", "Alt+Right"}};
  for (const auto& [text, key] : keys) {
    QAction* item = Item(menu, QString::fromUtf8(text));
    ASSERT_NE(item, nullptr) << text;
    EXPECT_EQ(item->text(), QString::fromUtf8(text) + u'\t' + QString::fromUtf8(key));
    EXPECT_FALSE(item->isEnabled()) << text;  // no lesson yet
  }

  Load({u"a001.wav Hello there", u"a002.wav Good morning"});
  QMenu loaded;
  dialog.FillContextMenu(loaded);
  EXPECT_TRUE(Item(loaded, QStringLiteral("&Record"))->isEnabled());
  EXPECT_FALSE(Item(loaded, QStringLiteral("Pre&vious"))->isEnabled());
  Item(loaded, QStringLiteral("&Next"))->trigger();
  EXPECT_EQ(dialog.lesson().prompts.currentIndex, 1);

  // "Check level" measures the input while idle; Record ends it.
  QAction* check = Item(loaded, QStringLiteral("Check &level"));
  ASSERT_NE(check, nullptr);
  EXPECT_FALSE(check->isChecked());
  check->trigger();
  EXPECT_TRUE(engine.levelCheckRunning());
  EXPECT_EQ(dialog.levelMeter()->mode(), LevelMeterWidget::Mode::Meter);
  QMenu checking;
  dialog.FillContextMenu(checking);
  EXPECT_TRUE(Item(checking, QStringLiteral("Check &level"))->isChecked());
  Click(ui::ids::kRecord);
  EXPECT_FALSE(engine.levelCheckRunning());
  QMenu recording;
  dialog.FillContextMenu(recording);
  EXPECT_FALSE(Item(recording, QStringLiteral("Check &level"))->isEnabled());
  Click(ui::ids::kRecord);

  // Unchecking it ends it; so does leaving the program.
  const auto toggle = [this] {
    QMenu fresh;
    dialog.FillContextMenu(fresh);
    Item(fresh, QStringLiteral("Check &level"))->trigger();
  };
  toggle();
  EXPECT_TRUE(engine.levelCheckRunning());
  toggle();
  EXPECT_FALSE(engine.levelCheckRunning());
  EXPECT_EQ(dialog.levelMeter()->mode(), LevelMeterWidget::Mode::Empty);
  toggle();
  ASSERT_TRUE(engine.levelCheckRunning());
  QTest::keyClick(dialog.GetDlgItem(ui::ids::kStatistics), Qt::Key_Escape);
  EXPECT_FALSE(engine.levelCheckRunning());
  EXPECT_TRUE(services.boxes.empty());
}

QStringList Entries(const QMenu& menu, QStringList* checked) {
  QStringList texts;
  for (QAction* action : menu.actions()) {
    texts << action->text();
    if (action->isChecked()) {
      *checked << action->text();
    }
  }
  return texts;
}

TEST(MainDialogDevices, TheMenusListTheDevicesAndKeepTheChoice) {
  testing::TempDir dir;
  FakeWindowServices services;
  const QString settingsFile = QString::fromStdString((dir.path() / "voxtar.conf").string());
  // Remembered from an earlier run: a microphone that is unplugged now.
  QSettings(settingsFile, QSettings::IniFormat).setValue("sound/inputDevice", "usb");
  audio::SimulatedAudioEngine engine;
  engine.SetDevices(audio::Direction::Input,
                    {{"builtin", QStringLiteral("Built-in Audio Analog Stereo")}});
  engine.SetDevices(audio::Direction::Output, {{"hdmi", QStringLiteral("HDMI Output")},
                                               {"speakers", QStringLiteral("Speakers")}});
  ui::CVoxtarDlg dialog(engine, services, settingsFile);
  EXPECT_EQ(engine.ChosenDevice(audio::Direction::Input), "usb");

  QMenu menu;
  dialog.FillContextMenu(menu);
  QAction* input = Item(menu, QStringLiteral("&Input device"));
  QAction* output = Item(menu, QStringLiteral("&Output device"));
  ASSERT_TRUE(input != nullptr && input->menu() != nullptr);
  ASSERT_TRUE(output != nullptr && output->menu() != nullptr);
  QStringList checked;
  EXPECT_EQ(Entries(*input->menu(), &checked),
            (QStringList{"System default", "Built-in Audio Analog Stereo"}));
  EXPECT_EQ(checked, QStringList{"System default"});
  checked.clear();
  EXPECT_EQ(Entries(*output->menu(), &checked),
            (QStringList{"System default", "HDMI Output", "Speakers"}));
  EXPECT_EQ(checked, QStringList{"System default"});
  EXPECT_TRUE(services.boxes.empty());

  output->menu()->actions().value(2)->trigger();
  EXPECT_EQ(engine.ChosenDevice(audio::Direction::Output), "speakers");
  EXPECT_EQ(QSettings(settingsFile, QSettings::IniFormat).value("sound/outputDevice").toString(),
            QStringLiteral("speakers"));
  QMenu again;
  dialog.FillContextMenu(again);
  checked.clear();
  Entries(*Item(again, QStringLiteral("&Output device"))->menu(), &checked);
  EXPECT_EQ(checked, QStringList{"Speakers"});
}

}  // namespace
}  // namespace voxtar::ui
