// The real progress window under Wine: its class, place and controls, and the portable
// interface over them.
#include "ui/win32/main_window.h"

#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "strings/string_table.h"
#include "support/win32_test_util.h"
#include "ui/win32/window_setup.h"
#include "ui/window_texts.h"

namespace repair {
namespace {

using test::BoxAnswerer;
using test::DrainMessages;
using test::PumpUntil;

struct Child {
  HWND handle;
  std::string className;
  LONG style;
  RECT rect;  // in the main window's client coordinates
};

std::vector<Child> Children(HWND window) {
  std::vector<Child> children;
  for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    Child entry{child, {}, GetWindowLongA(child, GWL_STYLE), {}};
    char className[64] = {};
    GetClassNameA(child, className, sizeof(className));
    entry.className = className;
    GetWindowRect(child, &entry.rect);
    MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&entry.rect), 2);
    children.push_back(entry);
  }
  return children;
}

void ExpectRect(const RECT& rect, int left, int top, int width, int height) {
  EXPECT_EQ(rect.left, left);
  EXPECT_EQ(rect.top, top);
  EXPECT_EQ(rect.right - rect.left, width);
  EXPECT_EQ(rect.bottom - rect.top, height);
}

std::string WindowText(HWND window) {
  char text[512] = {};
  GetWindowTextA(window, text, sizeof(text));
  return text;
}

struct Column {
  int format;
  int width;
  std::string text;
  int subItem;
};

Column GetColumn(HWND list, int index) {
  char text[512] = {};
  LVCOLUMNA column{};
  column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
  column.pszText = text;
  column.cchTextMax = sizeof(text);
  if (!SendMessageA(list, LVM_GETCOLUMNA, index, reinterpret_cast<LPARAM>(&column))) {
    return {-1, -1, "<none>", -1};
  }
  return {column.fmt & LVCFMT_JUSTIFYMASK, column.cx, text, column.iSubItem};
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { GlobalStringTable().Clear(); }
  void TearDown() override {
    if (controls_ != nullptr && controls_->IsOpen()) DestroyWindow(controls_->handles().window);
    controls_.reset();
    DrainMessages();  // the destroyed window's quit request
    GlobalStringTable().Clear();
  }
  Win32Window& Open() {
    controls_ = Win32Window::Create(LookupWindowTexts());
    EXPECT_NE(controls_, nullptr);
    return *controls_;
  }

  std::unique_ptr<Win32Window> controls_;
};

TEST(CentredEdgeTest, HalvesTheDifferenceTowardsMinusInfinity) {
  EXPECT_EQ(CentredEdge(1920, 450), 735);
  EXPECT_EQ(CentredEdge(1080, 350), 365);
  EXPECT_EQ(CentredEdge(451, 450), 0);
  EXPECT_EQ(CentredEdge(450, 450), 0);
  EXPECT_EQ(CentredEdge(449, 450), -1);
  EXPECT_EQ(CentredEdge(448, 450), -1);
  EXPECT_EQ(CentredEdge(447, 450), -2);
  EXPECT_EQ(CentredEdge(0, 350), -175);
}

TEST_F(MainWindowTest, ClassHasTheStylesCursorBackgroundAndBothIcons) {
  Open();
  WNDCLASSEXA info{};
  info.cbSize = sizeof(info);
  ASSERT_TRUE(GetClassInfoExA(GetModuleHandleA(nullptr), kMainWindowClass, &info));
  EXPECT_EQ(info.style, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW | CS_DROPSHADOW));
  EXPECT_EQ(info.cbClsExtra, 0);
  EXPECT_EQ(info.cbWndExtra, 0);
  EXPECT_EQ(info.hbrBackground, reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(6)));
  EXPECT_EQ(info.hCursor, LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW)));
  EXPECT_EQ(info.lpszMenuName, nullptr);
  ASSERT_NE(info.hIcon, nullptr);
  ASSERT_NE(info.hIconSm, nullptr);
  // The small icon is the 16-pixel image itself, not the large one scaled down.
  ICONINFO small{};
  ASSERT_TRUE(GetIconInfo(info.hIconSm, &small));
  BITMAP mask{};
  GetObjectA(small.hbmMask, sizeof(mask), &mask);
  EXPECT_EQ(mask.bmWidth, 16);
  if (small.hbmColor != nullptr) DeleteObject(small.hbmColor);
  DeleteObject(small.hbmMask);
}

