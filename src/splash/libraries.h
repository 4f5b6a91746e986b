// Xlib and libpng, loaded when the splash is first configured. Most runs show
// no splash (a just run, a run without a display), and linking Xlib with the
// XCB libraries under it, and libpng with zlib, would add 1.4 MB to the
// launcher program in every launcher file. Only the libraries' types,
// constants and macros (XPutPixel, XDestroyImage, DefaultScreen and the like,
// which reach through the structs) come from their headers; their functions
// are called through these tables.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <png.h>

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

// The libpng functions the PNG loader calls, named without their png_.
// set_longjmp_fn is what libpng's png_jmpbuf macro calls.
#define VELMORAN_PNG_FUNCTIONS(F)                                                                             \
  F(create_read_struct) F(create_info_struct) F(destroy_read_struct) F(set_longjmp_fn) F(error) F(init_io)   \
  F(read_info) F(get_IHDR) F(get_valid) F(set_palette_to_rgb) F(set_packing) F(set_expand_gray_1_2_4_to_8)  \
  F(set_gray_to_rgb) F(set_filler) F(set_strip_16) F(set_tRNS_to_alpha) F(set_interlace_handling)           \
  F(read_update_info) F(get_rowbytes) F(get_channels) F(get_bit_depth) F(read_row) F(set_crc_action)        \
  F(set_option)

struct PngLibrary {
#define VELMORAN_PNG_MEMBER(name) decltype(&::png_##name) name;
  VELMORAN_PNG_FUNCTIONS(VELMORAN_PNG_MEMBER)
#undef VELMORAN_PNG_MEMBER
};

// The shared objects loaded at run time, as Debian's libx11-6 and libpng16-16
// install them. XSetIOErrorExitHandler came with libX11 1.7: an older one
// lacks it and leaves the splash off, rather than have Xlib end the run when
// the server goes away. Any libpng 1.6 takes the headers' version string.
inline constexpr const char* kX11LibraryFile = "libX11.so.6";
inline constexpr const char* kPngLibraryFile = "libpng16.so.16";

// Open file with dlopen and resolve every function of the table. When the
// library cannot be loaded or lacks a function, the reason goes to standard
// error and the result is empty. A loaded library stays for the process.
std::optional<X11Library> loadX11Library(const char* file);
std::optional<PngLibrary> loadPngLibrary(const char* file);

// The libraries above, each loaded on its first call; null when it cannot be
// loaded (the reason is printed once, by that first call). Safe from any
// thread. Without Xlib the splash is off; without libpng it shows no image.
const X11Library* x11Library();
const PngLibrary* pngLibrary();

}  // namespace velmoran
