#include "platform/posix/file_registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace tl {

namespace {

constexpr std::string_view kHiveName = "HKEY_LOCAL_MACHINE";
constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// "A\\B\\" -> "A\B"; empty components dropped.
std::string Normalize(std::string_view path) {
  std::string out;
  std::size_t i = 0;
  while (i < path.size()) {
    std::size_t j = path.find('\\', i);
    if (j == std::string_view::npos) j = path.size();
    if (j > i) {
      if (!out.empty()) out += '\\';
      out.append(path.substr(i, j - i));
    }
    i = j + 1;
  }
  return out;
}

std::string Join(const std::string& parent, const std::string& child) {
  if (parent.empty()) return child;
  if (child.empty()) return parent;
  return parent + "\\" + child;
}

bool MakeFolders(const std::string& folder) {
  if (folder.empty()) return false;
  std::string partial;
  std::size_t i = 0;
  while (i <= folder.size()) {
    std::size_t j = folder.find('/', i);
    if (j == std::string::npos) j = folder.size();
    partial = folder.substr(0, j);
    if (!partial.empty()) {
      struct stat st {};
      if (::stat(partial.c_str(), &st) != 0) {
        if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
      } else if (!S_ISDIR(st.st_mode)) {
        return false;
      }
    }
    i = j + 1;
  }
  return true;
}

bool Printable(const std::vector<unsigned char>& data, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (data[i] < 0x20 || data[i] > 0x7e) return false;
  }
  return true;
}

std::string Quote(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

// Parses a quoted text at s[i]; i moves past it.
bool Unquote(const std::string& s, std::size_t& i, std::string* out) {
  if (i >= s.size() || s[i] != '"') return false;
  ++i;
  out->clear();
  while (i < s.size()) {
    char c = s[i++];
    if (c == '"') return true;
    if (c == '\\') {
      if (i >= s.size()) return false;
      c = s[i++];
    }
    *out += c;
  }
  return false;
}

bool ParseHexBytes(std::string_view text, std::vector<unsigned char>* out) {
  out->clear();
  std::size_t i = 0;
  auto skipSpace = [&] {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  };
  skipSpace();
  if (i == text.size()) return true;
  while (true) {
    skipSpace();
    if (i + 2 > text.size() || !std::isxdigit(static_cast<unsigned char>(text[i])) ||
        !std::isxdigit(static_cast<unsigned char>(text[i + 1]))) {
      return false;
    }
    out->push_back(static_cast<unsigned char>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16)));
    i += 2;
    skipSpace();
    if (i == text.size()) return true;
    if (text[i] != ',') return false;
    ++i;
  }
}

}  // namespace

FileRegistry::FileRegistry(std::string folder) : folder_(std::move(folder)) {}

FileRegistry::~FileRegistry() = default;

std::string FileRegistry::DefaultFolder() {
  if (const char* dir = std::getenv("TIDELOAD_REGISTRY_DIR"); dir != nullptr && *dir != '\0') {
    return dir;
  }
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg != '\0') {
    return std::string(xdg) + "/tideload";
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    return std::string(home) + "/.config/tideload";
  }
  return {};
}

std::string FileRegistry::HiveFile() const {
  return folder_ + "/" + std::string(kHiveName) + ".reg";
}

std::string FileRegistry::PathOf(Key key) const {
  if (key == kLocalMachine) return {};
  auto it = open_.find(key);
  return it == open_.end() ? std::string("\x01") : it->second;  // \x01: no such handle
}

