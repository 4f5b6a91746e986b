#include "launch/properties.h"

#include "util/clock.h"
#include "util/exit.h"
#include "util/file.h"
#include "util/log.h"
#include "util/paths.h"
#include "util/strings.h"

namespace velmoran {
namespace {

std::string_view upToNul(std::string_view text) { return text.substr(0, text.find('\0')); }

void addProperty(PropertiesBlock& block, std::string_view prefix, std::string_view name,
                 std::string_view value) {
  appendProp(block, prefix);
  extendProp(block, name);
  appendProp(block, value);
}

}  // namespace

int propsLen(const PropertiesBlock& block) { return static_cast<int>(block.content().size()); }

void appendProp(PropertiesBlock& block, std::string_view text) {
  text = upToNul(text);
  if (!block.content_.empty()) block.content_ += '\0';
  if (text.empty()) {
    block.content_ += kEmptyValueMark;
  } else {
    block.content_ += text;
  }
}

void extendProp(PropertiesBlock& block, std::string_view text) { block.content_ += upToNul(text); }

void addStaticProperty(PropertiesBlock& block, std::string_view name, std::string_view value) {
  addProperty(block, "vlstat_", name, value);
}

void addDynamicProperty(PropertiesBlock& block, std::string_view name, std::string_view value) {
  addProperty(block, "vldyna_", name, value);
}

std::string makeLaunchPropertiesFile(const std::string& folder) {
  const long entries = countFolderEntries(folder.c_str());
  const auto millis = static_cast<unsigned long>(getCurrentTimeMillis());
  std::string path = setPath(folder, "VLLaunchProperties-");
  path += format("%lu-%ld", millis, entries);
  checkPathLength(path);
  return path;
}

std::string writeLaunchPropertiesFile(const PropertiesBlock& block, const std::string& appDir) {
  logMessage("[Extractor] Writing launch properties file\n");
  std::string path = makeLaunchPropertiesFile(appDir);
  logMessage("[Extractor] Writing launch properties to %s\n", path.c_str());
  logMessage("[Extractor] Launch properties length is %d\n", propsLen(block));

  FilePtr file = openFile(path.c_str(), "wb");
  for (int retry = 0; !file && retry < 5; ++retry) {
    path = makeLaunchPropertiesFile(appDir);
    logMessage("[Retry] Writing launch properties to %s\n", path.c_str());
    file = openFile(path.c_str(), "wb");
    if (!file) millisleep(500);
  }
  if (!file) {
    logError("Unable to write Launch Properties file! Cannot run!\n");
    endRun(99);
  }

  logMessage("[Extractor] Writing to file\n");
  std::fwrite(block.content().data(), 1, block.content().size(), file.get());
  std::fflush(file.get());
  file.reset();
  logMessage("[Extractor] Finished writing launch properties file\n");
  return path;
}

}  // namespace velmoran
