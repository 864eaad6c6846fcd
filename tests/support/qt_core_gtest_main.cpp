// SPDX-License-Identifier: GPL-3.0-or-later
// gtest main for tests of code that uses Qt Core but no window system: a QCoreApplication, so a
// stray use of a widget or the GUI fails instead of passing on the offscreen platform.
#include <gtest/gtest.h>
#include <QCoreApplication>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QCoreApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
