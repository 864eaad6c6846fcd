// SPDX-License-Identifier: GPL-3.0-or-later
// The real message boxes and open dialog on the offscreen platform: a timer inspects the window
// that is up and answers it as the operator would.
#include "platform/window_services.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <functional>

#include "tests/support/temp_dir.h"

namespace voxtar::platform {
namespace {

// Calls `answer` with the first visible top-level window of type T once it is up.
template <typename T>
void AnswerWhenShown(std::function<void(T*)> answer) {
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [poll, answer] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (auto* window = qobject_cast<T*>(widget); window != nullptr && window->isVisible()) {
        poll->stop();
        poll->deleteLater();
        answer(window);
        return;
      }
    }
  });
  poll->start(10);
}

TEST(WindowServices, AnUnownedBoxHasOnlyOkNoIconAndBlocksNoOtherWindow) {
  QWidget other;
  other.show();
  bool seen = false;
  AnswerWhenShown<QMessageBox>([&](QMessageBox* box) {
    seen = true;
    EXPECT_EQ(box->windowTitle(), QStringLiteral("Wave Error"));
    EXPECT_EQ(box->text(), QStringLiteral("The device is not ready."));
    EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
    EXPECT_EQ(box->windowModality(), Qt::NonModal);
    EXPECT_EQ(box->parentWidget(), nullptr);
    EXPECT_TRUE(other.isEnabled());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    box->button(QMessageBox::Ok)->click();
  });
  QtWindowServices services;
  services.ShowMessageBox({nullptr, QStringLiteral("The device is not ready."),
                           QStringLiteral("Wave Error"), BoxIcon::None});
  EXPECT_TRUE(seen);
}

TEST(WindowServices, ABoxShowsItsTextAsWrittenEvenWhereItLooksLikeMarkup) {
  const QString path = QStringLiteral("/lessons/Prompt/<b>one</b> & two.wav");
  ASSERT_TRUE(Qt::mightBeRichText(path));
  bool seen = false;
  AnswerWhenShown<QMessageBox>([&](QMessageBox* box) {
    seen = true;
    const QList<QLabel*> labels = box->findChildren<QLabel*>();
    const auto shown = std::find_if(labels.begin(), labels.end(),
                                    [&](const QLabel* label) { return label->text() == path; });
    EXPECT_NE(shown, labels.end());
    if (shown != labels.end()) {
      EXPECT_EQ((*shown)->textFormat(), Qt::PlainText);
    }
    box->button(QMessageBox::Ok)->click();
  });
  QtWindowServices services;
  services.ShowMessageBox({nullptr, path, QStringLiteral("Wave Error"), BoxIcon::None});
  EXPECT_TRUE(seen);
}

TEST(WindowServices, AnOwnedWarningBoxIsModalToItsOwner) {
  QWidget owner;
  owner.setWindowTitle(QStringLiteral("owner"));
  owner.show();
  bool seen = false;
  AnswerWhenShown<QMessageBox>([&](QMessageBox* box) {
    seen = true;
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    EXPECT_EQ(box->parentWidget(), &owner);
    EXPECT_EQ(box->windowModality(), Qt::WindowModal);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
    box->button(QMessageBox::Ok)->click();
  });
  QtWindowServices services;
  services.ShowMessageBox(
      {&owner, QStringLiteral("Cannot write file"), QStringLiteral("x.idx"), BoxIcon::Warning});
  EXPECT_TRUE(seen);
}

TEST(WindowServices, AChoiceBoxAnswersWithTheButtonChosenAndEscapeCancels) {
  QWidget owner;
  owner.show();
  QtWindowServices services;
  const ChoiceBoxRequest request{
      &owner,
      QStringLiteral("The take of a001.wav is not saved."),
      QStringLiteral("Voxtar"),
      BoxIcon::Warning,
      {QStringLiteral("Save again"), QStringLiteral("Discard take"), QStringLiteral("Cancel")}};
  const auto click = [](const QString& text) {
    return [text](QMessageBox* box) {
      for (QAbstractButton* button : box->buttons()) {
        if (button->text() == text) {
          button->click();
        }
      }
    };
  };
  struct Case {
    std::function<void(QMessageBox*)> answer;
    int expected;
  };
  const std::vector<Case> cases = {
      {click(QStringLiteral("Discard take")), 1},
      {[](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); }, 2},
      {[](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); }, 0},
  };
  for (const Case& c : cases) {
    AnswerWhenShown<QMessageBox>([&](QMessageBox* box) {
      EXPECT_EQ(box->windowModality(), Qt::WindowModal);
      EXPECT_EQ(box->text(), request.text);
      EXPECT_EQ(box->buttons().size(), 3);
      c.answer(box);
    });
    EXPECT_EQ(services.ShowChoiceBox(request), c.expected);
  }
}

TEST(WindowServices, TheOpenDialogStartsWhereToldTakesOnlyExistingFilesAndKeepsTheWorkingDir) {
  testing::TempDir dir;
  const auto ini = dir / "Ini";
  std::filesystem::create_directories(ini);
  testing::WriteBytes(ini / "lesson1.idx", "a b\r\n");
  const QString workingDir = QDir::currentPath();
  const QString iniPath = QString::fromStdString(ini.string()) + QLatin1Char('/');

  AnswerWhenShown<QFileDialog>([&](QFileDialog* dialog) {
    EXPECT_EQ(QDir(dialog->directory()).absolutePath(), QDir(iniPath).absolutePath());
    EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(dialog->nameFilters(), QStringList{QStringLiteral("Lesson Files (*.idx)")});
    EXPECT_EQ(dialog->defaultSuffix(), QStringLiteral("idx"));
    dialog->selectFile(QStringLiteral("lesson1.idx"));
    QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
  });
  OpenFileRequest request;
  request.initialPath = iniPath;
  request.filter = QStringLiteral("Lesson Files (*.idx)");
  request.defaultSuffix = QStringLiteral("*.idx");
  QtWindowServices services;
  const auto chosen = services.GetOpenFileName(request);
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(*chosen, QString::fromStdString((ini / "lesson1.idx").string()));
  EXPECT_EQ(QDir::currentPath(), workingDir);

  AnswerWhenShown<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
  EXPECT_FALSE(services.GetOpenFileName(request).has_value());
}

}  // namespace
}  // namespace voxtar::platform
