// Assembling a whole launcher file: the launcher program, the Tail marker,
// the header, the entries of the tail's plan and the Params section.
#pragma once

#include <string>

#include "launcher_rules.h"
#include "tail_writer.h"

namespace velmoran::pack {

struct LauncherFile {
  Bytes bytes;
  std::size_t stubSize = 0;
};

// The file's bytes: the stub, then the tail the spec describes, its entries
// named by the plan and made of the spec's files (the version files of the
// header's versions). The spec is to have passed specFaults. Fails when the
// stub already holds a marker or an entry holds one where the launcher
// would take it.
LauncherFile buildLauncherFile(const std::string& stub, const LauncherSpec& spec);

}  // namespace velmoran::pack
