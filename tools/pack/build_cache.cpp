#include "build_cache.h"

#include <dirent.h>
#include <ftw.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "cli.h"
#include "tail_writer.h"
#include "util/encoding.h"
#include "util/file.h"

namespace velmoran::pack {
namespace {

// The first line of every cached archive; the second is the SHA-256 of the
// rest. A new layout gets a new line, so old entries are never misread.
constexpr std::string_view kArchiveMagic = "velmoran-pack cache 1\n";
constexpr const char* kDigestFileName = "tree.sha256";
constexpr std::size_t kHexDigestLength = 64;
// The longest text entry read back.
constexpr std::size_t kMaxText = 64 * 1024;

struct EvpDeleter {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

class Sha256 {
 public:
  Sha256() : ctx_(EVP_MD_CTX_new()) {
    if (!ctx_ || EVP_DigestInit_ex(ctx_.get(), EVP_sha256(), nullptr) != 1) fail("SHA-256 cannot be set up");
  }
  void update(const void* data, std::size_t length) {
    if (length > 0 && EVP_DigestUpdate(ctx_.get(), data, length) != 1) fail("SHA-256 failed");
  }
  void update(const std::string& text) { update(text.data(), text.size()); }
  std::string hex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx_.get(), digest, &length) != 1) fail("SHA-256 failed");
    return bytesToHex(digest, length);
  }

 private:
  std::unique_ptr<EVP_MD_CTX, EvpDeleter> ctx_;
};

void hashTree(Sha256& sha, const std::string& full, const std::string& relative, std::vector<unsigned char>& buffer) {
  std::vector<std::string> names;
  {
    DirPtr dir = openDir(full.c_str());
    if (!dir) fail("cannot read the folder " + full + ": " + std::strerror(errno));
    while (const dirent* e = readdir(dir.get())) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string childFull = full + "/" + name;
    const std::string childRelative = relative.empty() ? name : relative + "/" + name;
    struct stat st {};
    if (stat(childFull.c_str(), &st) != 0) fail("cannot read " + childFull + ": " + std::strerror(errno));
    char head[64];
    std::snprintf(head, sizeof head, "%c %o %lld ", S_ISDIR(st.st_mode) ? 'D' : 'F', st.st_mode & 07777u,
                  S_ISREG(st.st_mode) ? static_cast<long long>(st.st_size) : 0LL);
    sha.update(head + childRelative + std::string(1, '\0'));
    if (S_ISDIR(st.st_mode)) {
      hashTree(sha, childFull, childRelative, buffer);
    } else if (S_ISREG(st.st_mode)) {
      FilePtr in = openFile(childFull.c_str(), "rb");
      if (!in) fail("cannot read " + childFull + ": " + std::strerror(errno));
      std::size_t got;
      while ((got = std::fread(buffer.data(), 1, buffer.size(), in.get())) > 0) sha.update(buffer.data(), got);
      if (std::ferror(in.get())) fail("cannot read " + childFull);
    } else {
      fail(childFull + " is neither a file nor a folder");
    }
  }
}

void makeFolders(const std::string& path) {
  for (std::size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
    const std::string part = path.substr(0, at);
    if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) fail("cannot make " + part + ": " + std::strerror(errno));
    if (at == std::string::npos) return;
  }
}

// Depth first, links not followed.
void removeTree(const std::string& path) {
  nftw(
      path.c_str(),
      [](const char* p, const struct stat*, int, struct FTW*) {
        std::remove(p);
        return 0;
      },
      16, FTW_DEPTH | FTW_PHYS);
}

// Out of the way at once, then removed: a reader never meets half of it.
void discard(const std::string& path) {
  const std::string doomed = path + ".stale-" + std::to_string(getpid());
  if (rename(path.c_str(), doomed.c_str()) == 0) removeTree(doomed);
}

std::optional<std::string> readDigestFile(const std::string& path) {
  FilePtr in = openFile(path.c_str(), "rb");
  if (!in) return std::nullopt;
  char text[kHexDigestLength + 2] = {};
  const std::size_t got = std::fread(text, 1, sizeof text, in.get());
  if (got != kHexDigestLength) return std::nullopt;
  return std::string(text, got);
}

bool isFolder(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void note(const std::string& message) { std::fprintf(stderr, "note: %s\n", message.c_str()); }

}  // namespace

std::optional<std::string> defaultCacheFolder() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if (cache != nullptr && cache[0] == '/') return std::string(cache) + "/velmoran";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.cache/velmoran";
  return std::nullopt;
}

std::string textDigest(const std::string& text) {
  Sha256 sha;
  sha.update(text);
  return sha.hex();
}

std::string treeDigest(const std::string& root) {
  if (!isFolder(root)) fail(root + " is not a folder");
  Sha256 sha;
  std::vector<unsigned char> buffer(1 << 20);
  hashTree(sha, root, "", buffer);
  return sha.hex();
}

