// gtest comes before Xlib, whose macros (None, Bool) break its templates.
#include <gtest/gtest.h>

#include "splash/png_image.h"

#include <X11/Xutil.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "png_write.h"
#include "test_support.h"
#include "xvfb.h"

namespace velmoran {
namespace {

using testutil::PngPicture;
namespace fs = std::filesystem;

class PngImageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const std::string name = testutil::testDisplay();
    ASSERT_FALSE(name.empty()) << "no Xvfb";
    display_ = XOpenDisplay(name.c_str());
    ASSERT_NE(display_, nullptr);
    temp_ = std::make_unique<testutil::TempDir>();
    dir_ = temp_->path();
  }
  static void TearDownTestSuite() {
    if (display_ != nullptr) XCloseDisplay(display_);
    display_ = nullptr;
    temp_.reset();
  }
  void SetUp() override { useVisual(DefaultVisual(display_, 0), DefaultDepth(display_, 0)); }

  static void useVisual(Visual* visual, int depth) {
    xorg_initialize(display_, DefaultRootWindow(display_), depth, visual);
  }
  static std::string write(const std::string& name, const PngPicture& picture) {
    const std::string path = (fs::path(dir_) / name).string();
    EXPECT_TRUE(testutil::writePng(path, picture)) << path;
    return path;
  }
  // The colours the image holds on a 24-bit visual, row by row.
  static std::vector<uint32_t> colours(XImage* image) {
    std::vector<uint32_t> result;
    for (int y = 0; y < image->height; ++y) {
      for (int x = 0; x < image->width; ++x) result.push_back(XGetPixel(image, x, y) & 0xFFFFFF);
    }
    return result;
  }

  static Display* display_;
  static std::unique_ptr<testutil::TempDir> temp_;
  static std::string dir_;
};
Display* PngImageTest::display_ = nullptr;
std::unique_ptr<testutil::TempDir> PngImageTest::temp_;
std::string PngImageTest::dir_;

PngPicture picture(png_uint_32 width, png_uint_32 height, int colorType, int bitDepth,
                   std::vector<png_byte> rows) {
  PngPicture p;
  p.width = width;
  p.height = height;
  p.colorType = colorType;
  p.bitDepth = bitDepth;
  p.rows = std::move(rows);
  return p;
}

// 8-bit samples widened to 16 bits (v * 257), big-endian as stored.
std::vector<png_byte> widen(const std::vector<png_byte>& samples) {
  std::vector<png_byte> wide;
  for (png_byte v : samples) wide.insert(wide.end(), {v, v});
  return wide;
}

struct DecodeCase {
  const char* name;
  PngPicture picture;
  std::vector<uint32_t> expected;  // 0xRRGGBB on a 24-bit visual
};

// Test names and failures show the case's name rather than its bytes.
void PrintTo(const DecodeCase& c, std::ostream* out) { *out << c.name; }

const std::vector<png_byte> kRgbaSamples = {0, 0, 0, 128,        255, 255, 255, 0,  255, 255, 255, 255,
                                            255, 255, 255, 1,    255, 0, 0, 255};
const std::vector<uint32_t> kRgbaBlended = {0x7E7E7E, 0xFFFFFF, 0xFFFFFF, 0xFEFEFE, 0xFF0000};

PngPicture withPalette(PngPicture p, std::vector<png_color> palette, std::vector<png_byte> alpha = {}) {
  p.palette = std::move(palette);
  p.paletteAlpha = std::move(alpha);
  return p;
}

PngPicture withKey(PngPicture p, png_uint_16 red, png_uint_16 green, png_uint_16 blue, png_uint_16 grey) {
  p.transparentColor = png_color_16{0, red, green, blue, grey};
  return p;
}

PngPicture interlacedGradient() {
  PngPicture p = picture(9, 9, PNG_COLOR_TYPE_RGB, 8, {});
  p.interlaced = true;
  for (png_byte y = 0; y < 9; ++y) {
    for (png_byte x = 0; x < 9; ++x) p.rows.insert(p.rows.end(), {png_byte(x * 20), png_byte(y * 20), 77});
  }
  return p;
}

