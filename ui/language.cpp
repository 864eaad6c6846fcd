// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace voxtar::ui {

bool InstallTranslations(QCoreApplication& application, const QLocale& locale) {
  auto* own = new QTranslator(&application);
  if (!own->load(locale, QStringLiteral("voxtar"), QStringLiteral("_"),
                 QStringLiteral(":/voxtar/i18n"))) {
    delete own;
    return false;
  }
  QCoreApplication::installTranslator(own);
  // Qt's own only beside the program's: standard buttons in a language the window is not in
  // would mix two languages in one box.
  auto* qt = new QTranslator(&application);
  if (qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
               QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(qt);
  } else {
    delete qt;
  }
  return true;
}

}  // namespace voxtar::ui
