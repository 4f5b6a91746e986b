#include "util/signals.h"

#include <csignal>

namespace velmoran {

void ignoreSigpipe() {
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace velmoran
