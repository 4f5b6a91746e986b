#include "jar_scan.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "cli.h"
#include "util/file.h"

namespace velmoran::pack {
namespace {

constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kEnd64LocatorSignature = 0x07064b50;
constexpr uint32_t kEnd64Signature = 0x06064b50;
constexpr uint32_t kEntrySignature = 0x02014b50;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kEnd64LocatorSize = 20;
constexpr std::size_t kEnd64Size = 56;
constexpr std::size_t kEntrySize = 46;
constexpr std::size_t kMaxComment = 0xffff;
// A directory this large is no jar anyone ships.
constexpr uint64_t kMaxDirectorySize = uint64_t{256} << 20;

uint64_t little(const unsigned char* p, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

class Reader {
 public:
  explicit Reader(const std::string& path) : path_(path), in_(openFile(path.c_str(), "rb")) {
    struct stat st {};
    if (!in_ || fstat(fileno(in_.get()), &st) != 0) fail("cannot read " + path + ": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) fail(path + " is not a file");
    size_ = static_cast<uint64_t>(st.st_size);
  }
  uint64_t size() const { return size_; }
  std::vector<unsigned char> read(uint64_t offset, uint64_t length) {
    if (offset > size_ || length > size_ - offset) bad("its directory points past its end");
    std::vector<unsigned char> bytes(length);
    if (fseeko(in_.get(), static_cast<off_t>(offset), SEEK_SET) != 0 ||
        std::fread(bytes.data(), 1, bytes.size(), in_.get()) != bytes.size()) {
      fail("cannot read " + path_ + ": " + std::strerror(errno));
    }
    return bytes;
  }
  [[noreturn]] void bad(const std::string& why) const { fail(path_ + " is not a jar (zip) file: " + why); }

 private:
  std::string path_;
  FilePtr in_;
  uint64_t size_ = 0;
};

}  // namespace

std::set<std::string> jarEntryNames(const std::string& path) {
  Reader zip(path);
  if (zip.size() < kEndSize) zip.bad("it is too short");
  // The end record is the last one whose comment runs exactly to the end of the file.
  const uint64_t tailLength = std::min<uint64_t>(zip.size(), kEndSize + kMaxComment);
  const uint64_t tailStart = zip.size() - tailLength;
  const std::vector<unsigned char> tail = zip.read(tailStart, tailLength);
  std::size_t at = tail.size() - kEndSize + 1;
  bool found = false;
  while (at-- > 0) {
    if (little(&tail[at], 4) == kEndSignature && at + kEndSize + little(&tail[at + 20], 2) == tail.size()) {
      found = true;
      break;
    }
  }
  if (!found) zip.bad("no end of central directory record");
  const uint64_t endAt = tailStart + at;
  uint64_t count = little(&tail[at + 10], 2);
  uint64_t dirSize = little(&tail[at + 12], 4);
  uint64_t dirOffset = little(&tail[at + 16], 4);
  uint64_t dirEnd = endAt;
  if (count == 0xffff || dirSize == 0xffffffff || dirOffset == 0xffffffff) {
    if (endAt < kEnd64LocatorSize) zip.bad("no zip64 end record locator");
    const std::vector<unsigned char> locator = zip.read(endAt - kEnd64LocatorSize, kEnd64LocatorSize);
    if (little(locator.data(), 4) != kEnd64LocatorSignature) zip.bad("no zip64 end record locator");
    const uint64_t end64At = little(&locator[8], 8);
    const std::vector<unsigned char> end64 = zip.read(end64At, kEnd64Size);
    if (little(end64.data(), 4) != kEnd64Signature) zip.bad("no zip64 end record");
    count = little(&end64[32], 8);
    dirSize = little(&end64[40], 8);
    dirOffset = little(&end64[48], 8);
    dirEnd = end64At;
  }
  if (dirOffset > dirEnd || dirSize > dirEnd - dirOffset || dirSize > kMaxDirectorySize) {
    zip.bad("its central directory lies outside the file");
  }
  const std::vector<unsigned char> dir = zip.read(dirOffset, dirSize);
  std::set<std::string> names;
  std::size_t p = 0;
  for (uint64_t i = 0; i < count; ++i) {
    if (dir.size() - p < kEntrySize || little(&dir[p], 4) != kEntrySignature) zip.bad("a cut or damaged directory entry");
    const std::size_t nameLength = little(&dir[p + 28], 2);
    const std::size_t rest = nameLength + little(&dir[p + 30], 2) + little(&dir[p + 32], 2);
    if (dir.size() - p - kEntrySize < rest) zip.bad("a cut or damaged directory entry");
    names.emplace(reinterpret_cast<const char*>(&dir[p + kEntrySize]), nameLength);
    p += kEntrySize + rest;
  }
  return names;
}

}  // namespace velmoran::pack
