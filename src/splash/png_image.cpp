#include "splash/png_image.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include "splash/libraries.h"
#include "util/file.h"
#include "util/log.h"

namespace velmoran {
namespace {

struct XContext {
  Display* display = nullptr;
  Drawable drawable = 0;
  int depth = 0;
  Visual* visual = nullptr;
};
XContext context;

// The tiles are written below as red-green-blue words, as a designer reads
// them, and turned into the stored byte layout at compile time.
template <int Width>
constexpr BarTable<Width> toTable(const uint32_t (&rgb)[kBarTileHeight][Width]) {
  BarTable<Width> bytes{};
  for (int y = 0; y < kBarTileHeight; ++y) {
    for (int x = 0; x < Width; ++x) {
      const int at = y * tableStride(Width) + 3 * x;
      bytes[at] = rgb[y][x] & 0xFF;
      bytes[at + 1] = (rgb[y][x] >> 8) & 0xFF;
      bytes[at + 2] = (rgb[y][x] >> 16) & 0xFF;
    }
  }
  return bytes;
}

constexpr uint32_t kTrackRgb[kBarTileHeight][kTrackWidth] = {
    {0xDADADA, 0xDADADA, 0xDADADA, 0xD9D9D9}, {0x929292, 0x929292, 0x929292, 0x767676},
    {0x949494, 0x949494, 0x949494, 0x777777}, {0x959595, 0x959595, 0x959595, 0x7A7A7A},
    {0x9C9C9C, 0x9C9C9C, 0x9C9C9C, 0x7D7D7D}, {0x9F9F9F, 0x9F9F9F, 0x9F9F9F, 0x808080},
    {0xA2A2A2, 0xA2A2A2, 0xA2A2A2, 0x848484}, {0xA0A0A0, 0xA0A0A0, 0xA0A0A0, 0x898989},
    {0xA4A4A4, 0xA4A4A4, 0xA4A4A4, 0x8C8C8C}, {0xA6A6A6, 0xA6A6A6, 0xA6A6A6, 0x909090},
    {0xA8A8A8, 0xA8A8A8, 0xA8A8A8, 0x939393}, {0xABABAB, 0xABABAB, 0xABABAB, 0x979797},
    {0xAFAFAF, 0xAFAFAF, 0xAFAFAF, 0x9A9A9A}, {0xB1B1B1, 0xB1B1B1, 0xB1B1B1, 0x9E9E9E},
    {0xB1B1B1, 0xB1B1B1, 0xB1B1B1, 0xA1A1A1}, {0xB2B2B2, 0xB2B2B2, 0xB2B2B2, 0xA4A4A4},
    {0xB1B1B1, 0xB1B1B1, 0xB1B1B1, 0xA5A5A5}, {0x737373, 0x737373, 0x737373, 0x747474},
};

constexpr uint32_t kProgressRgb[kBarTileHeight][kProgressWidth] = {
    {0xBECDF5, 0xBECDF5, 0xBDCDF5, 0xBCCBF5}, {0x83A0EB, 0x83A0EB, 0x83A0EC, 0x5179E4},
    {0x7F9DEA, 0x7F9DEA, 0x7F9DEA, 0x4F77E1}, {0x7A99E9, 0x7A99E9, 0x7899E8, 0x4B73DD},
    {0x7293E9, 0x7293E9, 0x7294E8, 0x456EDA}, {0x6C8FE8, 0x6C8FE8, 0x6B8EE7, 0x4069D7},
    {0x668AE6, 0x668AE6, 0x668AE7, 0x3965D3}, {0x6185E5, 0x6185E5, 0x6086E6, 0x3561D1},
    {0x5B83E4, 0x5B83E4, 0x5C81E5, 0x315DCE}, {0x5A7FE5, 0x5A7FE5, 0x5A7FE6, 0x2F5ACB},
    {0x557CE5, 0x557CE5, 0x547CE3, 0x2B59CA}, {0x5077E3, 0x5077E3, 0x5077E3, 0x2954C6},
    {0x4A74E3, 0x4A74E3, 0x4974E1, 0x2450C3}, {0x426FE1, 0x426FE1, 0x426FE1, 0x1E4BC1},
    {0x3D6AE1, 0x3D6AE1, 0x3D6BE0, 0x1A47BC}, {0x3965E0, 0x3965E0, 0x3865DF, 0x1443B9},
    {0x3362DF, 0x3362DF, 0x3561DF, 0x1140B7}, {0x0C3BB4, 0x0C3BB4, 0x103DB4, 0x0D3BB4},
};

// Slanted stripes: a lighter band, softened by one half-tone column on each
// side, steps one column left per row, so the tile repeats seamlessly sideways
// and the stripes run from upper right to lower left.
constexpr uint32_t kIndefiniteRgb[kBarTileHeight][kIndefiniteWidth] = {
    {0xBECDF5, 0xAABEF2, 0x96AEEF, 0x97AFEF, 0x95AEEE, 0x95AEEE, 0xA9BDF2, 0xBECDF5, 0xBDCDF5, 0xBCCBF5},
    {0x5A80E5, 0x5A80E5, 0x5A80E5, 0x5A80E5, 0x7293E8, 0x8AA6EC, 0x8AA6EC, 0x8AA6EC, 0x8AA6EC, 0x7293E8},
    {0x587EE5, 0x587EE5, 0x587EE5, 0x7091E8, 0x88A4EC, 0x88A4EC, 0x88A4EC, 0x88A4EC, 0x7091E8, 0x587EE5},
    {0x567DE4, 0x567DE4, 0x6E90E8, 0x86A3EB, 0x86A3EB, 0x86A3EB, 0x86A3EB, 0x6E90E8, 0x567DE4, 0x567DE4},
    {0x547BE4, 0x6C8EE8, 0x84A1EB, 0x84A1EB, 0x84A1EB, 0x84A1EB, 0x6C8EE8, 0x547BE4, 0x547BE4, 0x547BE4},
    {0x698CE8, 0x819FEB, 0x819FEB, 0x819FEB, 0x819FEB, 0x698CE8, 0x517AE4, 0x517AE4, 0x517AE4, 0x517AE4},
    {0x7F9DEB, 0x7F9DEB, 0x7F9DEB, 0x7F9DEB, 0x678AE7, 0x4F78E3, 0x4F78E3, 0x4F78E3, 0x4F78E3, 0x678AE7},
    {0x7D9CEA, 0x7D9CEA, 0x7D9CEA, 0x6589E6, 0x4D76E3, 0x4D76E3, 0x4D76E3, 0x4D76E3, 0x6589E6, 0x7D9CEA},
    {0x7B9AEA, 0x7B9AEA, 0x6388E6, 0x4B75E3, 0x4B75E3, 0x4B75E3, 0x4B75E3, 0x6388E6, 0x7B9AEA, 0x7B9AEA},
    {0x7998EA, 0x6186E6, 0x4973E2, 0x4973E2, 0x4973E2, 0x4973E2, 0x6186E6, 0x7998EA, 0x7998EA, 0x7998EA},
    {0x5F84E6, 0x4772E2, 0x4772E2, 0x4772E2, 0x4772E2, 0x5F84E6, 0x7796EA, 0x7796EA, 0x7796EA, 0x7796EA},
    {0x4570E2, 0x4570E2, 0x4570E2, 0x4570E2, 0x5D82E6, 0x7595E9, 0x7595E9, 0x7595E9, 0x7595E9, 0x5D82E6},
    {0x436EE1, 0x436EE1, 0x436EE1, 0x5B80E5, 0x7393E9, 0x7393E9, 0x7393E9, 0x7393E9, 0x5B80E5, 0x436EE1},
    {0x406DE1, 0x406DE1, 0x587FE5, 0x7091E9, 0x7091E9, 0x7091E9, 0x7091E9, 0x587FE5, 0x406DE1, 0x406DE1},
    {0x3E6BE1, 0x567DE5, 0x6E8FE9, 0x6E8FE9, 0x6E8FE9, 0x6E8FE9, 0x567DE5, 0x3E6BE1, 0x3E6BE1, 0x3E6BE1},
    {0x547CE4, 0x6C8EE8, 0x6C8EE8, 0x6C8EE8, 0x6C8EE8, 0x547CE4, 0x3C6AE0, 0x3C6AE0, 0x3C6AE0, 0x3C6AE0},
    {0x6A8CE8, 0x6A8CE8, 0x6A8CE8, 0x6A8CE8, 0x527AE4, 0x3A68E0, 0x3A68E0, 0x3A68E0, 0x3A68E0, 0x527AE4},
    {0x3C69E0, 0x3C69E0, 0x2F60DF, 0x2457DD, 0x295BDE, 0x2D5EDE, 0x285ADD, 0x3867E0, 0x3C69E0, 0x3967E0},
};

// What one decode makes. It lives in the caller's frame, so a libpng error
// (a longjmp out of the decoder) loses none of it, and the caller releases
// everything on one path.
struct PngJob {
  const PngLibrary* lib = nullptr;
  const char* path = nullptr;
  FILE* file = nullptr;
  png_structp png = nullptr;
  png_infop info = nullptr;
  unsigned char* pixels = nullptr;  // one row, or every row of an interlaced image
  XImage* image = nullptr;
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  size_t rowBytes = 0;
  int passes = 1;
};

// The pixel word: alpha in the top byte, then red, green, blue. Visuals without
// an alpha channel get the colour blended over white.
unsigned long pixelWord(const unsigned char* rgba, int depth) {
  unsigned long r = rgba[0], g = rgba[1], b = rgba[2];
  const unsigned long a = rgba[3];
  if (depth < 32) {
    const float alpha = static_cast<float>(a) / 255.0f;
    const double background = (1.0 - alpha) * 255.0;
    r = static_cast<unsigned long>(static_cast<float>(r) * alpha + background);
    g = static_cast<unsigned long>(static_cast<float>(g) * alpha + background);
    b = static_cast<unsigned long>(static_cast<float>(b) * alpha + background);
  }
  return a << 24 | r << 16 | g << 8 | b;
}

// Asks libpng for 8-bit RGBA rows whatever the file holds.
void requestRgba(const PngLibrary& lib, png_structp png, png_infop info, int bitDepth, int colorType) {
  switch (colorType) {
    case PNG_COLOR_TYPE_PALETTE:
      lib.set_palette_to_rgb(png);
      if (bitDepth < 8) lib.set_packing(png);
      break;
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      if (bitDepth < 8) lib.set_expand_gray_1_2_4_to_8(png);
      lib.set_gray_to_rgb(png);
      break;
    case PNG_COLOR_TYPE_RGB:
      std::puts("[HttpDownloader] RGB Image found");
      lib.set_filler(png, 0xFF, PNG_FILLER_AFTER);
      break;
    case PNG_COLOR_TYPE_RGB_ALPHA:
      std::puts("[HttpDownloader] RGB - ALPHA Image found");
      break;
    default:
      break;
  }
  if (bitDepth == 16) lib.set_strip_16(png);
  const bool transparency = lib.get_valid(png, info, PNG_INFO_tRNS) != 0;
  if (transparency) lib.set_tRNS_to_alpha(png);
  if (!transparency && (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_PALETTE)) {
    lib.set_filler(png, 0xFF, PNG_FILLER_AFTER);
  }
}

// Makes the X image and its pixel memory; false if either cannot be had.
bool createImage(PngJob& job) {
  const X11Library* xlib = x11Library();
  if (context.display == nullptr || xlib == nullptr) return false;
  job.image = xlib->CreateImage(context.display, context.visual, static_cast<unsigned>(context.depth), ZPixmap, 0,
                                nullptr, job.width, job.height, 32, 0);
  size_t bytes = 0;
  if (job.image == nullptr || job.image->bytes_per_line <= 0 ||
      __builtin_mul_overflow(static_cast<size_t>(job.image->bytes_per_line), job.height, &bytes)) {
    return false;
  }
  job.image->data = static_cast<char*>(std::calloc(bytes, 1));
  return job.image->data != nullptr;
}

// Owns the setjmp: libpng errors land here, so nothing in this frame may have a
// destructor, and everything it makes is kept in job.
bool decode(PngJob& job, uint64_t* width, uint64_t* height) {
  const PngLibrary& lib = *job.lib;
  // What libpng's png_jmpbuf does, through the table.
  if (setjmp(*lib.set_longjmp_fn(job.png, longjmp, sizeof(jmp_buf))) != 0) {
    logConsole("[HttpDownloader] Failed to load PNG: %s\n", job.path);
    return false;
  }
  lib.init_io(job.png, job.file);
  lib.read_info(job.png, job.info);
  int bitDepth = 0, colorType = 0;
  lib.get_IHDR(job.png, job.info, &job.width, &job.height, &bitDepth, &colorType, nullptr, nullptr, nullptr);
  *width = job.width;
  *height = job.height;
  // The header is untrusted: a few kilobytes of file may claim gigabytes of pixels.
  if (job.width > kMaxImageSide || job.height > kMaxImageSide) lib.error(job.png, "image too large");
  requestRgba(lib, job.png, job.info, bitDepth, colorType);
  // Adam7 rows only make sense once all passes are in, so an interlaced
  // image is decoded whole; a plain one row by row.
  job.passes = lib.set_interlace_handling(job.png);
  lib.read_update_info(job.png, job.info);

  job.rowBytes = lib.get_rowbytes(job.png, job.info);
  size_t expected = 0;
  if (lib.get_channels(job.png, job.info) != 4 || lib.get_bit_depth(job.png, job.info) != 8 ||
      __builtin_mul_overflow(static_cast<size_t>(job.width), size_t{4}, &expected) ||
      job.rowBytes != expected) {
    lib.error(job.png, "unexpected row layout after the transforms");
  }
  if (!createImage(job)) {
    logConsole("[HttpDownloader] Failed to create XImage for PNG: %s\n", job.path);
    return false;
  }
  const size_t bufferRows = job.passes > 1 ? job.height : 1;
  size_t bufferBytes = 0;
  if (__builtin_mul_overflow(job.rowBytes, bufferRows, &bufferBytes)) lib.error(job.png, "image too large");
  job.pixels = static_cast<unsigned char*>(std::malloc(bufferBytes));
  if (job.pixels == nullptr) lib.error(job.png, "out of memory");

  if (job.passes > 1) {
    for (int pass = 0; pass < job.passes; ++pass) {
      for (png_uint_32 y = 0; y < job.height; ++y) lib.read_row(job.png, job.pixels + y * job.rowBytes, nullptr);
    }
  }
  for (png_uint_32 y = 0; y < job.height; ++y) {
    unsigned char* row = job.pixels;
    if (job.passes > 1) {
      row += y * job.rowBytes;
    } else {
      lib.read_row(job.png, row, nullptr);
    }
    for (png_uint_32 x = 0; x < job.width; ++x) {
      XPutPixel(job.image, static_cast<int>(x), static_cast<int>(y), pixelWord(row + 4 * x, context.depth));
    }
  }
  return true;
}

}  // namespace

constexpr BarTable<kTrackWidth> track = toTable(kTrackRgb);
constexpr BarTable<kProgressWidth> progress_lightblue = toTable(kProgressRgb);
constexpr BarTable<kIndefiniteWidth> progress_lighblue_indefinite = toTable(kIndefiniteRgb);

int xorg_initialize(Display* display, Drawable drawable, int depth, Visual* visual) {
  context = XContext{display, drawable, depth, visual};
  return 1;
}

XImagePtr xorg_load_image_from_png(const char* path, uint64_t* width, uint64_t* height) {
  PngJob job;
  job.path = path;
  job.file = openForReading(path).release();
  if (job.file == nullptr) {
    logConsole("[HttpDownloader] Unable to open file for reading: %s\n", path);
    return nullptr;
  }
  bool decoded = false;
  // Without libpng (its loader said why) there is no read structure either.
  job.lib = pngLibrary();
  if (job.lib != nullptr) job.png = job.lib->create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (job.png == nullptr) {
    logConsole("[HttpDownloader] Failed to create PNG read struct: %s\n", path);
  } else if ((job.info = job.lib->create_info_struct(job.png)) == nullptr) {
    logConsole("[HttpDownloader] Failed to create PNG info struct: %s\n", path);
  } else {
#ifdef VELMORAN_FUZZ
    // Mutated inputs seldom keep their checksums; fuzzing gets past them to the pixels.
    job.lib->set_crc_action(job.png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
    job.lib->set_option(job.png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
#endif
    decoded = decode(job, width, height);
  }
  if (job.lib != nullptr) job.lib->destroy_read_struct(&job.png, &job.info, nullptr);
  std::fclose(job.file);
  std::free(job.pixels);
  XImagePtr image(job.image);
  if (!decoded) image.reset();
  return image;
}

void copyImageData(XImage* image, const unsigned char* table) {
  const int stride = tableStride(image->width);
  for (int y = 0; y < image->height; ++y) {
    for (int x = 0; x < image->width; ++x) {
      const unsigned char* bgr = table + y * stride + 3 * x;
      XPutPixel(image, x, y, 0xFF000000ul | static_cast<unsigned long>(bgr[2]) << 16 |
                                 static_cast<unsigned long>(bgr[1]) << 8 | bgr[0]);
    }
  }
}

}  // namespace velmoran
