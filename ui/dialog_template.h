// SPDX-License-Identifier: GPL-3.0-or-later
// Dialog templates: a window's frame and controls in dialog units, as the resource script holds
// them, and their placement in pixels. Dialog units follow the dialog font: x px = x * baseX / 4,
// y px = y * baseY / 8, where baseX comes from the average width of A-Z a-z and baseY is the
// font's height. The dialog fonts are Liberation Sans at pinned pixel sizes, so a dialog has the
// same size on every machine.
#pragma once

#include <QFont>
#include <QRect>
#include <QString>
#include <cstdint>
#include <map>
#include <span>
#include <vector>

class QWidget;

namespace voxtar::ui {

// Window and control styles the templates use (the values of the resource script).
namespace style {
inline constexpr std::uint32_t kChild = 0x40000000;
inline constexpr std::uint32_t kVisible = 0x10000000;
inline constexpr std::uint32_t kBorder = 0x00800000;
inline constexpr std::uint32_t kVScroll = 0x00200000;
inline constexpr std::uint32_t kHScroll = 0x00100000;
inline constexpr std::uint32_t kGroup = 0x00020000;
inline constexpr std::uint32_t kTabStop = 0x00010000;
inline constexpr std::uint32_t kEditMultiline = 0x0004;
inline constexpr std::uint32_t kEditAutoHScroll = 0x0080;
inline constexpr std::uint32_t kEditReadOnly = 0x0800;
inline constexpr std::uint32_t kPushButton = 0x0000;
inline constexpr std::uint32_t kDefPushButton = 0x0001;
inline constexpr std::uint32_t kStaticLeft = 0x0000;
inline constexpr std::uint32_t kStaticIcon = 0x0003;
inline constexpr std::uint32_t kStaticNoPrefix = 0x0080;
inline constexpr std::uint32_t kExClientEdge = 0x00000200;
}  // namespace style

enum class ControlClass { Edit, Button, Static, Icon };

struct ControlTemplate {
  int id;  // -1: not addressed
  ControlClass controlClass;
  const char* text;
  std::uint32_t style;
  std::uint32_t exStyle;
  QRect rect;  // dialog units
  // What a screen reader calls the control when its caption does not say it (an edit without a
  // label, a button with a symbol); null: the caption, or the label just above an edit.
  const char* accessibleName = nullptr;
};

struct DialogTemplate {
  int id;
  QRect rect;  // dialog units; the size is the client area's
  const char* caption;
  const char* fontFace;  // null: the system font
  int pointSize;
  std::span<const ControlTemplate> controls;
};

// Dialog base units of a font, in pixels.
struct BaseUnits {
  int x = 0;
  int y = 0;
};

// Liberation Sans standing for "MS Shell Dlg" at `pointSize` (pixel size as at 96 dpi).
QFont DialogFont(int pointSize);
// Liberation Sans standing for "Arial" with a cell height of `cellHeight` pixels (the height
// given to the font in the program; the em is 2048/2288 of the cell).
QFont CellHeightFont(int cellHeight);
// The pinned pixel size for a cell height.
int PixelSizeForCellHeight(int cellHeight);

BaseUnits DialogBaseUnits(const QFont& font);
// The base units of the system font, used by templates without a font of their own.
inline constexpr BaseUnits kSystemBaseUnits{8, 16};

QRect DialogUnitsToPixels(const QRect& rect, BaseUnits units);
QSize DialogUnitsToPixels(const QSize& size, BaseUnits units);

// A template's caption or control text in the operator's language: the templates mark their
// texts with QT_TRANSLATE_NOOP("DialogTemplate", ...). Null and empty texts stay empty.
QString TemplateText(const char* text);

// The base units of a template: its font's, or the system font's.
BaseUnits TemplateBaseUnits(const DialogTemplate& dialogTemplate);

// The frame of the program's modal dialogs: caption, system menu and close box, no minimise or
// maximise box.
void SetModalFrame(QWidget* dialog);

// Creates the template's controls as children of `dialog`, in template order (which is also the
// tab order), with the dialog font; controls with an identifier go into `byId`. Sets the
// dialog's font, fixed client size and caption. A static text that sits just above an edit
// labels it for assistive technology.
std::vector<QWidget*> CreateTemplateControls(QWidget* dialog, const DialogTemplate& dialogTemplate,
                                             std::map<int, QWidget*>& byId);

}  // namespace voxtar::ui
