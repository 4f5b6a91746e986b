// Fuzz target: the splash PNG turned into an X image. The image is made for
// the default visual of a private Xvfb; without one only the header is read
// (the X image cannot be made, so no row is decoded).
#include <X11/Xlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "splash/png_image.h"
#include "xvfb.h"

namespace {

std::unique_ptr<velmoran::testutil::XvfbServer> server;
// The input goes through a memory file: the loader takes a path.
int inputFd = -1;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  velmoran::fuzz::prepare();
  inputFd = memfd_create("fuzz-png", 0);
  if (inputFd < 0) std::abort();
  server = velmoran::testutil::XvfbServer::start();
  Display* display = server ? XOpenDisplay(server->name().c_str()) : nullptr;
  if (display == nullptr) {
    std::fprintf(stderr, "fuzz_png: no Xvfb; only PNG headers are read\n");
    return 0;
  }
  velmoran::xorg_initialize(display, DefaultRootWindow(display), DefaultDepth(display, 0),
                            DefaultVisual(display, 0));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (ftruncate(inputFd, 0) != 0 || pwrite(inputFd, data, size, 0) != static_cast<ssize_t>(size)) std::abort();
  const std::string path = "/proc/self/fd/" + std::to_string(inputFd);
  uint64_t width = 0;
  uint64_t height = 0;
  const velmoran::XImagePtr image = velmoran::xorg_load_image_from_png(path.c_str(), &width, &height);
  // An image is as large as its header says, and never past the limit.
  if (image && (static_cast<uint64_t>(image->width) != width || static_cast<uint64_t>(image->height) != height ||
                width > velmoran::kMaxImageSide || height > velmoran::kMaxImageSide)) {
    __builtin_trap();
  }
  return 0;
}
