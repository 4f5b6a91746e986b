#include "net/curl_library.h"

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
    std::fprintf(stderr, "[HttpDownloader] %s has no %s: %s\n", file, name, why != nullptr ? why : "null symbol");
    return false;
  }
  slot = reinterpret_cast<Function>(address);
  return true;
}

}  // namespace

std::optional<CurlLibrary> loadCurlLibrary(const char* file) {
  // Never closed: the table points into it for the rest of the process.
  void* library = dlopen(file, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* why = dlerror();
    std::fprintf(stderr, "[HttpDownloader] Unable to load %s (%s); no download is possible\n", file,
                 why != nullptr ? why : "unknown error");
    return std::nullopt;
  }
  CurlLibrary curl{};
  const bool complete = resolve(library, file, "curl_easy_init", curl.easy_init) &&
                        resolve(library, file, "curl_easy_setopt", curl.easy_setopt) &&
                        resolve(library, file, "curl_easy_perform", curl.easy_perform) &&
                        resolve(library, file, "curl_easy_getinfo", curl.easy_getinfo) &&
                        resolve(library, file, "curl_easy_strerror", curl.easy_strerror) &&
                        resolve(library, file, "curl_easy_cleanup", curl.easy_cleanup);
  if (!complete) {
    dlclose(library);
    return std::nullopt;
  }
  return curl;
}

const CurlLibrary* curlLibrary() {
  static const std::optional<CurlLibrary> loaded = loadCurlLibrary(kCurlLibraryFile);
  return loaded ? &*loaded : nullptr;
}

}  // namespace velmoran
