// The rules of a rollout: wave sizes, the failure budget, which endings are
// tried again and when, what an earlier run's results say was done, and the
// MAC a device of find --json output is pinned to.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/rollout.h"
#include "cli/targets.h"

namespace tl::cli {
namespace {

TEST(Rollout, WavesAreCumulativeCountsOrSharesRoundedUp) {
  struct Case {
    const char* list;
    std::size_t modules;
    std::vector<std::size_t> ends;  // empty: refused
  };
  const Case cases[] = {
      {"1,10%,100%", 200, {1, 20, 200}},
      {"1,10%,100%", 15, {1, 2, 15}},  // 1.5 modules are two
      {"50%", 3, {2, 3}},              // the rest is a last wave
      {"1,1,2", 5, {1, 2, 5}},          // an empty wave is none
      {"10", 3, {3}},
      {"100%", 1, {1}},
      {"", 3, {}},
      {"0", 3, {}},
      {"1,", 3, {}},
      {"x", 3, {}},
      {"-1", 3, {}},
      {"101%", 3, {}},
      {"10%,5%", 1, {}},  // decreasing even when both round to one module
      {"3,2", 10, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list);
    std::string error;
    const std::optional<std::vector<std::size_t>> ends = WaveEnds(c.list, c.modules, &error);
    if (c.ends.empty()) {
      EXPECT_FALSE(ends);
      EXPECT_FALSE(error.empty());
    } else {
      ASSERT_TRUE(ends) << error;
      EXPECT_EQ(*ends, c.ends);
    }
  }
  std::string many;
  for (int i = 1; i <= 65; ++i) many += std::to_string(i) + ",";
  std::string error;
  EXPECT_FALSE(WaveEnds(many + "66", 100, &error));
}

TEST(Rollout, TheBudgetIsACountOrAShareRoundedDown) {
  struct Case {
    const char* text;
    std::size_t modules;
    std::optional<std::size_t> budget;
  };
  const Case cases[] = {{"5%", 200, 10}, {"5%", 19, 0}, {"0", 5, 0},       {"3", 10, 3},
                        {"100%", 7, 7},  {"x", 5, {}},  {"101%", 5, {}},  {"", 5, {}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string error;
    EXPECT_EQ(FailureBudget(c.text, c.modules, &error), c.budget);
  }
}

TEST(Rollout, WhatCountsAsFailedAndWhatIsTriedAgain) {
  struct Case {
    Outcome outcome;
    bool failure, retried;
  };
  const Case cases[] = {
      {Outcome::kOk, false, false},          {Outcome::kSkipped, false, false},
      {Outcome::kStopped, false, false},     {Outcome::kConnectionFailed, true, true},
      {Outcome::kTimedOut, true, true},      {Outcome::kRefused, true, false},
      {Outcome::kLoadFailed, true, false},   {Outcome::kCancelled, true, false},
      {Outcome::kWrongApp, true, false},     {Outcome::kDifferentDevice, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ResultName(c.outcome));
    EXPECT_EQ(IsFailure(c.outcome), c.failure);
    EXPECT_EQ(Retryable(c.outcome), c.retried);
  }
  const unsigned delays[] = {2, 4, 8, 16, 32, 60, 60};
  for (unsigned attempt = 1; attempt <= 7; ++attempt) EXPECT_EQ(RetryDelaySeconds(attempt), delays[attempt - 1]);
  EXPECT_EQ(RetryDelaySeconds(1000), 60u);
}

TEST(Rollout, AnEarlierRunSaysWhatWasDoneWithWhichImage) {
  const std::string text =
      "{\"address\": \"10.0.0.1\", \"sha256\": \"aa\", \"result\": \"refused\"}\n"
      "\n"
      "{\"address\": \"10.0.0.1\", \"sha256\": \"aa\", \"result\": \"ok\"}\r\n"
      "{\"address\": \"10.0.0.2\", \"sha256\": \"aa\", \"result\": \"skipped\", \"x\": [1]}\n"
      "{\"address\": \"10.0.0.3\", \"sha256\": \"bb\", \"result\": \"ok\"}\n"
      "{\"address\": \"10.0.0.4\", \"sha256\": \"aa\", \"result\": \"timed-out\"}\n"
      "{\"address\": \"10.0.0.5\", \"sha256\": null, \"result\": \"load-failed\"}";
  std::string error;
  const auto earlier = EarlierResults(text, &error);
  ASSERT_TRUE(earlier) << error;
  const struct {
    std::uint32_t address;
    bool done;
  } expected[] = {{0x0A000001, true}, {0x0A000002, true}, {0x0A000003, false},
                  {0x0A000004, false}, {0x0A000005, false}, {0x0A000009, false}};
  for (const auto& e : expected) EXPECT_EQ(DoneBefore(*earlier, e.address, "aa"), e.done) << e.address;
  EXPECT_FALSE(DoneBefore(*earlier, 0x0A000001, ""));

  for (const char* bad : {"[1]", "{\"address\": \"10.0.0.1\"}", "{\"address\": \"1.2.3\", \"sha256\": \"a\", "
                                                              "\"result\": \"ok\"}",
                          "{\"address\": \"10.0.0.1\", \"address\": \"10.0.0.2\", \"sha256\": \"a\", \"result\": \"ok\"}",
                          "{\"address\": \"10.0.0.1\", \"sha256\": \"a\", \"result\": \"ok\"} x"}) {
    SCOPED_TRACE(bad);
    error.clear();
    EXPECT_FALSE(EarlierResults(std::string("\n") + bad, &error));
    EXPECT_EQ(error.rfind("line 2: ", 0), 0u) << error;
  }
}

TEST(Rollout, ADeviceOfFindOutputIsPinnedToItsInterfaceMac) {
  std::string error;
  const auto targets = FindOutputTargets(
      "[{\"address\": \"10.0.0.1\", \"consistent\": true, \"interfaceMac\": \"02:00:5E:10:00:0a\"},"
      " {\"address\": \"10.0.0.2\", \"consistent\": true}]",
      &error);
  ASSERT_TRUE(targets) << error;
  ASSERT_EQ(targets->size(), 2u);
  EXPECT_EQ((*targets)[0].interfaceMac, (MacAddress{0x02, 0x00, 0x5E, 0x10, 0x00, 0x0A}));
  EXPECT_FALSE((*targets)[1].interfaceMac);
  for (const char* mac : {"\"02:00:5e:10:00\"", "\"02-00-5e-10-00-0a\"", "\"02:00:5e:10:00:0g\"", "7"}) {
    SCOPED_TRACE(mac);
    EXPECT_FALSE(FindOutputTargets(
        std::string("[{\"address\": \"10.0.0.1\", \"consistent\": true, \"interfaceMac\": ") + mac + "}]", &error));
  }
}

}  // namespace
}  // namespace tl::cli
