// The main dialog: its template, its start-up state, the display, the keys that end it, the About
// box, and its commands through real clicks and keys on the simulated audio engine.
#include "ui/voxtar_dlg.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include <gtest/gtest.h>
#include <QContextMenuEvent>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include "audio/pulse_audio_engine.h"
#include "audio/wave_element.h"
#include "platform/file_system.h"
#include "testing/simulated_audio_engine.h"
#include "tests/ui/ui_test_support.h"
#include "ui/dialog_controls.h"
#include "ui/lessons_dialog.h"
#include "ui/level_meter_widget.h"
#include "ui/prompt_display.h"

namespace voxtar {
namespace {

using testing::FakeWindowServices;
using testing::QuietEngine;

const int kAllControls[] = {ids::kPromptText, ids::kStatistics, ids::kPrevious,
                            ids::kNext,       ids::kPlay,       ids::kRecord,
                            ids::kList,       ids::kOpen,       ids::kGoto};

QString Text(CVoxtarDlg& dialog, int id) {
  QWidget* widget = dialog.GetDlgItem(id);
  if (auto* button = qobject_cast<QPushButton*>(widget)) {
    return button->text();
  }
  if (auto* line = qobject_cast<QLineEdit*>(widget)) {
    return line->text();
  }
  return static_cast<QPlainTextEdit*>(widget)->toPlainText();
}

}  // namespace
}  // namespace voxtar

// Readable failures for geometry.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QRect& r, std::ostream* os) {
  *os << "QRect(" << r.x() << ", " << r.y() << ", " << r.width() << ", " << r.height() << ")";
}
inline void PrintTo(const QSize& s, std::ostream* os) {
  *os << "QSize(" << s.width() << ", " << s.height() << ")";
}
QT_END_NAMESPACE

