#include "platform/library.h"

#include <dlfcn.h>

#include <cstdio>

namespace velmoran {

void* openLibrary(const char* tag, const char* file, const char* withoutIt) {
  void* library = dlopen(file, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* why = dlerror();
    std::fprintf(stderr, "[%s] Unable to load %s (%s); %s\n", tag, file, why != nullptr ? why : "unknown error",
                 withoutIt);
  }
  return library;
}

void* librarySymbol(void* library, const char* tag, const char* file, const char* name) {
  dlerror();
  void* address = dlsym(library, name);
  if (address == nullptr) {
    const char* why = dlerror();
    std::fprintf(stderr, "[%s] %s has no %s: %s\n", tag, file, name, why != nullptr ? why : "null symbol");
  }
  return address;
}

}  // namespace velmoran
