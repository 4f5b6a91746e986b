// The process-wide logger: every record goes to standard output and, once a
// log file is open, to that file too, prefixed with the milliseconds since the
// previous record ended. Main thread only, but for the signal watcher, which
// logs once the main thread has stopped for good.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace velmoran {

void logMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The record framed by two lines of 43 asterisks, each a record of its own.
void logError(const char* format, ...) __attribute__((format(printf, 1, 2)));
void logStartSection(const char* name);
void logEndSection(const char* name);

// A line printed straight to standard output, not a record: no time prefix,
// never in the log file (the splash, the downloader and a few readers speak
// for themselves this way). Silenced with the console records.
void logConsole(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Replaces the file sink; the old stream is not closed.
void setFileToLogTo(FILE* stream);
FILE* getFileToLogTo();
// Records and console lines go to standard output unless turned off here
// (the builder reports in its own words); the log file gets them either way.
void setConsoleLogging(bool on);
// Called before every record is written: where a run that is being stopped
// from another thread stops the main thread (platform/stop.h). None by default.
void setRecordGate(void (*gate)());
// Ends the records to the log file before a program is started: later ones
// reach standard output only, until reopenLoggedFile. The file stays open
// (no started program inherits it), so a record of what came of the start
// can still be added to it.
void closeLoggedFile();
void reopenLoggedFile();
void printWorkingDir();

// Forgets the previous record, so the next one starts at "+0". For tests.
void resetLogClock();

}  // namespace velmoran
