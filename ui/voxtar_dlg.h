// SPDX-License-Identifier: GPL-3.0-or-later
// The program's one main window: a modal dialog that shows one prompt of the lesson at a time,
// and its commands. It is the view of a Session, which owns the Lesson, the recording flow (the
// AudioMode and at most one WaveDevice) and what happens between commands. Every operator action
// arrives as a command identifier, goes through the message map to its handler, which hands it
// to the session; the session's signals say what changed, and RefreshDisplay shows it. The strip
// right of "Goto" shows the input level and the check of the last take.
#pragma once

#include <QDialog>
#include <QFont>
#include <QIcon>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "audio/wave_device.h"
#include "lesson/lesson.h"
#include "session/session.h"
#include "ui/dialog_template.h"
#include "ui/failure_boxes.h"
#include "ui/operator_boxes.h"

class QMenu;

namespace voxtar::platform {
class WindowServices;
}

namespace voxtar::ui {

// Command and control identifiers of the main dialog.
namespace ids {
inline constexpr int kOk = 1;      // Enter
inline constexpr int kCancel = 2;  // Escape, the close box
inline constexpr int kListCommand = 102;
inline constexpr int kOpenCommand = 103;
inline constexpr int kUnloadCommand = 104;
inline constexpr int kGotoCommand = 105;
inline constexpr int kNothingCommand = 106;
inline constexpr int kPromptText = 1000;
inline constexpr int kStatistics = 1001;
inline constexpr int kPrevious = 1002;
inline constexpr int kNext = 1003;
inline constexpr int kPlay = 1004;
inline constexpr int kRecord = 1005;
inline constexpr int kNoAction = 1011;
inline constexpr int kList = 1012;
inline constexpr int kOpen = 1013;
inline constexpr int kGoto = 1014;
inline constexpr int kSaveCommand = 9070;
// Commands of the take history and the delivery check, beside the established ones.
inline constexpr int kUndoTakeCommand = 2001;
inline constexpr int kNextFlaggedCommand = 2002;
// Commands of the recording session.
inline constexpr int kDiscardTakeCommand = 2003;
inline constexpr int kPlayEarlierCommand = 2004;
inline constexpr int kAboutCommand = 0x0010;  // system command; 0x10-0x1F all open the About box
}  // namespace ids

// "&About Voxtar..." (string 101).
inline constexpr const char* kAboutItemText =
    QT_TRANSLATE_NOOP("voxtar::ui::CVoxtarDlg", "&About Voxtar...");
inline constexpr const char* kApplicationName = "Voxtar";

extern const DialogTemplate kMainTemplate;

class LevelMeterWidget;
class WaveformView;

class CVoxtarDlg : public QDialog {
  Q_OBJECT

 public:
  // `engine` plays and records for the session's wave devices and `services` shows its boxes and
  // the open-file dialog; both outlive the dialog. `settingsFile` keeps the session settings and
  // the choice of input and output device (empty: kept for this run only).
  CVoxtarDlg(audio::AudioEngine& engine, platform::WindowServices& services,
             const QString& settingsFile = {}, QWidget* parent = nullptr);
  ~CVoxtarDlg() override;

  // Runs the dialog until OnExit ends it.
  int DoModal();

  QWidget* GetDlgItem(int id) const;
  // The message map: hands the handler bound to a command identifier to the session, which runs
  // it, holds it while a take is saved, or refuses it while another handler waits on a box. False
  // when none is bound.
  bool OnCommand(int id);
  // The enable queries: whether a command is offered now (commands without a query always are).
  bool IsCommandEnabled(int id) const;
  // The system command: 0x10-0x1F open the About box; false for every other command.
  bool OnSysCommand(int id);

  // Brings the text box, statistics line, enabling and caption in line with the Lesson.
  void RefreshDisplay();

