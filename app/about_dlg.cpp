// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/about_dlg.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <array>

#include "app/voxtar_app.h"

namespace voxtar::app {

namespace {

using namespace ui::style;

constexpr std::array<ui::ControlTemplate, 3> kAboutControls{{
    {-1, ui::ControlClass::Icon, "", kChild | kVisible | kStaticIcon, 0, QRect(14, 14, 20, 20)},
    {-1, ui::ControlClass::Static, QT_TRANSLATE_NOOP("DialogTemplate", "Voxtar, version 2.5"),
     kChild | kVisible | kStaticNoPrefix | kGroup, 0, QRect(42, 14, 114, 8)},
    {1, ui::ControlClass::Button, QT_TRANSLATE_NOOP("DialogTemplate", "OK"),
     kChild | kVisible | kDefPushButton | kGroup | kTabStop, 0, QRect(113, 41, 50, 14)},
}};

}  // namespace

const ui::DialogTemplate kAboutTemplate{
    100, QRect(0, 0, 170, 62), QT_TRANSLATE_NOOP("DialogTemplate", "About Voxtar"), "MS Shell Dlg",
    8,   kAboutControls};

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("CAboutDlg"));
  ui::SetModalFrame(this);
  const std::vector<QWidget*> created = CreateTemplateControls(this, kAboutTemplate, controls_);
  icon_ = created[0];
  text_ = created[1];
  auto* picture = static_cast<QLabel*>(icon_);
  // An icon control sizes itself to the icon: the 32-pixel image.
  picture->resize(32, 32);
  picture->setPixmap(ProgramIcon().pixmap(32, 32));
  setWindowIcon(ProgramIcon());
  picture->setAccessibleName(QStringLiteral("Voxtar"));
  // Read out with the box when it opens, as a screen reader reads a message box.
  setAccessibleDescription(static_cast<QLabel*>(text_)->text());
  auto* ok = static_cast<QPushButton*>(GetDlgItem(1));
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  ok->setFocus();
}

QWidget* CAboutDlg::GetDlgItem(int id) const {
  const auto found = controls_.find(id);
  return found == controls_.end() ? nullptr : found->second;
}

}  // namespace voxtar::app
