#include "thumbnailer/thumbnailer.h"

#include <fcntl.h>
#include <getopt.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "decoders/decoder_processes.h"
#include "platform/code_page.h"
#include "platform/error.h"
#include "thumbnail/desktop_cache.h"
#include "thumbnail/png_thumbnail.h"

namespace vg::thumbnailer {
namespace {

constexpr const char* kProgram = "vignettes-thumbnailer";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n",
               kProgram, problem.c_str(), kProgram);
  return 2;
}

int Fail(const std::string& input, const std::string& reason) {
  std::fprintf(stderr, "%s: %s: %s\n", kProgram, input.c_str(), reason.c_str());
  return 1;
}

// Reads SIZE: a whole number of pixels, 1 to kMaxThumbnailSizePx.
bool ReadSize(const char* text, int* size) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < 1 ||
      value > kMaxThumbnailSizePx) {
    return false;
  }
  *size = static_cast<int>(value);
  return true;
}

// Writes `bytes` into the file at `path`, made when missing. In place, not
// through a new file renamed over it: tumbler makes OUTPUT itself and reads
// the thumbnail back through the descriptor it holds. A file left partial
// by a failed write is removed.
std::string WriteInPlace(const std::string& path,
                         const std::vector<uint8_t>& bytes) {
  const int fd =
      open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0)
    return std::string("could not be created: ") + std::strerror(errno);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  const int saved = errno;
  if (close(fd) != 0 || done < bytes.size()) {
    unlink(path.c_str());
    return std::string("could not be written: ") + std::strerror(saved);
  }
  return {};
}

}  // namespace

const char* ThumbnailerUsage() {
  return "Usage: vignettes-thumbnailer -s SIZE INPUT OUTPUT\n"
         "Writes a thumbnail of the picture INPUT (a path or a file:// URI)\n"
         "as a PNG file OUTPUT, its longer side SIZE pixels (never\n"
         "enlarged), upright and in sRGB, with transparency where the\n"
         "picture has some. The picture is read in a confined decoder\n"
         "process. Desktops run it through its .thumbnailer entry.\n"
         "\n"
         "  -s, --size=SIZE  the longer side in pixels, 1 to 4096\n"
         "  -h, --help       print this help and exit\n"
         "      --version    print the version and exit\n"
         "\n"
         "Exit status: 0 when written; 1 when the picture gives no\n"
         "thumbnail (the reason on stderr, no OUTPUT made); 2 for a\n"
         "command line that cannot run.\n";
}

int RunThumbnailer(int argc, char** argv) {
  static const option kLongOptions[] = {
      {"size", required_argument, nullptr, 's'},
      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, 'V'},
      {nullptr, 0, nullptr, 0},
  };
  int size = 0;
  opterr = 0;
  optind = 0;  // 0: getopt_long starts afresh, as every run must
  int code = 0;
  while ((code = getopt_long(argc, argv, "+s:h", kLongOptions, nullptr)) !=
         -1) {
    switch (code) {
      case 's':
        if (!ReadSize(optarg, &size)) {
          return Usage(std::string("invalid size '") + optarg +
                       "' (1 to 4096 pixels)");
        }
        break;
      case 'h':
        std::fputs(ThumbnailerUsage(), stdout);
        return 0;
      case 'V':
        std::printf("%s %s\n", kProgram, VG_VERSION);
        return 0;
      default:
        if (optopt == 's') return Usage("option '-s' needs a size");
        return Usage(std::string("unknown option '") + argv[optind - 1] + "'");
    }
  }
  if (size == 0) return Usage("no size given (-s SIZE)");
  if (argc - optind != 2) return Usage("give one INPUT and one OUTPUT");
  const std::string input = argv[optind];
  const std::string output = argv[optind + 1];
  std::string path = input;
  if (input.find("://") != std::string::npos) {
    path = thumbnail::PathFromFileUri(input);
    if (path.empty()) return Fail(input, "not a local file URI");
  }

  try {
    decoders::DecoderProcesses processes;
    decoders::DecodeHint hint = thumbnail::BoxHint(size);
    hint.keep_alpha = true;
    const decoders::DecodedImage image = decoders::DecodePictureFileIn(
        processes, platform::FromAnsi(path), hint);
    const thumbnail::BoxThumbnail thumb =
        thumbnail::ScaleIntoBox(image, size, image.has_alpha);
    std::vector<uint8_t> png;
    if (std::string why = thumbnail::EncodePng(thumb, {}, &png); !why.empty()) {
      return Fail(output, why);
    }
    if (std::string why = WriteInPlace(output, png); !why.empty()) {
      return Fail(output, why);
    }
  } catch (const std::exception& e) {
    const auto* error = dynamic_cast<const platform::Error*>(&e);
    return Fail(input, error != nullptr ? error->description() : e.what());
  }
  return 0;
}

}  // namespace vg::thumbnailer
