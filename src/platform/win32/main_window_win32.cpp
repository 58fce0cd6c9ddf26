#include "platform/win32/main_window_win32.h"

#include <commctrl.h>

#include <climits>
#include <string>

#include "common/format.h"

namespace repair::platform {
namespace {

constexpr UINT kClassStyle = CS_HREDRAW | CS_VREDRAW | CS_DROPSHADOW;
// A caption with a close box only: no sizing border, no minimise or maximise box.
constexpr DWORD kMainWindowStyle = WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kListStyle =
    WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS;
constexpr LPARAM kListExtendedStyle = LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT;
static_assert(kListExtendedStyle == 0x21, "grid lines and full-row selection");
constexpr UINT kColumnMask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
static_assert(kColumnMask == 0xF, "format, width, text and sub-item of every column");
// The bar counts in thousandths: minimum 0 in the low half, maximum 1000 in the high half.
constexpr LPARAM kProgressRange = MAKELPARAM(0, 1000);
static_assert(kProgressRange == 65536000, "range 0 to 1000");
constexpr UINT kCellMask = LVIF_TEXT | LVIF_IMAGE;

// "#", file name, size, progress.
constexpr int kColumnWidths[] = {30, 250, 70, 70};

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    // A WM_DESTROY that a late worker sent once the loop had ended reaches this procedure
    // inside an outcome box's own loop, which a quit request would end.
    const auto* controls =
        reinterpret_cast<const Win32WindowControls*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (controls == nullptr || !controls->LoopEnded()) PostQuitMessage(0);
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
  windowClass.hIconSm = static_cast<HICON>(LoadImageA(
      instance, MAKEINTRESOURCEA(kSmallIconGroup), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
      GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
  // A second registration in the same process fails and leaves the first in place; a real
  // failure shows up as the main window failing to be created.
  RegisterClassExA(&windowClass);
}

HWND CreateChild(const char* className, DWORD style, int x, int y, int width, int height,
                 HWND parent, HINSTANCE instance) {
  return CreateWindowExA(0, className, "", style, x, y, width, height, parent, nullptr,
                         instance, nullptr);
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

void SendCell(HWND list, UINT message, int row, int subItem, const char* text) {
  LVITEMA item{};
  item.mask = kCellMask;
  item.iItem = row;
  item.iSubItem = subItem;
  // The control copies the text and never writes through this pointer.
  item.pszText = const_cast<char*>(text);
  item.iImage = -1;
  SendMessageA(list, message, 0, reinterpret_cast<LPARAM>(&item));
}

}  // namespace

MainWindowHandles CreateMainWindow(HINSTANCE instance, const WindowTexts& texts) {
  MainWindowHandles handles;
  EnsureCommonControls();
  RegisterMainClass(instance);

  const int left = CentredEdge(GetSystemMetrics(SM_CXSCREEN), kMainWindowWidth);
  const int top = CentredEdge(GetSystemMetrics(SM_CYSCREEN), kMainWindowHeight);
  handles.window = CreateWindowExA(0, kMainWindowClass, texts.title.c_str(), kMainWindowStyle, left,
                                   top, kMainWindowWidth, kMainWindowHeight, nullptr, nullptr,
                                   instance, nullptr);
  if (handles.window == nullptr) return handles;

  handles.font = CreateFontA(15, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             DEFAULT_PITCH | FF_DONTCARE, "Arial");
  const WPARAM font = reinterpret_cast<WPARAM>(handles.font);

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

  ShowWindow(handles.window, SW_SHOWNORMAL);
  UpdateWindow(handles.window);
  return handles;
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

std::unique_ptr<Win32WindowControls> Win32WindowControls::Create(HINSTANCE instance,
                                                                 const WindowTexts& texts) {
  const MainWindowHandles handles = CreateMainWindow(instance, texts);
  if (handles.window == nullptr) return nullptr;
  std::unique_ptr<Win32WindowControls> controls(new Win32WindowControls(handles));
  SetWindowLongPtrA(handles.window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(controls.get()));
  return controls;
}

Win32WindowControls::~Win32WindowControls() {
  if (IsWindow(handles_.window)) SetWindowLongPtrA(handles_.window, GWLP_USERDATA, 0);
  // A window still on screen goes with the thread that made it when the process ends;
  // destroying it here would only hold up the exit. Its controls draw with the font, which
  // must therefore outlive it.
  if (handles_.font != nullptr && !IsWindow(handles_.window)) DeleteObject(handles_.font);
}

void Win32WindowControls::InsertRow(int row, const char* firstCell) {
  if (handles_.list == nullptr) return;
  SendCell(handles_.list, LVM_INSERTITEMA, row, 0, firstCell);
}

void Win32WindowControls::SetCell(int row, int subItem, const char* text) {
  if (handles_.list == nullptr) return;
  SendCell(handles_.list, LVM_SETITEMA, row, subItem, text);
}

void Win32WindowControls::GetCell(int row, int subItem, char* buffer, std::size_t capacity) {
  if (handles_.list == nullptr || buffer == nullptr || capacity == 0) return;
  const LRESULT rows = SendMessageA(handles_.list, LVM_GETITEMCOUNT, 0, 0);
  if (row < 0 || row >= rows) return;
  const std::size_t limit = capacity > static_cast<std::size_t>(INT_MAX) ? INT_MAX : capacity;
  LVITEMA item{};
  item.iSubItem = subItem;
  item.pszText = buffer;
  item.cchTextMax = static_cast<int>(limit);
  SendMessageA(handles_.list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row),
               reinterpret_cast<LPARAM>(&item));
  // The control writes at most cchTextMax bytes, but a text cut to fit may come back without
  // its terminator (Wine's ANSI conversion does that): end it inside the buffer ourselves.
  buffer[limit - 1] = '\0';
}

void Win32WindowControls::SetListRedraw(bool on) {
  if (handles_.list == nullptr) return;
  SendMessageA(handles_.list, WM_SETREDRAW, on ? TRUE : FALSE, 0);
}

void Win32WindowControls::EnsureVisible(int row) {
  if (handles_.list == nullptr) return;
  // FALSE: the whole row, not a partly visible one, must come into view.
  SendMessageA(handles_.list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
}

void Win32WindowControls::SetStatusText(const char* text) {
  if (handles_.status == nullptr) return;
  const char* shown = text != nullptr ? text : "";
  SendMessageA(handles_.status, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(shown));
}

void Win32WindowControls::SetProgressPosition(int position) {
  if (handles_.progress == nullptr) return;
  SendMessageA(handles_.progress, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void Win32WindowControls::SetTimer(int id, std::uint32_t milliseconds) {
  // No timer procedure: the message loop picks the timer messages up itself.
  ::SetTimer(handles_.window, static_cast<UINT_PTR>(id), milliseconds, nullptr);
}

void Win32WindowControls::KillTimer(int id) {
  ::KillTimer(handles_.window, static_cast<UINT_PTR>(id));
}

void Win32WindowControls::Activate() {
  // Once the user has closed the window there is nothing left to bring forward.
  if (IsWindow(handles_.window)) ActivateWindow(handles_.window);
}

MessageBoxAnswer Win32WindowControls::ShowMessageBox(const char* text, const char* caption,
                                                     MessageBoxKind kind) {
  UINT type = MB_OK | MB_ICONINFORMATION;
  if (kind == MessageBoxKind::kYesNoQuestion) type = MB_YESNO | MB_ICONQUESTION;
  if (kind == MessageBoxKind::kOkError) type = MB_OK | MB_ICONERROR;
  // A window closed by the user can own nothing: the box then stands on its own.
  HWND owner = IsWindow(handles_.window) ? handles_.window : nullptr;
  const int answer = MessageBoxA(owner, text, caption, type);
  if (kind == MessageBoxKind::kYesNoQuestion) {
    return answer == IDYES ? MessageBoxAnswer::kYes : MessageBoxAnswer::kNo;
  }
  return MessageBoxAnswer::kOk;
}

void Win32WindowControls::EndRun() {
  if (LoopEnded()) return;
  // Sent, not posted: from the worker thread this returns only after the UI thread has run
  // the window procedure, which posts the quit request. The window itself is not destroyed.
  SendMessageA(handles_.window, WM_DESTROY, 0, 0);
}

}  // namespace repair::platform
