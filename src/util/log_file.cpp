#include "util/log_file.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <optional>
#include <string_view>

#include "util/clock.h"
#include "util/file.h"
#include "util/log.h"
#include "util/paths.h"

namespace velmoran {
namespace {

constexpr mode_t kLogFileMode = 0644;
// Log files a master folder keeps: this run's and the newest of the earlier ones.
constexpr std::size_t kKeptLogFiles = 20;

// The time in a log file's name, "Wrapper-YYYY-MM-DD-hh-mm-ss-mmm.log". Its
// fields have fixed widths, so the text sorts as the time does.
std::optional<std::string> logFileTime(std::string_view name) {
  constexpr std::string_view prefix = "Wrapper-", suffix = ".log", shape = "dddd-dd-dd-dd-dd-dd-ddd";
  if (name.size() != prefix.size() + shape.size() + suffix.size() || !name.starts_with(prefix) ||
      !name.ends_with(suffix)) {
    return std::nullopt;
  }
  const std::string_view time = name.substr(prefix.size(), shape.size());
  for (std::size_t i = 0; i < shape.size(); ++i) {
    const bool digit = time[i] >= '0' && time[i] <= '9';
    if (shape[i] == 'd' ? !digit : time[i] != '-') return std::nullopt;
  }
  return std::string(time);
}

}  // namespace

std::string setupFileLogging(const std::string& masterFolder) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[64] = {};
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d-%H-%M-%S", &local);
  char name[96] = {};
  std::snprintf(name, sizeof name, "%s-%03d.log", stamp, getJustMillis());

  const std::string logFolder = setPath(masterFolder, "logs");
  makeDir(masterFolder);
  makeDir(logFolder);

  const std::string fileName = std::string("Wrapper-") + name;
  const std::string logFile = setPath(logFolder, fileName);
  logMessage("[Extractor] Logging to %s\n", logFile.c_str());
  // Every run's log file is new: a name that is taken (another run's file in
  // the same millisecond, or a link put there to be written through) leaves
  // this run's records on the console alone. So does a link at the folder's
  // own name, which others can put there in a master folder open to all.
  UniqueFd folder(open(logFolder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  const int folderError = errno;
  FilePtr file = folder ? openForWritingIn(folder.get(), logFolder, fileName, kLogFileMode, true) : nullptr;
  if (!file) {
    const int error = folder ? errno : folderError;
    const bool notAFolder = !folder && (error == ENOTDIR || error == ELOOP);
    logMessage("[Extractor] Unable to create the log file %s (%s); logging to standard output only\n",
               logFile.c_str(), notAFolder ? "its folder is a link or not a folder" : std::strerror(error));
  }
  const bool opened = file != nullptr;
  setFileToLogTo(file.release());
  if (folder) {
    const int removed = removeAllButNewest(folder.get(), logFolder, logFileTime, kKeptLogFiles,
                                           opened ? fileName : "");
    if (removed > 0) logMessage("[Extractor] Removed %d old log files from %s\n", removed, logFolder.c_str());
  }
  return logFile;
}

}  // namespace velmoran
