#include "launcher/settings.h"

#include <cstdint>
#include <utility>

#include "format/names.h"
#include "format/version_file.h"
#include "install/locations.h"
#include "util/encoding.h"
#include "util/file.h"
#include "util/log.h"
#include "util/log_file.h"
#include "util/paths.h"

namespace velmoran {
namespace {

void importPublicKey(RunSettings& run) {
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
Status refuseNamesLeavingTheMasterFolder(const TailHeader& h) {
  if (const auto fault = componentNameFault(h.appName)) {
    logError("[Extractor] The application name %.200s is refused (%s); refusing to install it\n", h.appName.c_str(),
             fault->c_str());
    return Status::failure();
  }
  const std::pair<const char*, const std::string*> versions[] = {
      {"App Version", &h.appVersion}, {"JRE Version", &h.jreVersion}, {"GU Version", &h.guVersion}};
  for (const auto& [field, value] : versions) {
    if (value->empty() || isVersionNumber(*value)) continue;
    logError("[Extractor] The tail's %s %s is not a version number; refusing to install it\n", field,
             value->c_str());
    return Status::failure();
  }
  return Status::success();
}

// Which update URL the run uses, and the no-UI flag; the section the header
// was read in ends here.
void chooseUpdateUrlAndUi(const Invocation& invocation, RunSettings& run) {
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
  run.noUi = run.params.noUi || isSilent(h.silentParameter, invocation.userArgs);
  logMessage("[Extractor] Is silent install is %d\n", run.noUi ? 1 : 0);
  logEndSection("Extracting tail\n");
}

void addStaticProperties(RunSettings& run) {
  const TailHeader& h = run.header;
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

// The chosen URL ends with "/"; the normalised URL is handed on in place of
// the one it was made from.
void normaliseUpdateUrl(RunSettings& run) {
  const bool dynamicUrl = run.header.updateUrl == "D";
  logMessage("[Extractor] Update URL is currently '%s'\n", run.chosenUpdateUrl.c_str());
  if (!run.chosenUpdateUrl.empty() && run.chosenUpdateUrl.back() != '/') run.chosenUpdateUrl += '/';
  logMessage("[Extractor] Update URL is now '%s'\n", run.chosenUpdateUrl.c_str());
  run.staticUpdateUrl = dynamicUrl ? run.header.updateUrl : run.chosenUpdateUrl;
  run.dynamicUpdateUrl = run.params.updateUrl;
  if (dynamicUrl && run.dynamicUpdateUrl) run.dynamicUpdateUrl = run.chosenUpdateUrl;
}

void logWhatTheTailCarries(const RunSettings& run) {
  const TailHeader& h = run.header;
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

}  // namespace

Result<RunSettings> settleRun(const Invocation& invocation, TailHeader header, DynamicParams params,
                              PropertiesBlock properties) {
  RunSettings run;
  run.header = std::move(header);
  run.params = std::move(params);
  run.properties = std::move(properties);
  chooseUpdateUrlAndUi(invocation, run);
  addStaticProperties(run);
  importPublicKey(run);
  if (const Status names = refuseNamesLeavingTheMasterFolder(run.header); !names.ok()) return names;
  // Before the first folder is made: the shared directory for a home install.
  run.installType = installTypeOf(run.header.installType);
  setInstallMode(installModeOf(run.installType));
  const std::optional<std::string> shared = locateSharedDirectory(run.installType);
  if (!shared) return Status::failure();
  run.sharedDir = *shared;
  logMessage("[Extractor] Shared dir is %s\n", run.sharedDir.c_str());
  normaliseUpdateUrl(run);

  run.masterFolder = setPath(run.sharedDir, masterFolderName(run.header.appName));
  logMessage("[Extractor] Master folder is %s\n", run.masterFolder.c_str());
  if (!pathFits(run.masterFolder)) return Status::failure();
  setupFileLogging(run.masterFolder);
  run.jreName = run.params.jreName;
  applyJreNameOverride(run.masterFolder, run.jreName);
  makeDir(setPath(run.masterFolder, "VLAppsSharedConfig"));
  run.hasGu = !run.header.guVersion.empty();
  logWhatTheTailCarries(run);
  return run;
}

}  // namespace velmoran
