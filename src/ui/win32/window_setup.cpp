#include "ui/win32/window_setup.h"

#include <commctrl.h>

#include "common/format.h"

namespace repair {
namespace {

constexpr UINT kClassStyle = CS_HREDRAW | CS_VREDRAW | CS_DROPSHADOW;
// A caption with a close box only: no sizing border, no minimise or maximise box.
constexpr DWORD kMainWindowStyle = WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kListStyle = WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS;
constexpr LPARAM kListExtendedStyle = LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT;
static_assert(kListExtendedStyle == 0x21, "grid lines and full-row selection");
constexpr UINT kColumnMask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
static_assert(kColumnMask == 0xF, "format, width, text and sub-item of every column");
// The bar counts in thousandths: minimum 0 in the low half, maximum 1000 in the high half.
constexpr LPARAM kProgressRange = MAKELPARAM(0, 1000);
static_assert(kProgressRange == 65536000, "range 0 to 1000");

// "#", file name, size, progress.
constexpr int kColumnWidths[] = {30, 250, 70, 70};

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    // A WM_DESTROY that a late worker sent once the loop had ended reaches this procedure
    // inside an outcome box's own loop, which a quit request would end.
    const auto* loopEnded =
        reinterpret_cast<const std::atomic<bool>*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (loopEnded == nullptr || !loopEnded->load()) PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// The manifest binds the program to version 6 of the common controls, which registers its
// classes when loaded; the explicit call makes the list view and progress bar classes
// available under every loader as well, and costs nothing when they are there already.
void EnsureCommonControls() {
  static const bool initialised = [] {
    INITCOMMONCONTROLSEX init{};
    init.dwSize = sizeof(init);
    init.dwICC = ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS;
    return InitCommonControlsEx(&init) != FALSE;
  }();
  (void)initialised;
}

void RegisterMainClass(HINSTANCE instance) {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.style = kClassStyle;
  windowClass.lpfnWndProc = MainWindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(kLargeIconGroup));
  windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  windowClass.lpszClassName = kMainWindowClass;
  // LoadIcon would stretch the 16-pixel image to the large icon size: ask for the small size.
  windowClass.hIconSm = static_cast<HICON>(
      LoadImageA(instance, MAKEINTRESOURCEA(kSmallIconGroup), IMAGE_ICON,
                 GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
  // A second registration in the same process fails and leaves the first in place; a real
  // failure shows up as the main window failing to be created.
  RegisterClassExA(&windowClass);
}

HWND CreateChild(const char* className, DWORD style, int x, int y, int width, int height,
                 HWND parent, HINSTANCE instance) {
  return CreateWindowExA(0, className, "", style, x, y, width, height, parent, nullptr, instance,
                         nullptr);
}

void InsertColumns(HWND list, const WindowTexts& texts) {
  for (int index = 0; index < 4; ++index) {
    char header[kTextBufferSize];
    CopyBounded(header, sizeof(header), texts.columns[index].c_str());
    LVCOLUMNA column{};
    column.mask = kColumnMask;
    column.fmt = LVCFMT_LEFT;
    column.cx = kColumnWidths[index];
    column.pszText = header;
    column.iSubItem = index;
    SendMessageA(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(&column));
  }
}

// The list, the band and, in it, the status line and the bar, laid out in the client area.
void CreateControls(MainWindowHandles& handles, HINSTANCE instance, const WindowTexts& texts) {
  const WPARAM font = reinterpret_cast<WPARAM>(handles.font.get());
  RECT client{};
  GetClientRect(handles.window, &client);
  const int width = client.right - client.left;
  const int bottom = client.bottom;

  handles.list = CreateChild(WC_LISTVIEWA, kListStyle, 0, 0, width, bottom - kBandHeight,
                             handles.window, instance);
  if (handles.list != nullptr) {
    SendMessageA(handles.list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, kListExtendedStyle);
    InsertColumns(handles.list, texts);
    SendMessageA(handles.list, WM_SETFONT, font, TRUE);
  }

  // The band only frames the status line and the bar; nothing refers to it later.
  CreateChild("Static", WS_CHILD | WS_VISIBLE | WS_DLGFRAME, 0, bottom - kBandHeight, width,
              kBandHeight, handles.window, instance);

  handles.status = CreateChild("Static", WS_CHILD | WS_VISIBLE, 10, bottom - 50, width - 20, 20,
                               handles.window, instance);
  if (handles.status != nullptr) SendMessageA(handles.status, WM_SETFONT, font, TRUE);

  handles.progress = CreateChild(PROGRESS_CLASSA, WS_CHILD | WS_VISIBLE, 10, bottom - 30,
                                 width - 20, 20, handles.window, instance);
  if (handles.progress != nullptr) {
    SendMessageA(handles.progress, PBM_SETRANGE, 0, kProgressRange);
    SendMessageA(handles.progress, PBM_SETPOS, 0, 0);
  }
}

}  // namespace

MainWindowHandles CreateMainWindow(HINSTANCE instance, const WindowTexts& texts) {
  MainWindowHandles handles;
  EnsureCommonControls();
  RegisterMainClass(instance);

  const int left = CentredEdge(GetSystemMetrics(SM_CXSCREEN), kMainWindowWidth);
  const int top = CentredEdge(GetSystemMetrics(SM_CYSCREEN), kMainWindowHeight);
  handles.window =
      CreateWindowExA(0, kMainWindowClass, texts.title.c_str(), kMainWindowStyle, left, top,
                      kMainWindowWidth, kMainWindowHeight, nullptr, nullptr, instance, nullptr);
  if (handles.window == nullptr) return handles;

  handles.font.Reset(CreateFontA(15, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                                 OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                 DEFAULT_PITCH | FF_DONTCARE, "Arial"));
  CreateControls(handles, instance, texts);

  ShowWindow(handles.window, SW_SHOWNORMAL);
  UpdateWindow(handles.window);
  return handles;
}

void WatchLoopEnd(HWND window, const std::atomic<bool>* loopEnded) {
  SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(loopEnded));
}

void ActivateWindow(HWND window) {
  if ((GetWindowLongA(window, GWL_STYLE) & WS_MINIMIZE) != 0) {
    ShowWindow(window, SW_SHOWNORMAL);
  }
  HWND foreground = GetForegroundWindow();
  if (foreground == window) return;
  // Only the thread that owns the foreground may hand it on: share its input state for the
  // moment it takes to raise this window.
  const DWORD foregroundThread = GetWindowThreadProcessId(foreground, nullptr);
  const DWORD ownThread = GetWindowThreadProcessId(window, nullptr);
  AttachThreadInput(foregroundThread, ownThread, TRUE);
  SetForegroundWindow(window);
  BringWindowToTop(window);
  SetFocus(window);
  FlashWindow(window, TRUE);
  AttachThreadInput(foregroundThread, ownThread, FALSE);
}

}  // namespace repair
