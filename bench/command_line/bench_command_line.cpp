// The time to scan an argument text of N "-I1 " words against one of N
// "-R1 " words (the same length, no address to parse), for three sizes up
// to 1.8 MB, measured in the same run. Each -I reading on to the end of the
// text would make the ratio grow with N; it must stay near 1.
//   bench_command_line [ROUNDS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/command_line.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string Repeat(const char* word, std::size_t times) {
  std::string text;
  for (std::size_t i = 0; i < times; ++i) text += word;
  return text;
}

// The best of rounds, in seconds; the result is kept so the scan stays.
double BestScan(const std::string& text, int rounds, std::uint32_t& sink) {
  double best = 1e9;
  for (int r = 0; r < rounds; ++r) {
    tl::CommandLineOptions options;
    Clock::time_point start = Clock::now();
    tl::ScanCommandLine(text, options);
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    sink += options.address + static_cast<std::uint32_t>(options.rebootWhenComplete);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  std::uint32_t sink = 0;
  std::printf("%10s %12s %12s %8s\n", "bytes", "-I scan ms", "-R scan ms", "ratio");
  for (std::size_t words : {112500u, 225000u, 450000u}) {
    std::string addresses = Repeat("-I1 ", words);
    std::string reboots = Repeat("-R1 ", words);
    double withAddresses = BestScan(addresses, rounds, sink);
    double baseline = BestScan(reboots, rounds, sink);
    std::printf("%10zu %12.3f %12.3f %8.2f\n", addresses.size(), withAddresses * 1e3, baseline * 1e3,
                withAddresses / baseline);
  }
  return sink == 0xFFFFFFFFu ? 1 : 0;
}
