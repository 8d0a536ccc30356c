// The Windows window driven in this process: the program is built over a settings file and an
// .evt log in a folder of the test's own, its window is made and loaded, and the test sends it the
// messages a user's clicks would (menu commands, button clicks, the icon's notifications), then
// reads the controls back with the Win32 calls and the settings file afterwards. Message boxes,
// the end of the program, the shell and the icon's popup menu are answered by the test.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/tray.h"
#include "evtwriter/evt_writer.h"
#include "platform/utf.h"
#include "support/fakes.h"
#include "support/temp_dir.h"
#include "win32ui/dialogs.h"
#include "win32ui/main_window.h"
#include "win32ui/program.h"
#include "win32ui/resource_ids.h"

namespace qs::win32ui {
namespace {

using test::TempDir;

struct Box {
  std::string text;
  std::string title;
  UINT style;
};

std::string Utf8(const std::wstring& wide) {
  return platform::Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

std::string TextOf(HWND control) {
  wchar_t buffer[1024] = {};
  GetWindowTextW(control, buffer, 1024);
  return Utf8(buffer);
}

bool StyleVisible(HWND control) {
  return (GetWindowLongPtrW(control, GWL_STYLE) & WS_VISIBLE) != 0;
}

std::string MenuText(HMENU menu, UINT id) {
  char buffer[256] = {};
  GetMenuStringA(menu, id, buffer, sizeof buffer, MF_BYCOMMAND);
  return buffer;
}

bool MenuHas(HMENU menu, UINT id) { return GetMenuState(menu, id, MF_BYCOMMAND) != UINT(-1); }

bool MenuGreyed(HMENU menu, UINT id, UINT by = MF_BYCOMMAND) {
  return (GetMenuState(menu, id, by) & MF_GRAYED) != 0;
}

// Seconds since 1970 of a local date, for the records of the test's log.
constexpr std::uint32_t kBaseTime = 1700000000;

class WindowTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::vector<Box> boxes;
  std::deque<int> answers;  // the buttons the next message boxes answer with; IDOK when empty
  int quits = 0;
  std::vector<std::string> documents;
  int shellAnswer = 42;  // what the shell answers when the documentation is handed to it
  // The notification area's calls, when a test answers them; Wine's own otherwise.
  std::function<bool(DWORD, NOTIFYICONDATAA&)> notifyIcon;
  std::vector<HMENU> popups;
  // What a settings dialog or the about box does once it is built (runs inside it).
  std::function<void(HWND)> onDialog;
  std::unique_ptr<Program> program;

  std::string IniPath() const { return dir / "Quillstamp.ini"; }
  std::string FolderForWindows() const { return dir.path().string(); }

  WindowServices Hooks() {
    WindowServices hooks;
    hooks.messageBox = [this](HWND, const std::string& text, const std::string& title, UINT style) {
      boxes.push_back({text, title, style});
      if (answers.empty()) return IDOK;
      const int answer = answers.front();
      answers.pop_front();
      return answer;
    };
    hooks.quit = [this] { ++quits; };
    hooks.openDocument = [this](const std::string& path) {
      documents.push_back(path);
      return shellAnswer;
    };
    hooks.popupMenu = [this](HMENU menu, POINT) { popups.push_back(menu); };
    hooks.notifyIcon = notifyIcon;
    hooks.dialogOpened = [this](HWND dialog) {
      if (onDialog) onDialog(dialog);
    };
    return hooks;
  }

  // Builds the program over the folder and starts it as the executable does.
  void Start() {
    program = std::make_unique<Program>(FolderForWindows(), Hooks());
    ASSERT_TRUE(window().Create(GetModuleHandleA(nullptr)));
    window().Form_Load();
    window().Show();
    PumpFor(100);
  }

  frmQuillstamp& window() { return program->window(); }
  HWND hwnd() { return window().hwnd(); }
  HWND control(int id) { return window().control(id); }
  std::string Text(int id) { return TextOf(control(id)); }

  void PumpOnce() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  void PumpFor(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
      PumpOnce();
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
  }
  // Runs the message loop until `done` holds or `ms` pass; the result is `done`.
  bool PumpUntil(const std::function<bool()>& done, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
      if (std::chrono::steady_clock::now() >= end) return false;
      PumpOnce();
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
  }

  void Command(int id) { SendMessageA(hwnd(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

  std::string Ini(const char* key, const char* section = "Configuration") {
    char buffer[256] = {};
    GetPrivateProfileStringA(section, key, "<none>", buffer, sizeof buffer, IniPath().c_str());
    return buffer;
  }

  int Rows() { return static_cast<int>(SendMessageW(control(kIdGrid), LVM_GETITEMCOUNT, 0, 0)); }
  std::string Cell(int row, int column) {  // row 1 is the newest, as in the list
    wchar_t buffer[512] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = 512;
    SendMessageW(control(kIdGrid), LVM_GETITEMTEXTW, static_cast<WPARAM>(row - 1),
                 reinterpret_cast<LPARAM>(&item));
    return Utf8(buffer);
  }
  int ProgressPos(int id) { return static_cast<int>(SendMessageW(control(id), PBM_GETPOS, 0, 0)); }
  int ProgressMax(int id) {
    return static_cast<int>(SendMessageW(control(id), PBM_GETRANGE, FALSE, 0));
  }

  // A log of three writes by alice, the newest last: a file that is there, one that is read-only
  // and one that was removed. It is named in the settings file with `config`.
  void WriteLogAndSettings(const std::string& config) {
    test::WriteFile(dir / "budget.xls", "figures");
    test::WriteFile(dir / "locked.doc", "text");
    SetFileAttributesA((dir / "locked.doc").c_str(), FILE_ATTRIBUTE_READONLY);
    evtwriter::EvtWriter writer;
    const char* names[] = {"budget.xls", "locked.doc", "removed.txt"};
    for (int i = 0; i < 3; ++i) {
      evtwriter::Event560 event;
      event.time = kBaseTime + 60u * static_cast<std::uint32_t>(i);
      event.objectName = dir / names[i];
      event.primaryUser = "alice";
      writer.Add(evtwriter::MakeEvent560(event));
    }
    writer.WriteFile(dir / "Security.evt");
    test::WriteFile(IniPath(), "[Configuration]\r\n" + config +
                                   "[Platform]\r\nSecurityLog=" + (dir / "Security.evt") + "\r\n");
  }

  void TearDown() override {
    if (program != nullptr) {
      SetFileAttributesA((dir / "locked.doc").c_str(), FILE_ATTRIBUTE_NORMAL);
      program.reset();
    }
    PumpOnce();
  }
};

// ---- Start-up ---------------------------------------------------------------------------------

TEST_F(WindowTest, StartsWithoutSettingsFileOnDefaultsAndWritesTheOptionsItApplies) {
  Start();
  const std::string title = TextOf(hwnd());
  EXPECT_EQ(title.rfind("Quillstamp 1.0b", 0), 0u) << title;
  EXPECT_EQ(title, window().identity().title);
  EXPECT_EQ(Text(kIdMaxAttente), "10 s");
  EXPECT_EQ(ProgressMax(kIdProgressBarAttente), 9);
  EXPECT_EQ(Text(kIdMaxSelectedEventsLabel), "(Max selected events in list=500)");
  EXPECT_EQ(Text(kIdWinComments), "in Windows 2000 files comments [<500 chars]");
  EXPECT_EQ(Text(kIdGo), "Start");
  EXPECT_EQ(MenuText(window().fileMenu(), kIdStart), "Start analysis");
  EXPECT_FALSE(MenuHas(window().fileMenu(), kIdRestaurer));
  EXPECT_EQ(Text(kIdNotSelected), "Events generated by account '" +
                                      window().identity().OwnAccountName + "' are not selected");
  EXPECT_TRUE(window().state().run.StopFlag);
  // "Time without seconds" is selected at start-up, which runs its writer.
  EXPECT_EQ(Ini("TimeSeconds"), "0");
  EXPECT_EQ(Ini("Temporisation"), "<none>");
  // The system menu has lost Close and the separator above it.
  HMENU system = GetSystemMenu(hwnd(), FALSE);
  EXPECT_EQ(GetMenuState(system, SC_CLOSE, MF_BYCOMMAND), UINT(-1));
  EXPECT_TRUE(window().trayIconAdded()) << "Wine's notification area refused the icon";
  EXPECT_STREQ(window().trayIconData().szTip, "Quillstamp 1.0b");
  EXPECT_EQ(window().trayIconData().uCallbackMessage, UINT(WM_MOUSEMOVE));
  EXPECT_EQ(window().trayIconData().hWnd, window().iconWindow());
  EXPECT_TRUE(IsWindowVisible(hwnd()));
  // A close request from the frame is refused.
  SendMessageA(hwnd(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindow(hwnd()));
}

TEST_F(WindowTest, StartsFromTheSettingsFileAndShowsIt) {
  test::WriteFile(IniPath(),
                  "[Configuration]\r\nTemporisation=30\r\nMacComments=1\r\nTimeSeconds=1\r\n"
                  "MaxWinComments=2000\r\nMaxSelectedEvents=300\r\nPerformance=7\r\n");
  Start();
  EXPECT_EQ(Text(kIdMaxAttente), "30 s");
  EXPECT_EQ(ProgressMax(kIdProgressBarAttente), 29);
  EXPECT_EQ(window().state().run.RemainingWait, 30);
  EXPECT_EQ(Text(kIdWinComments), "in Windows 2000 files comments [<2000 chars]");
  EXPECT_EQ(Text(kIdMaxSelectedEventsLabel), "(Max selected events in list=300)");
  EXPECT_EQ(SendMessageW(control(kIdMacComments), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(SendMessageW(control(kIdTimeSeconds), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_TRUE(IsWindowEnabled(control(kIdTimeSeconds)));
  EXPECT_EQ(window().state().settings.Performance, 7);
  EXPECT_EQ(Ini("MacComments"), "1");
  EXPECT_EQ(Ini("TimeSeconds"), "1");
  EXPECT_EQ(Ini("Temporisation"), "30");
}

TEST_F(WindowTest, WarnsOutsideTheNtFamilyAndGoesOn) {
  ProgramState state;
  test::FakeSystem system(test::SystemOf(platform::kPlatformWin32Windows, 4, 10, 1998, ""));
  WindowServices services = Hooks();
  services.system = &system;
  frmQuillstamp window(state, services);
  ASSERT_TRUE(window.Create(GetModuleHandleA(nullptr)));
  window.Form_Load();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Sorry, this program runs only on Windows NT 4 or Windows 2000");
  EXPECT_EQ(boxes[0].title, "Quillstamp");
  EXPECT_EQ(boxes[0].style, UINT(MB_OK | MB_ICONHAND));
  EXPECT_FALSE(IsWindowEnabled(window.control(kIdWinComments)));
  EXPECT_NE(TextOf(window.hwnd()).find("; Windows 98 v.4.10, Build 1998"), std::string::npos)
      << TextOf(window.hwnd());
}

TEST(SettingsFileOnWindows, NoLogNamedIsTheLiveLogAndADrivePathIsWhole) {
  TempDir dir;
  const std::string path = SettingsFilePathIn(dir.path().string());
  const SettingsFile file(path);
  // An empty name opens the computer's own Security log through the event-log service.
  EXPECT_EQ(file.SecurityLogPath(), "");
  for (const std::string& log : {std::string("C:\\Logs\\Security.evt"), dir / "x.evt",
                                 std::string("\\\\server\\logs\\x.evt")}) {
    test::WriteFile(path, "[Platform]\r\nSecurityLog=" + log + "\r\n");
    EXPECT_EQ(file.SecurityLogPath(), log);
  }
  test::WriteFile(path, "[Platform]\r\nSecurityLog=Security.evt\r\n");
  EXPECT_EQ(file.SecurityLogPath(), dir.path().string() + "/Security.evt");
}

// ---- Run control and the list -----------------------------------------------------------------

TEST_F(WindowTest, StartListsTheLogNewestFirstWithItsMarksAndStopEndsTheRun) {
  WriteLogAndSettings("");
  Start();
  Command(kIdGo);  // runs the first pass at once
  ASSERT_EQ(Rows(), 3) << "last box: " << (boxes.empty() ? "" : boxes.back().text);
  EXPECT_EQ(Cell(1, kColFile), dir / "removed.txt");
  EXPECT_EQ(Cell(2, kColFile), dir / "locked.doc");
  EXPECT_EQ(Cell(3, kColFile), dir / "budget.xls");
  EXPECT_EQ(Cell(1, kColUser), "alice");
  EXPECT_EQ(Cell(1, kColWin), "U");
  EXPECT_EQ(Cell(2, kColWin), "RO");
  EXPECT_EQ(Cell(1, kColMac), "-");
  EXPECT_EQ(Cell(1, kColDateTime), window().state().eventList.CellText(1, kColDateTime));
  EXPECT_FALSE(Cell(1, kColDateTime).empty());
  EXPECT_EQ(Text(kIdNbSelectedEvents), "3");
  EXPECT_EQ(Text(kIdMaxEvents), "3");
  // Running: the button shows the stop image without a caption, and the locks are on.
  EXPECT_EQ(Text(kIdGo), "");
  EXPECT_EQ(MenuText(window().fileMenu(), kIdStart), "Stop analysis");
  EXPECT_TRUE(MenuGreyed(window().fileMenu(), kIdQuitter));
  EXPECT_TRUE(MenuGreyed(window().menuBar(), 1, MF_BYPOSITION));
  EXPECT_FALSE(IsWindowEnabled(control(kIdMacComments)));
  EXPECT_FALSE(window().state().run.StopFlag);
  // The wait is counted on the bar, one tick a second.
  ASSERT_TRUE(PumpUntil([&] { return ProgressPos(kIdProgressBarAttente) >= 1; }, 5000));
  // "&Exit" does nothing while the analysis runs, even when the command comes.
  Command(kIdQuitter);
  EXPECT_TRUE(boxes.empty());

  Command(kIdGo);  // Stop
  EXPECT_TRUE(window().state().run.StopFlag);
  EXPECT_EQ(Text(kIdGo), "Start");
  EXPECT_EQ(ProgressPos(kIdProgressBarAttente), 0);
  EXPECT_EQ(MenuText(window().fileMenu(), kIdStart), "Start analysis");
  EXPECT_FALSE(MenuGreyed(window().fileMenu(), kIdQuitter));
  EXPECT_FALSE(MenuGreyed(window().menuBar(), 1, MF_BYPOSITION));
  EXPECT_TRUE(IsWindowEnabled(control(kIdMacComments)));
  // No tick comes after a Stop.
  PumpFor(1300);
  EXPECT_EQ(ProgressPos(kIdProgressBarAttente), 0);
}

TEST_F(WindowTest, AnUnreadableLogIsReportedAndTheRunGoesOn) {
  test::WriteFile(IniPath(), "[Platform]\r\nSecurityLog=" + (dir / "missing.evt") + "\r\n");
  Start();
  Command(kIdGo);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text.rfind("Error. Unable to open Log: ", 0), 0u) << boxes[0].text;
  EXPECT_EQ(boxes[0].title, "Quillstamp");
  EXPECT_FALSE(window().state().run.StopFlag);
  Command(kIdGo);
}

TEST_F(WindowTest, AutomaticStartHidesTheWindowAndRunsAPass) {
  WriteLogAndSettings("Automatic=1\r\n");
  Start();
  ASSERT_TRUE(PumpUntil([&] { return Rows() == 3; }, 5000)) << "no pass ran by itself";
  EXPECT_FALSE(IsWindowVisible(hwnd()));
  EXPECT_FALSE(window().state().run.StopFlag);
  EXPECT_TRUE(MenuHas(window().fileMenu(), kIdRestaurer));
  EXPECT_EQ(MenuText(window().fileMenu(), kIdRestaurer), "Show main window");
  // "Show main window" brings it back, and a later activation starts nothing again.
  Command(kIdRestaurer);
  PumpFor(200);
  EXPECT_TRUE(IsWindowVisible(hwnd()));
  EXPECT_FALSE(MenuHas(window().fileMenu(), kIdRestaurer));
  EXPECT_FALSE(window().state().run.StopFlag);
  Command(kIdGo);
}

// ---- The comment options and the automatic start-up option ------------------------------------

TEST_F(WindowTest, CommentOptionsAndAutomaticWriteTheirKeys) {
  Start();
  SendMessageW(control(kIdMacComments), BM_CLICK, 0, 0);
  EXPECT_EQ(Ini("MacComments"), "1");
  EXPECT_TRUE(IsWindowEnabled(control(kIdTimeSeconds)));
  SendMessageW(control(kIdTimeSeconds), BM_CLICK, 0, 0);
  EXPECT_EQ(Ini("TimeSeconds"), "1");
  SendMessageW(control(kIdTimeNotSeconds), BM_CLICK, 0, 0);
  EXPECT_EQ(Ini("TimeSeconds"), "0");
  SendMessageW(control(kIdMacComments), BM_CLICK, 0, 0);
  EXPECT_EQ(Ini("MacComments"), "0");
  EXPECT_FALSE(IsWindowEnabled(control(kIdTimeSeconds)));
  Command(kIdAutomatic);
  EXPECT_EQ(Ini("Automatic"), "1");
  EXPECT_NE(
      GetMenuState(GetSubMenu(window().menuBar(), 1), kIdAutomatic, MF_BYCOMMAND) & MF_CHECKED, 0u);
  Command(kIdAutomatic);
  EXPECT_EQ(Ini("Automatic"), "0");
}

// ---- The settings dialogs ---------------------------------------------------------------------

struct DialogCase {
  int menu;
  const char* typed;
  const char* key;
  const char* written;  // nullptr: refused with "Invalid value: " and the text
  int mainLabel;        // the main window's control the accepted value shows in
  const char* shown;
};

class NumericDialogTest : public WindowTest, public ::testing::WithParamInterface<DialogCase> {};

TEST_P(NumericDialogTest, OkStoresOneKeyOrRefusesTheTextAsTyped) {
  const DialogCase& c = GetParam();
  Start();
  const std::string before = test::ReadFile(IniPath());
  std::string title;
  onDialog = [&](HWND dialog) {
    title = TextOf(dialog);
    SetDlgItemTextW(dialog, IDC_TEXT1,
                    reinterpret_cast<const wchar_t*>(platform::Utf8ToUtf16(c.typed).c_str()));
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    if (c.written == nullptr) {
      EXPECT_EQ(TextOf(GetDlgItem(dialog, IDC_TEXT1)), c.typed);  // left as typed, still open
      SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }
  };
  Command(c.menu);
  EXPECT_EQ(title, "Quillstamp 1.0b");
  if (c.written == nullptr) {
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, std::string("Invalid value: ") + c.typed);
    EXPECT_EQ(boxes[0].title, "Quillstamp 1.0b");
    EXPECT_EQ(boxes[0].style, UINT(16));
    EXPECT_EQ(test::ReadFile(IniPath()), before);
  } else {
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(Ini(c.key), c.written);
    EXPECT_EQ(Text(c.mainLabel), c.shown);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Dialogs, NumericDialogTest,
    ::testing::Values(
        DialogCase{kIdSetTime, "30", "Temporisation", "30", kIdMaxAttente, "30 s"},
        DialogCase{kIdSetTime, "60000", "Temporisation", "60000", kIdMaxAttente, "60000 s"},
        DialogCase{kIdSetTime, "1.4", "Temporisation", "1", kIdMaxAttente, "1 s"},
        DialogCase{kIdSetTime, "0", "Temporisation", nullptr, 0, nullptr},
        DialogCase{kIdSetTime, "60001", "Temporisation", nullptr, 0, nullptr},
        DialogCase{kIdSetTime, "abc", "Temporisation", nullptr, 0, nullptr},
        DialogCase{kIdMaxSelectedEvents, "2999.5", "MaxSelectedEvents", "3000",
                   kIdMaxSelectedEventsLabel, "(Max selected events in list=3000)"},
        DialogCase{kIdMaxSelectedEvents, "9.6", "MaxSelectedEvents", nullptr, 0, nullptr},
        DialogCase{kIdSetMaxWinComments, "2000", "MaxWinComments", "2000", kIdWinComments,
                   "in Windows 2000 files comments [<2000 chars]"},
        DialogCase{kIdSetMaxWinComments, "10001", "MaxWinComments", nullptr, 0, nullptr}));

TEST_F(WindowTest, TempoOkSetsTheWaitingBarAndTheWait) {
  Start();
  onDialog = [&](HWND dialog) {
    SetDlgItemTextA(dialog, IDC_TEXT1, "30");
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  };
  Command(kIdSetTime);
  EXPECT_EQ(ProgressMax(kIdProgressBarAttente), 29);
  EXPECT_EQ(window().state().run.RemainingWait, 30);
  EXPECT_EQ(window().state().settings.Temporisation, 30);
}

TEST_F(WindowTest, CancelAndEscapeChangeNothing) {
  Start();
  const std::string before = test::ReadFile(IniPath());
  for (int menu : {kIdSetTime, kIdMaxSelectedEvents, kIdSetMaxWinComments, kIdPerformance}) {
    bool opened = false;
    onDialog = [&](HWND dialog) {
      opened = true;
      if (menu != kIdPerformance) SetDlgItemTextA(dialog, IDC_TEXT1, "123");
      // The performance's thumb moves before the dialog is left.
      SendMessageW(dialog, WM_HSCROLL, SB_LINERIGHT,
                   reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_HSCROLL1)));
      // Esc, through the dialog's own keyboard handling once it runs.
      PostMessageW(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
    };
    Command(menu);
    EXPECT_TRUE(opened) << menu;
  }
  EXPECT_EQ(test::ReadFile(IniPath()), before);
  EXPECT_EQ(window().state().settings.Temporisation, 10);
  EXPECT_EQ(window().state().settings.Performance, 50);
}

struct ArrowCase {
  int menu;
  const char* typed;
  bool up;
  const char* result;
  const char* message;  // nullptr: Label1 hidden
};

class ArrowTest : public WindowTest, public ::testing::WithParamInterface<ArrowCase> {};

TEST_P(ArrowTest, ArrowsStepTheTypedNumberAndSayWhenALimitIsReached) {
  const ArrowCase& c = GetParam();
  Start();
  onDialog = [&](HWND dialog) {
    SetDlgItemTextA(dialog, IDC_TEXT1, c.typed);
    NMUPDOWN change{};
    change.hdr.hwndFrom = GetDlgItem(dialog, IDC_UPDOWN1);
    change.hdr.idFrom = IDC_UPDOWN1;
    change.hdr.code = UDN_DELTAPOS;
    change.iPos = 1;
    change.iDelta = c.up ? 1 : -1;
    SendMessageW(dialog, WM_NOTIFY, IDC_UPDOWN1, reinterpret_cast<LPARAM>(&change));
    EXPECT_EQ(TextOf(GetDlgItem(dialog, IDC_TEXT1)), c.result);
    HWND label = GetDlgItem(dialog, IDC_LABEL1);
    EXPECT_EQ(StyleVisible(label), c.message != nullptr);
    if (c.message != nullptr) {
      EXPECT_EQ(TextOf(label), c.message);
    }
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  };
  Command(c.menu);
}

INSTANTIATE_TEST_SUITE_P(
    Dialogs, ArrowTest,
    ::testing::Values(
        ArrowCase{kIdSetTime, "59999", true, "60000", "Maximal temporisation reached"},
        ArrowCase{kIdSetTime, "60000", true, "60000", "Maximal temporisation reached"},
        ArrowCase{kIdSetTime, "2", false, "1", "Minimal temporisation reached"},
        ArrowCase{kIdSetTime, "1", true, "2", nullptr},
        ArrowCase{kIdMaxSelectedEvents, "11", false, "10", "Minimal selected events reached"},
        ArrowCase{kIdMaxSelectedEvents, "5000", false, "4999", nullptr},
        ArrowCase{kIdSetMaxWinComments, "9999.6", true, "10000", "Maximal size reached"},
        // Twenty digits: the arrows never fail; the number less one reads as the same number.
        ArrowCase{kIdSetTime, "99999999999999999999", false, "100000000000000000000", nullptr},
        ArrowCase{kIdSetTime, "99999999999999999999", true, "60000",
                  "Maximal temporisation reached"}));

TEST_F(WindowTest, ArrowKeysInTheTextGoTheWayTheyPoint) {
  Start();
  std::vector<std::string> seen;
  onDialog = [&](HWND dialog) {
    HWND text = GetDlgItem(dialog, IDC_TEXT1);
    SetWindowTextA(text, "20");
    SendMessageW(text, WM_KEYDOWN, VK_UP, 0);
    SendMessageW(text, WM_KEYUP, VK_UP, 0);
    seen.push_back(TextOf(text));
    SendMessageW(text, WM_KEYDOWN, VK_DOWN, 0);
    SendMessageW(text, WM_KEYUP, VK_DOWN, 0);
    SendMessageW(text, WM_KEYDOWN, VK_DOWN, 0);
    SendMessageW(text, WM_KEYUP, VK_DOWN, 0);
    seen.push_back(TextOf(text));
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  };
  Command(kIdSetTime);
  EXPECT_EQ(seen, (std::vector<std::string>{"21", "19"}));
}

TEST_F(WindowTest, PerformanceOkStoresTheScrollBarsValueAndItsKeysGoTheWayTheyPoint) {
  Start();
  int loaded = 0;
  onDialog = [&](HWND dialog) {
    HWND bar = GetDlgItem(dialog, IDC_HSCROLL1);
    loaded = GetScrollPos(bar, SB_CTL);
    EXPECT_EQ(TextOf(dialog), "Quillstamp 1.0b");
    // The keyboard's Left goes to the minimum's end, Right to the maximum's.
    SendMessageW(bar, WM_KEYDOWN, VK_RIGHT, 0);
    SendMessageW(bar, WM_KEYDOWN, VK_RIGHT, 0);
    SendMessageW(bar, WM_KEYDOWN, VK_LEFT, 0);
    SendMessageW(dialog, WM_HSCROLL, SB_PAGERIGHT, reinterpret_cast<LPARAM>(bar));
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  };
  Command(kIdPerformance);
  EXPECT_EQ(loaded, 50);
  EXPECT_EQ(Ini("Performance"), "52");
  EXPECT_EQ(window().state().settings.Performance, 52);
}

TEST_F(WindowTest, TheConfigurationMenuIsShutWhileTheAnalysisRuns) {
  WriteLogAndSettings("");
  Start();
  Command(kIdGo);
  bool opened = false;
  onDialog = [&](HWND dialog) {
    opened = true;
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  };
  Command(kIdSetTime);
  Command(kIdAutomatic);
  EXPECT_FALSE(opened);
  EXPECT_EQ(Ini("Automatic"), "<none>");
  Command(kIdGo);
}

// Each dialog's captions fit their controls: measured with the dialog's own font, on the dialog as
// it opens, with the limit message shown (the widest text its message line takes).
TEST_F(WindowTest, EveryDialogShowsItsCaptionsWhole) {
  Start();
  for (int menu :
       {kIdSetTime, kIdMaxSelectedEvents, kIdSetMaxWinComments, kIdPerformance, kIdAPropos}) {
    int measured = 0;
    onDialog = [&](HWND dialog) {
      if (GetDlgItem(dialog, IDC_UPDOWN1) != nullptr) {
        SetDlgItemTextA(dialog, IDC_TEXT1, "99999");
        NMUPDOWN change{};
        change.hdr.hwndFrom = GetDlgItem(dialog, IDC_UPDOWN1);
        change.hdr.idFrom = IDC_UPDOWN1;
        change.hdr.code = UDN_DELTAPOS;
        change.iDelta = 1;
        SendMessageW(dialog, WM_NOTIFY, IDC_UPDOWN1, reinterpret_cast<LPARAM>(&change));
      }
      HDC dc = GetDC(dialog);
      for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
           child = GetWindow(child, GW_HWNDNEXT)) {
        char cls[32] = {};
        GetClassNameA(child, cls, sizeof cls);
        const std::string text = TextOf(child);
        if (text.empty() || lstrcmpiA(cls, "Static") != 0 || !StyleVisible(child)) continue;
        RECT r{};
        GetClientRect(child, &r);
        HGDIOBJ old =
            SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0)));
        const std::u16string wide = platform::Utf8ToUtf16(text);
        RECT needed{0, 0, r.right, 0};
        // Wrapped as the control wraps it: the lines must fit its height.
        DrawTextW(dc, reinterpret_cast<const wchar_t*>(wide.c_str()), -1, &needed,
                  DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
        SelectObject(dc, old);
        // A pixel or two to spare: a glyph may reach past its advance (the "r" of "slower").
        EXPECT_LE(needed.right + 2, r.right)
            << "cut: " << text << " " << needed.right << "/" << r.right;
        EXPECT_LE(needed.bottom, r.bottom) << "cut: " << text;
        ++measured;
      }
      ReleaseDC(dialog, dc);
      SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    };
    Command(menu);
    EXPECT_GE(measured, 1) << menu;
  }
}

// ---- Help and the about box -------------------------------------------------------------------

TEST_F(WindowTest, HelpOpensTheManualOrSaysItIsMissing) {
  Start();
  Command(kIdAide);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Documentation not yet available...");
  EXPECT_EQ(boxes[0].title, "Quillstamp");
  EXPECT_EQ(boxes[0].style, UINT(64));
  // A folder of that name is no manual either.
  ASSERT_TRUE(CreateDirectoryA((dir / "QuillstampDOC.htm").c_str(), nullptr));
  Command(kIdAide);
  EXPECT_EQ(boxes.size(), 2u);
  EXPECT_TRUE(documents.empty());
  RemoveDirectoryA((dir / "QuillstampDOC.htm").c_str());
  test::WriteFile(dir / "QuillstampDOC.htm", "<html></html>");
  Command(kIdAide);
  EXPECT_EQ(boxes.size(), 2u);
  EXPECT_EQ(documents, std::vector<std::string>{dir.path().string() + "\\QuillstampDOC.htm"});
}

TEST_F(WindowTest, AboutBoxShowsTheCreditAndClosesWithOkEnterOrEscape) {
  Start();
  for (UINT key : {0u, UINT(VK_RETURN), UINT(VK_ESCAPE)}) {
    std::string title;
    std::string credit;
    onDialog = [&](HWND dialog) {
      title = TextOf(dialog);
      credit = TextOf(GetDlgItem(dialog, IDC_LBLCREDIT));
      if (key == 0)
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      else
        PostMessageW(GetDlgItem(dialog, IDOK), WM_KEYDOWN, key, 0);
    };
    Command(kIdAPropos);  // returns once the box is closed
    EXPECT_EQ(title, "About...");
    EXPECT_EQ(credit,
              "Quillstamp 1.0b: select files modifications events in Security Log and write "
              "informations in Windows 2000/Macintosh comments");
  }
}

// ---- The icon and the window's behaviour ------------------------------------------------------

TEST_F(WindowTest, MinimisingHidesTheWindowAndOffersShowMainWindow) {
  Start();
  ShowWindow(hwnd(), SW_MINIMIZE);
  PumpFor(100);
  EXPECT_FALSE(IsWindowVisible(hwnd()));
  EXPECT_TRUE(MenuHas(window().fileMenu(), kIdRestaurer));
  Command(kIdRestaurer);
  EXPECT_TRUE(IsWindowVisible(hwnd()));
  EXPECT_FALSE(IsIconic(hwnd()));
  EXPECT_FALSE(MenuHas(window().fileMenu(), kIdRestaurer));
}

struct IconCase {
  int dpi;
  UINT message;
  TrayAction action;
};

class IconTest : public WindowTest, public ::testing::WithParamInterface<IconCase> {};

TEST_P(IconTest, TheIconsMouseMessagesActByTheScreensScale) {
  const IconCase& c = GetParam();
  Start();
  // The scale the window decodes at is its own DPI: the test asks what that DPI would do.
  const float x = IconMessageX(static_cast<int>(c.message), TwipsPerPixel(c.dpi));
  EXPECT_EQ(DecodeIconX(x), c.action);
  window().PictureQuillstamp1_MouseMove(x);
  switch (c.action) {
    case TrayAction::Toggle:
      EXPECT_FALSE(IsWindowVisible(hwnd()));
      window().PictureQuillstamp1_MouseMove(x);
      EXPECT_TRUE(IsWindowVisible(hwnd()));
      EXPECT_TRUE(popups.empty());
      break;
    case TrayAction::PopupMenu:
      EXPECT_EQ(popups, std::vector<HMENU>{window().fileMenu()});
      EXPECT_TRUE(IsWindowVisible(hwnd()));
      break;
    case TrayAction::None:
      EXPECT_TRUE(IsWindowVisible(hwnd()));
      EXPECT_TRUE(popups.empty());
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Tray, IconTest,
    ::testing::Values(IconCase{96, WM_LBUTTONDBLCLK, TrayAction::Toggle},
                      IconCase{96, WM_LBUTTONDOWN, TrayAction::None},
                      IconCase{96, WM_RBUTTONDOWN, TrayAction::PopupMenu},
                      IconCase{96, WM_MOUSEMOVE, TrayAction::None},
                      IconCase{120, WM_LBUTTONDOWN, TrayAction::Toggle},
                      IconCase{120, WM_LBUTTONDBLCLK, TrayAction::None},
                      IconCase{120, WM_RBUTTONDOWN, TrayAction::PopupMenu},
                      // Any other scale acts as at 96 dpi, so the icon never goes dead.
                      IconCase{144, WM_LBUTTONDBLCLK, TrayAction::Toggle},
                      IconCase{144, WM_RBUTTONDOWN, TrayAction::PopupMenu}));

TEST_F(WindowTest, TheIconsNotificationsReachTheWindowThroughItsPicture) {
  Start();
  // What the shell sends for the icon: the callback message to the icon's window, the mouse
  // message in lParam. At this screen's scale (96 dpi under Wine's defaults) a double-click
  // toggles and a right press pops the File menu up.
  ASSERT_EQ(window().dpi(), 96) << "the prefix runs at another scale";
  SendMessageA(window().iconWindow(), WM_MOUSEMOVE, 1, WM_RBUTTONDOWN);
  EXPECT_EQ(popups.size(), 1u);
  SendMessageA(window().iconWindow(), WM_MOUSEMOVE, 1, WM_LBUTTONDBLCLK);
  EXPECT_FALSE(IsWindowVisible(hwnd()));
  EXPECT_TRUE(MenuHas(window().fileMenu(), kIdRestaurer));
  SendMessageA(window().iconWindow(), WM_MOUSEMOVE, 1, WM_LBUTTONDBLCLK);
  EXPECT_TRUE(IsWindowVisible(hwnd()));
  EXPECT_FALSE(IsIconic(hwnd()));
}

TEST_F(WindowTest, ExitAsksAndOnYesRemovesTheIconAndEnds) {
  Start();
  answers = {IDNO};
  Command(kIdQuitter);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Exit program");
  EXPECT_EQ(boxes[0].title, "Quillstamp");
  EXPECT_EQ(boxes[0].style, UINT(36));
  EXPECT_EQ(quits, 0);
  EXPECT_TRUE(window().trayIconAdded());
  answers = {IDYES};
  Command(kIdQuitter);
  EXPECT_EQ(quits, 1);
  EXPECT_FALSE(window().trayIconAdded());
  // The icon is gone from the notification area: deleting it again fails.
  NOTIFYICONDATAA data = window().trayIconData();
  EXPECT_FALSE(Shell_NotifyIconA(NIM_DELETE, &data));
}

// ---- Names outside the ANSI code page and long paths -------------------------------------------

std::wstring Wide(const std::string& utf8) {
  const std::u16string text = platform::Utf8ToUtf16(utf8);
  return std::wstring(text.begin(), text.end());
}

// The long form, so that the test's own calls reach a path beyond MAX_PATH.
std::wstring Long(const std::string& utf8) {
  std::wstring path = Wide(utf8);
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return L"\\\\?\\" + path;
}

void PutFile(const std::string& utf8Path, const std::string& bytes) {
  const HANDLE file = CreateFileW(Long(utf8Path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << utf8Path;
  DWORD written = 0;
  ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

std::string FileText(const std::string& utf8Path) {
  const HANDLE file = CreateFileW(Long(utf8Path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  std::string bytes(4096, '\0');
  DWORD got = 0;
  ::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
  CloseHandle(file);
  bytes.resize(got);
  return bytes;
}

// Removes a folder and all it holds through the long form, which the C++ library's own removal
// does not use.
void RemoveTree(const std::wstring& longPath) {
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW((longPath + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = longPath + L"\\" + name;
      SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        RemoveTree(child);
      } else {
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(longPath.c_str());
}

// The program in a folder named with é, Ü and CJK characters, and in one so deep that its files
// lie at 300 characters: the settings file found and written there, the log that it names (by a
// name outside ASCII, relative to the program's folder) read, the files that the log names looked
// at (one read-only, one missing) and listed with their users, all by their own names.
class AwkwardFolderTest : public WindowTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(AwkwardFolderTest, TheListSettingsAndFileStatusReachEveryName) {
  const std::string base = dir.path().string();
  std::string relative = GetParam();
  if (relative == "long") {
    // base, "\\", the folders, "\\" and "\u00e9t\u00e9.doc" (7 characters): 300 in all.
    const std::size_t want = 300 - base.size() - 9;
    relative.clear();
    while (want - relative.size() > 41) relative += std::string(40, 'd') + "\\";
    relative += std::string(want - relative.size(), 'e');
  }
  const std::string top = base + "\\" + relative.substr(0, relative.find('\\'));
  struct Cleanup {
    std::wstring path;
    ~Cleanup() { RemoveTree(path); }
  } cleanup{Long(top)};
  std::string folder = base;
  for (std::size_t start = 0; start <= relative.size();) {
    const std::size_t end = relative.find('\\', start);
    folder += "\\" + relative.substr(start, end - start);
    ASSERT_TRUE(CreateDirectoryW(Long(folder).c_str(), nullptr)) << folder;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  const std::string present = folder + "\\\u00e9t\u00e9.doc";
  const std::string missing = folder + "\\\u5831\u544a.txt";
  if (GetParam() == std::string("long")) {
    EXPECT_EQ(Wide(present).size(), 300u);
  }
  PutFile(present, "text");
  ASSERT_TRUE(SetFileAttributesW(Long(present).c_str(), FILE_ATTRIBUTE_READONLY));

  evtwriter::EvtWriter writer;
  const std::pair<std::string, const char*> writes[] = {{present, "J\u00fcrgen"},
                                                        {missing, "\u7530\u4e2d"}};
  for (std::uint32_t i = 0; i < 2; ++i) {
    evtwriter::Event560 event;
    event.time = kBaseTime + 60u * i;
    event.objectName = writes[i].first;
    event.primaryUser = writes[i].second;
    writer.Add(evtwriter::MakeEvent560(event));
  }
  const std::vector<std::uint8_t> log = writer.Bytes();
  PutFile(folder + "\\S\u00e9curit\u00e9.evt", std::string(log.begin(), log.end()));
  PutFile(
      folder + "\\Quillstamp.ini",
      "[Configuration]\r\nMacComments=0\r\n[Platform]\r\nSecurityLog=S\u00e9curit\u00e9.evt\r\n");

  program = std::make_unique<Program>(folder, Hooks());
  ASSERT_TRUE(window().Create(GetModuleHandleA(nullptr)));
  window().Form_Load();
  window().Show();
  Command(kIdGo);
  ASSERT_EQ(Rows(), 2) << "last box: " << (boxes.empty() ? "" : boxes.back().text);
  EXPECT_EQ(Cell(1, kColFile), missing);
  EXPECT_EQ(Cell(1, kColUser), "\u7530\u4e2d");
  EXPECT_EQ(Cell(1, kColWin), "U");
  EXPECT_EQ(Cell(2, kColFile), present);
  EXPECT_EQ(Cell(2, kColUser), "J\u00fcrgen");
  EXPECT_EQ(Cell(2, kColWin), "RO");  // found, and read-only
  Command(kIdGo);
  // A change of the options is written to the settings file there.
  SendMessageW(control(kIdMacComments), BM_SETCHECK, BST_CHECKED, 0);
  SendMessageW(hwnd(), WM_COMMAND, MAKEWPARAM(kIdMacComments, BN_CLICKED),
               reinterpret_cast<LPARAM>(control(kIdMacComments)));
  EXPECT_NE(FileText(folder + "\\Quillstamp.ini").find("MacComments=1"), std::string::npos)
      << FileText(folder + "\\Quillstamp.ini");
  program.reset();
}

INSTANTIATE_TEST_SUITE_P(Names, AwkwardFolderTest,
                         ::testing::Values("R\u00e9sum\u00e9s \u00dcbersicht",
                                           "\u5171\u6709\u30d5\u30a9\u30eb\u30c0", "long"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           const std::string name = info.param;
                           return name == "long"   ? std::string("Long")
                                  : name[0] == 'R' ? std::string("Accented")
                                                   : std::string("Cjk");
                         });

// The title names the computer and the account as the system gives them, in every script.
TEST_F(WindowTest, TheTitleShowsNamesOutsideTheCodePage) {
  ProgramState state;
  test::SystemAnswers answers = test::SystemOf(platform::kPlatformWin32Nt, 10, 0, 19045, "");
  answers.computer = "SERVEUR-\u00c9T\u00c9";
  answers.user = "J\u00fcrgen \u7530\u4e2d";
  test::FakeSystem system(answers);
  WindowServices services = Hooks();
  services.system = &system;
  frmQuillstamp window(state, services);
  ASSERT_TRUE(window.Create(GetModuleHandleA(nullptr)));
  window.Form_Load();
  EXPECT_NE(TextOf(window.hwnd()).find("   SERVEUR-\u00c9T\u00c9; J\u00fcrgen \u7530\u4e2d; "),
            std::string::npos)
      << TextOf(window.hwnd());
  EXPECT_EQ(TextOf(window.hwnd()), window.identity().title);
  EXPECT_EQ(TextOf(window.control(kIdNotSelected)),
            "Events generated by account 'J\u00fcrgen \u7530\u4e2d' are not selected");
}

// ---- Explorer, DPI and help as Windows has them ------------------------------------------------

// A notification area answered by the test: it refuses the first `refuse` adds (not ready yet at
// logon), holds at most one icon, and forgets it when Explorer "restarts".
struct TestNotificationArea {
  int refuse = 0;
  bool shown = false;
  int adds = 0;
  bool Call(DWORD message, NOTIFYICONDATAA&) {
    switch (message) {
      case NIM_ADD:
        ++adds;
        if (refuse > 0) {
          --refuse;
          return false;
        }
        if (shown) return false;  // an icon of that id is already there
        shown = true;
        return true;
      case NIM_MODIFY:
        return shown;
      case NIM_DELETE: {
        const bool was = shown;
        shown = false;
        return was;
      }
      default:
        return false;
    }
  }
};

TEST_F(WindowTest, TheIconComesBackWhenExplorerStartsAgain) {
  TestNotificationArea area;
  notifyIcon = [&area](DWORD message, NOTIFYICONDATAA& data) { return area.Call(message, data); };
  Start();
  ASSERT_TRUE(area.shown);
  ASSERT_NE(window().taskbarCreatedMessage(), 0u);
  EXPECT_EQ(window().taskbarCreatedMessage(), RegisterWindowMessageW(L"TaskbarCreated"));
  // Explorer ends, taking the icon with it, and starts again: it tells every top-level window.
  area.shown = false;
  SendMessageW(hwnd(), window().taskbarCreatedMessage(), 0, 0);
  EXPECT_TRUE(area.shown);
  EXPECT_TRUE(window().trayIconAdded());
  // Told again while the icon is still there: it is kept, not lost to the refused add.
  SendMessageW(hwnd(), window().taskbarCreatedMessage(), 0, 0);
  EXPECT_TRUE(area.shown);
  EXPECT_TRUE(window().trayIconAdded());
  // Minimised, the window hides in the notification area again, from where it comes back.
  ShowWindow(hwnd(), SW_MINIMIZE);
  EXPECT_FALSE(IsWindowVisible(hwnd()));
  SendMessageA(window().iconWindow(), WM_MOUSEMOVE, 1, WM_LBUTTONDBLCLK);
  EXPECT_TRUE(IsWindowVisible(hwnd()));
}

// At logon the notification area may refuse the icon for a while: the window tries again at each
// tick of its retry timer (sent here by the test), and gives up after a bounded number of tries.
TEST_F(WindowTest, ARefusedIconIsTriedAgainForABoundedTime) {
  TestNotificationArea area;
  area.refuse = 2;
  notifyIcon = [&area](DWORD message, NOTIFYICONDATAA& data) { return area.Call(message, data); };
  Start();
  EXPECT_FALSE(window().trayIconAdded());
  EXPECT_EQ(window().trayRetriesLeft(), kTrayRetryAttempts);
  SendMessageW(hwnd(), WM_TIMER, kTrayRetryTimer, 0);
  EXPECT_FALSE(window().trayIconAdded());
  SendMessageW(hwnd(), WM_TIMER, kTrayRetryTimer, 0);
  EXPECT_TRUE(window().trayIconAdded());
  EXPECT_TRUE(area.shown);
  EXPECT_EQ(window().trayRetriesLeft(), 0);
  EXPECT_EQ(area.adds, 3);
  SendMessageW(hwnd(), WM_TIMER, kTrayRetryTimer, 0);  // a tick already queued changes nothing
  EXPECT_EQ(area.adds, 3);
}

TEST_F(WindowTest, AnIconRefusedForGoodIsTriedOnlySoOften) {
  TestNotificationArea area;
  area.refuse = 1000;
  notifyIcon = [&area](DWORD message, NOTIFYICONDATAA& data) { return area.Call(message, data); };
  Start();
  for (int tick = 0; tick < kTrayRetryAttempts + 5; ++tick)
    SendMessageW(hwnd(), WM_TIMER, kTrayRetryTimer, 0);
  EXPECT_EQ(area.adds, 1 + kTrayRetryAttempts);
  EXPECT_EQ(window().trayRetriesLeft(), 0);
  EXPECT_FALSE(window().trayIconAdded());
  // Without an icon, minimising leaves the window in the task bar rather than hiding it for good.
  ShowWindow(hwnd(), SW_MINIMIZE);
  EXPECT_TRUE(IsWindowVisible(hwnd()));
}

// Moved to a screen of another scale, the window takes that DPI, lays itself out again and takes
// the place and size that the system suggests.
TEST_F(WindowTest, ADpiChangeTakesTheSuggestedPlaceAndSize) {
  Start();
  ASSERT_EQ(window().dpi(), 96) << "the prefix runs at another scale";
  RECT before{};
  GetWindowRect(hwnd(), &before);
  RECT gridBefore{};
  GetWindowRect(control(kIdGrid), &gridBefore);
  RECT suggested{40, 30, 40 + MulDiv(before.right - before.left, 120, 96),
                 30 + MulDiv(before.bottom - before.top, 120, 96)};
  SendMessageW(hwnd(), 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(120, 120),
               reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(window().dpi(), 120);
  RECT after{};
  GetWindowRect(hwnd(), &after);
  EXPECT_EQ(after.left, suggested.left);
  EXPECT_EQ(after.top, suggested.top);
  EXPECT_EQ(after.right - after.left, suggested.right - suggested.left);
  EXPECT_EQ(after.bottom - after.top, suggested.bottom - suggested.top);
  // The controls are at their 120-dpi places: the list is a quarter larger than at 96.
  RECT grid{};
  GetWindowRect(control(kIdGrid), &grid);
  EXPECT_NEAR(grid.bottom - grid.top, MulDiv(gridBefore.bottom - gridBefore.top, 120, 96), 2);
}

TEST_F(WindowTest, HelpSaysSoWhenNoProgramOpensTheManual) {
  test::WriteFile(dir / "QuillstampDOC.htm", "<html></html>");
  Start();
  const std::string manual = dir.path().string() + "\\QuillstampDOC.htm";
  struct Case {
    int answer;
    const char* text;  // empty: no message
  };
  const Case cases[] = {
      {42, ""},
      {SE_ERR_NOASSOC,
       "No program on this computer opens .htm files. The documentation is the file "},
      {SE_ERR_ACCESSDENIED, "The documentation could not be opened: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    boxes.clear();
    shellAnswer = c.answer;
    Command(kIdAide);
    EXPECT_EQ(documents.back(), manual);
    if (*c.text == '\0') {
      EXPECT_TRUE(boxes.empty());
      continue;
    }
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, c.text + manual);
    EXPECT_EQ(boxes[0].title, "Quillstamp");
    EXPECT_EQ(boxes[0].style, UINT(MB_OK | MB_ICONINFORMATION));
  }
}

// ---- Layout at 96, 120 and 144 dpi ------------------------------------------------------------

class LayoutTest : public WindowTest, public ::testing::WithParamInterface<int> {};

TEST_P(LayoutTest, EveryControlIsWholeAndInsideTheWindow) {
  WriteLogAndSettings("MaxWinComments=10000\r\n");
  program = std::make_unique<Program>(FolderForWindows(), [&] {
    WindowServices hooks = Hooks();
    hooks.dpi = GetParam();
    return hooks;
  }());
  ASSERT_TRUE(window().Create(GetModuleHandleA(nullptr)));
  window().Form_Load();
  window().Show();
  Command(kIdGo);
  Command(kIdGo);
  RECT client{};
  GetClientRect(hwnd(), &client);
  EXPECT_GE(client.right, window().Px(9510) - 1);
  EXPECT_GE(client.bottom, window().Px(6810) - 1);
  HDC dc = GetDC(hwnd());
  std::vector<std::pair<int, RECT>> places;
  for (HWND child = GetWindow(hwnd(), GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    if (!StyleVisible(child)) continue;
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&r), 2);
    const int id = GetDlgCtrlID(child);
    EXPECT_GE(r.left, 0) << id;
    EXPECT_GE(r.top, 0) << id;
    EXPECT_LE(r.right, client.right) << id;
    EXPECT_LE(r.bottom, client.bottom) << id;
    char cls[64] = {};
    GetClassNameA(child, cls, sizeof cls);
    const std::string text = TextOf(child);
    const bool isStatic = lstrcmpiA(cls, "Static") == 0;
    const bool isOption = lstrcmpiA(cls, "Button") == 0 && id != kIdGo && id != kIdFrameComments &&
                          id != kIdFrameStatus;
    if ((isStatic || isOption) && !text.empty() && text.find('\n') == std::string::npos) {
      auto font = reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0));
      HGDIOBJ old = SelectObject(dc, font);
      SIZE size{};
      const std::u16string wide = platform::Utf8ToUtf16(text);
      GetTextExtentPoint32W(dc, reinterpret_cast<const wchar_t*>(wide.c_str()),
                            static_cast<int>(wide.size()), &size);
      SelectObject(dc, old);
      const int room = (r.right - r.left) - (isOption ? GetSystemMetrics(SM_CXMENUCHECK) : 0);
      const bool twoLines = (r.bottom - r.top) >= 2 * size.cy;
      if (!twoLines) {
        EXPECT_GE(room, size.cx) << "cut: " << text << " at " << GetParam();
      }
      EXPECT_GE(r.bottom - r.top, size.cy) << "cut: " << text << " at " << GetParam();
    }
    if (id == kIdFrameComments || id == kIdFrameStatus) places.push_back({id, r});
  }
  ReleaseDC(hwnd(), dc);
  ASSERT_EQ(places.size(), 2u);
  RECT overlap{};
  EXPECT_FALSE(IntersectRect(&overlap, &places[0].second, &places[1].second))
      << "the frames overlap at " << GetParam();
  // The date column shows the date text whole.
  HWND grid = control(kIdGrid);
  const std::u16string date = platform::Utf8ToUtf16(Cell(1, kColDateTime));
  const int needed = static_cast<int>(
      SendMessageW(grid, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(date.c_str())));
  EXPECT_GE(SendMessageW(grid, LVM_GETCOLUMNWIDTH, kColDateTime, 0), needed + 8);
}

INSTANTIATE_TEST_SUITE_P(Dpi, LayoutTest, ::testing::Values(96, 120, 144));

}  // namespace
}  // namespace qs::win32ui
