// SPDX-License-Identifier: GPL-3.0-or-later
// The main dialog's commands through real clicks on the simulated audio engine: Play, Record,
// the stepping buttons and Goto, List and Open with each outcome of a load, saving, and the boxes
// of what fails.
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDialog>
#include <QListWidget>
#include <QTest>
#include <algorithm>
#include <filesystem>
#include <string>

#include "audio/audio_engine.h"
#include "audio/wave_element.h"
#include "lesson/lesson.h"
#include "tests/ui/main_dialog_fixture.h"
#include "ui/lessons_dialog.h"
#include "ui/voxtar_dlg.h"

namespace voxtar::ui {
namespace {

using testing::Enabled;
using testing::FakeWindowServices;
using testing::kWav16;
using testing::MainDialogCommands;
using testing::QuietEngine;
using testing::Text;

TEST_F(MainDialogCommands, PlayStopAndANoticeAfterTheStop) {
  Load({u"a001.wav Hello there"});
  Click(ui::ids::kPlay);
  EXPECT_EQ(Text(dialog, ui::ids::kPlay), QStringLiteral("<Playing>"));
  EXPECT_EQ(dialog.audioMode(), session::AudioMode::Playing);
  ASSERT_NE(dialog.device(), nullptr);
  EXPECT_EQ(dialog.device()->fileName(), dir.wide() + u"/Prompt/unit/a001.wav");
  engine.Advance(1100);  // past the end: the notice comes
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(Text(dialog, ui::ids::kPlay), QStringLiteral("Play"));
  EXPECT_EQ(dialog.audioMode(), session::AudioMode::Idle);
  ASSERT_NE(dialog.device(), nullptr);  // kept open for the next press

  Click(ui::ids::kPlay);  // the same device plays again from the start
  EXPECT_EQ(CountOf(Command::Open), 1);
  EXPECT_EQ(CountOf(Command::Play), 2);
  Click(ui::ids::kPlay);  // stops
  EXPECT_EQ(Text(dialog, ui::ids::kPlay), QStringLiteral("Play"));
  EXPECT_EQ(dialog.audioMode(), session::AudioMode::Idle);
  const int stops = CountOf(Command::Stop);
  QCoreApplication::postEvent(
      &dialog, new audio::PlaybackNotice(audio::NotifyCode::Aborted, dialog.device()->deviceId()));
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(Text(dialog, ui::ids::kPlay), QStringLiteral("Play"));
  EXPECT_EQ(dialog.audioMode(), session::AudioMode::Idle);
  EXPECT_EQ(CountOf(Command::Stop), stops);
  EXPECT_TRUE(services.boxes.empty());
}

TEST_F(MainDialogCommands, RecordThenRecordSavesTheTakeAndMarksTheEntry) {
  Load({u"a001.wav Hello there", u"a002.wav > Good morning"});
  Click(ui::ids::kNext);
  EXPECT_EQ(Text(dialog, ui::ids::kStatistics), QStringLiteral("a002.wav : <File not found>"));
  Click(ui::ids::kRecord);
  EXPECT_EQ(Text(dialog, ui::ids::kRecord), QStringLiteral("[STOP]"));
  EXPECT_EQ(dialog.audioMode(), session::AudioMode::Recording);
  EXPECT_EQ(dialog.device()->fileName(), u"sample.wav");
  // The marker stays until a take is saved: the prompt still needs one.
  EXPECT_EQ(dialog.lesson().current()->text, u"> Good morning");
  EXPECT_EQ(dialog.lesson().state, lesson::LessonState::Saved);
  engine.Advance(400);
  Click(ui::ids::kRecord);
  EXPECT_EQ(dialog.lesson().current()->text, u"Good morning");
  EXPECT_EQ(Text(dialog, ui::ids::kRecord), QStringLiteral("Record"));
  EXPECT_EQ(Text(dialog, ui::ids::kPlay), QStringLiteral("Play"));
  EXPECT_EQ(Text(dialog, ui::ids::kStatistics), QStringLiteral("a002.wav :"));
  EXPECT_EQ(dialog.lesson().state, lesson::LessonState::Modified);
  EXPECT_EQ(dialog.lesson().current()->recorded, 1);

  audio::WaveElement take;
  std::string error;
  ASSERT_TRUE(audio::ReadWaveFile(dir.wide() + u"/Prompt/unit/a002.wav", &take, &error));
  EXPECT_EQ(take.format, kWav16);
  EXPECT_EQ(take.sampleRate, 22050);
  EXPECT_EQ(take.channels, 1);
  EXPECT_EQ(testing::ReadBytes(dir / "sample.wav"), sampleBytes);

  Click(ui::ids::kPlay);  // plays the new take on the same device
  EXPECT_EQ(CountOf(Command::Open), 1);
  EXPECT_EQ(engine.calls().back().command, Command::Play);
  Click(ui::ids::kPlay);
  // Escape writes the lesson back without the marker.
  QTest::keyClick(dialog.GetDlgItem(ui::ids::kStatistics), Qt::Key_Escape);
  EXPECT_EQ(IndexFile(), testing::IndexBytes({u"a001.wav Hello there", u"a002.wav Good morning"}));
}

TEST_F(MainDialogCommands, RecordDuringPlaybackOnlyStoresTheText) {
  Load({u"a001.wav > Good day"});
  EXPECT_EQ(Text(dialog, ui::ids::kPromptText), QStringLiteral("Good day"));
  Click(ui::ids::kPlay);
  Type(QStringLiteral("Good night"));
  Click(ui::ids::kRecord);
  // Stored as a correction: marked, and the lesson Modified so the index gets it.
  EXPECT_EQ(dialog.lesson().current()->text, u"> Good night");
  EXPECT_EQ(dialog.lesson().state, lesson::LessonState::Modified);
  EXPECT_EQ(dialog.audioMode(), session::AudioMode::Playing);
  EXPECT_EQ(Text(dialog, ui::ids::kPlay), QStringLiteral("<Playing>"));
  EXPECT_EQ(Text(dialog, ui::ids::kRecord), QStringLiteral("Record"));
  EXPECT_EQ(CountOf(Command::Record), 0);
  // "Play" during a recording does nothing.
  Click(ui::ids::kPlay);
  Click(ui::ids::kRecord);
  ASSERT_EQ(dialog.audioMode(), session::AudioMode::Recording);
  Click(ui::ids::kPlay);
  EXPECT_EQ(dialog.audioMode(), session::AudioMode::Recording);
}

TEST_F(MainDialogCommands, NextDuringARecordingDropsItAndKeepsStop) {
  Load({u"a001.wav Hello there", u"a002.wav Good morning", u"a003.wav See you later"});
  Click(ui::ids::kNext);
  Click(ui::ids::kRecord);
  engine.Advance(300);
  Click(ui::ids::kNext);
  EXPECT_EQ(dialog.lesson().prompts.currentIndex, 2);
  EXPECT_EQ(dialog.audioMode(), session::AudioMode::Idle);
  EXPECT_EQ(dialog.device(), nullptr);
  EXPECT_EQ(Text(dialog, ui::ids::kRecord), QStringLiteral("[STOP]"));
  EXPECT_FALSE(std::filesystem::exists(dir / "Prompt/unit/a002.wav"));
  EXPECT_EQ(dialog.lesson().state, lesson::LessonState::Saved);
  // Pressing it now starts a recording of the new prompt.
  Click(ui::ids::kRecord);
  EXPECT_EQ(dialog.audioMode(), session::AudioMode::Recording);
}

TEST_F(MainDialogCommands, GotoAndNextStoreAnEditWithTheMarker) {
  Load({u"a001.wav Hello there", u"a002.wav Good morning", u"a003.wav See you later"});
  Click(ui::ids::kGoto);  // a002 is the first without a take
  EXPECT_EQ(dialog.lesson().prompts.currentIndex, 1);
  Type(QStringLiteral(" now"), false);
  Click(ui::ids::kNext);
  EXPECT_EQ(dialog.lesson().prompts.entries[1]->text, u"> Good morning now");
  EXPECT_EQ(dialog.lesson().state, lesson::LessonState::Modified);
  Click(ui::ids::kPrevious);
  EXPECT_EQ(Text(dialog, ui::ids::kPromptText), QStringLiteral("Good morning now"));
  // A correction of a recorded prompt is kept by Goto too, and makes it pending again.
  Click(ui::ids::kPrevious);
  Type(QStringLiteral("Changed"));
  Click(ui::ids::kGoto);
  EXPECT_EQ(dialog.lesson().prompts.entries[0]->text, u"> Changed");
  EXPECT_EQ(dialog.lesson().prompts.currentIndex, 0);
  // The Ctrl+G shortcut is Goto too.
  Click(ui::ids::kNext);
  QTest::keyClick(dialog.GetDlgItem(ui::ids::kStatistics), Qt::Key_G, Qt::ControlModifier);
  EXPECT_EQ(dialog.lesson().prompts.currentIndex, 0);
}

TEST_F(MainDialogCommands, AnUntouchedLongPromptComesBackUnchanged) {
  std::u16string text;
  while (text.size() + 52 <= lesson::kMaxPromptTextLength) {
    text += std::u16string(51, u'w') + u" ";
  }
  text += std::u16string(lesson::kMaxPromptTextLength - text.size(), u'z');
  ASSERT_EQ(text.size(), lesson::kMaxPromptTextLength);
  Load({u"a001.wav " + text, u"a002.wav Good morning"});
  // The box shows it on ten lines.
  const std::u16string box = dialog.BoxText();
  EXPECT_EQ(std::count(box.begin(), box.end(), u'\n'), 9);
  Click(ui::ids::kNext);
  Click(ui::ids::kPrevious);
  EXPECT_EQ(dialog.lesson().prompts.entries[0]->text, std::u16string_view(text));
  EXPECT_EQ(dialog.lesson().state, lesson::LessonState::Saved);
  Click(ui::ids::kRecord);  // stores the whole text, not a cut one
  EXPECT_EQ(dialog.lesson().prompts.entries[0]->text, std::u16string_view(text));
}

TEST_F(MainDialogCommands, ListAndOpenWriteAModifiedLessonBackEvenWhenCancelled) {
  Load({u"a001.wav Hello there", u"a002.wav Good morning"});
  Type(QStringLiteral("Hi there"));
  Click(ui::ids::kNext);
  services.nextFile.reset();
  Click(ui::ids::kOpen);
  EXPECT_EQ(dialog.lesson().state, lesson::LessonState::NoLesson);
  EXPECT_EQ(IndexFile(), testing::IndexBytes({u"a001.wav > Hi there", u"a002.wav Good morning"}));
  ASSERT_EQ(services.fileRequests.size(), 2u);
  const platform::OpenFileRequest& request = services.fileRequests.back();
  EXPECT_EQ(request.owner, nullptr);
  EXPECT_EQ(request.filter, QStringLiteral("Lexaro IDX Files (*.idx)"));
  EXPECT_EQ(request.initialPath, QString::fromStdString(dir.path().string()) + "/Ini/");
  EXPECT_TRUE(request.fileMustExist);
  EXPECT_EQ(std::filesystem::current_path(), dir.path());
  EXPECT_EQ(Text(dialog, ui::ids::kPromptText), QStringLiteral("***"));

  Load({u"a001.wav Hello there", u"a002.wav Good morning"});
  Type(QStringLiteral("Hi again"));
  Click(ui::ids::kNext);
  testing::WhenModal([&] {
    auto* chooser = testing::ActiveModal<QDialog>();
    if (chooser == nullptr || chooser == &dialog) {
      return false;
    }
    QTest::keyClick(chooser, Qt::Key_Escape);
    return true;
  });
  Click(ui::ids::kList);
  EXPECT_EQ(dialog.lesson().state, lesson::LessonState::NoLesson);
  EXPECT_EQ(IndexFile(), testing::IndexBytes({u"a001.wav > Hi again", u"a002.wav Good morning"}));
  EXPECT_TRUE(services.boxes.empty());
}

TEST_F(MainDialogCommands, ListLoadsTheChosenLesson) {
  testing::WriteBytes(dir / "Ini/lessons.ini", "Greetings\nunit.ini\n");
  testing::WriteBytes(dir / "Ini/unit.idx", testing::IndexBytes({u"a001.wav Hello there"}));
  testing::WhenModal([&] {
    auto* chooser = testing::ActiveModal<QDialog>();
    if (chooser == nullptr || chooser == &dialog) {
      return false;
    }
    auto* list = chooser->findChild<QListWidget*>();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                      list->visualItemRect(list->item(0)).center());
    QTest::keyClick(list, Qt::Key_Return);
    if (chooser->isVisible()) {
      chooser->reject();  // no entry was chosen: end the run rather than hang
    }
    return true;
  });
  QTest::keyClick(dialog.GetDlgItem(ui::ids::kStatistics), Qt::Key_L, Qt::ControlModifier);
  EXPECT_EQ(dialog.lesson().state, lesson::LessonState::Saved);
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Voxtar - unit.idx - [001 / 001]"));
  EXPECT_EQ(Text(dialog, ui::ids::kStatistics), QStringLiteral("a001.wav :"));
  EXPECT_TRUE(Enabled(dialog, ui::ids::kRecord));
  EXPECT_TRUE(Enabled(dialog, ui::ids::kGoto));
}

TEST_F(MainDialogCommands, EachDialogKeepsItsOwnLastChoice) {
  testing::WriteBytes(dir / "Ini/lessons.ini", "Greetings\nunit.ini\nNumbers\nother.ini\n");
  testing::WriteBytes(dir / "Ini/unit.idx", testing::IndexBytes({u"a001.wav Hello there"}));
  // Runs "List" in `owner`: the row the chooser came up with (-1: none), then takes row `take`
  // or cancels (-1).
  const auto list = [](ui::CVoxtarDlg& owner, int take) {
    int preselected = -2;
    testing::WhenModal([&preselected, take] {
      auto* chooser = testing::ActiveModal<TLessonsDialog>();
      if (chooser == nullptr) {
        return false;
      }
      QListWidget* entries = chooser->lessonList();
      preselected = entries->selectedItems().isEmpty() ? -1 : entries->currentRow();
      if (take < 0) {
        chooser->OnCancel();
      } else {
        entries->setCurrentRow(take);
        chooser->OnOK();
      }
      return true;
    });
    owner.OnCommand(ui::ids::kList);
    return preselected;
  };
  EXPECT_EQ(list(dialog, 0), -1);
  ASSERT_EQ(dialog.lesson().state, lesson::LessonState::Saved);

  FakeWindowServices otherServices;
  ui::CVoxtarDlg other{QuietEngine(), otherServices};
  EXPECT_EQ(list(other, -1), -1);
  EXPECT_EQ(list(dialog, -1), 0);
  EXPECT_TRUE(services.boxes.empty());
  EXPECT_TRUE(otherServices.boxes.empty());
}

TEST_F(MainDialogCommands, EachLoadOutcomeHasItsBox) {
  const auto open = [&](const std::filesystem::path& path) {
    services.boxes.clear();
    services.nextFile = QString::fromStdString(path.string());
    Click(ui::ids::kOpen);
  };
  testing::WriteBytes(dir / "Other/x.idx", testing::IndexBytes({u"a b"}));
  open(dir / "Other/x.idx");
  ASSERT_EQ(services.boxes.size(), 1u);
  EXPECT_EQ(services.boxes[0].owner, nullptr);
  EXPECT_EQ(services.boxes[0].text, QStringLiteral("Invalid Directory"));
  EXPECT_EQ(services.boxes[0].caption, QString::fromStdString((dir / "Other/x.idx").string()));

  open(dir / "Ini/missing.txt");
  const QString missing = QString::fromStdString((dir / "Ini/missing.idx").string());
  ASSERT_EQ(services.boxes.size(), 1u);
  EXPECT_EQ(services.boxes[0].owner, &dialog);
  EXPECT_EQ(services.boxes[0].text, missing);
  EXPECT_EQ(services.boxes[0].caption, QStringLiteral("File not found!"));

  testing::WriteBytes(dir / "Ini/empty.idx", "\xFF\xFE");
  open(dir / "Ini/empty.idx");
  ASSERT_EQ(services.boxes.size(), 1u);
  EXPECT_EQ(services.boxes[0].owner, &dialog);
  EXPECT_EQ(services.boxes[0].text, QStringLiteral("File is empty"));
  EXPECT_EQ(services.boxes[0].caption, QString::fromStdString((dir / "Ini/empty.idx").string()));

  // A bad line refuses the lesson without a box; nothing is enabled.
  testing::WriteBytes(dir / "Ini/bad.idx", testing::IndexBytes({u"a001.wav Hi", u"nospace"}));
  open(dir / "Ini/bad.idx");
  EXPECT_TRUE(services.boxes.empty());
  EXPECT_EQ(dialog.lesson().state, lesson::LessonState::NoLesson);
  EXPECT_FALSE(Enabled(dialog, ui::ids::kRecord));

  testing::WriteBytes(dir / "Ini/locked.idx", testing::IndexBytes({u"a001.wav Hello there"}));
  std::filesystem::permissions(dir / "Ini/locked.idx", std::filesystem::perms::owner_read);
  open(dir / "Ini/locked.idx");
  ASSERT_EQ(services.boxes.size(), 1u);
  EXPECT_EQ(services.boxes[0].owner, nullptr);
  EXPECT_EQ(services.boxes[0].text, QString::fromStdString((dir / "Ini/locked.idx").string()));
  EXPECT_EQ(services.boxes[0].caption, QStringLiteral("Cannot write file"));
  EXPECT_EQ(services.boxes[0].icon, platform::BoxIcon::Warning);
  EXPECT_EQ(dialog.lesson().state, lesson::LessonState::Saved);
  EXPECT_TRUE(Enabled(dialog, ui::ids::kRecord));
}

TEST_F(MainDialogCommands, SaveShortcutOnlyForAModifiedLesson) {
  Load({u"a001.wav Hello there", u"a002.wav Good morning"});
  const std::string loaded = IndexFile();
  QWidget* line = dialog.GetDlgItem(ui::ids::kStatistics);
  std::filesystem::remove(dir / "Ini/unit.idx");
  QTest::keyClick(line, Qt::Key_S, Qt::ControlModifier);  // Saved: not offered
  EXPECT_FALSE(std::filesystem::exists(dir / "Ini/unit.idx"));
  Type(QStringLiteral("Hi"));
  Click(ui::ids::kNext);
  EXPECT_TRUE(dialog.IsCommandEnabled(ui::ids::kSaveCommand));
  QTest::keyClick(line, Qt::Key_S, Qt::ControlModifier);
  EXPECT_EQ(IndexFile(), testing::IndexBytes({u"a001.wav > Hi", u"a002.wav Good morning"}));
  EXPECT_EQ(dialog.lesson().state, lesson::LessonState::Saved);
  EXPECT_NE(IndexFile(), loaded);
  // A correction still in the box is offered and stored by Ctrl+S, and by closing the lesson.
  Type(QStringLiteral("Hello"));
  EXPECT_TRUE(dialog.IsCommandEnabled(ui::ids::kSaveCommand));
  QTest::keyClick(line, Qt::Key_S, Qt::ControlModifier);
  EXPECT_EQ(IndexFile(), testing::IndexBytes({u"a001.wav > Hi", u"a002.wav > Hello"}));
  Type(QStringLiteral("Hello again"));
  QTest::keyClick(line, Qt::Key_W, Qt::ControlModifier);
  EXPECT_EQ(IndexFile(), testing::IndexBytes({u"a001.wav > Hi", u"a002.wav > Hello again"}));
}

TEST_F(MainDialogCommands, NoActionShowsItsBox) {
  EXPECT_TRUE(dialog.OnCommand(ui::ids::kNoAction));
  ASSERT_EQ(services.boxes.size(), 1u);
  EXPECT_EQ(services.boxes[0].owner, &dialog);
  EXPECT_EQ(services.boxes[0].text, QStringLiteral("NO AVTION"));
  EXPECT_EQ(services.boxes[0].caption, QStringLiteral("Voxtar"));
  EXPECT_FALSE(dialog.OnCommand(4242));
}

TEST_F(MainDialogCommands, ARecordingDoneNoticeSavesTheTakeAndClearsTheMarker) {
  Load({u"a001.wav Hello there", u"a002.wav Good morning"});
  Click(ui::ids::kNext);
  EXPECT_EQ(dialog.OnRecordingDone(), 0);  // idle: only the text
  EXPECT_EQ(Text(dialog, ui::ids::kRecord), QStringLiteral("<Record>"));
  EXPECT_FALSE(std::filesystem::exists(dir / "Prompt/unit/a002.wav"));
  Click(ui::ids::kRecord);
  // The marker comes back with an edit typed while recording, stored by the box's next read.
  dialog.lesson().current()->text = u"> Good morning";
  engine.Advance(300);
  dialog.OnRecordingDone();
  testing::SettleSave(dialog);
  EXPECT_EQ(dialog.audioMode(), session::AudioMode::Idle);
  EXPECT_EQ(Text(dialog, ui::ids::kRecord), QStringLiteral("<Record>"));
  EXPECT_TRUE(std::filesystem::exists(dir / "Prompt/unit/a002.wav"));
  EXPECT_EQ(dialog.lesson().current()->text, u"Good morning");
  EXPECT_EQ(dialog.lesson().state, lesson::LessonState::Modified);
  EXPECT_EQ(Text(dialog, ui::ids::kStatistics), QStringLiteral("a002.wav :"));
}

TEST_F(MainDialogCommands, AFailedSaveDoesNotMarkThePromptRecorded) {
  Load({u"a001.wav Hello there", u"a002.wav Good morning"});
  Click(ui::ids::kNext);
  Click(ui::ids::kRecord);
  engine.Advance(200);
  std::filesystem::create_directory(dir / "Prompt/unit/a002.wav");  // in the take's way
  Click(ui::ids::kRecord);
  ASSERT_EQ(services.boxes.size(), 1u);
  EXPECT_EQ(services.boxes[0].owner, nullptr);
  EXPECT_EQ(services.boxes[0].caption, QStringLiteral("Error"));
  EXPECT_EQ(dialog.lesson().current()->recorded, 0);
  EXPECT_EQ(Text(dialog, ui::ids::kStatistics), QStringLiteral("a002.wav : <File not found>"));
  EXPECT_EQ(dialog.lesson().state, lesson::LessonState::Saved);
  EXPECT_EQ(dialog.audioMode(), session::AudioMode::Idle);
  EXPECT_EQ(Text(dialog, ui::ids::kRecord), QStringLiteral("Record"));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "Prompt/unit/a002.wav"));

  // Nor through the recording-done notice, which then keeps the edit marker too. (The new
  // recording first asks about the unsaved take, which is discarded here.)
  services.choices = {1};
  Click(ui::ids::kRecord);
  ASSERT_EQ(services.choiceBoxes.size(), 1u);
  dialog.lesson().current()->text = u"> Good morning";
  engine.Advance(200);
  dialog.OnRecordingDone();
  testing::SettleSave(dialog);
  EXPECT_EQ(dialog.lesson().current()->recorded, 0);
  EXPECT_EQ(dialog.lesson().current()->text, u"> Good morning");
  EXPECT_EQ(dialog.lesson().state, lesson::LessonState::Saved);
}

