// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/voxtar_dlg.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QTextDocument>
#include <array>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "lesson/working_directory.h"
#include "platform/file_system.h"
#include "platform/window_services.h"
#include "ui/dialog_controls.h"
#include "ui/judgement_texts.h"
#include "ui/lessons_dialog.h"
#include "ui/level_meter_widget.h"
#include "ui/prompt_display.h"
#include "ui/waveform_view.h"

namespace voxtar::ui {

namespace {

using namespace style;

constexpr std::uint32_t kButtonStyle = kChild | kVisible | kTabStop | kPushButton;

constexpr std::array<ControlTemplate, 10> kMainControls{{
    {ids::kPromptText, ControlClass::Edit, "",
     kChild | kVisible | kBorder | kVScroll | kHScroll | kTabStop | kEditMultiline, kExClientEdge,
     QRect(7, 30, 289, 105), QT_TRANSLATE_NOOP("DialogTemplate", "Prompt text")},
    {ids::kStatistics, ControlClass::Edit, "",
     kChild | kVisible | kBorder | kTabStop | kEditReadOnly | kEditAutoHScroll, 0,
     QRect(7, 145, 287, 14)},
    {ids::kPrevious, ControlClass::Button, "<<", kButtonStyle, 0, QRect(27, 168, 50, 14),
     QT_TRANSLATE_NOOP("DialogTemplate", "Previous prompt")},
    {ids::kNext, ControlClass::Button, ">>", kButtonStyle, 0, QRect(88, 168, 50, 14),
     QT_TRANSLATE_NOOP("DialogTemplate", "Next prompt")},
    {ids::kPlay, ControlClass::Button, QT_TRANSLATE_NOOP("DialogTemplate", "Play"), kButtonStyle, 0,
     QRect(156, 168, 50, 14)},
    {ids::kRecord, ControlClass::Button, QT_TRANSLATE_NOOP("DialogTemplate", "Record"),
     kButtonStyle, 0, QRect(223, 168, 50, 14)},
    {-1, ControlClass::Static, QT_TRANSLATE_NOOP("DialogTemplate", "Statistics:"),
     kChild | kVisible | kGroup | kStaticLeft, 0, QRect(17, 135, 32, 8)},
    {ids::kList, ControlClass::Button, QT_TRANSLATE_NOOP("DialogTemplate", "List"), kButtonStyle, 0,
     QRect(7, 7, 50, 14)},
    {ids::kOpen, ControlClass::Button, QT_TRANSLATE_NOOP("DialogTemplate", "Open"), kButtonStyle, 0,
     QRect(57, 7, 50, 14)},
    {ids::kGoto, ControlClass::Button, QT_TRANSLATE_NOOP("DialogTemplate", "Goto"), kButtonStyle, 0,
     QRect(109, 7, 50, 14)},
}};

// The message map, with what goes with each command: its handler, its enable query, its key, its
// context-menu item and what the session's gate makes of it. The notices are the session's (it is
// the devices' notify object): PlaybackNotice -> OnPlaybackDone; RecordingNotice, a recording that
// ended by itself or has its margin after "[STOP]" in -> OnRecordingDone. The About box is the
// system command kAboutCommand (F1 and the context menu's first item).
//
// Keys: the commands no control bears, and the sound and step buttons for hands on the keyboard.
// The text box keeps its editing keys: Ctrl+Left/Right move by word there, Alt+Left/Right and
// Ctrl+R/P mean nothing to it. The menu lists the commands with a menu text, in this order.
struct CommandRow {
  int id;
  void (CVoxtarDlg::*handler)();
  // Whether the command is offered now; without one, a command a control bears is offered while
  // its control is enabled, the others always.
  bool (CVoxtarDlg::*query)() const = nullptr;
  QKeyCombination keys = {};
  const char* menuText = nullptr;
  // What the session's gate makes of it while a take is being saved or a box is up.
  session::CommandKind kind = session::CommandKind::Lesson;
};
const std::array<CommandRow, 21> kCommands{{
    {ids::kRecord, &CVoxtarDlg::OnRecord, nullptr, Qt::CTRL | Qt::Key_R,
     QT_TRANSLATE_NOOP("voxtar::ui::CVoxtarDlg", "&Record / Stop"), session::CommandKind::Record},
    {ids::kPlay, &CVoxtarDlg::OnPlay, nullptr, Qt::CTRL | Qt::Key_P,
     QT_TRANSLATE_NOOP("voxtar::ui::CVoxtarDlg", "&Play / Stop")},
    {ids::kPrevious, &CVoxtarDlg::OnPrevious, nullptr, Qt::ALT | Qt::Key_Left,
     QT_TRANSLATE_NOOP("voxtar::ui::CVoxtarDlg", "Pre&vious prompt")},
    {ids::kNext, &CVoxtarDlg::OnNext, nullptr, Qt::ALT | Qt::Key_Right,
     QT_TRANSLATE_NOOP("voxtar::ui::CVoxtarDlg", "&Next prompt")},
    // No key of the text box: its own undo stays Ctrl+Z.
    {ids::kUndoTakeCommand, &CVoxtarDlg::OnUndoTake, &CVoxtarDlg::OnUpdateUndoTake,
     Qt::CTRL | Qt::ALT | Qt::Key_Z, QT_TRANSLATE_NOOP("voxtar::ui::CVoxtarDlg", "&Undo take")},
    {ids::kNextFlaggedCommand, &CVoxtarDlg::OnNextFlagged, &CVoxtarDlg::OnUpdateHasLesson,
     QKeyCombination(Qt::Key_F3),
     QT_TRANSLATE_NOOP("voxtar::ui::CVoxtarDlg", "Next &flagged take")},
    {ids::kDiscardTakeCommand, &CVoxtarDlg::OnDiscardTake, &CVoxtarDlg::OnUpdateRecording,
     Qt::CTRL | Qt::SHIFT | Qt::Key_R, QT_TRANSLATE_NOOP("voxtar::ui::CVoxtarDlg", "&Discard take"),
     session::CommandKind::Discard},
    {ids::kPlayEarlierCommand, &CVoxtarDlg::OnPlayEarlierTake, &CVoxtarDlg::OnUpdatePlayEarlier,
     Qt::CTRL | Qt::SHIFT | Qt::Key_P,
     QT_TRANSLATE_NOOP("voxtar::ui::CVoxtarDlg", "Play &earlier take")},
    {ids::kList, &CVoxtarDlg::OnList},
    {ids::kOpen, &CVoxtarDlg::OnOpen},
    {ids::kGoto, &CVoxtarDlg::OnGoto},
    {ids::kOk, &CVoxtarDlg::OnExit},
    {ids::kCancel, &CVoxtarDlg::OnExit},
    {ids::kNoAction, &CVoxtarDlg::OnNoAction, nullptr, {}, nullptr, session::CommandKind::Window},
    {ids::kListCommand, &CVoxtarDlg::OnList, nullptr, Qt::CTRL | Qt::Key_L},
    {ids::kOpenCommand, &CVoxtarDlg::OnOpen, nullptr, Qt::CTRL | Qt::Key_O},
    {ids::kUnloadCommand, &CVoxtarDlg::OnUnload, &CVoxtarDlg::OnUpdateHasLesson,
     Qt::CTRL | Qt::Key_W},
    {ids::kGotoCommand, &CVoxtarDlg::OnGoto, &CVoxtarDlg::OnUpdateHasLesson, Qt::CTRL | Qt::Key_G},
    {ids::kNothingCommand, &CVoxtarDlg::OnNothing, &CVoxtarDlg::OnUpdateHasLesson},
    {ids::kSaveCommand, &CVoxtarDlg::OnSave, &CVoxtarDlg::OnUpdateNeedsSave, Qt::CTRL | Qt::Key_S},
    {ids::kAboutCommand, nullptr},  // system command, see OnSysCommand
}};

const CommandRow* FindCommand(int id) {
  for (const CommandRow& row : kCommands) {
    if (row.id == id) {
      return &row;
    }
  }
  return nullptr;
}

QString Q(std::u16string_view text) {
  return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

bool IsPlainEnter(const QKeyEvent* event) {
  const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
  return plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter);
}

}  // namespace

const DialogTemplate kMainTemplate{102, QRect(0, 0, 309, 190), "Voxtar", "MS Shell Dlg",
                                   10,  kMainControls};

CVoxtarDlg::CVoxtarDlg(audio::AudioEngine& engine, platform::WindowServices& services,
                       const QString& settingsFile, QWidget* parent)
    : QDialog(parent),
      engine_(engine),
      services_(services),
      failureBoxes_(services),
      operatorBoxes_(services, this, [this] { return BoxText(); }),
      session_(engine, failureBoxes_, operatorBoxes_, settingsFile, nullptr) {
  setObjectName(QStringLiteral("CVoxtarDlg"));
  SetModalFrame(this);
  icon_ = QApplication::windowIcon();
  OnCreate();
  CreateTemplateControls(this, kMainTemplate, controls_);
  // The strip the template leaves free right of "Goto"; after the template's controls, so it
  // changes neither their places nor the tab order (it takes no focus).
  levelMeter_ = new LevelMeterWidget(this);
  levelMeter_->setGeometry(
      DialogUnitsToPixels(LevelMeterWidget::kStripUnits, TemplateBaseUnits(kMainTemplate)));
  // Below the row of buttons, where the window grows for it.
  waveform_ = new WaveformView(this);
  ConnectSession();
  PlaceWaveform();
  OnInitDialog();
  InitHandsFree();
}

// The session closes a device still open.
CVoxtarDlg::~CVoxtarDlg() = default;

void CVoxtarDlg::ConnectSession() {
  session::RecordingFlow& flow = session_.flow();
  connect(&flow, &session::RecordingFlow::meterStarted, levelMeter_, &LevelMeterWidget::StartMeter);
  connect(&flow, &session::RecordingFlow::levelCaptured, levelMeter_, &LevelMeterWidget::ShowLevel);
  connect(&flow, &session::RecordingFlow::takeJudged, levelMeter_,
          &LevelMeterWidget::ShowJudgement);
  connect(&flow, &session::RecordingFlow::stripMessage, levelMeter_,
          &LevelMeterWidget::ShowVerdict);
  connect(&flow, &session::RecordingFlow::stripCleared, levelMeter_, &LevelMeterWidget::Clear);
  connect(&flow, &session::RecordingFlow::recordingStarted, waveform_, &WaveformView::StartLive);
  connect(&flow, &session::RecordingFlow::levelCaptured, waveform_, &WaveformView::AppendLiveLevel);
  connect(&flow.judge(), &session::LessonJudge::judgementsChanged, this, [this] {
    const lesson::Lesson& lesson = session_.lesson();
    if (const lesson::PromptEntry* entry = lesson.current(); entry && entry->recorded) {
      if (const measures::TakeMeasures* measured = session_.flow().judge().Measures(
              static_cast<std::size_t>(lesson.prompts.currentIndex))) {
        waveform_->SetMeasures(*measured);
      }
    }
  });

  connect(&session_, &session::Session::displayChanged, this, &CVoxtarDlg::RefreshDisplay);
  connect(&session_, &session::Session::buttonsChanged, this, &CVoxtarDlg::ShowButtons);
  connect(&session_, &session::Session::lessonLoaded, this, [this] {
    waveform_->SetProfileWindows(session_.flow().judge().profile());
    EnableControl(ids::kRecord, !session_.lesson().readOnly());
    EnableControl(ids::kGoto, true);
  });
  connect(&session_, &session::Session::lessonUnloaded, this, [this] {
    for (int id : {ids::kPlay, ids::kRecord, ids::kPrevious, ids::kNext, ids::kGoto}) {
      EnableControl(id, false);
    }
  });
  connect(&session_, &session::Session::takePlaybackStarted, this, &CVoxtarDlg::StartPlayhead);
  connect(&session_, &session::Session::playbackStopped, waveform_, &WaveformView::StopPlayhead);
  // The live trace gives way to the take as saved, or to the prompt's take when none was.
  connect(&session_, &session::Session::takeEnded, this, [this] { waveformTake_.clear(); });
}

void CVoxtarDlg::ShowButtons() {
  SetControlText(ids::kPlay, session_.playButton() == session::Session::PlayButton::Playing
                                 ? tr("<Playing>")
                                 : tr("Play"));
  switch (session_.recordButton()) {
    case session::Session::RecordButton::Record:
      SetControlText(ids::kRecord, tr("Record"));
      break;
    case session::Session::RecordButton::Stop:
      SetControlText(ids::kRecord, tr("[STOP]"));
      break;
    case session::Session::RecordButton::Ended:
      SetControlText(ids::kRecord, tr("<Record>"));
      break;
  }
}

void CVoxtarDlg::OnCreate() {
  textFont_ = CellHeightFont(18);
}

void CVoxtarDlg::OnInitDialog() {
  // The About item of the system menu lives in the context menu and on F1 here.
  auto* about = new QShortcut(QKeySequence(Qt::Key_F1), this);
  connect(about, &QShortcut::activated, this, [this] { OnSysCommand(ids::kAboutCommand); });
  for (const CommandRow& row : kCommands) {
    if (row.keys.toCombined() == 0) {
      continue;
    }
    auto* shortcut = new QShortcut(QKeySequence(row.keys), this);
    const int id = row.id;
    connect(shortcut, &QShortcut::activated, this, [this, id] { RunShortcut(id); });
  }
  for (const auto& [id, widget] : controls_) {
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
      const int commandId = id;
      connect(button, &QPushButton::clicked, this, [this, commandId] { OnCommand(commandId); });
    }
  }

