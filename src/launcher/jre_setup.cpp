#include "launcher/jre_setup.h"

#include <unistd.h>

#include <vector>

#include "archive/extract.h"
#include "archive/signature_check.h"
#include "install/fileops.h"
#include "install/locations.h"
#include "launch/jre.h"
#include "launch/launch.h"
#include "launch/spawner.h"
#include "launcher/version_file.h"
#include "net/download.h"
#include "splash/splash.h"
#include "util/exit.h"
#include "util/file.h"
#include "util/log.h"
#include "util/paths.h"

namespace velmoran {
namespace {

constexpr const char* kOfflineSection = "Extracting Offline JRE";
constexpr const char* kOnlineSection = "Setting up online JRE";
constexpr const char* kAdoptedVersion = "00000000000";
// Longer chains are taken for a loop: the candidate is then no JRE.
constexpr int kMaxLinksFollowed = 40;

void regenerateClassDataArchive(const std::string& jreFolder) {
  SpawnerPtr spawner = createSpawner();
  setSpawnerExe(*spawner, getJavaExecutable(jreFolder));
  addSpawnerArg(*spawner, "-Xshare:dump");
  runSpawnerAndWait(*spawner);
  deleteSpawner(spawner);
}

// Renames the finished JRE into place, gives it the updater's CA store and
// opens up its modes; returns its unpack200.
std::string finishJre(const std::string& section, const std::string& temporary, const std::string& versionFolder,
                      const UpdaterFiles& updater) {
  logEndSection(section.c_str());
  moveIntoPlace(temporary, versionFolder);
  logMessage("[Extractor] Renamed JRE folder to %s\n", versionFolder.c_str());
  logMessage("[Extractor] JRE setup. Overriding cacerts.\n");
  overrideCACerts(updater.cacerts, versionFolder);
  chmod777(versionFolder);
  logMessage("[Extractor] Ensuring JRE bin is writable.\n");
  chmod777(setPath(versionFolder, "bin"));
  const std::string unpack200 = getUnpack200Executable(versionFolder);
  logMessage("[Extractor] UP200 path is %s\n", unpack200.c_str());
  return unpack200;
}

// A refused JRE archive leaves no JRE folder under a final name. The run can
// go on only with a JRE that is installed already.
std::string keepInstalledJre(const TailRun& run, const std::string& temporary) {
  discardFolder(temporary);
  const std::optional<std::string> installed = pickAndAllocLatestFromMaster(run.masterFolder, run.jreName);
  if (!installed) {
    logError("[Extractor] The JRE archive was refused and no JRE is installed; cannot run\n");
    endRun(1);
  }
  logMessage("[Extractor] The JRE archive was refused; keeping the installed %s\n", installed->c_str());
  const std::string unpack200 = getUnpack200Executable(setPath(run.masterFolder, *installed));
  logMessage("[Extractor] UP200 path is %s\n", unpack200.c_str());
  return unpack200;
}

std::string setUpOfflineJre(TailRun& run, const UpdaterFiles& updater) {
  logStartSection(kOfflineSection);
  logMessage("[Extractor] We want to query the JRE version to enable proxy detection.\n");
  downloadVersionFile(updater.folder, run.chosenUpdateUrl, run.jreName);
  const std::string temporary = newTemporaryFolder(run);
  const std::string versionFolder = makeAppFolder(run.masterFolder, run.jreName, run.header.jreVersion);
  logMessage("[Extractor] Offline installer - no need to download JRE, will extract\n");
  const std::string unpack200 = getUnpack200Executable(temporary);
  logMessage("[Extractor] UP200 path is %s\n", unpack200.c_str());
  logMessage("[Extractor] Extracting JRE archive...\n");
  if (!extractTailEntry(run, updater.lzma, unpack200, temporary)) {
    logEndSection(kOfflineSection);
    return keepInstalledJre(run, temporary);
  }
  logMessage("[Extractor] Extracted JRE %s\n", run.jreName.c_str());
  logMessage("[Extractor] Regenerating jsa...\n");
  regenerateClassDataArchive(temporary);
  return finishJre(kOfflineSection, temporary, versionFolder, updater);
}

// A relative link target counts from the link's own folder.
std::string resolveLink(const std::string& link, const std::string& target) {
  if (!target.empty() && target.front() == '/') return target;
  const std::size_t slash = link.rfind('/');
  return slash == std::string::npos ? target : link.substr(0, slash + 1) + target;
}

// The system's java as "which java" finds it, with its links followed; none
// when there is none or the links do not end.
std::optional<std::string> systemJava(const TailRun& run) {
  std::optional<std::string> out = runCommandGetOutput("sh -c \"which java\"");
  if (run.params.autotest) {
    out = "/opt/JRE_VLAutoTest/bin/java";
    logMessage("AutoTesting - will fake possible jave exe to '%s'\n", out->c_str());
  } else if (!out) {
    return std::nullopt;
  }
  logMessage("[JRESearch] 'which java' returned '%s'\n", out->c_str());
  std::vector<char> target(kMaxPathLength + 1);
  for (int followed = 0;; ++followed) {
    const ssize_t length = readlink(out->c_str(), target.data(), target.size());
    if (length < 0) break;
    if (static_cast<std::size_t>(length) >= target.size() || followed == kMaxLinksFollowed) {
      logMessage("[JRESearch] %s leads through more than %d links; taking it for no JRE\n", out->c_str(),
                 kMaxLinksFollowed);
      return std::nullopt;
    }
    const std::string content(target.data(), static_cast<std::size_t>(length));
    logMessage("[JRESearch] Followed link %s -> %s\n", out->c_str(), content.c_str());
    out = resolveLink(*out, content);
  }
  return out;
}

// The JRE home of a java path: everything before the last "bin", without a final "/".
std::string jreHomeOf(std::string java) {
  logMessage("[JRESearch] Searching for 'bin' occurrence\n");
  const std::size_t bin = java.rfind("bin");
  logMessage("[JRESearch] Done searching for 'bin'\n");
  if (bin != std::string::npos) {
    java.resize(bin);
    logMessage("[JRESearch] Trimmed possibleJavaExe is %s\n", java.c_str());
    if (!java.empty() && java.back() == '/') {
      java.pop_back();
      logMessage("[JRESearch] Removed final slash: possibleJavaExe is %s\n", java.c_str());
    }
  }
  logMessage("[JRESearch] Final possibleJavaExe is %s\n", java.c_str());
  return java;
}

// Tests the system JRE and copies it into a temporary folder when it
// qualifies; returns that folder, or none to go on to the download.
std::optional<std::string> adoptSystemJre(TailRun& run) {
  const std::optional<std::string> java = systemJava(run);
  if (!java) return std::nullopt;
  const std::string home = jreHomeOf(*java);
  const std::string javaPath = setPath(home, "bin", "java");
  logMessage("[JRESearch] Looking at JRE %s\n", javaPath.c_str());
  if (!doesFileExist(javaPath) || !doesFileExist(setPath(home, "bin", "unpack200")) ||
      !jreMatchesVersionRequirement(javaPath, run.header.requiredJavaVersion)) {
    logMessage("[JRESearch] JRE does not exist or does not have unpack200\n");
    return std::nullopt;
  }
  logMessage("[JRESearch] JRE unpack200 exists %s\n", javaPath.c_str());
  const std::optional<std::string> updater = pickAndAllocLatestFromMaster(run.masterFolder, "Velmoran");
  if (!updater) {
    logMessage("[JRESearch] ****************************** No latest App version even after download!\n");
    endRun(1);
  }
  if (!checkAppJreCompatibility(run.masterFolder, run.properties, run.userArgc, run.userArgv, *updater,
                                run.staticUpdateUrl, run.dynamicUpdateUrl, javaPath, run.absolutePath)) {
    logMessage("[JRESearch] JRE failed compatibility test\n");
    return std::nullopt;
  }
  logMessage("[JRESearch] JRE is valid, copying...\n");
  const std::string temporary = newTemporaryFolder(run);
  // The copy is made in-process (no shell, so quotes in paths are plain
  // characters); the records keep the command lines it stands for.
  logMessage("[JRESearch] Running cp -Lrf \"%s\" \"%s\"\n", home.c_str(), temporary.c_str());
  if (copyFolderFollowingLinks(home, temporary) != 0) {
    logMessage("[JRESearch] The system JRE could not be copied whole\n");
    discardFolder(temporary);
    return std::nullopt;
  }
  const std::string bin = setPath(temporary, "bin");
  logMessage("[JRESearch] Running chmod -R 755 \"%s\"\n", bin.c_str());
  chmodR755(bin);
  return temporary;
}

// The splash shows while a download runs.
bool download(const TailRun& run, const std::string& url, const std::string& destination, DownloadKind kind) {
  const bool ui = !run.noUi && !run.prepareOnly;
  if (ui) showSplash();
  if (!downloadFile(url, destination, kind)) {
    if (ui) hideSplash();
    return false;
  }
  setProgress(-1);
  return true;
}

// Ends a run whose downloaded JRE cannot be installed. Its temporary folder
// goes too: no later run would ever remove what it holds (up to a whole JRE).
[[noreturn]] void giveUpOnDownloadedJre(const std::string& temporary, const char* message) {
  logError("%s", message);
  discardFolder(temporary);
  endRun(1);
}

std::string downloadJre(TailRun& run, const UpdaterFiles& updater) {
  logMessage("[JREDownload] Failed to pick up any existing system JRE, will download\n");
  const std::string versionName = "Velmoran-" + run.jreName + "-version.txt";
  const std::string localVersionFile = setPath(updater.folder, versionName);
  const std::string versionUrl = run.chosenUpdateUrl + versionName;
  logMessage("[JREDownload] Fetching JRE Version from %s\n", versionUrl.c_str());
  if (!download(run, versionUrl, localVersionFile, DownloadKind::VersionFile)) {
    logError("[JREDownload] Failed to download JRE version file\n");
    endRun(1);
  }
  logMessage("[JREDownload] JRE version downloaded OK [%s]\n", localVersionFile.c_str());
  const std::string version = readDownloadedVersion(localVersionFile);

  const std::string temporary = newTemporaryFolder(run);
  const std::string archive = setPath(temporary, "JREArchive.p2.l2");
  const std::string decompressed = setPath(temporary, "JREArchive.p2");
  const std::string archiveUrl = run.chosenUpdateUrl + "Velmoran-" + run.jreName + "-" + version + "-archive.p2.l2";
  logMessage("[JREDownload] Downloading JRE\n");
  if (!download(run, archiveUrl, archive, DownloadKind::Archive)) {
    giveUpOnDownloadedJre(temporary, "[JREDownload] Failed to download JRE\n");
  }
  logMessage("[JREDownload] JRE Downloaded OK, will extract\n");

  // Made executable where it is run from: a rename of the updater onto an
  // installed one (a run after one that got no JRE) falls back to a copy,
  // whose files get the copies' mode.
  if (setFileMode(updater.lzma, installMode()) != 0) {
    logMessage("[Extractor] ***************************** Error setting LZMA executable!\n");
  }
  SpawnerPtr spawner = createSpawner();
  setSpawnerExe(*spawner, updater.lzma);
  addSpawnerArg(*spawner, "d");
  addSpawnerArg(*spawner, archive);
  addSpawnerArg(*spawner, decompressed);
  logMessage("[JREDownload] Decompressing JRE archive\n");
  const int decompressedStatus = runSpawnerAndWait(*spawner);
  deleteSpawner(spawner);
  std::remove(archive.c_str());
  if (decompressedStatus != 0) giveUpOnDownloadedJre(temporary, "[JREDownload] Failed to decompress JRE archive\n");
  // It came over plain HTTP: with a key, nothing of it runs (its unpack200
  // on its pack200 entries) or is extracted before its signature holds.
  if (run.key && !verifyArchiveFile(decompressed, run.key.get())) {
    giveUpOnDownloadedJre(
        temporary, "[JREDownload] The downloaded JRE archive is not signed with the launcher's key; refusing it\n");
  }
  const std::string unpack200 = getUnpack200Executable(temporary);
  logMessage("[JREDownload] Extracting JRE archive to %s\n", temporary.c_str());
  if (!extractArchive(unpack200, decompressed, temporary, run.key.get())) {
    giveUpOnDownloadedJre(temporary, "[JREDownload] The downloaded JRE archive was refused\n");
  }
  logMessage("[JREDownload] Done extracting JRE archive\n");
  logMessage("[JREDownload] Regenerating jsa...\n");
  regenerateClassDataArchive(temporary);
  logMessage("[JREDownload] Downloaded JRE is now ready.\n");
  if (version.empty()) {
    giveUpOnDownloadedJre(temporary, "[JREDownload] Failed to detect or download a JRE (no jre version)\n");
  }
  logMessage("[JREDownload] Finalising setup of new JRE %s\n", version.c_str());
  return finishJre(kOnlineSection, temporary, makeAppFolder(run.masterFolder, run.jreName, version), updater);
}

}  // namespace

std::string setUpJre(TailRun& run, const UpdaterFiles& updater) {
  if (!run.header.jreVersion.empty()) return setUpOfflineJre(run, updater);

  logStartSection(kOnlineSection);
  logMessage("[Extractor] Online installer - no stored JRE, will check for compatible system JRE\n");
  if (const std::optional<std::string> adopted = adoptSystemJre(run)) {
    logMessage("[JREDownload] Finalising setup of new JRE %s\n", kAdoptedVersion);
    return finishJre(kOnlineSection, *adopted, makeAppFolder(run.masterFolder, run.jreName, kAdoptedVersion),
                     updater);
  }
  return downloadJre(run, updater);
}

}  // namespace velmoran
