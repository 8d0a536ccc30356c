// The main window frmQuillstamp of the Windows program, made with the Win32 API and the common
// controls: its start-up, its controls at the design places scaled to the screen's DPI, the run
// control's button and timer, the notification-area icon and the window behaviour around it. It is
// also the view that the scan pass drives and the event pump that every yield of a pass runs.
//
// Its code is split by concern: main_window.cpp (creation, layout and the window procedure),
// main_window_handlers.cpp (start-up and the handlers of the controls and menus) and
// main_window_tray.cpp (the icon, the window's showing and hiding, and "&Exit").
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/run_control.h"
#include "core/settings.h"
#include "core/settings_file.h"
#include "core/system_identity.h"
#include "platform/eventlog.h"
#include "platform/sysinfo.h"
#include "scan/event_list.h"
#include "scan/program_state.h"
#include "scan/scan_pass.h"

namespace qs::win32ui {

// A message box: owner, text, title and MessageBoxA's style; returns the button pressed (IDOK,
// IDYES...). The program shows MessageBoxA; tests answer in its place.
using MessageBoxFunction =
    std::function<int(HWND owner, const std::string& text, const std::string& title, UINT style)>;

// The services the window is given, so that it can run against fakes.
struct WindowServices {
  platform::SystemInfoService* system = nullptr;
  platform::EventLogService* eventLog = nullptr;
  // The settings file: read once at start-up, written key by key ("Configuration" section).
  std::function<Settings()> readSettings;
  SettingsKeyWriter* settingsWriter = nullptr;
  // MessageBoxA when empty.
  MessageBoxFunction messageBox;
  // Ends the program after "Exit program" is answered Yes; PostQuitMessage(0) when empty.
  std::function<void()> quit;
  // Hands the documentation to the shell and gives the shell's answer (above 32: opened;
  // SE_ERR_NOASSOC: no program opens such files); ShellExecuteW as help describes it when empty.
  std::function<int(const std::string& path)> openDocument;
  // The notification-area calls (NIM_ADD, NIM_MODIFY, NIM_DELETE); Shell_NotifyIconA when empty.
  std::function<bool(DWORD message, NOTIFYICONDATAA& data)> notifyIcon;
  // Pops the File menu up at a screen point; TrackPopupMenu when empty.
  std::function<void(HMENU menu, POINT at)> popupMenu;
  // Called with each settings dialog and the about box once they are built, before they show.
  std::function<void(HWND dialog)> dialogOpened;
  // The program's folder, where help finds QuillstampDOC.htm.
  std::string programFolder;
  // The DPI the design places are scaled by; the screen's when 0.
  int dpi = 0;
};

// Command identifiers of the menus and of the controls that report commands.
enum CommandId : int {
  kIdStart = 101,  // mnuStart
  kIdRestaurer,    // mnuRestaurer
  kIdQuitter,      // mnuQuitter
  kIdSetTime,      // mnuSetTime
  kIdSetMaxWinComments,
  kIdMaxSelectedEvents,
  kIdPerformance,
  kIdAutomatic,
  kIdAide,
  kIdAPropos,
  kIdGrid = 201,  // gridEvenements
  kIdFrameComments,
  kIdWinComments,
  kIdMacComments,
  kIdTimeSeconds,
  kIdTimeNotSeconds,
  kIdFrameStatus,
  kIdGo,  // cmdGo
  kIdEvents,
  kIdProgressEvents,
  kIdMaxEvents,
  kIdNbSelectedEvents,
  kIdMaxSelectedEventsLabel,
  kIdMaxAttente,
  kIdProgressBarAttente,
  kIdNotSelected,
  kIdLabel9,
  kIdOtherLabel,  // the fixed captions that nothing changes
};

// The messages of the window beyond the system's.
inline constexpr UINT kMsgAutomaticStart = WM_APP + 1;
// The icon's notifications reach PictureQuillstamp1 as mouse moves whose lParam is the mouse
// message, as the icon's record asks.
inline constexpr UINT kIconCallbackMessage = WM_MOUSEMOVE;
inline constexpr UINT_PTR kTimer1 = 1;
inline constexpr UINT_PTR kActivationGraceTimer = 2;
inline constexpr UINT kActivationGraceMs = 500;
// An icon that the notification area refused (at logon, before Explorer is ready) is tried again
// every 2 s for a minute.
inline constexpr UINT_PTR kTrayRetryTimer = 3;
inline constexpr UINT kTrayRetryMs = 2000;
inline constexpr int kTrayRetryAttempts = 30;
inline constexpr const char* kMainWindowClass = "frmQuillstamp";
inline constexpr const wchar_t* kMainWindowClassW = L"frmQuillstamp";
inline constexpr const char* kIconWindowClass = "QuillstampPicture";

class frmQuillstamp : public ScanView,
                      public SettingsKeyWriter,
                      private RunControlView,
                      private EventListObserver {
 public:
  frmQuillstamp(ProgramState& state, WindowServices services);
  ~frmQuillstamp() override;
  frmQuillstamp(const frmQuillstamp&) = delete;
  frmQuillstamp& operator=(const frmQuillstamp&) = delete;

  // Registers the window classes and makes the window, hidden, with its controls and menus.
  bool Create(HINSTANCE instance);
  // Start-up, steps 1 to 13, once, before the window is first shown.
  void Form_Load();
  // Step 14: centred on the screen, shown and activated.
  void Show();
  // The comment step that every pass hands its selected events to; must be set before a pass.
  void SetCommentStep(CommentStep* step) { commentStep_ = step; }

  HWND hwnd() const { return hwnd_; }
  HWND control(int id) const { return GetDlgItem(hwnd_, id); }
  HWND iconWindow() const { return picture_; }
  HMENU fileMenu() const { return mnuFichier_; }
  HMENU menuBar() const { return menuBar_; }
  const NOTIFYICONDATAA& trayIconData() const { return trayIconData_; }
  bool trayIconAdded() const { return trayIconAdded_; }
  // The tries of a refused icon still to come (0: none pending).
  int trayRetriesLeft() const { return trayRetriesLeft_; }
  // The registered message "TaskbarCreated" (0 if the system gave none).
  UINT taskbarCreatedMessage() const { return taskbarCreated_; }
  const SystemIdentity& identity() const { return identity_; }
  ProgramState& state() { return state_; }
  int dpi() const { return dpi_; }
  // A design length in twips, in pixels at the window's DPI.
  int Px(int twips) const;
  // A system metric (SM_...) at the window's DPI: GetSystemMetricsForDpi where the system has it,
  // else the system's metric scaled from the screen's DPI.
  int Metric(int index) const;
  // The window's own DPI (GetDpiForWindow where the system has it), else the screen's.
  static int WindowDpi(HWND window);

  // Run control.
  void cmdGo_Click() { runControl_.cmdGo_Click(); }
  void mnuStart_Click() { runControl_.mnuStart_Click(); }
  void Timer1_Timer() { runControl_.Timer1_Timer(); }
  bool PassRunning() const { return runControl_.PassRunning(); }

  // Tray icon and window behaviour.
  void PictureQuillstamp1_MouseMove(float x);
  void IconNotified(UINT mouseMessage);
  void ToggleWindow();
  void mnuRestaurer_Click();
  void mnuQuitter_Click();

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

  // What an accepted dialog changes here.
  void SetWaitingBarMaximum(int maximum);
  void SetMaxAttenteCaption(const std::string& caption);
  void SetRemainingWait(std::int32_t seconds) { state_.run.RemainingWait = seconds; }
  void SetMaxSelectedEventsCaption(const std::string& caption);
  void SetWinCommentsCaption(const std::string& caption);

  // SettingsKeyWriter: the services' writer, which the window and its dialogs write through.
  bool WriteKey(std::string_view key, std::string_view value) override;
  int ShowMessage(const std::string& text, const std::string& title, UINT style);
  const WindowServices& services() const { return services_; }

  // The main window's keyboard handling of a message from the message loop; true when the message
  // was handled there and must not be dispatched.
  bool TranslateWindowKeys(MSG& msg);

  // ScanView / EventPump
  bool ProcessPendingEvents() override;
  void ShowEventsStatus(std::string_view text) override;
  void ShowMaxEvents(std::string_view text) override;
  void SetProgressMaximum(std::int32_t maximum) override;
  void SetProgressValue(std::int32_t value) override;
  bool IsWindowVisible() const override;
  void ShowOpenLogError(std::string_view message) override;
  void EnableTimer() override;

 private:
  // RunControlView
  void SetGoButton(bool running) override;
  void SetStartMenuCaption(std::string_view caption) override;
  void SetRunLocksEnabled(bool enabled) override;
  void RepaintNow() override;
  void SetTimerEnabled(bool enabled) override;
  void SetWaitingValue(std::int32_t value) override;
  void RunScanPass() override;

  // EventListObserver: the list view holds no text of its own (it asks for each cell as it
  // draws it), so every change is a new count and a redraw.
  void ListReset() override;
  void RowsRemovedFromBottom(int first, int last) override;
  void RowInsertedAtTop() override;
  void CellChanged(int row, int column) override;
  void SelectedCountChanged(int count) override;

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK IconProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void OnCommand(int id, int code);
  LRESULT OnNotify(const NMHDR& header);
  void DrawGoButton(const DRAWITEMSTRUCT& item);

  void BuildMenus();
  void BuildControls();
  // Places every control at its design place at the current DPI, then grows what the design
  // places would cut: labels to their captions, the comment options to their indicators and
  // captions, the frames around them, and the grid's date column to the date text.
  void Layout();
  void FitLabel(int id);
  void FitFrames();
  void FitColumns();
  void MakeFonts();
  void LoadButtonImages();
  void SetText(int id, const std::string& text);
  void SetRestoreVisible(bool visible);
  void Form_Resize(WPARAM sizeKind);
  void FirstActivation();
  void LoadIcons();
  // NIM_ADD; true when the icon is in the notification area.
  bool AddTrayIcon();
  bool NotifyIcon(DWORD message);
  void TaskbarCreated();
  void RetryTrayIcon();
  void DeleteTrayIcon();
  bool RunLocksEnabled() const { return locksEnabled_; }

  // One control and its design place in twips, relative to the client area; a control of a
  // frame has its frame's place added.
  struct Placed {
    int id;
    RECT twips;       // left, top, right, bottom
    bool autoWidth;   // a label without a design width: as wide as its caption
    bool rightAlign;  // grows to the left
  };

  ProgramState& state_;
  WindowServices services_;
  RunControl runControl_;
  CommentStep* commentStep_ = nullptr;
  SystemIdentity identity_;
  HINSTANCE instance_ = nullptr;
  HWND hwnd_ = nullptr;
  HWND picture_ = nullptr;  // PictureQuillstamp1: hidden, receives the icon's notifications
  HMENU menuBar_ = nullptr;
  HMENU mnuFichier_ = nullptr;
  HMENU mnuConfiguration_ = nullptr;
  HFONT font_ = nullptr;
  HFONT underlined_ = nullptr;
  HBITMAP startImage_ = nullptr;  // Picture1
  HBITMAP stopImage_ = nullptr;   // Picture2
  HICON icon_ = nullptr;
  HICON smallIcon_ = nullptr;
  NOTIFYICONDATAA trayIconData_{};
  bool trayIconAdded_ = false;
  int trayRetriesLeft_ = 0;
  UINT taskbarCreated_ = 0;
  bool running_ = false;  // cmdGo shows the stop image
  bool locksEnabled_ = true;
  bool restoreShown_ = false;
  bool loaded_ = false;
  bool shown_ = false;
  bool activatedOnce_ = false;
  bool exiting_ = false;
  int dpi_ = 96;
  std::vector<Placed> placed_;
  std::wstring cellBuffer_;
};

}  // namespace qs::win32ui
