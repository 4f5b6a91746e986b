// Writing launch files ("VelmoranLaunch") and LSO files; launch/launch_file.h
// has the format, its labels and its reader.
#pragma once

#include "format/launch_file.h"
#include "tail_writer.h"

namespace velmoran::pack {

// The fields in file order, the counts taken from the lists. Refuses (usage)
// what the launcher would misread or cannot start: a version other than 1 to
// 6, a field the version does not hold, a text longer than
// kLaunchTextMaxLength or holding a NUL, no main class, an App Name that is
// not a plain file name, a class path entry with ":" (the launcher joins the
// entries with it), a negative heap or an initial heap above the maximum, and
// a JVM option that does not start with "-" (it would stand where java looks
// for the main class).
Bytes writeLaunchFile(const LaunchFile& file);

// "LSO Count" and the options, refused like the launch file's JVM options.
Bytes writeLsoFile(const LsoFile& file);

}  // namespace velmoran::pack
