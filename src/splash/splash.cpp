#include "splash/splash.h"

#include <X11/Xatom.h>
#include <poll.h>
#include <pthread.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>

#include "platform/signals.h"
#include "splash/libraries.h"
#include "splash/png_image.h"
#include "util/log.h"

namespace velmoran {
namespace {

constexpr int kBarHidden = -100;
constexpr int kBarIndefinite = -1;
// Larger margins would push the window past what X coordinates (16 bits) can
// address; none occurs in a real splash.
constexpr int kMaxSplashBuffer = 1024;

// Xlib as loaded for the connection; called only with a display, which only
// the loaded library can have opened.
const X11Library& xlib() { return *x11Library(); }

// The double buffer: a server-side pixmap, freed when it is replaced.
class OwnedPixmap {
 public:
  OwnedPixmap() = default;
  OwnedPixmap(const OwnedPixmap&) = delete;
  OwnedPixmap& operator=(const OwnedPixmap&) = delete;
  ~OwnedPixmap() { reset(nullptr, 0); }
  void reset(Display* display, Pixmap pixmap) {
    if (id_ != 0) xlib().FreePixmap(display_, id_);
    display_ = display;
    id_ = pixmap;
  }
  Pixmap get() const { return id_; }

 private:
  Display* display_ = nullptr;
  Pixmap id_ = 0;
};

// Everything a repaint reads. Guarded by splashLock().
struct SplashState {
  int screen = 0;
  Visual* visual = nullptr;
  int depth = 0;
  unsigned long white = 0;
  XColor grey{};
  Window window = 0;
  GC gc = nullptr;
  OwnedPixmap buffer;
  XImagePtr splashImage;
  uint64_t imageWidth = 100;
  uint64_t imageHeight = 100;
  int splashBuffer = 0;
  int margin = 0;  // the splash buffer in force for the current window layout
  int progressValue = 0;
  int currentFrame = 0;
  int frameCount = kIndefiniteWidth;
  XImagePtr progressImage;
  XImagePtr indefiniteImage;
  XImagePtr trackImage;
  bool threadsStarted = false;
  // DISPLAY as init() found it, until the first configureSplash or showSplash
  // connects to it.
  std::optional<std::string> pendingDisplay;
};

// Neither the state nor the lock is ever destroyed: the repaint threads run
// until the process ends, also after cleanup() and during static destruction.
SplashState& state() {
  static auto* splash = new SplashState;
  return *splash;
}
std::mutex& splashLock() {
  static auto* lock = new std::mutex;
  return *lock;
}

std::atomic<Display*> displayConnection{nullptr};
// Set once the server has gone away; from then on the splash is disabled.
std::atomic<bool> connectionLost{false};

Display* liveDisplay() { return connectionLost ? nullptr : displayConnection.load(); }

// A failed request must not end the launcher, which works on without a splash.
int logXError(Display*, XErrorEvent* error) {
  logConsole("[Splash] X error %d on request %d ignored\n", error->error_code, error->request_code);
  return 0;
}

int noteLostConnection(Display* display) {
  if (display == displayConnection.load() && !connectionLost.exchange(true)) {
    std::puts("[Splash] Lost the connection to the X server; the splash is off");
  }
  return 0;
}

// Replaces Xlib's exit after a lost connection: the launcher carries on.
// Xlib takes the display's user lock (as XLockDisplay does) for the thread
// that met the loss before it calls this, and keeps it when this returns; the
// other repaint thread would then wait for it inside Xlib forever, holding
// the splash lock that the launcher's own thread needs next. Released here,
// every later call on the lost display returns at once.
void keepRunning(Display* display, void*) { xlib().UnlockDisplay(display); }

int fullWidth(const SplashState& s) { return static_cast<int>(s.imageWidth) + 2 * s.margin; }
int imageAreaHeight(const SplashState& s) { return static_cast<int>(s.imageHeight) + 2 * s.margin; }

XImagePtr createBarImage(Display* display, const SplashState& s, int width, const unsigned char* table,
                         const char* name) {
  XImagePtr image(xlib().CreateImage(display, s.visual, static_cast<unsigned>(s.depth), ZPixmap, 0, nullptr,
                                     static_cast<unsigned>(width), kBarTileHeight, 32, 0));
  if (image != nullptr) {
    image->data = static_cast<char*>(std::calloc(static_cast<size_t>(image->bytes_per_line), kBarTileHeight));
    if (image->data == nullptr) image.reset();
  }
  if (image == nullptr) {
    logConsole("[Splash] Failed to create XImage for %s\n", name);
    return nullptr;
  }
  copyImageData(image.get(), table);
  return image;
}

// Puts a tile from source column srcX at (x, y), clipped at the right edge.
void putTile(Display* display, const SplashState& s, XImage* tile, int srcX, int x, int y, int right) {
  const int width = std::min(tile->width - srcX, right - x);
  if (width > 0) {
    xlib().PutImage(display, s.buffer.get(), s.gc, tile, srcX, 0, x, y, static_cast<unsigned>(width),
                    static_cast<unsigned>(tile->height));
  }
}

// Tiles step by their width minus one, so each tile's last column is covered
// by the next one's first; the track goes last and covers any overshoot.
void drawBar(Display* display, SplashState& s, int y, int right) {
  const int value = s.progressValue;
  if (value >= 0 && value <= 100) {
    const int end = value == 100 ? right : right * value / 100;
    if (XImage* tile = s.progressImage.get()) {
      for (int x = 0; x < end; x += tile->width - 1) putTile(display, s, tile, 0, x, y, right);
    }
    if (XImage* tile = s.trackImage.get()) {
      for (int x = end; x < right; x += tile->width - 1) putTile(display, s, tile, 0, x, y, right);
    }
  } else if (value == kBarIndefinite) {
    s.currentFrame = s.currentFrame + 1 <= s.frameCount ? s.currentFrame + 1 : 0;
    if (XImage* tile = s.indefiniteImage.get()) {
      for (int x = s.currentFrame - tile->width; x < right; x += tile->width) {
        putTile(display, s, tile, x < 0 ? -x : 0, std::max(x, 0), y, right);
      }
    }
  }
}

// Waits outside Xlib and takes only events already queued: Xlib dereferences
// an empty queue when the server goes away under a blocked XNextEvent. The
// poll times out because other threads' requests may queue events too.
void* splashProcessingThread(void*) {
  Display* display = displayConnection.load();
  pollfd connection{ConnectionNumber(display), POLLIN, 0};
  XEvent event;
  while (!connectionLost) {
    if (xlib().Pending(display) == 0) {
      poll(&connection, 1, 50);
      continue;
    }
    xlib().NextEvent(display, &event);
    if (connectionLost || event.type == DestroyNotify) break;
    if (event.type == Expose) redraw();
  }
  return nullptr;
}

void* refreshThreadWorker(void*) {
  while (!connectionLost) {
    redraw();
    timespec pause{0, 30000000};
    nanosleep(&pause, nullptr);
  }
  return nullptr;
}

void startThread(void* (*body)(void*)) {
  pthread_t thread;
  if (pthread_create(&thread, nullptr, body, nullptr) != 0) {
    std::puts("[Splash] Failed to start a repaint thread");
    return;
  }
  pthread_detach(thread);
}

// Opens the display init() noted and creates the (unmapped) window; null
// when there is no live display, now or from before.
Display* connectAsNoted() {
  SplashState& s = state();
  std::optional<std::string> displayName;
  {
    std::lock_guard<std::mutex> lock(splashLock());
    displayName.swap(s.pendingDisplay);
  }
  if (!displayName) return liveDisplay();
  Display* display = getDisplay();
  if (display == nullptr) {
    std::fprintf(stderr, "[Splash] Can't open display %s\n", displayName->c_str());
    return nullptr;
  }
  std::puts("[Splash] Initialising X connection...");
  const X11Library& x = xlib();
  std::lock_guard<std::mutex> lock(splashLock());
  s.screen = DefaultScreen(display);
  s.visual = DefaultVisual(display, s.screen);
  s.depth = DefaultDepth(display, s.screen);
  s.white = WhitePixel(display, s.screen);
  s.window = x.CreateSimpleWindow(display, RootWindow(display, s.screen), 200, 200,
                                  static_cast<unsigned>(s.imageWidth), static_cast<unsigned>(s.imageHeight), 0,
                                  s.white, s.white);
  x.SelectInput(display, s.window, ExposureMask | StructureNotifyMask);
  xorg_initialize(display, s.window, s.depth, s.visual);

  Atom windowType = x.InternAtom(display, "_NET_WM_WINDOW_TYPE", False);
  Atom splashType = x.InternAtom(display, "_NET_WM_WINDOW_TYPE_SPLASH", False);
  x.ChangeProperty(display, s.window, windowType, XA_ATOM, 32, PropModeReplace,
                   reinterpret_cast<unsigned char*>(&splashType), 1);

  // Without graphics exposures every copy to the window would queue a
  // NoExpose event for the event thread.
  XGCValues values{};
  values.graphics_exposures = False;
  s.gc = x.CreateGC(display, s.window, GCGraphicsExposures, &values);

  s.progressImage = createBarImage(display, s, kProgressWidth, progress_lightblue.data(), "progressImage");
  s.indefiniteImage =
      createBarImage(display, s, kIndefiniteWidth, progress_lighblue_indefinite.data(), "progressIndefiniteImage");
  s.trackImage = createBarImage(display, s, kTrackWidth, track.data(), "trackImage");
  s.frameCount = s.indefiniteImage != nullptr ? s.indefiniteImage->width : kIndefiniteWidth;

  Colormap colormap = DefaultColormap(display, 0);
  if (x.ParseColor(display, colormap, "#D2D2D2", &s.grey) != 0) x.AllocColor(display, colormap, &s.grey);
  return display;
}

}  // namespace

_XDisplay* getDisplay() {
  if (connectionLost) return nullptr;
  if (Display* open = displayConnection.load()) return open;
  const X11Library* x = x11Library();
  if (x == nullptr) return nullptr;
  // A server that goes away must end only the splash, not the run writing to it.
  ignoreSigpipe();
  if (x->InitThreads() == 0) std::puts("Warning: XInitThread failed!");
  x->SetErrorHandler(logXError);
  x->SetIOErrorHandler(noteLostConnection);
  Display* display = x->OpenDisplay(nullptr);
  if (display != nullptr) x->SetIOErrorExitHandler(display, keepRunning, nullptr);
  displayConnection.store(display);
  return display;
}

// Only notes the display: the connection waits for the first configureSplash
// or showSplash, so that a run that shows no splash (a just run) never loads
// Xlib. Without a display name there is nothing to connect to, and that is
// known at once.
void init() {
  const char* displayName = std::getenv("DISPLAY");
  if (displayName == nullptr) displayName = "";
  std::puts("[Splash] init()");
  SplashState& s = state();
  {
    std::lock_guard<std::mutex> lock(splashLock());
    if (s.pendingDisplay || (displayConnection.load() != nullptr && s.window != 0)) return;
  }
  logConsole("[Splash] Connecting to display %s\n", displayName);
  if (*displayName == '\0') {
    std::fprintf(stderr, "[Splash] Can't open display %s\n", displayName);
    return;
  }
  std::lock_guard<std::mutex> lock(splashLock());
  s.pendingDisplay = displayName;
}

void configureSplash(const std::string& pngPath) {
  logConsole("[Splash] configureSplash with URL %s\n", pngPath.c_str());
  Display* display = connectAsNoted();
  if (display == nullptr) return;
  SplashState& s = state();
  uint64_t width = 0, height = 0;
  {
    std::lock_guard<std::mutex> lock(splashLock());
    width = s.imageWidth;
    height = s.imageHeight;
  }
  // The loader overwrites the size once it has read the header, even if the
  // rest of the file then fails.
  XImagePtr image = xorg_load_image_from_png(pngPath.c_str(), &width, &height);
  {
    std::lock_guard<std::mutex> lock(splashLock());
    if (width == 0 || height == 0 || width > kMaxImageSide || height > kMaxImageSide) {
      logConsole("[Splash] Image too large for a splash window: %llu x %llu\n",
                  static_cast<unsigned long long>(width), static_cast<unsigned long long>(height));
      image.reset();
      width = s.imageWidth;
      height = s.imageHeight;
    }
    s.margin = s.splashBuffer;
    if (s.margin < 0 || s.margin > kMaxSplashBuffer) {
      logConsole("[Splash] Ignoring splash buffer %d\n", s.margin);
      s.margin = 0;
    }
    s.splashImage = std::move(image);
    s.imageWidth = width;
    s.imageHeight = height;
    const auto windowWidth = static_cast<unsigned>(fullWidth(s));
    const auto windowHeight = static_cast<unsigned>(imageAreaHeight(s));
    xlib().ResizeWindow(display, s.window, windowWidth, windowHeight);
    s.buffer.reset(display,
                   xlib().CreatePixmap(display, s.window, windowWidth, windowHeight, static_cast<unsigned>(s.depth)));
  }
  logConsole("[Splash] Got image of size: %u x %u\n", static_cast<unsigned>(width), static_cast<unsigned>(height));
  setProgress(kBarHidden);
}

void showSplash() {
  std::puts("[Splash] showSplash()");
  Display* display = connectAsNoted();
  if (display == nullptr) return;
  bool startThreads = false;
  {
    std::lock_guard<std::mutex> lock(splashLock());
    SplashState& s = state();
    xlib().MapWindow(display, s.window);
    xlib().Flush(display);
    startThreads = !s.threadsStarted;
    s.threadsStarted = true;
  }
  // One pair of repaint threads serves every later showSplash; more would only
  // speed up the animation.
  if (!startThreads) return;
  std::puts("[Splash] Creating splash thread");
  std::fflush(stdout);
  startThread(splashProcessingThread);
  startThread(refreshThreadWorker);
}

void hideSplash() {
  std::puts("[Splash] hideSplash()");
  Display* display = liveDisplay();
  if (display == nullptr) return;
  std::lock_guard<std::mutex> lock(splashLock());
  xlib().UnmapWindow(display, state().window);
  xlib().Flush(display);
}

void setProgress(int value) {
  if (value < kBarHidden) {
    value = 0;
  } else if (value > 100) {
    value = 100;
  }
  Display* display = liveDisplay();
  if (display == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(splashLock());
    SplashState& s = state();
    if (value == s.progressValue) return;
    // Leaving the hidden state makes room for the bar; the window never shrinks back.
    if (s.progressValue == kBarHidden) {
      const auto width = static_cast<unsigned>(fullWidth(s));
      const auto height = static_cast<unsigned>(imageAreaHeight(s) + kBarTileHeight);
      xlib().ResizeWindow(display, s.window, width, height);
      s.buffer.reset(display, xlib().CreatePixmap(display, s.window, width, height, static_cast<unsigned>(s.depth)));
    }
    s.progressValue = value;
  }
  redraw();
}

void setSplashBuffer(int pixels) {
  std::lock_guard<std::mutex> lock(splashLock());
  state().splashBuffer = pixels;
}

int getSplashBuffer() {
  std::lock_guard<std::mutex> lock(splashLock());
  return state().splashBuffer;
}

// The splash lock is never destroyed, since the repaint threads keep running
// until the process ends; there is nothing to release here.
void cleanup() {}

void redraw() {
  Display* display = liveDisplay();
  if (display == nullptr) return;
  std::lock_guard<std::mutex> lock(splashLock());
  SplashState& s = state();
  // Nothing to paint on before configureSplash has made the double buffer.
  if (s.buffer.get() == 0) return;
  const int width = fullWidth(s);
  const int area = imageAreaHeight(s);
  const int height = area + kBarTileHeight;
  const Pixmap buffer = s.buffer.get();

  const X11Library& x = xlib();
  x.SetForeground(display, s.gc, s.white);
  x.FillRectangle(display, buffer, s.gc, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height));
  if (XImage* image = s.splashImage.get()) {
    x.PutImage(display, buffer, s.gc, image, 0, 0, s.margin, s.margin, static_cast<unsigned>(s.imageWidth),
               static_cast<unsigned>(s.imageHeight));
  }
  x.SetForeground(display, s.gc, s.grey.pixel);
  const int framed = s.progressValue == kBarHidden ? area : height;
  x.DrawRectangle(display, buffer, s.gc, 0, 0, static_cast<unsigned>(width - 1), static_cast<unsigned>(framed - 1));
  drawBar(display, s, area, width);
  x.CopyArea(display, buffer, s.window, s.gc, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height), 0, 0);
  x.Flush(display);
}

SplashSnapshot splashSnapshot() {
  std::lock_guard<std::mutex> lock(splashLock());
  const SplashState& s = state();
  SplashSnapshot snapshot;
  snapshot.window = liveDisplay() != nullptr ? s.window : 0;
  snapshot.buffer = s.buffer.get();
  snapshot.hasImage = s.splashImage != nullptr;
  snapshot.imageWidth = s.imageWidth;
  snapshot.imageHeight = s.imageHeight;
  snapshot.margin = s.margin;
  snapshot.progress = s.progressValue;
  snapshot.frame = s.currentFrame;
  snapshot.threadsRunning = s.threadsStarted && !connectionLost;
  return snapshot;
}

}  // namespace velmoran