TEST_F(MainWindowTest, WindowIsCentredFixedAndVisibleWithOnlyACloseBox) {
  HWND window = Open().handles().window;
  RECT rect{};
  GetWindowRect(window, &rect);
  ExpectRect(rect, CentredEdge(GetSystemMetrics(SM_CXSCREEN), 450),
             CentredEdge(GetSystemMetrics(SM_CYSCREEN), 350), 450, 350);
  const LONG style = GetWindowLongA(window, GWL_STYLE);
  EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & WS_CLIPCHILDREN);
  EXPECT_TRUE(style & WS_VISIBLE);
  EXPECT_FALSE(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_CHILD));
  EXPECT_EQ(GetParent(window), nullptr);
  EXPECT_EQ(GetMenu(window), nullptr);
  EXPECT_EQ(WindowText(window), "");
}

TEST_F(MainWindowTest, TitleAndHeadersComeFromTheStringTable) {
  GlobalStringTable().Insert("SYS_WINDOWTITLE", "Client Repair");
  GlobalStringTable().Insert("STR_FILENAME", "Datei");
  GlobalStringTable().Insert("STR_FILESIZE", "Groesse");
  GlobalStringTable().Insert("STR_PROGRESS", "Fortschritt");
  GlobalStringTable().Insert("#", "number");
  Win32Window& controls = Open();
  EXPECT_EQ(WindowText(controls.handles().window), "Client Repair");
  EXPECT_EQ(GetColumn(controls.handles().list, 0).text, "#");
  EXPECT_EQ(GetColumn(controls.handles().list, 1).text, "Datei");
  EXPECT_EQ(GetColumn(controls.handles().list, 2).text, "Groesse");
  EXPECT_EQ(GetColumn(controls.handles().list, 3).text, "Fortschritt");
}

TEST_F(MainWindowTest, ControlsFillTheClientAreaAsLaidOut) {
  Win32Window& controls = Open();
  ASSERT_TRUE(controls.HasList());
  ASSERT_TRUE(controls.HasStatus());
  ASSERT_TRUE(controls.HasProgress());
  RECT client{};
  GetClientRect(controls.handles().window, &client);
  const int w = client.right;
  const int h = client.bottom;

  const std::vector<Child> children = Children(controls.handles().window);
  ASSERT_EQ(children.size(), 4u);
  int statics = 0;
  for (const Child& child : children) {
    SCOPED_TRACE(child.className);
    if (child.handle == controls.handles().list) {
      EXPECT_EQ(child.className, "SysListView32");
      ExpectRect(child.rect, 0, 0, w, h - 60);
      EXPECT_EQ(child.style & LVS_TYPEMASK, LVS_REPORT);
      EXPECT_TRUE(child.style & LVS_SINGLESEL);
      EXPECT_TRUE(child.style & LVS_SHOWSELALWAYS);
      EXPECT_TRUE(child.style & WS_VISIBLE);
    } else if (child.handle == controls.handles().status) {
      ++statics;
      EXPECT_EQ(child.className, "Static");
      ExpectRect(child.rect, 10, h - 50, w - 20, 20);
      EXPECT_FALSE(child.style & WS_DLGFRAME);
      EXPECT_EQ(WindowText(child.handle), "");
    } else if (child.handle == controls.handles().progress) {
      EXPECT_EQ(child.className, "msctls_progress32");
      ExpectRect(child.rect, 10, h - 30, w - 20, 20);
    } else {
      ++statics;
      EXPECT_EQ(child.className, "Static");  // the band that frames the two below
      ExpectRect(child.rect, 0, h - 60, w, 60);
      EXPECT_EQ(child.style & WS_DLGFRAME, WS_DLGFRAME);
    }
  }
  EXPECT_EQ(statics, 2);

  // The list and the status line share one 15-pixel Arial; the bar keeps its own.
  auto font = reinterpret_cast<HFONT>(SendMessageA(controls.handles().list, WM_GETFONT, 0, 0));
  ASSERT_NE(font, nullptr);
  EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(controls.handles().status, WM_GETFONT, 0, 0)),
            font);
  EXPECT_EQ(SendMessageA(controls.handles().progress, WM_GETFONT, 0, 0), 0);
  LOGFONTA logFont{};
  ASSERT_EQ(GetObjectA(font, sizeof(logFont), &logFont), static_cast<int>(sizeof(logFont)));
  EXPECT_EQ(logFont.lfHeight, 15);
  EXPECT_EQ(logFont.lfWeight, 400);
  EXPECT_STREQ(logFont.lfFaceName, "Arial");
}

