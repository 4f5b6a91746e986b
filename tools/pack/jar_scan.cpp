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
constexpr uint64_t kMaxDirectorySize = uint64_t{64} << 20;
static_assert(kJarTailSize >= kMaxDirectorySize + kEnd64Size + kEnd64LocatorSize + kEndSize + kMaxComment);

uint64_t little(const unsigned char* p, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// Why the bytes are no jar, thrown by the reading and turned into each
// caller's own answer.
struct NotAJar {
  std::string why;
};

// Where the bytes come from: a file, or a jar's last bytes in memory.
class Source {
 public:
  virtual ~Source() = default;
  virtual uint64_t size() const = 0;
  // Where the bytes at hand start.
  virtual uint64_t start() const { return 0; }
  // Throws NotAJar when the range lies outside them.
  virtual std::vector<unsigned char> read(uint64_t offset, uint64_t length) = 0;
};

void checkRange(uint64_t size, uint64_t offset, uint64_t length) {
  if (offset > size || length > size - offset) throw NotAJar{"its directory points past its end"};
}

class FileSource : public Source {
 public:
  explicit FileSource(const std::string& path) : path_(path), in_(openFile(path.c_str(), "rb")) {
    struct stat st {};
    if (!in_ || fstat(fileno(in_.get()), &st) != 0) fail("cannot read " + path + ": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) fail(path + " is not a file");
    size_ = static_cast<uint64_t>(st.st_size);
  }
  uint64_t size() const override { return size_; }
  std::vector<unsigned char> read(uint64_t offset, uint64_t length) override {
    checkRange(size_, offset, length);
    std::vector<unsigned char> bytes(length);
    if (fseeko(in_.get(), static_cast<off_t>(offset), SEEK_SET) != 0 ||
        std::fread(bytes.data(), 1, bytes.size(), in_.get()) != bytes.size()) {
      fail("cannot read " + path_ + ": " + std::strerror(errno));
    }
    return bytes;
  }

 private:
  std::string path_;
  FilePtr in_;
  uint64_t size_ = 0;
};

class TailSource : public Source {
 public:
  TailSource(std::span<const unsigned char> tail, uint64_t size) : tail_(tail), size_(size) {}
  uint64_t size() const override { return size_; }
  uint64_t start() const override { return size_ - tail_.size(); }
  std::vector<unsigned char> read(uint64_t offset, uint64_t length) override {
    checkRange(size_, offset, length);
    if (offset < start()) {
      throw NotAJar{"its directory starts more than " + std::to_string(kJarTailSize >> 20) + " MiB before its end"};
    }
    const auto from = tail_.begin() + static_cast<std::ptrdiff_t>(offset - start());
    return {from, from + static_cast<std::ptrdiff_t>(length)};
  }

 private:
  std::span<const unsigned char> tail_;
  uint64_t size_;
};

std::set<std::string> listDirectory(Source& zip) {
  if (zip.size() < kEndSize) throw NotAJar{"it is too short"};
  // The end record is the last one whose comment runs exactly to the end of the file.
  const uint64_t tailStart = std::max(zip.start(), zip.size() - std::min<uint64_t>(zip.size(), kEndSize + kMaxComment));
  const std::vector<unsigned char> tail = zip.read(tailStart, zip.size() - tailStart);
  std::size_t at = tail.size() < kEndSize ? 0 : tail.size() - kEndSize + 1;
  bool found = false;
  while (at-- > 0) {
    if (little(&tail[at], 4) == kEndSignature && at + kEndSize + little(&tail[at + 20], 2) == tail.size()) {
      found = true;
      break;
    }
  }
  if (!found) throw NotAJar{"no end of central directory record"};
  const uint64_t endAt = tailStart + at;
  uint64_t count = little(&tail[at + 10], 2);
  uint64_t dirSize = little(&tail[at + 12], 4);
  uint64_t dirOffset = little(&tail[at + 16], 4);
  uint64_t dirEnd = endAt;
  if (count == 0xffff || dirSize == 0xffffffff || dirOffset == 0xffffffff) {
    if (endAt < kEnd64LocatorSize) throw NotAJar{"no zip64 end record locator"};
    const std::vector<unsigned char> locator = zip.read(endAt - kEnd64LocatorSize, kEnd64LocatorSize);
    if (little(locator.data(), 4) != kEnd64LocatorSignature) throw NotAJar{"no zip64 end record locator"};
    const uint64_t end64At = little(&locator[8], 8);
    const std::vector<unsigned char> end64 = zip.read(end64At, kEnd64Size);
    if (little(end64.data(), 4) != kEnd64Signature) throw NotAJar{"no zip64 end record"};
    count = little(&end64[32], 8);
    dirSize = little(&end64[40], 8);
    dirOffset = little(&end64[48], 8);
    dirEnd = end64At;
  }
  if (dirOffset > dirEnd || dirSize > dirEnd - dirOffset || dirSize > kMaxDirectorySize) {
    throw NotAJar{"its central directory lies outside the file"};
  }
  const std::vector<unsigned char> dir = zip.read(dirOffset, dirSize);
  std::set<std::string> names;
  std::size_t p = 0;
  for (uint64_t i = 0; i < count; ++i) {
    if (dir.size() - p < kEntrySize || little(&dir[p], 4) != kEntrySignature) {
      throw NotAJar{"a cut or damaged directory entry"};
    }
    const std::size_t nameLength = little(&dir[p + 28], 2);
    const std::size_t rest = nameLength + little(&dir[p + 30], 2) + little(&dir[p + 32], 2);
    if (dir.size() - p - kEntrySize < rest) throw NotAJar{"a cut or damaged directory entry"};
    names.emplace(reinterpret_cast<const char*>(&dir[p + kEntrySize]), nameLength);
    p += kEntrySize + rest;
  }
  return names;
}

}  // namespace

std::set<std::string> jarEntryNames(const std::string& path) {
  FileSource file(path);
  try {
    return listDirectory(file);
  } catch (const NotAJar& e) {
    fail(path + " is not a jar (zip) file: " + e.why);
  }
}

JarListing jarEntryNames(std::span<const unsigned char> tail, uint64_t size) {
  TailSource bytes(tail, size);
  try {
    return {listDirectory(bytes), std::nullopt};
  } catch (const NotAJar& e) {
    return {{}, e.why};
  }
}

}  // namespace velmoran::pack
