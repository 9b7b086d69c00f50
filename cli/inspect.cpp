// tideload-cli inspect: load an application file and describe its image.
#include <cstdio>
#include <string>
#include <string_view>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "cli/image_hasher.h"
#include "cli/json.h"
#include "cli/options.h"
#include "platform/console/console_files.h"
#include "platform/console/console_host.h"
#include "platform/console/console_text.h"
#include "platform/core/code_page.h"
#include "platform/core/sha256.h"
#include "update/srecord_loader.h"

namespace tl::cli {

int RunInspect(int argc, char** argv) {
  InspectOptions options;
  if (std::optional<int> status = ParseCommandLine(*InspectCommand(options), argc, argv)) return *status;
  const bool json = options.json;
  const char* output = options.output ? options.output->c_str() : nullptr;
  const char* file = options.file.c_str();

  ConsoleHost host("tideload-cli");

  // The image and the output file outlive the thread that hashes the one
  // into the other.
  std::optional<LoadedImage> image;
  std::optional<GrowingOutputFile> out;
  ImageHasher::Piece written;
  if (output != nullptr) {
    out.emplace(output);
    if (out->Early()) {
      written = [&out](std::size_t offset, const unsigned char* data, std::size_t length) {
        out->WriteAt(offset, data, length);
      };
    }
  }
  ImageHasher hasher(std::move(written));
  image = LoadSRecordImage(file, [&hasher](const unsigned char* data, std::size_t length) {
    hasher.Grow(data, length);
  });
  if (!image) return ExitStatus(Outcome::kLoadFailed);
  const unsigned char* data = image->imageData.get();
  hasher.Grow(data, image->imageLength);

  const auto finishOutput = [&] {
    std::string why;
    if (out->Finish(data, image->imageLength, &why)) return true;
    WriteLine(stderr, std::string("tideload-cli inspect: cannot write '") + output + "': " + why);
    return false;
  };
  // A file written whole is written while the digest is finished; one
  // written as the image grew is complete with the digest.
  if (out && !out->Early() && !finishOutput()) return ExitStatus(Outcome::kFailed);
  const std::optional<Sha256Digest> digest = hasher.Digest(data, image->imageLength);
  if (out && out->Early() && !finishOutput()) return ExitStatus(Outcome::kFailed);
  if (!digest) {
    std::fputs("tideload-cli inspect: SHA-256 failed\n", stderr);
    return ExitStatus(Outcome::kFailed);
  }
  const std::string sha = Sha256Hex(*digest);

  if (json) {
    const OrderedJson j = {{"platform", Cp1252ToUtf8(platformName)},
                           {"startAddress", image->startAddress},
                           {"imageLength", image->imageLength},
                           {"sha256", sha}};
    std::printf("%s\n", WriteJson(j).c_str());
  } else {
    WriteLine(stdout, "Platform:      " + Cp1252ToUtf8(platformName));
    std::printf("Start address: 0x%08lX (%lu)\n", static_cast<unsigned long>(image->startAddress),
                static_cast<unsigned long>(image->startAddress));
    std::printf("Image length:  0x%08lX (%lu)\n", static_cast<unsigned long>(image->imageLength),
                static_cast<unsigned long>(image->imageLength));
    std::printf("SHA-256:       %s\n", sha.c_str());
  }
  return ExitStatus(std::fflush(stdout) == 0 ? Outcome::kOk : Outcome::kFailed);
}

}  // namespace tl::cli