namespace voxtar {
namespace {

bool Enabled(CVoxtarDlg& dialog, int id) {
  return dialog.GetDlgItem(id)->isEnabled();
}

TEST(MainTemplate, PixelGeometryForThePinnedFont) {
  const QFont font = DialogFont(10);
  EXPECT_EQ(QFontInfo(font).family(), QStringLiteral("Liberation Sans"));
  EXPECT_EQ(font.pixelSize(), 13);
  const BaseUnits units = DialogBaseUnits(font);
  EXPECT_EQ(units.x, 8);
  EXPECT_EQ(units.y, 15);

  // 309 x 190 units; x * 8 / 4 and y * 15 / 8, rounded like MulDiv.
  FakeWindowServices services;
  CVoxtarDlg dialog{QuietEngine(), services};
  EXPECT_EQ(dialog.size(), QSize(618, 356));
  EXPECT_EQ(dialog.GetDlgItem(ids::kPromptText)->geometry(), QRect(14, 56, 578, 197));
  EXPECT_EQ(dialog.GetDlgItem(ids::kStatistics)->geometry(), QRect(14, 272, 574, 26));
  EXPECT_EQ(dialog.GetDlgItem(ids::kPrevious)->geometry(), QRect(54, 315, 100, 26));
  EXPECT_EQ(dialog.GetDlgItem(ids::kNext)->geometry(), QRect(176, 315, 100, 26));
  EXPECT_EQ(dialog.GetDlgItem(ids::kPlay)->geometry(), QRect(312, 315, 100, 26));
  EXPECT_EQ(dialog.GetDlgItem(ids::kRecord)->geometry(), QRect(446, 315, 100, 26));
  EXPECT_EQ(dialog.GetDlgItem(ids::kList)->geometry(), QRect(14, 13, 100, 26));
  EXPECT_EQ(dialog.GetDlgItem(ids::kOpen)->geometry(), QRect(114, 13, 100, 26));
  EXPECT_EQ(dialog.GetDlgItem(ids::kGoto)->geometry(), QRect(218, 13, 100, 26));
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Voxtar"));
  EXPECT_EQ(static_cast<QWidget*>(dialog.findChild<QLabel*>())->geometry(), QRect(34, 253, 64, 15));
}

TEST(MainTemplate, TextsTabOrderAndNoDefaultButton) {
  FakeWindowServices services;
  CVoxtarDlg dialog{QuietEngine(), services};
  EXPECT_EQ(Text(dialog, ids::kPrevious), QStringLiteral("<<"));
  EXPECT_EQ(Text(dialog, ids::kNext), QStringLiteral(">>"));
  EXPECT_EQ(Text(dialog, ids::kPlay), QStringLiteral("Play"));
  EXPECT_EQ(Text(dialog, ids::kRecord), QStringLiteral("Record"));
  EXPECT_EQ(Text(dialog, ids::kList), QStringLiteral("List"));
  EXPECT_EQ(Text(dialog, ids::kOpen), QStringLiteral("Open"));
  EXPECT_EQ(Text(dialog, ids::kGoto), QStringLiteral("Goto"));
  EXPECT_EQ(dialog.findChild<QLabel*>()->text(), QStringLiteral("Statistics:"));
  for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
    EXPECT_FALSE(button->isDefault());
    EXPECT_FALSE(button->autoDefault());
  }
  // Template order is the tab order.
  std::vector<int> order;
  QWidget* widget = dialog.GetDlgItem(ids::kPromptText);
  do {
    for (int id : kAllControls) {
      if (dialog.GetDlgItem(id) == widget) {
        order.push_back(id);
      }
    }
    widget = widget->nextInFocusChain();
  } while (widget != dialog.GetDlgItem(ids::kPromptText));
  EXPECT_EQ(order,
            (std::vector<int>{ids::kPromptText, ids::kStatistics, ids::kPrevious, ids::kNext,
                              ids::kPlay, ids::kRecord, ids::kList, ids::kOpen, ids::kGoto}));
  auto* box = static_cast<MultiLineEdit*>(dialog.GetDlgItem(ids::kPromptText));
  EXPECT_EQ(box->lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_EQ(box->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(box->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(box->wordBreakProc(), &BackslashWordBreak);
  EXPECT_EQ(box->font().pixelSize(), PixelSizeForCellHeight(18));
  EXPECT_TRUE(static_cast<QLineEdit*>(dialog.GetDlgItem(ids::kStatistics))->isReadOnly());
}

TEST(MainDialogStartUp, OnlyListAndOpenAreEnabled) {
  FakeWindowServices services;
  CVoxtarDlg dialog{QuietEngine(), services};
  for (int id : kAllControls) {
    const bool expected = id == ids::kList || id == ids::kOpen || id == ids::kStatistics;
    EXPECT_EQ(Enabled(dialog, id), expected) << id;
  }
  // Until a lesson is loaded both boxes are empty, not "***".
  EXPECT_TRUE(Text(dialog, ids::kPromptText).isEmpty());
  EXPECT_TRUE(Text(dialog, ids::kStatistics).isEmpty());
  EXPECT_EQ(dialog.lesson().state, LessonState::NoLesson);
  EXPECT_EQ(dialog.audioMode(), AudioMode::Idle);
  EXPECT_EQ(dialog.device(), nullptr);
  EXPECT_EQ(dialog.lesson().paths.lessonDirectory, u"ini/");
  EXPECT_FALSE(dialog.IsCommandEnabled(ids::kSaveCommand));
  EXPECT_FALSE(dialog.IsCommandEnabled(ids::kUnloadCommand));
  EXPECT_TRUE(dialog.IsCommandEnabled(ids::kListCommand));
}

// A working directory with a lesson "Ini/unit.idx" whose prompt a001.wav is recorded.
class MainDialogWithLesson : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::WriteBytes(dir / "sample.wav", "RIFF");
    testing::WriteBytes(dir / "Prompt/unit/a001.wav", "RIFF");
  }
  void WriteLesson(const std::vector<std::u16string>& lines) {
    testing::WriteBytes(dir / "Ini/unit.idx", testing::IndexBytes(lines));
  }
  void Open(CVoxtarDlg& dialog) {
    services.nextFile = QString::fromStdString((dir / "Ini/unit.idx").string());
    QTest::mouseClick(static_cast<QPushButton*>(dialog.GetDlgItem(ids::kOpen)), Qt::LeftButton);
  }
  testing::TempDir dir;
  testing::ScopedWorkingDirectory cwd{dir.path()};
  FakeWindowServices services;
};

TEST_F(MainDialogWithLesson, RefreshShowsTheCurrentPrompt) {
  const std::u16string longText(51, u'x');
  WriteLesson({u"a001.wav > Good day", u"a002.wav " + longText + u" and more", u"a003.wav Hi!!!"});
  CVoxtarDlg dialog{QuietEngine(), services};
  Open(dialog);
  ASSERT_EQ(dialog.lesson().state, LessonState::Saved);
  EXPECT_TRUE(services.boxes.empty());
  EXPECT_EQ(Text(dialog, ids::kPromptText), QStringLiteral("Good day"));
  EXPECT_EQ(Text(dialog, ids::kStatistics), QStringLiteral("a001.wav :"));
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Voxtar - unit.idx - [001 / 003]"));
  for (int id : kAllControls) {
    EXPECT_EQ(Enabled(dialog, id), id != ids::kPrevious) << id;
  }

  QTest::mouseClick(static_cast<QPushButton*>(dialog.GetDlgItem(ids::kNext)), Qt::LeftButton);
  EXPECT_EQ(Text(dialog, ids::kPromptText),
            QString::fromStdU16String(longText) + QStringLiteral("\nand more"));
  EXPECT_EQ(Text(dialog, ids::kStatistics), QStringLiteral("a002.wav : <File not found>"));
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Voxtar - unit.idx - [002 / 003]"));
  EXPECT_TRUE(Enabled(dialog, ids::kPrevious));
  EXPECT_TRUE(Enabled(dialog, ids::kNext));

  QTest::mouseClick(static_cast<QPushButton*>(dialog.GetDlgItem(ids::kNext)), Qt::LeftButton);
  EXPECT_TRUE(Enabled(dialog, ids::kPrevious));
  EXPECT_FALSE(Enabled(dialog, ids::kNext));
  // Nothing was edited: the lesson is as loaded.
  EXPECT_EQ(dialog.lesson().state, LessonState::Saved);
}

TEST_F(MainDialogWithLesson, UnloadShowsTheEmptyLessonDisplay) {
  WriteLesson({u"a001.wav Hello there"});
  CVoxtarDlg dialog{QuietEngine(), services};
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  Open(dialog);
  EXPECT_FALSE(Enabled(dialog, ids::kPrevious));
  EXPECT_FALSE(Enabled(dialog, ids::kNext));
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Voxtar - unit.idx - [001 / 001]"));
  QTest::keyClick(&dialog, Qt::Key_W, Qt::ControlModifier);
  EXPECT_EQ(dialog.lesson().state, LessonState::NoLesson);
  EXPECT_EQ(Text(dialog, ids::kPromptText), QStringLiteral("***"));
  EXPECT_EQ(Text(dialog, ids::kStatistics), QStringLiteral("***"));
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Voxtar"));
  for (int id : kAllControls) {
    const bool expected = id == ids::kList || id == ids::kOpen || id == ids::kStatistics;
    EXPECT_EQ(Enabled(dialog, id), expected) << id;
  }
}

TEST_F(MainDialogWithLesson, EnterInTheTextBoxEndsTheProgramAndWritesTheLesson) {
  WriteLesson({u"a001.wav Hello there", u"a002.wav Good morning"});
  CVoxtarDlg dialog{QuietEngine(), services};
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  Open(dialog);
  auto* box = static_cast<QPlainTextEdit*>(dialog.GetDlgItem(ids::kPromptText));
  box->setFocus();
  QTest::keyClick(box, Qt::Key_End);
  QTest::keyClicks(box, QStringLiteral(" you"));
  QTest::mouseClick(static_cast<QPushButton*>(dialog.GetDlgItem(ids::kNext)), Qt::LeftButton);
  ASSERT_EQ(dialog.lesson().state, LessonState::Modified);
  QSignalSpy finished(&dialog, &QDialog::finished);
  box->setFocus();
  QTest::keyClick(box, Qt::Key_Return);
  EXPECT_EQ(finished.count(), 1);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.lesson().state, LessonState::NoLesson);
  EXPECT_EQ(testing::ReadBytes(dir / "Ini/unit.idx"),
            testing::IndexBytes({u"a001.wav > Hello there you", u"a002.wav Good morning"}));
}

TEST_F(MainDialogWithLesson, EscapeAndTheCloseBoxWithoutLessonWriteNothing) {
  WriteLesson({u"a001.wav Hello there"});
  const std::string before = testing::ReadBytes(dir / "Ini/unit.idx");
  for (bool closeBox : {false, true}) {
    CVoxtarDlg dialog{QuietEngine(), services};
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QSignalSpy finished(&dialog, &QDialog::finished);
    if (closeBox) {
      dialog.close();
    } else {
      QTest::keyClick(dialog.GetDlgItem(ids::kStatistics), Qt::Key_Escape);
    }
    EXPECT_EQ(finished.count(), 1);
    EXPECT_FALSE(dialog.isVisible());
  }
  EXPECT_EQ(testing::ReadBytes(dir / "Ini/unit.idx"), before);
  EXPECT_TRUE(services.boxes.empty());
}

TEST_F(MainDialogWithLesson, AFocusedButtonTakesEnterAsItsOwnPress) {
  WriteLesson({u"a001.wav Hello there", u"a002.wav Good morning"});
  CVoxtarDlg dialog{QuietEngine(), services};
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  Open(dialog);
  QWidget* next = dialog.GetDlgItem(ids::kNext);
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
  CVoxtarDlg dialog{QuietEngine(), services};
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
  CVoxtarDlg dialog{QuietEngine(), services};
  dialog.SetAboutHandler(about.Handler());
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  QTest::keyClick(dialog.GetDlgItem(ids::kStatistics), Qt::Key_F1);
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

}  // namespace
}  // namespace voxtar

