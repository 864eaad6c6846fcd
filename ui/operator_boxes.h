// SPDX-License-Identifier: GPL-3.0-or-later
// The session's questions and news as the operator sees them: boxes owned by the main dialog
// (those that must not keep the other windows from being used have no owner), with the
// program's fixed texts; and the prompt text box as what the operator has typed.
#pragma once

#include <functional>
#include <string>

#include "session/operator.h"

class QWidget;

namespace voxtar::platform {
class WindowServices;
}

namespace voxtar::ui {

class OperatorBoxes final : public session::Operator {
 public:
  // `services` shows the boxes over `owner`; `typedText` reads the prompt text box. All outlive
  // this.
  OperatorBoxes(platform::WindowServices& services, QWidget* owner,
                std::function<std::u16string()> typedText);

  std::u16string TypedText() const override;
  HeldLesson AskAboutHeldLesson(const std::u16string& indexPath,
                                const platform::LockFile::Holder& holder,
                                bool offerTakeOver) override;
  bool ConfirmTakeOver(const std::string& host) override;
  void TellViewingOnly(const std::filesystem::path& link,
                       const std::filesystem::path& target) override;
  bool AskToOverwriteChangedIndex(const std::u16string& indexPath,
                                  const std::string& backupName) override;
  FailedWrite AskAfterFailedWrite(const std::u16string& indexPath, const std::string& error,
                                  bool unloading) override;
  void TellLinesBeyondLimits(const std::u16string& indexPath, const lesson::OverlongLine& first,
                             int count) override;
  void TellNotLoaded(lesson::LoadResult result, std::u16string_view chosenPath,
                     const std::u16string& indexPath) override;
  void TellIndexNotWritten(const std::u16string& indexPath) override;
  void TellProfileUnreadable(const std::string& error) override;
  UnsavedTake AskAboutUnsavedTake(const std::u16string& name, const std::string& cause) override;
  void TellTakeFilledItsFile(const std::u16string& name) override;
  void TellNoCurrentPrompt() override;

 private:
  platform::WindowServices& services_;
  QWidget* owner_;
  std::function<std::u16string()> typedText_;
};

}  // namespace voxtar::ui
