// quillstamp.exe itself, as a user starts it: in a folder of its own with a settings file, it
// shows its window titled with the versioned title, answers "&Exit" with the question
// "Exit program", and ends on Yes, leaving the settings it applied at start-up in its file.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "evtwriter/evt_writer.h"
#include "support/temp_dir.h"
#include "win32ui/main_window.h"

namespace qs::win32ui {
namespace {

// Polls `find` every 50 ms for at most `ms`.
template <typename Find>
HWND WaitFor(Find find, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    if (HWND found = find()) return found;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return nullptr;
}

struct Found {
  DWORD process;
  const char* title;
  HWND window;
};

// A dialog (a message box) of the given process with the given title.
HWND MessageBoxOf(DWORD process, const char* title) {
  Found found{process, title, nullptr};
  EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto* f = reinterpret_cast<Found*>(data);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        char cls[32] = {};
        char text[128] = {};
        GetClassNameA(window, cls, sizeof cls);
        GetWindowTextA(window, text, sizeof text);
        if (owner == f->process && std::string(cls) == "#32770" && std::string(text) == f->title &&
            IsWindowVisible(window)) {
          f->window = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found.window;
}

// quillstamp.exe started in the folder that holds it. Whatever the test's outcome, a program still
// running when the test is over is ended and waited for (at most 5 s), so that its folder can go.
class Started {
 public:
  Started(const std::string& exe, const test::TempDir& dir) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    std::string command = "\"" + exe + "\"";
    ok_ = CreateProcessA(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                         dir.path().string().c_str(), &startup, &process_) != 0;
  }
  ~Started() {
    if (!ok_) return;
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT)
      TerminateProcess(process_.hProcess, 3);
    WaitForSingleObject(process_.hProcess, 5000);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
  Started(const Started&) = delete;
  Started& operator=(const Started&) = delete;
  bool ok() const { return ok_; }
  const PROCESS_INFORMATION& info() const { return process_; }

 private:
  PROCESS_INFORMATION process_{};
  bool ok_ = false;
};

TEST(ProgramSmoke, StartsShowsItsWindowAndEndsThroughExit) {
  test::TempDir dir;
  const std::string exe = dir / "quillstamp.exe";
  ASSERT_TRUE(CopyFileA(QS_PROGRAM, exe.c_str(), FALSE)) << QS_PROGRAM;
  test::WriteFile(dir / "Quillstamp.ini", "[Configuration]\r\nTemporisation=25\r\n");

  const Started started(exe, dir);
  ASSERT_TRUE(started.ok()) << "CreateProcess failed: " << GetLastError();
  const PROCESS_INFORMATION& process = started.info();

  // The window is made hidden and shown once start-up is over.
  HWND window = WaitFor(
      [] {
        HWND found = FindWindowA(kMainWindowClass, nullptr);
        return found != nullptr && IsWindowVisible(found) ? found : nullptr;
      },
      20000);
  ASSERT_NE(window, nullptr) << "no window within 20 s";
  char title[256] = {};
  GetWindowTextA(window, title, sizeof title);
  EXPECT_EQ(std::string(title).rfind("Quillstamp 1.0b", 0), 0u) << title;
  // The same window is found by its title.
  EXPECT_EQ(FindWindowA(nullptr, title), window);
  char wait[32] = {};
  GetWindowTextA(GetDlgItem(window, kIdMaxAttente), wait, sizeof wait);
  EXPECT_STREQ(wait, "25 s");

  PostMessageA(window, WM_COMMAND, MAKEWPARAM(kIdQuitter, 0), 0);
  HWND question = WaitFor([&] { return MessageBoxOf(process.dwProcessId, "Quillstamp"); }, 10000);
  ASSERT_NE(question, nullptr) << "no \"Exit program\" question within 10 s";
  char text[128] = {};
  GetDlgItemTextA(question, 0xFFFF, text, sizeof text);  // the message box's text
  EXPECT_STREQ(text, "Exit program");
  PostMessageA(question, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
  ASSERT_EQ(WaitForSingleObject(process.hProcess, 10000), WAIT_OBJECT_0)
      << "still running 10 s after Yes";
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  EXPECT_EQ(code, 0u);
  char written[16] = {};
  GetPrivateProfileStringA("Configuration", "TimeSeconds", "", written, sizeof written,
                           (dir / "Quillstamp.ini").c_str());
  EXPECT_STREQ(written, "0");
}

// With "Automatic start up" on, the program hides in the notification area and runs its first
// pass by itself, with or without a window manager to activate its window.
TEST(ProgramSmoke, AutomaticStartHidesTheWindowAndListsTheLog) {
  test::TempDir dir;
  const std::string exe = dir / "quillstamp.exe";
  ASSERT_TRUE(CopyFileA(QS_PROGRAM, exe.c_str(), FALSE)) << QS_PROGRAM;
  evtwriter::EvtWriter writer;
  for (std::uint32_t i = 0; i < 3; ++i) {
    evtwriter::Event560 event;
    event.time = 1700000000u + 60u * i;
    event.objectName = dir / ("file" + std::to_string(i) + ".txt");
    writer.Add(evtwriter::MakeEvent560(event));
  }
  writer.WriteFile(dir / "Security.evt");
  test::WriteFile(dir / "Quillstamp.ini",
                  "[Configuration]\r\nAutomatic=1\r\n[Platform]\r\nSecurityLog=Security.evt\r\n");

  // The analysis runs, so "&Exit" is shut: the program is ended when the test is over.
  const Started started(exe, dir);
  ASSERT_TRUE(started.ok()) << "CreateProcess failed: " << GetLastError();

  HWND listed = WaitFor(
      [] {
        HWND found = FindWindowA(kMainWindowClass, nullptr);
        if (found == nullptr || IsWindowVisible(found)) return HWND{};
        return SendMessageA(GetDlgItem(found, kIdGrid), LVM_GETITEMCOUNT, 0, 0) == 3 ? found
                                                                                     : HWND{};
      },
      20000);
  ASSERT_NE(listed, nullptr) << "the window did not hide with the log listed within 20 s";
  char go[16] = {"?"};
  GetWindowTextA(GetDlgItem(listed, kIdGo), go, sizeof go);
  EXPECT_STREQ(go, "");  // running: the button shows the stop image only
}

}  // namespace
}  // namespace qs::win32ui
