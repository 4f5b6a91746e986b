// Small helpers shared by the unit tests.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace velmoran::testutil {

// A fresh folder under /tmp, removed with everything in it at the end.
class TempDir {
 public:
  // Under /tmp, or under another folder (another file system, for instance).
  explicit TempDir(const std::string& parent = "/tmp") {
    std::string name = parent + "/velmoran-test-XXXXXX";
    path_ = mkdtemp(name.data());
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline bool exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

// Permission bits of the path itself (a link is not followed), or -1.
inline int modeOf(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return -1;
  return static_cast<int>(info.st_mode & 07777);
}

// A read stream over the given bytes; closed by the returned handle.
struct MemStream {
  explicit MemStream(const std::string& bytes) : data(bytes) {
    stream = fmemopen(data.data(), data.size(), "rb");
  }
  ~MemStream() {
    if (stream != nullptr) std::fclose(stream);
  }
  MemStream(const MemStream&) = delete;
  MemStream& operator=(const MemStream&) = delete;
  std::string data;
  FILE* stream = nullptr;
};

// The lines of captured output.
inline std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

// Log output with each record's "+<ms> " prefix removed, so texts compare whole.
inline std::string withoutPrefixes(const std::string& out) {
  std::string text;
  std::size_t start = 0;
  while (start < out.size()) {
    std::size_t end = out.find('\n', start);
    end = end == std::string::npos ? out.size() : end + 1;
    std::string line = out.substr(start, end - start);
    if (line.size() >= 10 && line[0] == '+' && line[1] >= '0' && line[1] <= '9') line.erase(0, 10);
    text += line;
    start = end;
  }
  return text;
}

}  // namespace velmoran::testutil
