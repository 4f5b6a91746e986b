// Signal dispositions the launcher sets for itself.
#pragma once

namespace velmoran {

// Ignores SIGPIPE, so a write to a closed socket or pipe (an X server that has
// gone away, a console reader that quit) fails with EPIPE instead of killing
// the process, and SIGXFSZ, so a write past a file size limit (which the
// launcher sets for a moment while it starts a child under a limit) fails
// with EFBIG. Children get the defaults back when they are started (the
// spawner), since an ignored signal is inherited across exec.
void ignoreSigpipe();

}  // namespace velmoran
