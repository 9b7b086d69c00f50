#include "platform/console/console_log.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

AppendLog::~AppendLog() { ::close(static_cast<int>(file_)); }

bool AppendLog::Append(std::string_view line) {
  const int fd = static_cast<int>(file_);
  std::string text(line);
  text += '\n';
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) return false;
  }
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::flock(fd, LOCK_UN);
  return done == text.size();
}

std::string OperatorName() {
  char login[256] = {};
  if (::getlogin_r(login, sizeof login) == 0 && login[0] != '\0') return login;
  // No login session (a service, a container): the user the program runs as.
  if (const passwd* user = ::getpwuid(::geteuid())) return user->pw_name;
  return std::to_string(::geteuid());
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

}  // namespace tl
