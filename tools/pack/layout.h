// Where the sections of an existing launcher file lie.
#pragma once

#include <cstdint>
#include <string>

#include "tail_writer.h"

namespace velmoran::pack {

struct LauncherLayout {
  int64_t headerOffset = -1;      // first byte after the Tail marker, -1 when there is none
  int64_t paramsAreaOffset = -1;  // first byte after the Params marker
  bool hasEndMarker = false;      // the reversed Params marker follows the fixed-size area
};

LauncherLayout locateSections(const Bytes& file);

}  // namespace velmoran::pack
