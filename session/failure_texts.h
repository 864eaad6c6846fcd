// SPDX-License-Identifier: GPL-3.0-or-later
// The failures of the rooms below the window, worded for the operator in the window's language
// from their codes and figures. Under C they read as the rooms' own English texts; the system's
// causes stay in the system's words.
#pragma once

#include <QString>

#include "history/take_history.h"
#include "measures/delivery_profile.h"
#include "platform/save_file.h"

namespace voxtar::session {

// `Cannot save "PATH": it is read-only`.
QString OperatorText(const platform::SaveFailure& failure);
// "The earlier take cannot be restored: PATH (CAUSE)"; the English text for a problem without a
// code.
QString OperatorText(const history::Result& result);
// "delivery.ini:3: max-rms: bad number 'loud'".
QString OperatorText(const measures::ProfileError& error);

}  // namespace voxtar::session