bool FileRegistry::Load(Hive* hive, bool* parsed) const {
  hive->clear();
  *parsed = true;
  std::ifstream in(HiveFile(), std::ios::binary);
  if (!in) return false;  // no file yet: an empty hive
  std::stringstream buffer;
  buffer << in.rdbuf();
  std::string text = buffer.str();

  // Logical lines: CR LF or LF, a trailing backslash continues the line.
  std::vector<std::string> lines;
  std::string current;
  std::size_t i = 0;
  while (i <= text.size()) {
    std::size_t j = text.find('\n', i);
    if (j == std::string::npos) j = text.size();
    std::string line = text.substr(i, j - i);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (current.empty() && !line.empty() && line.back() == '\\' && line.front() != '[') {
      line.pop_back();
      current += line;
    } else if (!current.empty()) {
      std::size_t k = line.find_first_not_of(" \t");
      current += k == std::string::npos ? std::string() : line.substr(k);
      if (!current.empty() && current.back() == '\\') {
        current.pop_back();
      } else {
        lines.push_back(current);
        current.clear();
      }
    } else {
      lines.push_back(line);
    }
    i = j + 1;
  }
  if (!current.empty()) lines.push_back(current);

  bool headerSeen = false;
  std::string section;  // lower-case path of the current key; "\x01" before the first
  bool inKey = false;
  for (const std::string& raw : lines) {
    std::string line = raw;
    std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos) continue;
    line = line.substr(first);
    if (line[0] == ';') continue;
    if (!headerSeen) {
      if (line != kHeader) {
        *parsed = false;
        return false;
      }
      headerSeen = true;
      continue;
    }
    if (line[0] == '[') {
      if (line.back() != ']') {
        *parsed = false;
        return false;
      }
      std::string path = Normalize(line.substr(1, line.size() - 2));
      std::string prefix = std::string(kHiveName);
      if (Lower(path.substr(0, prefix.size())) != Lower(prefix)) {
        *parsed = false;
        return false;
      }
      std::string rest = path.size() > prefix.size() ? path.substr(prefix.size() + 1) : "";
      if (rest.empty()) {
        *parsed = false;
        return false;
      }
      section = Lower(rest);
      (*hive)[section].path = rest;
      inKey = true;
      continue;
    }
    if (!inKey) {
      *parsed = false;
      return false;
    }
    // "name"=data or @=data
    std::string name;
    std::size_t pos = 0;
    if (line[0] == '@') {
      pos = 1;
    } else if (!Unquote(line, pos, &name)) {
      *parsed = false;
      return false;
    }
    if (pos >= line.size() || line[pos] != '=') {
      *parsed = false;
      return false;
    }
    ++pos;
    std::string data = line.substr(pos);
    Value value;
    value.name = name;
    if (!data.empty() && data[0] == '"') {
      std::string s;
      std::size_t q = 0;
      if (!Unquote(data, q, &s) || q != data.size()) {
        *parsed = false;
        return false;
      }
      value.type = kRegSz;
      value.data.assign(s.begin(), s.end());
      value.data.push_back(0);
    } else if (data.rfind("dword:", 0) == 0) {
      std::string digits = data.substr(6);
      if (digits.size() != 8 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        *parsed = false;
        return false;
      }
      std::uint32_t n = static_cast<std::uint32_t>(std::stoul(digits, nullptr, 16));
      value.type = kRegDword;
      value.data = {static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8),
                    static_cast<unsigned char>(n >> 16), static_cast<unsigned char>(n >> 24)};
    } else if (data.rfind("hex", 0) == 0) {
      std::size_t colon = data.find(':');
      if (colon == std::string::npos) {
        *parsed = false;
        return false;
      }
      std::string kind = data.substr(3, colon - 3);
      if (kind.empty()) {
        value.type = kRegBinary;
      } else if (kind.size() >= 3 && kind.front() == '(' && kind.back() == ')' &&
                 kind.substr(1, kind.size() - 2).find_first_not_of("0123456789abcdefABCDEF") ==
                     std::string::npos &&
                 kind.size() <= 10) {
        value.type = static_cast<std::uint32_t>(std::stoul(kind.substr(1, kind.size() - 2), nullptr, 16));
      } else {
        *parsed = false;
        return false;
      }
      if (!ParseHexBytes(std::string_view(data).substr(colon + 1), &value.data)) {
        *parsed = false;
        return false;
      }
    } else {
      *parsed = false;
      return false;
    }
    (*hive)[section].values[Lower(name)] = value;
  }
  if (!headerSeen && !text.empty()) {
    *parsed = false;
    return false;
  }
  return true;
}

