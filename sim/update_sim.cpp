// The module's side of the TCP update exchange. The module leads: it sends
// numbered text lines ending in CR LF and reads the program's answers.
//   100 <text>:<platform>:<text>   its platform
//   101 ...                         wants "user 0x00 password CR LF"
//   102 ...                         wants start address and length (2 x 4 bytes, big-endian)
//   103 ...                         wants the image bytes
//   301..400                        progress
//   105 ...                         wants "R" (reboot) or "D"
//   106 / 107                       done
//   201..300                        an error
// Standard library and POSIX only.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim.h"

namespace sim {

namespace {

struct Options {
  std::string listen = "127.0.0.1";
  int port = 20034;
  std::string readyFile;
  int connections = 1;  // 0: serve for ever
  std::string platform = "RT40";
  std::string user;
  std::optional<std::string> password;  // set: ask with 101
  int paceMs = 0;                       // between progress lines
  int progressStep = 1;
  int endCode = 106;
  std::string saveFile;
  std::optional<char> expectReboot;  // 'R' or 'D'
  std::string rebootFile;             // written when a completed update chose R
  std::optional<std::uint32_t> expectLength;
  std::uint32_t maxLength = 256u << 20;
  int timeoutS = 60;  // for every wait on the program
  int windowBytes = 0;  // the receive buffer, as small as a module's own stack; 0: the system's
  // Faults.
  bool wrongPlatform = false;
  int errorAt = 0;  // send the error line instead of this code
  std::string errorLine = "250 Bad image";
  int silentAt = 0;  // go silent instead of sending this code
  int floodAt = 0;   // send bytes without a line end instead of this code
  int repeatAt = 0;  // send this code's line again and again, never reading
  bool lateError = false;  // the error line right behind the end line
  bool closeMidImage = false;
  bool resetMidImage = false;
  bool byteByByte = false;
  bool batch = false;
  bool longLine = false;
  bool quiet = false;
  bool expectDryRun = false;
  bool times = false;  // the status line tells when the program connected and when it ended
};

}  // namespace

namespace {

// A number in range; the help gives the range in words.
CLI::Validator Within(int low, int high) { return CLI::Range(low, high).description(""); }

// Every option of the update side, declared once: parsing, checks, help.
void Declare(CLI::App& app, Options& o) {
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.description("a simulated module's update side");
  app.add_option("--listen", o.listen, "address to listen on (127.0.0.1)")->type_name("ADDR");
  app.add_option("--port", o.port, "TCP port (20034); 0 picks a free one and prints it")
      ->type_name("N")->check(Within(0, 65535));
  app.add_option("--ready-file", o.readyFile, "write the port there once listening")->type_name("FILE");
  app.add_option("--connections", o.connections, "updates to serve, 0 for ever (1)")
      ->type_name("N")->check(Within(0, 1000000));
  app.add_option("--platform", o.platform, "platform reported with 100 (RT40)")->type_name("TEXT");
  app.add_flag_callback("--variant-512", [&o] { o.platform = "RT40-512"; }, "report RT40-512 instead");
  app.add_option("--user", o.user, "with --password: ask for credentials with 101 and check them")
      ->type_name("NAME");
  app.add_option("--password", o.password, "the password the credentials must carry")->type_name("PASS");
  app.add_option("--pace", o.paceMs, "pause between progress lines (0)")->type_name("MS")->check(Within(0, 60000));
  app.add_option("--progress-step", o.progressStep, "per-cent step of the progress lines (1)")
      ->type_name("N")->check(Within(1, 100));
  app.add_option("--end", o.endCode, "the completion code (106)")->type_name("106|107")->check(Within(106, 107));
  app.add_option("--save", o.saveFile, "save the received image")->type_name("FILE");
  app.add_option("--expect-reboot", o.expectReboot, "check the reboot choice")
      ->type_name("R|D")->check(CLI::IsMember({"R", "D"}).description(""));
  app.add_option("--reboot-file", o.rebootFile,
                 "write FILE when an update that chose R is complete (the\n"
                 "discovery side's --reboot-file then plays the reboot)")
      ->type_name("FILE");
  app.add_option("--expect-length", o.expectLength, "check the image length")->type_name("N");
  app.add_option("--max-length", o.maxLength, "refuse longer images (256 MiB)")->type_name("N");
  app.add_option("--window", o.windowBytes,
                 "the receive buffer in bytes, as small as a module's own\nstack keeps it (the system's)")
      ->type_name("BYTES")->check(Within(0, 1 << 24));
  app.add_option("--timeout", o.timeoutS, "give up waiting on the program after S seconds (60)")
      ->type_name("S")->check(Within(1, 3600));
  const CLI::Validator code = Within(100, 400);
  app.add_flag("--wrong-platform", o.wrongPlatform, "report a platform the file cannot match; expects 8 zero bytes")
      ->group("Faults");
  app.add_option("--error-at", o.errorAt, "send the error line instead of CODE (100 101 102 103 301 105 106)")
      ->type_name("CODE")->check(code)->group("Faults");
  app.add_option("--error-line", o.errorLine, "the error line (\"250 Bad image\")")->type_name("TEXT")->group("Faults");
  app.add_option("--silent-at", o.silentAt, "go silent instead of sending CODE")
      ->type_name("CODE")->check(code)->group("Faults");
  app.add_option("--flood-at", o.floodAt,
                 "send bytes without a line end, as fast as they are read,\ninstead of CODE, until the program closes")
      ->type_name("CODE")->check(code)->group("Faults");
  app.add_option("--repeat-at", o.repeatAt,
                 "send CODE's line again and again, reading nothing, until\nthe program closes")
      ->type_name("CODE")->check(code)->group("Faults");
  app.add_flag("--late-error", o.lateError, "send the error line right behind the end line, in one send")->group("Faults");
  app.add_flag("--close-mid-image", o.closeMidImage, "close the connection half-way through the image")->group("Faults");
  app.add_flag("--reset-mid-image", o.resetMidImage, "reset the connection half-way through the image")->group("Faults");
  app.add_flag("--byte-by-byte", o.byteByByte, "send every line one byte at a time")->group("Faults");
  app.add_flag("--batch", o.batch, "send lines that need no answer together in one send")->group("Faults");
  app.add_flag("--long-line", o.longLine, "send an over-long line (104 and 400 characters) first")->group("Faults");
  app.add_flag("--expect-dry-run", o.expectDryRun,
               "expect the program to close after the platform line\nwithout answering the line that follows it")
      ->group("Faults");
  app.add_flag("--quiet", o.quiet, "no status line")->group("Faults");
  app.add_flag("--times", o.times, "the status line ends with when the program connected and\nwhen the update ended (seconds since 1970)")
      ->group("Faults");
  app.footer(
      "Exit status: 0 every update served went as a module expects; 1 one did not;\n"
      "2 a usage error or the address cannot be listened on.");
}

}  // namespace

std::string UpdateHelp() {
  Options o;
  CLI::App app("", "tideload-sim");
  Declare(app, o);
  AddHelpAndVersion(app);
  return app.help();
}

namespace {

// One update on one accepted connection.
class Session {
 public:
  Session(const Options& o, int fd) : o_(o), fd_(fd) {}