  for (int id :
       {ids::kPlay, ids::kRecord, ids::kPrevious, ids::kNext, ids::kPromptText, ids::kGoto}) {
    EnableControl(id, false);
  }
  auto* box = static_cast<MultiLineEdit*>(GetDlgItem(ids::kPromptText));
  box->SetWordBreakProc(&BackslashWordBreak);
  box->setFont(textFont_);
  setWindowIcon(icon_);
}

int CVoxtarDlg::DoModal() {
  return exec();
}

QWidget* CVoxtarDlg::GetDlgItem(int id) const {
  const auto found = controls_.find(id);
  return found == controls_.end() ? nullptr : found->second;
}

bool CVoxtarDlg::OnCommand(int id) {
  const CommandRow* row = FindCommand(id);
  if (row == nullptr || row->handler == nullptr) {
    return false;
  }
  session_.Submit(row->kind, [this, row] { (this->*row->handler)(); });
  return true;
}

bool CVoxtarDlg::IsCommandEnabled(int id) const {
  if (const CommandRow* row = FindCommand(id); row != nullptr && row->query != nullptr) {
    return (this->*row->query)();
  }
  // A command a control bears is offered when its control is enabled.
  if (const QWidget* control = GetDlgItem(id)) {
    return control->isEnabled();
  }
  return true;
}

