#include "launcher/update.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <vector>

#include "archive/extract.h"
#include "format/manifest.h"
#include "format/names.h"
#include "install/locations.h"
#include "launcher/channel.h"
#include "launcher/install_steps.h"
#include "launcher/jre_setup.h"
#include "net/download.h"
#include "net/update_url.h"
#include "splash/splash.h"
#include "util/file.h"
#include "util/log.h"
#include "util/paths.h"
#include "util/strings.h"

namespace velmoran {
namespace {

// Versions of each component a master folder keeps.
constexpr std::size_t kKeptVersions = 2;

// A component the channel has that is to be installed, and what is
// installed of it now (its newest version folder).
struct Planned {
  ManifestComponent component;
  std::optional<std::string> installed;
  bool rollback = false;
};

// What one check works with.
struct Check {
  const RunSettings& run;
  std::string temporary;  // downloads go here; removed at the end
  DownloadProgress progress;
};

Status refuse(const std::string& record) {
  logError("%s", record.c_str());
  return Status::failure();
}

// <master>/VelmoranUpdateStatus: when the check ran, the newest application
// version the channel has, and whether that release is required (the
// updater reads it at its next start).
void writeStatus(const RunSettings& run, const Manifest& manifest) {
  std::string text = format("checked %lld\n", static_cast<long long>(std::time(nullptr)));
  for (const ManifestComponent& c : manifest.components) {
    if (c.kind != ManifestKind::Application) continue;
    text += "application " + c.version + "\n";
    if (manifest.required) text += "required " + c.version + "\n";
  }
  const std::string path = setPath(run.masterFolder, kUpdateStatusName);
  const std::string part = format("%s.part-%ld", path.c_str(), static_cast<long>(getpid()));
  std::remove(part.c_str());
  FilePtr out = openForWriting(part, installMode() & 0666, true);
  bool written = out && std::fwrite(text.data(), 1, text.size(), out.get()) == text.size();
  written = out && std::fclose(out.release()) == 0 && written;
  if (!written || std::rename(part.c_str(), path.c_str()) != 0) {
    std::remove(part.c_str());
    logMessage("[Update] Unable to write %s\n", path.c_str());
  }
}

// What of the manifest is to be installed: versions newer than the newest
// installed, or older ones when it says rollback. The JRE only when it is
// this file's JRE; the JRE first, so that a new updater or application
// never starts without it.
std::vector<Planned> plan(const RunSettings& run, const Manifest& manifest) {
  std::vector<Planned> planned;
  for (const ManifestKind kind : {ManifestKind::Jre, ManifestKind::Updater, ManifestKind::Application}) {
    for (const ManifestComponent& c : manifest.components) {
      if (c.kind != kind) continue;
      if (kind == ManifestKind::Jre && c.name != run.jreName) {
        logMessage("[Update] The channel's JRE %s is not this file's JRE %s; it is left out\n", c.name.c_str(),
                   run.jreName.c_str());
        continue;
      }
      const std::optional<std::string> installed = pickAndAllocLatestFromMaster(run.masterFolder, c.name);
      const int64_t offered = std::atol(c.version.c_str());
      const int64_t have = installed ? pickVersionFromAppFolderName(*installed) : -1;
      if (offered > have || (offered < have && manifest.rollback)) {
        planned.push_back({c, installed, offered < have});
      } else if (offered < have) {
        logMessage("[Update] %s %s is older than the installed %s, and the manifest does not say rollback; "
                   "refused\n",
                   c.name.c_str(), c.version.c_str(), installed->c_str());
      }
    }
  }
  return planned;
}

// The line on standard output that says what was installed.
void announce(const RunSettings& run, const Planned& p) {
  const std::string from =
      p.installed ? format("%011lld", static_cast<long long>(pickVersionFromAppFolderName(*p.installed))) : "none";
  const std::string& app = run.header.appName;
  const std::string& to = p.component.version;
  std::string line;
  switch (p.component.kind) {
    case ManifestKind::Application: line = "Updated " + app + " " + from + " -> " + to; break;
    case ManifestKind::Updater: line = "Updated the updater of " + app + " " + from + " -> " + to; break;
    case ManifestKind::Jre: line = "Updated the JRE of " + app + " " + from + " -> " + to; break;
  }
  logMessage("[Update] %s\n", line.c_str());
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

// One component downloaded, extracted and renamed into its version folder.
Status install(const Check& check, const Planned& p, const std::optional<std::string>& unpack200) {
  const RunSettings& run = check.run;
  const ManifestComponent& c = p.component;
  const Result<std::string> archive = downloadListedArchive(run, check.temporary, c, check.progress);
  if (!archive.ok()) return archive.status();
  const Result<std::string> folder = newTemporaryFolder(run.masterFolder);
  if (!folder.ok()) return folder.status();
  const Result<bool> accepted = extractCompressedArchiveFile(unpack200, *archive, *folder, run.key.get());
  std::remove(archive->c_str());
  if (!accepted.ok() || !*accepted) {
    discardFolder(*folder);
    return accepted.ok() ? refuse("[Update] The archive " + c.archive + " was refused\n") : accepted.status();
  }
  const std::string versionFolder = makeAppFolder(run.masterFolder, c.name, c.version);
  if (c.kind == ManifestKind::Jre) {
    const std::optional<std::string> updater = pickAndAllocLatestFromMaster(run.masterFolder, kUpdaterComponent);
    const std::string caStore = updater ? setPath(run.masterFolder, *updater, kCaStoreName) : "";
    if (const Status placed = placeJre(*folder, versionFolder, caStore); !placed.ok()) return placed;
  } else if (const Status moved = moveIntoPlace(*folder, versionFolder); !moved.ok()) {
    return moved;
  }
  announce(run, p);
  if (p.rollback) removeVersions(run.masterFolder, c.name, kKeptVersions, std::atol(c.version.c_str()));
  return Status::success();
}

// The splash, when the run shows one, with the updater's image.
void showProgress(const RunSettings& run) {
  const std::optional<std::string> updater = pickAndAllocLatestFromMaster(run.masterFolder, kUpdaterComponent);
  if (updater) configureSplash(setPath(run.masterFolder, *updater, kSplashImageName));
  showSplash();
  setProgress(-1);
}

Status installAll(const Check& check, const Manifest& manifest) {
  const RunSettings& run = check.run;
  const std::optional<std::string> jre = pickAndAllocLatestFromMaster(run.masterFolder, run.jreName);
  std::optional<std::string> unpack200;
  if (jre) unpack200 = setPath(run.masterFolder, *jre, "bin/unpack200");
  for (const Planned& p : plan(run, manifest)) {
    if (const Status installed = install(check, p, unpack200); !installed.ok()) return installed;
  }
  for (const std::string& component : {std::string(kUpdaterComponent), run.header.appName, run.jreName}) {
    removeVersions(run.masterFolder, component, kKeptVersions);
  }
  return Status::success();
}

}  // namespace

Status checkForUpdates(const Invocation&, const RunSettings& run, bool showsProgress) {
  if (isInvalidUpdateURL(run.chosenUpdateUrl)) {
    logMessage("[Update] No update server: nothing to check\n");
    return Status::success();
  }
  UniqueFd turn;
  takeInstallTurn(run.masterFolder, turn);
  removeStaleTempFolders(run.masterFolder);
  const Result<std::string> temporary = newTemporaryFolder(run.masterFolder);
  if (!temporary.ok()) return temporary.status();
  const bool ui = showsProgress && !run.noUi;
  if (ui) showProgress(run);
  const Check check{run, *temporary, ui ? setProgress : nullptr};
  const Result<std::optional<Manifest>> manifest = fetchManifest(run, check.temporary, check.progress);
  Status status = manifest.status();
  if (manifest.ok() && !*manifest) {
    logError("[Update] No manifest could be fetched from %s\n", run.chosenUpdateUrl.c_str());
    status = Status::failure();
  } else if (manifest.ok()) {
    writeStatus(run, **manifest);
    status = installAll(check, **manifest);
  }
  discardFolder(*temporary);
  if (ui) cleanup();
  return status;
}

}  // namespace velmoran
