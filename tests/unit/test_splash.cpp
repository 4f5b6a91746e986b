// gtest comes before Xlib, whose macros (None, Bool) break its templates.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "splash/splash.h"
#include "splash/libraries.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "png_write.h"
#include "test_support.h"
#include "xvfb.h"

namespace velmoran {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kGrey = 0xD2D2D2;

// Documented bar colours (red-green-blue) for a few rows, columns 0 to 2.
struct BarRow {
  int row;
  uint32_t progress[3];
  uint32_t track;
};
constexpr BarRow kBarRows[] = {
    {0, {0xBECDF5, 0xBECDF5, 0xBDCDF5}, 0xDADADA},
    {9, {0x5A7FE5, 0x5A7FE5, 0x5A7FE6}, 0xA6A6A6},
    {17, {0x0C3BB4, 0x0C3BB4, 0x103DB4}, 0x737373},
};

// The splash state is process-wide and its threads never end, so each
// scenario runs in a fresh copy of this test binary (a death test re-runs it
// with only the current test selected). Failures inside the copy are written
// to its standard error, which the parent shows, and make it exit non-zero.
// The shared Xvfb is started before the copy, which finds it through the
// environment.
void runAndReport(const std::function<void()>& scenario) {
  ::testing::TestPartResultArray results;
  {
    ::testing::ScopedFakeTestPartResultReporter reporter(
        ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &results);
    scenario();
  }
  int failures = 0;
  for (int i = 0; i < results.size(); ++i) {
    const ::testing::TestPartResult& result = results.GetTestPartResult(i);
    if (!result.failed()) continue;
    ++failures;
    std::fprintf(stderr, "%s:%d: Failure\n%s\n", result.file_name() != nullptr ? result.file_name() : "?",
                 result.line_number(), result.message());
  }
  std::fflush(nullptr);
  _exit(failures == 0 ? 0 : 1);
}

void inFreshProcess(const std::function<void()>& scenario, const char* stderrPattern = "") {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(runAndReport(scenario), ::testing::ExitedWithCode(0), stderrPattern);
}


uint32_t imageColour(int x, int y) { return uint32_t(x % 256) << 16 | uint32_t(y % 256) << 8 | 0x80; }

// An RGB PNG whose pixel (x, y) is imageColour(x, y).
std::string writeImage(const testutil::TempDir& dir, png_uint_32 width, png_uint_32 height) {
  testutil::PngPicture p;
  p.width = width;
  p.height = height;
  for (png_uint_32 y = 0; y < height; ++y) {
    for (png_uint_32 x = 0; x < width; ++x) {
      const uint32_t c = imageColour(int(x), int(y));
      p.rows.insert(p.rows.end(), {png_byte(c >> 16), png_byte(c >> 8), png_byte(c)});
    }
  }
  const std::string path = dir / ("splash-" + std::to_string(width) + "x" + std::to_string(height) + ".png");
  EXPECT_TRUE(testutil::writePng(path, p));
  return path;
}

// A drawable of the splash connection read back as 0xRRGGBB pixels.
struct Capture {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
  uint32_t at(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
};

Capture capture(unsigned long drawable, int width, int height) {
  Display* display = getDisplay();
  XSync(display, False);
  Capture c{width, height, {}};
  XImage* image = XGetImage(display, drawable, 0, 0, unsigned(width), unsigned(height), AllPlanes, ZPixmap);
  if (image == nullptr) {
    ADD_FAILURE() << "XGetImage failed";
    c.pixels.assign(size_t(width) * size_t(height), 0);
    return c;
  }
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) c.pixels.push_back(uint32_t(XGetPixel(image, x, y) & 0xFFFFFF));
  }
  XDestroyImage(image);
  return c;
}

Capture captureBuffer() {
  const SplashSnapshot s = splashSnapshot();
  int x, y;
  unsigned width, height, border, depth;
  Window root;
  XGetGeometry(getDisplay(), s.buffer, &root, &x, &y, &width, &height, &border, &depth);
  return capture(s.buffer, int(width), int(height));
}

std::pair<unsigned, unsigned> windowSize() {
  Display* display = getDisplay();
  XSync(display, False);
  XWindowAttributes attributes;
  XGetWindowAttributes(display, splashSnapshot().window, &attributes);
  return {unsigned(attributes.width), unsigned(attributes.height)};
}

int mapState() {
  XWindowAttributes attributes;
  XGetWindowAttributes(getDisplay(), splashSnapshot().window, &attributes);
  return attributes.map_state;
}