std::string fileDigest(const std::string& path) {
  FilePtr in = openFile(path.c_str(), "rb");
  if (!in) fail("cannot read " + path + ": " + std::strerror(errno));
  Sha256 sha;
  std::vector<unsigned char> buffer(1 << 16);
  std::size_t got;
  while ((got = std::fread(buffer.data(), 1, buffer.size(), in.get())) > 0) sha.update(buffer.data(), got);
  if (std::ferror(in.get())) fail("cannot read " + path);
  return sha.hex();
}

std::optional<std::string> BuildCache::fetchText(const std::string& kind, const std::string& key) const {
  if (!folder_) return std::nullopt;
  FilePtr in = openFile((*folder_ + "/" + kind + "/" + key).c_str(), "rb");
  if (!in) return std::nullopt;
  std::string text(kMaxText + 1, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), in.get()));
  if (text.size() > kMaxText || text.empty() || text.back() != '\n') return std::nullopt;
  text.pop_back();
  return text;
}

void BuildCache::storeText(const std::string& kind, const std::string& key, const std::string& text) const {
  if (!folder_) return;
  try {
    makeFolders(*folder_ + "/" + kind);
    const std::string line = text + "\n";
    writeWholeFile(*folder_ + "/" + kind + "/" + key, Bytes(line.begin(), line.end()));
  } catch (const Failure& e) {
    note("the " + kind + " are not kept in the cache: " + e.message);
  }
}

bool BuildCache::fetchArchive(const std::string& key, const std::string& out) const {
  if (!folder_) return false;
  const std::string entry = *folder_ + "/archives/" + key + ".p2.l2";
  if (access(entry.c_str(), F_OK) != 0) return false;
  try {
    const Bytes bytes = readWholeFile(entry);
    const std::size_t head = kArchiveMagic.size() + kHexDigestLength + 1;
    const bool whole = bytes.size() > head && std::equal(kArchiveMagic.begin(), kArchiveMagic.end(), bytes.begin()) &&
                       bytes[head - 1] == '\n';
    if (whole) {
      Sha256 sha;
      sha.update(bytes.data() + head, bytes.size() - head);
      if (sha.hex() == std::string(bytes.begin() + static_cast<std::ptrdiff_t>(kArchiveMagic.size()),
                                   bytes.begin() + static_cast<std::ptrdiff_t>(head - 1))) {
        writeWholeFile(out, Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(head), bytes.end()));
        return true;
      }
    }
  } catch (const Failure& e) {
    note("the cached archive " + entry + " cannot be read (" + e.message + "); it is made again");
  }
  std::remove(entry.c_str());
  return false;
}

void BuildCache::storeArchive(const std::string& key, const std::string& archive) const {
  if (!folder_) return;
  const std::string folder = *folder_ + "/archives";
  try {
    makeFolders(folder);
    const Bytes bytes = readWholeFile(archive);
    Sha256 sha;
    sha.update(bytes.data(), bytes.size());
    const std::string head = std::string(kArchiveMagic) + sha.hex() + "\n";
    AtomicOutput out(folder + "/" + key + ".p2.l2");
    out.write(Bytes(head.begin(), head.end()));
    out.write(bytes);
    out.commit();
  } catch (const Failure& e) {
    note("the JRE archive is not kept in the cache: " + e.message);
  }
}

BuildCache::Image BuildCache::image(const std::string& key, const std::string& fallback,
                                    const std::function<void(const std::string&)>& make) const {
  const auto madeAt = [&make](const std::string& folder) {
    make(folder);
    return Image{folder, treeDigest(folder), false};
  };
  if (!folder_) return madeAt(fallback);
  const std::string entry = *folder_ + "/jlink/" + key;
  if (isFolder(entry)) {
    const std::optional<std::string> stored = readDigestFile(entry + "/" + kDigestFileName);
    try {
      if (stored && treeDigest(entry + "/image") == *stored) return {entry + "/image", *stored, true};
    } catch (const Failure&) {
      // A tree that cannot be read is as damaged as one that changed.
    }
    note("the cached runtime image " + entry + " has changed; it is made again");
    discard(entry);
  }
  const std::string part = entry + ".part-" + std::to_string(getpid());
  try {
    removeTree(part);
    makeFolders(part);
  } catch (const Failure& e) {
    note("the runtime image is not kept in the cache: " + e.message);
    return madeAt(fallback);
  }
  Image made;
  try {
    made = madeAt(part + "/image");
    writeWholeFile(part + "/" + kDigestFileName, Bytes(made.digest.begin(), made.digest.end()));
  } catch (...) {
    removeTree(part);
    throw;
  }
  if (rename(part.c_str(), entry.c_str()) == 0) return {entry + "/image", made.digest, false};
  // Another build stored the same key meanwhile: the same JDK and modules.
  removeTree(part);
  if (readDigestFile(entry + "/" + kDigestFileName) == made.digest) return {entry + "/image", made.digest, false};
  note("the runtime image is not kept in the cache: " + entry + " cannot be written");
  return madeAt(fallback);
}

}  // namespace velmoran::pack