TEST_F(MainDialogCommands, ARecordingThatNeverStartedSavesNothing) {
  Load({u"a001.wav Hello there", u"a002.wav Good morning"});
  Click(ui::ids::kNext);
  engine.FailNext(Command::Record, 79, QStringLiteral("No sound input."));
  Click(ui::ids::kRecord);
  ASSERT_EQ(services.boxes.size(), 1u);
  EXPECT_EQ(services.boxes[0].caption, QStringLiteral("Error"));
  EXPECT_EQ(Text(dialog, ui::ids::kRecord), QStringLiteral("[STOP]"));
  Click(ui::ids::kRecord);
  // The template's own audio is no take of this prompt.
  EXPECT_FALSE(std::filesystem::exists(dir / "Prompt/unit/a002.wav"));
  EXPECT_EQ(Text(dialog, ui::ids::kStatistics), QStringLiteral("a002.wav : <File not found>"));
  EXPECT_EQ(dialog.lesson().state, lesson::LessonState::Saved);
  EXPECT_EQ(Text(dialog, ui::ids::kRecord), QStringLiteral("Record"));
}

TEST_F(MainDialogCommands, CommandsWaitWhileABoxWithoutOwnerIsUp) {
  Load({u"a001.wav Hello there", u"a002.wav Good morning", u"a003.wav See you later"});
  Click(ui::ids::kNext);
  Click(ui::ids::kRecord);
  engine.Advance(300);
  engine.FailNext(Command::Stop, 78, QStringLiteral("The device is busy."));
  // The stop's box leaves the dialog enabled; ">>" and Escape pressed under it must not pull the
  // device or the lesson from under the stopping "Record".
  services.whileBoxUp = [&] {
    Click(ui::ids::kNext);
    QTest::keyClick(dialog.GetDlgItem(ui::ids::kStatistics), Qt::Key_Escape);
  };
  Click(ui::ids::kRecord);
  ASSERT_FALSE(services.boxes.empty());
  EXPECT_EQ(services.boxes[0].caption, QStringLiteral("Wave Stop Error"));
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(dialog.lesson().prompts.currentIndex, 1);
  EXPECT_EQ(dialog.audioMode(), session::AudioMode::Idle);
  EXPECT_EQ(Text(dialog, ui::ids::kRecord), QStringLiteral("Record"));
}

