// Assembling a whole launcher file: the launcher program, the Tail marker,
// the header, the embedded files in the order the launcher consumes them,
// and the Params section.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "format/tail.h"
#include "tail_writer.h"

namespace velmoran::pack {

// What a launcher file carries, as files. Which embedded files are written
// follows from the header's versions, as the launcher reads them: nothing
// without a GU Version; then lzma64, the splash, the CA store, the updater
// and its version; the JRE with a JRE Version; the application and its
// version with an App Version.
struct LauncherContents {
  TailHeader header;
  std::string stub;
  std::string lzma64;
  std::string splash;
  std::optional<std::string> cacerts;  // none: an empty entry, the JRE keeps its own store
  std::string updaterArchive;
  std::string jreName;
  std::string jreArchive;
  std::string appArchive;
  std::vector<Param> params;
};

// The file's bytes. Fails when the stub already holds a marker or an
// embedded file holds one where the launcher would take it.
struct LauncherFile {
  Bytes bytes;
  std::size_t stubSize = 0;
};
LauncherFile buildLauncherFile(const LauncherContents& contents);

}  // namespace velmoran::pack
