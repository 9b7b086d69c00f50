#include "tests/e2e/pty_child.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "tests/e2e/e2e_support.h"

namespace e2e {

PtyChild::PtyChild(const std::vector<std::string>& argv,
                   const std::map<std::string, std::string>& env) {
  if (::openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) return;
  pid_ = ::fork();
  if (pid_ == 0) {
    ::setsid();
    ::ioctl(slave_, TIOCSCTTY, 0);
    ::dup2(slave_, 0);
    ::dup2(slave_, 1);
    ::dup2(slave_, 2);
    ::close(master_);
    ::close(slave_);
    ExecChild(argv, env);
  }
}

PtyChild::~PtyChild() {
  if (pid_ > 0 && !reaped_) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (master_ >= 0) ::close(master_);
  if (slave_ >= 0) ::close(slave_);
}

bool PtyChild::ReadSome(int waitMs) {
  pollfd p{master_, POLLIN, 0};
  if (::poll(&p, 1, waitMs) <= 0) return false;
  char buffer[4096];
  ssize_t n = ::read(master_, buffer, sizeof buffer);
  if (n <= 0) return false;
  output_.append(buffer, static_cast<std::size_t>(n));
  return true;
}

bool PtyChild::WaitFor(const std::string& text, int timeoutMs) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (output_.find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() >= until) return false;
    ReadSome(20);
  }
  return true;
}

void PtyChild::Type(const std::string& keys) {
  if (::write(master_, keys.data(), keys.size()) < 0) std::abort();
}

int PtyChild::Wait(int timeoutMs) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  while (!reaped_) {
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      reaped_ = true;
      break;
    }
    if (std::chrono::steady_clock::now() >= until) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      reaped_ = true;
      return -1;
    }
    ReadSome(20);
  }
  while (ReadSome(0)) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : kSignalled + WTERMSIG(status);
}

termios PtyChild::Settings() const {
  termios t{};
  ::tcgetattr(slave_, &t);
  return t;
}

}  // namespace e2e
