// The terminal window: the cells, the plain output, the screen it composes and what it
// writes, message boxes from a pipe and from a pseudo-terminal.
#include "ui/terminal/terminal_window.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/posix/file_descriptor.h"
#include "strings/string_table.h"
#include "ui/terminal/terminal_window_test_helper.h"
#include "ui/terminal/text_fit.h"
#include "ui/window_texts.h"

namespace repair {
namespace {

using terminal::DisplayWidth;

// A pipe whose read end does not block, as the tests drain it.
struct Pipe {
  platform::FileDescriptor readEnd;
  platform::FileDescriptor writeEnd;
  Pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) == 0) {
      readEnd.Reset(fds[0]);
      writeEnd.Reset(fds[1]);
      ::fcntl(readFd(), F_SETFL, O_NONBLOCK);
    }
  }
  int readFd() const { return readEnd.get(); }
  int writeFd() const { return writeEnd.get(); }
  void CloseWrite() { writeEnd.Reset(); }
  std::string Drain() const {
    std::string text;
    char chunk[4096];
    ssize_t n;
    while ((n = ::read(readFd(), chunk, sizeof(chunk))) > 0) {
      text.append(chunk, static_cast<std::size_t>(n));
    }
    return text;
  }
  void Put(const std::string& text) const {
    ASSERT_EQ(::write(writeFd(), text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
};

// The window drawn in place on a screen of a fixed size, over two pipes.
TerminalOptions ScreenOptions(const Pipe& output, const Pipe& input, int columns, int rows) {
  TerminalOptions options;
  options.outputFd = output.writeFd();
  options.inputFd = input.readFd();
  options.screen = true;
  options.columns = columns;
  options.rows = rows;
  options.catchSignals = false;
  return options;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

class PlainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GlobalStringTable().Clear();
    TerminalOptions options;
    options.outputFd = output.writeFd();
    options.inputFd = input.readFd();
    options.catchSignals = false;
    window = TerminalWindow::Create(options, LookupWindowTexts());
    ASSERT_NE(window, nullptr);
    ASSERT_FALSE(TerminalWindowTestHelper::IsScreen(*window));
    // Input is read with poll(): a blocking read end is what a real pipe gives.
    ::fcntl(input.readFd(), F_SETFL, 0);
  }
  void AddRow(int row, const char* name, const char* size) {
    window->InsertRow(row, std::to_string(row + 1).c_str());
    window->SetCell(row, 1, name);
    window->SetCell(row, 2, size);
    window->SetCell(row, 3, nullptr);
  }

  Pipe output;
  Pipe input;
  std::unique_ptr<TerminalWindow> window;
};

TEST_F(PlainWindowTest, CellsHoldWhatWasSet) {
  AddRow(0, "data\\a.txt", "20 B ");
  window->SetCell(0, 3, "checking..");
  char buffer[512];
  window->GetCell(0, 1, buffer, sizeof(buffer));
  EXPECT_STREQ(buffer, "data\\a.txt");
  window->GetCell(0, 3, buffer, sizeof(buffer));
  EXPECT_STREQ(buffer, "checking..");
  window->SetCell(0, 3, nullptr);
  window->GetCell(0, 3, buffer, sizeof(buffer));
  EXPECT_STREQ(buffer, "");

  // No such row or sub-item: nothing stored, the buffer left as it is.
  window->SetCell(1, 1, "ghost");
  window->SetCell(0, 4, "ghost");
  window->SetCell(-1, 1, "ghost");
  std::strcpy(buffer, "untouched");
  window->GetCell(1, 1, buffer, sizeof(buffer));
  window->GetCell(0, 4, buffer, sizeof(buffer));
  window->GetCell(-1, 0, buffer, sizeof(buffer));
  EXPECT_STREQ(buffer, "untouched");

  // A short buffer gets a terminated prefix and not one byte more.
  char small[8];
  std::memset(small, 'G', sizeof(small));
  window->GetCell(0, 1, small, 4);
  EXPECT_STREQ(small, "dat");
  EXPECT_EQ(small[4], 'G');
  window->GetCell(0, 1, small, 0);
  EXPECT_EQ(small[0], 'd');

  // Rows go where they are inserted; past the end they are appended.
  window->InsertRow(0, "a");
  window->InsertRow(9, "c");
  window->InsertRow(-1, "never");
  std::string order;
  for (int row = 0; row < 4; ++row) {
    std::strcpy(buffer, "-");
    window->GetCell(row, 0, buffer, sizeof(buffer));
    order += buffer;
  }
  EXPECT_EQ(order, "a1c-");
}

TEST_F(PlainWindowTest, PrintsStatusChangesNotDots) {
  for (const char* status : {"Ready", "Ready.", "Ready..", "Checking version", "Checking version.",
                             "Ready", "Finished....."}) {
    window->SetStatusText(status);
  }
  EXPECT_EQ(Lines(output.Drain()),
            (std::vector<std::string>{"Ready", "Checking version", "Ready", "Finished"}));
}

TEST_F(PlainWindowTest, PrintsEachFileOnceWhenItsCheckOrDownloadIsComplete) {
  AddRow(0, "data\\intact.txt", "1 KB ");
  AddRow(1, "data\\bad.txt", "20 B ");
  AddRow(2, "data\\slow.txt", "3 MB ");
  for (const char* text : {"checking", "checking.", "Ok", "Ok"}) window->SetCell(0, 3, text);
  for (const char* text : {"invalid", "0 %", "57 %", "100 %", "100 %"}) window->SetCell(1, 3, text);
  for (const char* text : {"99 %", "1 00 %", "100%"}) window->SetCell(2, 3, text);
  window->SetCell(1, 3, "120 %");  // more bytes than listed: still the same file
  EXPECT_EQ(Lines(output.Drain()), (std::vector<std::string>{
                                       "#1 data\\intact.txt (1 KB): Ok",
                                       "#2 data\\bad.txt (20 B): 100 %",
                                   }));
}

TEST_F(PlainWindowTest, MessageBoxTextsArePrintedAsTheyStand) {
  using Text = std::vector<std::string>;
  const struct {
    const char* text;
    Text lines;
  } cases[] = {
      {"Version information cannot be verified.  Please reinstall the client.",
       {"Error: Version information cannot be verified.  Please reinstall the client."}},
      {"It begins.\nProceed?", {"Error: It begins.", "       Proceed?"}},
      {"One\r\n\n  Two \n", {"Error: One", "", "         Two "}},
      {"", {"Error: "}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(window->ShowMessageBox(c.text, "Error", MessageBoxKind::kOkError),
              MessageBoxAnswer::kOk);
    EXPECT_EQ(Lines(output.Drain()), c.lines) << c.text;
  }
}

TEST_F(PlainWindowTest, QuestionsSayTheirDefaultAndReadOneLineEach) {
  input.Put("yes please\nn\n\nY");
  input.CloseWrite();
  const char* question = "It begins.\nProceed?";
  std::vector<MessageBoxAnswer> answers;
  for (int i = 0; i < 5; ++i) {
    answers.push_back(window->ShowMessageBox(question, "Confirm", MessageBoxKind::kYesNoQuestion));
  }
  EXPECT_EQ(answers, (std::vector<MessageBoxAnswer>{MessageBoxAnswer::kYes, MessageBoxAnswer::kNo,
                                                    MessageBoxAnswer::kNo, MessageBoxAnswer::kYes,
                                                    MessageBoxAnswer::kNo}));  // then end of input
  const std::vector<std::string> lines = Lines(output.Drain());
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[0], "Confirm: It begins.");
  EXPECT_EQ(lines[1], "         Proceed? [y/N]");
}

TEST_F(PlainWindowTest, OutputCarriesNoControlCharacters) {
  AddRow(0, "evil\x1b]0;title\x07name", "1 B ");
  window->SetCell(0, 3, "Ok");
  window->SetStatusText("status\x1b[2J");
  window->ShowMessageBox("text\x1b[H", "caption", MessageBoxKind::kOkError);
  // The failure's detail names paths and URLs from the manifest: printed under the error text,
  // as safe as the rest.
  window->ShowFailureDetail("move /game/\x1b[2Ja.dat: Permission denied (OS error 13)");
  const std::string text = output.Drain();
  EXPECT_NE(
      text.find("caption: text?[H\n  move /game/?[2Ja.dat: Permission denied (OS error 13)\n"),
      std::string::npos)
      << text;
  for (char c : text) EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << int(c);
  EXPECT_NE(text.find("evil?]0;title?name"), std::string::npos) << text;
}

class ScreenWindowTest : public ::testing::Test {
 protected:
  static constexpr int kColumns = 60;
  static constexpr int kRows = 12;  // 7 list rows
  void SetUp() override {
    GlobalStringTable().Clear();
    GlobalStringTable().Insert("SYS_WINDOWTITLE", "Client repair");
    GlobalStringTable().Insert("STR_FILESIZE", "Taille");
    window =
        TerminalWindow::Create(ScreenOptions(output, input, kColumns, kRows), LookupWindowTexts());
    ASSERT_NE(window, nullptr);
    ::fcntl(input.readFd(), F_SETFL, 0);
    ASSERT_NE(output.Drain().find("\x1b[?1049h"), std::string::npos);  // alternate screen
  }
  void TearDown() override { GlobalStringTable().Clear(); }
  void AddRows(int count) {
    for (int row = 0; row < count; ++row) {
      window->InsertRow(row, std::to_string(row + 1).c_str());
      window->SetCell(row, 1, ("data\\file" + std::to_string(row + 1) + ".txt").c_str());
      window->SetCell(row, 2, "13 B ");
    }
  }
  std::string Screen() const {
    std::string all;
    for (const std::string& line : TerminalWindowTestHelper::ScreenText(*window))
      all += line + "\n";
    return all;
  }

  Pipe output;
  Pipe input;
  std::unique_ptr<TerminalWindow> window;
};

TEST_F(ScreenWindowTest, ComposesTheWindowToTheTerminalSize) {
  AddRows(3);
  window->SetCell(1, 3, "checking...");
  window->SetStatusText("Checking file integrity...");
  window->SetProgressPosition(500);
  const std::vector<std::string> lines = TerminalWindowTestHelper::ScreenText(*window);
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kRows));
  for (const std::string& line : lines)
    EXPECT_EQ(DisplayWidth(line), static_cast<std::size_t>(kColumns));
  EXPECT_EQ(lines[0].substr(0, 14), " Client repair");
  EXPECT_EQ(lines[1].substr(0, 16), "#     File name ");
  EXPECT_NE(lines[1].find(" Taille "), std::string::npos);
  EXPECT_NE(lines[1].find(" Progress"), std::string::npos);
  EXPECT_EQ(lines[3].substr(0, 20), "2     data\\file2.txt");
  EXPECT_NE(lines[3].find("13 B      checking..."), std::string::npos) << lines[3];
  EXPECT_EQ(lines[kRows - 2].substr(0, 25), " Checking file integrity.");
  const std::string& bar = lines[kRows - 1];
  EXPECT_EQ(bar.substr(0, 2), " [");
  EXPECT_EQ(std::count(bar.begin(), bar.end(), '#'), 25);  // half of 50
  EXPECT_EQ(std::count(bar.begin(), bar.end(), '.'), 25);
  EXPECT_NE(bar.find("] 50 %"), std::string::npos);

  window->SetProgressPosition(1400);
  EXPECT_NE(TerminalWindowTestHelper::ScreenText(*window)[kRows - 1].find("##] 100 %"),
            std::string::npos);
  window->SetProgressPosition(-5);
  EXPECT_NE(TerminalWindowTestHelper::ScreenText(*window)[kRows - 1].find("[.."),
            std::string::npos);
}

