// Descriptor readiness on the Qt event loop (and so in every nested modal
// loop): a read and a write QSocketNotifier per descriptor, enabled by the
// interest. Callbacks may unwatch or re-watch any descriptor, their own
// included, and may run nested loops.
#pragma once

#include <map>
#include <memory>

#include "platform/core/reactor.h"

class QSocketNotifier;

namespace tl {

class QtReactor : public Reactor {
 public:
  QtReactor();
  ~QtReactor() override;
  QtReactor(const QtReactor&) = delete;
  QtReactor& operator=(const QtReactor&) = delete;

  void Watch(int fd, bool wantRead, bool wantWrite, Callback callback) override;
  void Unwatch(int fd) override;

  bool Watching(int fd) const { return entries_.count(fd) != 0; }

 private:
  struct Entry;
  void Dispatch(int fd, const Entry* entry, bool readable);
  static void Retire(QSocketNotifier* notifier);

  std::map<int, std::shared_ptr<Entry>> entries_;
};

}  // namespace tl
