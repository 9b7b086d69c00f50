#include "platform/win32/command_text.h"

#include <gtest/gtest.h>

namespace tl {
namespace {

TEST(Win32CommandText, TheArgumentTextFollowsTheProgramsName) {
  struct Case {
    const char* commandLine;
    const char* arguments;
  };
  const Case cases[] = {
      {"tideload.exe -I10.0.0.5 -A", "-I10.0.0.5 -A"},
      {"\"C:\\Program Files\\tideload.exe\" -FC:\\x_APP.s19", "-FC:\\x_APP.s19"},
      {"\"C:\\a b\\tideload.exe\"-R", "-R"},
      {"C:\\tools\\tideload.exe \t  -R  ", "-R  "},
      {"tideload.exe", ""},
      {"\"unclosed -A", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.commandLine);
    EXPECT_EQ(ArgumentTextOfCommandLine(c.commandLine), c.arguments);
  }
}

TEST(Win32CommandText, TheTitleIsTheFileNameWithoutItsExtension) {
  EXPECT_EQ(ProgramTitleOfModule("C:\\Program Files\\Tideload\\tideload.exe"), "tideload");
  EXPECT_EQ(ProgramTitleOfModule("Z:/work/build-win32/TideLoad.v2.exe"), "TideLoad.v2");
  EXPECT_EQ(ProgramTitleOfModule("D:tideload"), "tideload");
}

}  // namespace
}  // namespace tl
