// SPDX-License-Identifier: GPL-3.0-or-later
// gtest main for Qt tests: a QApplication on the offscreen platform unless the caller chose one
// (screenshots under Xvfb set QT_QPA_PLATFORM=xcb).
#include <gtest/gtest.h>
#include <QApplication>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
