// Libraries loaded at run time (libcurl by the first download, Xlib and
// libpng by the first splash), so that a run that needs none of them maps
// none. Failures are said on stderr, as "[Tag] ...".
#pragma once

namespace velmoran {

// The library file opened with dlopen; none, said with withoutIt (what the
// run does without it), when it cannot be.
void* openLibrary(const char* tag, const char* file, const char* withoutIt);

// The address of name in library; none, said, when it has none.
void* librarySymbol(void* library, const char* tag, const char* file, const char* name);

// Fills slot with name's address; false, said, when the library has none.
template <typename Function>
bool resolveSymbol(void* library, const char* tag, const char* file, const char* name, Function& slot) {
  void* address = librarySymbol(library, tag, file, name);
  if (address == nullptr) return false;
  slot = reinterpret_cast<Function>(address);
  return true;
}

}  // namespace velmoran
