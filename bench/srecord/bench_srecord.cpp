// Loads a generated 64 MB S3 file (from a seeded random 24 MB blob) with our
// loader and with objcopy in the same run, and prints the ratio, the
// throughput and the loader's peak memory beyond the process baseline.
//
//   bench_srecord [--keep DIR]
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/core/dialog.h"
#include "platform/core/platform.h"
#include "platform/posix/posix_files.h"
#include "update/srecord_loader.h"

extern char** environ;

namespace {

constexpr std::size_t kBlobSize = 24u << 20;
constexpr std::uint32_t kBaseAddress = 0x08000000u;
constexpr int kRounds = 3;
constexpr int kOurRunsPerRound = 3;

class PrintingUi : public tl::Ui {
 public:
  int RunModal(tl::Dialog&) override { return 0; }
  void ShowMessageBox(std::string_view text) override {
    std::fprintf(stderr, "message: %.*s\n", static_cast<int>(text.size()), text.data());
  }
  std::optional<std::string> OpenFile(const tl::OpenFileRequest&) override { return std::nullopt; }
  std::string ProgramTitle() override { return "bench_srecord"; }
};

PrintingUi g_ui;
tl::PosixFileSystem g_files;

void InstallHost() { tl::SetHost(tl::Host{&g_ui, nullptr, nullptr, &g_files}); }

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

int Run(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<unsigned char> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

long StatusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::size_t n = std::strlen(field);
  while (std::getline(in, line)) {
    if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':') {
      return std::strtol(line.c_str() + n + 1, nullptr, 10);
    }
  }
  return -1;
}

