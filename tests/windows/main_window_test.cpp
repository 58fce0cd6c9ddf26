// The real progress window under Wine: its class, place and controls, and the portable
// interface over them.
#include "platform/win32/main_window_win32.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "strings/string_table.h"
#include "windows/win32_test_util.h"
#include "ui/window_texts.h"

namespace repair::platform {
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
    if (controls_ != nullptr && IsWindow(controls_->window())) DestroyWindow(controls_->window());
    controls_.reset();
    DrainMessages();  // the destroyed window's quit request
    GlobalStringTable().Clear();
  }
  Win32WindowControls& Open() {
    controls_ = Win32WindowControls::Create(GetModuleHandleA(nullptr), LookupWindowTexts());
    EXPECT_NE(controls_, nullptr);
    return *controls_;
  }

  std::unique_ptr<Win32WindowControls> controls_;
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
  HWND window = Open().window();
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
  Win32WindowControls& controls = Open();
  EXPECT_EQ(WindowText(controls.window()), "Client Repair");
  EXPECT_EQ(GetColumn(controls.list(), 0).text, "#");
  EXPECT_EQ(GetColumn(controls.list(), 1).text, "Datei");
  EXPECT_EQ(GetColumn(controls.list(), 2).text, "Groesse");
  EXPECT_EQ(GetColumn(controls.list(), 3).text, "Fortschritt");
}

TEST_F(MainWindowTest, ControlsFillTheClientAreaAsLaidOut) {
  Win32WindowControls& controls = Open();
  ASSERT_TRUE(controls.HasList());
  ASSERT_TRUE(controls.HasStatus());
  ASSERT_TRUE(controls.HasProgress());
  RECT client{};
  GetClientRect(controls.window(), &client);
  const int w = client.right;
  const int h = client.bottom;

  const std::vector<Child> children = Children(controls.window());
  ASSERT_EQ(children.size(), 4u);
  int statics = 0;
  for (const Child& child : children) {
    SCOPED_TRACE(child.className);
    if (child.handle == controls.list()) {
      EXPECT_EQ(child.className, "SysListView32");
      ExpectRect(child.rect, 0, 0, w, h - 60);
      EXPECT_EQ(child.style & LVS_TYPEMASK, LVS_REPORT);
      EXPECT_TRUE(child.style & LVS_SINGLESEL);
      EXPECT_TRUE(child.style & LVS_SHOWSELALWAYS);
      EXPECT_TRUE(child.style & WS_VISIBLE);
    } else if (child.handle == controls.status()) {
      ++statics;
      EXPECT_EQ(child.className, "Static");
      ExpectRect(child.rect, 10, h - 50, w - 20, 20);
      EXPECT_FALSE(child.style & WS_DLGFRAME);
      EXPECT_EQ(WindowText(child.handle), "");
    } else if (child.handle == controls.progress()) {
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
  auto font = reinterpret_cast<HFONT>(SendMessageA(controls.list(), WM_GETFONT, 0, 0));
  ASSERT_NE(font, nullptr);
  EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(controls.status(), WM_GETFONT, 0, 0)), font);
  EXPECT_EQ(SendMessageA(controls.progress(), WM_GETFONT, 0, 0), 0);
  LOGFONTA logFont{};
  ASSERT_EQ(GetObjectA(font, sizeof(logFont), &logFont), static_cast<int>(sizeof(logFont)));
  EXPECT_EQ(logFont.lfHeight, 15);
  EXPECT_EQ(logFont.lfWeight, 400);
  EXPECT_STREQ(logFont.lfFaceName, "Arial");
}

