// Owners of Win32 handles, one template for every kind: a kind says how its handle is closed
// and which values mean "no handle". Each owner closes its handle once, when it goes, unless
// the handle was given up with Release.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <utility>

namespace repair::platform {

template <typename Kind>
class Scoped {
 public:
  using Handle = typename Kind::Handle;

  Scoped() = default;
  explicit Scoped(Handle handle) : handle_(handle) {}
  ~Scoped() { Reset(); }
  Scoped(const Scoped&) = delete;
  Scoped& operator=(const Scoped&) = delete;
  Scoped(Scoped&& other) noexcept : handle_(other.Release()) {}
  Scoped& operator=(Scoped&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  Handle get() const { return handle_; }
  explicit operator bool() const { return !Kind::IsEmpty(handle_); }

  // Gives up ownership: the caller closes the handle. The owner is empty afterwards.
  Handle Release() { return std::exchange(handle_, Handle{}); }

  // Closes the handle now. True iff there was one and closing it succeeded.
  bool Close() {
    const Handle handle = Release();
    return !Kind::IsEmpty(handle) && Kind::Close(handle);
  }

  // Closes the handle held so far, if any, and takes `handle` instead.
  void Reset(Handle handle = Handle{}) {
    const Handle old = std::exchange(handle_, handle);
    if (!Kind::IsEmpty(old)) Kind::Close(old);
  }

 private:
  Handle handle_{};
};

// The kernel's calls say "no handle" with null or with INVALID_HANDLE_VALUE, call by call.
struct KernelHandleValues {
  using Handle = HANDLE;
  static bool IsEmpty(HANDLE handle) { return handle == nullptr || handle == INVALID_HANDLE_VALUE; }
};

// Files, mutexes, threads, processes: CloseHandle.
struct KernelHandleKind : KernelHandleValues {
  static bool Close(HANDLE handle) { return CloseHandle(handle) != FALSE; }
};

// FindFirstFile's searches: FindClose.
struct FindHandleKind : KernelHandleValues {
  static bool Close(HANDLE handle) { return FindClose(handle) != FALSE; }
};

// WinINet's sessions and requests: InternetCloseHandle.
struct InternetHandleKind {
  using Handle = HINTERNET;
  static bool IsEmpty(HINTERNET handle) { return handle == nullptr; }
  static bool Close(HINTERNET handle) { return InternetCloseHandle(handle) != FALSE; }
};

// Fonts, brushes, pens, bitmaps: DeleteObject. Typed, so that get() hands back an HFONT.
template <typename GdiHandle>
struct GdiObjectKind {
  using Handle = GdiHandle;
  static bool IsEmpty(GdiHandle handle) { return handle == nullptr; }
  static bool Close(GdiHandle handle) { return DeleteObject(handle) != FALSE; }
};

using ScopedHandle = Scoped<KernelHandleKind>;
using ScopedFindHandle = Scoped<FindHandleKind>;
using ScopedInternetHandle = Scoped<InternetHandleKind>;
template <typename GdiHandle>
using ScopedGdiObject = Scoped<GdiObjectKind<GdiHandle>>;

}  // namespace repair::platform