// Child mode: one load in a fresh process; prints "baselineKb peakKb ms".
int MeasureMemory(const char* file) {
  InstallHost();
  const long baseline = StatusKb("VmRSS");
  const auto t0 = std::chrono::steady_clock::now();
  auto image = tl::LoadSRecordImage(file);
  const auto t1 = std::chrono::steady_clock::now();
  const long peak = StatusKb("VmHWM");
  if (!image) return 1;
  std::printf("%ld %ld %.1f\n", baseline, peak, Seconds(t1 - t0) * 1e3);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--measure-memory") == 0) return MeasureMemory(argv[2]);
  std::string keep = argc == 3 && std::strcmp(argv[1], "--keep") == 0 ? argv[2] : "";

  std::string pattern = (std::filesystem::temp_directory_path() / "bench-srecord-XXXXXX").string();
  if (!keep.empty()) {
    std::filesystem::create_directories(keep);
    pattern = keep;
  } else if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::filesystem::path dir = pattern;
  const std::string blobPath = (dir / "blob.bin").string();
  const std::string srecPath = (dir / "image_APP.s19").string();
  const std::string peerPath = (dir / "objcopy.bin").string();

  std::vector<unsigned char> blob(kBlobSize);
  std::mt19937_64 random(20240611);
  for (std::size_t i = 0; i < blob.size(); i += 8) {
    const std::uint64_t v = random();
    std::memcpy(blob.data() + i, &v, std::min<std::size_t>(8, blob.size() - i));
  }
  {
    std::ofstream out(blobPath, std::ios::binary);
    out.write(reinterpret_cast<const char*>(blob.data()), static_cast<std::streamsize>(blob.size()));
  }
  char address[32];
  std::snprintf(address, sizeof address, "0x%x", kBaseAddress);
  if (Run({"objcopy", "-I", "binary", "-O", "srec", "--srec-forceS3", "--srec-len=22",
           "--change-addresses", address, blobPath, srecPath}) != 0) {
    std::fputs("objcopy is needed to generate the file\n", stderr);
    return 1;
  }
  const std::vector<unsigned char> text = ReadAll(srecPath);  // also warms the cache
  const double textBytes = static_cast<double>(text.size());
  std::printf("file: %s, %.1f MB of S-record text from a %.1f MB blob\n", srecPath.c_str(),
              textBytes / 1e6, static_cast<double>(kBlobSize) / 1e6);

  InstallHost();
  // Rounds interleave the two so that other load on the machine hits both.
  double ours = 1e9, reading = 1e9, peer = 1e9;
  for (int round = 0; round < kRounds; ++round) {
    for (int run = 0; run < kOurRunsPerRound; ++run) {
      const auto t0 = std::chrono::steady_clock::now();
      auto image = tl::LoadSRecordImage(srecPath);
      const auto t1 = std::chrono::steady_clock::now();
      if (!image || image->startAddress != kBaseAddress || image->imageLength != kBlobSize ||
          std::memcmp(image->imageData.get(), blob.data(), kBlobSize) != 0) {
        std::fputs("our load gave a wrong image\n", stderr);
        return 1;
      }
      ours = std::min(ours, Seconds(t1 - t0));

      // The file read alone, as the loader does it: into one buffer of
      // 256 KiB, used again for each read.
      image.reset();
      const auto r0 = std::chrono::steady_clock::now();
      auto file = g_files.OpenRead(srecPath);
      std::vector<unsigned char> window(std::size_t{256} << 10);
      std::size_t got = 0;
      while (file && got < text.size()) {
        const std::size_t ask = std::min(window.size(), text.size() - got);
        if (file->Read(window.data(), ask) != static_cast<long long>(ask)) break;
        got += ask;
      }
      const auto r1 = std::chrono::steady_clock::now();
      if (got != text.size()) return 1;
      reading = std::min(reading, Seconds(r1 - r0));
    }
    const auto t0 = std::chrono::steady_clock::now();
    const int rc = Run({"objcopy", "-I", "srec", "-O", "binary", srecPath, peerPath});
    const auto t1 = std::chrono::steady_clock::now();
    if (rc != 0 || ReadAll(peerPath) != blob) {
      std::fputs("objcopy gave a wrong image\n", stderr);
      return 1;
    }
    peer = std::min(peer, Seconds(t1 - t0));
  }

  // Peak memory of one load in a fresh process.
  long baselineKb = -1, peakKb = -1;
  double freshMs = 0;
  {
    int fds[2];
    if (pipe(fds) != 0) return 1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::string self = "/proc/self/exe", mode = "--measure-memory", file = srecPath;
    char* childArgv[] = {self.data(), mode.data(), file.data(), nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, childArgv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    char reply[128] = {};
    const ssize_t got = spawned == 0 ? read(fds[0], reply, sizeof reply - 1) : -1;
    close(fds[0]);
    int status = 0;
    if (spawned == 0) waitpid(pid, &status, 0);
    if (got <= 0 || std::sscanf(reply, "%ld %ld %lf", &baselineKb, &peakKb, &freshMs) != 3) {
      std::fputs("memory measurement failed\n", stderr);
      return 1;
    }
  }
  const double extraBytes = static_cast<double>(peakKb - baselineKb) * 1024.0;
  const double allowed = textBytes + 1048576.0;

  const double ratio = peer / ours;
  const double throughput = textBytes / ours / 1e9;
  std::printf("ours:    %8.1f ms (best of %d)\n", ours * 1e3, kRounds * kOurRunsPerRound);
  std::printf("  of which reading the file: %.1f ms\n", reading * 1e3);
  std::printf("  a single load in a fresh process: %.1f ms\n", freshMs);
  std::printf("objcopy: %8.1f ms (best of %d)\n", peer * 1e3, kRounds);
  std::printf("ratio:      %6.1fx faster than objcopy  (goal >= 10x)   %s\n", ratio,
              ratio >= 10 ? "met" : "MISSED");
  std::printf("throughput: %6.2f GB/s of S-record text (goal >= 1 GB/s) %s\n", throughput,
              throughput >= 1.0 ? "met" : "MISSED");
  std::printf("peak memory beyond baseline: %.2f MiB, file + 1 MiB = %.2f MiB  %s\n",
              extraBytes / 1048576.0, allowed / 1048576.0, extraBytes <= allowed ? "met" : "MISSED");

  if (keep.empty()) std::filesystem::remove_all(dir);
  return 0;
}
