// tideload-cli find on networks of its own (unshare -n): what it says when
// its requests cannot leave, and when they leave and nobody answers.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

TEST(FindEndToEnd, SaysSoWhenNoRequestCouldBeSent) {
  if (!CanUnshare()) GTEST_SKIP() << "no network namespaces here";
  const std::string noneSent = "tideload-cli find: no search request could be sent: Network is unreachable\n";
  struct Case {
    const char* network;
    std::string setUp;
    int status;
    std::string err;
  };
  const Case cases[] = {
      {"lo down", "", 4, noneSent},
      {"lo up, no route", "ip link set lo up", 4, noneSent},
      {"a route, nobody there", "ip link set lo up && ip route add default dev lo", 0, ""},
  };
  // Side by side: each in a namespace of its own.
  std::vector<std::unique_ptr<Child>> runs;
  for (const Case& c : cases) {
    runs.push_back(std::make_unique<Child>(
        Isolated({BuildDir() + "/tideload-cli", "find", "--seconds", "0"}, c.setUp)));
  }
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.network);
    Finished f = runs[i]->Wait(20000);
    EXPECT_EQ(f.status, c.status) << f.err;
    EXPECT_EQ(f.err, c.err);
    EXPECT_EQ(f.out, "");
  }
}

}  // namespace
}  // namespace e2e
