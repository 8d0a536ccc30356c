// The main window frmQuillstamp: its start-up, its controls, the run control's buttons and
// timer, the notification-area icon and the window behaviour around it. It is also the view
// that the scan pass drives and the event pump that every yield of a pass runs.
//
// Its code is split by concern: main_window_layout.cpp (controls, menus and their places),
// main_window_tray.cpp (the icon and the window's showing and hiding), main_window_pump.cpp (the
// event pump, what the pass and run control drive) and main_window_handlers.cpp (start-up and the
// handlers of the controls and menus).
#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/run_control.h"
#include "core/settings.h"
#include "core/settings_file.h"
#include "core/system_identity.h"
#include "core/tray.h"
#include "platform/eventlog.h"
#include "platform/sysinfo.h"
#include "scan/event_list.h"
#include "scan/program_state.h"
#include "scan/scan_pass.h"
#include "ui/settings_dialogs.h"

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QMenu;
class QProgressBar;
class QRadioButton;
class QScreen;
class QSystemTrayIcon;
class QTableView;
class QTimer;
class QToolButton;

namespace qs {

class EventListModel;
class PaintPacer;

// The services the window is given, so that it can run against fakes.
struct WindowServices {
  platform::SystemInfoService* system = nullptr;
  platform::EventLogService* eventLog = nullptr;
  // The settings file: read once at start-up, written key by key ("Configuration" section); no
  // key is written when there is no writer.
  std::function<Settings()> readSettings;
  SettingsKeyWriter* settingsWriter = nullptr;
  // Whether the desktop has a notification area; QSystemTrayIcon's answer when empty.
  std::function<bool()> trayAvailable;
  // Ends the program after "Exit program" is answered Yes; QCoreApplication::exit(0) when empty.
  std::function<void()> quit;
  // The program's folder, where help finds QuillstampDOC.htm.
  std::string programFolder;
  // Logical DPI used for the design places (twips); the window's screen's when 0. The icon's
  // scale is this DPI times the screen's device pixel ratio.
  double logicalDpi = 0;
  // While a pass runs, the window paints at most once per this interval (about 30 times a
  // second); see PaintPacer.
  std::chrono::milliseconds passPaintInterval{33};
};

class frmQuillstamp : public QMainWindow,
                      public ScanView,
                      public MainWindowUpdates,
                      public SettingsKeyWriter,
                      private RunControlView {
  Q_OBJECT
 public:
  frmQuillstamp(ProgramState& state, WindowServices services, QWidget* parent = nullptr);
  ~frmQuillstamp() override;

  // Start-up, steps 1 to 13, once, before the window is first shown.
  void Form_Load();
  // The comment step that every pass hands its selected events to; must be set before a pass.
  void SetCommentStep(CommentStep* step) { commentStep_ = step; }

  // Run control.
  void cmdGo_Click() { runControl_.cmdGo_Click(); }
  void mnuStart_Click() { runControl_.mnuStart_Click(); }
  void Timer1_Timer() { runControl_.Timer1_Timer(); }
  bool PassRunning() const { return runControl_.PassRunning(); }

  // Tray icon and window behaviour.
  void PictureQuillstamp1_MouseMove(int button, int shift, float x, float y);
  void mnuRestaurer_Click();
  void mnuQuitter_Click();
  void ToggleWindow();
  // The icon's notification as the toolkit gives it, turned into the mouse message it stands for.
  void IconNotified(IconClickMerger::Notice notice);

  // Main-window writers of the settings file.
  void chkWinComments_Click();
  void chkMacComments_Click();
  void optTimeSeconds_Click();
  void optTimeNotSeconds_Click();
  void mnuAutomatic_Click();

  // Menus of the dialogs, the help and the about box.
  void mnuSetTime_Click();
  void mnuSetMaxWinComments_Click();
  void mnuMaxSelectedEvents_Click();
  void mnuPerformance_Click();
  void mnuAide_Click();
  void mnuAPropos_Click();

  // MainWindowUpdates (what an accepted dialog changes here)
  void SetWaitingBarMaximum(int maximum) override;
  void SetMaxAttenteCaption(const QString& caption) override;
  void SetRemainingWait(std::int32_t seconds) override;
  void SetMaxSelectedEventsCaption(const QString& caption) override;
  void SetWinCommentsCaption(const QString& caption) override;
  // SettingsKeyWriter: the services' writer, which the window and its dialogs write through.
  bool WriteKey(std::string_view key, std::string_view value) override;

  const SystemIdentity& identity() const { return identity_; }
  ProgramState& state() { return state_; }
  QSystemTrayIcon* trayIcon() const { return tray_; }
  QMenu* fileMenu() const { return mnuFichier_; }
  // Design places (twips) in the window's logical pixels.
  int Px(int twips) const;
  double twipsPerPixel() const;
  // Twips per pixel of the screen as the icon's picture box measures them: in the screen's own
  // pixels, whatever the toolkit's high-DPI scaling reports as its logical DPI.
  double iconTwipsPerPixel() const;

  // ScanView / EventPump
  bool ProcessPendingEvents() override;
  void ShowEventsStatus(std::string_view text) override;
  void ShowMaxEvents(std::string_view text) override;
  void SetProgressMaximum(std::int32_t maximum) override;
  void SetProgressValue(std::int32_t value) override;
  bool IsWindowVisible() const override;
  void ShowOpenLogError(std::string_view message) override;
  void EnableTimer() override;

 protected:
  bool event(QEvent* e) override;
  void changeEvent(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void showEvent(QShowEvent* e) override;

 private:
  // RunControlView
  void SetGoButton(bool running) override;
  void SetStartMenuCaption(std::string_view caption) override;
  void SetRunLocksEnabled(bool enabled) override;
  void RepaintNow() override;
  void SetTimerEnabled(bool enabled) override;
  void SetWaitingValue(std::int32_t value) override;
  void RunScanPass() override;

  void BuildControls();
  void BuildMenus();
  void Form_Resize();
  bool TrayAvailable() const;
  QScreen* ScreenOf() const;
  // The automatic start, once: on the first activation, or when none has come within
  // kActivationGraceMs of the first showing.
  static constexpr int kActivationGraceMs = 500;
  void FirstActivation();
  // Grows and moves what the design places would cut: the comment options and the legend.
  void FitFrames();
  // The grid's columns: the date wide enough for the date text, and room for the vertical bar.
  void FitColumns();
  int DateCellWidth() const;

  ProgramState& state_;
  WindowServices services_;
  RunControl runControl_;
  CommentStep* commentStep_ = nullptr;
  SystemIdentity identity_;
  bool loaded_ = false;
  bool activatedOnce_ = false;
  QTimer* activationGrace_ = nullptr;
  bool centred_ = false;
  IconClickMerger clickMerger_;

  // Counts every event delivered, so that a round of event processing can tell whether it had
  // anything to do.
  class EventCounter;
  std::unique_ptr<EventCounter> eventCounter_;
  // The last full round of event processing, and the shortest time between two during a pass.
  static constexpr std::chrono::nanoseconds kFullRoundSpacing = std::chrono::milliseconds(1);
  QElapsedTimer sinceFullRound_;
  std::unique_ptr<PaintPacer> pacer_;

  std::unique_ptr<EventListModel> model_;
  QWidget* client_ = nullptr;
  QTableView* gridEvenements_ = nullptr;
  QGroupBox* FrameComments_ = nullptr;
  QCheckBox* chkWinComments_ = nullptr;
  QCheckBox* chkMacComments_ = nullptr;
  QRadioButton* optTimeSeconds_ = nullptr;
  QRadioButton* optTimeNotSeconds_ = nullptr;
  QGroupBox* FrameStatus_ = nullptr;
  QLabel* lblNotSelected_ = nullptr;
  QToolButton* cmdGo_ = nullptr;
  QLabel* lblEvents_ = nullptr;
  QProgressBar* ProgressEvents_ = nullptr;
  QLabel* lblMaxEvents_ = nullptr;
  QLabel* lblNbSelectedEvents_ = nullptr;
  QLabel* lblMaxSelectedEvents_ = nullptr;
  QLabel* lblMaxAttente_ = nullptr;
  QProgressBar* ProgressBarAttente_ = nullptr;
  QTimer* Timer1_ = nullptr;
  QSystemTrayIcon* tray_ = nullptr;

  QMenu* mnuFichier_ = nullptr;
  QAction* mnuStart_ = nullptr;
  QAction* mnuRestaurer_ = nullptr;
  QAction* mnuQuitter_ = nullptr;
  QMenu* mnuConfiguration_ = nullptr;
  QAction* mnuAutomatic_ = nullptr;
};

}  // namespace qs
