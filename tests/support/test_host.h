// The deterministic test host: a virtual clock, window-less dialogs, a fake
// network and scripted users. Installs itself for its lifetime.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/platform.h"
#include "platform/headless/event_loop.h"
#include "platform/headless/headless_ui.h"
#include "platform/posix/posix_files.h"
#include "tests/support/fake_network.h"

namespace tl::test {

// A file's whole content; empty when it cannot be read.
std::string ReadFile(const std::string& path);

// A fresh temporary folder, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& Path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  // Writes a file and returns its path.
  std::string Write(const std::string& name, std::string_view bytes) const;

 private:
  std::filesystem::path path_;
};

class TestHost {
 public:
  explicit TestHost(EventLoop::Clock clock = EventLoop::Clock::Virtual);
  ~TestHost();

  EventLoop loop;
  HeadlessUi ui;
  FakeNetwork net;
  PosixFileSystem files;
  TempDir registryDir;
  std::unique_ptr<Registry> registry;  // the file registry in registryDir

  // ---- scripted users
  // The next dialog with this layout runs the script when it is shown
  // (scripts for one layout are used in order; without one the dialog waits).
  void OnDialog(int layoutId, std::function<void(HeadlessWindow&)> script);
  // Message boxes stay open this long (virtual ms) before the user closes
  // them; 0 closes at once.
  void KeepBoxesOpen(std::uint64_t ms) { boxOpenMs_ = ms; }
  // Runs fn after ms of virtual time.
  void After(std::uint64_t ms, std::function<void()> fn) { loop.Post(ms, std::move(fn)); }

  const std::vector<std::string>& Messages() const { return ui.Messages(); }
  // Installs this host again (after another host was installed).
  void Install();

 private:
  std::map<int, std::vector<std::function<void(HeadlessWindow&)>>> scripts_;
  std::uint64_t boxOpenMs_ = 0;
  Host previous_;
};

}  // namespace tl::test
