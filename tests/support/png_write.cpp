#include "png_write.h"

#include <cstdio>

namespace velmoran::testutil {
namespace {

int channels(int colorType) {
  switch (colorType) {
    case PNG_COLOR_TYPE_RGB: return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    default: return 1;
  }
}

// Owns the setjmp; nothing with a destructor lives in this frame.
bool encode(png_structp png, png_infop info, FILE* file, const PngPicture& picture, png_bytep* rows) {
  if (setjmp(png_jmpbuf(png)) != 0) return false;
  png_init_io(png, file);
  png_set_IHDR(png, info, picture.width, picture.height, picture.bitDepth, picture.colorType,
               picture.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!picture.palette.empty()) {
    png_set_PLTE(png, info, picture.palette.data(), static_cast<int>(picture.palette.size()));
  }
  if (!picture.paletteAlpha.empty()) {
    png_set_tRNS(png, info, picture.paletteAlpha.data(), static_cast<int>(picture.paletteAlpha.size()), nullptr);
  } else if (picture.transparentColor) {
    png_color_16 color = *picture.transparentColor;
    png_set_tRNS(png, info, nullptr, 0, &color);
  }
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, nullptr);
  return true;
}

}  // namespace

size_t pngRowBytes(const PngPicture& picture) {
  const size_t bits = static_cast<size_t>(picture.width) * channels(picture.colorType) * picture.bitDepth;
  return (bits + 7) / 8;
}

bool writePng(const std::string& path, const PngPicture& picture) {
  const size_t rowBytes = pngRowBytes(picture);
  if (picture.rows.size() != rowBytes * picture.height) return false;
  std::vector<png_bytep> rows;
  for (png_uint_32 y = 0; y < picture.height; ++y) {
    rows.push_back(const_cast<png_bytep>(picture.rows.data() + y * rowBytes));
  }
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  const bool written = info != nullptr && encode(png, info, file, picture, rows.data());
  png_destroy_write_struct(&png, &info);
  return std::fclose(file) == 0 && written;
}

}  // namespace velmoran::testutil
