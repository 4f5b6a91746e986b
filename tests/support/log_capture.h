// Reads back what the logger wrote during a test.
#pragma once

#include <cstdio>
#include <string>

#include "test_support.h"
#include "util/log.h"

namespace velmoran::testutil {

// Routes the log file sink into a temporary file for the lifetime of the object.
class LogCapture {
 public:
  LogCapture() : file_(std::tmpfile()), previous_(getFileToLogTo()) { setFileToLogTo(file_); }
  ~LogCapture() {
    setFileToLogTo(previous_);
    std::fclose(file_);
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // The records so far, without their elapsed-time prefixes.
  std::string text() const {
    std::fflush(file_);
    std::rewind(file_);
    std::string out;
    for (int c; (c = std::fgetc(file_)) != EOF;) out.push_back(static_cast<char>(c));
    return withoutPrefixes(out);
  }
  bool contains(const std::string& part) const { return text().find(part) != std::string::npos; }

 private:
  FILE* file_;
  FILE* previous_;
};

}  // namespace velmoran::testutil