std::vector<uint32_t> interlacedExpected() {
  std::vector<uint32_t> result;
  for (uint32_t y = 0; y < 9; ++y) {
    for (uint32_t x = 0; x < 9; ++x) result.push_back(x * 20 << 16 | y * 20 << 8 | 77);
  }
  return result;
}

const std::vector<DecodeCase> kDecodeCases = {
    {"rgb", picture(2, 1, PNG_COLOR_TYPE_RGB, 8, {12, 34, 56, 255, 0, 128}), {0x0C2238, 0xFF0080}},
    {"rgba", picture(5, 1, PNG_COLOR_TYPE_RGB_ALPHA, 8, kRgbaSamples), kRgbaBlended},
    {"rgba16", picture(5, 1, PNG_COLOR_TYPE_RGB_ALPHA, 16, widen(kRgbaSamples)), kRgbaBlended},
    {"rgb16", picture(1, 1, PNG_COLOR_TYPE_RGB, 16, widen({1, 2, 3})), {0x010203}},
    {"palette", withPalette(picture(3, 1, PNG_COLOR_TYPE_PALETTE, 8, {2, 0, 1}), {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}}),
     {0x0000FF, 0xFF0000, 0x00FF00}},
    {"palette_trns",
     withPalette(picture(3, 1, PNG_COLOR_TYPE_PALETTE, 8, {0, 1, 2}), {{0, 0, 0}, {255, 0, 0}, {0, 0, 255}},
                 {128, 0, 255}),
     {0x7E7E7E, 0xFFFFFF, 0x0000FF}},
    {"palette_2bit",
     withPalette(picture(4, 1, PNG_COLOR_TYPE_PALETTE, 2, {0xE4}), {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {4, 4, 4}}),
     {0x040404, 0x030303, 0x020202, 0x010101}},
    {"grey", picture(3, 1, PNG_COLOR_TYPE_GRAY, 8, {0, 100, 255}), {0x000000, 0x646464, 0xFFFFFF}},
    {"grey_4bit", picture(3, 1, PNG_COLOR_TYPE_GRAY, 4, {0x05, 0xF0}), {0x000000, 0x555555, 0xFFFFFF}},
    {"grey_alpha", picture(2, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, {0, 128, 200, 255}), {0x7E7E7E, 0xC8C8C8}},
    {"grey_trns", withKey(picture(2, 1, PNG_COLOR_TYPE_GRAY, 8, {100, 50}), 0, 0, 0, 100), {0xFFFFFF, 0x323232}},
    {"rgb_trns", withKey(picture(2, 1, PNG_COLOR_TYPE_RGB, 8, {10, 20, 30, 40, 50, 60}), 10, 20, 30, 0),
     {0xFFFFFF, 0x28323C}},
    {"interlaced", interlacedGradient(), interlacedExpected()},
};

class PngDecodeTest : public PngImageTest, public ::testing::WithParamInterface<DecodeCase> {};