void CVoxtarDlg::RunShortcut(int id) {
  if (IsCommandEnabled(id)) {
    OnCommand(id);
  }
}

bool CVoxtarDlg::OnSysCommand(int id) {
  if ((id & 0xFFF0) != ids::kAboutCommand) {
    return false;
  }
  if (aboutHandler_) {
    aboutHandler_(this);
  }
  return true;
}

void CVoxtarDlg::SetAboutHandler(std::function<void(QWidget*)> handler) {
  aboutHandler_ = std::move(handler);
}

void CVoxtarDlg::EnableControl(int id, bool enabled) {
  if (QWidget* widget = GetDlgItem(id)) {
    widget->setEnabled(enabled);
  }
}

void CVoxtarDlg::SetControlText(int id, const QString& text) {
  QWidget* widget = GetDlgItem(id);
  if (auto* button = qobject_cast<QPushButton*>(widget)) {
    button->setText(text);
  } else if (auto* line = qobject_cast<QLineEdit*>(widget)) {
    line->setText(text);
  } else if (auto* edit = qobject_cast<QPlainTextEdit*>(widget)) {
    edit->setPlainText(text);
  }
}

std::u16string CVoxtarDlg::BoxText() const {
  const auto* box = static_cast<const QPlainTextEdit*>(GetDlgItem(ids::kPromptText));
  // The raw text: toPlainText() would turn no-break spaces into spaces and so change a prompt
  // nobody touched. Line and paragraph separators are the box's line breaks.
  QString text = box->document()->toRawText();
  text.replace(QChar::ParagraphSeparator, u'\n').replace(QChar::LineSeparator, u'\n');
  return text.toStdU16String();
}

