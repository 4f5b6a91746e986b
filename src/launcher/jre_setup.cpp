#include "launcher/jre_setup.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <vector>

#include "archive/extract.h"
#include "archive/lzma.h"
#include "archive/signature_check.h"
#include "format/names.h"
#include "format/version_file.h"
#include "install/locations.h"
#include "launch/jre.h"
#include "launch/launch.h"
#include "launcher/channel.h"
#include "net/download.h"
#include "platform/fileops.h"
#include "platform/spawner.h"
#include "splash/splash.h"
#include "util/file.h"
#include "util/log.h"
#include "util/paths.h"
#include "util/strings.h"

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

// The unpack200 of an installed JRE, as the path alone: nothing in an
// installed folder is changed, its mode included.
std::string installedUnpack200(const std::string& versionFolder) {
  const std::string unpack200 = setPath(versionFolder, "bin", "unpack200");
  logMessage("[Extractor] UP200 path is %s\n", unpack200.c_str());
  return unpack200;
}

// Gives the finished JRE the updater's CA store and opens up its modes while
// it is still in its temporary folder, then renames it into place: once
// renamed, a JRE folder is never written again, so a run killed half-way
// leaves no cut CA store in a complete JRE. Returns its unpack200.
Status readyAndRename(const std::string& temporary, const std::string& versionFolder, const std::string& caStore) {
  logMessage("[Extractor] JRE setup. Overriding cacerts.\n");
  overrideCACerts(caStore, temporary);
  chmod777(temporary);
  logMessage("[Extractor] Ensuring JRE bin is writable.\n");
  chmod777(setPath(temporary, "bin"));
  getUnpack200Executable(temporary);
  if (const Status moved = moveIntoPlace(temporary, versionFolder); !moved.ok()) return moved;
  logMessage("[Extractor] Renamed JRE folder to %s\n", versionFolder.c_str());
  return Status::success();
}

Result<std::string> finishJre(const char* section, const std::string& temporary, const std::string& versionFolder,
                              const UpdaterFiles& updater) {
  logEndSection(section);
  if (const Status placed = readyAndRename(temporary, versionFolder, updater.cacerts); !placed.ok()) return placed;
  return installedUnpack200(versionFolder);
}

// A refused JRE archive leaves no JRE folder under a final name. The run can
// go on only with a JRE that is installed already.
Result<std::string> keepInstalledJre(const RunSettings& s, const std::string& temporary, const char* why) {
  discardFolder(temporary);
  const std::optional<std::string> installed = pickAndAllocLatestFromMaster(s.masterFolder, s.jreName);
  if (!installed) {
    logError("[Extractor] The JRE archive %s and no JRE is installed; cannot run\n", why);
    return Status::failure();
  }
  logMessage("[Extractor] The JRE archive %s; keeping the installed %s\n", why, installed->c_str());
  return installedUnpack200(setPath(s.masterFolder, *installed));
}

constexpr const char* kRefusedWhy = "was refused";
constexpr const char* kNoJavaWhy = "holds no bin/java, so it is no JRE";

// Asks the update server for the JRE's version file, to let a proxy be
// found early; the answer is not used and goes with the temporary folder.
void queryJreVersion(const RunSettings& s, const std::string& temporary) {
  logMessage("[Extractor] We want to query the JRE version to enable proxy detection.\n");
  downloadVersionFile(temporary, s.chosenUpdateUrl, s.jreName);
  std::remove(setPath(temporary, versionFileName(s.jreName)).c_str());
}

// The JRE's archive from the tail, extracted into temporary; false when it
// was refused or holds no JRE (why says which).
Result<bool> extractTailJre(const InstallRun& run, const UpdaterFiles& updater, const std::string& temporary,
                            const char*& why) {
  const std::string unpack200 = getUnpack200Executable(temporary);
  logMessage("[Extractor] UP200 path is %s\n", unpack200.c_str());
  logMessage("[Extractor] Extracting JRE archive...\n");
  const Result<bool> accepted = run.tail.extractNext(updater.lzma, unpack200, temporary);
  if (!accepted.ok()) return accepted.status();
  why = kRefusedWhy;
  if (!*accepted) return false;
  logMessage("[Extractor] Extracted JRE %s\n", run.settings.jreName.c_str());
  why = kNoJavaWhy;
  return hasJavaExecutable(temporary);
}

