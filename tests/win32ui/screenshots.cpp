// Screenshots of the Windows window, for looking at its layout: the main window stopped and
// running, each settings dialog and the about box, each saved as a 24-bit .bmp of the screen
// around the window. Not a test: run it under Wine on a display with a window manager, at the DPI
// the Wine prefix is set to, for instance
//   tests/win32ui/with_display.sh scripts/wine-run.sh win32ui_screenshots.exe Z:\tmp\shots 96
// It makes its own settings file and .evt log in a scratch folder.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "evtwriter/evt_writer.h"
#include "win32ui/main_window.h"
#include "win32ui/program.h"

namespace {

using qs::win32ui::frmQuillstamp;

std::string g_folder;
std::string g_tag;

void Pump(int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  MSG msg;
  while (std::chrono::steady_clock::now() < end) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

// The screen around `window` (its frame drawn by the window manager included).
void Capture(HWND window, const std::string& name) {
  RECT r{};
  GetWindowRect(window, &r);
  InflateRect(&r, 8, 8);
  r.top -= 24;
  r.left = std::max<LONG>(r.left, 0);
  r.top = std::max<LONG>(r.top, 0);
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  const DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) & ~3u);
  const DWORD size = stride * static_cast<DWORD>(height);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info.bmiHeader;
  file.bfSize = file.bfOffBits + size;
  const std::string path = g_folder + "\\" + name + "-" + g_tag + ".bmp";
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof file);
  out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
  out.write(static_cast<const char*>(bits), size);
  std::printf("%s\n", path.c_str());
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

std::string g_dialogName;

void CALLBACK CaptureDialog(HWND dialog, UINT, UINT_PTR id, DWORD) {
  KillTimer(dialog, id);
  Capture(dialog, g_dialogName);
  EndDialog(dialog, IDCANCEL);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: win32ui_screenshots FOLDER TAG\n");
    return 2;
  }
  g_folder = argv[1];
  g_tag = argv[2];
  const std::filesystem::path work = std::filesystem::temp_directory_path() /
                                     ("qs-shots-" + std::to_string(GetCurrentProcessId()));
  std::filesystem::create_directories(work);
  qs::evtwriter::EvtWriter writer;
  // Names in several scripts, as a file server holds them (UTF-8 here, UTF-16 in the log).
  const char* names[] = {"Budget 2024.xls", "R\u00e9sum\u00e9 \u00c9t\u00e9.doc",
                         "\u00dcbersicht\\Gr\u00f6\u00dfe.xls", "\u8a08\u753b\\2\u968e.dwg",
                         "Notes.txt"};
  const char* users[] = {"alice", "J\u00fcrgen", "bob", "\u7530\u4e2d", "Ren\u00e9e"};
  for (int i = 0; i < 5; ++i) {
    qs::evtwriter::Event560 event;
    event.time = 1700000000u + 97u * static_cast<std::uint32_t>(i);
    event.objectName = "D:\\Shared\\" + std::string(names[i]);
    event.primaryUser = users[i];
    writer.Add(qs::evtwriter::MakeEvent560(event));
  }
  writer.WriteFile((work / "Security.evt").string());
  {
    std::ofstream ini(work / "Quillstamp.ini", std::ios::binary);
    ini << "[Configuration]\r\nMacComments=1\r\n[Platform]\r\nSecurityLog=Security.evt\r\n";
  }
  qs::win32ui::WindowServices hooks;
  hooks.dialogOpened = [](HWND dialog) { SetTimer(dialog, 1, 700, &CaptureDialog); };
  auto program = std::make_unique<qs::win32ui::Program>(work.string(), hooks);
  frmQuillstamp& window = program->window();
  if (!window.Create(GetModuleHandleA(nullptr))) return 1;
  window.Form_Load();
  window.Show();
  Pump(800);
  Capture(window.hwnd(), "main-stopped");
  for (const auto& [name, id] : std::vector<std::pair<std::string, int>>{
           {"frmTempo", qs::win32ui::kIdSetTime},
           {"frmMaxWinComments", qs::win32ui::kIdSetMaxWinComments},
           {"frmMaxSelected", qs::win32ui::kIdMaxSelectedEvents},
           {"frmPerformance", qs::win32ui::kIdPerformance},
           {"frmAbout", qs::win32ui::kIdAPropos}}) {
    g_dialogName = name;
    SendMessageA(window.hwnd(), WM_COMMAND, MAKEWPARAM(id, 0), 0);
    Pump(200);
  }
  SendMessageA(window.hwnd(), WM_COMMAND, MAKEWPARAM(qs::win32ui::kIdGo, BN_CLICKED), 0);
  Pump(2500);
  Capture(window.hwnd(), "main-running");
  SendMessageA(window.hwnd(), WM_COMMAND, MAKEWPARAM(qs::win32ui::kIdGo, BN_CLICKED), 0);
  program.reset();
  std::error_code ignored;
  std::filesystem::remove_all(work, ignored);
  return 0;
}
