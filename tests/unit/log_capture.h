// Test helpers: a log sink that can be read back, and scratch folders.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "util/log.h"

namespace velmoran::test {

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

  // The record texts, without the elapsed-time prefix.
  std::string text() const {
    std::fflush(file_);
    std::rewind(file_);
    std::string out, line;
    int c;
    while ((c = std::fgetc(file_)) != EOF) {
      line.push_back(static_cast<char>(c));
      if (c != '\n') continue;
      out += line.size() > 10 && line[0] == '+' && line[9] == ' ' ? line.substr(10) : line;
      line.clear();
    }
    return out + line;
  }
  bool contains(const std::string& needle) const { return text().find(needle) != std::string::npos; }

 private:
  FILE* file_;
  FILE* previous_;
};

// A fresh folder under the system temporary folder, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmoran-test-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void writeFile(const std::string& path, const std::string& bytes, mode_t mode = 0644) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  chmod(path.c_str(), mode);
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

}  // namespace velmoran::test