  // The handlers of the message map.
  void OnPrevious();
  void OnNext();
  void OnGoto();
  void OnPlay();
  void OnRecord();
  void OnList();
  void OnOpen();
  void OnExit();
  void OnNoAction();
  void OnUnload();
  void OnSave();
  void OnNothing();
  // Ctrl+Alt+Z: the prompt's most recent earlier take becomes its take again (again: back).
  void OnUndoTake();
  // F3: the next prompt whose take fails its check or is unlike the lesson.
  void OnNextFlagged();
  // Ctrl+Shift+R: ends the recording in progress keeping nothing.
  void OnDiscardTake();
  // Ctrl+Shift+P: plays the prompt's most recent earlier take, to compare it with its take.
  void OnPlayEarlierTake();
  bool OnUpdateRecording() const;
  bool OnUpdatePlayEarlier() const;
  bool OnUpdateNeedsSave() const;
  bool OnUpdateHasLesson() const;
  bool OnUpdateUndoTake() const;
  // The end of a playback and of a recording, as their notices to the session handle them.
  int OnPlaybackDone();
  int OnRecordingDone();

  // The whole content of the prompt text box.
  std::u16string BoxText() const;

  session::Session& session() { return session_; }
  const session::Session& session() const { return session_; }
  lesson::Lesson& lesson() { return session_.lesson(); }
  const lesson::Lesson& lesson() const { return session_.lesson(); }
  session::AudioMode audioMode() const { return session_.mode(); }
  audio::WaveDevice* device() const { return session_.flow().device(); }
  session::RecordingFlow& flow() { return session_.flow(); }
  LevelMeterWidget* levelMeter() const { return levelMeter_; }
  WaveformView* waveform() const { return waveform_; }
  // Applies and remembers the session settings (as the context menu does).
  void SetSessionSettings(const session::SessionSettings& settings);
  audio::AudioEngine& engine() const { return engine_; }
  const QIcon& icon() const { return icon_; }
  const QFont& textFont() const { return textFont_; }

  // Runs the About box over `parent`; set by the application, which owns the box. Without one
  // the About command shows nothing.
  void SetAboutHandler(std::function<void(QWidget* parent)> handler);

  // The context menu: the About item, the commands with their keys, the level check and the
  // device choice.
  void FillContextMenu(QMenu& menu);
  // Ctrl+Shift+H: the hands-free sitting on or off (a command: a sitting running ends first).
  void OnHandsFree();
  // Ctrl+Plus / Ctrl+Minus: the prompt text `steps` zoom steps larger (smaller when negative).
  void ZoomText(int steps);

 protected:
  // While a sitting is paused, a key goes on with it rather than into the text.
  bool eventFilter(QObject* watched, QEvent* event) override;
  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void reject() override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void OnCreate();
  void OnInitDialog();
  void EnableControl(int id, bool enabled);
  void SetControlText(int id, const QString& text);
  void RunShortcut(int id);

  // The session's signals, shown.
  void ConnectSession();
  void ShowButtons();
  void AddDeviceMenu(QMenu& menu, const QString& title, audio::Direction direction);
  void AddEarlierTakesMenu(QMenu& menu);
  // The waveform shows the current prompt's take (or none), at the dialog's height for it.
  void ShowPromptWaveform();
  void PlaceWaveform();
  void StartPlayhead();
  void AddSessionMenu(QMenu& menu);
  void AddHandsFreeMenu(QMenu& menu);
  void InitHandsFree();
  void ShowSitting(bool takeDone);
  void ApplyTextZoom();

  audio::AudioEngine& engine_;
  platform::WindowServices& services_;
  FailureBoxes failureBoxes_;
  OperatorBoxes operatorBoxes_;
  session::Session session_;
  LevelMeterWidget* levelMeter_ = nullptr;
  WaveformView* waveform_ = nullptr;
  // The take file the waveform shows, as it was read: the same take is not read again.
  std::u16string waveformTake_;
  std::int64_t waveformStamp_ = -1;
  QIcon icon_;
  QFont textFont_;
  std::map<int, QWidget*> controls_;
  std::function<void(QWidget*)> aboutHandler_;
  // The lesson chosen last in "List"; the next chooser selects it again. Empty at start, never
  // saved.
  std::u16string lastChosenLesson_;
};

}  // namespace voxtar::ui
