// The main window's creation, its controls and menus at their design places, its window procedure,
// the event pump that every yield of a pass runs, and the controls that the pass and run control
// drive.
#include "win32ui/main_window.h"

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <climits>
#include <utility>

#include "core/app_title.h"
#include "platform/utf.h"
#include "scan/event_time.h"
#include "win32ui/resource_ids.h"

namespace qs::win32ui {

namespace {

// Design size of the window's client area, in twips.
constexpr int kClientWidth = 9510;
constexpr int kClientHeight = 6810;
// The most messages one round of the event pump handles, so that a window that keeps posting to
// itself cannot hold a pass inside one yield.
constexpr int kMaxMessagesPerRound = 1000;

std::wstring Wide(std::string_view text) {
  const std::u16string u16 = platform::Utf8ToUtf16(text);
  return std::wstring(u16.begin(), u16.end());
}

// The calls of the system's per-monitor DPI, looked up at run time: Windows 10 (1607) has them,
// the systems before it do not, and the window then scales the system's answers by itself.
using DpiForWindowCall = UINT(WINAPI*)(HWND);
using MetricsForDpiCall = int(WINAPI*)(int, UINT);
using AdjustForDpiCall = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);

template <typename Call>
Call User32Call(const char* name) {
  const HMODULE user32 = GetModuleHandleW(L"user32.dll");
  return user32 == nullptr
             ? nullptr
             : reinterpret_cast<Call>(reinterpret_cast<void*>(GetProcAddress(user32, name)));
}

// The DPI of the screen as a whole, which the system's plain metrics are given at.
int SystemDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

RECT Twips(int left, int top, int width, int height) {
  return RECT{left, top, left + width, top + height};
}

// The light grey the button images were laid on, replaced by the button's face colour.
constexpr COLORREF kImageBackground = RGB(0xF0, 0xF0, 0xF0);

HBITMAP LoadButtonImage(HINSTANCE instance, int id) {
  auto bitmap = static_cast<HBITMAP>(
      LoadImageA(instance, MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  if (bitmap == nullptr) return nullptr;
  DIBSECTION dib{};
  if (GetObjectA(bitmap, sizeof dib, &dib) == sizeof dib && dib.dsBm.bmBitsPixel == 24 &&
      dib.dsBm.bmBits != nullptr) {
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    auto* bits = static_cast<BYTE*>(dib.dsBm.bmBits);
    for (int y = 0; y < dib.dsBm.bmHeight; ++y) {
      BYTE* pixel = bits + static_cast<std::ptrdiff_t>(y) * dib.dsBm.bmWidthBytes;
      for (int x = 0; x < dib.dsBm.bmWidth; ++x, pixel += 3) {
        if (RGB(pixel[2], pixel[1], pixel[0]) == kImageBackground) {
          pixel[0] = GetBValue(face);
          pixel[1] = GetGValue(face);
          pixel[2] = GetRValue(face);
        }
      }
    }
  }
  return bitmap;
}

SIZE TextSize(HWND control, HFONT font, const std::string& text) {
  SIZE size{0, 0};
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, font);
  const std::wstring wide = Wide(text);
  GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  size.cy = std::max<LONG>(size.cy, metrics.tmHeight);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return size;
}

std::string WindowText(HWND control) {
  const int length = GetWindowTextLengthW(control);
  std::wstring wide(static_cast<std::size_t>(length) + 1, L'\0');
  GetWindowTextW(control, wide.data(), length + 1);
  wide.resize(static_cast<std::size_t>(length));
  return platform::Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

RECT PlaceOf(HWND control, HWND parent) {
  RECT r{};
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

void Move(HWND control, const RECT& r) {
  SetWindowPos(control, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

frmQuillstamp::frmQuillstamp(ProgramState& state, WindowServices services)
    : state_(state), services_(std::move(services)), runControl_(state.run, state.settings, *this) {
  state_.eventList.SetObserver(this);
}

frmQuillstamp::~frmQuillstamp() {
  // Form_Unload: the icon goes with the window.
  DeleteTrayIcon();
  state_.eventList.SetObserver(nullptr);
  if (hwnd_ != nullptr) {
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
  for (HGDIOBJ object : {static_cast<HGDIOBJ>(font_), static_cast<HGDIOBJ>(underlined_),
                         static_cast<HGDIOBJ>(startImage_), static_cast<HGDIOBJ>(stopImage_)})
    if (object != nullptr) DeleteObject(object);
  if (icon_ != nullptr) DestroyIcon(icon_);
  if (smallIcon_ != nullptr) DestroyIcon(smallIcon_);
}

int frmQuillstamp::Px(int twips) const { return MulDiv(twips, dpi_, 1440); }

int frmQuillstamp::Metric(int index) const {
  static const auto forDpi = User32Call<MetricsForDpiCall>("GetSystemMetricsForDpi");
  if (forDpi != nullptr) return forDpi(index, static_cast<UINT>(dpi_));
  return MulDiv(GetSystemMetrics(index), dpi_, SystemDpi());
}

int frmQuillstamp::WindowDpi(HWND window) {
  static const auto forWindow = User32Call<DpiForWindowCall>("GetDpiForWindow");
  if (forWindow != nullptr && window != nullptr) {
    const UINT dpi = forWindow(window);
    if (dpi > 0) return static_cast<int>(dpi);
  }
  return SystemDpi();
}

bool frmQuillstamp::Create(HINSTANCE instance) {
  instance_ = instance;
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS |
                                                     ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  // The DPI until the window is made; then the window's own, that of the screen it is on.
  dpi_ = services_.dpi > 0 ? services_.dpi : SystemDpi();

  // A Unicode window, so that its title and texts show every character of the UTF-8 names.
  WNDCLASSEXW main{};
  main.cbSize = sizeof main;
  main.lpfnWndProc = &frmQuillstamp::WindowProc;
  main.hInstance = instance;
  main.hCursor = LoadCursor(nullptr, IDC_ARROW);
  main.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  main.lpszClassName = kMainWindowClassW;
  RegisterClassExW(&main);  // already registered by an earlier window of this process: fine
  WNDCLASSEXA picture{};
  picture.cbSize = sizeof picture;
  picture.lpfnWndProc = &frmQuillstamp::IconProc;
  picture.hInstance = instance;
  picture.lpszClassName = kIconWindowClass;
  RegisterClassExA(&picture);

  BuildMenus();
  // A fixed window with a single border, a minimize box and no maximize box. Not clipping its
  // children: the frames are drawn over the window's own background.
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  hwnd_ = CreateWindowExW(0, kMainWindowClassW, Wide(kVersionedTitle).c_str(), style, CW_USEDEFAULT,
                          CW_USEDEFAULT, 100, 100, nullptr, menuBar_, instance, this);
  if (hwnd_ == nullptr) return false;
  if (services_.dpi <= 0) dpi_ = WindowDpi(hwnd_);
  LoadIcons();
  // Explorer says it has started again (after it ended, or a logon before it was ready) with this
  // message, to every top-level window: the icon is then added again. A program run elevated gets
  // no message from a process of lower integrity unless it lets this one in.
  taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
  if (taskbarCreated_ != 0)
    ChangeWindowMessageFilterEx(hwnd_, taskbarCreated_, MSGFLT_ALLOW, nullptr);
  picture_ = CreateWindowExA(0, kIconWindowClass, "PictureQuillstamp1", WS_CHILD, 0, 0, 1, 1, hwnd_,
                             nullptr, instance, this);
  MakeFonts();
  LoadButtonImages();
  BuildControls();
  Layout();
  return true;
}

void frmQuillstamp::LoadIcons() {
  // At the window's DPI, so that the task bar and the notification area get a sharp picture.
  HICON icon = static_cast<HICON>(LoadImageA(instance_, MAKEINTRESOURCEA(IDI_QUILLSTAMP),
                                             IMAGE_ICON, Metric(SM_CXICON), Metric(SM_CYICON), 0));
  HICON smallIcon =
      static_cast<HICON>(LoadImageA(instance_, MAKEINTRESOURCEA(IDI_QUILLSTAMP), IMAGE_ICON,
                                    Metric(SM_CXSMICON), Metric(SM_CYSMICON), 0));
  SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));
  if (icon_ != nullptr) DestroyIcon(icon_);
  if (smallIcon_ != nullptr) DestroyIcon(smallIcon_);
  icon_ = icon;
  smallIcon_ = smallIcon;
  if (trayIconAdded_) {
    trayIconData_.hIcon = smallIcon_ != nullptr ? smallIcon_ : icon_;
    NotifyIcon(NIM_MODIFY);
  }
}

void frmQuillstamp::BuildMenus() {
  menuBar_ = CreateMenu();
  mnuFichier_ = CreatePopupMenu();
  AppendMenuA(mnuFichier_, MF_STRING, kIdStart, std::string(kStartAnalysis).c_str());
  AppendMenuA(mnuFichier_, MF_STRING, kIdQuitter, "&Exit");
  AppendMenuA(menuBar_, MF_POPUP, reinterpret_cast<UINT_PTR>(mnuFichier_), "&File");

  mnuConfiguration_ = CreatePopupMenu();
  AppendMenuA(mnuConfiguration_, MF_STRING, kIdSetTime, "&Time between two Security Log analysis");
  AppendMenuA(mnuConfiguration_, MF_STRING, kIdSetMaxWinComments,
              "Max &size for Windows 2000 comments");
  AppendMenuA(mnuConfiguration_, MF_STRING, kIdMaxSelectedEvents, "Max selected &events in list");
  AppendMenuA(mnuConfiguration_, MF_SEPARATOR, 0, nullptr);  // Sep0
  AppendMenuA(mnuConfiguration_, MF_STRING, kIdPerformance, "Set &performance");
  AppendMenuA(mnuConfiguration_, MF_SEPARATOR, 0, nullptr);  // Sep1
  AppendMenuA(mnuConfiguration_, MF_STRING, kIdAutomatic, "&Automatic start up");
  AppendMenuA(menuBar_, MF_POPUP, reinterpret_cast<UINT_PTR>(mnuConfiguration_), "&Configuration");

  HMENU about = CreatePopupMenu();
  AppendMenuA(about, MF_STRING, kIdAide, "&Help");
  AppendMenuA(about, MF_STRING, kIdAPropos, "&About...");
  AppendMenuA(menuBar_, MF_POPUP, reinterpret_cast<UINT_PTR>(about), "&?");
}

void frmQuillstamp::MakeFonts() {
  // The controls' design sizes were made for an 8-point dialog face.
  LOGFONTW face{};
  face.lfHeight = -MulDiv(8, dpi_, 72);
  face.lfWeight = FW_NORMAL;
  face.lfCharSet = DEFAULT_CHARSET;
  face.lfQuality = DEFAULT_QUALITY;
  lstrcpyW(face.lfFaceName, L"MS Shell Dlg 2");
  HFONT old = font_;
  HFONT oldUnderlined = underlined_;
  font_ = CreateFontIndirectW(&face);
  face.lfUnderline = TRUE;
  underlined_ = CreateFontIndirectW(&face);
  if (hwnd_ != nullptr) {
    for (HWND child = GetWindow(hwnd_, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT))
      SendMessageW(child, WM_SETFONT,
                   reinterpret_cast<WPARAM>(GetDlgCtrlID(child) == kIdLabel9 ? underlined_ : font_),
                   FALSE);
  }
  if (old != nullptr) DeleteObject(old);
  if (oldUnderlined != nullptr) DeleteObject(oldUnderlined);
}

void frmQuillstamp::LoadButtonImages() {
  startImage_ = LoadButtonImage(instance_, IDB_START);
  stopImage_ = LoadButtonImage(instance_, IDB_STOP);
}

void frmQuillstamp::BuildControls() {
  auto make = [this](DWORD exStyle, const wchar_t* cls, const std::string& text, DWORD style,
                     int id) {
    HWND control = CreateWindowExW(
        exStyle, cls, Wide(text).c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, hwnd_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
    SendMessageW(control, WM_SETFONT,
                 reinterpret_cast<WPARAM>(id == kIdLabel9 ? underlined_ : font_), FALSE);
    return control;
  };
  auto place = [this](int id, RECT twips, bool autoWidth = false, bool rightAlign = false) {
    placed_.push_back(Placed{id, twips, autoWidth, rightAlign});
  };
  auto label = [&](int id, const char* text, int left, int top, int width, int height,
                   DWORD align = SS_LEFT) {
    make(0, L"STATIC", text, align | SS_NOPREFIX, id);
    const bool autoWidth = width == 0;
    place(id, Twips(left, top, autoWidth ? 0 : width, autoWidth ? 195 : height), autoWidth,
          align == SS_RIGHT);
  };

  // The event list: a list view in report mode that asks for each cell as it draws it.
  HWND grid = make(WS_EX_CLIENTEDGE, WC_LISTVIEWW, "",
                   LVS_REPORT | LVS_OWNERDATA | LVS_NOSORTHEADER | LVS_SHOWSELALWAYS, kIdGrid);
  ListView_SetExtendedListViewStyle(grid, LVS_EX_GRIDLINES | LVS_EX_DOUBLEBUFFER);
  place(kIdGrid, Twips(0, 0, kClientWidth, 4065));

  // The frames come after the controls they hold in the z-order, so that they never paint over
  // them. Frame offsets are added to the places of the controls inside.
  const int fcL = 120, fcT = 4080;
  make(0, L"BUTTON", "in Windows 2000 files comments [<10000 chars]", BS_AUTOCHECKBOX | WS_TABSTOP,
       kIdWinComments);
  place(kIdWinComments, Twips(fcL + 120, fcT + 360, 3735, 195));
  make(0, L"BUTTON", "in Macintosh files comments [<200 chars]", BS_AUTOCHECKBOX | WS_TABSTOP,
       kIdMacComments);
  place(kIdMacComments, Twips(fcL + 120, fcT + 720, 3735, 195));
  make(0, L"BUTTON", "Time with seconds", BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP | WS_DISABLED,
       kIdTimeSeconds);
  place(kIdTimeSeconds, Twips(fcL + 240, fcT + 960, 1695, 195));
  make(0, L"BUTTON", "Time without seconds", BS_AUTORADIOBUTTON | WS_DISABLED, kIdTimeNotSeconds);
  place(kIdTimeNotSeconds, Twips(fcL + 1920, fcT + 960, 1935, 195));
  make(0, L"BUTTON", "Write Date/Time/User", BS_GROUPBOX | WS_GROUP, kIdFrameComments);
  place(kIdFrameComments, Twips(fcL, fcT, 3975, 1335));

  const int fsL = 4200, fsT = 4080;
  label(kIdOtherLabel, "U: Unknown (file removed)", fsL + 120, fsT + 240, 0, 0);
  label(kIdOtherLabel + 1, "RO: Read only", fsL + 120, fsT + 480, 0, 0);
  label(kIdOtherLabel + 2, "?: Failed to write comment (file probably opened)", fsL + 120,
        fsT + 720, 1980, 435);
  label(kIdOtherLabel + 3, "w: Win 2000 comment written", fsL + 2400, fsT + 240, 0, 0);
  label(kIdOtherLabel + 4, "W: Win 2000 comment regenerated", fsL + 2400, fsT + 480, 0, 0);
  label(kIdOtherLabel + 5, "m: Macintosh comment written", fsL + 2400, fsT + 720, 0, 0);
  label(kIdOtherLabel + 6, "M: Macintosh comment regenerated", fsL + 2400, fsT + 960, 0, 0);
  make(0, L"BUTTON", "Win/Mac", BS_GROUPBOX, kIdFrameStatus);
  place(kIdFrameStatus, Twips(fsL, fsT, 5175, 1335));

  label(kIdLabel9, "Important note", 1680, 5520, 1020, 195, SS_RIGHT);
  label(kIdNotSelected, "", 2760, 5520, 3645, 195);

  make(0, L"BUTTON", std::string(kStartCaption), BS_OWNERDRAW | WS_TABSTOP, kIdGo);
  place(kIdGo, Twips(120, 5760, 960, 960));

  label(kIdEvents, "Reading Security Log", 1155, 5985, 1530, 195, SS_RIGHT);
  HWND events = make(0, PROGRESS_CLASSW, "", 0, kIdProgressEvents);
  SendMessageW(events, PBM_SETRANGE32, 0, 100);
  place(kIdProgressEvents, Twips(2760, 5955, 6615, 225));
  // The count grows to the left, so that a long number never runs into "events".
  label(kIdMaxEvents, "0", 7340, 5730, 1500, 195, SS_RIGHT);
  label(kIdOtherLabel + 7, "events", 8880, 5730, 0, 0);

  label(kIdOtherLabel + 8, "Selected events:", 2760, 6240, 1215, 195, SS_CENTER);
  label(kIdNbSelectedEvents, "0", 4080, 6240, 1200, 195);
  label(kIdMaxSelectedEventsLabel, "(Max events in list=500)", 5400, 6240, 1665, 195);
  label(kIdMaxAttente, "0", 8375, 6240, 1000, 195, SS_RIGHT);
  label(kIdOtherLabel + 9, "Waiting", 2040, 6480, 615, 225, SS_RIGHT);
  HWND waiting = make(0, PROGRESS_CLASSW, "", 0, kIdProgressBarAttente);
  SendMessageW(waiting, PBM_SETRANGE32, 0, 100);
  place(kIdProgressBarAttente, Twips(2760, 6480, 6615, 225));
}

void frmQuillstamp::Layout() {
  for (const Placed& p : placed_) {
    HWND control = GetDlgItem(hwnd_, p.id);
    RECT r{Px(p.twips.left), Px(p.twips.top), Px(p.twips.right), Px(p.twips.bottom)};
    Move(control, r);
  }
  for (const Placed& p : placed_)
    if (p.autoWidth || p.rightAlign || p.id == kIdNotSelected || p.id == kIdNbSelectedEvents ||
        p.id == kIdMaxSelectedEventsLabel || p.id == kIdOtherLabel + 8)
      FitLabel(p.id);
  FitFrames();
  FitColumns();
  // The window is as large as its client area needs, whatever the frame and the menu take.
  RECT frame{0, 0, Px(kClientWidth), Px(kClientHeight)};
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_STYLE));
  const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_EXSTYLE));
  static const auto adjustForDpi = User32Call<AdjustForDpiCall>("AdjustWindowRectExForDpi");
  if (adjustForDpi != nullptr) {
    adjustForDpi(&frame, style, TRUE, exStyle, static_cast<UINT>(dpi_));
  } else {
    AdjustWindowRectEx(&frame, style, TRUE, exStyle);
  }
  SetWindowPos(hwnd_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  // A menu bar that wraps onto a second line takes from the client area: give it back.
  RECT client{};
  GetClientRect(hwnd_, &client);
  if (client.bottom < Px(kClientHeight)) {
    RECT window{};
    GetWindowRect(hwnd_, &window);
    SetWindowPos(hwnd_, nullptr, 0, 0, window.right - window.left,
                 window.bottom - window.top + Px(kClientHeight) - client.bottom,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  InvalidateRect(hwnd_, nullptr, TRUE);
}

void frmQuillstamp::FitLabel(int id) {
  // A label keeps its design place, but a caption longer than the design width widens it rather
  // than being cut: to the left for a right-aligned label, to the right otherwise; a caption
  // taller than the design height (a larger face) grows it about its design line.
  const auto found =
      std::find_if(placed_.begin(), placed_.end(), [id](const Placed& p) { return p.id == id; });
  if (found == placed_.end()) return;
  HWND control = GetDlgItem(hwnd_, id);
  const std::string text = WindowText(control);
  const SIZE needed = TextSize(control, id == kIdLabel9 ? underlined_ : font_, text);
  RECT design{Px(found->twips.left), Px(found->twips.top), Px(found->twips.right),
              Px(found->twips.bottom)};
  RECT r = design;
  const bool multiLine = found->twips.bottom - found->twips.top > 300;
  const int width = found->autoWidth
                        ? needed.cx + 2
                        : std::max<int>(design.right - design.left, multiLine ? 0 : needed.cx + 2);
  if (found->rightAlign)
    r.left = r.right - width;
  else
    r.right = r.left + width;
  if (!multiLine && needed.cy > r.bottom - r.top) {
    const int grow = needed.cy - (r.bottom - r.top);
    r.top -= grow / 2;
    r.bottom = r.top + needed.cy;
  }
  Move(control, r);
  InvalidateRect(hwnd_, nullptr, TRUE);
}

void frmQuillstamp::FitFrames() {
  // The comment options grow to their indicator and caption, about their design line.
  const int indicator = Metric(SM_CXMENUCHECK);
  for (int id : {kIdWinComments, kIdMacComments, kIdTimeSeconds, kIdTimeNotSeconds}) {
    HWND button = GetDlgItem(hwnd_, id);
    const SIZE text = TextSize(button, font_, WindowText(button));
    RECT r = PlaceOf(button, hwnd_);
    const int width = indicator + Px(90) + text.cx;
    if (width > r.right - r.left) r.right = r.left + width;
    const int height = std::max<int>(text.cy, indicator) + 2;
    if (height > r.bottom - r.top) {
      const int grow = height - (r.bottom - r.top);
      r.top -= grow / 2;
      r.bottom = r.top + height;
    }
    Move(button, r);
  }
  // "Time without seconds" starts where "Time with seconds" ends, not over its caption.
  const RECT with = PlaceOf(GetDlgItem(hwnd_, kIdTimeSeconds), hwnd_);
  RECT without = PlaceOf(GetDlgItem(hwnd_, kIdTimeNotSeconds), hwnd_);
  if (without.left < with.right) {
    const int shift = with.right - without.left;
    without.left += shift;
    without.right += shift;
    Move(GetDlgItem(hwnd_, kIdTimeNotSeconds), without);
  }
  // Each frame holds its controls, with its caption above the first of them.
  struct FrameOf {
    int frame;
    std::vector<int> members;
  };
  std::vector<FrameOf> frames{
      {kIdFrameComments, {kIdWinComments, kIdMacComments, kIdTimeSeconds, kIdTimeNotSeconds}},
      {kIdFrameStatus,
       {kIdOtherLabel, kIdOtherLabel + 1, kIdOtherLabel + 2, kIdOtherLabel + 3, kIdOtherLabel + 4,
        kIdOtherLabel + 5, kIdOtherLabel + 6}}};
  const int margin = Px(120);
  for (const FrameOf& f : frames) {
    HWND frame = GetDlgItem(hwnd_, f.frame);
    RECT place = PlaceOf(frame, hwnd_);
    const SIZE caption = TextSize(frame, font_, WindowText(frame));
    const int firstTop = place.top + caption.cy + Px(30);
    int top = INT_MAX;
    for (int id : f.members) top = std::min<int>(top, PlaceOf(GetDlgItem(hwnd_, id), hwnd_).top);
    if (top < firstTop)
      for (int id : f.members) {
        RECT r = PlaceOf(GetDlgItem(hwnd_, id), hwnd_);
        OffsetRect(&r, 0, firstTop - top);
        Move(GetDlgItem(hwnd_, id), r);
      }
    int right = 0;
    int bottom = 0;
    for (int id : f.members) {
      const RECT r = PlaceOf(GetDlgItem(hwnd_, id), hwnd_);
      right = std::max<int>(right, r.right);
      bottom = std::max<int>(bottom, r.bottom);
    }
    place.right = std::max<int>(place.right, right + margin);
    place.bottom = std::max<int>(place.bottom, bottom + margin / 2);
    Move(frame, place);
  }
  // The two frames share a row and a height; the legend keeps its design distance from the
  // comment options as far as the window's width allows, and never runs over them.
  HWND comments = GetDlgItem(hwnd_, kIdFrameComments);
  HWND status = GetDlgItem(hwnd_, kIdFrameStatus);
  RECT c = PlaceOf(comments, hwnd_);
  RECT s = PlaceOf(status, hwnd_);
  const int height = std::max<int>(c.bottom - c.top, s.bottom - s.top);
  c.bottom = c.top + height;
  s.bottom = s.top + height;
  Move(comments, c);
  const int gap = Px(4200) - Px(120 + 3975);
  int left = std::max<int>(s.left, c.right + gap);
  left = std::max<int>(std::min<int>(left, Px(kClientWidth) - (s.right - s.left)), c.right);
  const int shift = left - s.left;
  if (shift != 0) {
    for (int id : frames[1].members) {
      RECT r = PlaceOf(GetDlgItem(hwnd_, id), hwnd_);
      OffsetRect(&r, shift, 0);
      Move(GetDlgItem(hwnd_, id), r);
    }
    OffsetRect(&s, shift, 0);
  }
  Move(status, s);
  // Everything below the frames keeps clear of them.
  InvalidateRect(hwnd_, nullptr, TRUE);
}

void frmQuillstamp::FitColumns() {
  HWND grid = GetDlgItem(hwnd_, kIdGrid);
  // The header's captions and the design widths come from the list; the date column is widened
  // to the widest date text of any month and hour, whatever the locale's date form.
  int widest = 0;
  for (int month = 1; month <= 12; ++month)
    for (int day : {8, 28})
      for (int hour = 0; hour < 24; ++hour) {
        const std::wstring text = Wide(DateText(EventDateTime{2088, month, day, hour, 58, 58}));
        widest = std::max(widest,
                          static_cast<int>(SendMessageW(grid, LVM_GETSTRINGWIDTHW, 0,
                                                        reinterpret_cast<LPARAM>(text.c_str()))));
      }
  std::array<int, kColumnCount> widths{};
  for (int c = 0; c < kColumnCount; ++c) widths[c] = Px(state_.eventList.ColumnWidth(c));
  // A cell's text sits between margins of about 6 pixels at 96 dpi on each side.
  widths[kColDateTime] = std::max(widths[kColDateTime], widest + MulDiv(14, dpi_, 96));
  // Room for the vertical scroll bar: with it shown the columns still fit, so that no horizontal
  // bar comes with it to cover the last row. The file column gives up what the others need.
  RECT client{};
  GetClientRect(grid, &client);
  const int room = client.right - Metric(SM_CXVSCROLL);
  int others = 0;
  for (int c = 0; c < kColumnCount; ++c)
    if (c != kColFile) others += widths[c];
  widths[kColFile] = std::max(0, std::min(widths[kColFile], room - others));
  const bool made = SendMessageW(grid, LVM_GETCOLUMNWIDTH, 0, 0) > 0 ||
                    Header_GetItemCount(ListView_GetHeader(grid)) > 0;
  for (int c = 0; c < kColumnCount; ++c) {
    // The header reads "&" as the mark of an access key ("Date & Time"): doubled, it shows.
    std::string text;
    for (char ch : state_.eventList.CellText(0, c))
      text += ch == '&' ? std::string("&&") : std::string(1, ch);
    const std::wstring caption = Wide(text);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM | LVCF_FMT;
    column.fmt = LVCFMT_LEFT;
    column.cx = widths[c];
    column.pszText = const_cast<wchar_t*>(caption.c_str());
    column.iSubItem = c;
    if (made)
      SendMessageW(grid, LVM_SETCOLUMNW, c, reinterpret_cast<LPARAM>(&column));
    else
      SendMessageW(grid, LVM_INSERTCOLUMNW, c, reinterpret_cast<LPARAM>(&column));
  }
}

void frmQuillstamp::SetText(int id, const std::string& text) {
  SetWindowTextW(GetDlgItem(hwnd_, id), Wide(text).c_str());
  FitLabel(id);
}

// ---- Window procedures ------------------------------------------------------------------------

LRESULT CALLBACK frmQuillstamp::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    auto* self = static_cast<frmQuillstamp*>(create->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<frmQuillstamp*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
  return self->Handle(message, wParam, lParam);
}

LRESULT CALLBACK frmQuillstamp::IconProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<frmQuillstamp*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  // The picture is never shown, so a mouse move that reaches it is the icon's notification.
  if (self != nullptr && message == kIconCallbackMessage) {
    self->IconNotified(static_cast<UINT>(lParam));
    return 0;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

LRESULT frmQuillstamp::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_NOTIFY:
      return OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
    case WM_NOTIFYFORMAT:
      return NFR_UNICODE;  // the list view asks for its cells as UTF-16
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item->CtlID == static_cast<UINT>(kIdGo)) {
        DrawGoButton(*item);
        return TRUE;
      }
      break;
    }
    case WM_TIMER:
      if (wParam == kTimer1) {
        Timer1_Timer();
      } else if (wParam == kTrayRetryTimer) {
        RetryTrayIcon();
      } else if (wParam == kActivationGraceTimer) {
        // Without a window manager's activation (a session that activates nothing at login) the
        // automatic start follows the first showing.
        KillTimer(hwnd_, kActivationGraceTimer);
        FirstActivation();
      }
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE) FirstActivation();
      break;
    case kMsgAutomaticStart:
      // The automatic start: the window goes to the notification area, and the analysis starts.
      ShowWindow(hwnd_, SW_MINIMIZE);
      cmdGo_Click();
      return 0;
    case WM_SIZE:
      Form_Resize(wParam);
      return 0;
    case WM_CLOSE:
      // The window has no Close: "&Exit" is the only way out.
      return 0;
    case 0x02E0: {  // WM_DPICHANGED: the window moved to a screen of another scale
      dpi_ = HIWORD(wParam);
      MakeFonts();
      LoadIcons();
      Layout();
      // The place and size the system suggests keep the window under the mouse as it crosses to
      // the other screen, and out of a loop of DPI changes at the border.
      const auto* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_DESTROY:
      DeleteTrayIcon();
      break;
    default:
      if (message == taskbarCreated_ && taskbarCreated_ != 0) {
        TaskbarCreated();
        return 0;
      }
      break;
  }
  return DefWindowProcW(hwnd_, message, wParam, lParam);
}

void frmQuillstamp::OnCommand(int id, int code) {
  switch (id) {
    case kIdStart:
      mnuStart_Click();
      break;
    case kIdRestaurer:
      mnuRestaurer_Click();
      break;
    case kIdQuitter:
      mnuQuitter_Click();
      break;
    case kIdSetTime:
      mnuSetTime_Click();
      break;
    case kIdSetMaxWinComments:
      mnuSetMaxWinComments_Click();
      break;
    case kIdMaxSelectedEvents:
      mnuMaxSelectedEvents_Click();
      break;
    case kIdPerformance:
      mnuPerformance_Click();
      break;
    case kIdAutomatic:
      mnuAutomatic_Click();
      break;
    case kIdAide:
      mnuAide_Click();
      break;
    case kIdAPropos:
      mnuAPropos_Click();
      break;
    case kIdGo:
      if (code == BN_CLICKED) cmdGo_Click();
      break;
    case kIdWinComments:
      if (code == BN_CLICKED) chkWinComments_Click();
      break;
    case kIdMacComments:
      if (code == BN_CLICKED) chkMacComments_Click();
      break;
    case kIdTimeSeconds:
      if (code == BN_CLICKED) optTimeSeconds_Click();
      break;
    case kIdTimeNotSeconds:
      if (code == BN_CLICKED) optTimeNotSeconds_Click();
      break;
    default:
      break;
  }
}

LRESULT frmQuillstamp::OnNotify(const NMHDR& header) {
  if (header.idFrom == static_cast<UINT_PTR>(kIdGrid) && header.code == LVN_GETDISPINFOW) {
    auto& info = const_cast<NMLVDISPINFOW&>(reinterpret_cast<const NMLVDISPINFOW&>(header));
    const int row = info.item.iItem + 1;
    if ((info.item.mask & LVIF_TEXT) != 0 && info.item.pszText != nullptr &&
        info.item.cchTextMax > 0) {
      if (row >= 1 && row <= state_.eventList.EventCount() && info.item.iSubItem >= 0 &&
          info.item.iSubItem < kColumnCount) {
        cellBuffer_ = Wide(state_.eventList.CellText(row, info.item.iSubItem));
        lstrcpynW(info.item.pszText, cellBuffer_.c_str(), info.item.cchTextMax);
      } else {
        info.item.pszText[0] = L'\0';
      }
    }
    return 0;
  }
  return 0;
}

void frmQuillstamp::DrawGoButton(const DRAWITEMSTRUCT& item) {
  // A graphical button: its picture above its caption, both centred.
  HDC dc = item.hDC;
  RECT r = item.rcItem;
  const bool pushed = (item.itemState & ODS_SELECTED) != 0;
  DrawFrameControl(dc, &r, DFC_BUTTON, DFCS_BUTTONPUSH | (pushed ? DFCS_PUSHED : 0));
  const int offset = pushed ? 1 : 0;
  HBITMAP image = running_ ? stopImage_ : startImage_;
  const std::wstring caption = Wide(running_ ? std::string() : std::string(kStartCaption));
  HGDIOBJ oldFont = SelectObject(dc, font_);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  const int side = Px(540);
  const int textHeight = caption.empty() ? 0 : metrics.tmHeight;
  const int top = r.top + ((r.bottom - r.top) - side - textHeight) / 2 + offset;
  const int left = r.left + ((r.right - r.left) - side) / 2 + offset;
  if (image != nullptr) {
    BITMAP bm{};
    GetObjectA(image, sizeof bm, &bm);
    HDC source = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(source, image);
    SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);
    StretchBlt(dc, left, top, side, side, source, 0, 0, bm.bmWidth, bm.bmHeight, SRCCOPY);
    SelectObject(source, old);
    DeleteDC(source);
  }
  if (!caption.empty()) {
    RECT text{r.left + offset, top + side, r.right + offset, top + side + textHeight};
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &text,
              DT_CENTER | DT_SINGLELINE | DT_VCENTER);
  }
  SelectObject(dc, oldFont);
  if ((item.itemState & ODS_FOCUS) != 0) {
    RECT focus = r;
    InflateRect(&focus, -MulDiv(4, dpi_, 96), -MulDiv(4, dpi_, 96));
    DrawFocusRect(dc, &focus);
  }
}

