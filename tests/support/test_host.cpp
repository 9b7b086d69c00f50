#include "tests/support/test_host.h"

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "platform/posix/file_registry.h"

namespace tl::test {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tideload-test-XXXXXX").string();
  char* made = ::mkdtemp(pattern.data());
  path_ = made ? std::filesystem::path(made) : std::filesystem::temp_directory_path();
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::Write(const std::string& name, std::string_view bytes) const {
  std::string p = File(name);
  std::ofstream out(p, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return p;
}

TestHost::TestHost(EventLoop::Clock clock)
    : loop(clock),
      ui(loop, "tideload"),
      registry(std::make_unique<FileRegistry>(registryDir.Path().string())) {
  previous_ = CurrentHost();
  ui.hooks().onDialogShown = [this](HeadlessWindow& w) {
    auto it = scripts_.find(w.Owner().LayoutId());
    if (it == scripts_.end() || it->second.empty()) return;
    auto script = std::move(it->second.front());
    it->second.erase(it->second.begin());
    script(w);
  };
  ui.hooks().onMessageBox = [this](HeadlessMessageBox& box) {
    if (boxOpenMs_ == 0) {
      box.Close();
    } else {
      HeadlessMessageBox* b = &box;
      loop.Post(boxOpenMs_, [b] { b->Close(); });
    }
  };
  Install();
}

TestHost::~TestHost() { SetHost(previous_); }

void TestHost::Install() { SetHost(Host{&ui, &net, registry.get(), &files}); }

void TestHost::OnDialog(int layoutId, std::function<void(HeadlessWindow&)> script) {
  scripts_[layoutId].push_back(std::move(script));
}

}  // namespace tl::test
