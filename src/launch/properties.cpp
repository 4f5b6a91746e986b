#include "launch/properties.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include "util/clock.h"
#include "util/file.h"
#include "util/log.h"
#include "util/paths.h"
#include "util/strings.h"

namespace velmoran {
namespace {

constexpr std::string_view kLaunchPropertiesPrefix = "VLLaunchProperties-";

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
  std::string path = setPath(folder, kLaunchPropertiesPrefix);
  path += format("%lu-%ld", millis, entries);
  return path;
}

namespace {

constexpr mode_t kLaunchPropertiesMode = 0644;
constexpr int64_t kRetryPauseMs = 500;
// Launch properties files a folder keeps: this launch's and the newest of the
// earlier ones, whose Java programs may have started a moment ago and not yet
// read theirs.
constexpr std::size_t kKeptLaunchPropertiesFiles = 5;

// "VLLaunchProperties-<ms>-<count>", ordered by the time, then by the count
// (which grows with every file written into the folder), both zero-padded to
// one width so the text sorts as the numbers do.
std::optional<std::string> launchPropertiesOrder(std::string_view name) {
  if (!name.starts_with(kLaunchPropertiesPrefix)) return std::nullopt;
  const std::string_view fields = name.substr(kLaunchPropertiesPrefix.size());
  const std::size_t dash = fields.find('-');
  constexpr std::size_t kWidth = 20;
  const auto number = [](std::string_view digits) {
    return !digits.empty() && digits.size() <= kWidth && digits.find_first_not_of("0123456789") == std::string_view::npos;
  };
  if (dash == std::string_view::npos || !number(fields.substr(0, dash)) || !number(fields.substr(dash + 1))) {
    return std::nullopt;
  }
  const auto padded = [](std::string_view digits) { return std::string(kWidth - digits.size(), '0') + std::string(digits); };
  return padded(fields.substr(0, dash)) + "-" + padded(fields.substr(dash + 1));
}

void removeOldLaunchPropertiesFiles(const std::string& appDir, const std::string& ownPath) {
  UniqueFd folder(open(appDir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!folder) {
    logMessage("[Extractor] Unable to open %s to remove old launch properties files: %s\n", appDir.c_str(),
               std::strerror(errno));
    return;
  }
  const std::string_view own = std::string_view(ownPath).substr(ownPath.rfind('/') + 1);
  const int removed =
      removeAllButNewest(folder.get(), appDir, launchPropertiesOrder, kKeptLaunchPropertiesFiles, own);
  if (removed > 0) {
    logMessage("[Extractor] Removed %d old launch properties files from %s\n", removed, appDir.c_str());
  }
}

// One attempt: the whole content written, flushed and closed. A file that
// could not be written whole is removed, so the Java program is never handed
// a truncated one. The name must be new: whatever stands there already (a
// file, a link, a FIFO) was not written by this launch.
bool writeWhole(const PropertiesBlock& block, const std::string& path) {
  FilePtr file = openForWriting(path, kLaunchPropertiesMode, true);
  if (!file) {
    if (errno == EEXIST) logMessage("[Extractor] %s exists already\n", path.c_str());
    return false;
  }
  logMessage("[Extractor] Writing to file\n");
  const std::string& content = block.content();
  bool written = std::fwrite(content.data(), 1, content.size(), file.get()) == content.size();
  written = std::fflush(file.get()) == 0 && written;
  written = std::fclose(file.release()) == 0 && written;
  if (written) return true;
  const int error = errno;
  std::remove(path.c_str());
  logMessage("[Extractor] Unable to write %s: %s\n", path.c_str(), std::strerror(error));
  return false;
}

}  // namespace

Result<std::string> writeLaunchPropertiesFile(const PropertiesBlock& block, const std::string& appDir) {
  logMessage("[Extractor] Writing launch properties file\n");
  std::string path = makeLaunchPropertiesFile(appDir);
  logMessage("[Extractor] Writing launch properties to %s\n", path.c_str());
  logMessage("[Extractor] Launch properties length is %d\n", propsLen(block));

  // A failed write counts as a failed attempt, as a failed open does.
  bool written = writeWhole(block, path);
  for (int retry = 0; !written && retry < 5; ++retry) {
    path = makeLaunchPropertiesFile(appDir);
    logMessage("[Retry] Writing launch properties to %s\n", path.c_str());
    written = writeWhole(block, path);
    if (!written) pauseBeforeRetry(kRetryPauseMs);
  }
  if (!written) {
    logError("Unable to write Launch Properties file! Cannot run!\n");
    return Status::failure(kExitPropertiesUnwritable);
  }
  logMessage("[Extractor] Finished writing launch properties file\n");
  removeOldLaunchPropertiesFiles(appDir, path);
  return path;
}

}  // namespace velmoran
