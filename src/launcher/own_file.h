// What the launcher reads of its own file before it decides anything: the
// Params section first, then the tail header, with the tail's stream left at
// its first entry.
#pragma once

#include "format/tail.h"
#include "launch/properties.h"
#include "launcher/dynamic_params.h"
#include "launcher/entry.h"
#include "util/file.h"
#include "util/status.h"

namespace velmoran {

struct OwnFile {
  DynamicParams params;
  PropertiesBlock properties;  // the dynamic properties, in Params order
  TailHeader header;
  FilePtr tail;  // the tail's entries, made to end where the Params marker starts
  off_t tailMarkerAt = -1;  // where the Tail marker starts: the launcher program ends there
  off_t paramsStart = -1;   // where the Params marker starts: the Params section runs to the end
};

// A file whose markers are missing, whose Params section is not whole, or
// whose tail header runs into its Params section is a failure.
Result<OwnFile> readOwnFile(const Invocation& invocation);

}  // namespace velmoran
