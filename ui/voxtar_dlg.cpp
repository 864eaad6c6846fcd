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
#include <QScopedValueRollback>
#include <QShortcut>
#include <QTextDocument>
#include <QTimer>
#include <array>
#include <optional>
#include <utility>

#include "lesson/working_directory.h"
#include "platform/file_system.h"
#include "platform/window_services.h"
#include "ui/dialog_controls.h"
#include "ui/lessons_dialog.h"
#include "ui/level_meter_widget.h"
#include "ui/prompt_display.h"
#include "ui/waveform_view.h"

namespace voxtar {

namespace {

using namespace style;

constexpr std::uint32_t kButtonStyle = kChild | kVisible | kTabStop | kPushButton;

constexpr std::array<ControlTemplate, 10> kMainControls{{
    {ids::kPromptText, ControlClass::Edit, "",
     kChild | kVisible | kBorder | kVScroll | kHScroll | kTabStop | kEditMultiline, kExClientEdge,
     QRect(7, 30, 289, 105), "Prompt text"},
    {ids::kStatistics, ControlClass::Edit, "",
     kChild | kVisible | kBorder | kTabStop | kEditReadOnly | kEditAutoHScroll, 0,
     QRect(7, 145, 287, 14)},
    {ids::kPrevious, ControlClass::Button, "<<", kButtonStyle, 0, QRect(27, 168, 50, 14),
     "Previous prompt"},
    {ids::kNext, ControlClass::Button, ">>", kButtonStyle, 0, QRect(88, 168, 50, 14),
     "Next prompt"},
    {ids::kPlay, ControlClass::Button, "Play", kButtonStyle, 0, QRect(156, 168, 50, 14)},
    {ids::kRecord, ControlClass::Button, "Record", kButtonStyle, 0, QRect(223, 168, 50, 14)},
    {-1, ControlClass::Static, "Statistics:", kChild | kVisible | kGroup | kStaticLeft, 0,
     QRect(17, 135, 32, 8)},
    {ids::kList, ControlClass::Button, "List", kButtonStyle, 0, QRect(7, 7, 50, 14)},
    {ids::kOpen, ControlClass::Button, "Open", kButtonStyle, 0, QRect(57, 7, 50, 14)},
    {ids::kGoto, ControlClass::Button, "Goto", kButtonStyle, 0, QRect(109, 7, 50, 14)},
}};

// The message map, with what goes with each command: its handler, its enable query, its key and
// its context-menu item. The notices are dispatched in event(): PlaybackNotice -> OnPlaybackDone;
// a recording has no notice of its own, OnRecordingDone serves one should it come. The About box
// is the system command kAboutCommand (F1 and the context menu's first item).
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
};
const std::array<CommandRow, 21> kCommands{{
    {ids::kRecord, &CVoxtarDlg::OnRecord, nullptr, Qt::CTRL | Qt::Key_R, "&Record / Stop"},
    {ids::kPlay, &CVoxtarDlg::OnPlay, nullptr, Qt::CTRL | Qt::Key_P, "&Play / Stop"},
    {ids::kPrevious, &CVoxtarDlg::OnPrevious, nullptr, Qt::ALT | Qt::Key_Left, "Pre&vious prompt"},
    {ids::kNext, &CVoxtarDlg::OnNext, nullptr, Qt::ALT | Qt::Key_Right, "&Next prompt"},
    // No key of the text box: its own undo stays Ctrl+Z.
    {ids::kUndoTakeCommand, &CVoxtarDlg::OnUndoTake, &CVoxtarDlg::OnUpdateUndoTake,
     Qt::CTRL | Qt::ALT | Qt::Key_Z, "&Undo take"},
    {ids::kNextFlaggedCommand, &CVoxtarDlg::OnNextFlagged, &CVoxtarDlg::OnUpdateHasLesson,
     QKeyCombination(Qt::Key_F3), "Next &flagged take"},
    {ids::kDiscardTakeCommand, &CVoxtarDlg::OnDiscardTake, &CVoxtarDlg::OnUpdateRecording,
     Qt::CTRL | Qt::SHIFT | Qt::Key_R, "&Discard take"},
    {ids::kPlayEarlierCommand, &CVoxtarDlg::OnPlayEarlierTake, &CVoxtarDlg::OnUpdatePlayEarlier,
     Qt::CTRL | Qt::SHIFT | Qt::Key_P, "Play &earlier take"},
    {ids::kList, &CVoxtarDlg::OnList},
    {ids::kOpen, &CVoxtarDlg::OnOpen},
    {ids::kGoto, &CVoxtarDlg::OnGoto},
    {ids::kOk, &CVoxtarDlg::OnExit},
    {ids::kCancel, &CVoxtarDlg::OnExit},
    {ids::kNoAction, &CVoxtarDlg::OnNoAction},
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
                       QString settingsFile, QWidget* parent)
    : QDialog(parent),
      engine_(engine),
      services_(services),
      failureBoxes_(services),
      keeper_(lesson_, services, this),
      flow_(lesson_, engine, this, failureBoxes_, settingsFile),
      settingsFile_(std::move(settingsFile)),
      session_(SessionSettings::Load(settingsFile_)) {
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
  connect(&flow_, &RecordingFlow::meterStarted, levelMeter_, &LevelMeterWidget::StartMeter);
  connect(&flow_, &RecordingFlow::levelCaptured, levelMeter_, &LevelMeterWidget::ShowLevel);
  connect(&flow_, &RecordingFlow::takeJudged, levelMeter_, &LevelMeterWidget::ShowJudgement);
  connect(&flow_, &RecordingFlow::stripMessage, levelMeter_, &LevelMeterWidget::ShowVerdict);
  connect(&flow_, &RecordingFlow::stripCleared, levelMeter_, &LevelMeterWidget::Clear);
  // Below the row of buttons, where the window grows for it.
  waveform_ = new WaveformView(this);
  connect(&flow_, &RecordingFlow::recordingStarted, waveform_, &WaveformView::StartLive);
  connect(&flow_, &RecordingFlow::levelCaptured, waveform_, &WaveformView::AppendLiveLevel);
  connect(&flow_.judge(), &LessonJudge::judgementsChanged, this, [this] {
    if (const PromptEntry* entry = lesson_.current(); entry && entry->recorded) {
      if (const measures::TakeMeasures* measured =
              flow_.judge().Measures(static_cast<std::size_t>(lesson_.prompts.currentIndex))) {
        waveform_->SetMeasures(*measured);
      }
    }
  });
  PlaceWaveform();
  flow_.SetPreRoll(session_.preRollMs);
  OnInitDialog();
}

// The flow closes a device still open.
CVoxtarDlg::~CVoxtarDlg() = default;

void CVoxtarDlg::OnCreate() {
  lesson_.Reset();
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
  // A box without owner leaves the dialog enabled while a handler waits on it; a command taken
  // then could release the device or the lesson from under that handler.
  if (!handlingCommand_) {
    const QScopedValueRollback<bool> handling(handlingCommand_, true);
    // The operator took over: a take being played back is not moved on from by itself.
    advanceAfterPlayback_ = false;
    (this->*row->handler)();
  }
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
  if (lesson_.state == LessonState::NoLesson) {
    EnableControl(ids::kPromptText, false);
    SetControlText(ids::kStatistics, QStringLiteral("***"));
    SetControlText(ids::kPromptText, QStringLiteral("***"));
    setWindowTitle(QString::fromUtf8(kMainTemplate.caption));
    ShowPromptWaveform();
    update();
    return;
  }
  const int index = lesson_.prompts.currentIndex;
  const int count = lesson_.prompts.count;
  const PromptEntry& entry = *lesson_.current();
  EnableControl(ids::kPromptText, true);
  // A lesson open for viewing only: the text can be read and scrolled, not changed.
  static_cast<QPlainTextEdit*>(GetDlgItem(ids::kPromptText))->setReadOnly(lesson_.readOnly());
  EnableControl(ids::kPrevious, index != 0);
  EnableControl(ids::kNext, index != count - 1);
  // The box breaks lines at LF; CR LF of the display text is one break.
  SetControlText(ids::kPromptText,
                 Q(DisplayText(entry.text)).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  SetControlText(ids::kStatistics, Q(StatisticsLine(entry)));
  EnableControl(ids::kPlay, true);
  QString caption = Q(LessonCaption(lesson_.lessonName, index + 1, count));
  if (lesson_.readOnly()) {
    caption += QStringLiteral(" (read-only)");
  }
  setWindowTitle(caption);
  ShowPromptWaveform();
  update();
}

bool CVoxtarDlg::event(QEvent* event) {
  if (event->type() == audio::PlaybackNotice::kType) {
    OnPlaybackDone();
    return true;
  }
  if (event->type() == audio::RecordingNotice::kType) {
    // Handled as a command: it saves, which must not run beside a handler that waits on a box
    // (that handler may release the device); then it comes again a moment later.
    if (handlingCommand_) {
      const auto* notice = static_cast<const audio::RecordingNotice*>(event);
      const audio::RecordingCode code = notice->code();
      const audio::DeviceId id = notice->device();
      QTimer::singleShot(50, this, [this, code, id] {
        QCoreApplication::postEvent(this, new audio::RecordingNotice(code, id));
      });
      return true;
    }
    const QScopedValueRollback<bool> handling(handlingCommand_, true);
    const QScopedValueRollback<std::optional<audio::RecordingCode>> code(
        recordingNotice_, static_cast<const audio::RecordingNotice*>(event)->code());
    OnRecordingDone();
    return true;
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
  QAction* about = menu.addAction(QString::fromUtf8(kAboutItemText));
  connect(about, &QAction::triggered, this, [this] { OnSysCommand(ids::kAboutCommand); });

  menu.addSeparator();
  for (const CommandRow& command : kCommands) {
    if (command.menuText == nullptr) {
      continue;
    }
    // The key is shown after a tab, not made the item's shortcut: the dialog's own shortcut
    // carries it, and a second one would make the key ambiguous.
    QAction* item = menu.addAction(QString::fromUtf8(command.menuText) + u'\t' +
                                   QKeySequence(command.keys).toString(QKeySequence::NativeText));
    item->setEnabled(IsCommandEnabled(command.id));
    const int id = command.id;
    connect(item, &QAction::triggered, this, [this, id] { RunShortcut(id); });
  }

  AddEarlierTakesMenu(menu);
  AddSessionMenu(menu);

  menu.addSeparator();
  QAction* check = menu.addAction(QStringLiteral("Check &level"));
  check->setCheckable(true);
  check->setChecked(flow_.levelCheckRunning());
  // A level check is for setting the gain before a take, not while a device plays or records;
  // an input kept open shows the level all the time.
  check->setEnabled(flow_.mode() == AudioMode::Idle && !flow_.preRollRunning());
  connect(check, &QAction::triggered, this, [this](bool on) {
    if (on) {
      flow_.StartLevelCheck();
    } else {
      flow_.StopLevelCheck();
    }
  });
  AddDeviceMenu(menu, QStringLiteral("&Input device"), audio::Direction::Input);
  AddDeviceMenu(menu, QStringLiteral("&Output device"), audio::Direction::Output);
}

void CVoxtarDlg::AddEarlierTakesMenu(QMenu& menu) {
  QMenu* earlier = menu.addMenu(QStringLiteral("&Earlier takes"));
  const bool offered = lesson_.state != LessonState::NoLesson && flow_.mode() == AudioMode::Idle;
  const std::vector<RecordingFlow::EarlierTake> takes =
      offered ? flow_.EarlierTakes() : std::vector<RecordingFlow::EarlierTake>{};
  earlier->setEnabled(!takes.empty());
  for (const RecordingFlow::EarlierTake& earlierTake : takes) {
    const history::EarlierTake& take = earlierTake.take;
    const QDateTime saved = QDateTime::fromMSecsSinceEpoch(
        std::chrono::duration_cast<std::chrono::milliseconds>(take.saved.time_since_epoch())
            .count());
    const QString verdict =
        earlierTake.judgement
            ? QString::fromStdString(earlierTake.judgement->summary)
            : QStringLiteral("cannot be read: ") + QString::fromStdString(take.error);
    QMenu* item = earlier->addMenu(QStringLiteral("%1. %2, %3 s, %4")
                                       .arg(take.number)
                                       .arg(QLocale().toString(saved, QLocale::ShortFormat))
                                       .arg(take.seconds, 0, 'f', 1)
                                       .arg(verdict));
    const std::u16string path = take.path;
    connect(item->addAction(QStringLiteral("&Play")), &QAction::triggered, this, [this, path] {
      SetControlText(ids::kPlay, QStringLiteral("<Playing>"));
      flow_.PlayEarlierTake(path);
    });
    const int number = take.number;
    QAction* restore = item->addAction(QStringLiteral("&Restore as the take"));
    restore->setEnabled(!lesson_.readOnly());
    connect(restore, &QAction::triggered, this, [this, number] {
      if (KeepOrDropUnsavedTake()) {
        flow_.RestoreEarlierTake(number);
      }
    });
  }
}

void CVoxtarDlg::AddDeviceMenu(QMenu& menu, const QString& title, audio::Direction direction) {
  QMenu* devices = menu.addMenu(title);
  auto* group = new QActionGroup(devices);
  const std::vector<audio::SoundDevice> available = flow_.Devices(direction);
  const std::string inUse = flow_.DeviceInUse(direction, available);
  const auto add = [&](const QString& text, const std::string& name) {
    QAction* item = devices->addAction(text);
    item->setCheckable(true);
    item->setChecked(name == inUse);
    group->addAction(item);
    connect(item, &QAction::triggered, this,
            [this, direction, name] { flow_.ChooseDevice(direction, name); });
  };
  add(QStringLiteral("System default"), {});
  for (const audio::SoundDevice& device : available) {
    add(device.description, device.name);
  }
}

// ---- Commands ------------------------------------------------------------------------------

void CVoxtarDlg::CommitBox() {
  if (lesson_.state == LessonState::NoLesson) {
    return;
  }
  if (!lesson_.CommitEditedText(BoxText())) {
    services_.ShowMessageBox({this, QStringLiteral("Position = -1"),
                              QString::fromUtf8(kApplicationName), platform::BoxIcon::None});
  }
  if (const PromptEntry* entry = lesson_.current()) {
    flow_.judge().TextChanged(static_cast<std::size_t>(lesson_.prompts.currentIndex),
                              std::u16string(entry->text));
  }
}

bool CVoxtarDlg::KeepOrDropUnsavedTake() {
  if (!flow_.unsavedTake()) {
    return true;
  }
  const QString text =
      QStringLiteral("The take of %1 is not saved.").arg(Q(flow_.unsavedTake()->name)) +
      QStringLiteral("\n\n") + QString::fromStdString(flow_.unsavedTake()->cause);
  switch (services_.ShowChoiceBox(
      {this,
       text,
       QString::fromUtf8(kApplicationName),
       platform::BoxIcon::Warning,
       {QStringLiteral("Save again"), QStringLiteral("Discard take"), QStringLiteral("Cancel")}})) {
    case 0:
      if (flow_.SaveUnsavedTake()) {
        lesson_.ClearEditMarker();
        RefreshDisplay();
        return true;
      }
      return false;
    case 1:
      flow_.DiscardUnsavedTake();
      return true;
    default:
      return false;
  }
}

void CVoxtarDlg::CommitAndStep(void (Lesson::*step)()) {
  if (lesson_.state == LessonState::NoLesson || !KeepOrDropUnsavedTake()) {
    return;
  }
  flow_.ReleaseDevice();
  CommitBox();
  (lesson_.*step)();
  RefreshDisplay();
}

void CVoxtarDlg::MoveTo(std::int32_t index) {
  if (lesson_.state == LessonState::NoLesson || !KeepOrDropUnsavedTake()) {
    return;
  }
  flow_.ReleaseDevice();
  CommitBox();
  lesson_.MoveTo(index);
  RefreshDisplay();
}

void CVoxtarDlg::OnPrevious() {
  CommitAndStep(&Lesson::StepBack);
}

void CVoxtarDlg::OnNext() {
  CommitAndStep(&Lesson::StepForward);
}

void CVoxtarDlg::OnGoto() {
  if (!KeepOrDropUnsavedTake()) {
    return;
  }
  flow_.ReleaseDevice();
  // What was typed is kept, as a step keeps it: a jump must not lose a correction.
  CommitBox();
  lesson_.GotoFirstPending();
  RefreshDisplay();
}

void CVoxtarDlg::OnPlay() {
  if (lesson_.state == LessonState::NoLesson) {
    return;
  }
  switch (flow_.mode()) {
    case AudioMode::Idle:
      if (!flow_.PrepareToPlay()) {
        return;
      }
      SetControlText(ids::kPlay, QStringLiteral("<Playing>"));
      flow_.StartPlaying();
      if (waveform_->mode() == WaveformView::Mode::Take && waveform_->overview().sampleRate() > 0) {
        const measures::WaveformOverview& shown = waveform_->overview();
        waveform_->StartPlayhead(
            0, static_cast<std::uint32_t>(shown.frames() * 1000 /
                                          static_cast<std::uint64_t>(shown.sampleRate())));
      }
      break;
    case AudioMode::Playing:
      SetControlText(ids::kPlay, QStringLiteral("Play"));
      flow_.StopPlaying();
      waveform_->StopPlayhead();
      break;
    case AudioMode::Recording:
      break;
  }
}

void CVoxtarDlg::OnRecord() {
  if (lesson_.state == LessonState::NoLesson) {
    return;
  }
  // Stored with the marker: the prompt still needs a take until one is saved, and a correction
  // survives a take that is abandoned or fails.
  CommitBox();
  switch (flow_.mode()) {
    case AudioMode::Idle:
      // A new take would replace the unsaved one in the device.
      if (lesson_.readOnly() || !KeepOrDropUnsavedTake() || !flow_.PrepareToRecord()) {
        return;
      }
      SetControlText(ids::kRecord, QStringLiteral("[STOP]"));
      flow_.StartRecording();
      break;
    case AudioMode::Recording:
      // With a margin after the stop, the take ends when its notice says it has it; a second
      // press ends it at once.
      if (flow_.finishing() || !flow_.BeginFinish(session_.postRollMs)) {
        EndTake();
      }
      break;
    case AudioMode::Playing:
      break;
  }
}

int CVoxtarDlg::OnPlaybackDone() {
  SetControlText(ids::kPlay, QStringLiteral("Play"));
  flow_.PlaybackEnded();
  waveform_->StopPlayhead();
  // Not beside a handler that waits on a box: that one decides where the window goes.
  if (std::exchange(advanceAfterPlayback_, false) && !handlingCommand_) {
    const QScopedValueRollback<bool> handling(handlingCommand_, true);
    AdvanceAfterGoodTake();
  }
  return 0;
}

int CVoxtarDlg::OnRecordingDone() {
  if (recordingNotice_ == audio::RecordingCode::Finished) {
    // The margin after "[STOP]" is in: the take ends as a stop ends it.
    if (flow_.mode() == AudioMode::Recording && lesson_.state != LessonState::NoLesson) {
      EndTake();
    }
    return 0;
  }
  SetControlText(ids::kRecord, QStringLiteral("<Record>"));
  if (flow_.mode() == AudioMode::Idle || !flow_.device() ||
      lesson_.state == LessonState::NoLesson) {
    return 0;
  }
  // The marker stays on a prompt whose take was not saved: it still needs recording.
  const std::u16string name(lesson_.current()->name);
  const bool saved = flow_.FinishRecording();
  if (saved && lesson_.ClearEditMarker()) {
    RefreshDisplay();
  }
  if (saved && recordingNotice_ == audio::RecordingCode::LimitReached) {
    services_.ShowMessageBox(
        {this,
         QStringLiteral("The take of %1 reached the longest sound a WAV file can hold, so it was "
                        "stopped and saved.")
             .arg(Q(name)),
         QString::fromUtf8(kApplicationName), platform::BoxIcon::None});
  }
  return 0;
}

void CVoxtarDlg::ShowCannotWrite(const std::u16string& indexPath) {
  services_.ShowMessageBox(
      {nullptr, Q(indexPath), QStringLiteral("Cannot write file"), platform::BoxIcon::Warning});
}

bool CVoxtarDlg::UnloadWithDialogPart() {
  if (!KeepOrDropUnsavedTake()) {
    return false;
  }
  CommitBox();
  // Written before anything is released: a write that fails keeps the lesson, and the operator
  // decides (retry, discard the changes, or keep working).
  switch (keeper_.Save(true)) {
    case LessonKeeper::WriteBack::Written:
      break;
    case LessonKeeper::WriteBack::Discarded:
      lesson_.DiscardLesson();
      break;
    case LessonKeeper::WriteBack::Cancelled:
      return false;
  }
  for (int id : {ids::kPlay, ids::kRecord, ids::kPrevious, ids::kNext, ids::kGoto}) {
    EnableControl(id, false);
  }
  if (lesson_.state != LessonState::NoLesson) {
    lesson_.UnloadLesson();
  }
  flow_.ReleaseDevice();
  flow_.LessonUnloaded();
  keeper_.Released();
  RefreshDisplay();
  return true;
}

void CVoxtarDlg::LoadWithDialogPart(std::u16string_view chosenPath) {
  const std::optional<LoadOutcome> loaded = keeper_.Load(chosenPath);
  if (!loaded) {
    return;  // the operator left a lesson open elsewhere alone
  }
  const LoadOutcome& outcome = *loaded;
  switch (outcome.result) {
    case LoadResult::Loaded: {
      // Not for a lesson that may not be written: its own box said why.
      if (!outcome.saved && !lesson_.readOnly()) {
        ShowCannotWrite(lesson_.IndexPath());
      }
      lesson_.ScanRecordedPrompts();
      std::string profileError;
      if (!flow_.LessonLoaded(&profileError)) {
        services_.ShowMessageBox(
            {this,
             QString::fromStdString(profileError) +
                 QStringLiteral("\n\nThe takes are judged by the built-in profile \"course\" "
                                "until the profile file is mended."),
             QStringLiteral("Delivery profile"), platform::BoxIcon::Warning});
      }
      waveform_->SetProfileWindows(flow_.judge().profile());
      EnableControl(ids::kRecord, !lesson_.readOnly());
      EnableControl(ids::kGoto, true);
      RefreshDisplay();
      break;
    }
    case LoadResult::InvalidDirectory:
      services_.ShowMessageBox(
          {nullptr, QStringLiteral("Invalid Directory"), Q(chosenPath), platform::BoxIcon::None});
      break;
    case LoadResult::FileNotFound:
      services_.ShowMessageBox({this, Q(lesson_.IndexPath()), QStringLiteral("File not found!"),
                                platform::BoxIcon::None});
      break;
    case LoadResult::FileEmpty:
      services_.ShowMessageBox(
          {this, QStringLiteral("File is empty"), Q(lesson_.IndexPath()), platform::BoxIcon::None});
      break;
    case LoadResult::BadLine:
      // Refused without a word, as operators know it; voxtar-lesson check names the line.
      break;
  }
}

void CVoxtarDlg::OnList() {
  if (lesson_.state != LessonState::NoLesson && !UnloadWithDialogPart()) {
    return;
  }
  TLessonsDialog chooser(lastChosenLesson_, this);
  if (chooser.DoModal() == 0) {
    LoadWithDialogPart(chooser.chosenPath());
  }
}

void CVoxtarDlg::OnOpen() {
  if (lesson_.state != LessonState::NoLesson && !UnloadWithDialogPart()) {
    return;
  }
  const std::u16string start = workdir::IniDirectory(platform::CurrentDirectory());
  platform::OpenFileRequest request;
  request.owner = nullptr;
  request.initialPath = QString::fromStdString(platform::ResolvePath(start).string()) + u'/';
  request.filter = QStringLiteral("Lexaro IDX Files (*.idx)");
  request.defaultSuffix = QStringLiteral("idx");
  request.fileMustExist = true;
  const std::optional<QString> chosen = services_.GetOpenFileName(request);
  if (chosen) {
    LoadWithDialogPart(chosen->toStdU16String());
  }
}

void CVoxtarDlg::OnExit() {
  // The program ends only once nothing of the lesson would be lost.
  if (lesson_.state != LessonState::NoLesson && !UnloadWithDialogPart()) {
    return;
  }
  flow_.ReleaseDevice();
  flow_.StopLevelCheck();
  QDialog::done(0);
}

void CVoxtarDlg::OnNoAction() {
  services_.ShowMessageBox({this, QStringLiteral("NO AVTION"), QString::fromUtf8(kApplicationName),
                            platform::BoxIcon::None});
}

void CVoxtarDlg::OnUnload() {
  if (lesson_.state != LessonState::NoLesson) {
    UnloadWithDialogPart();
  }
}

void CVoxtarDlg::OnSave() {
  if (lesson_.state == LessonState::NoLesson) {
    return;
  }
  CommitBox();
  if (flow_.unsavedTake() && flow_.SaveUnsavedTake()) {
    lesson_.ClearEditMarker();
    RefreshDisplay();
  }
  keeper_.Save(false);
}

void CVoxtarDlg::OnUndoTake() {
  if (lesson_.state == LessonState::NoLesson || flow_.mode() != AudioMode::Idle ||
      !KeepOrDropUnsavedTake()) {
    return;
  }
  flow_.RestoreEarlierTake(1);
}

void CVoxtarDlg::OnNextFlagged() {
  if (lesson_.state == LessonState::NoLesson) {
    return;
  }
  const auto from = static_cast<std::size_t>(lesson_.prompts.currentIndex);
  if (const std::optional<std::size_t> next = flow_.judge().NextFlagged(from)) {
    MoveTo(static_cast<std::int32_t>(*next));
    flow_.ShowCurrentJudgement();
  }
}

bool CVoxtarDlg::OnUpdateUndoTake() const {
  return lesson_.state != LessonState::NoLesson && !lesson_.readOnly() &&
         flow_.mode() == AudioMode::Idle && flow_.EarlierTakeCount() > 0;
}

void CVoxtarDlg::OnNothing() {}

bool CVoxtarDlg::OnUpdateNeedsSave() const {
  // A correction still in the box counts: Ctrl+S stores it first; so does an unsaved take.
  if (lesson_.readOnly()) {
    return false;
  }
  return lesson_.state == LessonState::Modified || flow_.unsavedTake().has_value() ||
         (lesson_.state != LessonState::NoLesson && lesson_.CommitWouldChange(BoxText()));
}

bool CVoxtarDlg::OnUpdateHasLesson() const {
  return lesson_.state != LessonState::NoLesson;
}

}  // namespace voxtar
