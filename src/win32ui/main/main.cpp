// Quillstamp for Windows: watches the Security log for files opened for writing and stamps who
// changed each file, and when, into the file's own comments. No command-line arguments:
// everything comes from Quillstamp.ini beside the executable.
#include <windows.h>

#include <string>

#include "platform/program_folder.h"
#include "win32ui/program.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  const std::string programFolder = qs::platform::ProgramFolder().value_or(".");
  qs::win32ui::Program program(programFolder);
  qs::win32ui::frmQuillstamp& window = program.window();
  if (!window.Create(instance)) return 1;
  window.Form_Load();
  window.Show();
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (window.TranslateWindowKeys(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