Result<std::string> setUpOfflineJre(const InstallRun& run, const UpdaterFiles& updater) {
  const RunSettings& s = run.settings;
  logStartSection(kOfflineSection);
  const std::string versionFolder = makeAppFolder(s.masterFolder, s.jreName, s.header.jreVersion);
  if (isInstalled(versionFolder)) {
    logEndSection(kOfflineSection);
    if (const Status kept = keepInstalled(run.tail, versionFolder, 1); !kept.ok()) return kept;
    return installedUnpack200(versionFolder);
  }
  const Result<std::string> temporary = newTemporaryFolder(s.masterFolder);
  if (!temporary.ok()) return temporary.status();
  queryJreVersion(s, *temporary);
  logMessage("[Extractor] Offline installer - no need to download JRE, will extract\n");
  const char* why = kRefusedWhy;
  const Result<bool> usable = extractTailJre(run, updater, *temporary, why);
  if (!usable.ok()) return usable.status();
  if (!*usable) {
    logEndSection(kOfflineSection);
    return keepInstalledJre(s, *temporary, why);
  }
  logMessage("[Extractor] Regenerating jsa...\n");
  regenerateClassDataArchive(*temporary);
  return finishJre(kOfflineSection, *temporary, versionFolder, updater);
}

// A relative link target counts from the link's own folder.
std::string resolveLink(const std::string& link, const std::string& target) {
  if (!target.empty() && target.front() == '/') return target;
  const std::size_t slash = link.rfind('/');
  return slash == std::string::npos ? target : link.substr(0, slash + 1) + target;
}

