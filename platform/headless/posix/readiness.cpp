#include "platform/headless/readiness.h"

#include <poll.h>

namespace tl {

void WaitReady(std::vector<Readiness>& watched, int timeoutMs) {
  std::vector<pollfd> fds;
  fds.reserve(watched.size());
  for (const Readiness& r : watched) {
    short events = 0;
    if (r.read) events |= POLLIN;
    if (r.write) events |= POLLOUT;
    fds.push_back(pollfd{r.descriptor, events, 0});
  }
  watched.clear();
  if (::poll(fds.data(), fds.size(), timeoutMs) <= 0) return;
  for (const pollfd& p : fds) {
    if (p.revents == 0) continue;
    watched.push_back(Readiness{p.fd, (p.revents & (POLLIN | POLLERR | POLLHUP | POLLNVAL)) != 0,
                                (p.revents & POLLOUT) != 0});
  }
}

}  // namespace tl
