// The argument text the Windows entry point hands to the tool's own splitting: the same text
// a WinMain was handed before, read from the same command line.
#include "platform/win32/program_entry.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/win32_test_util.h"

namespace repair::platform {
namespace {

// Starts the probe with `commandLine` as its whole command line and returns the argument text
// its WinMain was given.
std::string WinMainArguments(const std::string& commandLine) {
  const std::string probe = test::WinePath(REPAIR_WINMAIN_PROBE_EXE);
  const std::string record = probe + ".text";
  DeleteFileA(record.c_str());
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(probe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return "<not started>";
  }
  WaitForSingleObject(process.hProcess, 30000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  std::ifstream in(record, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(ArgumentTextTest, IsWhatWinMainWasHanded) {
  const char* const commandLines[] = {
      "repair.exe /quiet",
      "\"C:\\Games\\My Client\\repair.exe\" /quiet \"/exec:C:\\Games\\start.exe\" one",
      "repair.exe",
      "\"repair.exe\"",
      "repair.exe   \t  /rollback  ",
      "re\"pair x\".exe /version:3.7",  // a quote opens inside the name, too
      "\"repair.exe",                   // the name's quote never closes
      "repair.exe\x01\x02 /quiet",      // control characters separate like blanks
      " repair.exe /quiet",             // a leading blank is an empty name
      "repair.exe \"unmatched",
      "repair.exe a\"b c\" \"\"",
  };
  for (const char* commandLine : commandLines) {
    SCOPED_TRACE(commandLine);
    EXPECT_EQ(ArgumentTextOf(commandLine), WinMainArguments(commandLine));
  }
}

TEST(ArgumentTextTest, LettersOfTheCodePageBelongToAnUnquotedName) {
  // The start-up code compares signed characters and ends the name at the first byte from
  // 0x80 up; the rest of the path would become an argument.
  EXPECT_STREQ(ArgumentTextOf("C:\\Spiele\\R\xe9parer\\repair.exe /quiet"), "/quiet");
  EXPECT_STREQ(ArgumentTextOf("r\xe9pair.exe\xa0/quiet"), "");
  EXPECT_STREQ(ArgumentTextOf("\"C:\\Spiele\\R\xe9parer\\repair.exe\" /quiet \xe9t\xe9"),
               "/quiet \xe9t\xe9");
  EXPECT_STREQ(ArgumentTextOf(nullptr), "");
  EXPECT_STREQ(ArgumentTextOf(""), "");
}

TEST(ArgumentTextTest, OfThisProcessFollowsItsCommandLine) {
  EXPECT_STREQ(ArgumentText(), ArgumentTextOf(GetCommandLineA()));
}

}  // namespace
}  // namespace repair::platform
