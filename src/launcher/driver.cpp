#include "launcher/driver.h"

#include <cstdint>
#include <cstdio>
#include <utility>

#include "install/locations.h"
#include "launch/launch.h"
#include "launcher/dynamic_params.h"
#include "launcher/entry.h"
#include "launcher/install_flow.h"
#include "splash/splash.h"
#include "util/encoding.h"
#include "util/exit.h"
#include "util/log.h"
#include "util/paths.h"

namespace velmoran {
namespace {

// Opens the launcher file and positions it after the marker; ends the run when
// either cannot be done.
FilePtr openAtMarker(const TailRun& run, const std::vector<unsigned char>& marker,
                     const char* label, const char* openFailure) {
  FilePtr stream = openForReading(run.launcherPath);
  if (!stream) {
    logMessage(openFailure, run.launcherPath.c_str());
    endRun(1);
  }
  if (scanToMarker(stream.get(), marker, label) < 0) endRun(1);
  return stream;
}

void importPublicKey(TailRun& run) {
  const std::string& text = run.header.signaturePublicKey;
  if (text.empty()) {
    logMessage("[Extractor] Public key length %d (no public key)\n", 0);
    return;
  }
  std::vector<unsigned char> der(text.size() / 2 + 2);
  const int count = hexToBytes(der.data(), static_cast<int>(der.size()), text.c_str());
  logMessage("[Extractor] Processed public key of length %d\n", count);
  run.key = loadDEREncodedPublicKey(der.data(), count);
  logMessage("[Extractor] Public Key: %08X\n",
             static_cast<unsigned>(reinterpret_cast<uintptr_t>(run.key.get()) & 0xFFFFFFFFu));
}

// The application's name and the versions become folder names in the shared
// directory: a "/" in the name, or a version that is not a number, would lead
// out of it, and a name that is no component name would never match its own
// folders (or would match the updater's). The builder writes none of them; a
// file that holds one was made to.
void refuseNamesLeavingTheMasterFolder(const TailHeader& h) {
  if (const auto fault = componentNameFault(h.appName)) {
    logError("[Extractor] The application name %.200s is refused (%s); refusing to install it\n", h.appName.c_str(),
             fault->c_str());
    endRun(1);
  }
  const std::pair<const char*, const std::string*> versions[] = {
      {"App Version", &h.appVersion}, {"JRE Version", &h.jreVersion}, {"GU Version", &h.guVersion}};
  for (const auto& [field, value] : versions) {
    if (value->empty() || isVersionNumber(*value)) continue;
    logError("[Extractor] The tail's %s %s is not a version number; refusing to install it\n", field,
             value->c_str());
    endRun(1);
  }
}

}  // namespace

void evaluateHeader(TailRun& run) {
  TailHeader& h = run.header;
  if (!h.requiredJavaVersion.empty()) {
    logMessage("[Extractor] Required Java version %s\n", h.requiredJavaVersion.c_str());
  }
  const bool dynamicUrl = h.updateUrl == "D";
  if (dynamicUrl) {
    // Without an update_url parameter there is no dynamic URL: it counts as empty.
    run.chosenUpdateUrl = run.params.updateUrl.value_or("");
    logMessage("[Extractor] Will use Dynamic Update URL: %s\n", run.chosenUpdateUrl.c_str());
  } else {
    run.chosenUpdateUrl = h.updateUrl;
    logMessage("[Extractor] Will use Static Update URL: %s\n", h.updateUrl.c_str());
  }
  run.noUi = run.params.noUi;
  if (!run.noUi) run.noUi = isSilent(h.silentParameter, run.userArgc, run.userArgv);
  logMessage("[Extractor] Is silent install is %d\n", run.noUi ? 1 : 0);
  logEndSection("Extracting tail\n");

  logMessage("[Extractor] Setting up static properties\n");
  PropertiesBlock& p = run.properties;
  addStaticProperty(p, "update_url", h.updateUrl);
  addStaticProperty(p, "install_type", h.installType);
  addStaticProperty(p, "min_splash_ms", h.minSplashMs);
  addStaticProperty(p, "vlsig_public_key", h.signaturePublicKey);
  addStaticProperty(p, "can_override_splash", h.canOverrideSplash);
  addStaticProperty(p, "app_name", h.appName);
  addStaticProperty(p, "wrapper_app_version", h.appVersion);
  addStaticProperty(p, "wrapper_gu_version", h.guVersion);
  addStaticProperty(p, "silent_parameter", h.silentParameter);
  addStaticProperty(p, "java_version", h.requiredJavaVersion);
  if (run.noUi) addStaticProperty(p, "show_no_ui", "true");

  importPublicKey(run);
  refuseNamesLeavingTheMasterFolder(h);
  // Before the first folder is made: the shared directory for a home install.
  setInstallMode(installModeFor(h.installType));
  run.sharedDir = locateSharedDirectory(h.installType);
  logMessage("[Extractor] Shared dir is %s\n", run.sharedDir.c_str());

  logMessage("[Extractor] Update URL is currently '%s'\n", run.chosenUpdateUrl.c_str());
  if (!run.chosenUpdateUrl.empty() && run.chosenUpdateUrl.back() != '/') run.chosenUpdateUrl += '/';
  logMessage("[Extractor] Update URL is now '%s'\n", run.chosenUpdateUrl.c_str());
  // The normalised URL is handed on in place of the one it was made from.
  run.staticUpdateUrl = dynamicUrl ? h.updateUrl : run.chosenUpdateUrl;
  run.dynamicUpdateUrl = run.params.updateUrl;
  if (dynamicUrl && run.dynamicUpdateUrl) run.dynamicUpdateUrl = run.chosenUpdateUrl;

  run.masterFolder = setPath(run.sharedDir, "Velmoran-" + h.appName);
  logMessage("[Extractor] Master folder is %s\n", run.masterFolder.c_str());
  setupFileLogging(run.masterFolder);

  run.jreName = run.params.jreName;
  applyJreNameOverride(run.masterFolder, run.jreName);
  makeDir(setPath(run.masterFolder, "VLAppsSharedConfig"));

  run.hasGu = !h.guVersion.empty();
  if (run.hasGu) {
    logMessage("[Extractor] VaduravOzuzovo version is %s\n", h.guVersion.c_str());
  } else {
    logMessage("[Extractor] No VaduravOzuzovo embedded, we are just a launcher\n");
  }
  if (!h.appVersion.empty()) {
    logMessage("[Extractor] OFFLINE wrapper: App version is %s\n", h.appVersion.c_str());
  } else {
    logMessage("[Extractor] ONLINE wrapper: No App embedded, GU will download and run\n");
  }
}

void handOver(TailRun& run, const std::string& updaterFolder) {
  run.tailStream.reset();
  if (run.prepareOnly) endRun(0);
  // A run that could not start the updater did not do its work.
  const int error = launchApp(run.masterFolder, run.properties, run.userArgc, run.userArgv, updaterFolder,
                              run.staticUpdateUrl, run.dynamicUpdateUrl, run.jreName, run.absolutePath);
  endRun(error == 0 ? 0 : 1);
}

void extractWrapperTail(const char* launcherPath, int userArgc, char** userArgv, int fullArgc,
                        char** fullArgv, bool prepareOnly) {
  TailRun run;
  run.launcherPath = launcherPath;
  run.userArgc = userArgc;
  run.userArgv = userArgv;
  run.fullArgc = fullArgc;
  run.fullArgv = fullArgv;
  run.prepareOnly = prepareOnly;

  // Every run connects to the display first; without one the splash stays off.
  init();
  run.tailMarker = allocAndInitMarker();
  run.paramsMarker = allocAndInitParamsMarker();
  run.absolutePath = getAbsoluteExePath(run.launcherPath);
  logMessage("[Extractor] The absolute wrapper path is %s\n", run.absolutePath.c_str());
  logMessage("[Extractor] The executable name is %s\n", run.launcherPath.c_str());

  off_t paramsStart = -1;
  {
    FilePtr params = openAtMarker(
        run, run.paramsMarker, "Params",
        "[Extractor] *********************** Failed to extract wrapper params - couldn't open file %s\n");
    paramsStart = ftello(params.get()) - static_cast<off_t>(kParamsMarkerLength);
    if (!paramsAreaIsWhole(params.get())) {
      logError("[Extractor] The launcher file %s is cut short or damaged: no end marker after its Params "
               "section; refusing to run it\n",
               run.launcherPath.c_str());
      endRun(1);
    }
    run.params = readDynamicParams(params.get(), run.properties);
  }
  if (run.prepareOnly) {
    logMessage(
        "[Extractor] This is an elevated run purely to prepare an installation. Will not show UI or "
        "launch an app\n");
  }

  logMessage("\n");
  logStartSection("Extracting wrapper tail\n");
  run.tailStream = openAtMarker(
      run, run.tailMarker, "Tail",
      "[Extractor] ************************* Failed to extract wrapper tail - couldn't open file %s\n");
  logMessage("[Extractor] Found tail marker\n");
  run.tailStream = endTailAtParams(std::move(run.tailStream), paramsStart);
  if (!run.tailStream) {
    logMessage("[Extractor] ************************* Failed to extract wrapper tail - couldn't open file %s\n",
               run.launcherPath.c_str());
    endRun(1);
  }
  run.header = readTailHeader(run.tailStream.get());
  if (std::feof(run.tailStream.get()) || std::ferror(run.tailStream.get())) {
    logError("[Extractor] The launcher file %s is cut short or damaged: its tail header does not end before "
             "its Params section; refusing to run it\n",
             run.launcherPath.c_str());
    endRun(1);
  }
  evaluateHeader(run);
  decideAndInstall(run);
}

}  // namespace velmoran
