#include "launcher/driver.h"

#include "launcher/dynamic_params.h"
#include "launcher/entry.h"
#include "splash/splash.h"
#include "util/exit.h"
#include "util/log.h"

namespace velmoran {
namespace {

// Opens the launcher file and positions it after the marker; ends the run when
// either cannot be done.
FilePtr openAtMarker(const TailRun& run, const std::vector<unsigned char>& marker,
                     const char* label, const char* openFailure) {
  FilePtr stream = openFile(run.launcherPath.c_str(), "rb");
  if (!stream) {
    logMessage(openFailure, run.launcherPath.c_str());
    endRun(1);
  }
  if (scanToMarker(stream.get(), marker, label) < 0) endRun(1);
  return stream;
}

}  // namespace

void evaluateHeader(TailRun& run) {
  const TailHeader& h = run.header;
  if (!h.requiredJavaVersion.empty()) {
    logMessage("[Extractor] Required Java version %s\n", h.requiredJavaVersion.c_str());
  }
  if (h.updateUrl == "D") {
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

  {
    FilePtr params = openAtMarker(
        run, run.paramsMarker, "Params",
        "[Extractor] *********************** Failed to extract wrapper params - couldn't open file %s\n");
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
  run.header = readTailHeader(run.tailStream.get());
  evaluateHeader(run);

  logMessage("[Extractor] The install step is not built yet; the run stops after reading the tail\n");
  endRun(1);
}

}  // namespace velmoran
