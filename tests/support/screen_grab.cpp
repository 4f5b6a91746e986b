// Waits for a window to appear on the display named by DISPLAY and saves it
// as PNG once it has had time to paint: the demo's picture of the splash.
// Usage: screen_grab OUTPUT.png [TIMEOUT_SECONDS] [SETTLE_MS]
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "png_write.h"

namespace {

using Clock = std::chrono::steady_clock;

// The first viewable top-level window of a useful size, or 0.
Window mappedWindow(Display* display) {
  Window root = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count) == 0) return 0;
  Window found = 0;
  for (unsigned i = 0; i < count && found == 0; ++i) {
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, children[i], &attributes) != 0 && attributes.map_state == IsViewable &&
        attributes.width > 16 && attributes.height > 16) {
      found = children[i];
    }
  }
  if (children != nullptr) XFree(children);
  return found;
}

bool save(Display* display, Window window, const std::string& path) {
  XWindowAttributes attributes;
  if (XGetWindowAttributes(display, window, &attributes) == 0) return false;
  XImage* image = XGetImage(display, window, 0, 0, unsigned(attributes.width), unsigned(attributes.height),
                            AllPlanes, ZPixmap);
  if (image == nullptr) return false;
  velmoran::testutil::PngPicture picture;
  picture.width = png_uint_32(attributes.width);
  picture.height = png_uint_32(attributes.height);
  for (int y = 0; y < attributes.height; ++y) {
    for (int x = 0; x < attributes.width; ++x) {
      const unsigned long pixel = XGetPixel(image, x, y);
      picture.rows.insert(picture.rows.end(), {png_byte(pixel >> 16), png_byte(pixel >> 8), png_byte(pixel)});
    }
  }
  XDestroyImage(image);
  return velmoran::testutil::writePng(path, picture);
}

int ignoreErrors(Display*, XErrorEvent*) { return 0; }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4) {
    std::fprintf(stderr, "usage: %s OUTPUT.png [TIMEOUT_SECONDS] [SETTLE_MS]\n", argv[0]);
    return 2;
  }
  const auto deadline = Clock::now() + std::chrono::seconds(argc > 2 ? std::atoi(argv[2]) : 60);
  const auto settle = std::chrono::milliseconds(argc > 3 ? std::atoi(argv[3]) : 150);
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "screen_grab: cannot open the display\n");
    return 1;
  }
  // A window may go away between the query and the grab.
  XSetErrorHandler(ignoreErrors);
  while (Clock::now() < deadline) {
    if (const Window window = mappedWindow(display)) {
      std::this_thread::sleep_for(settle);
      if (save(display, window, argv[1])) return 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::fprintf(stderr, "screen_grab: no window appeared\n");
  return 1;
}