  // True when the program behaved as the module expects.
  bool Run() {
    if (o_.longLine) Line("104 " + std::string(400, 'x'));
    if (!Step(100, "100 Ombrelin module:" + o_.platform + ":sim")) return Result();
    if (o_.expectDryRun) {
      // The line a module sends next; a dry run answers none of it.
      Line(o_.password ? "101 Password needed" : "102 Send placement");
      Flush();
      if (!ExpectQuietClose()) return false;
      note_ = "closed after the platform line, as a dry run does";
      return true;
    }
    if (o_.password) {
      if (!Step(101, "101 Password needed")) return Result();
      std::string answer;
      if (!ReadLine(&answer, 4096)) return Fail("no credentials line");
      std::size_t zero = answer.find('\0');
      if (zero == std::string::npos) return Fail("credentials without the 0x00 byte");
      // Never echo what came: only whether it matched.
      if (answer.substr(0, zero) != o_.user || answer.substr(zero + 1) != *o_.password) {
        Line("203 Bad password");
        Flush();
        ExpectQuietClose();
        return Fail("wrong user name or password");
      }
    }
    if (!Step(102, "102 Send placement")) return Result();
    const auto asked = std::chrono::steady_clock::now();
    unsigned char placement[8];
    if (!ReadExact(placement, 8)) {
      return Fail(closed_ ? "the program closed the connection instead of sending the placement"
                          : "no placement words");
    }
    const double placementMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - asked).count();
    std::uint32_t start = Word(placement), length = Word(placement + 4);
    if (o_.wrongPlatform) {
      if (start != 0 || length != 0) return Fail("wrong platform but placement was not 8 zero bytes");
      Line("251 Wrong platform");
      Flush();
      if (!ExpectQuietClose()) return false;
      note_ = "8 zero bytes on the wrong platform";
      return true;
    }
    if (start == 0 && length == 0) return Fail("8 zero bytes although the platform matches");
    if (length == 0 || length > o_.maxLength) return Fail("image length " + std::to_string(length) + " refused");
    if (o_.expectLength && length != *o_.expectLength) {
      return Fail("image length " + std::to_string(length) + ", expected " + std::to_string(*o_.expectLength));
    }
    if (!Step(103, "103 Send image")) return Result();
    // Filled by the reads below; not cleared first.
    std::unique_ptr<unsigned char[]> image(new unsigned char[length]);
    if (o_.closeMidImage || o_.resetMidImage) {
      std::size_t half = length / 2;
      if (!ReadExact(image.get(), half)) return Fail("image ended early");
      if (o_.resetMidImage) {
        linger l{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
      }
      note_ = o_.resetMidImage ? "reset half-way through the image" : "closed half-way through the image";
      return true;
    }
    if (!ReadExact(image.get(), length)) return Fail("image ended early");
    std::vector<int> percents;
    for (int p = 1; p < 100; p += o_.progressStep) percents.push_back(p);
    percents.push_back(100);
    for (int p : percents) {
      if (p == percents.front()) {
        if (!Step(301, std::to_string(300 + p))) return Result();
      } else {
        Line(std::to_string(300 + p));
      }
      if (o_.paceMs > 0) {
        Flush();
        std::this_thread::sleep_for(std::chrono::milliseconds(o_.paceMs));
      }
    }
    if (!Step(105, "105 Reboot when complete?")) return Result();
    unsigned char choice = 0;
    if (!ReadExact(&choice, 1)) return Fail("no reboot choice");
    if (choice != 'R' && choice != 'D') return Fail("reboot choice is neither R nor D");
    if (o_.expectReboot && choice != *o_.expectReboot) return Fail("unexpected reboot choice");
    if (!o_.saveFile.empty()) {
      std::ofstream out(o_.saveFile, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(image.get()), static_cast<std::streamsize>(length));
      if (!out) return Fail("cannot save the image to " + o_.saveFile);
    }
    // The module goes down for its reboot as it says it is done.
    if (choice == 'R' && !o_.rebootFile.empty() && !(std::ofstream(o_.rebootFile) << "rebooted\n")) {
      return Fail("cannot write " + o_.rebootFile);
    }
    if (o_.lateError) {
      // The end, and an error before the program has closed: one send.
      out_ += std::to_string(o_.endCode) + " Programming done\r\n" + o_.errorLine + "\r\n";
    } else if (!Step(o_.endCode, std::to_string(o_.endCode) + " Programming done")) {
      return Result();
    }
    Flush();
    if (!ExpectQuietClose()) return false;
    char text[200];
    std::snprintf(text, sizeof text, "image %u bytes at 0x%08X, reboot %c, placement %.1f ms after 102%s", length,
                  start, choice, placementMs, o_.lateError ? ", then the error line" : "");
    note_ = text;
    return true;
  }

