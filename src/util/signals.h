// Signal dispositions the launcher sets for itself.
#pragma once

namespace velmoran {

// Ignores SIGPIPE, so a write to a closed socket or pipe (an X server that has
// gone away, a console reader that quit) fails with EPIPE instead of killing
// the process. Children get the default back when they are started (the
// spawner), since an ignored signal is inherited across exec.
void ignoreSigpipe();

}  // namespace velmoran