// ---- Commands, on the simulated audio engine ---------------------------------------------------

namespace voxtar {
namespace {

using Command = audio::SimulatedAudioEngine::Command;

constexpr int kWav16 = 0x010002;  // WAV, 16-bit PCM

class MainDialogCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(audio::WriteWaveFile(audio::MakeElement(kWav16, 22050, 1, 22050),
                                     (dir.wide() + u"/sample.wav"), &error))
        << error;
    sampleBytes = testing::ReadBytes(dir / "sample.wav");
    // a001 has a take of one second.
    std::filesystem::create_directories(dir / "Prompt/unit");
    ASSERT_TRUE(audio::WriteWaveFile(audio::MakeElement(kWav16, 22050, 1, 22050),
                                     dir.wide() + u"/Prompt/unit/a001.wav", &error));
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  }
  // The dialog (declared last) goes first and closes its device while the engine exists.
  void Load(const std::vector<std::u16string>& lines) {
    testing::WriteBytes(dir / "Ini/unit.idx", testing::IndexBytes(lines));
    services.nextFile = QString::fromStdString((dir / "Ini/unit.idx").string());
    Click(ids::kOpen);
    ASSERT_NE(dialog.lesson().state, LessonState::NoLesson);
  }
  void Click(int id) {
    QTest::mouseClick(static_cast<QPushButton*>(dialog.GetDlgItem(id)), Qt::LeftButton);
  }
  void Type(const QString& text, bool replace = true) {
    auto* box = static_cast<QPlainTextEdit*>(dialog.GetDlgItem(ids::kPromptText));
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
  std::string IndexFile() const { return testing::ReadBytes(dir / "Ini/unit.idx"); }

  testing::TempDir dir;
  testing::ScopedWorkingDirectory cwd{dir.path()};
  FakeWindowServices services;
  audio::SimulatedAudioEngine engine;
  std::string sampleBytes;
  CVoxtarDlg dialog{engine, services};
};

TEST_F(MainDialogCommands, PlayStopAndANoticeAfterTheStop) {
  Load({u"a001.wav Hello there"});
  Click(ids::kPlay);
  EXPECT_EQ(Text(dialog, ids::kPlay), QStringLiteral("<Playing>"));
  EXPECT_EQ(dialog.audioMode(), AudioMode::Playing);
  ASSERT_NE(dialog.device(), nullptr);
  EXPECT_EQ(dialog.device()->fileName(), dir.wide() + u"/Prompt/unit/a001.wav");
  engine.Advance(1100);  // past the end: the notice comes
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(Text(dialog, ids::kPlay), QStringLiteral("Play"));
  EXPECT_EQ(dialog.audioMode(), AudioMode::Idle);
  ASSERT_NE(dialog.device(), nullptr);  // kept open for the next press

  Click(ids::kPlay);  // the same device plays again from the start
  EXPECT_EQ(CountOf(Command::Open), 1);
  EXPECT_EQ(CountOf(Command::Play), 2);
  Click(ids::kPlay);  // stops
  EXPECT_EQ(Text(dialog, ids::kPlay), QStringLiteral("Play"));
  EXPECT_EQ(dialog.audioMode(), AudioMode::Idle);
  const int stops = CountOf(Command::Stop);
  QCoreApplication::postEvent(
      &dialog, new audio::PlaybackNotice(audio::NotifyCode::Aborted, dialog.device()->deviceId()));
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(Text(dialog, ids::kPlay), QStringLiteral("Play"));
  EXPECT_EQ(dialog.audioMode(), AudioMode::Idle);
  EXPECT_EQ(CountOf(Command::Stop), stops);
  EXPECT_TRUE(services.boxes.empty());
}

TEST_F(MainDialogCommands, RecordThenRecordSavesTheTakeAndMarksTheEntry) {
  Load({u"a001.wav Hello there", u"a002.wav > Good morning"});
  Click(ids::kNext);
  EXPECT_EQ(Text(dialog, ids::kStatistics), QStringLiteral("a002.wav : <File not found>"));
  Click(ids::kRecord);
  EXPECT_EQ(Text(dialog, ids::kRecord), QStringLiteral("[STOP]"));
  EXPECT_EQ(dialog.audioMode(), AudioMode::Recording);
  EXPECT_EQ(dialog.device()->fileName(), u"sample.wav");
  // The marker went at the press; the lesson is not Modified until the take is saved.
  EXPECT_EQ(dialog.lesson().current()->text, u"Good morning");
  EXPECT_EQ(dialog.lesson().state, LessonState::Saved);
  engine.Advance(400);
  Click(ids::kRecord);
  EXPECT_EQ(Text(dialog, ids::kRecord), QStringLiteral("Record"));
  EXPECT_EQ(Text(dialog, ids::kPlay), QStringLiteral("Play"));
  EXPECT_EQ(Text(dialog, ids::kStatistics), QStringLiteral("a002.wav :"));
  EXPECT_EQ(dialog.lesson().state, LessonState::Modified);
  EXPECT_EQ(dialog.lesson().current()->recorded, 1);

  audio::WaveElement take;
  std::string error;
  ASSERT_TRUE(audio::ReadWaveFile(dir.wide() + u"/Prompt/unit/a002.wav", &take, &error));
  EXPECT_EQ(take.format, kWav16);
  EXPECT_EQ(take.sampleRate, 22050);
  EXPECT_EQ(take.channels, 1);
  EXPECT_EQ(testing::ReadBytes(dir / "sample.wav"), sampleBytes);

  Click(ids::kPlay);  // plays the new take on the same device
  EXPECT_EQ(CountOf(Command::Open), 1);
  EXPECT_EQ(engine.calls().back().command, Command::Play);
  Click(ids::kPlay);
  // Escape writes the lesson back without the marker.
  QTest::keyClick(dialog.GetDlgItem(ids::kStatistics), Qt::Key_Escape);
  EXPECT_EQ(IndexFile(), testing::IndexBytes({u"a001.wav Hello there", u"a002.wav Good morning"}));
}

TEST_F(MainDialogCommands, RecordDuringPlaybackOnlyStoresTheText) {
  Load({u"a001.wav > Good day"});
  EXPECT_EQ(Text(dialog, ids::kPromptText), QStringLiteral("Good day"));
  Click(ids::kPlay);
  Type(QStringLiteral("Good night"));
  Click(ids::kRecord);
  EXPECT_EQ(dialog.lesson().current()->text, u"Good night");
  EXPECT_EQ(dialog.lesson().state, LessonState::Saved);
  EXPECT_EQ(dialog.audioMode(), AudioMode::Playing);
  EXPECT_EQ(Text(dialog, ids::kPlay), QStringLiteral("<Playing>"));
  EXPECT_EQ(Text(dialog, ids::kRecord), QStringLiteral("Record"));
  EXPECT_EQ(CountOf(Command::Record), 0);
  // "Play" during a recording does nothing.
  Click(ids::kPlay);
  Click(ids::kRecord);
  ASSERT_EQ(dialog.audioMode(), AudioMode::Recording);
  Click(ids::kPlay);
  EXPECT_EQ(dialog.audioMode(), AudioMode::Recording);
}

TEST_F(MainDialogCommands, NextDuringARecordingDropsItAndKeepsStop) {
  Load({u"a001.wav Hello there", u"a002.wav Good morning", u"a003.wav See you later"});
  Click(ids::kNext);
  Click(ids::kRecord);
  engine.Advance(300);
  Click(ids::kNext);
  EXPECT_EQ(dialog.lesson().prompts.currentIndex, 2);
  EXPECT_EQ(dialog.audioMode(), AudioMode::Idle);
  EXPECT_EQ(dialog.device(), nullptr);
  EXPECT_EQ(Text(dialog, ids::kRecord), QStringLiteral("[STOP]"));
  EXPECT_FALSE(std::filesystem::exists(dir / "Prompt/unit/a002.wav"));
  EXPECT_EQ(dialog.lesson().state, LessonState::Saved);
  // Pressing it now starts a recording of the new prompt.
  Click(ids::kRecord);
  EXPECT_EQ(dialog.audioMode(), AudioMode::Recording);
}

TEST_F(MainDialogCommands, GotoLosesAnEditNextStoresItWithTheMarker) {
  Load({u"a001.wav Hello there", u"a002.wav Good morning", u"a003.wav See you later"});
  Type(QStringLiteral("Changed"));
  Click(ids::kGoto);  // a002 is the first without a take
  EXPECT_EQ(dialog.lesson().prompts.currentIndex, 1);
  EXPECT_EQ(dialog.lesson().prompts.entries[0]->text, u"Hello there");
  EXPECT_EQ(dialog.lesson().state, LessonState::Saved);
  Type(QStringLiteral(" now"), false);
  Click(ids::kNext);
  EXPECT_EQ(dialog.lesson().prompts.entries[1]->text, u"> Good morning now");
  EXPECT_EQ(dialog.lesson().state, LessonState::Modified);
  Click(ids::kPrevious);
  EXPECT_EQ(Text(dialog, ids::kPromptText), QStringLiteral("Good morning now"));
  // The Ctrl+G shortcut is Goto too.
  Click(ids::kPrevious);
  QTest::keyClick(dialog.GetDlgItem(ids::kStatistics), Qt::Key_G, Qt::ControlModifier);
  EXPECT_EQ(dialog.lesson().prompts.currentIndex, 1);
}

TEST_F(MainDialogCommands, AnUntouchedLongPromptComesBackUnchanged) {
  std::u16string text;
  while (text.size() + 52 <= kMaxPromptTextLength) {
    text += std::u16string(51, u'w') + u" ";
  }
  text += std::u16string(kMaxPromptTextLength - text.size(), u'z');
  ASSERT_EQ(text.size(), kMaxPromptTextLength);
  Load({u"a001.wav " + text, u"a002.wav Good morning"});
  // The box shows it on ten lines.
  const std::u16string box = dialog.BoxText();
  EXPECT_EQ(std::count(box.begin(), box.end(), u'\n'), 9);
  Click(ids::kNext);
  Click(ids::kPrevious);
  EXPECT_EQ(dialog.lesson().prompts.entries[0]->text, std::u16string_view(text));
  EXPECT_EQ(dialog.lesson().state, LessonState::Saved);
  Click(ids::kRecord);  // stores the whole text, not a cut one
  EXPECT_EQ(dialog.lesson().prompts.entries[0]->text, std::u16string_view(text));
}

TEST_F(MainDialogCommands, ListAndOpenWriteAModifiedLessonBackEvenWhenCancelled) {
  Load({u"a001.wav Hello there", u"a002.wav Good morning"});
  Type(QStringLiteral("Hi there"));
  Click(ids::kNext);
  services.nextFile.reset();
  Click(ids::kOpen);
  EXPECT_EQ(dialog.lesson().state, LessonState::NoLesson);
  EXPECT_EQ(IndexFile(), testing::IndexBytes({u"a001.wav > Hi there", u"a002.wav Good morning"}));
  ASSERT_EQ(services.fileRequests.size(), 2u);
  const platform::OpenFileRequest& request = services.fileRequests.back();
  EXPECT_EQ(request.owner, nullptr);
  EXPECT_EQ(request.filter, QStringLiteral("Lexaro IDX Files (*.idx)"));
  EXPECT_EQ(request.initialPath, QString::fromStdString(dir.path().string()) + "/Ini/");
  EXPECT_TRUE(request.fileMustExist);
  EXPECT_EQ(std::filesystem::current_path(), dir.path());
  EXPECT_EQ(Text(dialog, ids::kPromptText), QStringLiteral("***"));

  Load({u"a001.wav Hello there", u"a002.wav Good morning"});
  Type(QStringLiteral("Hi again"));
  Click(ids::kNext);
  testing::WhenModal([&] {
    auto* chooser = testing::ActiveModal<QDialog>();
    if (chooser == nullptr || chooser == &dialog) {
      return false;
    }
    QTest::keyClick(chooser, Qt::Key_Escape);
    return true;
  });
  Click(ids::kList);
  EXPECT_EQ(dialog.lesson().state, LessonState::NoLesson);
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
  QTest::keyClick(dialog.GetDlgItem(ids::kStatistics), Qt::Key_L, Qt::ControlModifier);
  EXPECT_EQ(dialog.lesson().state, LessonState::Saved);
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Voxtar - unit.idx - [001 / 001]"));
  EXPECT_EQ(Text(dialog, ids::kStatistics), QStringLiteral("a001.wav :"));
  EXPECT_TRUE(Enabled(dialog, ids::kRecord));
  EXPECT_TRUE(Enabled(dialog, ids::kGoto));
}

TEST_F(MainDialogCommands, EachDialogKeepsItsOwnLastChoice) {
  testing::WriteBytes(dir / "Ini/lessons.ini", "Greetings\nunit.ini\nNumbers\nother.ini\n");
  testing::WriteBytes(dir / "Ini/unit.idx", testing::IndexBytes({u"a001.wav Hello there"}));
  // Runs "List" in `owner`: the row the chooser came up with (-1: none), then takes row `take`
  // or cancels (-1).
  const auto list = [](CVoxtarDlg& owner, int take) {
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
    owner.OnCommand(ids::kList);
    return preselected;
  };
  EXPECT_EQ(list(dialog, 0), -1);
  ASSERT_EQ(dialog.lesson().state, LessonState::Saved);

  FakeWindowServices otherServices;
  CVoxtarDlg other{QuietEngine(), otherServices};
  EXPECT_EQ(list(other, -1), -1);
  EXPECT_EQ(list(dialog, -1), 0);
  EXPECT_TRUE(services.boxes.empty());
  EXPECT_TRUE(otherServices.boxes.empty());
}

TEST_F(MainDialogCommands, EachLoadOutcomeHasItsBox) {
  const auto open = [&](const std::filesystem::path& path) {
    services.boxes.clear();
    services.nextFile = QString::fromStdString(path.string());
    Click(ids::kOpen);
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
  EXPECT_EQ(dialog.lesson().state, LessonState::NoLesson);
  EXPECT_FALSE(Enabled(dialog, ids::kRecord));

  testing::WriteBytes(dir / "Ini/locked.idx", testing::IndexBytes({u"a001.wav Hello there"}));
  std::filesystem::permissions(dir / "Ini/locked.idx", std::filesystem::perms::owner_read);
  open(dir / "Ini/locked.idx");
  ASSERT_EQ(services.boxes.size(), 1u);
  EXPECT_EQ(services.boxes[0].owner, nullptr);
  EXPECT_EQ(services.boxes[0].text, QString::fromStdString((dir / "Ini/locked.idx").string()));
  EXPECT_EQ(services.boxes[0].caption, QStringLiteral("Cannot write file"));
  EXPECT_EQ(services.boxes[0].icon, platform::BoxIcon::Warning);
  EXPECT_EQ(dialog.lesson().state, LessonState::Saved);
  EXPECT_TRUE(Enabled(dialog, ids::kRecord));
}

TEST_F(MainDialogCommands, SaveShortcutOnlyForAModifiedLesson) {
  Load({u"a001.wav Hello there", u"a002.wav Good morning"});
  const std::string loaded = IndexFile();
  QWidget* line = dialog.GetDlgItem(ids::kStatistics);
  std::filesystem::remove(dir / "Ini/unit.idx");
  QTest::keyClick(line, Qt::Key_S, Qt::ControlModifier);  // Saved: not offered
  EXPECT_FALSE(std::filesystem::exists(dir / "Ini/unit.idx"));
  Type(QStringLiteral("Hi"));
  Click(ids::kNext);
  EXPECT_TRUE(dialog.IsCommandEnabled(ids::kSaveCommand));
  QTest::keyClick(line, Qt::Key_S, Qt::ControlModifier);
  EXPECT_EQ(IndexFile(), testing::IndexBytes({u"a001.wav > Hi", u"a002.wav Good morning"}));
  EXPECT_EQ(dialog.lesson().state, LessonState::Saved);
  EXPECT_NE(IndexFile(), loaded);
}

TEST_F(MainDialogCommands, NoActionShowsItsBox) {
  EXPECT_TRUE(dialog.OnCommand(ids::kNoAction));
  ASSERT_EQ(services.boxes.size(), 1u);
  EXPECT_EQ(services.boxes[0].owner, &dialog);
  EXPECT_EQ(services.boxes[0].text, QStringLiteral("NO AVTION"));
  EXPECT_EQ(services.boxes[0].caption, QStringLiteral("Voxtar"));
  EXPECT_FALSE(dialog.OnCommand(4242));
}

TEST_F(MainDialogCommands, ARecordingDoneNoticeSavesTheTakeAndClearsTheMarker) {
  Load({u"a001.wav Hello there", u"a002.wav Good morning"});
  Click(ids::kNext);
  EXPECT_EQ(dialog.OnRecordingDone(), 0);  // idle: only the text
  EXPECT_EQ(Text(dialog, ids::kRecord), QStringLiteral("<Record>"));
  EXPECT_EQ(CountOf(Command::Save), 0);
  Click(ids::kRecord);
  // The marker comes back with an edit typed while recording, stored by the box's next read.
  dialog.lesson().current()->text = u"> Good morning";
  engine.Advance(300);
  dialog.OnRecordingDone();
  EXPECT_EQ(dialog.audioMode(), AudioMode::Idle);
  EXPECT_EQ(Text(dialog, ids::kRecord), QStringLiteral("<Record>"));
  EXPECT_TRUE(std::filesystem::exists(dir / "Prompt/unit/a002.wav"));
  EXPECT_EQ(dialog.lesson().current()->text, u"Good morning");
  EXPECT_EQ(dialog.lesson().state, LessonState::Modified);
  EXPECT_EQ(Text(dialog, ids::kStatistics), QStringLiteral("a002.wav :"));
}

TEST_F(MainDialogCommands, AFailedSaveDoesNotMarkThePromptRecorded) {
  Load({u"a001.wav Hello there", u"a002.wav Good morning"});
  Click(ids::kNext);
  Click(ids::kRecord);
  engine.Advance(200);
  engine.FailNext(Command::Save, 77, QStringLiteral("The disk is full."));
  Click(ids::kRecord);
  ASSERT_EQ(services.boxes.size(), 1u);
  EXPECT_EQ(services.boxes[0].owner, nullptr);
  EXPECT_EQ(services.boxes[0].caption, QStringLiteral("Error"));
  EXPECT_EQ(dialog.lesson().current()->recorded, 0);
  EXPECT_EQ(Text(dialog, ids::kStatistics), QStringLiteral("a002.wav : <File not found>"));
  EXPECT_EQ(dialog.lesson().state, LessonState::Saved);
  EXPECT_EQ(dialog.audioMode(), AudioMode::Idle);
  EXPECT_EQ(Text(dialog, ids::kRecord), QStringLiteral("Record"));
  EXPECT_FALSE(std::filesystem::exists(dir / "Prompt/unit/a002.wav"));

  // Nor through the recording-done notice, which then keeps the edit marker too.
  Click(ids::kRecord);
  dialog.lesson().current()->text = u"> Good morning";
  engine.Advance(200);
  engine.FailNext(Command::Save, 77, QStringLiteral("The disk is full."));
  dialog.OnRecordingDone();
  EXPECT_EQ(dialog.lesson().current()->recorded, 0);
  EXPECT_EQ(dialog.lesson().current()->text, u"> Good morning");
  EXPECT_EQ(dialog.lesson().state, LessonState::Saved);
}

TEST_F(MainDialogCommands, ARecordingThatNeverStartedSavesNothing) {
  Load({u"a001.wav Hello there", u"a002.wav Good morning"});
  Click(ids::kNext);
  engine.FailNext(Command::Record, 79, QStringLiteral("No sound input."));
  Click(ids::kRecord);
  ASSERT_EQ(services.boxes.size(), 1u);
  EXPECT_EQ(services.boxes[0].caption, QStringLiteral("Error"));
  EXPECT_EQ(Text(dialog, ids::kRecord), QStringLiteral("[STOP]"));
  Click(ids::kRecord);
  // The template's own audio is no take of this prompt.
  EXPECT_EQ(CountOf(Command::Save), 0);
  EXPECT_FALSE(std::filesystem::exists(dir / "Prompt/unit/a002.wav"));
  EXPECT_EQ(Text(dialog, ids::kStatistics), QStringLiteral("a002.wav : <File not found>"));
  EXPECT_EQ(dialog.lesson().state, LessonState::Saved);
  EXPECT_EQ(Text(dialog, ids::kRecord), QStringLiteral("Record"));
}

TEST_F(MainDialogCommands, CommandsWaitWhileABoxWithoutOwnerIsUp) {
  Load({u"a001.wav Hello there", u"a002.wav Good morning", u"a003.wav See you later"});
  Click(ids::kNext);
  Click(ids::kRecord);
  engine.Advance(300);
  engine.FailNext(Command::Stop, 78, QStringLiteral("The device is busy."));
  // The stop's box leaves the dialog enabled; ">>" and Escape pressed under it must not pull the
  // device or the lesson from under the stopping "Record".
  services.whileBoxUp = [&] {
    Click(ids::kNext);
    QTest::keyClick(dialog.GetDlgItem(ids::kStatistics), Qt::Key_Escape);
  };
  Click(ids::kRecord);
  ASSERT_FALSE(services.boxes.empty());
  EXPECT_EQ(services.boxes[0].caption, QStringLiteral("Wave Stop Error"));
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(dialog.lesson().prompts.currentIndex, 1);
  EXPECT_EQ(dialog.audioMode(), AudioMode::Idle);
  EXPECT_EQ(Text(dialog, ids::kRecord), QStringLiteral("Record"));
}

TEST_F(MainDialogCommands, AnUntouchedPromptKeepsItsNoBreakSpaces) {
  const std::u16string text = u"Цена:\u00A010\u00A0000 рублей";
  Load({u"a001.wav " + text, u"a002.wav Good morning"});
  Click(ids::kNext);
  Click(ids::kPrevious);
  EXPECT_EQ(dialog.lesson().prompts.entries[0]->text, std::u16string_view(text));
  EXPECT_EQ(dialog.lesson().state, LessonState::Saved);
  Click(ids::kRecord);
  EXPECT_EQ(dialog.lesson().prompts.entries[0]->text, std::u16string_view(text));
}

TEST_F(MainDialogCommands, APromptNameLeadingOutOfThePromptDirectoryIsRefused) {
  Load({u"../../evil.wav Hello there", u".. Good morning", u"a001.wav Fine"});
  for (int index = 0; index < 2; ++index) {
    const std::u16string path = dialog.lesson().PromptFilePath();
    services.boxes.clear();
    Click(ids::kRecord);
    Click(ids::kPlay);
    ASSERT_EQ(services.boxes.size(), 2u) << index;
    for (const platform::MessageBoxRequest& box : services.boxes) {
      EXPECT_EQ(box.owner, nullptr);
      EXPECT_EQ(box.text, QString::fromStdU16String(path));
      EXPECT_EQ(box.caption, QStringLiteral("Invalid prompt name"));
    }
    EXPECT_EQ(dialog.audioMode(), AudioMode::Idle);
    EXPECT_EQ(Text(dialog, ids::kRecord), QStringLiteral("Record"));
    EXPECT_EQ(Text(dialog, ids::kPlay), QStringLiteral("Play"));
    Click(ids::kNext);
  }
  EXPECT_TRUE(engine.calls().empty());
  EXPECT_FALSE(std::filesystem::exists(dir / "evil.wav"));
  EXPECT_EQ(dialog.lesson().state, LessonState::Saved);
}

}  // namespace
}  // namespace voxtar