void CVoxtarDlg::RefreshDisplay() {
  const lesson::Lesson& lesson = session_.lesson();
  if (lesson.state == lesson::LessonState::NoLesson) {
    EnableControl(ids::kPromptText, false);
    SetControlText(ids::kStatistics, QStringLiteral("***"));
    SetControlText(ids::kPromptText, QStringLiteral("***"));
    setWindowTitle(QString::fromUtf8(kMainTemplate.caption));
    ShowPromptWaveform();
    update();
    return;
  }
  const int index = lesson.prompts.currentIndex;
  const int count = lesson.prompts.count;
  const lesson::PromptEntry& entry = *lesson.current();
  EnableControl(ids::kPromptText, true);
  // A lesson open for viewing only: the text can be read and scrolled, not changed.
  static_cast<QPlainTextEdit*>(GetDlgItem(ids::kPromptText))->setReadOnly(lesson.readOnly());
  EnableControl(ids::kPrevious, index != 0);
  EnableControl(ids::kNext, index != count - 1);
  // The box breaks lines at LF; CR LF of the display text is one break.
  SetControlText(ids::kPromptText,
                 Q(DisplayText(entry.text)).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  SetControlText(
      ids::kStatistics,
      Q(StatisticsLine(entry)).replace(QStringLiteral("<File not found>"), tr("<File not found>")));
  EnableControl(ids::kPlay, true);
  QString caption = Q(LessonCaption(lesson.lessonName, index + 1, count));
  if (lesson.readOnly()) {
    caption += tr(" (read-only)");
  }
  setWindowTitle(caption);
  ShowPromptWaveform();
  update();
}

// The notices are the session's; one posted to the window goes there too.
bool CVoxtarDlg::event(QEvent* event) {
  if (event->type() == audio::PlaybackNotice::kType ||
      event->type() == audio::RecordingNotice::kType) {
    return QCoreApplication::sendEvent(&session_, event);
  }
  return QDialog::event(event);
}

void CVoxtarDlg::keyPressEvent(QKeyEvent* event) {
  if (IsPlainEnter(event)) {
    OnCommand(ids::kOk);
    return;
  }
  if ((event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier &&
      event->key() == Qt::Key_Escape) {
    OnCommand(ids::kCancel);
    return;
  }
  QDialog::keyPressEvent(event);
}

// The close box.
void CVoxtarDlg::reject() {
  OnCommand(ids::kCancel);
}

void CVoxtarDlg::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  FillContextMenu(menu);
  menu.exec(event->globalPos());
}

void CVoxtarDlg::FillContextMenu(QMenu& menu) {
  QAction* about = menu.addAction(tr(kAboutItemText));
  connect(about, &QAction::triggered, this, [this] { OnSysCommand(ids::kAboutCommand); });

  menu.addSeparator();
  for (const CommandRow& command : kCommands) {
    if (command.menuText == nullptr) {
      continue;
    }
    // The key is shown after a tab, not made the item's shortcut: the dialog's own shortcut
    // carries it, and a second one would make the key ambiguous.
    QAction* item = menu.addAction(tr(command.menuText) + u'\t' +
                                   QKeySequence(command.keys).toString(QKeySequence::NativeText));
    item->setEnabled(IsCommandEnabled(command.id));
    const int id = command.id;
    connect(item, &QAction::triggered, this, [this, id] { RunShortcut(id); });
  }

  AddEarlierTakesMenu(menu);
  AddSessionMenu(menu);
  AddHandsFreeMenu(menu);

  menu.addSeparator();
  QAction* check = menu.addAction(tr("Check &level"));
  check->setCheckable(true);
  check->setChecked(session_.flow().levelCheckRunning());
  // A level check is for setting the gain before a take, not while a device plays or records;
  // an input kept open shows the level all the time.
  check->setEnabled(session_.mode() == session::AudioMode::Idle &&
                    !session_.flow().preRollRunning());
  connect(check, &QAction::triggered, this, [this](bool on) {
    if (on) {
      session_.flow().StartLevelCheck();
    } else {
      session_.flow().StopLevelCheck();
    }
  });
  AddDeviceMenu(menu, tr("&Input device"), audio::Direction::Input);
  AddDeviceMenu(menu, tr("&Output device"), audio::Direction::Output);
}

void CVoxtarDlg::AddEarlierTakesMenu(QMenu& menu) {
  QMenu* earlier = menu.addMenu(tr("&Earlier takes"));
  const bool offered = session_.hasLesson() && session_.mode() == session::AudioMode::Idle;
  const std::vector<session::RecordingFlow::EarlierTake> takes =
      offered ? session_.flow().EarlierTakes() : std::vector<session::RecordingFlow::EarlierTake>{};
  earlier->setEnabled(!takes.empty());
  for (const session::RecordingFlow::EarlierTake& earlierTake : takes) {
    const history::EarlierTake& take = earlierTake.take;
    const QDateTime saved = QDateTime::fromMSecsSinceEpoch(
        std::chrono::duration_cast<std::chrono::milliseconds>(take.saved.time_since_epoch())
            .count());
    // Why it cannot be read: the history's code where it has one, else its text.
    QString unreadable = QString::fromStdString(take.error);
    if (take.unreadable == history::EarlierTake::Unreadable::NotASoundFile) {
      unreadable = tr("not a sound file that can be read");
    } else if (take.unreadable == history::EarlierTake::Unreadable::NoSampleRate) {
      unreadable = tr("no sample rate");
    }
    const QString verdict = earlierTake.judgement ? JudgementText(*earlierTake.judgement)
                                                  : tr("cannot be read: ") + unreadable;
    QMenu* item = earlier->addMenu(tr("%1. %2, %3 s, %4")
                                       .arg(take.number)
                                       .arg(QLocale().toString(saved, QLocale::ShortFormat))
                                       .arg(take.seconds, 0, 'f', 1)
                                       .arg(verdict));
    const std::u16string path = take.path;
    connect(item->addAction(tr("&Play")), &QAction::triggered, this, [this, path] {
      session_.Submit(session::CommandKind::Lesson,
                      [this, path] { session_.PlayEarlierTake(path); });
    });
    const int number = take.number;
    QAction* restore = item->addAction(tr("&Restore as the take"));
    restore->setEnabled(!session_.lesson().readOnly());
    connect(restore, &QAction::triggered, this, [this, number] {
      session_.Submit(session::CommandKind::Lesson,
                      [this, number] { session_.RestoreEarlierTake(number); });
    });
  }
}

void CVoxtarDlg::AddDeviceMenu(QMenu& menu, const QString& title, audio::Direction direction) {
  QMenu* devices = menu.addMenu(title);
  auto* group = new QActionGroup(devices);
  const std::vector<audio::SoundDevice> available = session_.flow().Devices(direction);
  const std::string inUse = session_.flow().DeviceInUse(direction, available);
  const auto add = [&](const QString& text, const std::string& name) {
    QAction* item = devices->addAction(text);
    item->setCheckable(true);
    item->setChecked(name == inUse);
    group->addAction(item);
    connect(item, &QAction::triggered, this,
            [this, direction, name] { session_.flow().ChooseDevice(direction, name); });
  };
  add(tr("System default"), {});
  for (const audio::SoundDevice& device : available) {
    add(device.description, device.name);
  }
}

// ---- Commands: the session's, but for the windows of their own ------------------------------

void CVoxtarDlg::OnPrevious() {
  session_.Previous();
}

void CVoxtarDlg::OnNext() {
  session_.Next();
}

void CVoxtarDlg::OnGoto() {
  session_.Goto();
}

void CVoxtarDlg::OnPlay() {
  session_.Play();
}

void CVoxtarDlg::OnRecord() {
  session_.Record();
}

int CVoxtarDlg::OnPlaybackDone() {
  session_.PlaybackDone();
  return 0;
}

int CVoxtarDlg::OnRecordingDone() {
  session_.RecordingDone(std::nullopt);
  return 0;
}

void CVoxtarDlg::OnList() {
  session_.UnloadThen([this] {
    TLessonsDialog chooser(lastChosenLesson_, this);
    if (chooser.DoModal() == 0) {
      session_.Load(chooser.chosenPath());
    }
  });
}

void CVoxtarDlg::OnOpen() {
  session_.UnloadThen([this] {
    const std::u16string start = lesson::workdir::IniDirectory(platform::CurrentDirectory());
    platform::OpenFileRequest request;
    request.owner = nullptr;
    request.initialPath = QString::fromStdString(platform::ResolvePath(start).string()) + u'/';
    request.filter = tr("Lexaro IDX Files (*.idx)");
    request.defaultSuffix = QStringLiteral("idx");
    request.fileMustExist = true;
    if (const std::optional<QString> chosen = services_.GetOpenFileName(request)) {
      session_.Load(chosen->toStdU16String());
    }
  });
}

void CVoxtarDlg::OnExit() {
  // The program ends only once nothing of the lesson would be lost.
  session_.UnloadThen([this] {
    session_.StopSound();
    QDialog::done(0);
  });
}

void CVoxtarDlg::OnNoAction() {
  services_.ShowMessageBox(
      {this, tr("NO AVTION"), QString::fromUtf8(kApplicationName), platform::BoxIcon::None});
}

void CVoxtarDlg::OnUnload() {
  session_.UnloadThen([] {});
}

void CVoxtarDlg::OnSave() {
  session_.Save();
}

void CVoxtarDlg::OnUndoTake() {
  session_.UndoTake();
}

void CVoxtarDlg::OnNextFlagged() {
  session_.NextFlagged();
}

void CVoxtarDlg::OnNothing() {}

bool CVoxtarDlg::OnUpdateUndoTake() const {
  return session_.CanUndoTake();
}

bool CVoxtarDlg::OnUpdateNeedsSave() const {
  return session_.NeedsSave();
}

bool CVoxtarDlg::OnUpdateHasLesson() const {
  return session_.hasLesson();
}

}  // namespace voxtar::ui
