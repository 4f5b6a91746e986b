#include "launcher/install_flow.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "archive/extract.h"
#include "install/fileops.h"
#include "install/locations.h"
#include "launcher/entry.h"
#include "launcher/jre_setup.h"
#include "splash/splash.h"
#include "util/exit.h"
#include "util/log.h"
#include "util/paths.h"

namespace velmoran {
namespace {

int64_t versionOf(const std::string& folderName) { return pickVersionFromAppFolderName(folderName); }

// Which installed folders the decision found, and why it chose what it chose.
struct Decision {
  std::optional<std::string> latestUpdater;
  std::optional<std::string> latestJre;
  std::optional<std::string> reason;  // none: just run
};

Decision decide(const TailRun& run) {
  const TailHeader& h = run.header;
  Decision d;
  logMessage("[Extractor] Checking for a latest valid GU\n");
  d.latestUpdater = pickAndAllocLatestFromMaster(run.masterFolder, kUpdaterComponent);
  d.latestJre = pickAndAllocLatestFromMaster(run.masterFolder, run.jreName);
  if (!d.latestUpdater || !d.latestJre) {
    d.reason = "[Extractor] No latest GU or JRE version exists, will check tail for online/offline info\n";
    return d;
  }
  logMessage("[Extractor] Latest GU version exists: %s\n", d.latestUpdater->c_str());
  logMessage("[Extractor] Existing JRE exists: %s\n", d.latestJre->c_str());
  if (run.hasGu && std::atol(h.guVersion.c_str()) > versionOf(*d.latestUpdater)) {
    d.reason = "[Extractor] Our GU version is newer than existing latest version so will extract and run\n";
    return d;
  }
  logMessage("[Extractor] Latest GUversion is newer or same as our version so will just run\n");
  if (!run.hasGu || h.appVersion.empty()) return d;
  const std::optional<std::string> latestApp = pickAndAllocLatestFromMaster(run.masterFolder, h.appName);
  if (!latestApp) {
    d.reason = "[Extractor] No app version found and we are offline so will extract\n";
  } else if (std::atol(h.appVersion.c_str()) > versionOf(*latestApp)) {
    d.reason = "[Extractor] Our App version is newer than existing latest version so will extract and run\n";
  } else {
    logMessage("[Extractor] Latest App version is newer or same as our version so will just run\n");
  }
  return d;
}

// Runs for one application take turns at installing: a second launcher
// started meanwhile waits for the first one's install, and then finds it in
// place, instead of extracting the same versions beside it and copying them
// over folders the first run has started from. The lock on the master folder
// goes with the process (its descriptor is not inherited by what it starts);
// where none can be taken the run goes on without. True when it waited.
bool takeInstallTurn(TailRun& run) {
  UniqueFd master(open(run.masterFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!master) return false;
  bool waited = false;
  if (flock(master.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) return false;
    logMessage("[Extractor] Another run is installing into %s; waiting for it to finish\n",
               run.masterFolder.c_str());
    waited = true;
    int locked = 0;
    while ((locked = flock(master.get(), LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (locked != 0) return true;
  }
  run.installTurn = std::move(master);
  return waited;
}

// A tail entry that is there, or the run ends: entries are taken by
// position, so one that the header promises must be there, or every later one
// would be missing or misread.
void requireNextEntry(const TailRun& run) {
  FILE* tail = run.tailStream.get();
  const int next = std::getc(tail);
  if (next == EOF || next == '\0') {
    logError("[Extractor] The launcher file %s is cut short or damaged: its tail ends where an entry should "
             "start; refusing to install from it\n",
             run.launcherPath.c_str());
    endRun(1);
  }
  std::ungetc(next, tail);
}

// The splash image parameter replaces the tail's image before the updater's
// folder is renamed, where the header allows it.
void overrideSplash(const TailRun& run, const std::string& updaterTemp) {
  if (run.header.canOverrideSplash != "1") return;
  logMessage("[Extractor] Authorised to override the splash image.\n");
  const auto& image = run.params.splashImage;
  if (!image || image->empty()) return;
  const std::string path = setPath(updaterTemp, "nativesplash.png");
  logMessage("[Extractor] Overwriting splash image at %s\n", path.c_str());
  FilePtr file = openForWriting(path, installMode(), false);
  if (!file) return;
  const bool written = std::fwrite(image->data(), 1, image->size(), file.get()) == image->size();
  if (std::fclose(file.release()) != 0 || !written) {
    logMessage("[Extractor] Unable to write the splash image %s: %s\n", path.c_str(), std::strerror(errno));
  }
  logChmod777(path);
}

// The updater's five tail entries: the decompressor, the splash image, its
// archive, its version file and the CA store.
constexpr int kUpdaterEntries = 5;
constexpr int kApplicationEntries = 2;

// Extracts the updater (tail entries 1 to 5) and renames it into place.
// Returns where its files are used from from here on.
UpdaterFiles extractUpdater(TailRun& run, const std::string& guFolder) {
  const std::optional<std::string> created =
      createAppTempFolder(run.masterFolder, kUpdaterComponent, run.header.guVersion);
  if (!created) {
    logMessage("[Extractor] GU temp is %s\n",
               makeAppTempFolder(run.masterFolder, kUpdaterComponent, run.header.guVersion).c_str());
    logMessage("[Extractor] Unable to create GU Temp folder - assuming elevation required\n");
    logMessage("[Extractor] Performing elevated setup and launch");
    // The elevated run installs in this one's stead and must get the turn.
    run.installTurn.reset();
    doElevatedSetupAndLaunch(run.header.appName, run.fullArgc, run.fullArgv, run.noUi);
  }
  const std::string& guTemp = *created;
  logMessage("[Extractor] GU temp is %s\n", guTemp.c_str());

  std::string lzma = setPath(guTemp, "lzma64");
  logMessage("[Extractor] LZMA path is %s\n", lzma.c_str());
  bool accepted = extractTailEntry(run, lzma, std::nullopt, guTemp);
  logMessage("[Extractor] Ensuring LZMA is executable.\n");
  if (setFileMode(lzma, installMode()) != 0) {
    logMessage("[Extractor] ***************************** Error setting LZMA executable!\n");
  }
  accepted = extractTailEntry(run, lzma, std::nullopt, guTemp) && accepted;
  overrideSplash(run, guTemp);
  for (int entry = 3; entry <= kUpdaterEntries; ++entry) {
    accepted = extractTailEntry(run, lzma, std::nullopt, guTemp) && accepted;
  }
  logMessage("[Extractor] Extracted GU and GU Version\n");

  if (accepted) {
    logMessage("[Extractor] Renaming GU folder to %s\n", guFolder.c_str());
    chmod777(guTemp);
    moveIntoPlace(guTemp, guFolder);
    return UpdaterFiles{guFolder};
  }
  // As documented the run disregards the refused updater and goes on to the
  // newest installed one, which can fetch a good copy; nothing of the
  // refused one is put under a final name, and its own files (the
  // decompressor, the splash image) come from that installed updater.
  discardFolder(guTemp);
  const std::optional<std::string> installed = pickAndAllocLatestFromMaster(run.masterFolder, kUpdaterComponent);
  if (!installed) {
    logError("No latest App version even after download!\n");
    endRun(1);
  }
  logMessage("[Extractor] The updater in the tail was refused; using the installed %s\n", installed->c_str());
  return UpdaterFiles{setPath(run.masterFolder, *installed)};
}

UpdaterFiles installUpdater(TailRun& run) {
  const std::string guFolder = makeAppFolder(run.masterFolder, kUpdaterComponent, run.header.guVersion);
  logMessage("[Extractor] GU folder is %s\n", guFolder.c_str());
  UpdaterFiles files;
  if (isInstalled(guFolder)) {
    keepInstalled(run, guFolder, kUpdaterEntries);
    files.folder = guFolder;
  } else {
    files = extractUpdater(run, guFolder);
  }
  logMessage("[Extractor] Recreating GU location\n");
  files.lzma = setPath(files.folder, "lzma64");
  files.cacerts = setPath(files.folder, "cacerts");
  logMessage("[Extractor] LZMA path is %s\n", files.lzma.c_str());
  logMessage("[Extractor] CACerts override path is %s\n", files.cacerts.c_str());
  return files;
}

void installApplication(TailRun& run, const UpdaterFiles& updater, const std::string& unpack200) {
  const TailHeader& h = run.header;
  if (h.appVersion.empty()) {
    logMessage("[Extractor] Online installer - no app to extract\n");
    return;
  }
  const std::string appFolder = makeAppFolder(run.masterFolder, h.appName, h.appVersion);
  logMessage("[Extractor] Offline installer - app to extract.");
  logMessage("[Extractor] APP folder is %s\n", appFolder.c_str());
  if (isInstalled(appFolder)) {
    keepInstalled(run, appFolder, kApplicationEntries);
    return;
  }
  const std::optional<std::string> appTemp = createAppTempFolder(run.masterFolder, h.appName, h.appVersion);
  logMessage("[Extractor] APP temp is %s\n",
             appTemp ? appTemp->c_str() : makeAppTempFolder(run.masterFolder, h.appName, h.appVersion).c_str());
  if (!appTemp) {
    logError("Unable to create App Temp folder\n");
    endRun(1);
  }
  logMessage("[Extractor] Extracting App...\n");
  bool accepted = true;
  for (int entry = 0; entry < kApplicationEntries; ++entry) {
    accepted = extractTailEntry(run, updater.lzma, unpack200, *appTemp) && accepted;
  }
  if (!accepted) {
    // The updater still starts and can fetch a good copy.
    discardFolder(*appTemp);
    logMessage("[Extractor] The application in the tail was refused; it is not installed\n");
    return;
  }
  moveIntoPlace(*appTemp, appFolder);
  logMessage("[Extractor] Renaming App folder to %s\n", appFolder.c_str());
}

[[noreturn]] void extractAndRun(TailRun& run, const Decision& d) {
  logMessage("%s", d.reason->c_str());
  logMessage(d.latestJre ? "[Extractor] Note: Latest JRE version does exist\n"
                         : "[Extractor] Note: No latest JRE version exists\n");
  logMessage(d.latestUpdater ? "[Extractor] Note: Latest GU version does exist\n"
                             : "[Extractor] Note: No latest GU version exists\n");
  if (!run.hasGu) {
    logMessage("[Extractor] Unable to run (we are just a launcher)\n");
    endRun(1);
  }
  makeDir(run.masterFolder);
  removeStaleTempFolders(run.masterFolder);
  const UpdaterFiles updater = installUpdater(run);

  const std::string splashImage = setPath(updater.folder, "nativesplash.png");
  logMessage("[Extractor] Native Splash PNG path is %s\n", splashImage.c_str());
  logMessage("[Extractor] Configuring splash\n");
  configureSplash(splashImage);
  logMessage("[Extractor] Showing splash\n");
  if (!run.noUi && !run.prepareOnly) showSplash();
  setProgress(-1);

  logMessage("[Extractor] Setting up a JRE\n");
  const std::string unpack200 = setUpJre(run, updater);
  installApplication(run, updater, unpack200);

  const std::optional<std::string> latest = pickAndAllocLatestFromMaster(run.masterFolder, kUpdaterComponent);
  if (!latest) {
    logError("No latest App version even after download!\n");
    endRun(1);
  }
  cleanup();
  logMessage("[Extractor] Will now run latest GU %s\n", latest->c_str());
  handOver(run, *latest);
}

}  // namespace

bool isVersionNumber(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool extractTailEntry(TailRun& run, const std::string& lzma, const std::optional<std::string>& unpack200,
                      const std::string& destination) {
  requireNextEntry(run);
  return extractArchiveFileIgnoreSignature(lzma, unpack200, destination, run.tailStream.get(), run.key.get());
}

void skipTailEntry(TailRun& run) {
  requireNextEntry(run);
  if (skipArchiveEntry(run.tailStream.get())) return;
  logError("[Extractor] The launcher file %s is cut short or damaged: an entry of its tail ends early; refusing "
           "to install from it\n",
           run.launcherPath.c_str());
  endRun(1);
}

// A component whose version is installed already is not extracted again:
// its entries are read past, and its folder stays as it is.
void keepInstalled(TailRun& run, const std::string& versionFolder, int entries) {
  const std::string name = versionFolder.substr(versionFolder.rfind('/') + 1);
  logMessage("[Extractor] %s is installed already; keeping it\n", name.c_str());
  for (int i = 0; i < entries; ++i) skipTailEntry(run);
}

void moveIntoPlace(const std::string& temporary, const std::string& versionFolder) {
  switch (doRename(temporary, versionFolder)) {
    case RenameOutcome::Renamed:
    case RenameOutcome::Copied:
      return;
    case RenameOutcome::AlreadyThere:
      // Only a run that did not take its turn gets here: what stands there
      // is a whole install of the same version, and nothing is written into it.
      discardFolder(temporary);
      return;
    case RenameOutcome::Failed:
      break;
  }
  logError("[Extractor] Unable to put %s in place as %s; the install is not complete\n", temporary.c_str(),
           versionFolder.c_str());
  endRun(1);
}

void discardFolder(const std::string& folder) {
  deleteFolder(folder);
  rmdir(folder.c_str());
}

std::string newTemporaryFolder(const TailRun& run) {
  std::optional<std::string> folder = createAppTempFolder(run.masterFolder, "", "");
  if (!folder) {
    logError("[Extractor] Unable to create a temporary folder in %s: %s\n", run.masterFolder.c_str(),
             std::strerror(errno));
    endRun(1);
  }
  return *folder;
}

void decideAndInstall(TailRun& run) {
  Decision d = decide(run);
  // What another run installed while this one waited may be all it needs.
  if (d.reason && takeInstallTurn(run)) d = decide(run);
  if (d.reason) extractAndRun(run, d);
  logMessage("[Extractor] Running without extraction now\n");
  handOver(run, *d.latestUpdater);
}

}  // namespace velmoran
