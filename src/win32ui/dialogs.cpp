#include "win32ui/dialogs.h"

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "core/app_title.h"
#include "core/settings_file.h"
#include "core/text_number.h"
#include "platform/utf.h"
#include "win32ui/resource_ids.h"

namespace qs::win32ui {

namespace {

std::string ControlText(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  const int length = GetWindowTextLengthW(control);
  std::wstring wide(static_cast<std::size_t>(length) + 1, L'\0');
  GetWindowTextW(control, wide.data(), length + 1);
  wide.resize(static_cast<std::size_t>(length));
  return platform::Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

void SetControlText(HWND dialog, int id, const std::string& text) {
  const std::u16string wide = platform::Utf8ToUtf16(text);
  SetWindowTextW(GetDlgItem(dialog, id), reinterpret_cast<const wchar_t*>(wide.c_str()));
}

HINSTANCE ModuleOf(HWND window) {
  return reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
}

// ---- frmTempo, frmMaxSelected, frmMaxWinComments -----------------------------------------------

struct NumericDialog {
  NumericDialogKind kind;
  frmQuillstamp& window;

  // The number at the start of Text1's text, by the same rule as the settings file.
  double Number(HWND dialog) const { return TextToNumber(ControlText(dialog, IDC_TEXT1)); }

  void Show(HWND dialog, const ArrowStep& step) const {
    if (step.message != nullptr) {
      SetControlText(dialog, IDC_LABEL1, step.message);
      ShowWindow(GetDlgItem(dialog, IDC_LABEL1), SW_SHOW);
    } else {
      ShowWindow(GetDlgItem(dialog, IDC_LABEL1), SW_HIDE);
    }
    SetControlText(dialog, IDC_TEXT1, DecimalText(step.value));
    UpdateWindow(GetDlgItem(dialog, IDC_TEXT1));
  }

  void Load(HWND dialog) const {
    const NumericSettingRow& row = NumericSettingRowOf(kind);
    SetWindowTextA(dialog, kVersionedTitle);
    SetControlText(dialog, IDC_LBLTEMPO, row.titleCaption);
    SetControlText(dialog, IDC_UNIT, row.unitCaption);
    ShowWindow(GetDlgItem(dialog, IDC_LABEL1), SW_HIDE);
    SetControlText(dialog, IDC_TEXT1, std::to_string(row.get(window.state().settings)));
    // The arrows' own position plays no part: it stays in the middle of a range that rises
    // upwards, so that the up arrow and the Up key report a step up and never meet a limit.
    HWND upDown = GetDlgItem(dialog, IDC_UPDOWN1);
    SendMessageW(upDown, UDM_SETRANGE32, 0, 2);
    SendMessageW(upDown, UDM_SETPOS32, 0, 1);
    SendDlgItemMessageW(dialog, IDC_TEXT1, EM_SETSEL, 0, -1);
  }

  bool Ok(HWND dialog) const {
    const NumericSettingRow& row = NumericSettingRowOf(kind);
    const double number = Number(dialog);
    if (!NumericValueAccepted(kind, number)) {
      ShowMessageBox(window.services(), dialog, "Invalid value: " + ControlText(dialog, IDC_TEXT1),
                     kVersionedTitle, MB_OK | MB_ICONHAND);
      return false;
    }
    const auto value = static_cast<std::int32_t>(RoundHalfEven(number));
    switch (kind) {
      case NumericDialogKind::Tempo:
        window.SetWaitingBarMaximum(value < 2 ? 1 : value - 1);
        window.SetMaxAttenteCaption(std::to_string(value) + " s");
        window.SetRemainingWait(value);
        row.write(window, window.state().settings, value);
        break;
      case NumericDialogKind::MaxSelected:
        row.write(window, window.state().settings, value);
        window.SetMaxSelectedEventsCaption("(Max selected events in list=" + std::to_string(value) +
                                           ")");
        break;
      case NumericDialogKind::MaxWinComments:
        row.write(window, window.state().settings, value);
        window.SetWinCommentsCaption("in Windows 2000 files comments [<" + std::to_string(value) +
                                     " chars]");
        break;
    }
    return true;
  }
};

INT_PTR CALLBACK NumericProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<NumericDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      self = reinterpret_cast<NumericDialog*>(lParam);
      SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      self->Load(dialog);
      if (self->window.services().dialogOpened) self->window.services().dialogOpened(dialog);
      return TRUE;
    }
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (self != nullptr && header->idFrom == IDC_UPDOWN1 && header->code == UDN_DELTAPOS) {
        const auto* change = reinterpret_cast<const NMUPDOWN*>(lParam);
        const double typed = self->Number(dialog);
        if (change->iDelta > 0)
          self->Show(dialog, UpArrowStep(self->kind, typed));
        else if (change->iDelta < 0)
          self->Show(dialog, DownArrowStep(self->kind, typed));
        SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);  // the arrows' position stays
        return TRUE;
      }
      break;
    }
    case WM_COMMAND:
      if (self == nullptr) break;
      if (LOWORD(wParam) == IDOK) {
        if (self->Ok(dialog)) EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      break;
    default:
      break;
  }
  return FALSE;
}