// The controls draw with the font for as long as the window is on screen; once the user has
// closed it, the font goes with the window object.
TEST_F(MainWindowTest, FontOutlivesAWindowOnScreenAndGoesWithAClosedOne) {
  auto fontOf = [](const Win32Window& window) {
    return reinterpret_cast<HFONT>(SendMessageA(window.handles().list, WM_GETFONT, 0, 0));
  };
  Win32Window& onScreen = Open();
  HWND window = onScreen.handles().window;
  const HFONT kept = fontOf(onScreen);
  ASSERT_NE(kept, nullptr);
  controls_.reset();
  EXPECT_EQ(GetObjectType(kept), static_cast<DWORD>(OBJ_FONT));
  DestroyWindow(window);
  DeleteObject(kept);
  DrainMessages();

  Win32Window& closed = Open();
  const HFONT freed = fontOf(closed);
  ASSERT_NE(freed, nullptr);
  DestroyWindow(closed.handles().window);
  DrainMessages();
  EXPECT_EQ(GetObjectType(freed), static_cast<DWORD>(OBJ_FONT));
  controls_.reset();
  EXPECT_EQ(GetObjectType(freed), 0u);
}

TEST_F(MainWindowTest, ListHasGridLinesFullRowSelectAndFourLeftAlignedColumns) {
  HWND list = Open().handles().list;
  EXPECT_EQ(SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0), 0x21);
  const Column expected[] = {
      {LVCFMT_LEFT, 30, "#", 0},
      {LVCFMT_LEFT, 250, "File name", 1},
      {LVCFMT_LEFT, 70, "Size", 2},
      {LVCFMT_LEFT, 70, "Progress", 3},
  };
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const Column column = GetColumn(list, i);
    EXPECT_EQ(column.format, expected[i].format);
    EXPECT_EQ(column.width, expected[i].width);
    EXPECT_EQ(column.text, expected[i].text);
    EXPECT_EQ(column.subItem, expected[i].subItem);
  }
  EXPECT_EQ(GetColumn(list, 4).text, "<none>");
  EXPECT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 0);
}

