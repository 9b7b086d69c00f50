// What sockets on readiness need from a host's event loop: readiness of file
// descriptors, delivered on the user-interface thread.
#pragma once

#include <functional>

namespace tl {

class Reactor {
 public:
  using Callback = std::function<void(bool readable, bool writable)>;
  virtual ~Reactor() = default;
  // Watches fd (again: replaces the interest and callback). Error and hang-up
  // conditions are reported as readable.
  virtual void Watch(int fd, bool wantRead, bool wantWrite, Callback callback) = 0;
  virtual void Unwatch(int fd) = 0;
};

}  // namespace tl
