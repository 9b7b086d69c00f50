#include "platform/console/console_files.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/console/console_system.h"
#include "platform/win32/utf16.h"

namespace tl {

namespace {

constexpr DWORD kLargestPiece = 1u << 30;

// What one reading has got; the reader thread's until done is set.
struct Reading {
  HANDLE file = INVALID_HANDLE_VALUE;
  bool close = false;  // the file is ours, not stdin
  std::string bytes;
  DWORD error = 0;
  HANDLE done = nullptr;

  ~Reading() {
    if (close) CloseHandle(file);
    if (done != nullptr) CloseHandle(done);
  }
};

void Read(Reading& r, std::size_t most, bool oneLine) {
  char block[65536];
  while (r.bytes.size() <= most) {
    DWORD n = 0;
    const DWORD ask = static_cast<DWORD>(std::min(sizeof block, most + 1 - r.bytes.size()));
    if (ReadFile(r.file, block, ask, &n, nullptr) == 0) {
      // A pipe whose writer went has ended, like a file.
      if (GetLastError() != ERROR_BROKEN_PIPE) r.error = GetLastError();
      break;
    }
    if (n == 0) break;
    r.bytes.append(block, n);
    if (oneLine && std::memchr(block, '\n', n) != nullptr) break;
  }
}

// Ctrl-C and Ctrl-Break while a reading waits.
std::mutex g_mutex;
HANDLE g_interrupted = nullptr;

BOOL WINAPI OnControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_interrupted == nullptr) return FALSE;
  SetEvent(g_interrupted);
  return TRUE;
}

// While it lives, Ctrl-C sets its event instead of ending the program.
class InterruptibleWait {
 public:
  InterruptibleWait() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_interrupted = event_;
    SetConsoleCtrlHandler(OnControl, TRUE);
  }
  ~InterruptibleWait() {
    SetConsoleCtrlHandler(OnControl, FALSE);
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      g_interrupted = nullptr;
    }
    CloseHandle(event_);
  }
  InterruptibleWait(const InterruptibleWait&) = delete;
  InterruptibleWait& operator=(const InterruptibleWait&) = delete;

  // Until done is set (true) or Ctrl-C came (false).
  bool Wait(HANDLE done) const {
    const HANDLE either[] = {done, event_};
    return WaitForMultipleObjects(2, either, FALSE, INFINITE) == WAIT_OBJECT_0;
  }

 private:
  HANDLE event_;
};

}  // namespace

InputRead ReadInput(const char* path, std::size_t most, bool oneLine, std::string& bytes, std::string* error) {
  const InterruptibleWait wait;
  auto reading = std::make_shared<Reading>();
  if (std::strcmp(path, "-") == 0) {
    reading->file = GetStdHandle(STD_INPUT_HANDLE);
  } else {
    reading->file = CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    reading->close = true;
  }
  reading->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (reading->file == INVALID_HANDLE_VALUE || reading->file == nullptr || reading->done == nullptr) {
    reading->close = false;
    *error = SystemErrorText(LastSystemError());
    return InputRead::kFailed;
  }
  // A pipe may keep a read waiting for ever, which nothing can end for
  // certain: the reads go on a thread of their own, and Ctrl-C leaves it
  // behind, with what it reads, to end with the program.
  std::thread reader([reading, most, oneLine] {
    Read(*reading, most, oneLine);
    SetEvent(reading->done);
  });
  if (!wait.Wait(reading->done)) {
    reader.detach();
    return InputRead::kInterrupted;
  }
  reader.join();
  if (reading->error != 0) {
    *error = SystemErrorText(static_cast<int>(reading->error));
    return InputRead::kFailed;
  }
  bytes = std::move(reading->bytes);
  return InputRead::kRead;
}

// No unnamed files here: the bytes are written whole at the end.
GrowingOutputFile::GrowingOutputFile(const char* path) : path_(path) {}

GrowingOutputFile::~GrowingOutputFile() = default;

void GrowingOutputFile::WriteAt(std::size_t, const unsigned char*, std::size_t) {}

bool GrowingOutputFile::Finish(const unsigned char* data, std::size_t length, std::string* error) {
  const HANDLE file = CreateFileW(Utf8ToWide(path_).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  bool written = file != INVALID_HANDLE_VALUE;
  for (std::size_t done = 0; written && done < length;) {
    DWORD n = 0;
    written = WriteFile(file, data + done, static_cast<DWORD>(std::min<std::size_t>(length - done, kLargestPiece)), &n,
                        nullptr) != 0 &&
              n > 0;
    done += n;
  }
  if (!written) *error = SystemErrorText(LastSystemError());
  if (file != INVALID_HANDLE_VALUE && CloseHandle(file) == 0 && written) {
    *error = SystemErrorText(LastSystemError());
    written = false;
  }
  return written;
}

}  // namespace tl
