#include "platform/posix/file_registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

namespace tl {

namespace {

constexpr std::string_view kHiveName = "HKEY_LOCAL_MACHINE";
constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kOldHeader = "REGEDIT4";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kNoSuchHandle = "\x01";  // PathOf for a handle not open

// Hive files above this size are not read (nor written).
constexpr std::size_t kMaxHiveSize = std::size_t{1} << 20;
// Beside the hive: the lock every copy of the program takes around its
// read-change-write, temporary files, and damaged files kept aside.
constexpr std::string_view kLockSuffix = ".lock";
constexpr std::string_view kTempTag = ".tmp-";
constexpr std::string_view kAsideTag = ".unreadable-";
// Another copy holding the lock longer than this makes the operation one
// without the right to write.
constexpr auto kLockWait = std::chrono::seconds(2);
constexpr auto kLockPoll = std::chrono::milliseconds(5);

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


// Logical lines: CR LF or LF, trailing blanks dropped, a trailing backslash
// continues the line.
std::vector<std::string> LogicalLines(std::string_view text) {
  std::vector<std::string> lines;
  std::string current;
  std::size_t i = 0;
  while (i <= text.size()) {
    std::size_t j = text.find('\n', i);
    if (j == std::string_view::npos) j = text.size();
    std::string line(text.substr(i, j - i));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    line.erase(line.find_last_not_of(" \t") + 1);
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
  return lines;
}

// "[HKEY_LOCAL_MACHINE\path]" -> path below the hive.
std::optional<std::string> ParseSection(const std::string& line) {
  if (line.back() != ']') return std::nullopt;
  std::string path = Normalize(line.substr(1, line.size() - 2));
  if (path.size() <= kHiveName.size() + 1 || path[kHiveName.size()] != '\\' ||
      Lower(path.substr(0, kHiveName.size())) != Lower(kHiveName)) {
    return std::nullopt;
  }
  return path.substr(kHiveName.size() + 1);
}

// "name"=data or @=data.
std::optional<HiveValue> ParseValue(const std::string& line) {
  HiveValue value;
  std::size_t pos = 0;
  if (line[0] == '@') {
    pos = 1;
  } else if (!Unquote(line, pos, &value.name)) {
    return std::nullopt;
  }
  if (pos >= line.size() || line[pos] != '=') return std::nullopt;
  std::string data = line.substr(pos + 1);
  if (!data.empty() && data[0] == '"') {
    std::string s;
    std::size_t q = 0;
    if (!Unquote(data, q, &s) || q != data.size()) return std::nullopt;
    value.type = kRegSz;
    value.data.assign(s.begin(), s.end());
    value.data.push_back(0);
  } else if (data.rfind("dword:", 0) == 0) {
    std::string digits = data.substr(6);
    if (digits.size() != 8 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
      return std::nullopt;
    }
    std::uint32_t n = static_cast<std::uint32_t>(std::stoul(digits, nullptr, 16));
    value.type = kRegDword;
    value.data = {static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8),
                  static_cast<unsigned char>(n >> 16), static_cast<unsigned char>(n >> 24)};
  } else if (data.rfind("hex", 0) == 0) {
    std::size_t colon = data.find(':');
    if (colon == std::string::npos) return std::nullopt;
    std::string kind = data.substr(3, colon - 3);
    if (kind.empty()) {
      value.type = kRegBinary;
    } else if (kind.size() >= 3 && kind.front() == '(' && kind.back() == ')' &&
               kind.substr(1, kind.size() - 2).find_first_not_of("0123456789abcdefABCDEF") ==
                   std::string::npos &&
               kind.size() <= 10) {
      value.type = static_cast<std::uint32_t>(std::stoul(kind.substr(1, kind.size() - 2), nullptr, 16));
    } else {
      return std::nullopt;
    }
    if (!ParseHexBytes(std::string_view(data).substr(colon + 1), &value.data)) return std::nullopt;
  } else {
    return std::nullopt;
  }
  return value;
}

// ---------------------------------------------------------------- the file

// Who may hold the lock: whoever may write the hive, nobody else (a lock
// another user can open is one that user can hold for ever).
mode_t LockMode(const std::string& hive) {
  mode_t mode = S_IRUSR | S_IWUSR;
  struct stat st {};
  if (::stat(hive.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return mode;
  if ((st.st_mode & S_IWGRP) != 0) mode |= S_IRGRP | S_IWGRP;
  if ((st.st_mode & S_IWOTH) != 0) mode |= S_IROTH | S_IWOTH;
  return mode;
}

// Takes the lock beside the hive, waiting a bounded time; -1 when it cannot
// be had. A lock of ours that others may open (as older copies made it) is
// closed to them again.
int TakeLock(const std::string& path, mode_t mode) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 07777) != mode) ::fchmod(fd, mode);
  auto deadline = std::chrono::steady_clock::now() + kLockWait;
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) {
      ::close(fd);
      return -1;
    }
    std::this_thread::sleep_for(kLockPoll);
  }
  return fd;
}