bool FileRegistry::Save(const Hive& hive) {
  if (!MakeFolders(folder_)) return false;
  std::string target = HiveFile();

  // A file that does not parse is kept aside, never overwritten.
  Hive old;
  bool parsed = true;
  Load(&old, &parsed);
  if (!parsed) {
    auto stamp = std::chrono::system_clock::now().time_since_epoch().count();
    std::string aside = target + ".unreadable-" + std::to_string(stamp);
    if (std::rename(target.c_str(), aside.c_str()) != 0) return false;
  }

  std::string out;
  out += kHeader;
  out += "\r\n";
  for (const auto& [lowerPath, entry] : hive) {
    out += "\r\n[" + std::string(kHiveName) + "\\" + entry.path + "]\r\n";
    for (const auto& [lowerName, value] : entry.values) {
      out += value.name.empty() ? std::string("@") : Quote(value.name);
      out += '=';
      const std::vector<unsigned char>& d = value.data;
      if (value.type == kRegSz && !d.empty() && d.back() == 0 && Printable(d, d.size() - 1)) {
        out += Quote(std::string(d.begin(), d.end() - 1));
      } else if (value.type == kRegDword && d.size() == 4) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x",
                      static_cast<unsigned>(d[0] | d[1] << 8 | d[2] << 16 | d[3] << 24));
        out += buf;
      } else {
        char buf[24];
        if (value.type == kRegBinary) {
          out += "hex:";
        } else {
          std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(value.type));
          out += buf;
        }
        for (std::size_t k = 0; k < d.size(); ++k) {
          std::snprintf(buf, sizeof buf, "%s%02x", k == 0 ? "" : ",", d[k]);
          out += buf;
        }
      }
      out += "\r\n";
    }
  }

  // Temporary file, flushed to disk, then renamed over the old one.
  std::string temp = target + ".tmp-" + std::to_string(::getpid());
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  std::size_t done = 0;
  while (done < out.size()) {
    ssize_t n = ::write(fd, out.data() + done, out.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::close(fd);
      ::unlink(temp.c_str());
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0) {
    ::close(fd);
    ::unlink(temp.c_str());
    return false;
  }
  ::close(fd);
  if (failNextWrite_) {  // dies between the write and the rename
    failNextWrite_ = false;
    return false;
  }
  if (std::rename(temp.c_str(), target.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

long FileRegistry::CreateKey(Key parent, std::string_view path, Key* result) {
  *result = 0;
  std::string base = PathOf(parent);
  if (base == "\x01") return kInvalidHandle;
  std::string full = Join(base, Normalize(path));
  if (full.empty()) return kInvalidHandle;
  // The access asked for includes writing: a location that cannot be
  // written is a hive without the right to write.
  if (!MakeFolders(folder_) || ::access(folder_.c_str(), W_OK) != 0) return kAccessDenied;

  Hive hive;
  bool parsed = true;
  Load(&hive, &parsed);
  bool created = false;
  // Every key on the way exists afterwards.
  std::string partial;
  std::size_t i = 0;
  while (i <= full.size()) {
    std::size_t j = full.find('\\', i);
    if (j == std::string::npos) j = full.size();
    partial = full.substr(0, j);
    std::string lower = Lower(partial);
    if (!hive.count(lower)) {
      hive[lower].path = partial;
      created = true;
    }
    i = j + 1;
  }
  if (created && !Save(hive)) return kAccessDenied;
  Key key = nextKey_++;
  open_[key] = hive[Lower(full)].path;
  *result = key;
  return kSuccess;
}

long FileRegistry::OpenKey(Key parent, std::string_view path, Key* result) {
  *result = 0;
  std::string base = PathOf(parent);
  if (base == "\x01") return kInvalidHandle;
  std::string full = Join(base, Normalize(path));
  Hive hive;
  bool parsed = true;
  Load(&hive, &parsed);
  if (!full.empty() && !hive.count(Lower(full))) return kFileNotFound;
  Key key = nextKey_++;
  open_[key] = full;
  *result = key;
  return kSuccess;
}

long FileRegistry::QueryValueSize(Key key, std::string_view name, std::uint32_t* type,
                                  std::size_t* size) {
  long rc = QueryValue(key, name, type, nullptr, 0, size);
  return rc == kMoreData ? kSuccess : rc;
}

long FileRegistry::QueryValue(Key key, std::string_view name, std::uint32_t* type, void* buffer,
                              std::size_t capacity, std::size_t* size) {
  std::string path = PathOf(key);
  if (path == "\x01") return kInvalidHandle;
  Hive hive;
  bool parsed = true;
  Load(&hive, &parsed);
  auto k = hive.find(Lower(path));
  if (k == hive.end()) return kFileNotFound;
  auto v = k->second.values.find(Lower(name));
  if (v == k->second.values.end()) return kFileNotFound;
  const Value& value = v->second;
  if (type) *type = value.type;
  if (size) *size = value.data.size();
  if (buffer == nullptr) return value.data.empty() ? kSuccess : kMoreData;
  if (value.data.size() > capacity) return kMoreData;
  std::copy(value.data.begin(), value.data.end(), static_cast<unsigned char*>(buffer));
  return kSuccess;
}

long FileRegistry::SetValue(Key key, std::string_view name, std::uint32_t type, const void* data,
                            std::size_t size) {
  std::string path = PathOf(key);
  if (path == "\x01" || path.empty()) return kInvalidHandle;
  if (::access(folder_.c_str(), W_OK) != 0) return kAccessDenied;
  Hive hive;
  bool parsed = true;
  Load(&hive, &parsed);
  std::string lower = Lower(path);
  if (!hive.count(lower)) return kFileNotFound;  // deleted meanwhile or file replaced
  Value value;
  value.name = std::string(name);
  value.type = type;
  const auto* bytes = static_cast<const unsigned char*>(data);
  value.data.assign(bytes, bytes + size);
  hive[lower].values[Lower(name)] = value;
  return Save(hive) ? kSuccess : kAccessDenied;
}

long FileRegistry::CloseKey(Key key) {
  if (key == kLocalMachine) return kSuccess;
  return open_.erase(key) ? kSuccess : kInvalidHandle;
}

}  // namespace tl
