// Interim: behaves as a run without a display until the X11 splash lands.
#include "splash/splash.h"

#include <cstdio>

namespace velmoran {
namespace {
int splashBuffer = 0;
}

void init() { std::puts("[Splash] init()"); }
void configureSplash(const std::string& pngPath) {
  std::printf("[Splash] configureSplash with URL %s\n", pngPath.c_str());
}
void showSplash() { std::puts("[Splash] showSplash()"); }
void hideSplash() { std::puts("[Splash] hideSplash()"); }
void setProgress(int) {}
void setSplashBuffer(int pixels) { splashBuffer = pixels; }
int getSplashBuffer() { return splashBuffer; }
void cleanup() {}

}  // namespace velmoran
