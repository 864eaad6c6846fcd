#include "session/lesson_keeper.h"

#include <QSysInfo>
#include <ctime>

#include "lesson/lesson_paths.h"
#include "platform/save_file.h"
#include "platform/utf8.h"
#include "platform/window_services.h"

namespace voxtar {

namespace {

QString Q(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

LessonKeeper::LessonKeeper(Lesson& lesson, platform::WindowServices& services, QWidget* owner)
    : lesson_(lesson), services_(services), owner_(owner) {}

QString LessonKeeper::IndexName() const {
  const std::u16string path = lesson_.IndexPath();
  return Q(std::u16string_view(path).substr(path.rfind(u'/') + 1));
}

std::optional<LoadOutcome> LessonKeeper::Load(std::u16string_view chosenPath) {
  lock_.reset();
  bool readOnly = false;
  const LessonLocation location = LocateLesson(chosenPath);
  if (location.result == LoadResult::Loaded) {
    lock_.emplace(location.indexPath);
    switch (lock_->Acquire()) {
      case platform::LockFile::Result::Acquired:
        break;
      case platform::LockFile::Result::Held:
        if (!AskAboutHolder(location.indexPath, &readOnly)) {
          lock_.reset();
          return std::nullopt;
        }
        break;
      case platform::LockFile::Result::Failed:
        // No lock can be made beside the index (a read-only medium, say): nothing else can write
        // there either, and the load says what it can.
        lock_.reset();
        break;
    }
  }
  const LoadOutcome outcome = lesson_.LoadLesson(chosenPath, {.dryRun = readOnly});
  if (outcome.result != LoadResult::Loaded || readOnly) {
    lock_.reset();
  }
  if (outcome.result == LoadResult::Loaded && outcome.linkRefusal) {
    services_.ShowMessageBox(
        {owner_,
         QStringLiteral("%1 is a link to %2, outside the working directory. The lesson is open for "
                        "viewing only: nothing of it is written there, and nothing can be "
                        "recorded.")
             .arg(FromUtf8(outcome.linkRefusal->link.native()),
                  FromUtf8(outcome.linkRefusal->target.native())),
         QStringLiteral("Voxtar"), platform::BoxIcon::Warning});
  }
  return outcome;
}

bool LessonKeeper::AskAboutHolder(const std::u16string& indexPath, bool* readOnly) {
  const platform::LockFile::Holder holder = lock_->holder();
  const bool otherHost = FromUtf8(holder.host) != QSysInfo::machineHostName();
  // A holder whose lock nobody keeps any more is gone; one on another host cannot be seen from
  // here, so taking it over is the operator's call, made twice.
  const bool offerTakeOver = holder.lockGone || otherHost;
  QStringList buttons{QStringLiteral("Open read-only")};
  if (offerTakeOver) {
    buttons << QStringLiteral("Take over");
  }
  buttons << QStringLiteral("Cancel");
  const int choice = services_.ShowChoiceBox(
      {owner_,
       QStringLiteral("%1 is open in another window: %2.\n\nRead-only, its takes can be played, "
                      "but nothing can be recorded, changed or saved.")
           .arg(Q(indexPath), FromUtf8(DescribeHolder(holder))),
       QStringLiteral("Voxtar"), platform::BoxIcon::Warning, buttons});
  if (choice == 0) {
    *readOnly = true;
    return true;
  }
  if (!offerTakeOver || choice != 1) {
    return false;
  }
  if (otherHost && !holder.lockGone &&
      services_.ShowChoiceBox({owner_,
                               QStringLiteral("The window on %1 may still be open. If it writes "
                                              "the lesson later, it is asked before it writes "
                                              "over what is saved here.\n\nTake the lesson over?")
                                   .arg(FromUtf8(holder.host)),
                               QStringLiteral("Voxtar"),
                               platform::BoxIcon::Warning,
                               {QStringLiteral("Take over"), QStringLiteral("Cancel")}}) != 0) {
    return false;
  }
  return lock_->TakeOver() == platform::LockFile::Result::Acquired;
}

LessonKeeper::WriteBack LessonKeeper::Save(bool unloading) {
  if (lesson_.state != LessonState::Modified || lesson_.readOnly()) {
    return WriteBack::Written;
  }
  for (;;) {
    if (lesson_.SaveLesson()) {
      return WriteBack::Written;
    }
    if (lesson_.lastSave().changedOnDisk) {
      const std::time_t now = std::time(nullptr);
      const std::string backup = platform::BackupName(IndexName().toStdString(), now);
      const int choice = services_.ShowChoiceBox(
          {owner_,
           QStringLiteral("%1 was changed on disk by another program since this window read it.\n\n"
                          "Overwrite it with the lesson shown here? The other version is kept "
                          "beside it as %2.")
               .arg(Q(lesson_.IndexPath()), FromUtf8(backup)),
           QStringLiteral("Voxtar"),
           platform::BoxIcon::Warning,
           {QStringLiteral("Overwrite"), QStringLiteral("Cancel")}});
      if (choice != 0) {
        return WriteBack::Cancelled;
      }
      if (lesson_.SaveLesson({.overwriteChanged = true, .backupTime = now})) {
        return WriteBack::Written;
      }
    }
    QStringList buttons{QStringLiteral("Retry")};
    if (unloading) {
      buttons << QStringLiteral("Discard changes");
    }
    buttons << QStringLiteral("Cancel");
    const int choice = services_.ShowChoiceBox(
        {owner_, Q(lesson_.IndexPath()) + QStringLiteral("\n\n") + FromUtf8(lesson_.saveError()),
         QStringLiteral("Cannot write file"), platform::BoxIcon::Warning, buttons});
    if (choice == 0) {
      continue;
    }
    return unloading && choice == 1 ? WriteBack::Discarded : WriteBack::Cancelled;
  }
}

void LessonKeeper::Released() {
  lock_.reset();
}

}  // namespace voxtar
