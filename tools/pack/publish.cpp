#include "publish.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "archive/extract.h"
#include "archive/signature.h"
#include "format/names.h"
#include "format/version_file.h"

namespace velmoran::pack {
namespace {

bool isRegularFile(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

uint64_t fileSize(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) fail("cannot read " + path + ": " + std::strerror(errno));
  return static_cast<uint64_t>(st.st_size);
}

ManifestComponent listed(const ReleasePiece& piece) {
  ManifestComponent c;
  c.kind = piece.kind;
  c.name = piece.name;
  c.version = piece.version;
  c.archive = archiveFileName(piece.name, piece.version);
  c.size = fileSize(piece.archive);
  const std::optional<std::string> digest = sha256HexOfFile(piece.archive);
  if (!digest) fail("cannot read " + piece.archive);
  c.sha256 = *digest;
  return c;
}

// The manifest's text as an archive of its one entry, not compressed: the
// launcher reads the entry straight from the file it fetched.
std::string manifestArchive(const Manifest& manifest, Signer* signer, const std::string& work) {
  const std::string text = manifestText(manifest);
  std::string fault;
  if (!parseManifest(text, fault)) fail("the manifest of this release is refused: " + fault);
  const std::string tree = work + "/manifest-tree";
  // An empty tree: the entry comes from memory.
  if (mkdir(tree.c_str(), 0755) != 0 && errno != EEXIST) fail("cannot make " + tree + ": " + std::strerror(errno));
  ArchiveOptions options;
  options.signer = signer;
  options.extraFiles = {{kManifestEntryName, std::vector<unsigned char>(text.begin(), text.end())}};
  const std::string out = work + "/manifest.p2";
  writeArchiveFile({tree, out, std::nullopt, std::move(options), {}, {}});
  return out;
}

// What name holds where marked (a name formed around the mark "\n") has
// it, or none when name is not of that form or holds nothing there.
std::optional<std::string> fieldAtMark(const std::string& name, const std::string& marked) {
  const std::size_t cut = marked.find('\n');
  const std::string prefix = marked.substr(0, cut), suffix = marked.substr(cut + 1);
  if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return std::nullopt;
  }
  return name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
}

// The archives the other applications' manifests in the folder list: the
// updater's and a JRE's archives may be theirs too. None when one of them
// cannot be read, so that nothing is removed on a guess.
std::optional<std::vector<std::string>> listedByOthers(const std::string& folder,
                                                      const std::vector<std::string>& manifests) {
  std::vector<std::string> listed;
  for (const std::string& name : manifests) {
    const std::optional<std::string> text = readArchiveEntry(folder + "/" + name, kManifestEntryName,
                                                             kMaxManifestBytes);
    std::string fault;
    const std::optional<Manifest> manifest = text ? parseManifest(*text, fault) : std::nullopt;
    if (!manifest) {
      std::fprintf(stderr, "note: --prune removes nothing: %s/%s is not a manifest this tool reads\n",
                   folder.c_str(), name.c_str());
      return std::nullopt;
    }
    for (const ManifestComponent& c : manifest->components) listed.push_back(c.archive);
  }
  return listed;
}

}  // namespace

bool isChannelArchiveOf(const std::string& name, const std::string& component) {
  const std::optional<std::string> version = fieldAtMark(name, archiveFileName(component, "\n"));
  return version && isVersionNumber(*version) && archiveFileName(component, *version) == name;
}

StagedChannel stageChannel(const std::string& folder, const Release& release, Signer* signer,
                           const std::string& work, bool prune) {
  struct stat st {};
  if (stat(folder.c_str(), &st) != 0 && mkdir(folder.c_str(), 0755) != 0) {
    fail("cannot make the folder " + folder + ": " + std::strerror(errno));
  }
  StagedChannel staged;
  staged.folder_ = folder;
  staged.prune_ = prune;
  const auto stage = [&staged, &folder](const std::string& name, const std::vector<unsigned char>& bytes) {
    staged.files_.push_back(std::make_unique<AtomicOutput>(folder + "/" + name));
    staged.files_.back()->write(bytes);
    staged.written_.push_back(name);
  };

  Manifest manifest;
  manifest.application = release.appName;
  manifest.required = release.required;
  manifest.rollback = release.rollback;
  for (const ReleasePiece& piece : release.pieces) {
    manifest.components.push_back(listed(piece));
    stage(manifest.components.back().archive, readWholeFile(piece.archive));
    staged.components_.push_back(piece.name);
    staged.listed_.push_back(manifest.components.back().archive);
  }
  // The launcher's own JRE download reads the version file, then the archive it names.
  for (const ReleasePiece& piece : release.pieces) {
    if (piece.kind != ManifestKind::Jre) continue;
    const std::string text = piece.version + "\n";
    stage(versionFileName(piece.name), std::vector<unsigned char>(text.begin(), text.end()));
  }
  stage(manifestFileName(release.appName), readWholeFile(manifestArchive(manifest, signer, work)));
  return staged;
}

void StagedChannel::commit() {
  for (auto& file : files_) file->commit();
  if (!prune_) return;
  DirPtr dir = openDir(folder_.c_str());
  if (!dir) fail("cannot read the folder " + folder_ + ": " + std::strerror(errno));
  std::vector<std::string> old, manifests;
  const std::string ownManifest = written_.back();
  while (const dirent* e = readdir(dir.get())) {
    const std::string name = e->d_name;
    if (name != ownManifest && fieldAtMark(name, manifestFileName("\n")) && isRegularFile(folder_ + "/" + name)) {
      manifests.push_back(name);
    }
    if (std::find(listed_.begin(), listed_.end(), name) != listed_.end()) continue;
    const bool ours = std::any_of(components_.begin(), components_.end(),
                                  [&name](const std::string& c) { return isChannelArchiveOf(name, c); });
    if (ours && isRegularFile(folder_ + "/" + name)) old.push_back(name);
  }
  const std::optional<std::vector<std::string>> theirs = listedByOthers(folder_, manifests);
  if (!theirs) return;
  std::sort(old.begin(), old.end());
  for (const std::string& name : old) {
    if (std::find(theirs->begin(), theirs->end(), name) != theirs->end()) continue;
    if (std::remove((folder_ + "/" + name).c_str()) != 0) {
      fail("cannot remove " + folder_ + "/" + name + ": " + std::strerror(errno));
    }
    pruned_.push_back(name);
  }
}

std::string StagedChannel::names() const {
  std::string text;
  for (std::size_t i = 0; i < written_.size(); ++i) {
    text += (i == 0 ? "" : i + 1 == written_.size() ? " and " : ", ") + written_[i];
  }
  return text;
}

}  // namespace velmoran::pack