  const std::string& Note() const { return note_; }

 private:
  // Sends the step's line, or the fault asked for at that step. False when
  // the session stops here (its outcome is then in stepResult_).
  bool Step(int code, const std::string& line) {
    if (o_.errorAt == code) {
      Line(o_.errorLine);
      Flush();
      stepResult_ = ExpectQuietClose();
      if (stepResult_) note_ = "error line at " + std::to_string(code);
      return false;
    }
    if (o_.silentAt == code) {
      Flush();
      stepResult_ = ExpectQuietClose();
      if (stepResult_) note_ = "silent at " + std::to_string(code);
      return false;
    }
    if (o_.floodAt == code) {
      Flush();
      stepResult_ = FloodUntilClosed();
      if (stepResult_) note_ = "flooded at " + std::to_string(code) + " until the program closed";
      return false;
    }
    if (o_.repeatAt == code) {
      Flush();
      stepResult_ = RepeatUntilClosed(line);
      if (stepResult_) note_ = "asked " + std::to_string(code) + " again and again until the program closed";
      return false;
    }
    Line(line);
    // The batch mode keeps lines that need no answer for one send.
    bool needsAnswer = code == 101 || code == 102 || code == 103 || code == 105;
    if (!o_.batch || needsAnswer || code == 106 || code == 107) Flush();
    return true;
  }
  bool Result() const { return stepResult_; }