TEST_F(ScreenWindowTest, RowNumbersAreNeverCut) {
  window->InsertRow(0, "99999");
  window->InsertRow(1, "123456");
  window->SetCell(1, 1, "data\\file.txt");
  std::vector<std::string> lines = TerminalWindowTestHelper::ScreenText(*window);
  EXPECT_EQ(lines[1].substr(0, 7), "#      ");
  EXPECT_EQ(lines[2].substr(0, 7), "99999  ");
  EXPECT_EQ(lines[3].substr(0, 21), "123456 data\\file.txt ");
  EXPECT_EQ(DisplayWidth(lines[3]), static_cast<std::size_t>(kColumns));
  window->SetCell(0, 0, "12345678901234");  // no 32-bit row number is that long
  EXPECT_EQ(TerminalWindowTestHelper::ScreenText(*window)[2].substr(0, 11), "1234567890 ");
}

TEST_F(ScreenWindowTest, LongNamesKeepTheirEndAndControlsNeverReachTheTerminal) {
  AddRows(1);
  window->SetCell(0, 1, "data\\a\\very\\deep\\folder\\with\\a\\long\\path\\\x1b[31mred.txt");
  const std::string row = TerminalWindowTestHelper::ScreenText(*window)[2];
  EXPECT_EQ(DisplayWidth(row), static_cast<std::size_t>(kColumns));
  EXPECT_EQ(row.substr(6, 3), "...") << row;
  EXPECT_NE(row.find("\\path\\?[31mred.txt"), std::string::npos) << row;
  EXPECT_EQ(output.Drain().find("\x1b[31m"), std::string::npos);
}

