// The registry on a system without one: keys by path, typed values with
// exact bytes, one human-readable file per hive (the .reg text format).
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/platform.h"

namespace tl {

// One hive as the file holds it.
struct HiveValue {
  std::string name;  // as written
  std::uint32_t type = 0;
  std::vector<unsigned char> data;
  bool operator==(const HiveValue&) const = default;
};
struct HiveKey {
  std::string path;                         // as first written
  std::map<std::string, HiveValue> values;  // by lower-case name
  bool operator==(const HiveKey&) const = default;
};
using Hive = std::map<std::string, HiveKey>;  // by lower-case path

// The text of a hive file; nothing when any line of it does not parse.
std::optional<Hive> ParseHive(std::string_view text);
std::string FormatHive(const Hive& hive);

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

 private:
  // The hive file as one operation sees it: read once when the first key
  // opens, under the lock shared by every copy of the program, and dropped
  // with the lock when the last key closes.
  struct Session;

  Session* Begin();
  void EndIfIdle();
  long Write(Hive next);
  bool Save(const Hive& hive);
  std::string PathOf(Key key) const;

  std::string folder_;
  std::map<Key, std::string> open_;  // handle -> full key path
  Key nextKey_ = 0x1000;
  std::unique_ptr<Session> session_;
};

}  // namespace tl
