#include "launcher/install.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "format/names.h"
#include "install/locations.h"
#include "launcher/jre_setup.h"
#include "splash/splash.h"
#include "util/log.h"
#include "util/paths.h"

namespace velmoran {
namespace {

// The splash image parameter replaces the tail's image before the updater's
// folder is renamed, where the header allows it.
void overrideSplash(const RunSettings& run, const std::string& updaterTemp) {
  if (run.header.canOverrideSplash != "1") return;
  logMessage("[Extractor] Authorised to override the splash image.\n");
  const auto& image = run.params.splashImage;
  if (!image || image->empty()) return;
  const std::string path = setPath(updaterTemp, kSplashImageName);
  logMessage("[Extractor] Overwriting splash image at %s\n", path.c_str());
  FilePtr file = openForWriting(path, installMode(), false);
  if (!file) return;
  const bool written = std::fwrite(image->data(), 1, image->size(), file.get()) == image->size();
  if (std::fclose(file.release()) != 0 || !written) {
    logMessage("[Extractor] Unable to write the splash image %s: %s\n", path.c_str(), std::strerror(errno));
  }
  logChmod777(path);
}

// The updater's entries into its temporary folder; false when one of them
// was refused. The decompressor is made executable right after it is
// written, and the splash override follows the splash image.
Result<bool> extractUpdaterEntries(const InstallRun& run, const std::string& guTemp) {
  const std::string lzma = setPath(guTemp, kDecompressorName);
  logMessage("[Extractor] LZMA path is %s\n", lzma.c_str());
  bool accepted = true;
  for (const TailEntry& entry : run.tail.of(TailComponent::Updater)) {
    const Result<bool> extracted = run.tail.extractNext(lzma, std::nullopt, guTemp);
    if (!extracted.ok()) return extracted.status();
    accepted = *extracted && accepted;
    if (entry.role == TailEntryRole::Decompressor) {
      logMessage("[Extractor] Ensuring LZMA is executable.\n");
      if (setFileMode(lzma, installMode()) != 0) {
        logMessage("[Extractor] ***************************** Error setting LZMA executable!\n");
      }
    } else if (entry.role == TailEntryRole::SplashImage) {
      overrideSplash(run.settings, guTemp);
    }
  }
  logMessage("[Extractor] Extracted GU and GU Version\n");
  return accepted;
}

// Extracts the updater and renames it into place; returns where its files
// are used from from here on.
Result<std::string> extractUpdater(const InstallRun& run, const std::string& guFolder) {
  const RunSettings& s = run.settings;
  const std::optional<std::string> created = createAppTempFolder(s.masterFolder, kUpdaterComponent, s.header.guVersion);
  if (!created) {
    logMessage("[Extractor] GU temp is %s\n",
               makeAppTempFolder(s.masterFolder, kUpdaterComponent, s.header.guVersion).c_str());
    logMessage("[Extractor] Unable to create GU Temp folder - assuming elevation required\n");
    // There is no elevated run on this platform: the run ends here.
    logMessage("[Extractor] Performing elevated setup and launch");
    return Status::failure();
  }
  const std::string& guTemp = *created;
  logMessage("[Extractor] GU temp is %s\n", guTemp.c_str());
  const Result<bool> accepted = extractUpdaterEntries(run, guTemp);
  if (!accepted.ok()) return accepted.status();
  if (*accepted) {
    logMessage("[Extractor] Renaming GU folder to %s\n", guFolder.c_str());
    chmod777(guTemp);
    if (const Status moved = moveIntoPlace(guTemp, guFolder); !moved.ok()) return moved;
    return guFolder;
  }
  // As documented the run disregards the refused updater and goes on to the
  // newest installed one, which can fetch a good copy; nothing of the
  // refused one is put under a final name, and its own files (the
  // decompressor, the splash image) come from that installed updater.
  discardFolder(guTemp);
  const std::optional<std::string> installed = pickAndAllocLatestFromMaster(s.masterFolder, kUpdaterComponent);
  if (!installed) {
    logError("No latest App version even after download!\n");
    return Status::failure();
  }
  logMessage("[Extractor] The updater in the tail was refused; using the installed %s\n", installed->c_str());
  return setPath(s.masterFolder, *installed);
}

Result<UpdaterFiles> installUpdater(const InstallRun& run) {
  const RunSettings& s = run.settings;
  const std::string guFolder = makeAppFolder(s.masterFolder, kUpdaterComponent, s.header.guVersion);
  logMessage("[Extractor] GU folder is %s\n", guFolder.c_str());
  UpdaterFiles files;
  if (isInstalled(guFolder)) {
    const int entries = static_cast<int>(run.tail.of(TailComponent::Updater).size());
    if (const Status kept = keepInstalled(run.tail, guFolder, entries); !kept.ok()) return kept;
    files.folder = guFolder;
  } else {
    Result<std::string> folder = extractUpdater(run, guFolder);
    if (!folder.ok()) return folder.status();
    files.folder = *folder;
  }
  logMessage("[Extractor] Recreating GU location\n");
  files.lzma = setPath(files.folder, kDecompressorName);
  files.cacerts = setPath(files.folder, kCaStoreName);
  logMessage("[Extractor] LZMA path is %s\n", files.lzma.c_str());
  logMessage("[Extractor] CACerts override path is %s\n", files.cacerts.c_str());
  return files;
}

Status installApplication(const InstallRun& run, const UpdaterFiles& updater, const std::string& unpack200) {
  const RunSettings& s = run.settings;
  const TailHeader& h = s.header;
  if (h.appVersion.empty()) {
    logMessage("[Extractor] Online installer - no app to extract\n");
    return Status::success();
  }
  const std::string appFolder = makeAppFolder(s.masterFolder, h.appName, h.appVersion);
  logMessage("[Extractor] Offline installer - app to extract.");
  logMessage("[Extractor] APP folder is %s\n", appFolder.c_str());
  const std::vector<TailEntry> entries = run.tail.of(TailComponent::Application);
  if (isInstalled(appFolder)) return keepInstalled(run.tail, appFolder, static_cast<int>(entries.size()));
  const std::optional<std::string> appTemp = createAppTempFolder(s.masterFolder, h.appName, h.appVersion);
  logMessage("[Extractor] APP temp is %s\n",
             appTemp ? appTemp->c_str() : makeAppTempFolder(s.masterFolder, h.appName, h.appVersion).c_str());
  if (!appTemp) {
    logError("Unable to create App Temp folder\n");
    return Status::failure();
  }
  logMessage("[Extractor] Extracting App...\n");
  bool accepted = true;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Result<bool> extracted = run.tail.extractNext(updater.lzma, unpack200, *appTemp);
    if (!extracted.ok()) return extracted.status();
    accepted = *extracted && accepted;
  }
  if (!accepted) {
    // The updater still starts and can fetch a good copy.
    discardFolder(*appTemp);
    logMessage("[Extractor] The application in the tail was refused; it is not installed\n");
    return Status::success();
  }
  if (const Status moved = moveIntoPlace(*appTemp, appFolder); !moved.ok()) return moved;
  logMessage("[Extractor] Renaming App folder to %s\n", appFolder.c_str());
  return Status::success();
}

void showSplashFrom(const InstallRun& run, const UpdaterFiles& updater) {
  const std::string splashImage = setPath(updater.folder, kSplashImageName);
  logMessage("[Extractor] Native Splash PNG path is %s\n", splashImage.c_str());
  logMessage("[Extractor] Configuring splash\n");
  configureSplash(splashImage);
  logMessage("[Extractor] Showing splash\n");
  if (!run.settings.noUi && !run.invocation.prepareOnly) showSplash();
  setProgress(-1);
}

}  // namespace

Result<std::string> installFromTail(const InstallRun& run) {
  const RunSettings& s = run.settings;
  makeDir(s.masterFolder);
  removeStaleTempFolders(s.masterFolder);
  const Result<UpdaterFiles> updater = installUpdater(run);
  if (!updater.ok()) return updater.status();
  showSplashFrom(run, *updater);

  logMessage("[Extractor] Setting up a JRE\n");
  const Result<std::string> unpack200 = setUpJre(run, *updater);
  if (!unpack200.ok()) return unpack200.status();
  if (const Status installed = installApplication(run, *updater, *unpack200); !installed.ok()) return installed;

  const std::optional<std::string> latest = pickAndAllocLatestFromMaster(s.masterFolder, kUpdaterComponent);
  if (!latest) {
    logError("No latest App version even after download!\n");
    return Status::failure();
  }
  cleanup();
  logMessage("[Extractor] Will now run latest GU %s\n", latest->c_str());
  return *latest;
}

}  // namespace velmoran