TEST_F(ScreenWindowTest, ScrollsTheRowToMakeVisibleIntoView) {
  AddRows(30);
  auto firstRowNumber = [&] {
    return std::atoi(TerminalWindowTestHelper::ScreenText(*window)[2].c_str());
  };
  auto lastRowNumber = [&] {
    return std::atoi(TerminalWindowTestHelper::ScreenText(*window)[8].c_str());
  };
  EXPECT_EQ(firstRowNumber(), 1);
  window->EnsureVisible(20);
  EXPECT_EQ(lastRowNumber(), 21);
  window->EnsureVisible(18);  // in view already: no scrolling
  EXPECT_EQ(lastRowNumber(), 21);
  window->EnsureVisible(2);
  EXPECT_EQ(firstRowNumber(), 3);
  window->EnsureVisible(-1);
  window->EnsureVisible(30);
  EXPECT_EQ(firstRowNumber(), 3);
  window->EnsureVisible(29);
  EXPECT_EQ(lastRowNumber(), 30);
}

TEST_F(ScreenWindowTest, WritesOnlyChangesAndBatchesWhileRedrawIsOff) {
  AddRows(3);
  output.Drain();
  window->SetStatusText("Ready");
  const std::string statusOnly = output.Drain();
  EXPECT_NE(statusOnly.find(" Ready"), std::string::npos);
  EXPECT_EQ(statusOnly.find("File name"), std::string::npos) << "unchanged lines were redrawn";

  window->SetStatusText("Ready");
  window->SetCell(0, 3, nullptr);
  window->SetProgressPosition(0);
  EXPECT_EQ(output.Drain(), "") << "nothing changed, yet something was written";

  window->SetListRedraw(false);
  window->SetCell(0, 3, "Ok");
  window->SetCell(1, 3, "invalid");
  window->EnsureVisible(2);
  EXPECT_EQ(output.Drain(), "");
  window->SetListRedraw(true);
  const std::string frame = output.Drain();
  EXPECT_NE(frame.find("Ok"), std::string::npos);
  EXPECT_NE(frame.find("invalid"), std::string::npos);
  EXPECT_EQ(output.Drain(), "");
}

