// Steps shared by the installs of the updater, the JRE and the application:
// the tail's entries taken in the order of its plan, the temporary folders,
// and the rename into place.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "archive/signature.h"
#include "format/tail_plan.h"
#include "launcher/entry.h"
#include "launcher/settings.h"
#include "util/file.h"
#include "util/status.h"

namespace velmoran {

class TailEntries;

// What the install stage works with: how the launcher was started, the
// run's settings, and the tail's entries still to read.
struct InstallRun {
  const Invocation& invocation;
  const RunSettings& settings;
  TailEntries& tail;
};

// Where the updater's own files are used from during an install: its
// version folder once it is in place.
struct UpdaterFiles {
  std::string folder;
  std::string lzma;     // the LZMA decompressor
  std::string cacerts;  // the CA store that replaces a JRE's
};

// The tail's entries, read forward only, one by one as the plan lists them.
class TailEntries {
 public:
  TailEntries(FilePtr stream, std::vector<TailEntry> plan, std::string launcherPath, const rsa_key* key)
      : stream_(std::move(stream)), plan_(std::move(plan)), launcherPath_(std::move(launcherPath)), key_(key) {}

  // The plan's entries of one component, in file order.
  std::vector<TailEntry> of(TailComponent component) const { return entriesOf(plan_, component); }

  // Extracts the next entry into destination. False when it held an archive
  // whose signature was refused (destination is then emptied). An entry that
  // is not there, or cannot be extracted, is a failure.
  Result<bool> extractNext(const std::string& lzma, const std::optional<std::string>& unpack200,
                           const std::string& destination);
  // Reads past the next entry without extracting it; one that is not there
  // whole is a failure.
  Status skipNext();
  // The stream is closed before the hand-over.
  void close() { stream_.reset(); }

 private:
  Status requireNext();

  FilePtr stream_;
  std::vector<TailEntry> plan_;
  std::string launcherPath_;
  const rsa_key* key_;
};

// Keeps an installed version of a component, with a record, and reads past
// its tail entries (this many; 0 for one that did not come from the tail):
// its folder is not written.
Status keepInstalled(TailEntries& tail, const std::string& versionFolder, int entries);

// Renames a finished temporary folder onto its version folder. When the
// rename falls back to a copy that fails too, that is a failure: nothing
// partial may stand under a final name. When the version folder is there
// already, it is kept and the temporary folder goes.
Status moveIntoPlace(const std::string& temporary, const std::string& versionFolder);

// Runs for one application take turns at installing (the lock on the master
// folder, held through turn until the process ends): a second run started
// meanwhile waits, and then finds the first one's install in place. True
// when it waited; where no lock can be taken the run goes on without.
bool takeInstallTurn(const std::string& masterFolder, UniqueFd& turn);

// Removes a temporary folder whose content must not be installed.
void discardFolder(const std::string& folder);

// A fresh temporary folder in the master folder; a failure when none can be made.
Result<std::string> newTemporaryFolder(const std::string& masterFolder);

}  // namespace velmoran
