// The X11 splash window with its progress bar. Without a usable display every
// operation is a quiet no-op apart from its messages.
#pragma once

#include <cstdint>
#include <string>

struct _XDisplay;  // Xlib's Display, kept out of this header so its macros stay out of callers

namespace velmoran {

// Notes the display named by DISPLAY. Xlib is loaded, the display opened and
// the (unmapped) window created by the first configureSplash or showSplash,
// so a run that shows no splash never pays for them.
void init();
// The shared connection, opened on first use (Xlib loaded first); null when
// there is no display or no Xlib.
_XDisplay* getDisplay();
// Connects as init() noted, loads the splash PNG, sizes the window, makes the
// double buffer, hides the bar.
void configureSplash(const std::string& pngPath);
// Connects as init() noted, maps the window and starts the repaint threads.
void showSplash();
void hideSplash();
// -100 hides the bar, -1 shows the indefinite bar, 0 to 100 a percentage.
void setProgress(int value);
void setSplashBuffer(int pixels);
int getSplashBuffer();
// Called right before the launch.
void cleanup();
// Paints one frame into the double buffer and copies it to the window.
void redraw();

// What the splash shows right now, for tests and tools that read it back.
struct SplashSnapshot {
  unsigned long window = 0;  // X window, 0 without a display
  unsigned long buffer = 0;  // the double buffer pixmap, 0 before it exists
  bool hasImage = false;
  uint64_t imageWidth = 0;
  uint64_t imageHeight = 0;
  int margin = 0;  // the splash buffer the layout was made with
  int progress = 0;
  int frame = 0;
  bool threadsRunning = false;
};
SplashSnapshot splashSnapshot();

}  // namespace velmoran