// ---- What the pass and run control drive ------------------------------------------------------

bool frmQuillstamp::ProcessPendingEvents() {
  MSG msg;
  bool any = false;
  for (int handled = 0; handled < kMaxMessagesPerRound; ++handled) {
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) break;
    any = true;
    if (msg.message == WM_QUIT) {
      // Left for the program's own message loop, which ends on it.
      PostQuitMessage(static_cast<int>(msg.wParam));
      return false;
    }
    if (!TranslateWindowKeys(msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return any;
}

bool frmQuillstamp::TranslateWindowKeys(MSG& msg) {
  // Tab and the arrows move between the main window's controls, and Space presses a button, as in
  // a dialog.
  return hwnd_ != nullptr && IsDialogMessageW(hwnd_, &msg) != FALSE;
}

void frmQuillstamp::ShowEventsStatus(std::string_view text) {
  SetText(kIdEvents, std::string(text));
}

void frmQuillstamp::ShowMaxEvents(std::string_view text) {
  SetText(kIdMaxEvents, std::string(text));
}

void frmQuillstamp::SetProgressMaximum(std::int32_t maximum) {
  SendMessageW(GetDlgItem(hwnd_, kIdProgressEvents), PBM_SETRANGE32, 0, maximum);
}

void frmQuillstamp::SetProgressValue(std::int32_t value) {
  SendMessageW(GetDlgItem(hwnd_, kIdProgressEvents), PBM_SETPOS, static_cast<WPARAM>(value), 0);
}

bool frmQuillstamp::IsWindowVisible() const { return ::IsWindowVisible(hwnd_) != FALSE; }

void frmQuillstamp::ShowOpenLogError(std::string_view message) {
  ShowMessage(std::string(message), std::string(kAppName), MB_OK);
}

void frmQuillstamp::EnableTimer() { SetTimerEnabled(true); }

void frmQuillstamp::SetGoButton(bool running) {
  running_ = running;
  SetWindowTextW(GetDlgItem(hwnd_, kIdGo),
                 Wide(running ? std::string() : std::string(kStartCaption)).c_str());
  InvalidateRect(GetDlgItem(hwnd_, kIdGo), nullptr, TRUE);
}

void frmQuillstamp::SetStartMenuCaption(std::string_view caption) {
  ModifyMenuA(mnuFichier_, kIdStart, MF_BYCOMMAND | MF_STRING, kIdStart,
              std::string(caption).c_str());
}

void frmQuillstamp::SetRunLocksEnabled(bool enabled) {
  locksEnabled_ = enabled;
  EnableMenuItem(mnuFichier_, kIdQuitter, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
  EnableMenuItem(menuBar_, 1, MF_BYPOSITION | (enabled ? MF_ENABLED : MF_GRAYED));
  DrawMenuBar(hwnd_);
  // FrameComments and what it holds. The Windows 2000 comment stays off where the system does not
  // offer it, and the time options follow the Macintosh comment.
  EnableWindow(GetDlgItem(hwnd_, kIdFrameComments), enabled);
  EnableWindow(GetDlgItem(hwnd_, kIdWinComments), enabled && identity_.offersWin2000Comment);
  EnableWindow(GetDlgItem(hwnd_, kIdMacComments), enabled);
  const bool mac =
      SendMessageW(GetDlgItem(hwnd_, kIdMacComments), BM_GETCHECK, 0, 0) == BST_CHECKED;
  EnableWindow(GetDlgItem(hwnd_, kIdTimeSeconds), enabled && mac);
  EnableWindow(GetDlgItem(hwnd_, kIdTimeNotSeconds), enabled && mac);
}

void frmQuillstamp::RepaintNow() {
  RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void frmQuillstamp::SetTimerEnabled(bool enabled) {
  if (enabled)
    SetTimer(hwnd_, kTimer1, 1000, nullptr);
  else
    KillTimer(hwnd_, kTimer1);
}

void frmQuillstamp::SetWaitingValue(std::int32_t value) {
  SendMessageW(GetDlgItem(hwnd_, kIdProgressBarAttente), PBM_SETPOS, static_cast<WPARAM>(value), 0);
}

void frmQuillstamp::RunScanPass() {
  if (commentStep_ == nullptr) return;  // a window without its comment step runs no pass
  ScanContext context{*services_.eventLog, state_.eventList, state_.scan, state_.settings,
                      state_.run,          state_.selection, *this,       *commentStep_};
  ScanPass(context);
}

// ---- The event list ---------------------------------------------------------------------------

void frmQuillstamp::ListReset() {
  HWND grid = GetDlgItem(hwnd_, kIdGrid);
  if (grid == nullptr) return;
  ListView_SetItemCountEx(grid, state_.eventList.EventCount(), LVSICF_NOSCROLL);
  InvalidateRect(grid, nullptr, TRUE);
}

void frmQuillstamp::RowsRemovedFromBottom(int, int) { ListReset(); }

void frmQuillstamp::RowInsertedAtTop() { ListReset(); }

void frmQuillstamp::CellChanged(int row, int) {
  HWND grid = GetDlgItem(hwnd_, kIdGrid);
  if (grid != nullptr) ListView_RedrawItems(grid, row - 1, row - 1);
}

void frmQuillstamp::SelectedCountChanged(int count) {
  if (hwnd_ != nullptr) SetText(kIdNbSelectedEvents, std::to_string(count));
}

}  // namespace qs::win32ui