TEST_F(MainWindowTest, ListHasGridLinesFullRowSelectAndFourLeftAlignedColumns) {
  HWND list = Open().list();
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
  Win32WindowControls& controls = Open();
  PBRANGE range{};
  SendMessageA(controls.progress(), PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  EXPECT_EQ(range.iLow, 0);
  EXPECT_EQ(range.iHigh, 1000);
  EXPECT_EQ(SendMessageA(controls.progress(), PBM_GETPOS, 0, 0), 0);
  controls.SetProgressPosition(333);
  EXPECT_EQ(SendMessageA(controls.progress(), PBM_GETPOS, 0, 0), 333);
  controls.SetProgressPosition(1700);
  EXPECT_EQ(SendMessageA(controls.progress(), PBM_GETPOS, 0, 0), 1000);
}

TEST_F(MainWindowTest, CellsAreWrittenAndReadBackWithinTheCallersBuffer) {
  Win32WindowControls& controls = Open();
  controls.InsertRow(0, "1");
  controls.SetCell(0, 1, "data\\file1.txt");
  controls.SetCell(0, 2, "26 B ");
  controls.SetCell(0, 3, "checking...");
  controls.InsertRow(1, "2");
  controls.SetCell(1, 3, nullptr);
  EXPECT_EQ(SendMessageA(controls.list(), LVM_GETITEMCOUNT, 0, 0), 2);

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
  EXPECT_EQ(SendMessageA(controls.list(), LVM_GETITEMCOUNT, 0, 0), 2);
}

TEST_F(MainWindowTest, EnsureVisibleScrollsTheRowIntoViewAndIgnoresNoRow) {
  Win32WindowControls& controls = Open();
  for (int i = 0; i < 200; ++i) controls.InsertRow(i, std::to_string(i + 1).c_str());
  EXPECT_EQ(SendMessageA(controls.list(), LVM_GETTOPINDEX, 0, 0), 0);
  controls.EnsureVisible(150);
  const LRESULT top = SendMessageA(controls.list(), LVM_GETTOPINDEX, 0, 0);
  const LRESULT perPage = SendMessageA(controls.list(), LVM_GETCOUNTPERPAGE, 0, 0);
  ASSERT_GT(perPage, 0);
  EXPECT_LE(top, 150);
  EXPECT_LT(150, top + perPage);  // wholly visible, not just partly
  controls.EnsureVisible(-1);
  EXPECT_EQ(SendMessageA(controls.list(), LVM_GETTOPINDEX, 0, 0), top);
}

TEST_F(MainWindowTest, EndRunFromAnotherThreadPostsTheQuitAndKeepsTheWindow) {
  Win32WindowControls& controls = Open();
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
  EXPECT_TRUE(IsWindow(controls.window()));
  EXPECT_TRUE(IsWindowVisible(controls.window()));
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
  Win32WindowControls& controls = Open();
  controls.MarkLoopEnded();
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    controls.EndRun();
    // What a worker that passed EndRun's test just before the loop ended sends.
    SendMessageA(controls.window(), WM_DESTROY, 0, 0);
    returned = true;
  });
  const bool quit = PumpWhileWaitingFor(returned);
  worker.join();
  EXPECT_TRUE(returned);
  EXPECT_FALSE(quit) << "a quit request would end the outcome box on screen";
  EXPECT_TRUE(IsWindow(controls.window()));
}

TEST_F(MainWindowTest, QuestionBoxIsOwnedByTheWindowAndReportsTheAnswer) {
  Win32WindowControls& controls = Open();
  {
    BoxAnswerer answerer("Confirm", IDYES);
    EXPECT_EQ(controls.ShowMessageBox("Proceed?", "Confirm", MessageBoxKind::kYesNoQuestion),
              MessageBoxAnswer::kYes);
    answerer.Join();
    ASSERT_TRUE(answerer.found());
    EXPECT_EQ(answerer.owner(), controls.window());
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
  Win32WindowControls& controls = Open();
  struct Case {
    MessageBoxKind kind;
    LPCSTR icon;
  };
  for (const Case& c : {Case{MessageBoxKind::kOkError, reinterpret_cast<LPCSTR>(IDI_ERROR)},
                        Case{MessageBoxKind::kOkInformation,
                             reinterpret_cast<LPCSTR>(IDI_INFORMATION)}}) {
    BoxAnswerer answerer("Outcome", IDOK);
    EXPECT_EQ(controls.ShowMessageBox("Text", "Outcome", c.kind), MessageBoxAnswer::kOk);
    answerer.Join();
    ASSERT_TRUE(answerer.found());
    EXPECT_EQ(answerer.owner(), controls.window());
    EXPECT_TRUE(answerer.hasButton(IDOK));
    EXPECT_FALSE(answerer.hasButton(IDYES));
    EXPECT_FALSE(answerer.hasButton(IDNO));
    EXPECT_EQ(answerer.icon(), LoadIconA(nullptr, c.icon));
  }
}

TEST_F(MainWindowTest, BoxesStandAloneOnceTheUserClosedTheWindow) {
  Win32WindowControls& controls = Open();
  DestroyWindow(controls.window());
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
  Win32WindowControls& controls = Open();
  ShowWindow(controls.window(), SW_MINIMIZE);
  DrainMessages();
  ASSERT_TRUE(IsIconic(controls.window()));
  controls.Activate();
  DrainMessages();
  EXPECT_FALSE(IsIconic(controls.window()));
  EXPECT_EQ(GetForegroundWindow(), controls.window());
}

}  // namespace
}  // namespace repair::platform
