// The Params section: name/value pairs that can differ between copies of one
// launcher file. Every pair becomes a dynamic property; a few also steer the run.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "launch/properties.h"
#include "util/status.h"

namespace velmoran {

// What the recognised parameters set, with the values a run starts from.
struct DynamicParams {
  std::optional<std::string> updateUrl;                    // "update_url"
  bool noUi = false;                                       // "show_no_ui" = "true"
  bool autotest = false;                                   // "wrapper_autotest"
  std::optional<std::vector<unsigned char>> splashImage;   // "splash_image", decoded
  std::string jreName;                                     // "jre_name"
  std::string desktopEntry;                                // "desktop_entry": "false" writes no menu entry
  std::string desktopCategories;                           // "desktop_categories": the entry's Categories
};

// Reads the Params section from a stream positioned just after the Params
// marker, logging each pair and recording it in the properties block. A JRE
// name that cannot be a component name is a failure.
Result<DynamicParams> readDynamicParams(FILE* stream, PropertiesBlock& properties);

// Lets the file master/VLApps/JreNameOverride replace the JRE name: its text up
// to the first NUL (at most 499 bytes, nothing trimmed) becomes the name,
// except "-", which keeps it. No file keeps it too.
void applyJreNameOverride(const std::string& masterFolder, std::string& jreName);

}  // namespace velmoran