// A hive the user may write: a regular file with a write bit (root ignores
// the bits, so they are looked at, not only asked for).
bool Writable(const std::string& path, const struct stat& st) {
  return S_ISREG(st.st_mode) && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 &&
         ::access(path.c_str(), W_OK) == 0;
}

// Whole file into text; false on a read error or when it is larger than
// limit (text then holds more than limit bytes).
bool ReadAll(int fd, std::size_t limit, std::string* text) {
  char buffer[16384];
  while (text->size() <= limit) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    text->append(buffer, static_cast<std::size_t>(n));
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// Temporary files of earlier writes that did not finish.
void RemoveLeftovers(const std::string& target) {
  DIR* dir = ::opendir(FolderOf(target).c_str());
  if (dir == nullptr) return;
  const std::string prefix = NameOf(target) + std::string(kTempTag);
  while (const dirent* entry = ::readdir(dir)) {
    if (std::string_view(entry->d_name).substr(0, prefix.size()) == prefix) {
      ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
  }
  ::closedir(dir);
}

// A new file beside target under a name nobody can guess, never through a
// link; -1 on failure.
int CreateTemp(const std::string& target, std::string* temp) {
  std::random_device random;
  for (int attempt = 0; attempt < 8; ++attempt) {
    char tag[24];
    std::snprintf(tag, sizeof tag, "%08x%08x", random(), random());
    *temp = target + std::string(kTempTag) + tag;
    int fd = ::open(temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

bool WriteAll(int fd, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return ::fsync(fd) == 0;
}

}  // namespace

std::optional<Hive> ParseHive(std::string_view text) {
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) text.remove_prefix(kByteOrderMark.size());
  Hive hive;
  bool headerSeen = false;
  std::string section;  // lower-case path of the current key
  bool inKey = false;
  for (const std::string& raw : LogicalLines(text)) {
    std::size_t first = raw.find_first_not_of(" \t");
    if (first == std::string::npos) continue;
    std::string line = raw.substr(first);
    if (line[0] == ';') continue;
    if (!headerSeen) {
      if (line != kHeader && line != kOldHeader) return std::nullopt;
      headerSeen = true;
    } else if (line[0] == '[') {
      std::optional<std::string> path = ParseSection(line);
      if (!path) return std::nullopt;
      section = Lower(*path);
      if (!hive.count(section)) hive[section].path = *path;
      inKey = true;
    } else {
      std::optional<HiveValue> value = ParseValue(line);
      if (!inKey || !value) return std::nullopt;
      hive[section].values[Lower(value->name)] = std::move(*value);
    }
  }
  if (!headerSeen && !text.empty()) return std::nullopt;
  return hive;
}

std::string FormatHive(const Hive& hive) {
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
  return out;
}

struct FileRegistry::Session {
  enum class State { Missing, Parsed, Unreadable, NoRight };
  State state = State::NoRight;
  Hive hive;
  std::string target;              // the hive file, links resolved
  std::optional<struct stat> found;  // the file as found, for its mode and owner
  int lockFd = -1;                 // -1: not locked (no folder yet, or no right)

  ~Session() {
    if (lockFd >= 0) ::close(lockFd);
  }

  // Reads the hive file once: never blocks on it, never reads more than a
  // hive may hold, and never takes a file it may not write for its own.
  void Read(const std::string& path) {
    target = path;
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr) {
      struct stat st {};
      bool none = errno == ENOENT && ::lstat(path.c_str(), &st) != 0 && errno == ENOENT;
      state = none ? State::Missing : State::NoRight;  // a dangling link is not "none"
      return;
    }
    target = real;
    std::free(real);
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0 || !Writable(target, st)) return;
    int fd = ::open(target.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
      if (errno == ENOENT) state = State::Missing;
      return;
    }
    std::string text;
    bool read = ::fstat(fd, &st) == 0 && Writable(target, st) && ReadAll(fd, kMaxHiveSize, &text);
    ::close(fd);
    if (!read) return;
    found = st;
    std::optional<Hive> parsed = text.size() <= kMaxHiveSize ? ParseHive(text) : std::nullopt;
    state = parsed ? State::Parsed : State::Unreadable;
    if (parsed) hive = std::move(*parsed);
  }
};

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
  return it == open_.end() ? std::string(kNoSuchHandle) : it->second;
}

