// The registry on a system without one: keys by path, typed values with
// exact bytes, one human-readable file per hive (the .reg text format).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/platform.h"

namespace tl {

class FileRegistry : public Registry {
 public:
  // folder: where the hive files live.
  explicit FileRegistry(std::string folder);
  ~FileRegistry() override;

  // ${TIDELOAD_REGISTRY_DIR}, else ${XDG_CONFIG_HOME:-~/.config}/tideload.
  static std::string DefaultFolder();
  std::string HiveFile() const;

  long CreateKey(Key parent, std::string_view path, Key* result) override;
  long OpenKey(Key parent, std::string_view path, Key* result) override;
  long QueryValueSize(Key key, std::string_view name, std::uint32_t* type,
                      std::size_t* size) override;
  long QueryValue(Key key, std::string_view name, std::uint32_t* type, void* buffer,
                  std::size_t capacity, std::size_t* size) override;
  long SetValue(Key key, std::string_view name, std::uint32_t type, const void* data,
                std::size_t size) override;
  long CloseKey(Key key) override;

  // For tests: makes the next hive write fail after the temporary file has
  // been written (as if the process died or the disk filled up).
  void FailNextWriteForTest() { failNextWrite_ = true; }

 private:
  struct Value {
    std::string name;  // as written
    std::uint32_t type = 0;
    std::vector<unsigned char> data;
  };
  struct KeyEntry {
    std::string path;                     // as first written
    std::map<std::string, Value> values;  // by lower-case name
  };
  using Hive = std::map<std::string, KeyEntry>;  // by lower-case path

  bool Load(Hive* hive, bool* parsed) const;
  bool Save(const Hive& hive);
  std::string PathOf(Key key) const;

  std::string folder_;
  std::map<Key, std::string> open_;  // handle -> full key path
  Key nextKey_ = 0x1000;
  bool failNextWrite_ = false;
};

}  // namespace tl