  void Line(const std::string& text) {
    out_ += text;
    out_ += "\r\n";
    if (!o_.batch) Flush();
  }

  void Flush() {
    if (out_.empty()) return;
    if (o_.byteByByte) {
      for (char c : out_) {
        SendAll(&c, 1);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    } else {
      SendAll(out_.data(), out_.size());
    }
    out_.clear();
  }

  void SendAll(const char* data, std::size_t length) {
    while (length > 0 && !broken_) {
      ssize_t n = ::send(fd_, data, length, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        broken_ = true;
        return;
      }
      data += n;
      length -= static_cast<std::size_t>(n);
    }
  }

  // Waits for readable data; false on time-out.
  bool WaitReadable() {
    pollfd p{fd_, POLLIN, 0};
    for (;;) {
      int r = ::poll(&p, 1, o_.timeoutS * 1000);
      if (r < 0 && errno == EINTR) continue;
      return r > 0;
    }
  }

  bool ReadExact(unsigned char* data, std::size_t length) {
    std::size_t got = 0;
    while (got < length) {
      if (!WaitReadable()) return false;
      ssize_t n = ::recv(fd_, data + got, length - got, 0);
      if (n < 0 && errno == EINTR) continue;
      closed_ = n == 0 || (n < 0 && errno == ECONNRESET);
      if (n <= 0) return false;
      got += static_cast<std::size_t>(n);
    }
    return true;
  }

  bool ReadLine(std::string* line, std::size_t limit) {
    line->clear();
    unsigned char c = 0;
    while (line->size() <= limit) {
      if (!ReadExact(&c, 1)) return false;
      line->push_back(static_cast<char>(c));
      if (line->size() >= 2 && line->compare(line->size() - 2, 2, "\r\n") == 0) {
        line->resize(line->size() - 2);
        return true;
      }
    }
    return false;
  }

  // Bytes without a line end for as long as the program takes them; true
  // when the program closes the connection within the time-out.
  bool FloodUntilClosed() {
    const std::string chunk(64 * 1024, 'x');
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(o_.timeoutS);
    while (std::chrono::steady_clock::now() < giveUp) {
      pollfd p{fd_, POLLIN | POLLOUT, 0};
      if (::poll(&p, 1, 100) < 0 && errno != EINTR) return Fail("poll failed while flooding");
      if ((p.revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        char buffer[256];
        ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return true;
        if (n > 0) return Fail("the program answered bytes that hold no line");
      }
      if ((p.revents & POLLOUT) != 0) {
        ssize_t n = ::send(fd_, chunk.data(), chunk.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EPIPE || errno == ECONNRESET)) return true;
      }
    }
    return Fail("the program did not close the connection while flooded");
  }

  // The line again and again as fast as the program takes it, never
  // reading its answers; true when the program closes the connection
  // within the time-out.
  bool RepeatUntilClosed(const std::string& line) {
    std::string lines;
    while (lines.size() < 64 * 1024) lines += line + "\r\n";
    std::size_t at = 0;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(o_.timeoutS);
    while (std::chrono::steady_clock::now() < giveUp) {
      pollfd p{fd_, POLLOUT, 0};
      if (::poll(&p, 1, 100) < 0 && errno != EINTR) return Fail("poll failed while asking again");
      if ((p.revents & (POLLHUP | POLLERR)) != 0) return true;
      if ((p.revents & POLLOUT) == 0) continue;
      const ssize_t n = ::send(fd_, lines.data() + at, lines.size() - at, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0 && (errno == EPIPE || errno == ECONNRESET)) return true;
      if (n > 0) at = (at + static_cast<std::size_t>(n)) % lines.size();
    }
    return Fail("the program did not close the connection while asked again and again");
  }

  // After an ending the program sends nothing and closes.
  bool ExpectQuietClose() {
    char buffer[256];
    for (;;) {
      if (!WaitReadable()) return Fail("the program did not close the connection");
      ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n == 0) return true;
      if (n < 0) return errno == ECONNRESET ? true : Fail("read error while waiting for the close");
      return Fail("the program sent " + std::to_string(n) + " bytes after the end");
    }
  }

