// The audit log: lines of programs writing at the same time never mix, the
// file is the owner's alone, and what is not a plain file is refused at once.
#include "platform/console/console_log.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

#include "tests/support/test_host.h"

namespace tl {
namespace {

TEST(AppendLog, LinesOfWritersAtTheSameTimeNeverMix) {
  test::TempDir dir;
  const std::string path = dir.File("audit.log");
  constexpr int kLines = 2000;
  const std::string padding(300, 'x');  // longer than any atomic pipe write
  pid_t writers[2];
  for (int w = 0; w < 2; ++w) {
    writers[w] = ::fork();
    if (writers[w] == 0) {
      std::string error;
      std::unique_ptr<AppendLog> log = AppendLog::Open(path, &error);
      for (int i = 0; log && i < kLines; ++i) {
        if (!log->Append(std::to_string(w) + " " + std::to_string(i) + " " + padding)) ::_exit(2);
      }
      ::_exit(log ? 0 : 1);
    }
  }
  for (pid_t writer : writers) {
    int status = 0;
    ASSERT_EQ(::waitpid(writer, &status, 0), writer);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::istringstream lines(test::ReadFile(path));
  std::map<int, int> next;  // each writer's lines in its own order
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    int writer = -1, number = -1;
    std::istringstream words(line);
    std::string rest;
    words >> writer >> number >> rest;
    ASSERT_TRUE(writer == 0 || writer == 1) << line;
    EXPECT_EQ(number, next[writer]++) << line;
    EXPECT_EQ(rest, padding);
  }
  EXPECT_EQ(count, 2 * kLines);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(AppendLog, WhatIsNotAPlainFileIsRefusedAtOnce) {
  test::TempDir dir;
  const std::string fifo = dir.File("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, dir.Path().string(), dir.File("no/such/folder/log")}) {
    SCOPED_TRACE(path);
    std::string error;
    EXPECT_EQ(AppendLog::Open(path, &error), nullptr);
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace tl
