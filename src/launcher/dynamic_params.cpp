#include "launcher/dynamic_params.h"

#include <algorithm>
#include <cinttypes>
#include <climits>
#include <cstdlib>
#include <utility>

#include "format/names.h"
#include "format/tail.h"
#include "splash/splash.h"
#include "util/encoding.h"
#include "util/fields.h"
#include "util/file.h"
#include "util/log.h"
#include "util/paths.h"

namespace velmoran {
namespace {

constexpr const char* kPlusLine = "++++++++++++++++++++++++++++++++++++++++++++++++\n";
// A refused name is shown no longer than this.
constexpr int kLoggedNameLength = 200;
constexpr std::size_t kJreOverrideSize = 500;

void logPair(int64_t index, const std::string& name, const std::string& value) {
  if (value.size() <= 100) {
    logMessage("[DynProps] Dynamic Param %d: %s=[%s]\n", static_cast<int>(index), name.c_str(),
               value.c_str());
  } else {
    logMessage("[DynProps] Dynamic Param %d: %s=[%.99s...]\n", static_cast<int>(index),
               name.c_str(), value.c_str());
  }
}

void logSplashImage(const std::string& value) {
  if (value.size() <= 99) {
    logMessage("[DynProps] Splash Image is %s\n", value.c_str());
  } else {
    logMessage("[DynProps] Splash Image is %.99s...\n", value.c_str());
  }
}

// The parameters that steer the run; every other name is only a property.
Status applyParam(DynamicParams& params, const std::string& name, const std::string& value) {
  if (name == "update_url") {
    logMessage("[DynProps] Dynamic Update URL: %s\n", value.c_str());
    params.updateUrl = value;
  } else if (name == "wrapper_autotest") {
    params.autotest = true;
  } else if (name == "show_no_ui") {
    if (value == "true") params.noUi = true;
  } else if (name == "splash_buffer") {
    // atoi's reading, without its undefined behaviour on out-of-range numbers.
    if (!value.empty()) {
      const long pixels = std::strtol(value.c_str(), nullptr, 10);
      setSplashBuffer(static_cast<int>(std::clamp<long>(pixels, INT_MIN, INT_MAX)));
    }
  } else if (name == "splash_image") {
    logSplashImage(value);
    logMessage("[DynProps] Base64 decoding image...\n");
    params.splashImage = base64_decode(value);
    logMessage("[DynProps] Decode complete\n");
  } else if (name == kDesktopEntryParam) {
    params.desktopEntry = value;
  } else if (name == kDesktopCategoriesParam) {
    params.desktopCategories = value;
  } else if (name == "jre_name") {
    // The name becomes part of version folder names and download URLs: one
    // that cannot be a component name would never match its own folder, or
    // would match the updater's.
    if (const auto fault = componentNameFault(value)) {
      logError("[DynProps] JRE name %.*s refused: %s\n", kLoggedNameLength, value.c_str(), fault->c_str());
      return Status::failure();
    }
    params.jreName = value;
    logMessage("[DynProps] JRE name from dynamic launch properties is %s\n",
               params.jreName.c_str());
  }
  return Status::success();
}

}  // namespace

Result<DynamicParams> readDynamicParams(FILE* stream, PropertiesBlock& properties) {
  DynamicParams params;
  logMessage("[Extractor] Found Params marker. Extracting now...\n");
  const int64_t count = readParamsCount(stream);
  logMessage("\n");
  logMessage("%s", kPlusLine);
  logMessage("+++ Processing %d dynamic properties\n", static_cast<int>(count));
  logMessage("%s", kPlusLine);

  for (int64_t i = 0; i < count; ++i) {
    // A count larger than the file holds would otherwise spin on empty pairs
    // for as long as the count says; the pair that ran into the end is kept.
    if (std::feof(stream)) {
      logMessage("[DynProps] Params Count %" PRId64 " exceeds the section; stopping after %" PRId64
                 " pairs\n",
                 count, i);
      break;
    }
    const auto [name, value] = readParam(stream);
    logPair(i, name, value);
    addDynamicProperty(properties, name, value);
    if (const Status applied = applyParam(params, name, value); !applied.ok()) return applied;
  }
  logEndSection("Processing dynamic properties\n");
  return params;
}

void applyJreNameOverride(const std::string& masterFolder, std::string& jreName) {
  const std::string path = setPath(masterFolder, "VLApps", "JreNameOverride");
  FilePtr file = openForReading(path);
  if (!file) {
    logMessage("[JREOverride] No JRE name override, will continue to use %s\n", jreName.c_str());
    return;
  }
  logMessage("[JREOverride] Processing JRE Override file (JreNameOverride)\n");
  std::string name = readString(file.get(), "JRE Override App Name", kJreOverrideSize);
  if (name == "-") {
    logMessage("[JREOverride] Ignoring JRE name -, keeping %s\n", jreName.c_str());
    return;
  }
  // A name that is no component name would never match its own folder, or
  // would lead out of the master folder.
  if (const auto fault = componentNameFault(name)) {
    logMessage("[JREOverride] Ignoring JRE name %s (%s), keeping %s\n", name.c_str(), fault->c_str(),
               jreName.c_str());
    return;
  }
  jreName = std::move(name);
  file.reset();
  logMessage("[JREOverride] JRE name overriden to %s\n", jreName.c_str());
}

}  // namespace velmoran
