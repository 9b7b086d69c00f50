// Feeds arbitrary module byte streams, cut into arbitrary reads, through the
// update dialog's line assembly and handler on a virtual clock.
//   byte 0: read size (1..64) and whether the connect fails
//   byte 1: the user's answer to credential prompts, boxes left open
//   rest:   the module's bytes
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "platform/core/layout.h"
#include "platform/core/platform.h"
#include "platform/headless/event_loop.h"
#include "platform/headless/headless_ui.h"
#include "platform/posix/posix_files.h"
#include "update/update_dialog.h"

namespace {

using namespace tl;

class FuzzSocket : public TcpSocket {
 public:
  explicit FuzzSocket(SocketEvents& events) : events(events) {}
  long Read(void* buffer, std::size_t capacity) override {
    if (pending.empty() || capacity == 0) return 0;
    *static_cast<unsigned char*>(buffer) = pending.front();
    pending.pop_front();
    return 1;
  }
  long Write(const void*, std::size_t length) override {
    written += length;
    return static_cast<long>(length);
  }
  std::size_t Queued() const override { return 0; }
  SocketEvents& events;
  std::deque<unsigned char> pending;
  std::size_t written = 0;
};

class FuzzNetwork : public Network {
 public:
  bool Startup(int, int, int*, int*) override { return true; }
  std::unique_ptr<UdpSocket> OpenUdp(std::uint16_t, SocketEvents&) override { return nullptr; }
  std::vector<NetworkInterface> Interfaces() override { return {}; }
  std::unique_ptr<TcpSocket> ConnectTcp(std::uint32_t, std::uint16_t, SocketEvents& e) override {
    auto s = std::make_unique<FuzzSocket>(e);
    last = s.get();
    return s;
  }
  long LastError() override { return 0; }
  FuzzSocket* last = nullptr;
};

std::string SampleFile() {
  static std::string path = [] {
    // In the folder the fuzzer runs in (its work folder), nowhere else.
    std::string p = (std::filesystem::current_path() / "tideload_fuzz_update_APP.s19").string();
    std::ofstream(p, std::ios::binary) << "S0RT40\r\nS107010041424344ED\r\n";
    return p;
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t chunk = 1 + (data[0] & 63);
  const bool connectFails = (data[0] & 64) != 0;
  const std::uint8_t user = data[1];
  const std::string file = SampleFile();

  EventLoop loop(EventLoop::Clock::Virtual);
  HeadlessUi ui(loop, "fuzz");
  FuzzNetwork net;
  PosixFileSystem files;
  SetHost(Host{&ui, &net, nullptr, &files});

  std::size_t offset = 2;
  // One read batch every 100 ms until the stream is used up.
  std::function<void()> feed = [&] {
    FuzzSocket* s = net.last;
    if (s == nullptr || offset >= size) return;
    std::size_t n = std::min(chunk, size - offset);
    s->pending.insert(s->pending.end(), data + offset, data + offset + n);
    offset += n;
    s->events.OnReceive(0);
    if (offset < size) loop.Post(100, feed);
  };
  ui.hooks().onMessageBox = [&](HeadlessMessageBox& box) {
    if ((user & 1) != 0) {
      HeadlessMessageBox* b = &box;
      loop.Post(1000u * (user >> 4), [b] { b->Close(); });
    } else {
      box.Close();
    }
  };
  ui.hooks().onDialogShown = [&](HeadlessWindow& w) {
    if (w.Owner().LayoutId() == kDialogCredentials) {
      w.Type(kIdUserName, std::string(user & 7, 'u'));
      w.Press((user & 2) != 0 ? kIdCancel : kIdOk);
      return;
    }
    FuzzSocket* s = net.last;
    if (s == nullptr) return;
    if (connectFails) s->events.OnConnect(111);
    loop.Post(0, feed);
  };

  int result = 0;
  {
    UpdateDialog dialog(file, 0x7F000001, user & 4, nullptr);
    result = dialog.DoModal();
    if (result != kResultOk && result != kResultCancel) std::abort();
    if (result == kResultOk && !dialog.completed) std::abort();
    if (dialog.socket != nullptr &&
        (dialog.socket->lineLength < 0 || dialog.socket->lineLength >= UpdateSocket::kLineBufferSize)) {
      std::abort();
    }
  }
  SetHost(Host{});
  return 0;
}
