// SPDX-License-Identifier: GPL-3.0-or-later
// Renders the main window with a lesson of the demo working directory into a PNG, in the
// language of a locale, for the README:
//   QT_QPA_PLATFORM=offscreen ui_window_screenshot ru_RU docs/window-ru.png
#include <QApplication>
#include <QFileInfo>
#include <QLocale>
#include <QPixmap>
#include <QTest>
#include <cstdio>
#include <filesystem>

#include "measures/judgement.h"
#include "tests/ui/main_dialog_fixture.h"
#include "ui/language.h"
#include "ui/level_meter_widget.h"
#include "ui/voxtar_dlg.h"

int main(int argc, char** argv) {
  using namespace voxtar;
  QApplication application(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: ui_window_screenshot LOCALE OUT.png\n");
    return 2;
  }
  // "system": the locale of the environment (LANG, LANGUAGE), as the program takes it.
  const QString locale = QString::fromLocal8Bit(argv[1]);
  voxtar::ui::InstallTranslations(application,
                                  locale == u"system" ? QLocale::system() : QLocale(locale));
  // Named before the demo's working directory is entered.
  const QString out = QFileInfo(QString::fromLocal8Bit(argv[2])).absoluteFilePath();
  voxtar::testing::DemoWorkingDirectory demo;
  voxtar::testing::FakeWindowServices services;
  voxtar::ui::CVoxtarDlg dialog{voxtar::testing::QuietEngine(), services};
  dialog.show();
  services.nextFile =
      QString::fromStdString((std::filesystem::current_path() / "Ini" / "unit01.idx").string());
  voxtar::testing::Click(dialog, ui::ids::kOpen);
  voxtar::testing::Click(dialog, ui::ids::kNext);
  // The strip as it reads after a quiet take.
  measures::Judgement judgement;
  judgement.findings = {
      {measures::Problem::TooQuiet, {}, measures::FindingForm::PeakDb, {"-31.5"}}};
  judgement.severity = measures::Severity::Warning;
  dialog.levelMeter()->ShowJudgement(judgement);
  // The take's waveform is read off the GUI thread.
  QTest::qWait(1500);
  if (!dialog.grab().save(out)) {
    std::fprintf(stderr, "ui_window_screenshot: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