TEST_F(MainDialogCommands, AnUntouchedPromptKeepsItsNoBreakSpaces) {
  const std::u16string text = u"Цена:\u00A010\u00A0000 рублей";
  Load({u"a001.wav " + text, u"a002.wav Good morning"});
  Click(ui::ids::kNext);
  Click(ui::ids::kPrevious);
  EXPECT_EQ(dialog.lesson().prompts.entries[0]->text, std::u16string_view(text));
  EXPECT_EQ(dialog.lesson().state, lesson::LessonState::Saved);
  Click(ui::ids::kRecord);
  EXPECT_EQ(dialog.lesson().prompts.entries[0]->text, std::u16string_view(text));
}

TEST_F(MainDialogCommands, APromptNameLeadingOutOfThePromptDirectoryIsRefused) {
  Load({u"../../evil.wav Hello there", u".. Good morning", u"a001.wav Fine"});
  for (int index = 0; index < 2; ++index) {
    const std::u16string path = dialog.lesson().PromptFilePath();
    services.boxes.clear();
    Click(ui::ids::kRecord);
    Click(ui::ids::kPlay);
    ASSERT_EQ(services.boxes.size(), 2u) << index;
    for (const platform::MessageBoxRequest& box : services.boxes) {
      EXPECT_EQ(box.owner, nullptr);
      EXPECT_EQ(box.text, QString::fromStdU16String(path));
      EXPECT_EQ(box.caption, QStringLiteral("Invalid prompt name"));
    }
    EXPECT_EQ(dialog.audioMode(), session::AudioMode::Idle);
    EXPECT_EQ(Text(dialog, ui::ids::kRecord), QStringLiteral("Record"));
    EXPECT_EQ(Text(dialog, ui::ids::kPlay), QStringLiteral("Play"));
    Click(ui::ids::kNext);
  }
  EXPECT_TRUE(engine.calls().empty());
  EXPECT_FALSE(std::filesystem::exists(dir / "evil.wav"));
  EXPECT_EQ(dialog.lesson().state, lesson::LessonState::Saved);
}

}  // namespace
}  // namespace voxtar::ui
