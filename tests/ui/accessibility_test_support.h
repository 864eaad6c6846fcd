// SPDX-License-Identifier: GPL-3.0-or-later
// What a screen reader is told about a widget, through Qt's accessibility interfaces.
#pragma once

#include <QAccessible>
#include <QAccessibleInterface>
#include <QString>
#include <QWidget>

namespace voxtar::testing {

inline QString AccessibleText(QWidget* widget, QAccessible::Text text = QAccessible::Name) {
  QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
  return iface == nullptr ? QStringLiteral("<none>") : iface->text(text);
}

inline QAccessible::Role AccessibleRole(QWidget* widget) {
  QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
  return iface == nullptr ? QAccessible::NoRole : iface->role();
}

// The widget that labels `widget` for a screen reader, or null.
inline QObject* AccessibleLabel(QWidget* widget) {
  QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
  if (iface == nullptr) {
    return nullptr;
  }
  for (const auto& [other, relation] : iface->relations(QAccessible::Label)) {
    if ((relation & QAccessible::Label) != 0) {
      return other->object();
    }
  }
  return nullptr;
}

}  // namespace voxtar::testing
