// Writes PNG files with libpng, for test inputs and screenshots.
#pragma once

#include <png.h>

#include <optional>
#include <string>
#include <vector>

namespace velmoran::testutil {

struct PngPicture {
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int colorType = PNG_COLOR_TYPE_RGB;
  int bitDepth = 8;
  bool interlaced = false;
  std::vector<png_color> palette;
  std::vector<png_byte> paletteAlpha;            // tRNS of a palette image
  std::optional<png_color_16> transparentColor;  // tRNS of a grey or RGB image
  std::vector<png_byte> rows;                    // every row as stored: packed, 16-bit big-endian
};

// Bytes of one stored row.
size_t pngRowBytes(const PngPicture& picture);
bool writePng(const std::string& path, const PngPicture& picture);

}  // namespace velmoran::testutil
