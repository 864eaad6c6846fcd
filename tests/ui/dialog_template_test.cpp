// SPDX-License-Identifier: GPL-3.0-or-later
// Dialog templates as a screen reader reads them: names given in the template, and static texts
// that label the edit below them.
#include "ui/dialog_template.h"

#include <gtest/gtest.h>
#include <QDialog>
#include <QLabel>
#include <array>

#include "tests/ui/accessibility_test_support.h"
#include "tests/ui/ui_test_support.h"
#include "ui/voxtar_dlg.h"

namespace voxtar::ui {
namespace {

using namespace style;
using testing::AccessibleLabel;
using testing::AccessibleRole;
using testing::AccessibleText;

TEST(TemplateAccessibility, AStaticTextJustAboveAnEditLabelsIt) {
  constexpr std::uint32_t kText = kChild | kVisible;
  constexpr std::uint32_t kEdit = kChild | kVisible | kBorder;
  const std::array<ControlTemplate, 7> controls{{
      {1, ControlClass::Edit, "", kEdit, 0, QRect(10, 20, 100, 14)},
      {-1, ControlClass::Static, "Above:", kText, 0, QRect(12, 10, 30, 8)},  // gap 2: labels 1
      {2, ControlClass::Edit, "", kEdit, 0, QRect(10, 60, 100, 14)},
      {-1, ControlClass::Static, "Far:", kText, 0, QRect(10, 40, 30, 8)},  // gap 12
      {3, ControlClass::Edit, "", kEdit, 0, QRect(200, 90, 50, 14)},
      {-1, ControlClass::Static, "Beside:", kText, 0, QRect(100, 80, 40, 8)},  // no overlap
      {4, ControlClass::Edit, "", kEdit, 0, QRect(10, 120, 100, 14), "Given name"},
  }};
  const DialogTemplate dialogTemplate{1, QRect(0, 0, 300, 200), "T", "MS Shell Dlg", 8, controls};
  QDialog dialog;
  std::map<int, QWidget*> byId;
  const std::vector<QWidget*> created = CreateTemplateControls(&dialog, dialogTemplate, byId);

  EXPECT_EQ(static_cast<QLabel*>(created[1])->buddy(), byId[1]);
  EXPECT_EQ(AccessibleText(byId[1]), QStringLiteral("Above:"));
  EXPECT_EQ(AccessibleLabel(byId[1]), created[1]);
  for (const int id : {2, 3}) {
    EXPECT_EQ(AccessibleLabel(byId[id]), nullptr) << id;
    EXPECT_TRUE(AccessibleText(byId[id]).isEmpty()) << id;
  }
  EXPECT_EQ(AccessibleText(byId[4]), QStringLiteral("Given name"));
  // A label without a mnemonic gets no shortcut from being a buddy.
  EXPECT_EQ(static_cast<QLabel*>(created[1])->text(), QStringLiteral("Above:"));
}

TEST(TemplateAccessibility, EveryControlOfTheMainDialogIsNamed) {
  testing::FakeWindowServices services;
  ui::CVoxtarDlg dialog{testing::QuietEngine(), services};
  struct Expected {
    int id;
    const char* name;
    QAccessible::Role role;
  };
  const Expected expected[] = {
      {ui::ids::kPromptText, "Prompt text", QAccessible::EditableText},
      {ui::ids::kStatistics, "Statistics:", QAccessible::EditableText},
      {ui::ids::kPrevious, "Previous prompt", QAccessible::Button},
      {ui::ids::kNext, "Next prompt", QAccessible::Button},
      {ui::ids::kPlay, "Play", QAccessible::Button},
      {ui::ids::kRecord, "Record", QAccessible::Button},
      {ui::ids::kList, "List", QAccessible::Button},
      {ui::ids::kOpen, "Open", QAccessible::Button},
      {ui::ids::kGoto, "Goto", QAccessible::Button},
  };
  for (const Expected& control : expected) {
    QWidget* widget = dialog.GetDlgItem(control.id);
    ASSERT_NE(widget, nullptr) << control.id;
    EXPECT_EQ(AccessibleText(widget), QString::fromUtf8(control.name)) << control.id;
    EXPECT_EQ(AccessibleRole(widget), control.role) << control.id;
  }
  // The statistics line is labelled by "Statistics:"; the prompt box has no label of its own.
  auto* label = qobject_cast<QLabel*>(AccessibleLabel(dialog.GetDlgItem(ui::ids::kStatistics)));
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->text(), QStringLiteral("Statistics:"));
  EXPECT_EQ(AccessibleLabel(dialog.GetDlgItem(ui::ids::kPromptText)), nullptr);
  EXPECT_EQ(AccessibleText(&dialog), QStringLiteral("Voxtar"));
}

}  // namespace
}  // namespace voxtar::ui
