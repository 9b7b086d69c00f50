// The SHA-256 of an image on a thread of its own, made while the loader is
// still producing the image, so that the two take about the time of the
// longer one.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/core/sha256.h"

namespace tl::cli {

class ImageHasher {
 public:
  // Where the image's final bytes go besides the digest: each part once, on
  // whichever thread has time for it (the hasher's when it waits for the
  // loader, the loader's while the hasher is behind), so that two parts may
  // be given at the same time.
  using Piece = std::function<void(std::size_t offset, const unsigned char* data, std::size_t length)>;
  explicit ImageHasher(Piece also = {});
  // Abandons the digest if it was not asked for.
  ~ImageHasher();
  ImageHasher(const ImageHasher&) = delete;
  ImageHasher& operator=(const ImageHasher&) = delete;

  // The image's first length bytes, at data, are final; length only grows.
  // (nullptr, 0): the image goes; returns when its bytes are no longer used.
  void Grow(const unsigned char* data, std::size_t length);
  // The digest of the whole image, once the thread has hashed all of it
  // and every byte was given to also.
  std::optional<Sha256Digest> Digest(const unsigned char* data, std::size_t length);

 private:
  void Run();
  void Stop();
  // Gives the bytes before until (ready_ or hashed_) not given yet to
  // also_; unlocks meanwhile.
  void HandOver(std::unique_lock<std::mutex>& lock, const std::size_t& until);

  std::mutex mutex_;
  std::condition_variable changed_;
  const unsigned char* data_ = nullptr;
  std::size_t ready_ = 0;   // final bytes
  std::size_t hashed_ = 0;  // of those, hashed
  std::size_t handed_ = 0;  // of those, given to also_
  bool complete_ = false;   // ready_ is the whole image
  bool stop_ = false;
  bool done_ = false;
  std::optional<Sha256Digest> digest_;
  const Piece also_;
  std::thread thread_;  // last: starts when the rest is set
};

}  // namespace tl::cli