FileRegistry::Session* FileRegistry::Begin() {
  if (session_) return session_.get();
  session_ = std::make_unique<Session>();
  struct stat st {};
  if (::stat(folder_.c_str(), &st) == 0) {  // else no file either, and nothing to write
    session_->lockFd = TakeLock(HiveFile() + std::string(kLockSuffix), LockMode(HiveFile()));
    if (session_->lockFd < 0) return session_.get();  // no right
  }
  session_->Read(HiveFile());
  return session_.get();
}

void FileRegistry::EndIfIdle() {
  if (open_.empty()) session_.reset();
}

long FileRegistry::Write(Hive next) {
  Session& s = *session_;
  if (s.lockFd < 0 || s.state == Session::State::NoRight || !Save(next)) return kAccessDenied;
  s.hive = std::move(next);
  s.state = Session::State::Parsed;
  return kSuccess;
}

bool FileRegistry::Save(const Hive& hive) {
  Session& s = *session_;
  const std::string text = FormatHive(hive);
  if (text.size() > kMaxHiveSize) return false;  // it could not be read back
  // A file that does not parse is kept aside, never overwritten.
  if (s.state == Session::State::Unreadable) {
    auto stamp = std::chrono::system_clock::now().time_since_epoch().count();
    std::string aside = s.target + std::string(kAsideTag) + std::to_string(stamp);
    if (std::rename(s.target.c_str(), aside.c_str()) != 0) return false;
    s.state = Session::State::Missing;
  }

  // A temporary file with the old one's mode and owner, flushed to disk,
  // then renamed over the old one.
  RemoveLeftovers(s.target);
  std::string temp;
  int fd = CreateTemp(s.target, &temp);
  if (fd < 0) return false;
  bool written = true;
  if (s.found) {
    written = ::fchmod(fd, s.found->st_mode & 07777) == 0;
    if (::geteuid() == 0) written = written && ::fchown(fd, s.found->st_uid, s.found->st_gid) == 0;
  }
  written = written && WriteAll(fd, text);
  ::close(fd);
  if (!written || std::rename(temp.c_str(), s.target.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

long FileRegistry::CreateKey(Key parent, std::string_view path, Key* result) {
  *result = 0;
  std::string base = PathOf(parent);
  if (base == kNoSuchHandle) return kInvalidHandle;
  std::string full = Join(base, Normalize(path));
  if (full.empty()) return kInvalidHandle;
  // The access asked for includes writing: a location that cannot be
  // written is a hive without the right to write.
  if (!MakeFolders(folder_) || ::access(folder_.c_str(), W_OK) != 0) return kAccessDenied;

  Session* s = Begin();
  long rc = s->state == Session::State::NoRight ? kAccessDenied : kSuccess;
  // Every key on the way exists afterwards.
  Hive next = s->hive;
  bool created = false;
  for (std::size_t i = 0; rc == kSuccess && i <= full.size();) {
    std::size_t j = full.find('\\', i);
    if (j == std::string::npos) j = full.size();
    std::string partial = full.substr(0, j);
    std::string lower = Lower(partial);
    if (!next.count(lower)) {
      next[lower].path = partial;
      created = true;
    }
    i = j + 1;
  }
  if (rc == kSuccess && created) rc = Write(std::move(next));
  if (rc == kSuccess) {
    *result = nextKey_++;
    open_[*result] = s->hive[Lower(full)].path;
  }
  EndIfIdle();
  return rc;
}

long FileRegistry::OpenKey(Key parent, std::string_view path, Key* result) {
  *result = 0;
  std::string base = PathOf(parent);
  if (base == kNoSuchHandle) return kInvalidHandle;
  std::string full = Join(base, Normalize(path));
  Session* s = Begin();
  long rc = kSuccess;
  if (s->state == Session::State::NoRight) {
    rc = kAccessDenied;
  } else if (!full.empty() && !s->hive.count(Lower(full))) {
    rc = kFileNotFound;
  } else {
    *result = nextKey_++;
    open_[*result] = full;
  }
  EndIfIdle();
  return rc;
}

long FileRegistry::QueryValueSize(Key key, std::string_view name, std::uint32_t* type,
                                  std::size_t* size) {
  long rc = QueryValue(key, name, type, nullptr, 0, size);
  return rc == kMoreData ? kSuccess : rc;
}

long FileRegistry::QueryValue(Key key, std::string_view name, std::uint32_t* type, void* buffer,
                              std::size_t capacity, std::size_t* size) {
  std::string path = PathOf(key);
  if (path == kNoSuchHandle) return kInvalidHandle;
  const Hive& hive = Begin()->hive;
  const HiveValue* value = nullptr;
  if (auto k = hive.find(Lower(path)); k != hive.end()) {
    if (auto v = k->second.values.find(Lower(name)); v != k->second.values.end()) value = &v->second;
  }
  long rc = kFileNotFound;
  if (value != nullptr) {
    if (type) *type = value->type;
    if (size) *size = value->data.size();
    if (buffer == nullptr) {
      rc = value->data.empty() ? kSuccess : kMoreData;
    } else if (value->data.size() > capacity) {
      rc = kMoreData;
    } else {
      std::copy(value->data.begin(), value->data.end(), static_cast<unsigned char*>(buffer));
      rc = kSuccess;
    }
  }
  EndIfIdle();
  return rc;
}

long FileRegistry::SetValue(Key key, std::string_view name, std::uint32_t type, const void* data,
                            std::size_t size) {
  std::string path = PathOf(key);
  if (path == kNoSuchHandle || path.empty()) return kInvalidHandle;
  if (::access(folder_.c_str(), W_OK) != 0) return kAccessDenied;
  Session* s = Begin();
  std::string lower = Lower(path);
  long rc = kFileNotFound;
  if (s->hive.count(lower)) {
    Hive next = s->hive;
    HiveValue& value = next[lower].values[Lower(name)];
    value.name = std::string(name);
    value.type = type;
    const auto* bytes = static_cast<const unsigned char*>(data);
    value.data.assign(bytes, bytes + size);
    rc = Write(std::move(next));
  }
  EndIfIdle();
  return rc;
}

long FileRegistry::CloseKey(Key key) {
  if (key == kLocalMachine) return kSuccess;
  long rc = open_.erase(key) ? kSuccess : kInvalidHandle;
  EndIfIdle();
  return rc;
}

}  // namespace tl
