#include "platform/console/console_log.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace tl {

std::unique_ptr<AppendLog> AppendLog::Open(const std::string& path, std::string* error) {
  // Non-blocking, so that a FIFO never holds the program at the open.
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0600);
  if (fd < 0) {
    *error = std::strerror(errno);
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    *error = "not a plain file";
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<AppendLog>(new AppendLog(fd));
}

AppendLog::~AppendLog() { ::close(fd_); }

bool AppendLog::Append(std::string_view line) {
  std::string text(line);
  text += '\n';
  while (::flock(fd_, LOCK_EX) != 0) {
    if (errno != EINTR) return false;
  }
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::flock(fd_, LOCK_UN);
  return done == text.size();
}

std::string OperatorName() {
  char login[256] = {};
  if (::getlogin_r(login, sizeof login) == 0 && login[0] != '\0') return login;
  // No login session (a service, a container): the user the program runs as.
  if (const passwd* user = ::getpwuid(::geteuid())) return user->pw_name;
  return std::to_string(::geteuid());
}

std::string UtcNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  ::gmtime_r(&seconds, &utc);
  char text[96];  // room for any int the fields may hold
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(millis));
  return text;
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

}  // namespace tl
