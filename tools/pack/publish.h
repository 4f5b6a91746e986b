// The update channel in a folder, as app --publish writes it: the archives
// of one release, the JRE's version file (for the launcher's own JRE
// download) and the signed manifest that lists the archives. Copied to the
// update URL, it is what installed launchers check for updates.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive_writer.h"
#include "cli.h"
#include "format/manifest.h"

namespace velmoran::pack {

// One component of the release: the archive file the builder made for it.
struct ReleasePiece {
  ManifestKind kind;
  std::string name;     // its component name
  std::string version;  // 11 digits
  std::string archive;  // the archive file, the same bytes the launcher file carries
};

struct Release {
  std::string appName;
  bool required = false;
  bool rollback = false;
  std::vector<ReleasePiece> pieces;  // at most one of each kind; the JRE's gets a version file
};

// The channel's files, written under temporary names in the folder until
// commit() puts them in place: the archives first, then the JRE's version
// file, the manifest last, so a server copied from the folder never offers
// an archive it does not hold yet. With prune, commit() then removes the
// older archives of the channel's components that neither this manifest
// nor another application's in the folder lists (several applications may
// share a folder, and with it the updater's and a JRE's archives); no other
// file in the folder is touched.
class StagedChannel {
 public:
  void commit();
  // The files written, for the summary.
  std::string names() const;
  // The archives commit() removed.
  const std::vector<std::string>& pruned() const { return pruned_; }

 private:
  friend StagedChannel stageChannel(const std::string&, const Release&, Signer*, const std::string&, bool);
  std::string folder_;
  std::vector<std::string> components_;  // whose archives prune may remove
  std::vector<std::string> listed_;      // the archives the manifest lists
  std::vector<std::string> written_;     // the names of the files, in commit order
  std::vector<std::unique_ptr<AtomicOutput>> files_;
  bool prune_ = false;
  std::vector<std::string> pruned_;
};

// Stages the release in folder (made when missing): each piece's archive
// under its channel name, the JRE's version file, and the manifest as an
// archive of its one entry, signed with signer (none: not signed). work is
// a folder for the manifest's archive on its way.
StagedChannel stageChannel(const std::string& folder, const Release& release, Signer* signer,
                           const std::string& work, bool prune);

// Whether name is the channel archive of one version of component, as
// archiveFileName spells it.
bool isChannelArchiveOf(const std::string& name, const std::string& component);

}  // namespace velmoran::pack
