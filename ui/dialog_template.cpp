// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/dialog_template.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>
#include <cmath>

#include "ui/dialog_controls.h"

namespace voxtar::ui {

namespace {

constexpr const char* kDialogFamily = "Liberation Sans";

// Windows' MulDiv: a * b / c rounded half away from zero.
int MulDiv(int a, int b, int c) {
  const long long product = static_cast<long long>(a) * b;
  const long long half = c / 2;
  return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

QFont PinnedFont(int pixelSize) {
  QFont font(QString::fromLatin1(kDialogFamily));
  font.setPixelSize(pixelSize);
  font.setStyleHint(QFont::SansSerif);
  // Unhinted advances are the same on every platform plugin, so the layout is too.
  font.setHintingPreference(QFont::PreferNoHinting);
  return font;
}

// A static text whose bottom edge is at most this many dialog units above an edit's top, and that
// overlaps it sideways, is that edit's label.
constexpr int kLabelGap = 4;

// Makes each such static text the buddy of its edit: the edit is then named by the label and
// reports it as its label, as a screen reader expects.
void LabelEdits(const DialogTemplate& dialogTemplate, const std::vector<QWidget*>& created) {
  const auto& controls = dialogTemplate.controls;
  for (std::size_t l = 0; l < controls.size(); ++l) {
    auto* label = qobject_cast<QLabel*>(created[l]);
    if (controls[l].controlClass != ControlClass::Static || label == nullptr) {
      continue;
    }
    const QRect& above = controls[l].rect;
    for (std::size_t e = 0; e < controls.size(); ++e) {
      const QRect& edit = controls[e].rect;
      const int gap = edit.top() - (above.top() + above.height());
      if (controls[e].controlClass == ControlClass::Edit && gap >= 0 && gap <= kLabelGap &&
          above.left() < edit.left() + edit.width() && edit.left() < above.left() + above.width()) {
        label->setBuddy(created[e]);
        break;
      }
    }
  }
}

}  // namespace

QFont DialogFont(int pointSize) {
  return PinnedFont(MulDiv(pointSize, 96, 72));
}

int PixelSizeForCellHeight(int cellHeight) {
  // Liberation Sans (like Arial): ascent 1854 + descent 434 = 2288 units to the 2048-unit em.
  return MulDiv(cellHeight, 2048, 2288);
}

QFont CellHeightFont(int cellHeight) {
  return PinnedFont(PixelSizeForCellHeight(cellHeight));
}

BaseUnits DialogBaseUnits(const QFont& font) {
  const QFontMetricsF metrics(font);
  const qreal width = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  const int average = static_cast<int>(std::lround(width));
  return {(average / 26 + 1) / 2, static_cast<int>(std::ceil(metrics.height()))};
}

QRect DialogUnitsToPixels(const QRect& rect, BaseUnits units) {
  return {MulDiv(rect.x(), units.x, 4), MulDiv(rect.y(), units.y, 8),
          MulDiv(rect.width(), units.x, 4), MulDiv(rect.height(), units.y, 8)};
}

QSize DialogUnitsToPixels(const QSize& size, BaseUnits units) {
  return {MulDiv(size.width(), units.x, 4), MulDiv(size.height(), units.y, 8)};
}

QString TemplateText(const char* text) {
  if (text == nullptr || *text == '\0') {
    return {};
  }
  return QCoreApplication::translate("DialogTemplate", text);
}

BaseUnits TemplateBaseUnits(const DialogTemplate& dialogTemplate) {
  if (dialogTemplate.fontFace == nullptr) {
    return kSystemBaseUnits;
  }
  return DialogBaseUnits(DialogFont(dialogTemplate.pointSize));
}

void SetModalFrame(QWidget* dialog) {
  dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
}

std::vector<QWidget*> CreateTemplateControls(QWidget* dialog, const DialogTemplate& dialogTemplate,
                                             std::map<int, QWidget*>& byId) {
  const BaseUnits units = TemplateBaseUnits(dialogTemplate);
  if (dialogTemplate.fontFace != nullptr) {
    dialog->setFont(DialogFont(dialogTemplate.pointSize));
  }
  dialog->setFixedSize(DialogUnitsToPixels(dialogTemplate.rect.size(), units));
  dialog->setWindowTitle(TemplateText(dialogTemplate.caption));

  std::vector<QWidget*> created;
  QWidget* previousTabStop = nullptr;
  for (const ControlTemplate& control : dialogTemplate.controls) {
    const QString text = TemplateText(control.text);
    const bool tabStop = (control.style & style::kTabStop) != 0;
    QWidget* widget = nullptr;
    switch (control.controlClass) {
      case ControlClass::Edit:
        if ((control.style & style::kEditMultiline) != 0) {
          auto* edit = new MultiLineEdit(dialog);
          edit->setPlainText(text);
          edit->setVerticalScrollBarPolicy((control.style & style::kVScroll) != 0
                                               ? Qt::ScrollBarAlwaysOn
                                               : Qt::ScrollBarAlwaysOff);
          edit->setHorizontalScrollBarPolicy((control.style & style::kHScroll) != 0
                                                 ? Qt::ScrollBarAlwaysOn
                                                 : Qt::ScrollBarAlwaysOff);
          edit->setReadOnly((control.style & style::kEditReadOnly) != 0);
          widget = edit;
        } else {
          auto* edit = new QLineEdit(text, dialog);
          edit->setReadOnly((control.style & style::kEditReadOnly) != 0);
          edit->setFrame((control.style & style::kBorder) != 0 ||
                         (control.exStyle & style::kExClientEdge) != 0);
          widget = edit;
        }
        widget->setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
        break;
      case ControlClass::Button: {
        auto* button = new DialogButton(text, dialog);
        button->setDefault((control.style & style::kDefPushButton) != 0);
        button->setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
        widget = button;
        break;
      }
      case ControlClass::Static: {
        auto* label = new QLabel(text, dialog);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        widget = label;
        break;
      }
      case ControlClass::Icon: {
        auto* label = new QLabel(dialog);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        widget = label;
        break;
      }
    }
    widget->setGeometry(DialogUnitsToPixels(control.rect, units));
    widget->setVisible((control.style & style::kVisible) != 0);
    if (control.accessibleName != nullptr) {
      widget->setAccessibleName(TemplateText(control.accessibleName));
    }
    if (control.id != -1) {
      widget->setObjectName(QStringLiteral("control%1").arg(control.id));
      byId[control.id] = widget;
    }
    if (widget->focusPolicy() != Qt::NoFocus && tabStop) {
      if (previousTabStop != nullptr) {
        QWidget::setTabOrder(previousTabStop, widget);
      }
      previousTabStop = widget;
    }
    created.push_back(widget);
  }
  LabelEdits(dialogTemplate, created);
  return created;
}

}  // namespace voxtar::ui
