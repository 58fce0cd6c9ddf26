#include "ui/win32/main_window.h"

#include <windows.h>
#include <commctrl.h>

#include <climits>

#include "ui/win32/window_setup.h"

namespace repair {
namespace {

constexpr UINT kCellMask = LVIF_TEXT | LVIF_IMAGE;

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

std::unique_ptr<Win32Window> Win32Window::Create(const WindowTexts& texts) {
  // The program's own module: the class icons are among its resources.
  auto handles =
      std::make_unique<MainWindowHandles>(CreateMainWindow(GetModuleHandleA(nullptr), texts));
  if (handles->window == nullptr) return nullptr;
  std::unique_ptr<Win32Window> window(new Win32Window(std::move(handles)));
  WatchLoopEnd(window->handles_->window, &window->loopEnded_);
  return window;
}

Win32Window::Win32Window(std::unique_ptr<MainWindowHandles> handles)
    : handles_(std::move(handles)) {}

Win32Window::~Win32Window() {
  if (!IsOpen()) return;  // the font goes with the handles
  WatchLoopEnd(handles_->window, nullptr);
  // A window still on screen goes with the thread that made it when the process ends;
  // destroying it here would only hold up the exit. Its controls draw with the font, which
  // must therefore outlive it.
  handles_->font.Release();
}

bool Win32Window::IsOpen() const { return IsWindow(handles_->window) != FALSE; }

bool Win32Window::HasList() const { return handles_->list != nullptr; }
bool Win32Window::HasStatus() const { return handles_->status != nullptr; }
bool Win32Window::HasProgress() const { return handles_->progress != nullptr; }

void Win32Window::InsertRow(int row, const char* firstCell) {
  if (handles_->list == nullptr) return;
  SendCell(handles_->list, LVM_INSERTITEMA, row, 0, firstCell);
}

void Win32Window::SetCell(int row, int subItem, const char* text) {
  if (handles_->list == nullptr) return;
  SendCell(handles_->list, LVM_SETITEMA, row, subItem, text);
}

void Win32Window::GetCell(int row, int subItem, char* buffer, std::size_t capacity) {
  HWND list = handles_->list;
  if (list == nullptr || buffer == nullptr || capacity == 0) return;
  const LRESULT rows = SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
  if (row < 0 || row >= rows) return;
  const std::size_t limit = capacity > static_cast<std::size_t>(INT_MAX) ? INT_MAX : capacity;
  LVITEMA item{};
  item.iSubItem = subItem;
  item.pszText = buffer;
  item.cchTextMax = static_cast<int>(limit);
  SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  // The control writes at most cchTextMax bytes, but a text cut to fit may come back without
  // its terminator (Wine's ANSI conversion does that): end it inside the buffer ourselves.
  buffer[limit - 1] = '\0';
}

void Win32Window::SetListRedraw(bool on) {
  if (handles_->list == nullptr) return;
  SendMessageA(handles_->list, WM_SETREDRAW, on ? TRUE : FALSE, 0);
}

void Win32Window::EnsureVisible(int row) {
  if (handles_->list == nullptr) return;
  // FALSE: the whole row, not a partly visible one, must come into view.
  SendMessageA(handles_->list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
}

void Win32Window::SetStatusText(const char* text) {
  if (handles_->status == nullptr) return;
  const char* shown = text != nullptr ? text : "";
  SendMessageA(handles_->status, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(shown));
}

void Win32Window::SetProgressPosition(int position) {
  if (handles_->progress == nullptr) return;
  SendMessageA(handles_->progress, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void Win32Window::SetTimer(int id, std::uint32_t milliseconds) {
  // No timer procedure: the message loop picks the timer messages up itself.
  ::SetTimer(handles_->window, static_cast<UINT_PTR>(id), milliseconds, nullptr);
}

void Win32Window::KillTimer(int id) { ::KillTimer(handles_->window, static_cast<UINT_PTR>(id)); }

void Win32Window::Activate() {
  // Once the user has closed the window there is nothing left to bring forward.
  if (IsOpen()) ActivateWindow(handles_->window);
}

MessageBoxAnswer Win32Window::ShowMessageBox(const char* text, const char* caption,
                                             MessageBoxKind kind) {
  UINT type = MB_OK | MB_ICONINFORMATION;
  if (kind == MessageBoxKind::kYesNoQuestion) type = MB_YESNO | MB_ICONQUESTION;
  if (kind == MessageBoxKind::kOkError) type = MB_OK | MB_ICONERROR;
  // A window closed by the user can own nothing: the box then stands on its own.
  HWND owner = IsOpen() ? handles_->window : nullptr;
  const int answer = MessageBoxA(owner, text, caption, type);
  if (kind == MessageBoxKind::kYesNoQuestion) {
    return answer == IDYES ? MessageBoxAnswer::kYes : MessageBoxAnswer::kNo;
  }
  return MessageBoxAnswer::kOk;
}

void Win32Window::EndRun() {
  if (LoopEnded()) return;
  // Sent, not posted: from the worker thread this returns only after the UI thread has run
  // the window procedure, which posts the quit request. The window itself is not destroyed.
  SendMessageA(handles_->window, WM_DESTROY, 0, 0);
}

}  // namespace repair
