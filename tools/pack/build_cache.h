// The builder's cache of what takes long to make and seldom changes: JRE
// archives (compressed, maybe signed) and jlink images. Entries are keyed by
// digests of everything that goes into them, written under temporary names
// and renamed into place, and checked when read: a damaged entry is removed
// and made again, never used. The cache only saves time; a failure to read
// or write it never fails a build.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace velmoran::pack {

// $XDG_CACHE_HOME/velmoran, else ~/.cache/velmoran; none when neither is
// set to an absolute path.
std::optional<std::string> defaultCacheFolder();

// The SHA-256 of text, as lowercase hex.
std::string textDigest(const std::string& text);

// The SHA-256, as lowercase hex, of a tree as an archive of it reads it: each
// path below root in name order, whether it is a folder or a file, its mode
// bits, and a file's bytes (a link to a file as that file). Fails when the
// tree cannot be read.
std::string treeDigest(const std::string& root);

// The SHA-256 of a file's bytes, as lowercase hex. Fails when it cannot be read.
std::string fileDigest(const std::string& path);

class BuildCache {
 public:
  // None: a cache that holds nothing and keeps nothing.
  explicit BuildCache(std::optional<std::string> folder) : folder_(std::move(folder)) {}

  // Writes the archive cached under key to out and returns true; false when
  // there is none, or it is damaged (then it is removed).
  bool fetchArchive(const std::string& key, const std::string& out) const;
  // Keeps a copy of the archive file under key.
  void storeArchive(const std::string& key, const std::string& archive) const;

  // A short text kept under kind and key (one line, such as a module list),
  // or none; what it holds is for the caller to judge.
  std::optional<std::string> fetchText(const std::string& kind, const std::string& key) const;
  void storeText(const std::string& kind, const std::string& key, const std::string& text) const;

  // The runtime image cached under key whose tree still has the digest it
  // was stored with; else one that make(folder) writes into a folder that
  // does not exist yet, stored under key when that can be done (otherwise
  // made at fallback). Returns its folder and its tree digest.
  struct Image {
    std::string folder;
    std::string digest;
    bool reused = false;
  };
  Image image(const std::string& key, const std::string& fallback,
              const std::function<void(const std::string&)>& make) const;

 private:
  std::optional<std::string> folder_;
};

}  // namespace velmoran::pack
