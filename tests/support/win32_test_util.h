// Helpers of the Win32 window and host suites: message pumping with a deadline, a thread that
// answers a message box the way a user would, and build-tree paths in Wine's form.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace repair::test {

// A Unix path of the build tree as the Windows calls take it under Wine (drive Z:).
inline std::string WinePath(const char* unixPath) {
  std::string path = unixPath;
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

// Dispatches this thread's messages until `stop` accepts one (true) or `timeoutMs` pass
// (false). The deadline only bounds a test that would otherwise hang.
inline bool PumpUntil(const std::function<bool(const MSG&)>& stop, DWORD timeoutMs = 10000) {
  const DWORD start = GetTickCount();
  MSG message{};
  while (GetTickCount() - start < timeoutMs) {
    if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      Sleep(5);
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
    if (stop(message)) return true;
  }
  return false;
}

// Removes whatever is queued, a pending quit request included.
inline void DrainMessages() {
  MSG message{};
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}

// Waits on its own thread for a top-level window captioned `caption` of this process,
// notes how it looks, and presses the button `button` (IDYES, IDNO, IDOK) on it.
class BoxAnswerer {
 public:
  BoxAnswerer(const char* caption, int button) : caption_(caption), button_(button) {
    thread_ = std::thread([this] { Run(); });
  }
  ~BoxAnswerer() { Join(); }
  BoxAnswerer(const BoxAnswerer&) = delete;
  BoxAnswerer& operator=(const BoxAnswerer&) = delete;

  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  bool found() const { return found_; }
  HWND owner() const { return owner_; }
  bool hasButton(int id) const {
    return (id == IDYES && hasYes_) || (id == IDNO && hasNo_) || (id == IDOK && hasOk_);
  }
  HICON icon() const { return icon_; }

 private:
  void Run() {
    const DWORD start = GetTickCount();
    HWND box = nullptr;
    // A box becomes visible once it is set up; before that its buttons are still changing.
    while (GetTickCount() - start < 10000) {
      box = FindWindowA(nullptr, caption_.c_str());
      if (box != nullptr && IsWindowVisible(box)) break;
      box = nullptr;
      Sleep(20);
    }
    if (box == nullptr) return;
    owner_ = GetWindow(box, GW_OWNER);
    hasYes_ = ShowsButton(box, IDYES);
    hasNo_ = ShowsButton(box, IDNO);
    hasOk_ = ShowsButton(box, IDOK);
    icon_ = FindIcon(box);
    found_ = true;
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(button_, BN_CLICKED), 0);
  }

  // Some systems build every box from one template and hide the buttons it does not use.
  static bool ShowsButton(HWND box, int id) {
    HWND button = GetDlgItem(box, id);
    return button != nullptr && IsWindowVisible(button);
  }

  // The box's icon is the one static control that shows an icon.
  static HICON FindIcon(HWND box) {
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
      char className[32] = {};
      GetClassNameA(child, className, sizeof(className));
      if (lstrcmpiA(className, "Static") != 0) continue;
      auto icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
      if (icon != nullptr) return icon;
    }
    return nullptr;
  }

  std::string caption_;
  int button_;
  std::thread thread_;
  std::atomic<bool> found_{false};
  HWND owner_ = nullptr;
  bool hasYes_ = false;
  bool hasNo_ = false;
  bool hasOk_ = false;
  HICON icon_ = nullptr;
};

}  // namespace repair::test
