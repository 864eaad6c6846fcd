// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/operator_boxes.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <utility>

#include "platform/window_services.h"
#include "ui/voxtar_dlg.h"

namespace voxtar::ui {

namespace {

QString Q(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Who holds the lock, as lesson::DescribeHolder says it in English.
QString HolderText(const platform::LockFile::Holder& holder) {
  if (holder.incomplete) {
    return QCoreApplication::translate(
        "OperatorBoxes", "being locked by another program (its lock file does not name it yet)");
  }
  return QCoreApplication::translate("OperatorBoxes", "locked by %1 on %2, process %3, since %4")
      .arg(FromUtf8(holder.user), FromUtf8(holder.host), QString::number(holder.pid),
           FromUtf8(holder.since));
}

// Which limit a line breaks, as lesson::OverlongLine::Text says it in English.
QString LimitText(const lesson::OverlongLine& line) {
  const auto length = static_cast<qulonglong>(line.length);
  switch (line.limit) {
    case lesson::LineLimit::None:
      break;
    case lesson::LineLimit::NameTooLong:
      return QCoreApplication::translate("OperatorBoxes", "name of %1 characters, more than %2")
          .arg(length)
          .arg(lesson::kMaxPromptNameLength);
    case lesson::LineLimit::TextTooLong:
      return QCoreApplication::translate("OperatorBoxes", "text of %1 characters, more than %2")
          .arg(length)
          .arg(lesson::kMaxPromptTextLength);
    case lesson::LineLimit::TextAfterBreak:
      return QCoreApplication::translate("OperatorBoxes",
                                         "text after a carriage return or NUL character");
  }
  return QCoreApplication::translate("OperatorBoxes", "within the limits");
}

}  // namespace

OperatorBoxes::OperatorBoxes(platform::WindowServices& services, QWidget* owner,
                             std::function<std::u16string()> typedText)
    : services_(services), owner_(owner), typedText_(std::move(typedText)) {}

std::u16string OperatorBoxes::TypedText() const {
  return typedText_();
}

session::Operator::HeldLesson OperatorBoxes::AskAboutHeldLesson(
    const std::u16string& indexPath, const platform::LockFile::Holder& holder, bool offerTakeOver) {
  QStringList buttons{QCoreApplication::translate("OperatorBoxes", "Open read-only")};
  if (offerTakeOver) {
    buttons << QCoreApplication::translate("OperatorBoxes", "Take over");
  }
  buttons << QCoreApplication::translate("OperatorBoxes", "Cancel");
  const int choice = services_.ShowChoiceBox(
      {owner_,
       QCoreApplication::translate(
           "OperatorBoxes",
           "%1 is open in another window: %2.\n\nRead-only, its takes can be played, "
           "but nothing can be recorded, changed or saved.")
           .arg(Q(indexPath), HolderText(holder)),
       QString::fromUtf8(kApplicationName), platform::BoxIcon::Warning, buttons});
  if (choice == 0) {
    return HeldLesson::OpenReadOnly;
  }
  return offerTakeOver && choice == 1 ? HeldLesson::TakeOver : HeldLesson::Cancel;
}

bool OperatorBoxes::ConfirmTakeOver(const std::string& host) {
  return services_.ShowChoiceBox(
             {owner_,
              QCoreApplication::translate("OperatorBoxes",
                                          "The window on %1 may still be open. If it writes "
                                          "the lesson later, it is asked before it writes "
                                          "over what is saved here.\n\nTake the lesson over?")
                  .arg(FromUtf8(host)),
              QString::fromUtf8(kApplicationName),
              platform::BoxIcon::Warning,
              {QCoreApplication::translate("OperatorBoxes", "Take over"),
               QCoreApplication::translate("OperatorBoxes", "Cancel")}}) == 0;
}

void OperatorBoxes::TellViewingOnly(const std::filesystem::path& link,
                                    const std::filesystem::path& target) {
  services_.ShowMessageBox(
      {owner_,
       QCoreApplication::translate(
           "OperatorBoxes",
           "%1 is a link to %2, outside the working directory. The lesson is open for "
           "viewing only: nothing of it is written there, and nothing can be "
           "recorded.")
           .arg(FromUtf8(link.native()), FromUtf8(target.native())),
       QString::fromUtf8(kApplicationName), platform::BoxIcon::Warning});
}

void OperatorBoxes::TellLinesBeyondLimits(const std::u16string& indexPath,
                                          const lesson::OverlongLine& first, int count) {
  QString text =
      QStringLiteral("%1:%2: %3.").arg(Q(indexPath)).arg(first.line).arg(LimitText(first));
  if (count > 1) {
    text += QCoreApplication::translate("OperatorBoxes", " %n lines are beyond the limits.",
                                        nullptr, count);
  }
  text += QCoreApplication::translate(
      "OperatorBoxes",
      " The lesson is open for viewing only: written back, the index would lose text, and "
      "nothing can be recorded.");
  services_.ShowMessageBox(
      {owner_, text, QString::fromUtf8(kApplicationName), platform::BoxIcon::Warning});
}

bool OperatorBoxes::AskToOverwriteChangedIndex(const std::u16string& indexPath,
                                               const std::string& backupName) {
  return services_.ShowChoiceBox(
             {owner_,
              QCoreApplication::translate(
                  "OperatorBoxes",
                  "%1 was changed on disk by another program since this window read "
                  "it.\n\nOverwrite it with the lesson shown here? The other version is "
                  "kept beside it as %2.")
                  .arg(Q(indexPath), FromUtf8(backupName)),
              QString::fromUtf8(kApplicationName),
              platform::BoxIcon::Warning,
              {QCoreApplication::translate("OperatorBoxes", "Overwrite"),
               QCoreApplication::translate("OperatorBoxes", "Cancel")}}) == 0;
}

session::Operator::FailedWrite OperatorBoxes::AskAfterFailedWrite(const std::u16string& indexPath,
                                                                  const std::string& error,
                                                                  bool unloading) {
  QStringList buttons{QCoreApplication::translate("OperatorBoxes", "Retry")};
  if (unloading) {
    buttons << QCoreApplication::translate("OperatorBoxes", "Discard changes");
  }
  buttons << QCoreApplication::translate("OperatorBoxes", "Cancel");
  const int choice =
      services_.ShowChoiceBox({owner_, Q(indexPath) + QStringLiteral("\n\n") + FromUtf8(error),
                               QCoreApplication::translate("OperatorBoxes", "Cannot write file"),
                               platform::BoxIcon::Warning, buttons});
  if (choice == 0) {
    return FailedWrite::Retry;
  }
  return unloading && choice == 1 ? FailedWrite::DiscardChanges : FailedWrite::Cancel;
}

void OperatorBoxes::TellNotLoaded(lesson::LoadResult result, std::u16string_view chosenPath,
                                  const std::u16string& indexPath) {
  switch (result) {
    case lesson::LoadResult::Loaded:
      break;
    case lesson::LoadResult::InvalidDirectory:
      services_.ShowMessageBox({nullptr,
                                QCoreApplication::translate("OperatorBoxes", "Invalid Directory"),
                                Q(chosenPath), platform::BoxIcon::None});
      break;
    case lesson::LoadResult::FileNotFound:
      services_.ShowMessageBox({owner_, Q(indexPath),
                                QCoreApplication::translate("OperatorBoxes", "File not found!"),
                                platform::BoxIcon::None});
      break;
    case lesson::LoadResult::FileEmpty:
      services_.ShowMessageBox({owner_,
                                QCoreApplication::translate("OperatorBoxes", "File is empty"),
                                Q(indexPath), platform::BoxIcon::None});
      break;
    case lesson::LoadResult::BadLine:
      // Refused without a word, as operators know it; voxtar-lesson check names the line.
      break;
  }
}

void OperatorBoxes::TellIndexNotWritten(const std::u16string& indexPath) {
  services_.ShowMessageBox({nullptr, Q(indexPath),
                            QCoreApplication::translate("OperatorBoxes", "Cannot write file"),
                            platform::BoxIcon::Warning});
}

void OperatorBoxes::TellProfileUnreadable(const std::string& error) {
  services_.ShowMessageBox(
      {owner_,
       FromUtf8(error) +
           QCoreApplication::translate("OperatorBoxes",
                                       "\n\nThe takes are judged by the built-in profile "
                                       "\"course\" until the profile file is mended."),
       QCoreApplication::translate("OperatorBoxes", "Delivery profile"),
       platform::BoxIcon::Warning});
}

session::Operator::UnsavedTake OperatorBoxes::AskAboutUnsavedTake(const std::u16string& name,
                                                                  const std::string& cause) {
  const QString text =
      QCoreApplication::translate("OperatorBoxes", "The take of %1 is not saved.").arg(Q(name)) +
      QStringLiteral("\n\n") + FromUtf8(cause);
  switch (services_.ShowChoiceBox({owner_,
                                   text,
                                   QString::fromUtf8(kApplicationName),
                                   platform::BoxIcon::Warning,
                                   {QCoreApplication::translate("OperatorBoxes", "Save again"),
                                    QCoreApplication::translate("OperatorBoxes", "Discard take"),
                                    QCoreApplication::translate("OperatorBoxes", "Cancel")}})) {
    case 0:
      return UnsavedTake::SaveAgain;
    case 1:
      return UnsavedTake::Discard;
    default:
      return UnsavedTake::Cancel;
  }
}

void OperatorBoxes::TellTakeFilledItsFile(const std::u16string& name) {
  services_.ShowMessageBox(
      {owner_,
       QCoreApplication::translate(
           "OperatorBoxes",
           "The take of %1 reached the longest sound a WAV file can hold, so it was "
           "stopped and saved.")
           .arg(Q(name)),
       QString::fromUtf8(kApplicationName), platform::BoxIcon::None});
}

void OperatorBoxes::TellNoCurrentPrompt() {
  services_.ShowMessageBox({owner_, QCoreApplication::translate("OperatorBoxes", "Position = -1"),
                            QString::fromUtf8(kApplicationName), platform::BoxIcon::None});
}

}  // namespace voxtar::ui
