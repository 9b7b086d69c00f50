// tideload-cli's JSON: the reader's bounds and refusals, the targets it
// finds in find --json output, and the writers' exact bytes.
#include <gtest/gtest.h>

#include <string>

#include "cli/json.h"
#include "cli/json_reader.h"
#include "cli/targets.h"
#include "cli/update_report.h"

namespace tl::cli {
namespace {

std::string Nested(std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

// An array of n values (n - 1 items).
std::string Values(std::size_t n) {
  std::string text = "[0";
  for (std::size_t i = 2; i < n; ++i) text += ",0";
  return text + "]";
}

TEST(JsonReader, BoundsAndRefusals) {
  const struct {
    std::string text;
    std::string why;  // empty: read
  } cases[] = {
      {"[\"a\", {\"b\": [1.5e3, -0, true, null]}]", ""},
      {"\xef\xbb\xbf[]", ""},
      {std::string(kJsonMostBytes - 2, ' ') + "[]", ""},
      {std::string(kJsonMostBytes - 1, ' ') + "[]", "larger than 8388608 bytes"},
      {Nested(kJsonMostDepth), ""},
      {Nested(kJsonMostDepth + 1), "nested too deep"},
      {Values(kJsonMostValues), ""},
      {Values(kJsonMostValues + 1), "more than 524288 values"},
      {"{\"a\": 1, \"b\": {\"a\": 2}, \"a\": 3}", "member \"a\" given twice"},
      {"[\"127.9.0.1\\u0000junk\"]", "a NUL character in a text"},
      {"{\"a\\u0000\": 1}", "a NUL character in a text"},
      {"[01]", "a number with a leading zero at byte 3"},
      {"[1e400]", "a number out of range"},
      {"[", "unexpected end of input"},
      {"[] x", "expected end of input"},
      {"[1,]", "unexpected ']'"},
      {"[\"\\ud800\"]", "must be followed by U+DC00"},
      {"[\"\x01\"]", "control character U+0001"},
      {"[\"\xff\"]", "ill-formed UTF-8"},
      {"[\"" + std::string(100000, 'x') + "\x01\"]", "control character U+0001 (SOH) must be escaped to \\u0001 at"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 60));
    std::string error;
    const std::optional<nlohmann::json> json = ParseJson(c.text, &error);
    EXPECT_EQ(json.has_value(), c.why.empty()) << error;
    EXPECT_NE(error.find(c.why), std::string::npos) << error;
    EXPECT_LT(error.size(), 200u);  // the token read is not repeated
  }
}

TEST(JsonReader, ManyMembersAreReadInOnePass) {
  std::string text = "{";
  for (int i = 0; i < 200000; ++i) text += (i ? ",\"" : "\"") + std::to_string(i) + "\":0";
  std::string error;
  const std::optional<nlohmann::json> json = ParseJson(text + "}", &error);
  ASSERT_TRUE(json) << error;
  EXPECT_EQ(json->size(), 200000u);
}

TEST(FindOutputTargets, EachDeviceOnceThroughAConsistentInterface) {
  const std::string found =
      "[{\"address\": \"10.0.0.9\", \"consistent\": true, \"children\": ["
      "  {\"address\": \"10.0.0.1\", \"consistent\": false},"
      "  {\"address\": \"10.0.0.2\", \"consistent\": true}]},"
      " {\"address\": \"10.0.0.3\", \"consistent\": false, \"children\": [], \"more\": {}}]";
  std::string error;
  const std::optional<std::vector<UpdateTarget>> targets = FindOutputTargets(found, &error);
  ASSERT_TRUE(targets) << error;
  ASSERT_EQ(targets->size(), 2u);
  EXPECT_EQ((*targets)[0].address, 0x0A000002u);
  EXPECT_EQ((*targets)[0].leftOut, "");
  EXPECT_EQ((*targets)[1].address, 0x0A000003u);
  EXPECT_NE((*targets)[1].leftOut, "");

  const std::pair<std::string, std::string> bad[] = {
      {"{}", "no array"},
      {"[1]", "item 1 is not a device"},
      {"[{\"children\": {}}]", "item 1 is not a device"},
      {"[{\"address\": \"10.0.0.1\", \"consistent\": 1}]", "without a usable address"},
      {"[{\"address\": \"0.0.0.0\", \"consistent\": true}]", "without a usable address"},
      {"[{\"address\": \"10.0.0.1\", \"consistent\": true, \"children\": [2]}]", "without a usable address"},
  };
  for (const auto& [text, why] : bad) {
    EXPECT_FALSE(FindOutputTargets(text, &error)) << text;
    EXPECT_NE(error.find(why), std::string::npos) << text << ": " << error;
  }
}

TEST(JsonWriter, TodaysBytes) {
  const OrderedJson value = {{"b", "\x01\x7f\b\t\n\f\r\"\\/"},
                             {"a", {1, -2, 3.0, 2.0255, nullptr, true}},
                             {"text", "\xe2\x82\xac \xc3\xbf \xf0\x9f\x98\x80"},
                             {"empty", OrderedJson::object()}};
  EXPECT_EQ(WriteJson(value),
            "{\"b\": \"\\u0001\\u007f\\u0008\\u0009\\u000a\\u000c\\u000d\\\"\\\\/\", \"a\": [1, -2, 3.000, 2.026, "
            "null, true], \"text\": \"\\u20ac \\u00ff \\ud83d\\ude00\", \"empty\": {}}");
  EXPECT_EQ(WriteJson(PathText("a\xe2\x82\xac\xff\xc3")), "\"a\\u20ac\\u00ff\\u00c3\"");

  UpdateResult r;
  r.address = 0x7F000001;
  r.file = "app\xff.s19";
  r.filePlatform = "RT\x80";
  r.startAddress = 65536;
  r.imageLength = 2;
  r.sha256 = "ab";
  r.seconds = 2.025;
  r.outcome = Outcome::kRefused;
  r.messages = {"Error: \x80\tx"};
  r.lastCode = 250;
  r.before = ModuleIdentity{};
  r.verify = Comeback{};
  r.wave = 2;
  r.attempts = 3;
  EXPECT_EQ(ResultJson(r),
            "{\"address\": \"127.0.0.1\", \"file\": \"app\\u00ff.s19\", \"filePlatform\": \"RT\\u20ac\", "
            "\"modulePlatform\": null, \"startAddress\": 65536, \"imageLength\": 2, \"sha256\": \"ab\", "
            "\"bytesSent\": 0, \"seconds\": 2.025, \"result\": \"refused\", \"messages\": [\"Error: \\u20ac\\u0009x\"], "
            "\"lastCode\": 250, \"platformsAgree\": null, \"verify\": {\"cameBack\": false, \"seconds\": null, "
            "\"appBefore\": \"\", \"appAfter\": null, \"macBefore\": \"00:00:00:00:00:00\", \"macAfter\": null, "
            "\"nameBefore\": \"\", \"nameAfter\": null}, \"wave\": 2, \"attempts\": 3}");
}

}  // namespace
}  // namespace tl::cli
