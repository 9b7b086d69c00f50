#include "platform/qt/qt_reactor.h"

#include <QSocketNotifier>

namespace tl {

struct QtReactor::Entry {
  QSocketNotifier* read = nullptr;
  QSocketNotifier* write = nullptr;
  std::shared_ptr<Callback> callback;
};

QtReactor::QtReactor() = default;

QtReactor::~QtReactor() {
  for (auto& [fd, entry] : entries_) {
    Retire(entry->read);
    Retire(entry->write);
  }
}

void QtReactor::Retire(QSocketNotifier* notifier) {
  if (notifier == nullptr) return;
  // It may be the notifier whose signal is being delivered: silence it now,
  // free it later.
  notifier->setEnabled(false);
  notifier->disconnect();
  notifier->deleteLater();
}

void QtReactor::Watch(int fd, bool wantRead, bool wantWrite, Callback callback) {
  if (fd < 0) return;
  std::shared_ptr<Entry>& slot = entries_[fd];
  if (!slot) {
    slot = std::make_shared<Entry>();
    const Entry* key = slot.get();
    slot->read = new QSocketNotifier(fd, QSocketNotifier::Read);
    slot->write = new QSocketNotifier(fd, QSocketNotifier::Write);
    slot->read->setEnabled(false);
    slot->write->setEnabled(false);
    QObject::connect(slot->read, &QSocketNotifier::activated,
                     [this, fd, key] { Dispatch(fd, key, true); });
    QObject::connect(slot->write, &QSocketNotifier::activated,
                     [this, fd, key] { Dispatch(fd, key, false); });
  }
  // A new callback object: one that is running now keeps its own alive.
  slot->callback = std::make_shared<Callback>(std::move(callback));
  slot->read->setEnabled(wantRead);
  slot->write->setEnabled(wantWrite);
}

void QtReactor::Unwatch(int fd) {
  auto it = entries_.find(fd);
  if (it == entries_.end()) return;
  Retire(it->second->read);
  Retire(it->second->write);
  entries_.erase(it);
}

void QtReactor::Dispatch(int fd, const Entry* entry, bool readable) {
  auto it = entries_.find(fd);
  // Stale: the descriptor was unwatched (and maybe watched anew) meanwhile.
  if (it == entries_.end() || it->second.get() != entry) return;
  std::shared_ptr<Entry> hold = it->second;
  std::shared_ptr<Callback> callback = hold->callback;
  if (callback && *callback) (*callback)(readable, !readable);
}

}  // namespace tl