// Polls until check() holds, for what the repaint threads do on their own.
// The deadline is for a loaded machine (ThreadSanitizer, parallel tests on
// two cores); a condition that holds ends the wait at once.
bool eventually(const std::function<bool()>& check) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!check()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// The bar's documented rows across the whole width, for a percentage.
void expectBar(const Capture& c, int barY, int value) {
  const int end = value == 100 ? c.width : c.width * value / 100;
  for (const BarRow& row : kBarRows) {
    for (int x = 0; x < c.width; ++x) {
      const uint32_t expected = x < end ? row.progress[x % 3] : row.track;
      ASSERT_EQ(c.at(x, barY + row.row), expected) << "value " << value << " column " << x << " row " << row.row;
    }
  }
}

// init() only notes the display; configuring connects and makes the window.
void startSplash(const std::string& image, int splashBuffer) {
  init();
  EXPECT_EQ(splashSnapshot().window, 0u);
  setSplashBuffer(splashBuffer);
  configureSplash(image);
  ASSERT_NE(splashSnapshot().window, 0u);
}

TEST(SplashTest, WithoutADisplayEverythingIsAQuietNoOp) {
  inFreshProcess(
      [] {
        testutil::TempDir dir;
        const std::string image = writeImage(dir, 40, 30);
        unsetenv("DISPLAY");
        init();
        int unused = 99;
        while (access(("/tmp/.X11-unix/X" + std::to_string(unused)).c_str(), F_OK) == 0) ++unused;
        setenv("DISPLAY", (":" + std::to_string(unused)).c_str(), 1);
        init();
        EXPECT_EQ(getDisplay(), nullptr);
        setSplashBuffer(7);
        EXPECT_EQ(getSplashBuffer(), 7);
        configureSplash(image);
        showSplash();
        setProgress(50);
        redraw();
        hideSplash();
        cleanup();
        const SplashSnapshot s = splashSnapshot();
        EXPECT_EQ(s.window, 0u);
        EXPECT_EQ(s.progress, 0);
        EXPECT_FALSE(s.threadsRunning);
      },
      "\\[Splash\\] Can't open display \n\\[Splash\\] Can't open display :[0-9]+\n");
}

struct LoadFailure {
  const char* file;
  bool png;            // loaded as libpng rather than as Xlib
  const char* record;  // what standard error says
};

void PrintTo(const LoadFailure& c, std::ostream* os) { *os << (c.png ? "libpng from " : "Xlib from ") << c.file; }

class LibraryLoadFailureTest : public ::testing::TestWithParam<LoadFailure> {};

// A machine without Xlib or libpng, or with something else under its name,
// gets a reason and no table: the splash then stays off as without a
// display, or shows no image.
TEST_P(LibraryLoadFailureTest, NamesTheReasonAndGivesNoTable) {
  const LoadFailure& c = GetParam();
  testing::internal::CaptureStderr();
  const bool loaded = c.png ? loadPngLibrary(c.file).has_value() : loadX11Library(c.file).has_value();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(loaded);
  EXPECT_NE(err.find(c.record), std::string::npos) << err;
}

INSTANTIATE_TEST_SUITE_P(
    Files, LibraryLoadFailureTest,
    ::testing::Values(
        LoadFailure{"libvelmoran-no-such-library.so.6", false,
                    "[Splash] Unable to load libvelmoran-no-such-library.so.6 ("},
        LoadFailure{"libz.so.1", false, "[Splash] libz.so.1 has no XInitThreads: "},
        LoadFailure{"libvelmoran-no-such-library.so.16", true,
                    "[Splash] Unable to load libvelmoran-no-such-library.so.16 ("},
        LoadFailure{"libz.so.1", true, "[Splash] libz.so.1 has no png_create_read_struct: "}));

