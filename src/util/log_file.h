// The log file of a run, in its master folder's "logs" folder.
#pragma once

#include <string>

namespace velmoran {

// Creates masterFolder/logs and opens "Wrapper-<local time>-<ms>.log" there
// as the logger's file; of the log files there, it keeps the newest 20 (this
// one among them) and removes the others. Returns the path of the log file.
std::string setupFileLogging(const std::string& masterFolder);

}  // namespace velmoran
