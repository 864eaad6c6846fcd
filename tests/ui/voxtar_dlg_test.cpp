// The main dialog: its template, its start-up state, the display, the keys that end it and the
// About box. The commands' audio paths are in voxtar_dlg_commands_test.cpp.
#include "ui/voxtar_dlg.h"

#include <gtest/gtest.h>
#include <QContextMenuEvent>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "tests/ui/ui_test_support.h"
#include "ui/dialog_controls.h"
#include "ui/prompt_display.h"

namespace voxtar {
namespace {

using testing::FakeWindowServices;

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
  CVoxtarDlg dialog;
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
  CVoxtarDlg dialog;
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
  CVoxtarDlg dialog;
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
  CVoxtarDlg dialog;
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
  CVoxtarDlg dialog;
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
  CVoxtarDlg dialog;
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
    CVoxtarDlg dialog;
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
  CVoxtarDlg dialog;
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

class AboutCounter {
 public:
  AboutCounter() {
    CVoxtarDlg::SetAboutHandler([this](QWidget* parent) {
      ++count;
      lastParent = parent;
    });
  }
  ~AboutCounter() { CVoxtarDlg::SetAboutHandler(nullptr); }
  int count = 0;
  QWidget* lastParent = nullptr;
};

TEST(MainDialogAbout, SystemCommandsSixteenToThirtyOneOpenIt) {
  AboutCounter about;
  CVoxtarDlg dialog;
  EXPECT_TRUE(dialog.OnSysCommand(0x10));
  EXPECT_TRUE(dialog.OnSysCommand(0x1F));
  EXPECT_FALSE(dialog.OnSysCommand(0xF060));  // close
  EXPECT_FALSE(dialog.OnSysCommand(0x20));
  EXPECT_EQ(about.count, 2);
  EXPECT_EQ(about.lastParent, &dialog);
}

TEST(MainDialogAbout, F1AndTheContextMenuOpenIt) {
  AboutCounter about;
  CVoxtarDlg dialog;
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