// ---- End to end on the real engine and a private PulseAudio server ------------------------------
// Run by tests/audio/with-pulseaudio.sh, whose null sink's monitor is the default input: a tone
// played into the server is what the microphone hears.

namespace voxtar {
namespace {

double ToneLevel(const audio::WaveElement& element, double frequency) {
  // Goertzel power of the first channel, relative to the signal's energy.
  const auto* samples = reinterpret_cast<const std::int16_t*>(element.samples.data());
  const std::size_t frames = static_cast<std::size_t>(element.frames());
  const double coefficient =
      2.0 * std::cos(2.0 * std::numbers::pi * frequency / element.sampleRate);
  double s1 = 0;
  double s2 = 0;
  double energy = 0;
  for (std::size_t i = 0; i < frames; ++i) {
    const double x = samples[i * static_cast<std::size_t>(element.channels)] / 32768.0;
    energy += x * x;
    const double s0 = x + coefficient * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
  return energy > 0 ? power / (energy * static_cast<double>(frames) / 2.0) : 0.0;
}

TEST(RealEngine, RecordsAPromptWhileAToneIsPlayed) {
  if (qEnvironmentVariableIsEmpty("VOXTAR_PULSE_PID")) {
    GTEST_SKIP() << "needs tests/audio/with-pulseaudio.sh";
  }
  testing::TempDir dir;
  std::filesystem::copy(VOXTAR_DEMO_DIR, dir.path(), std::filesystem::copy_options::recursive);
  testing::ScopedWorkingDirectory cwd(dir.path());
  const std::string sampleBefore = testing::ReadBytes(dir / "sample.wav");
  audio::WaveElement sample;
  std::string error;
  ASSERT_TRUE(audio::ReadWaveFile(dir.wide() + u"/sample.wav", &sample, &error));
  ASSERT_EQ(sample.kind, audio::SampleKind::Int16);

  // A 3-second 1 kHz tone to play into the server.
  audio::WaveElement tone = audio::MakeElement(kWav16, 48000, 1, std::uint64_t{3} * 48000);
  auto* toneSamples = reinterpret_cast<std::int16_t*>(tone.samples.data());
  for (std::size_t i = 0; i < tone.frames(); ++i) {
    toneSamples[i] = static_cast<std::int16_t>(
        12000 * std::sin(2 * std::numbers::pi * 1000.0 * static_cast<double>(i) / 48000));
  }
  ASSERT_TRUE(audio::WriteWaveFile(tone, dir.wide() + u"/tone.wav", &error));

  FakeWindowServices services;
  audio::PulseAudioEngine engine;
  CVoxtarDlg dialog(engine, services);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  services.nextFile = QString::fromStdString((dir / "Ini/unit01.idx").string());
  QTest::mouseClick(static_cast<QPushButton*>(dialog.GetDlgItem(ids::kOpen)), Qt::LeftButton);
  ASSERT_EQ(dialog.lesson().state, LessonState::Saved);
  QTest::mouseClick(static_cast<QPushButton*>(dialog.GetDlgItem(ids::kGoto)), Qt::LeftButton);
  const std::u16string name(dialog.lesson().current()->name);
  const std::filesystem::path take = dir.path() / "Prompt/unit01" / platform::ToUtf8(name);
  ASSERT_FALSE(std::filesystem::exists(take));

  QProcess player;
  player.start(QStringLiteral("paplay"), {QString::fromStdString((dir / "tone.wav").string())});
  ASSERT_TRUE(player.waitForStarted(5000));
  QTest::qWait(300);
  QTest::mouseClick(static_cast<QPushButton*>(dialog.GetDlgItem(ids::kRecord)), Qt::LeftButton);
  EXPECT_EQ(Text(dialog, ids::kRecord), QStringLiteral("[STOP]"));
  QTest::qWait(1500);
  QTest::mouseClick(static_cast<QPushButton*>(dialog.GetDlgItem(ids::kRecord)), Qt::LeftButton);
  player.waitForFinished(10000);
  EXPECT_TRUE(services.boxes.empty()) << services.boxes.front().text.toStdString() << " / "
                                      << services.boxes.front().caption.toStdString();
  EXPECT_EQ(Text(dialog, ids::kStatistics), QString::fromStdU16String(name + u" :"));

  audio::WaveElement recorded;
  ASSERT_TRUE(audio::ReadWaveFile(platform::FromUtf8(take.string()), &recorded, &error)) << error;
  EXPECT_EQ(recorded.format, sample.format);
  EXPECT_EQ(recorded.sampleRate, sample.sampleRate);
  EXPECT_EQ(recorded.channels, sample.channels);
  EXPECT_GE(recorded.lengthMs(), 1000u);
  EXPECT_GT(ToneLevel(recorded, 1000.0), 0.5);
  EXPECT_LT(ToneLevel(recorded, 700.0), 0.05);
  EXPECT_EQ(testing::ReadBytes(dir / "sample.wav"), sampleBefore);

  // Escape writes the index back with the prompt's text and ends the dialog.
  QTest::keyClick(dialog.GetDlgItem(ids::kStatistics), Qt::Key_Escape);
  EXPECT_FALSE(dialog.isVisible());
  const std::string index = testing::ReadBytes(dir / "Ini/unit01.idx");
  EXPECT_TRUE(index.starts_with("\xFF\xFE"));
  EXPECT_NE(index.find(testing::Utf16LeBytes(name + u" ")), std::string::npos);
}

// The sound server dies in the middle of a take: each press shows one box at most and returns at
// once, and Escape still ends the program promptly. Runs in its own process, as it kills the
// server.
TEST(RealEngineServerGone, NoPressPilesUpBoxesAndEscapeStillEndsTheProgram) {
  const char* pid = std::getenv("VOXTAR_PULSE_PID");
  if (pid == nullptr || std::getenv("VOXTAR_KILL_SERVER") == nullptr) {
    GTEST_SKIP() << "runs only in its own process under with-pulseaudio.sh";
  }
  testing::TempDir dir;
  std::filesystem::copy(VOXTAR_DEMO_DIR, dir.path(), std::filesystem::copy_options::recursive);
  testing::ScopedWorkingDirectory cwd(dir.path());
  FakeWindowServices services;
  audio::PulseAudioEngine engine;
  CVoxtarDlg dialog(engine, services);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  services.nextFile = QString::fromStdString((dir / "Ini/unit01.idx").string());
  const auto press = [&](int id) {
    const auto before = std::chrono::steady_clock::now();
    QTest::mouseClick(static_cast<QPushButton*>(dialog.GetDlgItem(id)), Qt::LeftButton);
    return std::chrono::steady_clock::now() - before;
  };
  press(ids::kOpen);
  ASSERT_EQ(dialog.lesson().state, LessonState::Saved);
  press(ids::kGoto);

  press(ids::kRecord);
  ASSERT_EQ(Text(dialog, ids::kRecord), QStringLiteral("[STOP]"));
  QTest::qWait(400);
  ASSERT_EQ(std::system((std::string("kill -KILL ") + pid).c_str()), 0);
  QTest::qWait(300);
  EXPECT_TRUE(services.boxes.empty());

  // Stop: the one box of the lost recording; what was captured is saved as the take.
  EXPECT_LT(press(ids::kRecord), std::chrono::milliseconds(500));
  ASSERT_EQ(services.boxes.size(), 1u);
  EXPECT_EQ(services.boxes[0].caption, QStringLiteral("Wave Stop Error"));
  EXPECT_EQ(Text(dialog, ids::kRecord), QStringLiteral("Record"));

  // Record again with no server: the device does not open (its box names the cause), and the
  // record request to the unopened device has its own box; nothing piles up beyond that.
  EXPECT_LT(press(ids::kRecord), std::chrono::milliseconds(1000));
  ASSERT_EQ(services.boxes.size(), 3u);
  EXPECT_TRUE(services.boxes[1].caption.contains(QStringLiteral("No sound system")))
      << services.boxes[1].caption.toStdString();
  EXPECT_EQ(services.boxes[2].caption, QStringLiteral("Error"));
  // Stop of a recording that never started, then Play: nothing more to say.
  EXPECT_LT(press(ids::kRecord), std::chrono::milliseconds(1000));
  EXPECT_LT(press(ids::kPlay), std::chrono::milliseconds(1000));
  EXPECT_EQ(services.boxes.size(), 3u);

  const auto before = std::chrono::steady_clock::now();
  QTest::keyClick(dialog.GetDlgItem(ids::kStatistics), Qt::Key_Escape);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
}

}  // namespace
}  // namespace voxtar

// ---- The strip right of "Goto", the keys of the buttons, the context menu ----------------------

namespace voxtar {
namespace {

TEST(MainDialogStrip, SitsInTheFreeStripWithoutTouchingTheTemplate) {
  FakeWindowServices services;
  CVoxtarDlg dialog{QuietEngine(), services};
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
  Click(ids::kRecord);
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

  Click(ids::kRecord);
  ASSERT_EQ(meter->mode(), LevelMeterWidget::Mode::TakeCheck);
  // The tone starts with the take: cut at the start, a warning.
  EXPECT_TRUE(meter->takeCheckText().startsWith(QStringLiteral("cut at the start")))
      << meter->takeCheckText().toStdString();
  EXPECT_EQ(meter->takeCheckSeverity(), audio::TakeSeverity::Warning);
  EXPECT_EQ(Text(dialog, ids::kStatistics), QStringLiteral("a001.wav :"));

  // A block that arrives after the stop leaves the verdict standing.
  QCoreApplication::postEvent(&dialog.flow(), new audio::LevelNotice(audio::LevelSummary{}));
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(meter->mode(), LevelMeterWidget::Mode::TakeCheck);

  // The recording-done notice's save is checked too; moving on empties the strip.
  Click(ids::kNext);
  EXPECT_EQ(meter->mode(), LevelMeterWidget::Mode::Empty);
  engine.SetInputTone(440.0, 1.0);
  Click(ids::kRecord);
  engine.Advance(300);
  dialog.OnRecordingDone();
  ASSERT_EQ(meter->mode(), LevelMeterWidget::Mode::TakeCheck);
  EXPECT_TRUE(meter->takeCheckText().startsWith(QStringLiteral("clipped")))
      << meter->takeCheckText().toStdString();
  EXPECT_EQ(meter->takeCheckSeverity(), audio::TakeSeverity::Bad);
}

TEST_F(MainDialogCommands, TheButtonKeysRunTheirCommandsFromTheTextBox) {
  Load({u"a001.wav Hello there", u"a002.wav Good morning", u"a003.wav Good night"});
  QWidget* box = dialog.GetDlgItem(ids::kPromptText);
  box->setFocus();
  QTest::keyClick(box, Qt::Key_Right, Qt::AltModifier);
  EXPECT_EQ(dialog.lesson().prompts.currentIndex, 1);
  QTest::keyClick(box, Qt::Key_Right, Qt::AltModifier);
  EXPECT_EQ(dialog.lesson().prompts.currentIndex, 2);
  QTest::keyClick(box, Qt::Key_Left, Qt::AltModifier);
  EXPECT_EQ(dialog.lesson().prompts.currentIndex, 1);

  QTest::keyClick(box, Qt::Key_R, Qt::ControlModifier);
  EXPECT_EQ(Text(dialog, ids::kRecord), QStringLiteral("[STOP]"));
  EXPECT_EQ(dialog.audioMode(), AudioMode::Recording);
  engine.Advance(300);
  QTest::keyClick(box, Qt::Key_R, Qt::ControlModifier);
  EXPECT_EQ(dialog.audioMode(), AudioMode::Idle);
  EXPECT_EQ(Text(dialog, ids::kStatistics), QStringLiteral("a002.wav :"));
  QTest::keyClick(box, Qt::Key_P, Qt::ControlModifier);
  EXPECT_EQ(Text(dialog, ids::kPlay), QStringLiteral("<Playing>"));
  QTest::keyClick(box, Qt::Key_P, Qt::ControlModifier);
  EXPECT_EQ(Text(dialog, ids::kPlay), QStringLiteral("Play"));
  // None of them typed into the box; its own word move still works.
  EXPECT_EQ(Text(dialog, ids::kPromptText), QStringLiteral("Good morning"));
  auto* edit = static_cast<QPlainTextEdit*>(box);
  edit->moveCursor(QTextCursor::End);
  QTest::keyClick(box, Qt::Key_Left, Qt::ControlModifier);
  EXPECT_LT(edit->textCursor().position(), 12);
  EXPECT_EQ(dialog.lesson().prompts.currentIndex, 1);
  EXPECT_TRUE(services.boxes.empty());
}

TEST_F(MainDialogCommands, AKeyOfADisabledButtonDoesNothing) {
  // Before a lesson: Record and Play are disabled.
  QTest::keyClick(dialog.GetDlgItem(ids::kStatistics), Qt::Key_R, Qt::ControlModifier);
  EXPECT_EQ(CountOf(Command::Open), 0);

  Load({u"a001.wav Hello there", u"a002.wav Good morning"});
  Click(ids::kPlay);
  ASSERT_EQ(dialog.audioMode(), AudioMode::Playing);
  // "<<" is disabled on the first prompt: its key would otherwise release the playing device.
  QTest::keyClick(dialog.GetDlgItem(ids::kStatistics), Qt::Key_Left, Qt::AltModifier);
  EXPECT_EQ(dialog.audioMode(), AudioMode::Playing);
  EXPECT_NE(dialog.device(), nullptr);
  Click(ids::kNext);
  QTest::keyClick(dialog.GetDlgItem(ids::kStatistics), Qt::Key_Right, Qt::AltModifier);
  EXPECT_EQ(dialog.lesson().prompts.currentIndex, 1);
  EXPECT_FALSE(dialog.IsCommandEnabled(ids::kNext));
  EXPECT_TRUE(dialog.IsCommandEnabled(ids::kPrevious));
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
  Click(ids::kRecord);
  EXPECT_FALSE(engine.levelCheckRunning());
  QMenu recording;
  dialog.FillContextMenu(recording);
  EXPECT_FALSE(Item(recording, QStringLiteral("Check &level"))->isEnabled());
  Click(ids::kRecord);

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
  QTest::keyClick(dialog.GetDlgItem(ids::kStatistics), Qt::Key_Escape);
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
  CVoxtarDlg dialog(engine, services, settingsFile);
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
}  // namespace voxtar
