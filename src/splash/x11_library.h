// Xlib, loaded when the splash is first configured. Most runs show no splash
// (a just run, a run without a display), and linking Xlib with the XCB
// libraries under it would add 1.1 MB to the launcher program in every
// launcher file. Only Xlib's types, constants and macros (XPutPixel,
// XDestroyImage, DefaultScreen and the like, which reach through the structs)
// come from its headers; its functions are called through this table.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <optional>

namespace velmoran {

// The Xlib functions the splash and the PNG loader call, named without their
// X. One list makes both the members and their lookup, so none is left unset.
#define VELMORAN_XLIB_FUNCTIONS(F)                                                                            \
  F(InitThreads) F(SetErrorHandler) F(SetIOErrorHandler) F(SetIOErrorExitHandler) F(OpenDisplay)             \
  F(UnlockDisplay) F(CreateSimpleWindow) F(SelectInput) F(InternAtom) F(ChangeProperty) F(CreateGC)          \
  F(ParseColor) F(AllocColor) F(CreateImage) F(PutImage) F(CreatePixmap) F(FreePixmap) F(ResizeWindow)       \
  F(MapWindow) F(UnmapWindow) F(SetForeground) F(FillRectangle) F(DrawRectangle) F(CopyArea) F(Flush)       \
  F(Pending) F(NextEvent)

struct X11Library {
#define VELMORAN_XLIB_MEMBER(name) decltype(&::X##name) name;
  VELMORAN_XLIB_FUNCTIONS(VELMORAN_XLIB_MEMBER)
#undef VELMORAN_XLIB_MEMBER
};

// The shared object loaded at run time, as Debian's libx11-6 installs it.
// XSetIOErrorExitHandler came with libX11 1.7: an older one lacks it and
// leaves the splash off, rather than have Xlib end the run when the server
// goes away.
inline constexpr const char* kX11LibraryFile = "libX11.so.6";

// Opens file with dlopen and resolves every function of the table. When the
// library cannot be loaded or lacks a function, the reason goes to standard
// error and the result is empty. A loaded library stays for the process.
std::optional<X11Library> loadX11Library(const char* file);

// libX11.so.6, loaded on the first call; null when it cannot be loaded (the
// reason is printed once, by that first call). Safe from any thread.
const X11Library* x11Library();

}  // namespace velmoran
