#include "cli/image_hasher.h"

#include <algorithm>

namespace tl::cli {

namespace {
// Bytes hashed between two looks at a stop, and given to also at a time.
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

void ImageHasher::HandOver(std::unique_lock<std::mutex>& lock, const std::size_t& until) {
  while (also_ && handed_ < until && !stop_) {
    const std::size_t from = handed_;
    const std::size_t length = std::min(until - from, kPiece);
    const unsigned char* data = data_;
    handed_ += length;
    lock.unlock();
    also_(from, data + from, length);
    lock.lock();
  }
}

void ImageHasher::Grow(const unsigned char* data, std::size_t length) {
  if (data == nullptr) {
    Stop();
    return;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  data_ = data;
  ready_ = length;
  changed_.notify_all();
  // The hasher is a piece behind: what is final is given away here, so
  // that its thread keeps to hashing.
  if (ready_ - hashed_ > kPiece) HandOver(lock, ready_);
}

std::optional<Sha256Digest> ImageHasher::Digest(const unsigned char* data, std::size_t length) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (stop_) return std::nullopt;
  data_ = data;
  ready_ = length;
  complete_ = true;
  changed_.notify_all();
  HandOver(lock, ready_);  // the rest, while the hasher finishes
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
      lock.lock();
      hashed_ += length;
      // Caught up with the loader: time to spare for what it hashed (and
      // no more, should the loader go on meanwhile).
      if (ready_ == hashed_) HandOver(lock, hashed_);
      continue;
    }
    digest_ = sha.Finish();
    done_ = true;
    changed_.notify_all();
    return;
  }
}

}  // namespace tl::cli
