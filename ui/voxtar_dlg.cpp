#include "ui/voxtar_dlg.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QShortcut>
#include <QTextDocument>
#include <array>
#include <optional>

#include "lesson/working_directory.h"
#include "platform/file_system.h"
#include "platform/window_services.h"
#include "ui/dialog_controls.h"
#include "ui/lessons_dialog.h"
#include "ui/level_meter_widget.h"
#include "ui/prompt_display.h"

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
const std::array<CommandRow, 17> kCommands{{
    {ids::kRecord, &CVoxtarDlg::OnRecord, nullptr, Qt::CTRL | Qt::Key_R, "&Record / Stop"},
    {ids::kPlay, &CVoxtarDlg::OnPlay, nullptr, Qt::CTRL | Qt::Key_P, "&Play / Stop"},
    {ids::kPrevious, &CVoxtarDlg::OnPrevious, nullptr, Qt::ALT | Qt::Key_Left, "Pre&vious prompt"},
    {ids::kNext, &CVoxtarDlg::OnNext, nullptr, Qt::ALT | Qt::Key_Right, "&Next prompt"},
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
      flow_(lesson_, engine, this, failureBoxes_, std::move(settingsFile)) {
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
  connect(&flow_, &RecordingFlow::takeChecked, levelMeter_, &LevelMeterWidget::ShowTakeCheck);
  connect(&flow_, &RecordingFlow::stripCleared, levelMeter_, &LevelMeterWidget::Clear);
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
    update();
    return;
  }
  const int index = lesson_.prompts.currentIndex;
  const int count = lesson_.prompts.count;
  const PromptEntry& entry = *lesson_.current();
  EnableControl(ids::kPromptText, true);
  EnableControl(ids::kPrevious, index != 0);
  EnableControl(ids::kNext, index != count - 1);
  // The box breaks lines at LF; CR LF of the display text is one break.
  SetControlText(ids::kPromptText,
                 Q(DisplayText(entry.text)).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  SetControlText(ids::kStatistics, Q(StatisticsLine(entry)));
  EnableControl(ids::kPlay, true);
  setWindowTitle(Q(LessonCaption(lesson_.lessonName, index + 1, count)));
  update();
}

bool CVoxtarDlg::event(QEvent* event) {
  if (event->type() == audio::PlaybackNotice::kType) {
    OnPlaybackDone();
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

  menu.addSeparator();
  QAction* check = menu.addAction(QStringLiteral("Check &level"));
  check->setCheckable(true);
  check->setChecked(flow_.levelCheckRunning());
  // A level check is for setting the gain before a take, not while a device plays or records.
  check->setEnabled(flow_.mode() == AudioMode::Idle);
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
}

void CVoxtarDlg::CommitAndStep(void (Lesson::*step)()) {
  if (lesson_.state == LessonState::NoLesson) {
    return;
  }
  flow_.ReleaseDevice();
  CommitBox();
  (lesson_.*step)();
  RefreshDisplay();
}

void CVoxtarDlg::OnPrevious() {
  CommitAndStep(&Lesson::StepBack);
}

void CVoxtarDlg::OnNext() {
  CommitAndStep(&Lesson::StepForward);
}

void CVoxtarDlg::OnGoto() {
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
      break;
    case AudioMode::Playing:
      SetControlText(ids::kPlay, QStringLiteral("Play"));
      flow_.StopPlaying();
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
      if (!flow_.PrepareToRecord()) {
        return;
      }
      SetControlText(ids::kRecord, QStringLiteral("[STOP]"));
      flow_.StartRecording();
      break;
    case AudioMode::Recording:
      // The marker goes with a saved take only: a prompt without one still needs recording.
      if (flow_.FinishRecording()) {
        lesson_.ClearEditMarker();
      }
      SetControlText(ids::kPlay, QStringLiteral("Play"));
      SetControlText(ids::kRecord, QStringLiteral("Record"));
      RefreshDisplay();
      break;
    case AudioMode::Playing:
      break;
  }
}

int CVoxtarDlg::OnPlaybackDone() {
  SetControlText(ids::kPlay, QStringLiteral("Play"));
  flow_.PlaybackEnded();
  return 0;
}

int CVoxtarDlg::OnRecordingDone() {
  SetControlText(ids::kRecord, QStringLiteral("<Record>"));
  if (flow_.mode() == AudioMode::Idle || !flow_.device() ||
      lesson_.state == LessonState::NoLesson) {
    return 0;
  }
  // The marker stays on a prompt whose take was not saved: it still needs recording.
  const bool saved = flow_.FinishRecording();
  if (saved && lesson_.ClearEditMarker()) {
    RefreshDisplay();
  }
  return 0;
}

void CVoxtarDlg::ShowCannotWrite(const std::u16string& indexPath) {
  services_.ShowMessageBox(
      {nullptr, Q(indexPath), QStringLiteral("Cannot write file"), platform::BoxIcon::Warning});
}

void CVoxtarDlg::UnloadWithDialogPart() {
  CommitBox();
  const std::u16string indexPath = lesson_.IndexPath();
  for (int id : {ids::kPlay, ids::kRecord, ids::kPrevious, ids::kNext, ids::kGoto}) {
    EnableControl(id, false);
  }
  const bool written = lesson_.UnloadLesson();
  flow_.ReleaseDevice();
  if (!written) {
    ShowCannotWrite(indexPath);
  }
  RefreshDisplay();
}

void CVoxtarDlg::LoadWithDialogPart(std::u16string_view chosenPath) {
  const LoadOutcome outcome = lesson_.LoadLesson(chosenPath);
  switch (outcome.result) {
    case LoadResult::Loaded:
      if (!outcome.saved) {
        ShowCannotWrite(lesson_.IndexPath());
      }
      lesson_.ScanRecordedPrompts();
      EnableControl(ids::kRecord, true);
      EnableControl(ids::kGoto, true);
      RefreshDisplay();
      break;
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
  if (lesson_.state != LessonState::NoLesson) {
    UnloadWithDialogPart();
  }
  TLessonsDialog chooser(lastChosenLesson_, this);
  if (chooser.DoModal() == 0) {
    LoadWithDialogPart(chooser.chosenPath());
  }
}

void CVoxtarDlg::OnOpen() {
  if (lesson_.state != LessonState::NoLesson) {
    UnloadWithDialogPart();
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
  if (lesson_.state != LessonState::NoLesson) {
    UnloadWithDialogPart();
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
  if (!lesson_.SaveLesson()) {
    ShowCannotWrite(lesson_.IndexPath());
  }
}

void CVoxtarDlg::OnNothing() {}

bool CVoxtarDlg::OnUpdateNeedsSave() const {
  // A correction still in the box counts: Ctrl+S stores it first.
  return lesson_.state == LessonState::Modified ||
         (lesson_.state != LessonState::NoLesson && lesson_.CommitWouldChange(BoxText()));
}

bool CVoxtarDlg::OnUpdateHasLesson() const {
  return lesson_.state != LessonState::NoLesson;
}

}  // namespace voxtar
