// SPDX-License-Identifier: GPL-3.0-or-later
// The window of a hands-free sitting: its key and state beside the meter, a paused sitting going
// on at any key, and the prompt text's zoom, which moves no control.
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QTest>
#include <map>

#include "tests/ui/main_dialog_fixture.h"
#include "ui/level_meter_widget.h"

namespace voxtar::testing {
namespace {

class MainDialogHandsFree : public MainDialogCommands {
 protected:
  QWidget* Box() { return dialog.GetDlgItem(ui::ids::kPromptText); }
  void Key(QKeyCombination keys) { QTest::keyClick(Box(), keys.key(), keys.keyboardModifiers()); }
  void Run(int ms) {
    for (; ms > 0; ms -= 10) {
      engine.Advance(10);
      QCoreApplication::sendPostedEvents();
    }
  }
  QString State() { return dialog.levelMeter()->sittingText(); }
};

TEST_F(MainDialogHandsFree, CtrlShiftHTurnsTheSittingOnAndAnyKeyGoesOnAfterAPause) {
  Load({u"a001.wav Hello there", u"a002.wav Good morning"});
  engine.SetInputTone(440, 0.0);  // a silent room
  Box()->setFocus();
  Key(Qt::CTRL | Qt::SHIFT | Qt::Key_H);
  EXPECT_TRUE(dialog.session().settings().handsFree);
  Click(ui::ids::kRecord);
  EXPECT_EQ(Text(dialog, ui::ids::kRecord), QStringLiteral("[STOP]"));
  EXPECT_EQ(State(), QStringLiteral("Listening"));
  EXPECT_TRUE(dialog.levelMeter()->accessibleDescription().startsWith(QStringLiteral("Listening")));
  Run(10'500);
  EXPECT_EQ(State(), QStringLiteral("Waiting for voice"));
  EXPECT_EQ(Text(dialog, ui::ids::kRecord), QStringLiteral("[STOP]"));
  const QString text = Text(dialog, ui::ids::kPromptText);
  Key(QKeyCombination(Qt::Key_Space));
  EXPECT_EQ(State(), QStringLiteral("Listening"));
  EXPECT_EQ(Text(dialog, ui::ids::kPromptText), text);  // the key went on, it typed nothing
  Key(Qt::CTRL | Qt::SHIFT | Qt::Key_H);
  EXPECT_FALSE(dialog.session().settings().handsFree);
  EXPECT_EQ(State(), QString());
  EXPECT_EQ(Text(dialog, ui::ids::kRecord), QStringLiteral("Record"));
}

TEST_F(MainDialogHandsFree, CtrlPlusAndMinusZoomThePromptTextAndMoveNoControl) {
  Load({u"a001.wav Hello there"});
  std::map<int, QRect> places;
  for (int id :
       {ui::ids::kPromptText, ui::ids::kStatistics, ui::ids::kPrevious, ui::ids::kNext,
        ui::ids::kPlay, ui::ids::kRecord, ui::ids::kList, ui::ids::kOpen, ui::ids::kGoto}) {
    places[id] = dialog.GetDlgItem(id)->geometry();
  }
  const QSize size = dialog.size();
  const int pixels = dialog.textFont().pixelSize();
  struct Step {
    QKeyCombination keys;
    int zoom;
  } const steps[] = {{Qt::CTRL | Qt::Key_Plus, 125},
                     {Qt::CTRL | Qt::Key_Equal, 150},
                     {Qt::CTRL | Qt::Key_Minus, 125},
                     {Qt::CTRL | Qt::Key_Minus, 100},
                     {Qt::CTRL | Qt::Key_Minus, 80}};
  for (const Step& step : steps) {
    Key(step.keys);
    EXPECT_EQ(dialog.session().settings().textZoom, step.zoom);
    EXPECT_NEAR(Box()->font().pixelSize(), pixels * step.zoom / 100.0, 1.0);
  }
  for (const auto& [id, place] : places) {
    EXPECT_EQ(dialog.GetDlgItem(id)->geometry(), place) << id;
  }
  EXPECT_EQ(dialog.size(), size);
}

}  // namespace
}  // namespace voxtar::testing
