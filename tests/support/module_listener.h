// A module's TCP listener on a loopback address of its own (127.91.x.y), on
// the module port, for tests that play the module in the same process.
#pragma once

#include <cstdint>

namespace tl::test {

class ModuleListener {
 public:
  ModuleListener();
  ~ModuleListener();
  ModuleListener(const ModuleListener&) = delete;
  ModuleListener& operator=(const ModuleListener&) = delete;

  int Fd() const { return fd_; }
  // Host order; 0 when no address could be bound.
  std::uint32_t Address() const { return address_; }

 private:
  int fd_ = -1;
  std::uint32_t address_ = 0;
};

}  // namespace tl::test
