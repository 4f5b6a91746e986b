#include "layout.h"

#include <algorithm>

#include "format/tail.h"

namespace velmoran::pack {

LauncherLayout locateSections(const Bytes& file) {
  LauncherLayout layout;
  layout.headerOffset = findMarkerEnd(file, allocAndInitMarker());
  layout.paramsAreaOffset = findMarkerEnd(file, allocAndInitParamsMarker());
  if (layout.paramsAreaOffset >= 0) {
    const auto endAt = static_cast<std::size_t>(layout.paramsAreaOffset) + kParamsAreaSize;
    const Bytes endMarker = allocAndInitParamsEndMarker();
    layout.hasEndMarker = file.size() >= endAt + endMarker.size() &&
                          std::equal(endMarker.begin(), endMarker.end(), file.begin() + static_cast<std::ptrdiff_t>(endAt));
  }
  return layout;
}

}  // namespace velmoran::pack