TEST_F(ScreenWindowTest, BoxIsFramedOverTheWindowAndGoesAwayAfterTheAnswer) {
  AddRows(3);
  output.Drain();
  input.Put("y\n");
  EXPECT_EQ(window->ShowMessageBox("Files will be replaced. \nProceed?", "Confirm",
                                   MessageBoxKind::kYesNoQuestion),
            MessageBoxAnswer::kYes);
  const std::string drawn = output.Drain();
  EXPECT_NE(drawn.find("+- Confirm ---"), std::string::npos) << drawn;
  EXPECT_NE(drawn.find("| Files will be replaced."), std::string::npos);
  EXPECT_NE(drawn.find("| Proceed?"), std::string::npos);
  EXPECT_NE(drawn.find("[ Yes: y ]   [ No: n ]"), std::string::npos);
  EXPECT_EQ(Screen().find("Confirm"), std::string::npos) << "the box stayed after its answer";

  input.CloseWrite();  // end of input closes an OK box too
  EXPECT_EQ(window->ShowMessageBox("Done.", "Confirm", MessageBoxKind::kOkInformation),
            MessageBoxAnswer::kOk);
}

TEST_F(ScreenWindowTest, ReleasedTerminalGetsTheOutcomeAsPlainLines) {
  window->SetStatusText("Finished...");
  input.Put("n\n");
  window->ShowMessageBox("Proceed?", "Confirm", MessageBoxKind::kYesNoQuestion);
  output.Drain();
  window->ReleaseTerminal();
  const std::string text = output.Drain();
  EXPECT_EQ(text.rfind("\x1b[0m\x1b[?7h\x1b[?25h\x1b[?1049l", 0), 0u) << text;
  EXPECT_NE(text.find("Finished\nConfirm: Proceed? [no]\n"), std::string::npos) << text;
  EXPECT_FALSE(TerminalWindowTestHelper::IsScreen(*window));
  window->SetStatusText("Later");
  EXPECT_EQ(output.Drain(), "Later\n");
  window->ReleaseTerminal();
  EXPECT_EQ(output.Drain(), "");
}

