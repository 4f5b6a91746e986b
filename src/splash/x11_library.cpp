#include "splash/x11_library.h"

#include <dlfcn.h>

#include <cstdio>

namespace velmoran {
namespace {

template <typename Function>
bool resolve(void* library, const char* file, const char* name, Function& slot) {
  dlerror();
  void* address = dlsym(library, name);
  if (address == nullptr) {
    const char* why = dlerror();
    std::fprintf(stderr, "[Splash] %s has no %s: %s\n", file, name, why != nullptr ? why : "null symbol");
    return false;
  }
  slot = reinterpret_cast<Function>(address);
  return true;
}

}  // namespace

std::optional<X11Library> loadX11Library(const char* file) {
  // Never closed: the table, and the images Xlib makes, point into it for the
  // rest of the process.
  void* library = dlopen(file, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* why = dlerror();
    std::fprintf(stderr, "[Splash] Unable to load %s (%s); the splash is off\n", file,
                 why != nullptr ? why : "unknown error");
    return std::nullopt;
  }
  X11Library xlib{};
#define VELMORAN_XLIB_RESOLVE(name) &&resolve(library, file, "X" #name, xlib.name)
  const bool complete = true VELMORAN_XLIB_FUNCTIONS(VELMORAN_XLIB_RESOLVE);
#undef VELMORAN_XLIB_RESOLVE
  if (!complete) {
    dlclose(library);
    return std::nullopt;
  }
  return xlib;
}

const X11Library* x11Library() {
  static const std::optional<X11Library> loaded = loadX11Library(kX11LibraryFile);
  return loaded ? &*loaded : nullptr;
}

}  // namespace velmoran
