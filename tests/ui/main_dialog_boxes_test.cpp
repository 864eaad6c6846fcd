// SPDX-License-Identifier: GPL-3.0-or-later
// The main dialog's questions that keep work from being lost, each with its buttons and what each
// does: the unsaved take, the failed write of the index, the lesson held by another window, the
// index changed on disk, the index linked outside the working directory, the take that filled
// its file.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "lesson/lesson_lock.h"
#include "tests/ui/main_dialog_fixture.h"

namespace voxtar::ui {
namespace {

namespace fs = std::filesystem;
using testing::Enabled;
using testing::MainDialogCommands;
using testing::ReadBytes;
using testing::Text;

class MainDialogBoxes : public MainDialogCommands {
 protected:
  QStringList ButtonsOf(std::size_t box) const { return services.choiceBoxes.at(box).buttons; }
  // A take of a002.wav recorded whose save failed: a directory stands where it goes.
  void UnsavedTakeOfA002() {
    fs::remove_all(dir / "Prompt/unit/a002.wav");
    Load({u"a001.wav Hello there", u"a002.wav Good morning", u"a003.wav See you"});
    Click(ui::ids::kNext);
    Click(ui::ids::kRecord);
    engine.Advance(300);
    fs::create_directory(dir / "Prompt/unit/a002.wav");
    Click(ui::ids::kRecord);
    ASSERT_TRUE(dialog.flow().unsavedTake());
    services.boxes.clear();
  }
};

TEST_F(MainDialogBoxes, AnUnsavedTakeIsSavedAgainDiscardedOrKeptBeforeAStep) {
  struct Case {
    int answer;  // Save again, Discard take, Cancel
    int index;   // where ">>" leaves the lesson
    bool recorded;
    bool unsaved;
  };
  for (const Case& c :
       {Case{0, 2, true, false}, Case{1, 2, false, false}, Case{2, 1, false, true}}) {
    SCOPED_TRACE(c.answer);
    UnsavedTakeOfA002();
    fs::remove(dir / "Prompt/unit/a002.wav");  // the way is clear for a second try
    services.choices = {c.answer};
    Click(ui::ids::kNext);
    ASSERT_EQ(services.choiceBoxes.size(), 1u);
    EXPECT_TRUE(services.choiceBoxes[0].text.startsWith(
        QStringLiteral("The take of a002.wav is not saved.")));
    EXPECT_EQ(ButtonsOf(0),
              (QStringList{QStringLiteral("Save again"), QStringLiteral("Discard take"),
                           QStringLiteral("Cancel")}));
    EXPECT_EQ(dialog.lesson().prompts.currentIndex, c.index);
    EXPECT_EQ(dialog.lesson().prompts.entries[1]->recorded, c.recorded);
    EXPECT_EQ(fs::is_regular_file(dir / "Prompt/unit/a002.wav"), c.recorded);
    EXPECT_EQ(dialog.flow().unsavedTake().has_value(), c.unsaved);
    // Cancel leaves the take where Ctrl+S saves it.
    if (c.unsaved) {
      QTest::keyClick(dialog.GetDlgItem(ui::ids::kStatistics), Qt::Key_S, Qt::ControlModifier);
      testing::SettleSave(dialog);
      EXPECT_TRUE(fs::is_regular_file(dir / "Prompt/unit/a002.wav"));
      EXPECT_FALSE(dialog.flow().unsavedTake());
    }
    services.choiceBoxes.clear();
    dialog.lesson().DiscardLesson();
  }
}

TEST_F(MainDialogBoxes, AFailedWriteOfTheIndexKeepsTheLessonUntilRetriedOrDiscarded) {
  struct Case {
    int answer;  // Retry (once writable), Discard changes, Cancel
    bool unloaded;
    const char16_t* index;  // what the index holds afterwards
  };
  for (const Case& c :
       {Case{0, true, u"a001.wav > Changed"}, Case{1, true, u"a001.wav Hello there"},
        Case{2, false, u"a001.wav Hello there"}}) {
    SCOPED_TRACE(c.answer);
    Load({u"a001.wav Hello there"});
    Type(QStringLiteral("Changed"));
    fs::permissions(dir / "Ini/unit.idx", fs::perms::owner_read);
    services.choices = {c.answer};
    services.whileBoxUp = [this] {
      fs::permissions(dir / "Ini/unit.idx", fs::perms::owner_read | fs::perms::owner_write);
    };
    QTest::keyClick(dialog.GetDlgItem(ui::ids::kStatistics), Qt::Key_W, Qt::ControlModifier);
    ASSERT_GE(services.choiceBoxes.size(), 1u);
    EXPECT_EQ(services.choiceBoxes[0].caption, QStringLiteral("Cannot write file"));
    EXPECT_TRUE(services.choiceBoxes[0].text.contains(QStringLiteral("read-only")));
    EXPECT_EQ(ButtonsOf(0), (QStringList{QStringLiteral("Retry"), QStringLiteral("Discard changes"),
                                         QStringLiteral("Cancel")}));
    EXPECT_EQ(dialog.lesson().state == lesson::LessonState::NoLesson, c.unloaded);
    EXPECT_EQ(IndexFile(), testing::IndexBytes({c.index}));
    if (!c.unloaded) {
      // The program does not end with the changes unwritten either.
      fs::permissions(dir / "Ini/unit.idx", fs::perms::owner_read);
      services.choices = {2};
      QTest::keyClick(dialog.GetDlgItem(ui::ids::kStatistics), Qt::Key_Escape);
      EXPECT_TRUE(dialog.isVisible());
      EXPECT_EQ(dialog.lesson().current()->text, u"> Changed");
      dialog.lesson().DiscardLesson();
    }
    services.choiceBoxes.clear();
  }
}

TEST_F(MainDialogBoxes, ALessonHeldByAnotherWindowOpensReadOnlyOrNotAtAll) {
  testing::WriteBytes(dir / "Ini/unit.idx", "a001.wav Hello there\r\n");  // 8-bit: not rewritten
  lesson::LessonLock other(dir.wide() + u"/Ini/unit.idx");
  ASSERT_EQ(other.Acquire(), lesson::LessonLock::Result::Acquired);
  services.nextFile = QString::fromStdString((dir / "Ini/unit.idx").string());

  services.choices = {1};  // Cancel
  Click(ui::ids::kOpen);
  ASSERT_EQ(services.choiceBoxes.size(), 1u);
  EXPECT_EQ(ButtonsOf(0),
            (QStringList{QStringLiteral("Open read-only"), QStringLiteral("Cancel")}));
  EXPECT_TRUE(services.choiceBoxes[0].text.contains(
      QString::fromStdString(lesson::DescribeHolder(other.holder()))));
  EXPECT_EQ(dialog.lesson().state, lesson::LessonState::NoLesson);

  services.choices = {0};  // Open read-only
  Click(ui::ids::kOpen);
  ASSERT_EQ(dialog.lesson().state, lesson::LessonState::Saved);
  EXPECT_TRUE(dialog.windowTitle().endsWith(QStringLiteral(" (read-only)")));
  EXPECT_FALSE(Enabled(dialog, ui::ids::kRecord));
  EXPECT_TRUE(static_cast<QPlainTextEdit*>(dialog.GetDlgItem(ui::ids::kPromptText))->isReadOnly());
  EXPECT_TRUE(Enabled(dialog, ui::ids::kPlay));
  EXPECT_EQ(ReadBytes(dir / "Ini/unit.idx"), "a001.wav Hello there\r\n");

  // A holder whose lock nobody keeps any more may be taken over.
  Click(ui::ids::kOpen);  // unloads the read-only lesson; the chooser answers with the same file
  other.Release();
  testing::WriteBytes(dir / "Ini/.unit.idx.lock",
                      "host=elsewhere\npid=4242\nuser=ann\nsince=2026-12-07T09:00:00+0000\n");
  services.choiceBoxes.clear();
  services.choices = {1};  // Take over
  dialog.lesson().DiscardLesson();
  Click(ui::ids::kOpen);
  ASSERT_EQ(services.choiceBoxes.size(), 1u);
  EXPECT_EQ(ButtonsOf(0), (QStringList{QStringLiteral("Open read-only"),
                                       QStringLiteral("Take over"), QStringLiteral("Cancel")}));
  EXPECT_FALSE(dialog.lesson().readOnly());
  EXPECT_EQ(ReadBytes(dir / "Ini/unit.idx"), testing::IndexBytes({u"a001.wav Hello there"}));
}

TEST_F(MainDialogBoxes, AnIndexChangedOnDiskIsOverwrittenOnlyWhenChosenAndKeptAsABackup) {
  for (const int answer : {1, 0}) {  // Cancel, then Overwrite
    SCOPED_TRACE(answer);
    Load({u"a001.wav Hello there"});
    Type(QStringLiteral("Mine"));
    const std::string theirs = testing::IndexBytes({u"a001.wav Theirs"});
    testing::WriteBytes(dir / "Ini/unit.idx", theirs);  // a text editor saved it meanwhile
    services.choices = {answer};
    QTest::keyClick(dialog.GetDlgItem(ui::ids::kStatistics), Qt::Key_S, Qt::ControlModifier);
    ASSERT_EQ(services.choiceBoxes.size(), 1u);
    EXPECT_EQ(ButtonsOf(0), (QStringList{QStringLiteral("Overwrite"), QStringLiteral("Cancel")}));
    // "... kept beside it as unit.idx.YYYY-MM-DDTHH-MM-SS.bak."
    QString backupName = services.choiceBoxes[0].text.section(QStringLiteral(" as "), -1);
    backupName.chop(1);
    ASSERT_TRUE(backupName.startsWith(QStringLiteral("unit.idx.")) &&
                backupName.endsWith(QStringLiteral(".bak")))
        << backupName.toStdString();
    const std::string backup = backupName.toStdString();
    if (answer == 1) {
      EXPECT_EQ(IndexFile(), theirs);
      EXPECT_FALSE(fs::exists(dir / "Ini" / backup));
    } else {
      EXPECT_EQ(IndexFile(), testing::IndexBytes({u"a001.wav > Mine"}));
      EXPECT_EQ(ReadBytes(dir / "Ini" / backup), theirs) << backup;
    }
    services.choiceBoxes.clear();
    dialog.lesson().DiscardLesson();
  }
}

TEST_F(MainDialogBoxes, AnIndexLinkedOutsideOpensForViewingOnlyWithOneBox) {
  testing::TempDir elsewhere;
  testing::WriteBytes(elsewhere / "precious.txt", "a001.wav Hello there\n");
  fs::create_directories(dir / "Ini");
  fs::create_symlink(elsewhere / "precious.txt", dir / "Ini/linked.idx");
  services.nextFile = QString::fromStdString((dir / "Ini/linked.idx").string());
  Click(ui::ids::kOpen);
  ASSERT_EQ(services.boxes.size(), 1u);
  EXPECT_TRUE(services.boxes[0].text.contains(QStringLiteral("precious.txt")));
  EXPECT_TRUE(services.boxes[0].text.contains(QStringLiteral("linked.idx")));
  EXPECT_TRUE(dialog.windowTitle().endsWith(QStringLiteral(" (read-only)")));
  EXPECT_FALSE(Enabled(dialog, ui::ids::kRecord));
  EXPECT_EQ(ReadBytes(elsewhere / "precious.txt"), "a001.wav Hello there\n");
}

// Written back, the 2,000 characters would be cut to 511: the lesson is shown whole, not kept.
TEST_F(MainDialogBoxes, AnIndexWithALineBeyondTheLimitsOpensForViewingOnlyWithOneBox) {
  const std::string bytes = "a001.wav Hello there\r\na002.wav " + std::string(2000, 'x') + "\r\n";
  testing::WriteBytes(dir / "Ini/long.idx", bytes);
  services.nextFile = QString::fromStdString((dir / "Ini/long.idx").string());
  Click(ui::ids::kOpen);
  ASSERT_EQ(services.boxes.size(), 1u);
  EXPECT_TRUE(services.boxes[0].text.startsWith(
      QString::fromStdString((dir / "Ini/long.idx").string() + ":2: text of 2000 characters")));
  EXPECT_TRUE(dialog.windowTitle().endsWith(QStringLiteral(" (read-only)")));
  EXPECT_FALSE(Enabled(dialog, ui::ids::kRecord));
  Click(ui::ids::kNext);
  EXPECT_EQ(Text(dialog, ui::ids::kPromptText), QString(2000, u'x'));
  Click(ui::ids::kPrevious);
  Click(ui::ids::kOpen);  // unloads; the chooser answers with the same file
  EXPECT_EQ(services.boxes.size(), 2u);
  EXPECT_EQ(ReadBytes(dir / "Ini/long.idx"), bytes);
}

TEST_F(MainDialogBoxes, ATakeThatFillsItsFileIsStoppedSavedAndSaidSo) {
  Load({u"a001.wav Hello there", u"a002.wav Good morning"});
  Click(ui::ids::kNext);
  engine.SetTakeLimitBytes(66150);  // 1.5 s of the template's 22,050 Hz 16-bit mono
  Click(ui::ids::kRecord);
  engine.Advance(2000);
  QCoreApplication::sendPostedEvents();
  testing::SettleSave(dialog);
  ASSERT_EQ(services.boxes.size(), 1u);
  EXPECT_EQ(services.boxes[0].text,
            QStringLiteral("The take of a002.wav reached the longest sound a WAV file can hold, so "
                           "it was stopped and saved."));
  EXPECT_EQ(dialog.audioMode(), session::AudioMode::Idle);
  audio::WaveElement take;
  std::string error;
  ASSERT_TRUE(audio::ReadWaveFile(dir.wide() + u"/Prompt/unit/a002.wav", &take, &error)) << error;
  EXPECT_EQ(take.samples.bytes(), 66150u);
  EXPECT_EQ(dialog.lesson().current()->recorded, 1);
}

}  // namespace
}  // namespace voxtar::ui