TEST_P(PngDecodeTest, ArrivesAsTheVisualsColoursBlendedOverWhite) {
  const DecodeCase& c = GetParam();
  const std::string path = write(std::string(c.name) + ".png", c.picture);
  uint64_t width = 0, height = 0;
  XImagePtr image = xorg_load_image_from_png(path.c_str(), &width, &height);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(width, c.picture.width);
  EXPECT_EQ(height, c.picture.height);
  EXPECT_EQ(colours(image.get()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Kinds, PngDecodeTest, ::testing::ValuesIn(kDecodeCases),
                         [](const auto& info) { return std::string(info.param.name); });

// White over white stays just below white for every partial alpha, because
// the blend works in single precision and truncates.
TEST_F(PngImageTest, WhiteWithPartialAlphaComesOutAs254) {
  std::vector<png_byte> samples;
  for (int alpha = 0; alpha < 256; ++alpha) samples.insert(samples.end(), {255, 255, 255, png_byte(alpha)});
  const std::string path = write("white.png", picture(256, 1, PNG_COLOR_TYPE_RGB_ALPHA, 8, samples));
  uint64_t width = 0, height = 0;
  XImagePtr image = xorg_load_image_from_png(path.c_str(), &width, &height);
  ASSERT_NE(image, nullptr);
  for (int alpha = 0; alpha < 256; ++alpha) {
    const uint32_t expected = alpha == 0 || alpha == 255 ? 0xFFFFFF : 0xFEFEFE;
    EXPECT_EQ(XGetPixel(image.get(), alpha, 0) & 0xFFFFFF, expected) << "alpha " << alpha;
  }
}

TEST_F(PngImageTest, KeepsColourAndAlphaOnA32BitVisual) {
  XVisualInfo info;
  if (XMatchVisualInfo(display_, 0, 32, TrueColor, &info) == 0) GTEST_SKIP() << "no 32-bit visual";
  useVisual(info.visual, 32);
  const std::string path = write("alpha32.png", picture(5, 1, PNG_COLOR_TYPE_RGB_ALPHA, 8, kRgbaSamples));
  uint64_t width = 0, height = 0;
  XImagePtr image = xorg_load_image_from_png(path.c_str(), &width, &height);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(XGetPixel(image.get(), 0, 0), 0x80000000ul);
  EXPECT_EQ(XGetPixel(image.get(), 1, 0), 0x00FFFFFFul);
  EXPECT_EQ(XGetPixel(image.get(), 4, 0), 0xFFFF0000ul);
}

TEST_F(PngImageTest, UnreadableFilesGiveNoImage) {
  const std::string good = write("good.png", picture(40, 30, PNG_COLOR_TYPE_RGB, 8, std::vector<png_byte>(40 * 30 * 3, 9)));
  // Header intact, pixel data cut short: the size is known, the image is not.
  const std::string truncated = (fs::path(dir_) / "truncated.png").string();
  fs::copy_file(good, truncated);
  fs::resize_file(truncated, 60);
  const std::string notPng = (fs::path(dir_) / "text.png").string();
  std::ofstream(notPng) << "this is not an image, just some text long enough to read";
  const std::string missing = (fs::path(dir_) / "missing.png").string();
  // Small files whose header claims a side over the limit are refused before decoding.
  const std::string wide = write("wide.png", picture(8193, 1, PNG_COLOR_TYPE_GRAY, 8, std::vector<png_byte>(8193)));
  const std::string tall = write("tall.png", picture(1, 8193, PNG_COLOR_TYPE_GRAY, 8, std::vector<png_byte>(8193)));

  struct Case {
    std::string path;
    const char* message;
    uint64_t width, height;  // after the call, starting from 7 x 5
  };
  for (const Case& c : {Case{missing, "[HttpDownloader] Unable to open file for reading: ", 7, 5},
                        Case{notPng, "[HttpDownloader] Failed to load PNG: ", 7, 5},
                        Case{truncated, "[HttpDownloader] Failed to load PNG: ", 40, 30},
                        Case{wide, "[HttpDownloader] Failed to load PNG: ", 8193, 1},
                        Case{tall, "[HttpDownloader] Failed to load PNG: ", 1, 8193}}) {
    uint64_t width = 7, height = 5;
    ::testing::internal::CaptureStdout();
    XImagePtr image = xorg_load_image_from_png(c.path.c_str(), &width, &height);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(image, nullptr) << c.path;
    EXPECT_NE(out.find(c.message + c.path + "\n"), std::string::npos) << out;
    EXPECT_EQ(width, c.width) << c.path;
    EXPECT_EQ(height, c.height) << c.path;
  }
}

class BarTableTest : public PngImageTest {
 protected:
  XImagePtr fromTable(int width, const unsigned char* table) {
    XImagePtr image(XCreateImage(display_, DefaultVisual(display_, 0), DefaultDepth(display_, 0), ZPixmap, 0,
                                 nullptr, width, kBarTileHeight, 32, 0));
    image->data = static_cast<char*>(calloc(image->bytes_per_line, kBarTileHeight));
    copyImageData(image.get(), table);
    return image;
  }
};

// The documented colours (red-green-blue) against the stored blue-green-red rows.
TEST_F(BarTableTest, TilesShowTheirDocumentedColours) {
  XImagePtr trackImage = fromTable(kTrackWidth, track.data());
  XImagePtr progressImage = fromTable(kProgressWidth, progress_lightblue.data());
  struct Spot {
    XImage* image;
    int x, y;
    uint32_t rgb;
  };
  for (const Spot& s : {Spot{trackImage.get(), 0, 0, 0xDADADA}, Spot{trackImage.get(), 3, 0, 0xD9D9D9},
                        Spot{trackImage.get(), 2, 1, 0x929292}, Spot{trackImage.get(), 3, 7, 0x898989},
                        Spot{trackImage.get(), 1, 17, 0x737373}, Spot{trackImage.get(), 3, 17, 0x747474},
                        Spot{progressImage.get(), 0, 0, 0xBECDF5}, Spot{progressImage.get(), 3, 0, 0xBCCBF5},
                        Spot{progressImage.get(), 2, 1, 0x83A0EC}, Spot{progressImage.get(), 3, 9, 0x2F5ACB},
                        Spot{progressImage.get(), 2, 12, 0x4974E1}, Spot{progressImage.get(), 2, 17, 0x103DB4}}) {
    EXPECT_EQ(XGetPixel(s.image, s.x, s.y) & 0xFFFFFF, s.rgb) << s.x << "," << s.y;
  }
}

TEST_F(BarTableTest, IndefiniteTileHasItsEdgeRowsAndStripesRunningDownLeft) {
  XImagePtr tile = fromTable(kIndefiniteWidth, progress_lighblue_indefinite.data());
  const uint32_t top[] = {0xBECDF5, 0xAABEF2, 0x96AEEF, 0x97AFEF, 0x95AEEE,
                          0x95AEEE, 0xA9BDF2, 0xBECDF5, 0xBDCDF5, 0xBCCBF5};
  const uint32_t bottom[] = {0x3C69E0, 0x3C69E0, 0x2F60DF, 0x2457DD, 0x295BDE,
                             0x2D5EDE, 0x285ADD, 0x3867E0, 0x3C69E0, 0x3967E0};
  for (int x = 0; x < kIndefiniteWidth; ++x) {
    EXPECT_EQ(XGetPixel(tile.get(), x, 0) & 0xFFFFFF, top[x]) << x;
    EXPECT_EQ(XGetPixel(tile.get(), x, 17) & 0xFFFFFF, bottom[x]) << x;
  }
  // The light band starts one column further left on each row down, wrapping
  // from column 0 to column 9, so repeated tiles join without a seam.
  auto green = [&](int x, int y) { return (XGetPixel(tile.get(), (x + 10) % 10, y) >> 8) & 0xFF; };
  auto bandStart = [&](int y) {
    unsigned lightest = 0;
    for (int x = 0; x < 10; ++x) lightest = std::max(lightest, unsigned(green(x, y)));
    auto light = [&](int x) { return green(x, y) == lightest; };
    for (int x = 0; x < 10; ++x) {
      if (light(x) && !light(x - 1)) return x;
    }
    return -1;
  };
  for (int y = 1; y < 16; ++y) {
    ASSERT_NE(bandStart(y), -1) << y;
    EXPECT_EQ(bandStart(y + 1), (bandStart(y) + 9) % 10) << y;
  }
}

// Rows are read with the padded stride; the padding bytes never show.
TEST_F(BarTableTest, PaddingBytesAreSkipped) {
  std::vector<unsigned char> table(tableStride(10) * kBarTileHeight, 0xEE);
  for (int y = 0; y < kBarTileHeight; ++y) {
    for (int x = 0; x < 10; ++x) {
      unsigned char* p = &table[y * 32 + 3 * x];
      p[0] = static_cast<unsigned char>(x);  // blue
      p[1] = static_cast<unsigned char>(y);  // green
      p[2] = 0x10;                           // red
    }
  }
  XImagePtr image = fromTable(10, table.data());
  for (int y = 0; y < kBarTileHeight; ++y) {
    for (int x = 0; x < 10; ++x) {
      EXPECT_EQ(XGetPixel(image.get(), x, y) & 0xFFFFFF, 0x100000u | unsigned(y) << 8 | unsigned(x));
    }
  }
}

}  // namespace
}  // namespace velmoran
