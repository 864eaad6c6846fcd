// SPDX-License-Identifier: GPL-3.0-or-later
// The window's language: the program's translation for a locale, and with it Qt's own (the
// standard buttons and dialogs). English needs none: the program's texts are English.
#pragma once

class QCoreApplication;
class QLocale;

namespace voxtar::ui {

// Installs the translations for `locale` (the program's, from its resources, and Qt's, from Qt's
// translations folder when it is there). Returns false, installing nothing, when the program has
// no translation for that locale.
bool InstallTranslations(QCoreApplication& application, const QLocale& locale);

}  // namespace voxtar::ui
