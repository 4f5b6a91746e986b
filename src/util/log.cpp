#include "util/log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <ctime>
#include <optional>
#include <string_view>

#include "util/clock.h"
#include "util/file.h"
#include "util/paths.h"
#include "util/stop.h"

namespace velmoran {
namespace {

constexpr mode_t kLogFileMode = 0644;
// Log files a master folder keeps: this run's and the newest of the earlier ones.
constexpr std::size_t kKeptLogFiles = 20;

int64_t lastTimestamp = 0;
FILE* fileToLogTo = nullptr;
FILE* closedLogFile = nullptr;  // set aside by closeLoggedFile

constexpr const char* kErrorBanner = "*******************************************\n";
constexpr const char* kStartLine = "++++++++++++++++++++++++++++++++++++++++++++++++\n";
constexpr const char* kEndLine = "------------------------------------------------\n";

void writeRecord(const char* format, va_list args) {
  // Every step of the main thread logs: where a run being ended by a signal
  // stops it (util/stop.h).
  parkIfStopRequested();
  const int64_t now = systemTimeMillis();
  const unsigned long long elapsed =
      lastTimestamp == 0 ? 0ULL : static_cast<unsigned long long>(now - lastTimestamp);
  if (fileToLogTo != nullptr) {
    va_list copy;
    va_copy(copy, args);
    std::fprintf(fileToLogTo, "+%-8llu ", elapsed);
    std::vfprintf(fileToLogTo, format, copy);
    va_end(copy);
    std::fflush(fileToLogTo);
  }
  std::printf("+%-8llu ", elapsed);
  std::vprintf(format, args);
  std::fflush(stdout);
  std::fflush(stderr);
  lastTimestamp = systemTimeMillis();
}

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

void logMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  writeRecord(format, args);
  va_end(args);
}

void logError(const char* format, ...) {
  logMessage("%s", kErrorBanner);
  va_list args;
  va_start(args, format);
  writeRecord(format, args);
  va_end(args);
  logMessage("%s", kErrorBanner);
  std::fflush(stdout);
  std::fflush(stderr);
}

void logStartSection(const char* name) {
  logMessage("%s", kStartLine);
  logMessage("+++ Start: %s\n", name);
  logMessage("%s", kStartLine);
}

void logEndSection(const char* name) {
  logMessage("%s", kEndLine);
  logMessage("--- End: %s\n", name);
  logMessage("%s", kEndLine);
}

void setFileToLogTo(FILE* stream) { fileToLogTo = stream; }

FILE* getFileToLogTo() { return fileToLogTo; }

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
  checkPathLength(logFile);
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

void closeLoggedFile() {
  logMessage("[Utils] Closing logging file.\n");
  if (fileToLogTo != nullptr) {
    if (closedLogFile != nullptr) std::fclose(closedLogFile);
    closedLogFile = fileToLogTo;
    fileToLogTo = nullptr;
  }
}

void reopenLoggedFile() {
  if (fileToLogTo != nullptr || closedLogFile == nullptr) return;
  fileToLogTo = closedLogFile;
  closedLogFile = nullptr;
}

void printWorkingDir() {
  char dir[1024] = {};
  if (getcwd(dir, sizeof dir) == nullptr) dir[0] = '\0';
  logMessage("[Extractor] Working dir is '%s'\n", dir);
}

void resetLogClock() { lastTimestamp = 0; }

}  // namespace velmoran
