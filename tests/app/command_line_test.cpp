#include "app/command_line.h"

#include <gtest/gtest.h>

#include <cctype>
#include <random>

namespace tl {
namespace {

constexpr std::uint32_t Ip(unsigned a, unsigned b, unsigned c, unsigned d) {
  return a << 24 | b << 16 | c << 8 | d;
}

CommandLineOptions Scan(std::string_view text, std::uint32_t stored = 0) {
  CommandLineOptions o;
  o.address = stored;
  ScanCommandLine(text, o);
  return o;
}

TEST(ParseDottedAddress, PlainAndSpillingGroups) {
  EXPECT_EQ(ParseDottedAddress("10.1.2.3"), Ip(10, 1, 2, 3));
  EXPECT_EQ(ParseDottedAddress("10.1.2.3.9"), Ip(10, 1, 2, 3));  // fourth dot ends it
  EXPECT_EQ(ParseDottedAddress("10.1.2.300"), Ip(10, 1, 3, 44));
  EXPECT_EQ(ParseDottedAddress("1.2.3.65536"), Ip(1, 2, 3, 0));   // group wraps at 16 bits
  EXPECT_EQ(ParseDottedAddress("10.1.256.1"), Ip(10, 2, 0, 1));    // spills upwards
  EXPECT_EQ(ParseDottedAddress(""), 0u);
  EXPECT_EQ(ParseDottedAddress("abc"), 0u);
}

TEST(ParseDottedAddress, WhereReadingStops) {
  // White space or '-' ends the text only after the third dot.
  EXPECT_EQ(ParseDottedAddress("10.0.0.5 -fx"), Ip(10, 0, 0, 5));
  EXPECT_EQ(ParseDottedAddress("10.0.0.5-R"), Ip(10, 0, 0, 5));
  EXPECT_EQ(ParseDottedAddress("10. 0-.0.5 x"), Ip(10, 0, 0, 5));
  // Fewer than three dots: the reading goes on into the following words,
  // and digits on either side of skipped text join one group.
  EXPECT_EQ(ParseDottedAddress("10.1 -r 2.3"), Ip(0, 10, 12, 3));
  EXPECT_EQ(ParseDottedAddress("10.1 -r .2.3"), Ip(10, 1, 2, 3));
  EXPECT_EQ(ParseDottedAddress("10.1"), Ip(0, 0, 10, 1));
}

TEST(ScanCommandLine, EmptyTextKeepsEverything) {
  CommandLineOptions o = Scan("", Ip(1, 2, 3, 4));
  EXPECT_EQ(o.address, Ip(1, 2, 3, 4));
  EXPECT_EQ(o.fileName, "");
  EXPECT_EQ(o.rebootWhenComplete, 0);
  EXPECT_EQ(o.unattended, 0);
}

TEST(ScanCommandLine, AllOptionsInEitherCase) {
  CommandLineOptions o = Scan("-i10.0.0.5 -fC:\\apps\\x_APP.s19 -r", Ip(9, 9, 9, 9));
  EXPECT_EQ(o.address, Ip(10, 0, 0, 5));
  EXPECT_EQ(o.fileName, "C:\\apps\\x_APP.s19");
  EXPECT_EQ(o.rebootWhenComplete, 1);
  EXPECT_EQ(o.unattended, 0);
  o = Scan("-I10.0.0.6\t-FD:\\y_APP.s19\n-R -A");
  EXPECT_EQ(o.address, Ip(10, 0, 0, 6));
  EXPECT_EQ(o.fileName, "D:\\y_APP.s19");
  EXPECT_EQ(o.rebootWhenComplete, 1);
  EXPECT_EQ(o.unattended, 1);
}

TEST(ScanCommandLine, FileNameRules) {
  EXPECT_EQ(Scan("-F -R").fileName, "");
  EXPECT_EQ(Scan("-F -R").rebootWhenComplete, 1);
  CommandLineOptions o = Scan("-FC:\\my-dir\\x_APP.s19");
  EXPECT_EQ(o.fileName, "C:\\my-dir\\x_APP.s19");
  EXPECT_EQ(o.rebootWhenComplete, 0);
  EXPECT_EQ(Scan("-Fa -Fb").fileName, "b");
  EXPECT_EQ(Scan("-F").fileName, "");
}

TEST(ScanCommandLine, GluedTextIsPassedOver) {
  CommandLineOptions o = Scan("-I10.0.0.1-R");
  EXPECT_EQ(o.address, Ip(10, 0, 0, 1));
  EXPECT_EQ(o.rebootWhenComplete, 0);
  EXPECT_EQ(Scan("-Ax-R").rebootWhenComplete, 0);
  EXPECT_EQ(Scan("-Rubbish-A").unattended, 0);
}

TEST(ScanCommandLine, LastAddressWinsAndZeroReplacesStored) {
  EXPECT_EQ(Scan("-I10.0.0.1 -I10.0.0.2").address, Ip(10, 0, 0, 2));
  EXPECT_EQ(Scan("-Ixyz", Ip(1, 1, 1, 1)).address, 0u);
  EXPECT_EQ(Scan("-I10.1.2.3.4").address, Ip(10, 1, 2, 3));
  EXPECT_EQ(Scan("-I10.1.2.300").address, Ip(10, 1, 3, 44));
}

TEST(ScanCommandLine, UnknownOptionsAndStrayDashesEnd) {
  CommandLineOptions o = Scan("-x -- - -Z9 --r -");
  EXPECT_EQ(o.rebootWhenComplete, 1);  // "--r": the second '-' starts "-r"
  EXPECT_EQ(o.unattended, 0);
  o = Scan("no options here");
  EXPECT_EQ(o.fileName, "");
  // A long run of dashes ends and still sees the option after it.
  std::string dashes(100000, '-');
  EXPECT_EQ(Scan(dashes + "A").unattended, 1);
}

// The rule as written: every option takes effect where it stands, -I
// parsing to the end of the text each time.
CommandLineOptions ScanByTheRule(std::string_view text) {
  CommandLineOptions o;
  auto wordEnd = [&](std::size_t from) {
    while (from < text.size() && !IsCommandLineSpace(text[from])) ++from;
    return from;
  };
  for (std::size_t p = 0; p < text.size();) {
    std::size_t dash = text.find('-', p);
    if (dash == std::string_view::npos) break;
    char letter = static_cast<char>(std::toupper(dash + 1 < text.size() ? text[dash + 1] : '\0'));
    p = letter == 'F' ? wordEnd(dash + 2) : letter == 'A' || letter == 'I' || letter == 'R' ? wordEnd(dash) : dash + 1;
    if (letter == 'A') o.unattended = 1;
    if (letter == 'R') o.rebootWhenComplete = 1;
    if (letter == 'F') o.fileName = std::string(text.substr(dash + 2, p - (dash + 2)));
    if (letter == 'I') o.address = ParseDottedAddress(text.substr(dash + 2));
  }
  return o;
}

TEST(ScanCommandLine, GivesWhatTheRuleGivesOnGeneratedTexts) {
  // Few characters, many of them dashes, option letters, dots and digits,
  // so that -I texts with fewer than three dots read on into later words.
  constexpr char kAlphabet[] = "--iIfFrRax..0123456789  \t";
  std::mt19937 random(20240611);
  std::uniform_int_distribution<std::size_t> length(0, 48);
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kAlphabet - 2);
  for (int n = 0; n < 20000; ++n) {
    std::string text(length(random), ' ');
    for (char& c : text) c = kAlphabet[pick(random)];
    CommandLineOptions expected = ScanByTheRule(text);
    CommandLineOptions got = Scan(text);
    ASSERT_EQ(got.address, expected.address) << '"' << text << '"';
    ASSERT_EQ(got.fileName, expected.fileName) << '"' << text << '"';
    ASSERT_EQ(got.rebootWhenComplete, expected.rebootWhenComplete) << '"' << text << '"';
    ASSERT_EQ(got.unattended, expected.unattended) << '"' << text << '"';
  }
}

TEST(ScanCommandLine, LongTextsOfAddressesEndWithTheLastOne) {
  // 300000 options without a dot: each of them reading on to the end of
  // the text would take minutes.
  std::string text;
  for (int i = 0; i < 300000; ++i) text += "-I1 ";
  EXPECT_EQ(Scan(text + "-i192.168.1.20").address, Ip(192, 168, 1, 20));
  // The last one has one dot: it reads on through the words after it.
  EXPECT_EQ(Scan(text + "-I10.1 -R .2 x.3-A").address, Ip(10, 1, 2, 3));
}

}  // namespace
}  // namespace tl