// Every size down to one cell: lines never wider than the terminal, no cut beyond a text.
TEST(TinyScreenTest, EverySizeFitsWithABoxOnTop) {
  GlobalStringTable().Clear();
  for (int columns = 1; columns <= 24; columns += 1) {
    for (int rows = 1; rows <= 9; ++rows) {
      Pipe output;
      Pipe input;
      auto window =
          TerminalWindow::Create(ScreenOptions(output, input, columns, rows), LookupWindowTexts());
      ASSERT_NE(window, nullptr);
      window->InsertRow(0, "1");
      window->SetCell(0, 1, "data\\a\\long\\name.txt");
      window->SetStatusText("Checking file integrity...");
      window->SetProgressPosition(700);
      for (const std::string& line : TerminalWindowTestHelper::ScreenText(*window)) {
        EXPECT_EQ(DisplayWidth(line), static_cast<std::size_t>(columns)) << columns << "x" << rows;
      }
      EXPECT_LE(TerminalWindowTestHelper::ScreenText(*window).size(),
                static_cast<std::size_t>(rows));
      input.Put("n\n");
      EXPECT_EQ(window->ShowMessageBox("A long question. \nProceed?", "A long caption",
                                       MessageBoxKind::kYesNoQuestion),
                MessageBoxAnswer::kNo);
      output.Drain();
    }
  }
}

