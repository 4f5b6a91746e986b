// Shows the splash on a private Xvfb and saves the window, once with the
// determinate bar and once with the indefinite bar, as PNG files.
// Usage: splash_shot OUTPUT_DIR
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "png_write.h"
#include "splash/splash.h"
#include "xvfb.h"

namespace {

using velmoran::testutil::PngPicture;

// A 400 x 240 stand-in for an application's splash: a diagonal gradient with a band.
PngPicture demoImage() {
  PngPicture p;
  p.width = 400;
  p.height = 240;
  for (png_uint_32 y = 0; y < p.height; ++y) {
    for (png_uint_32 x = 0; x < p.width; ++x) {
      const bool band = y > 90 && y < 150;
      p.rows.insert(p.rows.end(), {png_byte(band ? 250 : 30 + x / 4), png_byte(band ? 250 : 60 + y / 3),
                                   png_byte(band ? 250 : 140 + (x + y) / 12)});
    }
  }
  return p;
}

bool saveWindow(Display* display, Window window, const std::string& path) {
  XSync(display, False);
  XWindowAttributes attributes;
  XGetWindowAttributes(display, window, &attributes);
  XImage* image = XGetImage(display, window, 0, 0, unsigned(attributes.width), unsigned(attributes.height),
                            AllPlanes, ZPixmap);
  if (image == nullptr) return false;
  PngPicture p;
  p.width = png_uint_32(attributes.width);
  p.height = png_uint_32(attributes.height);
  for (int y = 0; y < attributes.height; ++y) {
    for (int x = 0; x < attributes.width; ++x) {
      const unsigned long pixel = XGetPixel(image, x, y);
      p.rows.insert(p.rows.end(), {png_byte(pixel >> 16), png_byte(pixel >> 8), png_byte(pixel)});
    }
  }
  XDestroyImage(image);
  const bool written = velmoran::testutil::writePng(path, p);
  std::printf("%s %s\n", written ? "wrote" : "could not write", path.c_str());
  return written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  auto server = velmoran::testutil::XvfbServer::start();
  if (server == nullptr) {
    std::fprintf(stderr, "splash_shot: could not start Xvfb\n");
    return 1;
  }
  setenv("DISPLAY", server->name().c_str(), 1);
  const std::string image = dir + "/demo-splash.png";
  if (!velmoran::testutil::writePng(image, demoImage())) return 1;

  velmoran::init();
  velmoran::setSplashBuffer(10);
  velmoran::configureSplash(image);
  velmoran::showSplash();
  velmoran::setProgress(60);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Display* display = velmoran::getDisplay();
  const Window window = velmoran::splashSnapshot().window;
  bool ok = saveWindow(display, window, dir + "/splash-determinate.png");
  velmoran::setProgress(-1);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ok = saveWindow(display, window, dir + "/splash-indefinite.png") && ok;
  std::fflush(nullptr);
  // The repaint threads never end; leave without tearing anything down under them.
  server->stop();
  std::_Exit(ok ? 0 : 1);
}
