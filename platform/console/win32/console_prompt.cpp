#include "platform/console/console_prompt.h"

#include <windows.h>

#include <atomic>
#include <thread>

#include "platform/console/win32/loop_waker.h"
#include "platform/core/secret.h"
#include "platform/win32/utf16.h"

namespace tl {

namespace {

// The console's line input, echo off, read on a thread of its own (a
// console cannot be waited on with sockets); the line goes to the loop.
class ConsoleReader final : public ConsolePasswordPrompt::Reader {
 public:
  ConsoleReader(EventLoop& loop, std::function<void(const std::string*)> done)
      : input_(GetStdHandle(STD_INPUT_HANDLE)), done_(std::move(done)), waker_(loop, [this] { OnRead(); }) {
    if (GetConsoleMode(input_, &modeBefore_) != 0) {
      SetConsoleMode(input_, (modeBefore_ | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) & ~ENABLE_ECHO_INPUT);
    }
    thread_ = std::thread([this] { Read(); });
  }
  ~ConsoleReader() override {
    // A read still waiting ends with an Enter of our own; the console's
    // input is then dropped, the rest of a password typed among it.
    if (!read_) {
      INPUT_RECORD enter[2] = {};
      for (int i = 0; i < 2; ++i) {
        enter[i].EventType = KEY_EVENT;
        enter[i].Event.KeyEvent.bKeyDown = i == 0;
        enter[i].Event.KeyEvent.wRepeatCount = 1;
        enter[i].Event.KeyEvent.wVirtualKeyCode = VK_RETURN;
        enter[i].Event.KeyEvent.uChar.UnicodeChar = L'\r';
      }
      DWORD written = 0;
      WriteConsoleInputW(input_, enter, 2, &written);
    }
    if (thread_.joinable()) thread_.join();
    FlushConsoleInputBuffer(input_);
    SetConsoleMode(input_, modeBefore_);
    WipeSecret(line_);
  }

 private:
  // On the thread: up to the line's end, or until the input fails.
  void Read() {
    std::wstring typed;
    wchar_t piece[256];
    for (;;) {
      DWORD n = 0;
      if (ReadConsoleW(input_, piece, sizeof piece / sizeof piece[0], &n, nullptr) == 0 || n == 0) break;
      const std::wstring_view got(piece, n);
      const std::size_t end = got.find_first_of(L"\r\n");
      typed.append(got.substr(0, end));
      if (end != std::wstring_view::npos) {
        line_ = WideToUtf8(typed);
        ended_ = true;
        break;
      }
    }
    SecureZeroMemory(piece, sizeof piece);
    SecureZeroMemory(typed.data(), typed.size() * sizeof(wchar_t));
    read_ = true;
    waker_.Wake();
  }

  // On the loop.
  void OnRead() {
    if (!read_) return;
    thread_.join();
    std::string typed = std::move(line_);
    const bool ended = ended_;
    done_(ended ? &typed : nullptr);  // may end this reader
    WipeSecret(typed);
  }

  HANDLE input_;
  DWORD modeBefore_ = 0;
  std::function<void(const std::string*)> done_;
  std::string line_;
  bool ended_ = false;            // a whole line came
  std::atomic<bool> read_{false};  // the thread is done with the console
  LoopWaker waker_;
  std::thread thread_;
};

}  // namespace

std::unique_ptr<ConsolePasswordPrompt::Reader> ConsolePasswordPrompt::ReadWithoutEcho(
    EventLoop& loop, std::function<void(const std::string*)> done) {
  return std::make_unique<ConsoleReader>(loop, std::move(done));
}

}  // namespace tl