TEST_F(MainWindowTest, BarCountsInThousandthsAndShowsLargerValuesFull) {
  Win32Window& controls = Open();
  PBRANGE range{};
  SendMessageA(controls.handles().progress, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  EXPECT_EQ(range.iLow, 0);
  EXPECT_EQ(range.iHigh, 1000);
  EXPECT_EQ(SendMessageA(controls.handles().progress, PBM_GETPOS, 0, 0), 0);
  controls.SetProgressPosition(333);
  EXPECT_EQ(SendMessageA(controls.handles().progress, PBM_GETPOS, 0, 0), 333);
  controls.SetProgressPosition(1700);
  EXPECT_EQ(SendMessageA(controls.handles().progress, PBM_GETPOS, 0, 0), 1000);
}

TEST_F(MainWindowTest, CellsAreWrittenAndReadBackWithinTheCallersBuffer) {
  Win32Window& controls = Open();
  controls.InsertRow(0, "1");
  controls.SetCell(0, 1, "data\\file1.txt");
  controls.SetCell(0, 2, "26 B ");
  controls.SetCell(0, 3, "checking...");
  controls.InsertRow(1, "2");
  controls.SetCell(1, 3, nullptr);
  EXPECT_EQ(SendMessageA(controls.handles().list, LVM_GETITEMCOUNT, 0, 0), 2);

  char buffer[512];
  const char* expected[] = {"1", "data\\file1.txt", "26 B ", "checking..."};
  for (int subItem = 0; subItem < 4; ++subItem) {
    std::memset(buffer, 0, sizeof(buffer));
    controls.GetCell(0, subItem, buffer, sizeof(buffer));
    EXPECT_STREQ(buffer, expected[subItem]);
  }
  std::memset(buffer, 0, sizeof(buffer));
  controls.GetCell(1, 3, buffer, sizeof(buffer));
  EXPECT_STREQ(buffer, "");

  // A null text empties a cell that had one.
  controls.SetCell(0, 3, nullptr);
  std::memset(buffer, 'x', sizeof(buffer));
  controls.GetCell(0, 3, buffer, sizeof(buffer));
  EXPECT_STREQ(buffer, "");

  // A short buffer gets a cut, terminated text and nothing past its end.
  controls.SetCell(0, 3, "invalid");
  char small[8];
  std::memset(small, '#', sizeof(small));
  controls.GetCell(0, 3, small, 4);
  EXPECT_STREQ(small, "inv");
  EXPECT_EQ(small[4], '#');

  // A row that does not exist leaves the buffer as it was; setting it changes nothing.
  std::strcpy(buffer, "untouched");
  controls.GetCell(2, 3, buffer, sizeof(buffer));
  controls.GetCell(-1, 3, buffer, sizeof(buffer));
  EXPECT_STREQ(buffer, "untouched");
  controls.SetCell(5, 3, "Ok");
  EXPECT_EQ(SendMessageA(controls.handles().list, LVM_GETITEMCOUNT, 0, 0), 2);
}

TEST_F(MainWindowTest, EnsureVisibleScrollsTheRowIntoViewAndIgnoresNoRow) {
  Win32Window& controls = Open();
  for (int i = 0; i < 200; ++i) controls.InsertRow(i, std::to_string(i + 1).c_str());
  EXPECT_EQ(SendMessageA(controls.handles().list, LVM_GETTOPINDEX, 0, 0), 0);
  controls.EnsureVisible(150);
  const LRESULT top = SendMessageA(controls.handles().list, LVM_GETTOPINDEX, 0, 0);
  const LRESULT perPage = SendMessageA(controls.handles().list, LVM_GETCOUNTPERPAGE, 0, 0);
  ASSERT_GT(perPage, 0);
  EXPECT_LE(top, 150);
  EXPECT_LT(150, top + perPage);  // wholly visible, not just partly
  controls.EnsureVisible(-1);
  EXPECT_EQ(SendMessageA(controls.handles().list, LVM_GETTOPINDEX, 0, 0), top);
}

TEST_F(MainWindowTest, EndRunFromAnotherThreadPostsTheQuitAndKeepsTheWindow) {
  Win32Window& controls = Open();
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    controls.EndRun();
    returned = true;
  });
  // The sent message is handled inside this thread's message retrieval.
  const bool quit = PumpUntil([](const MSG& message) { return message.message == WM_QUIT; });
  worker.join();
  EXPECT_TRUE(quit);
  EXPECT_TRUE(returned);
  EXPECT_TRUE(IsWindow(controls.handles().window));
  EXPECT_TRUE(IsWindowVisible(controls.handles().window));
}

// Pumps this thread's messages until `done` is set; true when a quit request came by.
bool PumpWhileWaitingFor(const std::atomic<bool>& done) {
  bool quit = false;
  MSG message{};
  const DWORD start = GetTickCount();
  for (bool last = false; !last;) {
    last = done.load() || GetTickCount() - start > 10000;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      quit = quit || message.message == WM_QUIT;
      DispatchMessageA(&message);
    }
    Sleep(5);
  }
  return quit;
}

