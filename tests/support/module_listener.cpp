#include "tests/support/module_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>

#include "update/update_socket.h"

namespace tl::test {

ModuleListener::ModuleListener() {
  std::mt19937 random(std::random_device{}());
  for (int attempt = 0; attempt < 50 && address_ == 0; ++attempt) {
    const std::uint32_t candidate = (127u << 24) | (91u << 16) | (random() & 0xFFFFu);
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(UpdateSocket::kModulePort);
    sa.sin_addr.s_addr = htonl(candidate);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 && ::listen(fd_, 4) == 0) {
      address_ = candidate;
    } else {
      ::close(fd_);
      fd_ = -1;
    }
  }
}

ModuleListener::~ModuleListener() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace tl::test
