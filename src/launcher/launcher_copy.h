// The installed launcher copy: <master>/VelmoranLauncher, the launcher
// program with a tail that carries no payload (the setup file's header with
// its versions emptied, no entries, the same Params section). It is "just a
// launcher": run, it starts the newest installed updater, so desktop entries
// and the updater start it and the setup file may be deleted.
#pragma once

#include <sys/types.h>

#include <string>

#include "format/tail.h"

namespace velmoran {

// Writes the copy from the launcher's own file, whose program ends where its
// Tail marker starts (tailMarkerAt) and whose Params section starts at
// paramsStart; beside its name, then renamed onto it, executable. A copy
// that cannot be written is a record, not a failure of the run.
void writeLauncherCopy(const std::string& launcherPath, off_t tailMarkerAt, off_t paramsStart,
                       const TailHeader& header, const std::string& masterFolder);

}  // namespace velmoran
