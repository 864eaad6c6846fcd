// SPDX-License-Identifier: GPL-3.0-or-later
// The About box: the program icon, its name and version, and an OK button that is the default
// button. Enter, Escape and the close box close it.
#pragma once

#include <QDialog>
#include <map>

#include "ui/dialog_template.h"

namespace voxtar::app {

extern const ui::DialogTemplate kAboutTemplate;

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);

  QWidget* GetDlgItem(int id) const;
  // The static controls in template order (icon, text).
  QWidget* iconLabel() const { return icon_; }
  QWidget* textLabel() const { return text_; }

 private:
  std::map<int, QWidget*> controls_;
  QWidget* icon_ = nullptr;
  QWidget* text_ = nullptr;
};

}  // namespace voxtar::app
