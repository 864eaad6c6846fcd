// SPDX-License-Identifier: GPL-3.0-or-later
// The main dialog's looks: its template's geometry and texts, its start-up state, what the
// display shows of a lesson, and the level strip right of "Goto".
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <ostream>
#include <string>
#include <vector>

#include "audio/audio_engine.h"
#include "measures/judgement.h"
#include "tests/ui/main_dialog_fixture.h"
#include "ui/dialog_controls.h"
#include "ui/dialog_template.h"
#include "ui/level_meter_widget.h"
#include "ui/prompt_display.h"
#include "ui/voxtar_dlg.h"
#include "ui/waveform_view.h"

// Readable failures for geometry.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QRect& r, std::ostream* os) {
  *os << "QRect(" << r.x() << ", " << r.y() << ", " << r.width() << ", " << r.height() << ")";
}
inline void PrintTo(const QSize& s, std::ostream* os) {
  *os << "QSize(" << s.width() << ", " << s.height() << ")";
}
QT_END_NAMESPACE

namespace voxtar::ui {
namespace {

using testing::Click;
using testing::Enabled;
using testing::FakeWindowServices;
using testing::MainDialogCommands;
using testing::MainDialogWithLesson;
using testing::QuietEngine;
using testing::Text;

const int kAllControls[] = {ui::ids::kPromptText, ui::ids::kStatistics, ui::ids::kPrevious,
                            ui::ids::kNext,       ui::ids::kPlay,       ui::ids::kRecord,
                            ui::ids::kList,       ui::ids::kOpen,       ui::ids::kGoto};

TEST(MainTemplate, PixelGeometryForThePinnedFont) {
  const QFont font = DialogFont(10);
  EXPECT_EQ(QFontInfo(font).family(), QStringLiteral("Liberation Sans"));
  EXPECT_EQ(font.pixelSize(), 13);
  const BaseUnits units = DialogBaseUnits(font);
  EXPECT_EQ(units.x, 8);
  EXPECT_EQ(units.y, 15);

  // 309 x 190 units; x * 8 / 4 and y * 15 / 8, rounded like MulDiv. The waveform below the
  // buttons adds 44 units and moves nothing.
  FakeWindowServices services;
  ui::CVoxtarDlg dialog{QuietEngine(), services};
  EXPECT_EQ(dialog.size(), QSize(618, 439));
  EXPECT_EQ(dialog.waveform()->geometry(), QRect(14, 353, 590, 75));
  session::SessionSettings hidden = dialog.session().settings();
  hidden.waveform = false;
  dialog.SetSessionSettings(hidden);
  EXPECT_EQ(dialog.size(), QSize(618, 356));
  EXPECT_EQ(dialog.GetDlgItem(ui::ids::kPromptText)->geometry(), QRect(14, 56, 578, 197));
  EXPECT_EQ(dialog.GetDlgItem(ui::ids::kStatistics)->geometry(), QRect(14, 272, 574, 26));
  EXPECT_EQ(dialog.GetDlgItem(ui::ids::kPrevious)->geometry(), QRect(54, 315, 100, 26));
  EXPECT_EQ(dialog.GetDlgItem(ui::ids::kNext)->geometry(), QRect(176, 315, 100, 26));
  EXPECT_EQ(dialog.GetDlgItem(ui::ids::kPlay)->geometry(), QRect(312, 315, 100, 26));
  EXPECT_EQ(dialog.GetDlgItem(ui::ids::kRecord)->geometry(), QRect(446, 315, 100, 26));
  EXPECT_EQ(dialog.GetDlgItem(ui::ids::kList)->geometry(), QRect(14, 13, 100, 26));
  EXPECT_EQ(dialog.GetDlgItem(ui::ids::kOpen)->geometry(), QRect(114, 13, 100, 26));
  EXPECT_EQ(dialog.GetDlgItem(ui::ids::kGoto)->geometry(), QRect(218, 13, 100, 26));
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Voxtar"));
  EXPECT_EQ(static_cast<QWidget*>(dialog.findChild<QLabel*>())->geometry(), QRect(34, 253, 64, 15));
}

TEST(MainTemplate, TextsTabOrderAndNoDefaultButton) {
  FakeWindowServices services;
  ui::CVoxtarDlg dialog{QuietEngine(), services};
  EXPECT_EQ(Text(dialog, ui::ids::kPrevious), QStringLiteral("<<"));
  EXPECT_EQ(Text(dialog, ui::ids::kNext), QStringLiteral(">>"));
  EXPECT_EQ(Text(dialog, ui::ids::kPlay), QStringLiteral("Play"));
  EXPECT_EQ(Text(dialog, ui::ids::kRecord), QStringLiteral("Record"));
  EXPECT_EQ(Text(dialog, ui::ids::kList), QStringLiteral("List"));
  EXPECT_EQ(Text(dialog, ui::ids::kOpen), QStringLiteral("Open"));
  EXPECT_EQ(Text(dialog, ui::ids::kGoto), QStringLiteral("Goto"));
  EXPECT_EQ(dialog.findChild<QLabel*>()->text(), QStringLiteral("Statistics:"));
  for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
    EXPECT_FALSE(button->isDefault());
    EXPECT_FALSE(button->autoDefault());
  }
  // Template order is the tab order.
  std::vector<int> order;
  QWidget* widget = dialog.GetDlgItem(ui::ids::kPromptText);
  do {
    for (int id : kAllControls) {
      if (dialog.GetDlgItem(id) == widget) {
        order.push_back(id);
      }
    }
    widget = widget->nextInFocusChain();
  } while (widget != dialog.GetDlgItem(ui::ids::kPromptText));
  EXPECT_EQ(order, (std::vector<int>{ui::ids::kPromptText, ui::ids::kStatistics, ui::ids::kPrevious,
                                     ui::ids::kNext, ui::ids::kPlay, ui::ids::kRecord,
                                     ui::ids::kList, ui::ids::kOpen, ui::ids::kGoto}));
  auto* box = static_cast<MultiLineEdit*>(dialog.GetDlgItem(ui::ids::kPromptText));
  EXPECT_EQ(box->lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_EQ(box->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(box->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(box->wordBreakProc(), &BackslashWordBreak);
  EXPECT_EQ(box->font().pixelSize(), PixelSizeForCellHeight(18));
  EXPECT_TRUE(static_cast<QLineEdit*>(dialog.GetDlgItem(ui::ids::kStatistics))->isReadOnly());
}

TEST(MainDialogStartUp, OnlyListAndOpenAreEnabled) {
  FakeWindowServices services;
  ui::CVoxtarDlg dialog{QuietEngine(), services};
  for (int id : kAllControls) {
    const bool expected =
        id == ui::ids::kList || id == ui::ids::kOpen || id == ui::ids::kStatistics;
    EXPECT_EQ(Enabled(dialog, id), expected) << id;
  }
  // Until a lesson is loaded both boxes are empty, not "***".
  EXPECT_TRUE(Text(dialog, ui::ids::kPromptText).isEmpty());
  EXPECT_TRUE(Text(dialog, ui::ids::kStatistics).isEmpty());
  EXPECT_EQ(dialog.lesson().state, lesson::LessonState::NoLesson);
  EXPECT_EQ(dialog.audioMode(), session::AudioMode::Idle);
  EXPECT_EQ(dialog.device(), nullptr);
  EXPECT_EQ(dialog.lesson().paths.lessonDirectory, u"ini/");
  EXPECT_FALSE(dialog.IsCommandEnabled(ui::ids::kSaveCommand));
  EXPECT_FALSE(dialog.IsCommandEnabled(ui::ids::kUnloadCommand));
  EXPECT_TRUE(dialog.IsCommandEnabled(ui::ids::kListCommand));
}

TEST_F(MainDialogWithLesson, RefreshShowsTheCurrentPrompt) {
  const std::u16string longText(51, u'x');
  WriteLesson({u"a001.wav > Good day", u"a002.wav " + longText + u" and more", u"a003.wav Hi!!!"});
  ui::CVoxtarDlg dialog{QuietEngine(), services};
  Open(dialog);
  ASSERT_EQ(dialog.lesson().state, lesson::LessonState::Saved);
  EXPECT_TRUE(services.boxes.empty());
  EXPECT_EQ(Text(dialog, ui::ids::kPromptText), QStringLiteral("Good day"));
  EXPECT_EQ(Text(dialog, ui::ids::kStatistics), QStringLiteral("a001.wav :"));
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Voxtar - unit.idx - [001 / 003]"));
  for (int id : kAllControls) {
    EXPECT_EQ(Enabled(dialog, id), id != ui::ids::kPrevious) << id;
  }

  Click(dialog, ui::ids::kNext);
  EXPECT_EQ(Text(dialog, ui::ids::kPromptText),
            QString::fromStdU16String(longText) + QStringLiteral("\nand more"));
  EXPECT_EQ(Text(dialog, ui::ids::kStatistics), QStringLiteral("a002.wav : <File not found>"));
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Voxtar - unit.idx - [002 / 003]"));
  EXPECT_TRUE(Enabled(dialog, ui::ids::kPrevious));
  EXPECT_TRUE(Enabled(dialog, ui::ids::kNext));

  Click(dialog, ui::ids::kNext);
  EXPECT_TRUE(Enabled(dialog, ui::ids::kPrevious));
  EXPECT_FALSE(Enabled(dialog, ui::ids::kNext));
  // Nothing was edited: the lesson is as loaded.
  EXPECT_EQ(dialog.lesson().state, lesson::LessonState::Saved);
}

TEST_F(MainDialogWithLesson, UnloadShowsTheEmptyLessonDisplay) {
  WriteLesson({u"a001.wav Hello there"});
  ui::CVoxtarDlg dialog{QuietEngine(), services};
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  Open(dialog);
  EXPECT_FALSE(Enabled(dialog, ui::ids::kPrevious));
  EXPECT_FALSE(Enabled(dialog, ui::ids::kNext));
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Voxtar - unit.idx - [001 / 001]"));
  QTest::keyClick(&dialog, Qt::Key_W, Qt::ControlModifier);
  EXPECT_EQ(dialog.lesson().state, lesson::LessonState::NoLesson);
  EXPECT_EQ(Text(dialog, ui::ids::kPromptText), QStringLiteral("***"));
  EXPECT_EQ(Text(dialog, ui::ids::kStatistics), QStringLiteral("***"));
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Voxtar"));
  for (int id : kAllControls) {
    const bool expected =
        id == ui::ids::kList || id == ui::ids::kOpen || id == ui::ids::kStatistics;
    EXPECT_EQ(Enabled(dialog, id), expected) << id;
  }
}

// ---- The strip right of "Goto" -----------------------------------------------------------------

TEST(MainDialogStrip, SitsInTheFreeStripWithoutTouchingTheTemplate) {
  FakeWindowServices services;
  ui::CVoxtarDlg dialog{QuietEngine(), services};
  LevelMeterWidget* meter = dialog.levelMeter();
  ASSERT_NE(meter, nullptr);
  // 165, 7, 137, 14 units at 8 x 15 base units.
  EXPECT_EQ(meter->geometry(), QRect(330, 13, 274, 26));
  EXPECT_TRUE(dialog.rect().contains(meter->geometry()));
  for (int id : kAllControls) {
    EXPECT_FALSE(meter->geometry().intersects(dialog.GetDlgItem(id)->geometry())) << id;
  }
  EXPECT_EQ(meter->accessibleName(), QStringLiteral("Input level"));
  EXPECT_EQ(meter->focusPolicy(), Qt::NoFocus);
  EXPECT_EQ(meter->mode(), LevelMeterWidget::Mode::Empty);
}

TEST_F(MainDialogCommands, TheMeterFollowsARecordingAndTheTakeCheckFollowsItsSave) {
  Load({u"a001.wav Hello there", u"a002.wav Good morning"});
  LevelMeterWidget* meter = dialog.levelMeter();
  Click(ui::ids::kRecord);
  EXPECT_EQ(meter->mode(), LevelMeterWidget::Mode::Meter);
  // Blocks keep coming, as while the operator speaks, for half a second at least and until the
  // meter shows the input tone (half of full scale) as the held peak.
  for (int i = 0; i < 200 && (i < 50 || meter->shown().holdDb <= LevelMeterWidget::kScaleFloorDb);
       ++i) {
    engine.Advance(10);
    QCoreApplication::sendPostedEvents();
    QTest::qWait(10);
  }
  EXPECT_NEAR(meter->shown().holdDb, -6.0, 0.5);
  EXPECT_FALSE(meter->shown().clipped);

  Click(ui::ids::kRecord);
  ASSERT_EQ(meter->mode(), LevelMeterWidget::Mode::TakeCheck);
  // The tone starts with the take: cut at the start, a warning.
  EXPECT_TRUE(meter->takeCheckText().startsWith(QStringLiteral("cut at the start")))
      << meter->takeCheckText().toStdString();
  EXPECT_EQ(meter->takeCheckSeverity(), measures::Severity::Warning);
  EXPECT_EQ(Text(dialog, ui::ids::kStatistics), QStringLiteral("a001.wav :"));

  // A block that arrives after the stop leaves the verdict standing.
  QCoreApplication::postEvent(&dialog.flow(), new audio::LevelNotice(audio::LevelSummary{}));
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(meter->mode(), LevelMeterWidget::Mode::TakeCheck);

  // The recording-done notice's save is checked too; moving on empties the strip.
  Click(ui::ids::kNext);
  EXPECT_EQ(meter->mode(), LevelMeterWidget::Mode::Empty);
  engine.SetInputTone(440.0, 1.0);
  Click(ui::ids::kRecord);
  engine.Advance(300);
  dialog.OnRecordingDone();
  testing::SettleSave(dialog);
  ASSERT_EQ(meter->mode(), LevelMeterWidget::Mode::TakeCheck);
  EXPECT_TRUE(meter->takeCheckText().startsWith(QStringLiteral("clipped")))
      << meter->takeCheckText().toStdString();
  EXPECT_EQ(meter->takeCheckSeverity(), measures::Severity::Bad);
}

}  // namespace
}  // namespace voxtar::ui