// ---- frmPerformance ---------------------------------------------------------------------------

// lblMax ends under the right end of the scroll bar. Laid out as left-aligned text of its own
// width (and a little to spare) rather than drawn right-aligned against its edge, whose last
// glyph some renderers cut by a pixel.
void AlignUnderRightEnd(HWND label, HWND bar) {
  HDC dc = GetDC(label);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)));
  wchar_t text[128] = {};
  const int length = GetWindowTextW(label, text, 128);
  SIZE size{};
  GetTextExtentPoint32W(dc, text, length, &size);
  SelectObject(dc, old);
  ReleaseDC(label, dc);
  HWND dialog = GetParent(label);
  RECT place{};
  GetWindowRect(label, &place);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
  RECT end{};
  GetWindowRect(bar, &end);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&end), 2);
  const int width = size.cx + 4;
  SetWindowPos(label, nullptr, end.right - width, place.top, width, place.bottom - place.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

struct PerformanceDialog {
  frmQuillstamp& window;
};

constexpr int kPerformanceMinimum = 1;
constexpr int kPerformanceMaximum = 100;

INT_PTR CALLBACK PerformanceProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<PerformanceDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
  HWND bar = GetDlgItem(dialog, IDC_HSCROLL1);
  switch (message) {
    case WM_INITDIALOG: {
      self = reinterpret_cast<PerformanceDialog*>(lParam);
      SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      SetWindowTextA(dialog, kVersionedTitle);
      SCROLLINFO info{sizeof info,
                      SIF_RANGE | SIF_POS | SIF_PAGE,
                      kPerformanceMinimum,
                      kPerformanceMaximum,
                      0,
                      self->window.state().settings.Performance,
                      0};
      SetScrollInfo(bar, SB_CTL, &info, TRUE);
      AlignUnderRightEnd(GetDlgItem(dialog, IDC_LBLMAX), bar);
      if (self->window.services().dialogOpened) self->window.services().dialogOpened(dialog);
      SetFocus(bar);
      return FALSE;  // the focus is set
    }
    case WM_HSCROLL: {
      if (reinterpret_cast<HWND>(lParam) != bar) break;
      // One step per arrow click, per click beside the thumb and per arrow key: the left end is
      // the minimum, so Left and Up go down and Right and Down go up.
      int position = GetScrollPos(bar, SB_CTL);
      switch (LOWORD(wParam)) {
        case SB_LINELEFT:
        case SB_PAGELEFT:
          --position;
          break;
        case SB_LINERIGHT:
        case SB_PAGERIGHT:
          ++position;
          break;
        case SB_LEFT:
          position = kPerformanceMinimum;
          break;
        case SB_RIGHT:
          position = kPerformanceMaximum;
          break;
        case SB_THUMBTRACK:
        case SB_THUMBPOSITION:
          position = static_cast<short>(HIWORD(wParam));
          break;
        default:
          return TRUE;
      }
      if (position < kPerformanceMinimum) position = kPerformanceMinimum;
      if (position > kPerformanceMaximum) position = kPerformanceMaximum;
      SetScrollPos(bar, SB_CTL, position, TRUE);
      return TRUE;
    }
    case WM_COMMAND:
      if (self == nullptr) break;
      if (LOWORD(wParam) == IDOK) {
        // No check: the scroll bar only yields 1 to 100.
        WritePerformance(self->window, self->window.state().settings,
                         static_cast<std::int16_t>(GetScrollPos(bar, SB_CTL)));
        EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      break;
    default:
      break;
  }
  return FALSE;
}

// ---- frmAbout ---------------------------------------------------------------------------------

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      SetWindowTextA(dialog, "About...");
      SetControlText(dialog, IDC_LBLCREDIT, AboutCredit());
      const auto* services = reinterpret_cast<const WindowServices*>(lParam);
      if (services != nullptr && services->dialogOpened) services->dialogOpened(dialog);
      return TRUE;
    }
    case WM_COMMAND:
      // OK is both the default (Enter) and the cancel button (Esc).
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDOK);
        return TRUE;
      }
      break;
    default:
      break;
  }
  return FALSE;
}

}  // namespace

