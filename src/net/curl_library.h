// libcurl, loaded when the first download needs it. Most runs download
// nothing, and linking libcurl would make every run load it and the thirty
// libraries it needs before main. Only libcurl's types and constants come
// from its header; its functions are called through this table.
#pragma once

#include <curl/curl.h>

#include <optional>

namespace velmoran {

// The libcurl functions the downloader calls.
struct CurlLibrary {
  CURL* (*easy_init)();
  CURLcode (*easy_setopt)(CURL*, CURLoption, ...);
  CURLcode (*easy_perform)(CURL*);
  CURLcode (*easy_getinfo)(CURL*, CURLINFO, ...);
  const char* (*easy_strerror)(CURLcode);
  void (*easy_cleanup)(CURL*);
};

// The shared object loaded at run time, as Debian's libcurl4 installs it.
inline constexpr const char* kCurlLibraryFile = "libcurl.so.4";

// Opens file with dlopen and resolves every function of the table. When the
// library cannot be loaded or lacks a function, the reason goes to standard
// error and the result is empty. A loaded library stays for the process.
std::optional<CurlLibrary> loadCurlLibrary(const char* file);

// libcurl.so.4, loaded on the first call; null when it cannot be loaded (the
// reason is printed once, by that first call). Called by one thread at a
// time, as downloads never overlap.
const CurlLibrary* curlLibrary();

}  // namespace velmoran
