// The one owner of Win32 handles, with the kinds the program holds: kernel handles, searches,
// WinINet handles and GDI objects.
#include "platform/win32/scoped_handle.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "support/test_support.h"

namespace repair::platform {
namespace {

// A kernel handle that is open: the system still answers questions about it.
bool IsOpenHandle(HANDLE handle) {
  DWORD flags = 0;
  return GetHandleInformation(handle, &flags) != FALSE;
}

HANDLE NewEvent() { return CreateEventA(nullptr, TRUE, FALSE, nullptr); }

TEST(ScopedHandleTest, ClosesItsHandleOnceWhenItGoesUnlessReleased) {
  HANDLE closed = NewEvent();
  {
    ScopedHandle owner(closed);
    EXPECT_TRUE(owner);
  }
  EXPECT_FALSE(IsOpenHandle(closed));

  HANDLE kept = NewEvent();
  {
    ScopedHandle owner(kept);
    EXPECT_EQ(owner.Release(), kept);
    EXPECT_FALSE(owner);
    EXPECT_EQ(owner.get(), nullptr);
  }
  EXPECT_TRUE(IsOpenHandle(kept));

  ScopedHandle moved(kept);
  ScopedHandle target(std::move(moved));
  EXPECT_FALSE(moved);
  EXPECT_EQ(target.get(), kept);
  HANDLE other = NewEvent();
  target = ScopedHandle(other);  // the handle held so far closes
  EXPECT_FALSE(IsOpenHandle(kept));
  EXPECT_EQ(target.get(), other);
  EXPECT_TRUE(target.Close());
  EXPECT_FALSE(IsOpenHandle(other));
}

TEST(ScopedHandleTest, NullAndInvalidHandleValueAreBothNoHandle) {
  for (HANDLE empty : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
    ScopedHandle owner(empty);
    EXPECT_FALSE(owner);
    EXPECT_FALSE(owner.Close());  // nothing to close, and nothing was tried
  }
  // The file calls report failure with INVALID_HANDLE_VALUE.
  test::TempDir dir;
  const std::string missing = dir.File("missing");
  ScopedHandle file(CreateFileA(missing.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  EXPECT_FALSE(file);
}

TEST(ScopedHandleTest, CloseReportsWhetherClosingSucceeded) {
  HANDLE event = NewEvent();
  ScopedHandle owner(event);
  EXPECT_TRUE(owner.Close());
  EXPECT_FALSE(owner);
  EXPECT_FALSE(IsOpenHandle(event));
  EXPECT_FALSE(owner.Close());  // once only
}

TEST(ScopedHandleTest, SearchesAreHeldAndAFailedOneIsNoHandle) {
  test::TempDir dir;
  test::WriteAll(dir.File("present"), std::string("x"));
  WIN32_FIND_DATAA found;
  ScopedFindHandle missing(FindFirstFileA(dir.File("absent").c_str(), &found));
  EXPECT_FALSE(missing);
  ScopedFindHandle present(FindFirstFileA(dir.File("present").c_str(), &found));
  ASSERT_TRUE(present);
  EXPECT_STREQ(found.cFileName, "present");
  EXPECT_TRUE(present.Close());
}

TEST(ScopedHandleTest, InternetHandlesAreClosedByWinInet) {
  ScopedInternetHandle none(nullptr);
  EXPECT_FALSE(none);
  ScopedInternetHandle session(
      InternetOpenA("scoped-handle-test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
  ASSERT_TRUE(session);
  EXPECT_TRUE(session.Close());
}

TEST(ScopedHandleTest, GdiObjectsAreDeletedUnlessReleased) {
  HBRUSH deleted = CreateSolidBrush(RGB(1, 2, 3));
  {
    ScopedGdiObject<HBRUSH> owner(deleted);
    EXPECT_EQ(GetObjectType(owner.get()), static_cast<DWORD>(OBJ_BRUSH));
  }
  EXPECT_EQ(GetObjectType(deleted), 0u);

  HBRUSH kept = CreateSolidBrush(RGB(4, 5, 6));
  { ScopedGdiObject<HBRUSH>(kept).Release(); }
  EXPECT_EQ(GetObjectType(kept), static_cast<DWORD>(OBJ_BRUSH));
  DeleteObject(kept);
}

}  // namespace
}  // namespace repair::platform
