// The handler std::terminate calls, for the programs carried in launcher
// files. The C++ library's own names the exception's type, for which it
// brings a demangler of 47 KB into each program; this one says what the
// exception said and aborts as the library's does. Linked into the launcher
// and lzma64 as an object of their own, so that it is found before the
// library's.
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace __gnu_cxx {

void __verbose_terminate_handler() {
  static bool terminating = false;
  if (!terminating) {
    terminating = true;
    if (const std::exception_ptr thrown = std::current_exception()) {
      try {
        std::rethrow_exception(thrown);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "terminate called after throwing an exception: %s\n", e.what());
      } catch (...) {
        std::fprintf(stderr, "terminate called after throwing an exception\n");
      }
    } else {
      std::fprintf(stderr, "terminate called without an active exception\n");
    }
  }
  std::abort();
}

}  // namespace __gnu_cxx
