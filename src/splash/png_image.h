// Turning the splash PNG and the built-in bar tiles into client-side X images
// in the pixel format of the display's default visual.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <array>
#include <cstdint>
#include <memory>

namespace velmoran {

struct XImageDestroyer {
  void operator()(XImage* image) const noexcept {
    if (image != nullptr) XDestroyImage(image);
  }
};
// An X image whose pixel memory came from malloc (XDestroyImage frees both).
using XImagePtr = std::unique_ptr<XImage, XImageDestroyer>;

// Remembers the display, drawable, depth and visual the images are made for.
int xorg_initialize(Display* display, Drawable drawable, int depth, Visual* visual);

// Larger images would push the splash window past what X coordinates (16 bits)
// can address and cost hundreds of megabytes; no real splash is that big.
constexpr uint64_t kMaxImageSide = 8192;

// Decodes a PNG into a new image. width and height receive the PNG's size as
// soon as its header has been read, even if decoding fails later; they are left
// alone when the file cannot be opened. Null on any failure, with a message,
// also for a side over kMaxImageSide, which is refused before any decoding.
XImagePtr xorg_load_image_from_png(const char* path, uint64_t* width, uint64_t* height);

// Fills every pixel of image from a built-in table (opaque).
void copyImageData(XImage* image, const unsigned char* table);

// Built-in bar tiles, 18 rows high: blue, green, red bytes per pixel, each row
// padded with zeros to a multiple of 4 bytes.
constexpr int kBarTileHeight = 18;
constexpr int kTrackWidth = 4;
constexpr int kProgressWidth = 4;
constexpr int kIndefiniteWidth = 10;

// Bytes per row of a built-in table of the given width.
constexpr int tableStride(int width) { return (3 * width + 3) / 4 * 4; }
template <int Width>
using BarTable = std::array<unsigned char, tableStride(Width) * kBarTileHeight>;

extern const BarTable<kTrackWidth> track;
extern const BarTable<kProgressWidth> progress_lightblue;
extern const BarTable<kIndefiniteWidth> progress_lighblue_indefinite;

}  // namespace velmoran