TEST(SplashTest, WindowGrowsForTheBarAndDrawsImageFrameAndPercentages) {
  ASSERT_FALSE(testutil::testDisplay().empty());
  inFreshProcess([] {
    testutil::TempDir dir;
    startSplash(writeImage(dir, 400, 300), 10);
    SplashSnapshot s = splashSnapshot();
    EXPECT_TRUE(s.hasImage);
    EXPECT_EQ(s.progress, -100);
    EXPECT_EQ(windowSize(), std::make_pair(420u, 320u));

    Capture c = captureBuffer();
    ASSERT_EQ(c.height, 320);
    EXPECT_EQ(c.at(10, 10), imageColour(0, 0));
    EXPECT_EQ(c.at(409, 309), imageColour(399, 299));
    EXPECT_EQ(c.at(5, 5), kWhite);
    EXPECT_EQ(c.at(414, 314), kWhite);
    for (auto [x, y] : {std::pair{0, 0}, {419, 0}, {0, 319}, {419, 319}, {200, 319}, {0, 160}}) {
      EXPECT_EQ(c.at(x, y), kGrey) << x << "," << y;
    }

    setProgress(-1);
    EXPECT_EQ(windowSize(), std::make_pair(420u, 338u));
    // Hiding the bar again keeps the size; the frame then closes above the empty bar area.
    setProgress(-100);
    EXPECT_EQ(windowSize(), std::make_pair(420u, 338u));
    c = captureBuffer();
    ASSERT_EQ(c.height, 338);
    EXPECT_EQ(c.at(0, 319), kGrey);
    EXPECT_EQ(c.at(0, 330), kWhite);
    EXPECT_EQ(c.at(200, 337), kWhite);

    for (int value : {50, 100, 0, 1, 99}) {
      setProgress(value);
      expectBar(captureBuffer(), 320, value);
    }
    // The frame's left column stays above the bar.
    EXPECT_EQ(captureBuffer().at(0, 100), kGrey);

    setProgress(30);
    setProgress(-150);
    EXPECT_EQ(splashSnapshot().progress, 0);
    setProgress(250);
    EXPECT_EQ(splashSnapshot().progress, 100);
  });
}

TEST(SplashTest, IndefiniteStripesMoveOnePixelPerRepaintThroughElevenPhases) {
  ASSERT_FALSE(testutil::testDisplay().empty());
  inFreshProcess([] {
    testutil::TempDir dir;
    // 95 columns: the last tile is cut at the right edge.
    startSplash(writeImage(dir, 95, 40), 0);
    setProgress(-1);
    EXPECT_EQ(splashSnapshot().frame, 1);
    // The same value again does not repaint, so the animation stays put.
    setProgress(-1);
    EXPECT_EQ(splashSnapshot().frame, 1);

    const uint32_t topRow[] = {0xBECDF5, 0xAABEF2, 0x96AEEF, 0x97AFEF, 0x95AEEE,
                               0x95AEEE, 0xA9BDF2, 0xBECDF5, 0xBDCDF5, 0xBCCBF5};
    Capture previous = captureBuffer();
    std::vector<Capture> byFrame(11);
    for (int repaint = 0; repaint < 11; ++repaint) {
      redraw();
      const int frame = splashSnapshot().frame;
      EXPECT_EQ(frame, (repaint + 2) % 11);
      Capture now = captureBuffer();
      for (int y = 40; y < 58; ++y) {
        // Phase 0 repeats phase 10's picture; every other repaint moves one pixel right.
        const int shift = frame == 0 ? 0 : 1;
        for (int x = 0; x + shift < now.width; ++x) {
          ASSERT_EQ(now.at(x + shift, y), previous.at(x, y)) << "frame " << frame << " at " << x << "," << y;
        }
        for (int x = 0; x + 10 < now.width; ++x) ASSERT_EQ(now.at(x + 10, y), now.at(x, y));
      }
      if (frame == 10) {
        for (int x = 0; x < now.width; ++x) ASSERT_EQ(now.at(x, 40), topRow[x % 10]) << x;
      }
      byFrame[size_t(frame)] = now;
      previous = now;
    }
    EXPECT_EQ(byFrame[0].pixels, byFrame[10].pixels);
  });
}

TEST(SplashTest, ImageThatFailsToLoadIsNotDrawn) {
  ASSERT_FALSE(testutil::testDisplay().empty());
  inFreshProcess([] {
    testutil::TempDir dir;
    const std::string good = writeImage(dir, 50, 40);
    const std::string truncated = dir / "truncated.png";
    fs::copy_file(good, truncated);
    fs::resize_file(truncated, 60);
    const std::string text = dir / "text.png";
    fs::copy_file("/proc/self/cmdline", text);

    startSplash(dir / "missing.png", 10);
    EXPECT_FALSE(splashSnapshot().hasImage);
    EXPECT_EQ(windowSize(), std::make_pair(120u, 120u));
    Capture c = captureBuffer();
    EXPECT_EQ(c.at(10, 10), kWhite);
    EXPECT_EQ(c.at(0, 0), kGrey);

    // The header was read, so the window takes its size, but nothing is drawn.
    // The bar stays hidden, so configuring again does not repaint by itself.
    configureSplash(truncated);
    redraw();
    EXPECT_FALSE(splashSnapshot().hasImage);
    EXPECT_EQ(windowSize(), std::make_pair(70u, 60u));
    c = captureBuffer();
    EXPECT_EQ(c.at(10, 10), kWhite);
    EXPECT_EQ(c.at(59, 49), kWhite);

    configureSplash(text);
    EXPECT_EQ(windowSize(), std::make_pair(70u, 60u));

    configureSplash(good);
    redraw();
    EXPECT_TRUE(splashSnapshot().hasImage);
    EXPECT_EQ(captureBuffer().at(10, 10), imageColour(0, 0));
  });
}

