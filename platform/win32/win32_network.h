// Windows Sockets 1.1 behind the platform's Network. Readiness comes as
// window messages (WSAAsyncSelect) to a message-only window of the host, so
// that every modal loop, the system's nested ones included, delivers it.
#pragma once

#include <windows.h>
#include <winsock.h>

#include <map>
#include <vector>

#include "platform/core/platform.h"

namespace tl {

class Win32Network : public Network {
 public:
  // One socket's share of the host window: its own message number, so that
  // a message left in the queue for a closed socket reaches nobody.
  class Sink {
   public:
    virtual void OnSelect(WORD event, WORD error) = 0;

   protected:
    ~Sink() = default;
  };

  Win32Network();
  ~Win32Network() override;
  Win32Network(const Win32Network&) = delete;
  Win32Network& operator=(const Win32Network&) = delete;

  bool Startup(int major, int minor, int* grantedMajor, int* grantedMinor) override;
  std::unique_ptr<UdpSocket> OpenUdp(std::uint16_t localPort, SocketEvents& events) override;
  std::vector<NetworkInterface> Interfaces() override;
  std::unique_ptr<TcpSocket> ConnectTcp(std::uint32_t address, std::uint16_t port,
                                        SocketEvents& events) override;
  long LastError() override { return lastError_; }

  // ---- for the sockets
  HWND Window() const { return window_; }
  UINT Register(SOCKET socket, Sink& sink);
  // The broadcast address of the interface's own network (host order), or
  // 0 when there is no such interface.
  std::uint32_t DirectedBroadcastOf(unsigned interfaceId);
  void Unregister(UINT message);

 private:
  struct Entry {
    SOCKET socket;
    Sink* sink;
  };
  static LRESULT CALLBACK WindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  void Deliver(UINT message, WPARAM wParam, LPARAM lParam);

  HWND window_ = nullptr;
  bool started_ = false;
  long lastError_ = 0;
  std::map<UINT, Entry> entries_;
  UINT nextMessage_;
};

}  // namespace tl