  bool Fail(const std::string& why) {
    if (note_.empty()) note_ = why;
    return false;
  }

  static std::uint32_t Word(const unsigned char* b) {
    return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) |
           std::uint32_t{b[3]};
  }

  const Options& o_;
  int fd_;
  std::string out_;
  std::string note_;
  bool broken_ = false;
  bool closed_ = false;  // a read found the connection closed or reset
  bool stepResult_ = false;
};

}  // namespace

namespace {
double WallSeconds() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}
}  // namespace

int RunUpdateSim(int argc, char** argv) {
  Options o;
  CLI::App app("", "tideload-sim");
  Declare(app, o);
  if (std::optional<int> status = ParseSide(app, argc, argv, PrintHelp)) return *status;
  if (o.wrongPlatform && o.platform == "RT40") o.platform = "ZX99";
  ::signal(SIGPIPE, SIG_IGN);

  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  // Before listen: the window the connections offer follows from it.
  if (o.windowBytes > 0) ::setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &o.windowBytes, sizeof o.windowBytes);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<std::uint16_t>(o.port));
  if (::inet_pton(AF_INET, o.listen.c_str(), &sa.sin_addr) != 1) {
    std::fprintf(stderr, "tideload-sim: bad address '%s'\n", o.listen.c_str());
    return 2;
  }
  if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
      ::listen(listener, 4) != 0) {
    std::fprintf(stderr, "tideload-sim: cannot listen on %s:%d: %s\n", o.listen.c_str(), o.port,
                 std::strerror(errno));
    return 2;
  }
  socklen_t len = sizeof sa;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&sa), &len);
  int port = ntohs(sa.sin_port);
  std::printf("listening on %s:%d\n", o.listen.c_str(), port);
  std::fflush(stdout);
  if (!o.readyFile.empty()) {
    std::string temporary = o.readyFile + ".tmp";
    {
      std::ofstream ready(temporary, std::ios::trunc);
      ready << port << "\n";
    }
    std::rename(temporary.c_str(), o.readyFile.c_str());
  }

  bool allClean = true;
  for (int served = 0; o.connections == 0 || served < o.connections; ++served) {
    int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR) {
        --served;
        continue;
      }
      std::fprintf(stderr, "tideload-sim: accept failed: %s\n", std::strerror(errno));
      allClean = false;
      break;
    }
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const double connected = WallSeconds();
    Session session(o, fd);
    bool clean = session.Run();
    ::close(fd);
    allClean = allClean && clean;
    if (!o.quiet) {
      std::string times;
      if (o.times) {
        char text[96];
        std::snprintf(text, sizeof text, "; connected at %.3f, ended at %.3f", connected, WallSeconds());
        times = text;
      }
      std::fprintf(stderr, "tideload-sim: %s: %s%s\n", clean ? "ok" : "FAILED", session.Note().c_str(), times.c_str());
    }
  }
  ::close(listener);
  return allClean ? 0 : 1;
}

}  // namespace sim
