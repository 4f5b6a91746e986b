#include "net/curl_library.h"

#include <dlfcn.h>

#include "platform/library.h"

namespace velmoran {
namespace {

constexpr const char* kTag = "HttpDownloader";

}  // namespace

std::optional<CurlLibrary> loadCurlLibrary(const char* file) {
  // Never closed: the table points into it for the rest of the process.
  void* library = openLibrary(kTag, file, "no download is possible");
  if (library == nullptr) return std::nullopt;
  CurlLibrary curl{};
  const bool complete = resolveSymbol(library, kTag, file, "curl_easy_init", curl.easy_init) &&
                        resolveSymbol(library, kTag, file, "curl_easy_setopt", curl.easy_setopt) &&
                        resolveSymbol(library, kTag, file, "curl_easy_perform", curl.easy_perform) &&
                        resolveSymbol(library, kTag, file, "curl_easy_getinfo", curl.easy_getinfo) &&
                        resolveSymbol(library, kTag, file, "curl_easy_strerror", curl.easy_strerror) &&
                        resolveSymbol(library, kTag, file, "curl_easy_cleanup", curl.easy_cleanup);
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