// A pseudo-terminal: raw keys, the modes given back, and questions of the plain output.
class KeyboardWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GlobalStringTable().Clear();
    masterFd.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    master = masterFd.get();
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    slaveFd.Reset(::open(::ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC));
    slave = slaveFd.get();
    ASSERT_GE(slave, 0);
    ASSERT_EQ(::tcgetattr(slave, &before), 0);
    reader = std::thread([this] {
      char chunk[4096];
      for (;;) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 50) > 0) {
          ssize_t n = ::read(master, chunk, sizeof(chunk));
          if (n <= 0) break;
          std::lock_guard<std::mutex> lock(mutex);
          seen.append(chunk, static_cast<std::size_t>(n));
        } else if (stop) {
          break;
        }
      }
    });
  }
  void TearDown() override {
    window.reset();
    stop = true;
    reader.join();
    slaveFd.Reset();
    masterFd.Reset();
  }
  void Open() {
    TerminalOptions options;
    options.outputFd = slave;
    options.inputFd = slave;
    options.screen = true;
    options.keyboard = true;
    options.columns = 70;
    options.rows = 16;
    options.catchSignals = false;
    window = TerminalWindow::Create(options, LookupWindowTexts());
    ASSERT_NE(window, nullptr);
  }
  // Types `keys` once the terminal shows `text` (what it showed before is forgotten); fails
  // the test when it never shows.
  std::thread TypeWhenShown(const std::string& text, const std::string& keys) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      seen.clear();
    }
    return std::thread([this, text, keys] {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      for (;;) {
        {
          std::lock_guard<std::mutex> lock(mutex);
          if (seen.find(text) != std::string::npos) break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
          ADD_FAILURE() << "the terminal never showed \"" << text << "\"";
          return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      ASSERT_EQ(::write(master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    });
  }

  platform::FileDescriptor masterFd;  // the pseudo-terminal's two sides
  platform::FileDescriptor slaveFd;
  int master = -1;
  int slave = -1;
  struct termios before {};
  std::thread reader;
  std::atomic<bool> stop{false};
  std::mutex mutex;
  std::string seen;
  std::unique_ptr<TerminalWindow> window;
};

TEST_F(KeyboardWindowTest, KeysAnswerBoxesAndTheModesComeBack) {
  Open();
  struct termios raw {};
  ASSERT_EQ(::tcgetattr(slave, &raw), 0);
  EXPECT_EQ(raw.c_lflag & (ICANON | ECHO | ISIG), 0u);

  // Keys that are no answer are passed over; no Enter needed.
  std::thread typist = TypeWhenShown("[ Yes: y ]", "xqN");
  EXPECT_EQ(window->ShowMessageBox("Proceed?", "Confirm", MessageBoxKind::kYesNoQuestion),
            MessageBoxAnswer::kNo);
  typist.join();
  EXPECT_FALSE(window->CloseRequested());

  typist = TypeWhenShown("[ OK: Enter ]", "y\r");
  EXPECT_EQ(window->ShowMessageBox("Done.", "Confirm", MessageBoxKind::kOkInformation),
            MessageBoxAnswer::kOk);
  typist.join();

  window.reset();
  struct termios after {};
  ASSERT_EQ(::tcgetattr(slave, &after), 0);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(after.c_iflag, before.c_iflag);
  EXPECT_EQ(0, std::memcmp(after.c_cc, before.c_cc, sizeof(before.c_cc)));
}

TEST_F(KeyboardWindowTest, TypeAheadDoesNotAnswerAndCtrlCClosesTheWindow) {
  Open();
  ASSERT_EQ(::write(master, "y", 1), 1);
  pollfd p{slave, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 5000), 1);  // the key waits in the terminal's queue
  std::thread typist = TypeWhenShown("[ Yes: y ]", "\x03");
  EXPECT_EQ(window->ShowMessageBox("Proceed?", "Confirm", MessageBoxKind::kYesNoQuestion),
            MessageBoxAnswer::kNo);
  typist.join();
  EXPECT_TRUE(window->CloseRequested());
}

TEST_F(KeyboardWindowTest, QAsksBeforeItClosesTheWindowAndCtrlCDoesNot) {
  Open();
  ASSERT_EQ(window->KeyboardFd(), slave);
  const auto typeAndRead = [&](const std::string& keys) {
    ASSERT_EQ(::write(master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    std::size_t pending = keys.size();
    while (pending > 0 && !window->CloseRequested()) {
      pollfd p{slave, POLLIN, 0};
      ASSERT_EQ(::poll(&p, 1, 5000), 1);
      int available = 0;
      ASSERT_EQ(::ioctl(slave, FIONREAD, &available), 0);
      window->HandleKeyboard();
      pending -= std::min(pending, static_cast<std::size_t>(available));
    }
  };
  typeAndRead("a\x1b[Ay ");  // arrows and other keys do nothing
  EXPECT_FALSE(window->CloseRequested());

  for (const char* answer : {"n", "y"}) {
    std::thread typist = TypeWhenShown("Stop the file recovery now?", answer);
    typeAndRead("q");
    typist.join();
    EXPECT_EQ(window->CloseRequested(), answer[0] == 'y') << answer;
  }

  Open();
  typeAndRead("\x03");
  EXPECT_TRUE(window->CloseRequested());
}

TEST_F(KeyboardWindowTest, PlainOutputAsksOnTheTerminal) {
  Pipe output;
  Pipe input;
  input.CloseWrite();  // an answer read from here would be No
  TerminalOptions options;
  options.outputFd = output.writeFd();
  options.inputFd = input.readFd();
  options.catchSignals = false;
  options.questionTerminal = ::ptsname(master);
  window = TerminalWindow::Create(options, LookupWindowTexts());
  ASSERT_NE(window, nullptr);
  ASSERT_EQ(::write(master, "n\n", 2), 2);  // typed before the question: no answer
  pollfd p{slave, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 5000), 1);
  std::thread typist = TypeWhenShown("Proceed? [y/N] ", "y\n");
  EXPECT_EQ(
      window->ShowMessageBox("It begins.\nProceed?", "Confirm", MessageBoxKind::kYesNoQuestion),
      MessageBoxAnswer::kYes);
  typist.join();
  EXPECT_EQ(Lines(output.Drain()),
            (std::vector<std::string>{"Confirm: It begins.", "         Proceed? [y/N]"}));
}

}  // namespace
}  // namespace repair
