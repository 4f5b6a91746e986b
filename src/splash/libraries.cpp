#include "splash/libraries.h"

#include <dlfcn.h>

#include "platform/library.h"

namespace velmoran {

// Never closed once complete: the tables, and what the libraries made (the
// images Xlib made point to its functions), are used for the rest of the
// process.
std::optional<X11Library> loadX11Library(const char* file) {
  void* library = openLibrary("Splash", file, "the splash is off");
  if (library == nullptr) return std::nullopt;
  X11Library xlib{};
#define VELMORAN_XLIB_RESOLVE(name) &&resolveSymbol(library, "Splash", file, "X" #name, xlib.name)
  const bool complete = true VELMORAN_XLIB_FUNCTIONS(VELMORAN_XLIB_RESOLVE);
#undef VELMORAN_XLIB_RESOLVE
  if (!complete) {
    dlclose(library);
    return std::nullopt;
  }
  return xlib;
}

std::optional<PngLibrary> loadPngLibrary(const char* file) {
  void* library = openLibrary("Splash", file, "the splash shows no image");
  if (library == nullptr) return std::nullopt;
  PngLibrary png{};
#define VELMORAN_PNG_RESOLVE(name) &&resolveSymbol(library, "Splash", file, "png_" #name, png.name)
  const bool complete = true VELMORAN_PNG_FUNCTIONS(VELMORAN_PNG_RESOLVE);
#undef VELMORAN_PNG_RESOLVE
  if (!complete) {
    dlclose(library);
    return std::nullopt;
  }
  return png;
}

const X11Library* x11Library() {
  static const std::optional<X11Library> loaded = loadX11Library(kX11LibraryFile);
  return loaded ? &*loaded : nullptr;
}

const PngLibrary* pngLibrary() {
  static const std::optional<PngLibrary> loaded = loadPngLibrary(kPngLibraryFile);
  return loaded ? &*loaded : nullptr;
}

}  // namespace velmoran
