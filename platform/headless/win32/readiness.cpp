// Sockets only: select() waits for nothing else on Windows.
#include "platform/headless/readiness.h"

#include <winsock2.h>

#include <algorithm>

#include "platform/headless/win32/socket_descriptor.h"

namespace tl {

namespace {

// An fd_set of any size: its count, then the sockets, each a SOCKET wide
// (the layout of winsock2.h's fd_set, whose FD_SETSIZE is only 64).
class SocketSet {
 public:
  explicit SocketSet(std::size_t most) : words_(1 + most, 0) {}
  void Add(SOCKET s) { words_[++words_[0]] = s; }
  bool Empty() const { return words_[0] == 0; }
  fd_set* Set() { return Empty() ? nullptr : reinterpret_cast<fd_set*>(words_.data()); }
  // After select: whether s is among the ready ones.
  bool Has(SOCKET s) const {
    const auto end = words_.begin() + 1 + static_cast<std::ptrdiff_t>(words_[0]);
    return std::find(words_.begin() + 1, end, s) != end;
  }

 private:
  std::vector<SOCKET> words_;
};

}  // namespace

void WaitReady(std::vector<Readiness>& watched, int timeoutMs) {
  SocketSet read(watched.size()), write(watched.size()), failed(watched.size());
  for (const Readiness& r : watched) {
    if (r.read) read.Add(SocketOf(r.descriptor));
    if (r.write) write.Add(SocketOf(r.descriptor));
    failed.Add(SocketOf(r.descriptor));  // a connect that failed
  }
  if (failed.Empty()) {
    // select() refuses to wait on no socket at all.
    if (timeoutMs > 0) Sleep(static_cast<DWORD>(timeoutMs));
    watched.clear();
    return;
  }
  timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  const int n = select(0, read.Set(), write.Set(), failed.Set(), &timeout);
  std::vector<Readiness> ready;
  for (const Readiness& r : watched) {
    if (n <= 0) break;
    const SOCKET s = SocketOf(r.descriptor);
    const bool readable = (r.read && read.Has(s)) || failed.Has(s);
    const bool writable = r.write && write.Has(s);
    if (readable || writable) ready.push_back(Readiness{r.descriptor, readable, writable});
  }
  watched = std::move(ready);
}

}  // namespace tl