// The threads repaint on their own while the main thread and a download
// worker change the value; hide, show and cleanup leave them running.
TEST(SplashTest, ShownWindowIsRepaintedByItsThreads) {
  ASSERT_FALSE(testutil::testDisplay().empty());
  inFreshProcess([] {
    testutil::TempDir dir;
    startSplash(writeImage(dir, 400, 300), 10);
    const unsigned long window = splashSnapshot().window;
    showSplash();
    ASSERT_TRUE(eventually([] { return mapState() == IsViewable; }));
    EXPECT_TRUE(splashSnapshot().threadsRunning);
    EXPECT_TRUE(eventually([&] { return capture(window, 420, 320).at(10, 10) == imageColour(0, 0); }));

    std::thread worker([] {
      for (int value = 0; value <= 100; value += 5) {
        setProgress(value);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    });
    worker.join();
    setProgress(50);
    EXPECT_TRUE(eventually([&] {
      const Capture c = capture(window, 420, 338);
      return c.at(100, 329) == kBarRows[1].progress[100 % 3] && c.at(300, 329) == kBarRows[1].track;
    }));

    setProgress(-1);
    const int frame = splashSnapshot().frame;
    EXPECT_TRUE(eventually([&] { return splashSnapshot().frame != frame; }));

    hideSplash();
    EXPECT_TRUE(eventually([] { return mapState() == IsUnmapped; }));
    const int hiddenFrame = splashSnapshot().frame;
    EXPECT_TRUE(eventually([&] { return splashSnapshot().frame != hiddenFrame; }));
    showSplash();
    EXPECT_TRUE(eventually([] { return mapState() == IsViewable; }));

    cleanup();
    setProgress(80);
    EXPECT_TRUE(eventually([&] { return capture(window, 420, 338).at(300, 329) == kBarRows[1].progress[0]; }));
  });
}

// A failed request and a server that goes away disable the splash at most;
// the launcher carries on.
TEST(SplashTest, SurvivesXErrorsAndALostServer) {
  inFreshProcess([] {
    testutil::TempDir dir;
    const std::string image = writeImage(dir, 60, 40);
    auto server = testutil::XvfbServer::start();
    ASSERT_NE(server, nullptr);
    setenv("DISPLAY", server->name().c_str(), 1);
    startSplash(image, 4);
    showSplash();
    setProgress(-1);

    XFreePixmap(getDisplay(), 0x3FFFFFF);
    XSync(getDisplay(), False);

    server->stop();
    EXPECT_TRUE(eventually([] { return !splashSnapshot().threadsRunning; }));
    setProgress(40);
    redraw();
    hideSplash();
    showSplash();
    EXPECT_EQ(getDisplay(), nullptr);
  });
}

// Xlib keeps its display lock for the thread that met the lost server unless
// the splash hands it back; every other thread then waits inside Xlib
// forever (the launcher hung so, now and then, when its X server went away).
TEST(SplashTest, AServerLostUnderOneThreadLeavesXlibToTheOthers) {
  inFreshProcess([] {
    auto server = testutil::XvfbServer::start();
    ASSERT_NE(server, nullptr);
    setenv("DISPLAY", server->name().c_str(), 1);
    Display* display = getDisplay();
    ASSERT_NE(display, nullptr);
    server->stop();
    // The first thread stays: a new thread could get its identity, which
    // Xlib takes for the lock's holder.
    auto met = std::make_shared<std::atomic<bool>>(false);
    std::thread([display, met] {
      XSync(display, False);
      *met = true;
      for (;;) pause();
    }).detach();
    ASSERT_TRUE(eventually([met] { return met->load(); }));
    EXPECT_EQ(getDisplay(), nullptr);
    auto returned = std::make_shared<std::atomic<bool>>(false);
    std::thread([display, returned] {
      XSync(display, False);
      *returned = true;
    }).detach();
    EXPECT_TRUE(eventually([returned] { return returned->load(); }));
  });
}

}  // namespace
}  // namespace velmoran
