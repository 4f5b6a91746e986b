// The X11 splash window with its progress bar. Without a usable display every
// operation is a quiet no-op apart from its messages.
#pragma once

#include <string>

namespace velmoran {

// Opens the display named by DISPLAY and creates the (unmapped) window.
void init();
// Loads the splash PNG, sizes the window, makes the double buffer, hides the bar.
void configureSplash(const std::string& pngPath);
// Maps the window and starts the repaint threads.
void showSplash();
void hideSplash();
// -100 hides the bar, -1 shows the indefinite bar, 0 to 100 a percentage.
void setProgress(int value);
void setSplashBuffer(int pixels);
int getSplashBuffer();
// Called right before the launch.
void cleanup();

}  // namespace velmoran
