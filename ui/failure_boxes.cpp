// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/failure_boxes.h"

#include "platform/window_services.h"

namespace voxtar::ui {

void FailureBoxes::ReportFailure(const QString& text, const QString& caption) {
  services_.ShowMessageBox({nullptr, text, caption, platform::BoxIcon::None});
}

}  // namespace voxtar::ui
