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
  // Each piece, once hashed, is handed to also on the hasher's thread (the
  // whole image in order, while it is still in the cache).
  using Piece = std::function<void(const unsigned char* data, std::size_t length)>;
  explicit ImageHasher(Piece also = {});
  // Abandons the digest if it was not asked for.
  ~ImageHasher();
  ImageHasher(const ImageHasher&) = delete;
  ImageHasher& operator=(const ImageHasher&) = delete;

  // The image's first length bytes, at data, are final; length only grows.
  // (nullptr, 0): the image goes; returns when its bytes are no longer used.
  void Grow(const unsigned char* data, std::size_t length);
  // The digest of the whole image, once the thread has hashed all of it.
  std::optional<Sha256Digest> Digest(const unsigned char* data, std::size_t length);

 private:
  void Run();
  void Stop();

  std::mutex mutex_;
  std::condition_variable changed_;
  const unsigned char* data_ = nullptr;
  std::size_t ready_ = 0;   // final bytes
  std::size_t hashed_ = 0;  // of those, hashed
  bool complete_ = false;   // ready_ is the whole image
  bool stop_ = false;
  bool done_ = false;
  std::optional<Sha256Digest> digest_;
  const Piece also_;
  std::thread thread_;  // last: starts when the rest is set
};

}  // namespace tl::cli
