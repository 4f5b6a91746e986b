#include "util/log.h"

#include <unistd.h>

#include <cstdarg>

#include "util/clock.h"

namespace velmoran {
namespace {

int64_t lastTimestamp = 0;
FILE* fileToLogTo = nullptr;
FILE* closedLogFile = nullptr;  // set aside by closeLoggedFile
bool console = true;
void (*recordGate)() = nullptr;

constexpr const char* kErrorBanner = "*******************************************\n";
constexpr const char* kStartLine = "++++++++++++++++++++++++++++++++++++++++++++++++\n";
constexpr const char* kEndLine = "------------------------------------------------\n";

void writeRecord(const char* format, va_list args) {
  if (recordGate != nullptr) recordGate();
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
  if (console) {
    std::printf("+%-8llu ", elapsed);
    std::vprintf(format, args);
    std::fflush(stdout);
    std::fflush(stderr);
  }
  lastTimestamp = systemTimeMillis();
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

void logConsole(const char* format, ...) {
  if (!console) return;
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fflush(stdout);
}

void setConsoleLogging(bool on) { console = on; }

void setRecordGate(void (*gate)()) { recordGate = gate; }

void setFileToLogTo(FILE* stream) { fileToLogTo = stream; }

FILE* getFileToLogTo() { return fileToLogTo; }

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
