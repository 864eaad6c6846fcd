// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/failure_texts.h"

#include <QCoreApplication>

#include "platform/outcome.h"

namespace voxtar::session {

namespace {

QString Utf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString Quoted(const std::filesystem::path& path) {
  return QLatin1Char('"') + Utf8(path.native()) + QLatin1Char('"');
}

QString Cause(const std::error_code& code) {
  return code ? Utf8(platform::SystemText(code.value())) : QString();
}

// "SENTENCE: PATH (CAUSE)", as platform::FileText has it.
QString FileText(const QString& sentence, const std::string& path, const QString& cause) {
  return cause.isEmpty() ? QStringLiteral("%1: %2").arg(sentence, Utf8(path))
                         : QStringLiteral("%1: %2 (%3)").arg(sentence, Utf8(path), cause);
}

}  // namespace

QString OperatorText(const platform::SaveFailure& failure) {
  using Kind = platform::SaveFailure::Kind;
  const QString path = Quoted(failure.path);
  const QString other = Quoted(failure.other);
  const QString cause = Cause(failure.cause);
  switch (failure.kind) {
    case Kind::None:
      break;
    case Kind::IsSymbolicLink:
      return QCoreApplication::translate("FailureText",
                                         "Cannot save %1: it is a symbolic link (to %2)")
          .arg(path, other);
    case Kind::CannotReach:
      return QCoreApplication::translate("FailureText", "Cannot save %1: %2").arg(path, cause);
    case Kind::LinkOutside:
      return QCoreApplication::translate(
                 "FailureText", "Cannot save %1: it is a link to %2 outside the working directory")
          .arg(path, other);
    case Kind::LinkOfOtherKind:
      return QCoreApplication::translate(
                 "FailureText",
                 "Cannot save %1: it is a link to %2, which is not a file of its kind")
          .arg(path, other);
    case Kind::IsDirectory:
      return QCoreApplication::translate("FailureText", "Cannot save %1: it is a directory")
          .arg(path);
    case Kind::NotRegularFile:
      return QCoreApplication::translate("FailureText", "Cannot save %1: it is not a regular file")
          .arg(path);
    case Kind::ReadOnly:
      return QCoreApplication::translate("FailureText", "Cannot save %1: it is read-only")
          .arg(path);
    case Kind::Permissions:
      return QCoreApplication::translate("FailureText", "Cannot set the permissions of %1: %2")
          .arg(path, cause);
    case Kind::CreateTemporary:
      return QCoreApplication::translate("FailureText", "Cannot create a temporary file in %1: %2")
          .arg(path, cause);
    case Kind::NotOpen:
      return QCoreApplication::translate("FailureText", "Cannot write %1: the file is not open")
          .arg(path);
    case Kind::CommitNotOpen:
      return QCoreApplication::translate("FailureText", "Cannot save %1: the file is not open")
          .arg(path);
    case Kind::Write:
      return QCoreApplication::translate("FailureText", "Cannot write %1: %2").arg(path, cause);
    case Kind::TurnedIntoLink:
      return QCoreApplication::translate("FailureText",
                                         "Cannot save %1: it turned into a link to %2")
          .arg(path, other);
    case Kind::ChangedOnDisk:
      return QCoreApplication::translate("FailureText",
                                         "Cannot save %1: it changed on disk since it was read")
          .arg(path);
    case Kind::Backup:
      return QCoreApplication::translate("FailureText", "Cannot keep a backup of %1: %2")
          .arg(path, cause);
    case Kind::Flush:
      return QCoreApplication::translate("FailureText", "Cannot flush %1 to disk: %2")
          .arg(path, cause);
    case Kind::Replace:
      return QCoreApplication::translate("FailureText", "Cannot replace %1: %2").arg(path, cause);
  }
  return {};
}

QString OperatorText(const history::Result& result) {
  using history::Problem;
  const QString cause = Cause(result.code);
  switch (result.problem) {
    case Problem::None:
      break;
    case Problem::NothingCaptured:
      return QCoreApplication::translate("FailureText",
                                         "Nothing was captured, so there is no take to save");
    case Problem::NotATakeName:
      return QCoreApplication::translate("FailureText", "Not the name of a take: \"%1\"")
          .arg(Utf8(result.path));
    case Problem::NoSuchTake:
      return QCoreApplication::translate("FailureText", "There is no earlier take %1 of %2")
          .arg(result.number)
          .arg(Utf8(result.path));
    case Problem::FolderNotMade:
      return FileText(
          QCoreApplication::translate("FailureText", "The folder of earlier takes cannot be made"),
          result.path, cause);
    case Problem::FolderIsLink:
      return FileText(
          QCoreApplication::translate("FailureText", "The folder of earlier takes is refused"),
          result.path,
          QCoreApplication::translate(
              "FailureText", "it is a symbolic link, not a folder of the prompt directory"));
    case Problem::FolderNotOpened:
      return FileText(QCoreApplication::translate("FailureText",
                                                  "The folder of earlier takes cannot be opened"),
                      result.path, cause);
    case Problem::PromptDirectoryNotOpened:
      return FileText(
          QCoreApplication::translate("FailureText", "The prompt directory cannot be opened"),
          result.path, cause);
    case Problem::EarlierNotKept:
      return FileText(QCoreApplication::translate("FailureText", "The earlier take cannot be kept"),
                      result.path, cause);
    case Problem::EarlierNotRegular:
      return FileText(QCoreApplication::translate("FailureText", "The earlier take cannot be kept"),
                      result.path,
                      QCoreApplication::translate("FailureText", "not a regular file"));
    case Problem::EarlierCrowded:
      return FileText(QCoreApplication::translate("FailureText", "The earlier take cannot be kept"),
                      result.path,
                      QCoreApplication::translate(
                          "FailureText", "too many takes replaced in the same millisecond"));
    case Problem::TakeNotWritten:
      // The sound file's writer words its own causes; a file that could not be made is ours.
      if (result.save.kind != platform::SaveFailure::Kind::None) {
        return FileText(
            QCoreApplication::translate("FailureText", "The sound file cannot be created"),
            result.path, OperatorText(result.save));
      }
      break;
    case Problem::TakeNotSaved:
      return FileText(QCoreApplication::translate("FailureText", "The take could not be saved"),
                      result.path, OperatorText(result.save));
    case Problem::EarlierNotRestored:
      return FileText(
          QCoreApplication::translate("FailureText", "The earlier take cannot be restored"),
          result.path, cause);
    case Problem::OtherTakeInPlace:
      return FileText(
          QCoreApplication::translate("FailureText", "The earlier take was not restored"),
          result.path,
          QCoreApplication::translate("FailureText", "the take there is not the earlier take"));
    case Problem::NegativeKeep:
      return QCoreApplication::translate("FailureText",
                                         "The number of earlier takes to keep cannot be negative");
    case Problem::EarlierNotRemoved:
      return FileText(
          QCoreApplication::translate("FailureText", "An earlier take cannot be removed"),
          result.path, cause);
  }
  return Utf8(result.error);
}

namespace {

// What is wrong with a profile, without where.
QString ProfileFaultText(const measures::ProfileError& error) {
  using measures::ProfileFault;
  const auto figure = [&error](std::size_t i) {
    return i < error.figures.size() ? Utf8(error.figures[i]) : QString();
  };
  switch (error.fault) {
    case ProfileFault::None:
      break;
    case ProfileFault::NotKeyValue:
      return QCoreApplication::translate("FailureText", "not \"key = value\": '%1'").arg(figure(0));
    case ProfileFault::UnknownKey:
      return QCoreApplication::translate("FailureText", "unknown key");
    case ProfileFault::GivenTwice:
      return QCoreApplication::translate("FailureText", "given twice");
    case ProfileFault::UnknownProfile:
      return QCoreApplication::translate("FailureText", "unknown profile '%1'").arg(figure(0));
    case ProfileFault::NotOnOff:
      return QCoreApplication::translate("FailureText", "'%1' is neither on nor off")
          .arg(figure(0));
    case ProfileFault::UnknownVoice:
      return QCoreApplication::translate("FailureText", "unknown voice '%1'").arg(figure(0));
    case ProfileFault::BadNumber:
      return QCoreApplication::translate("FailureText", "bad number '%1'").arg(figure(0));
    case ProfileFault::OutOfRangeAtLeast:
      return QCoreApplication::translate("FailureText", "%1 is out of range (at least %2 %3)")
          .arg(figure(0), figure(1), figure(2));
    case ProfileFault::OutOfRange:
      return QCoreApplication::translate("FailureText", "%1 is out of range (from %2 to %3 %4)")
          .arg(figure(0), figure(1), figure(2), figure(3));
    case ProfileFault::AboveAtLine:
      return QCoreApplication::translate("FailureText", "%1 is above %2 %3 (line %4)")
          .arg(figure(0), figure(1), figure(2), figure(3));
    case ProfileFault::AboveInProfile:
      return QCoreApplication::translate("FailureText", "%1 is above %2 %3 (profile %4)")
          .arg(figure(0), figure(1), figure(2), figure(3));
    case ProfileFault::BelowAtLine:
      return QCoreApplication::translate("FailureText", "%1 is below %2 %3 (line %4)")
          .arg(figure(0), figure(1), figure(2), figure(3));
    case ProfileFault::BelowInProfile:
      return QCoreApplication::translate("FailureText", "%1 is below %2 %3 (profile %4)")
          .arg(figure(0), figure(1), figure(2), figure(3));
    case ProfileFault::TooLarge:
      return QCoreApplication::translate("FailureText", "too large for a profile file");
    case ProfileFault::LinkToNowhere:
      return QCoreApplication::translate("FailureText", "a link to %1, which does not exist")
          .arg(figure(0));
    case ProfileFault::PermissionDenied:
      return QCoreApplication::translate("FailureText", "cannot be read: permission denied");
    case ProfileFault::Directory:
      return QCoreApplication::translate("FailureText", "a directory, not a profile file");
    case ProfileFault::NotRegularFile:
      return QCoreApplication::translate("FailureText", "not a regular file");
    case ProfileFault::Unreadable:
      return QCoreApplication::translate("FailureText", "cannot be read");
    case ProfileFault::NoSuchProfile:
      return QCoreApplication::translate("FailureText",
                                         "neither a built-in profile (%1) nor a file")
          .arg(figure(0));
  }
  return Utf8(error.message);
}

}  // namespace

QString OperatorText(const measures::ProfileError& error) {
  QString text = Utf8(error.file);
  if (error.line > 0) {
    text += QLatin1Char(':') + QString::number(error.line);
  }
  text += QStringLiteral(": ");
  if (!error.key.empty()) {
    text += Utf8(error.key) + QStringLiteral(": ");
  }
  return text + ProfileFaultText(error);
}

}  // namespace voxtar::session