bool ShowNumericDialog(NumericDialogKind kind, frmQuillstamp& window) {
  NumericDialog dialog{kind, window};
  return DialogBoxParamA(ModuleOf(window.hwnd()), MAKEINTRESOURCEA(IDD_NUMERIC), window.hwnd(),
                         &NumericProc, reinterpret_cast<LPARAM>(&dialog)) == IDOK;
}

bool ShowPerformanceDialog(frmQuillstamp& window) {
  PerformanceDialog dialog{window};
  return DialogBoxParamA(ModuleOf(window.hwnd()), MAKEINTRESOURCEA(IDD_PERFORMANCE), window.hwnd(),
                         &PerformanceProc, reinterpret_cast<LPARAM>(&dialog)) == IDOK;
}

void ShowAboutBox(const WindowServices& services, HWND owner) {
  DialogBoxParamA(ModuleOf(owner), MAKEINTRESOURCEA(IDD_ABOUT), owner, &AboutProc,
                  reinterpret_cast<LPARAM>(&services));
}

std::string AboutCredit() {
  return std::string(kAppName) + " " + "1.0b" +
         ": select files modifications events in Security Log and write informations in Windows "
         "2000/Macintosh comments";
}

std::string DocumentationPath(const std::string& programFolder) {
  return programFolder + "\\QuillstampDOC.htm";
}

namespace {

// The shell's answer to opening the documentation (above 32: opened). ShellExecute may hand the
// file to a shell extension, which needs COM on the calling thread; it is set up here for the
// call if the thread has none yet (apartment-threaded, as the shell asks).
int OpenWithShell(const std::string& path) {
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const std::u16string file = platform::Utf8ToUtf16(path);
  const auto answer = reinterpret_cast<INT_PTR>(
      ShellExecuteW(GetDesktopWindow(), L"open", reinterpret_cast<const wchar_t*>(file.c_str()),
                    nullptr, nullptr, SW_SHOWNORMAL));
  if (SUCCEEDED(com)) CoUninitialize();
  return static_cast<int>(answer);
}

}  // namespace

void OpenHelp(const WindowServices& services, HWND owner, const std::string& programFolder) {
  const std::string path = DocumentationPath(programFolder);
  const std::u16string widePath = platform::Utf8ToUtf16(path);
  const DWORD attributes = GetFileAttributesW(reinterpret_cast<const wchar_t*>(widePath.c_str()));
  const bool ordinaryFile =
      attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) ==
          0;
  if (!ordinaryFile) {
    ShowMessageBox(services, owner, "Documentation not yet available...", std::string(kAppName),
                   MB_OK | MB_ICONINFORMATION);
    return;
  }
  const int answer = services.openDocument ? services.openDocument(path) : OpenWithShell(path);
  if (answer > 32) return;
  // A server without a browser (Server Core) has no program for the manual: say where it is
  // rather than nothing at all.
  const std::string text =
      answer == SE_ERR_NOASSOC
          ? "No program on this computer opens .htm files. The documentation is the file " + path
          : "The documentation could not be opened: " + path;
  ShowMessageBox(services, owner, text, std::string(kAppName), MB_OK | MB_ICONINFORMATION);
}

int ShowMessageBox(const WindowServices& services, HWND owner, const std::string& text,
                   const std::string& title, UINT style) {
  if (services.messageBox) return services.messageBox(owner, text, title, style);
  // The wide form, so that a typed text shows exactly as typed whatever the system's code page.
  const std::u16string wideText = platform::Utf8ToUtf16(text);
  const std::u16string wideTitle = platform::Utf8ToUtf16(title);
  return MessageBoxW(owner, reinterpret_cast<const wchar_t*>(wideText.c_str()),
                     reinterpret_cast<const wchar_t*>(wideTitle.c_str()), style);
}

}  // namespace qs::win32ui