TEST_F(MainWindowTest, OnceTheLoopHasEndedALateEndOfRunPostsNoQuit) {
  Win32Window& controls = Open();
  controls.MarkLoopEnded();
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    controls.EndRun();
    // What a worker that passed EndRun's test just before the loop ended sends.
    SendMessageA(controls.handles().window, WM_DESTROY, 0, 0);
    returned = true;
  });
  const bool quit = PumpWhileWaitingFor(returned);
  worker.join();
  EXPECT_TRUE(returned);
  EXPECT_FALSE(quit) << "a quit request would end the outcome box on screen";
  EXPECT_TRUE(IsWindow(controls.handles().window));
}

TEST_F(MainWindowTest, QuestionBoxIsOwnedByTheWindowAndReportsTheAnswer) {
  Win32Window& controls = Open();
  {
    BoxAnswerer answerer("Confirm", IDYES);
    EXPECT_EQ(controls.ShowMessageBox("Proceed?", "Confirm", MessageBoxKind::kYesNoQuestion),
              MessageBoxAnswer::kYes);
    answerer.Join();
    ASSERT_TRUE(answerer.found());
    EXPECT_EQ(answerer.owner(), controls.handles().window);
    EXPECT_TRUE(answerer.hasButton(IDYES));
    EXPECT_TRUE(answerer.hasButton(IDNO));
    EXPECT_FALSE(answerer.hasButton(IDOK));
    EXPECT_EQ(answerer.icon(), LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_QUESTION)));
  }
  BoxAnswerer answerer("Confirm", IDNO);
  EXPECT_EQ(controls.ShowMessageBox("Proceed?", "Confirm", MessageBoxKind::kYesNoQuestion),
            MessageBoxAnswer::kNo);
  answerer.Join();
  EXPECT_TRUE(answerer.found());
}

TEST_F(MainWindowTest, ErrorAndInformationBoxesHaveOneButtonAndTheirIcon) {
  Win32Window& controls = Open();
  struct Case {
    MessageBoxKind kind;
    LPCSTR icon;
  };
  for (const Case& c :
       {Case{MessageBoxKind::kOkError, reinterpret_cast<LPCSTR>(IDI_ERROR)},
        Case{MessageBoxKind::kOkInformation, reinterpret_cast<LPCSTR>(IDI_INFORMATION)}}) {
    BoxAnswerer answerer("Outcome", IDOK);
    EXPECT_EQ(controls.ShowMessageBox("Text", "Outcome", c.kind), MessageBoxAnswer::kOk);
    answerer.Join();
    ASSERT_TRUE(answerer.found());
    EXPECT_EQ(answerer.owner(), controls.handles().window);
    EXPECT_TRUE(answerer.hasButton(IDOK));
    EXPECT_FALSE(answerer.hasButton(IDYES));
    EXPECT_FALSE(answerer.hasButton(IDNO));
    EXPECT_EQ(answerer.icon(), LoadIconA(nullptr, c.icon));
  }
}

TEST_F(MainWindowTest, BoxesStandAloneOnceTheUserClosedTheWindow) {
  Win32Window& controls = Open();
  DestroyWindow(controls.handles().window);
  DrainMessages();
  controls.Activate();  // nothing to bring forward; must not fail
  BoxAnswerer answerer("Error", IDOK);
  EXPECT_EQ(controls.ShowMessageBox("Text", "Error", MessageBoxKind::kOkError),
            MessageBoxAnswer::kOk);
  answerer.Join();
  ASSERT_TRUE(answerer.found());
  EXPECT_EQ(answerer.owner(), nullptr);
}

TEST_F(MainWindowTest, ActivateRestoresAMinimisedWindowAndBringsItForward) {
  Win32Window& controls = Open();
  ShowWindow(controls.handles().window, SW_MINIMIZE);
  DrainMessages();
  ASSERT_TRUE(IsIconic(controls.handles().window));
  controls.Activate();
  DrainMessages();
  EXPECT_FALSE(IsIconic(controls.handles().window));
  EXPECT_EQ(GetForegroundWindow(), controls.handles().window);
}

}  // namespace
}  // namespace repair
