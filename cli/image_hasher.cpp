#include "cli/image_hasher.h"

#include <algorithm>

namespace tl::cli {

namespace {
// Bytes hashed between two looks at a stop.
constexpr std::size_t kPiece = std::size_t{1} << 20;
}  // namespace

ImageHasher::ImageHasher(Piece also) : also_(std::move(also)), thread_([this] { Run(); }) {}

ImageHasher::~ImageHasher() { Stop(); }

void ImageHasher::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void ImageHasher::Grow(const unsigned char* data, std::size_t length) {
  if (data == nullptr) {
    Stop();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    data_ = data;
    ready_ = length;
  }
  changed_.notify_all();
}

std::optional<Sha256Digest> ImageHasher::Digest(const unsigned char* data, std::size_t length) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (stop_) return std::nullopt;
  data_ = data;
  ready_ = length;
  complete_ = true;
  changed_.notify_all();
  changed_.wait(lock, [this] { return done_; });
  return digest_;
}

void ImageHasher::Run() {
  Sha256 sha;  // made here: starting the provider takes a while, and the loader goes on meanwhile
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stop_ || ready_ > hashed_ || complete_; });
    if (stop_) return;
    if (ready_ > hashed_) {
      const unsigned char* from = data_ + hashed_;
      const std::size_t length = std::min(ready_ - hashed_, kPiece);
      lock.unlock();
      sha.Add(from, length);
      if (also_) also_(from, length);
      lock.lock();
      hashed_ += length;
      continue;
    }
    digest_ = sha.Finish();
    done_ = true;
    changed_.notify_all();
    return;
  }
}

}  // namespace tl::cli