// The system's java as "which java" finds it, with its links followed; none
// when there is none or the links do not end.
std::optional<std::string> systemJava(const RunSettings& s) {
  std::optional<std::string> out = runCommandGetOutput("sh -c \"which java\"");
  if (s.params.autotest) {
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

// Whether the installed updater's compatibility class accepts the java.
Result<bool> passesCompatibilityCheck(const InstallRun& run, const std::string& javaPath) {
  const RunSettings& s = run.settings;
  const std::optional<std::string> updater = pickAndAllocLatestFromMaster(s.masterFolder, kUpdaterComponent);
  if (!updater) {
    logMessage("[JRESearch] ****************************** No latest App version even after download!\n");
    return Status::failure();
  }
  const LaunchRequest request{s.masterFolder,      *updater,           s.properties, run.invocation.userArgs,
                              s.staticUpdateUrl, s.dynamicUpdateUrl, run.invocation.absolutePath};
  return checkAppJreCompatibility(request, javaPath);
}

// Copies the system JRE at home into a new temporary folder; none when the
// copy cannot be made whole.
Result<std::optional<std::string>> copySystemJre(const RunSettings& s, const std::string& home) {
  logMessage("[JRESearch] JRE is valid, copying...\n");
  const Result<std::string> temporary = newTemporaryFolder(s.masterFolder);
  if (!temporary.ok()) return temporary.status();
  // The copy is made in-process (no shell, so quotes in paths are plain
  // characters); the records keep the command lines it stands for.
  logMessage("[JRESearch] Running cp -Lrf \"%s\" \"%s\"\n", home.c_str(), temporary->c_str());
  if (copyFolderFollowingLinks(home, *temporary) != 0) {
    logMessage("[JRESearch] The system JRE could not be copied whole\n");
    discardFolder(*temporary);
    return std::optional<std::string>();
  }
  const std::string bin = setPath(*temporary, "bin");
  logMessage("[JRESearch] Running chmod -R 755 \"%s\"\n", bin.c_str());
  chmodR755(bin);
  return std::optional<std::string>(*temporary);
}

// Tests the system JRE and copies it into a temporary folder when it
// qualifies; returns that folder, or none to go on to the download.
Result<std::optional<std::string>> adoptSystemJre(const InstallRun& run) {
  const RunSettings& s = run.settings;
  const std::optional<std::string> java = systemJava(s);
  if (!java) return std::optional<std::string>();
  const std::string home = jreHomeOf(*java);
  const std::string javaPath = setPath(home, "bin", "java");
  logMessage("[JRESearch] Looking at JRE %s\n", javaPath.c_str());
  if (!doesFileExist(javaPath) || !doesFileExist(setPath(home, "bin", "unpack200")) ||
      !jreMatchesVersionRequirement(javaPath, s.header.requiredJavaVersion)) {
    logMessage("[JRESearch] JRE does not exist or does not have unpack200\n");
    return std::optional<std::string>();
  }
  logMessage("[JRESearch] JRE unpack200 exists %s\n", javaPath.c_str());
  const Result<bool> compatible = passesCompatibilityCheck(run, javaPath);
  if (!compatible.ok()) return compatible.status();
  if (!*compatible) {
    logMessage("[JRESearch] JRE failed compatibility test\n");
    return std::optional<std::string>();
  }
  return copySystemJre(s, home);
}

// The splash shows while a download runs.
bool download(const InstallRun& run, const std::string& url, const std::string& destination, DownloadKind kind) {
  const bool ui = !run.settings.noUi && !run.invocation.prepareOnly;
  if (ui) showSplash();
  if (!downloadFile(url, destination, kind, setProgress)) {
    if (ui) hideSplash();
    return false;
  }
  setProgress(-1);
  return true;
}

// A downloaded JRE that cannot be installed is a failure. Its temporary
// folder goes at once: no later run would ever remove what it holds (up to a
// whole JRE).
Status giveUpOnDownloadedJre(const std::string& temporary, const std::string& message) {
  logError("%s", message.c_str());
  discardFolder(temporary);
  return Status::failure();
}

// The downloaded version of the JRE to install: read before anything else is
// fetched, so a version file that names none, or one that is installed
// already, costs no archive download.
Result<std::string> fetchJreVersion(const InstallRun& run, const std::string& temporary) {
  const RunSettings& s = run.settings;
  const std::string versionName = versionFileName(s.jreName);
  const std::string localVersionFile = setPath(temporary, versionName);
  const std::string versionUrl = s.chosenUpdateUrl + versionName;
  logMessage("[JREDownload] Fetching JRE Version from %s\n", versionUrl.c_str());
  if (!download(run, versionUrl, localVersionFile, DownloadKind::VersionFile)) {
    return giveUpOnDownloadedJre(temporary, "[JREDownload] Failed to download JRE version file\n");
  }
  logMessage("[JREDownload] JRE version downloaded OK [%s]\n", localVersionFile.c_str());
  const Result<std::string> version = readDownloadedVersion(localVersionFile);
  std::remove(localVersionFile.c_str());
  if (!version.ok()) return version.status();
  if (version->empty()) {
    return giveUpOnDownloadedJre(temporary, "[JREDownload] Failed to detect or download a JRE (no jre version)\n");
  }
  return version;
}

// Decompresses the downloaded archive with the updater's decompressor. What
// it may write is bounded: by the size the archive's header declares, which
// must fit in the free space, or by the free space when it declares none; an
// archive of a few kilobytes that decodes without end is stopped there, not
// when the disk is full.
Status decompressDownloadedJre(const UpdaterFiles& updater, const std::string& archive,
                               const std::string& decompressed, const std::string& temporary) {
  std::optional<uint64_t> declared;
  if (FilePtr in = openForReading(archive)) declared = lzmaAloneDeclaredSize(in.get());
  const std::optional<uint64_t> free = freeSpaceAt(temporary);
  if (declared && free && *declared > *free) {
    std::remove(archive.c_str());
    return giveUpOnDownloadedJre(temporary, format("[JREDownload] The JRE archive decompresses to %llu bytes, more "
                                                   "than the %llu free; refusing it\n",
                                                   static_cast<unsigned long long>(*declared),
                                                   static_cast<unsigned long long>(*free)));
  }
  SpawnerPtr spawner = createSpawner();
  setSpawnerExe(*spawner, updater.lzma);
  addSpawnerArg(*spawner, "d");
  addSpawnerArg(*spawner, archive);
  addSpawnerArg(*spawner, decompressed);
  if (declared || free) spawner->fileSizeLimit = static_cast<off_t>(declared ? *declared : *free);
  logMessage("[JREDownload] Decompressing JRE archive\n");
  const int status = runSpawnerAndWait(*spawner);
  deleteSpawner(spawner);
  std::remove(archive.c_str());
  if (status == 128 + SIGXFSZ) {
    return giveUpOnDownloadedJre(temporary, "[JREDownload] The JRE archive decompresses to more than it declares "
                                            "or than the disk holds; refusing it\n");
  }
  if (status != 0) return giveUpOnDownloadedJre(temporary, "[JREDownload] Failed to decompress JRE archive\n");
  return Status::success();
}

// Where the JRE to download comes from: the channel's signed manifest when
// one is published and lists this file's JRE, so its version and its
// archive's size and digest are the vendor's; otherwise the version file.
struct JreSource {
  std::string version;
  std::optional<ManifestComponent> listed;
};

Result<JreSource> chooseJreSource(const InstallRun& run, const std::string& temporary) {
  const RunSettings& s = run.settings;
  const Result<std::optional<Manifest>> manifest = fetchManifest(s, temporary, nullptr);
  if (!manifest.ok()) {
    discardFolder(temporary);
    return manifest.status();
  }
  if (*manifest) {
    for (const ManifestComponent& c : (*manifest)->components) {
      if (c.kind != ManifestKind::Jre || c.name != s.jreName) continue;
      logMessage("[JREDownload] The manifest lists JRE version %s\n", c.version.c_str());
      return JreSource{c.version, c};
    }
    logMessage("[JREDownload] The manifest lists no JRE %s; the version file says which\n", s.jreName.c_str());
  }
  const Result<std::string> version = fetchJreVersion(run, temporary);
  if (!version.ok()) return version.status();
  return JreSource{*version, std::nullopt};
}

// The archive of the version, downloaded, checked and extracted into temporary.
Status downloadAndExtractJre(const InstallRun& run, const UpdaterFiles& updater, const std::string& temporary,
                             const JreSource& source) {
  const RunSettings& s = run.settings;
  const std::string archive = setPath(temporary, "JREArchive.p2.l2");
  const std::string decompressed = setPath(temporary, "JREArchive.p2");
  logMessage("[JREDownload] Downloading JRE\n");
  if (source.listed) {
    const bool ui = !s.noUi && !run.invocation.prepareOnly;
    if (ui) showSplash();
    const Result<std::string> listed = downloadListedArchive(s, temporary, *source.listed, ui ? setProgress : nullptr);
    if (ui) setProgress(-1);
    if (!listed.ok() || std::rename(listed->c_str(), archive.c_str()) != 0) {
      return giveUpOnDownloadedJre(temporary, "[JREDownload] Failed to download JRE\n");
    }
  } else if (!download(run, s.chosenUpdateUrl + archiveFileName(s.jreName, source.version), archive,
                       DownloadKind::Archive)) {
    return giveUpOnDownloadedJre(temporary, "[JREDownload] Failed to download JRE\n");
  }
  logMessage("[JREDownload] JRE Downloaded OK, will extract\n");
  if (const Status done = decompressDownloadedJre(updater, archive, decompressed, temporary); !done.ok()) return done;
  // It came over plain HTTP: with a key, nothing of it runs (its unpack200
  // on its pack200 entries) or is extracted before its signature holds.
  if (s.key && !verifyArchiveFile(decompressed, s.key.get())) {
    return giveUpOnDownloadedJre(
        temporary, "[JREDownload] The downloaded JRE archive is not signed with the launcher's key; refusing it\n");
  }
  const std::string unpack200 = getUnpack200Executable(temporary);
  logMessage("[JREDownload] Extracting JRE archive to %s\n", temporary.c_str());
  const Result<bool> accepted = extractArchive(unpack200, decompressed, temporary, s.key.get());
  if (!accepted.ok()) return accepted.status();
  if (!*accepted) return giveUpOnDownloadedJre(temporary, "[JREDownload] The downloaded JRE archive was refused\n");
  logMessage("[JREDownload] Done extracting JRE archive\n");
  // A signed archive of something else (the application's own) offered as
  // the JRE must not take its place.
  if (!hasJavaExecutable(temporary)) {
    return giveUpOnDownloadedJre(
        temporary, "[JREDownload] The downloaded JRE archive holds no bin/java, so it is no JRE; refusing it\n");
  }
  return Status::success();
}

Result<std::string> downloadJre(const InstallRun& run, const UpdaterFiles& updater) {
  const RunSettings& s = run.settings;
  logMessage("[JREDownload] Failed to pick up any existing system JRE, will download\n");
  const Result<std::string> temporary = newTemporaryFolder(s.masterFolder);
  if (!temporary.ok()) return temporary.status();
  const Result<JreSource> source = chooseJreSource(run, *temporary);
  if (!source.ok()) return source.status();
  const std::string& version = source->version;
  const std::string versionFolder = makeAppFolder(s.masterFolder, s.jreName, version);
  if (isInstalled(versionFolder)) {
    discardFolder(*temporary);
    logEndSection(kOnlineSection);
    if (const Status kept = keepInstalled(run.tail, versionFolder, 0); !kept.ok()) return kept;
    return installedUnpack200(versionFolder);
  }
  if (const Status got = downloadAndExtractJre(run, updater, *temporary, *source); !got.ok()) return got;
  logMessage("[JREDownload] Regenerating jsa...\n");
  regenerateClassDataArchive(*temporary);
  logMessage("[JREDownload] Downloaded JRE is now ready.\n");
  logMessage("[JREDownload] Finalising setup of new JRE %s\n", version.c_str());
  return finishJre(kOnlineSection, *temporary, versionFolder, updater);
}

}  // namespace

Status placeJre(const std::string& temporary, const std::string& versionFolder, const std::string& caStore) {
  if (!hasJavaExecutable(temporary)) {
    logError("[Extractor] The JRE archive holds no bin/java, so it is no JRE; refusing it\n");
    discardFolder(temporary);
    return Status::failure();
  }
  logMessage("[Extractor] Regenerating jsa...\n");
  regenerateClassDataArchive(temporary);
  return readyAndRename(temporary, versionFolder, caStore);
}

Result<std::string> setUpJre(const InstallRun& run, const UpdaterFiles& updater) {
  const RunSettings& s = run.settings;
  if (!s.header.jreVersion.empty()) return setUpOfflineJre(run, updater);

  logStartSection(kOnlineSection);
  logMessage("[Extractor] Online installer - no stored JRE, will check for compatible system JRE\n");
  const std::string adoptedFolder = makeAppFolder(s.masterFolder, s.jreName, kAdoptedVersion);
  if (isInstalled(adoptedFolder)) {
    logEndSection(kOnlineSection);
    if (const Status kept = keepInstalled(run.tail, adoptedFolder, 0); !kept.ok()) return kept;
    return installedUnpack200(adoptedFolder);
  }
  const Result<std::optional<std::string>> adopted = adoptSystemJre(run);
  if (!adopted.ok()) return adopted.status();
  if (*adopted) {
    logMessage("[JREDownload] Finalising setup of new JRE %s\n", kAdoptedVersion);
    return finishJre(kOnlineSection, **adopted, adoptedFolder, updater);
  }
  return downloadJre(run, updater);
}

}  // namespace velmoran
