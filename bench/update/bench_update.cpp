// bench_update [--size BYTES] [--runs N]
// Throughput of the update exchange (connect to done, the file already
// loaded) against a plain blocking TCP send of the same bytes to a plain
// receiver process, both over loopback, medians of N runs.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/srecord_text.h"

#include "platform/console/console_host.h"
#include "update/update_dialog.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  std::uint32_t state = 7;
  for (auto& b : bytes) {
    state = state * 1664525u + 1013904223u;
    b = static_cast<char>(state >> 24);
  }
  return bytes;
}

void WriteSRecords(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << tl::test::SRecordText("RT40", 0, bytes);
}

sockaddr_in Loopback(std::uint32_t hostOrder, std::uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(hostOrder);
  return sa;
}

// The plain pair: a receiver process reads everything, then closes.
double PlainSend(const std::string& bytes) {
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa = Loopback(0x7F000001, 0);
  ::bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  ::listen(listener, 1);
  socklen_t len = sizeof sa;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&sa), &len);
  pid_t child = ::fork();
  if (child == 0) {
    int fd = ::accept(listener, nullptr, nullptr);
    // Keeps the bytes, as a module does (and as the sim must, to save them).
    std::unique_ptr<char[]> buffer(new char[bytes.size()]);
    std::size_t got = 0;
    while (got < bytes.size()) {
      ssize_t n = ::recv(fd, buffer.get() + got, bytes.size() - got, 0);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    ::_exit(got == bytes.size() ? 0 : 1);
  }
  ::close(listener);
  auto start = Clock::now();
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
  char c;
  ::recv(fd, &c, 1, 0);  // the receiver's close: everything arrived
  double s = Seconds(Clock::now() - start);
  ::close(fd);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (status != 0) std::fprintf(stderr, "plain receiver did not get every byte\n");
  return s;
}

// One update against a fresh sim; returns seconds from connect to done.
double UpdateOnce(const std::string& file, std::size_t size, unsigned serial, bool* ok) {
  std::string address = "127.0.113." + std::to_string(1 + serial % 250);
  std::string ready = (std::filesystem::temp_directory_path() /
                       ("bench_update_ready_" + std::to_string(::getpid()) + "_" + std::to_string(serial)))
                          .string();
  pid_t sim = ::fork();
  if (sim == 0) {
    std::string simPath = std::string(TIDELOAD_BUILD_DIR) + "/tideload-sim";
    std::string expect = std::to_string(size);
    ::execl(simPath.c_str(), simPath.c_str(), "--listen", address.c_str(), "--ready-file",
            ready.c_str(), "--quiet", "--expect-length", expect.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  while (!std::filesystem::exists(ready)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::filesystem::remove(ready);

  int result = 0;
  double s = 0;
  {
    // Gone before the sim is awaited: destroying the dialog closes the connection.
    tl::ConsoleHost host("bench");
    host.ui.hooks().onMessageBox = [](tl::HeadlessMessageBox& box) { box.Close(); };
    host.network.Startup(1, 1, nullptr, nullptr);
    Clock::time_point start;
    host.ui.hooks().onDialogShown = [&](tl::HeadlessWindow&) { start = Clock::now(); };
    in_addr a{};
    ::inet_pton(AF_INET, address.c_str(), &a);
    tl::UpdateDialog update(file, ntohl(a.s_addr), 0, nullptr);
    result = update.DoModal();
    s = Seconds(Clock::now() - start);
  }
  int status = 0;
  ::waitpid(sim, &status, 0);
  *ok = result == tl::kResultOk && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (!*ok) std::fprintf(stderr, "run %u: result %d, sim status %d\n", serial, result, status);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t size = 16u << 20;
  int runs = 7;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--size") == 0) size = std::strtoull(argv[i + 1], nullptr, 0);
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
  }
  ::signal(SIGPIPE, SIG_IGN);
  std::string bytes = Pattern(size);
  std::string file = (std::filesystem::temp_directory_path() /
                      ("bench_update_" + std::to_string(::getpid()) + "_APP.s19")).string();
  WriteSRecords(file, bytes);

  std::vector<double> plain, ours;
  bool allOk = true;
  for (int r = 0; r < runs; ++r) {
    plain.push_back(PlainSend(bytes));
    bool ok = false;
    ours.push_back(UpdateOnce(file, size, static_cast<unsigned>(r), &ok));
    allOk = allOk && ok;
  }
  std::filesystem::remove(file);
  double mb = static_cast<double>(size) / (1024.0 * 1024.0);
  double p = Median(plain), o = Median(ours);
  double ratio = p / o;  // our throughput over the plain one
  std::printf("image: %.1f MiB, %d runs, medians\n", mb, runs);
  std::printf("plain TCP send    : %8.1f ms  %8.1f MiB/s\n", p * 1e3, mb / p);
  std::printf("update to the sim : %8.1f ms  %8.1f MiB/s  (connect to done, 100 progress lines)\n",
              o * 1e3, mb / o);
  std::printf("ratio (update / plain throughput): %.2f  target >= 0.80: %s\n", ratio,
              ratio >= 0.8 ? "met" : "NOT met");
  if (!allOk) std::printf("an update run FAILED\n");
  return allOk ? 0 : 1;
}
