#include "launcher/driver.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "format/tail_plan.h"
#include "format/names.h"
#include "install/locations.h"
#include "launch/launch.h"
#include "launcher/decision.h"
#include "launcher/install.h"
#include "launcher/desktop_entry.h"
#include "launcher/launcher_copy.h"
#include "launcher/own_file.h"
#include "launcher/settings.h"
#include "launcher/uninstall.h"
#include "launcher/update.h"
#include "platform/signals.h"
#include "platform/stop.h"
#include "splash/splash.h"
#include "util/file.h"
#include "util/log.h"
#include "util/paths.h"

namespace velmoran {
namespace {

// How long the main thread may take to reach its next step once a signal
// asks it to stop. It gets there in moments (a killed child, an aborted
// download, the next file of an archive); one that does not is stuck where
// nothing stops it (a frozen X server).
constexpr std::chrono::seconds kStopPatience{10};

// The one place a run ends: a failed run first removes the temporary folders
// it made, which no later run would rename. _Exit rather than exit: the
// splash threads may still be repainting, and static destructors must not
// run underneath them; every record is flushed already. One thread ends the
// run: when another one is ending it, the caller stays here until then.
[[noreturn]] void endRun(int status) {
  claimRunEnd();
  if (status != 0) removeOwnTempFolders();
  std::fflush(nullptr);
  std::_Exit(status);
}

[[noreturn]] void endRun(Status status) { endRun(status.exitStatus()); }

// SIGINT, SIGTERM or SIGHUP end the run with 128 + the signal. During an
// install the main thread is stopped at its next step first, and the child
// it waits for killed, so that the temporary folders can be removed without
// it making more or renaming one into place meanwhile.
void onInterruption(int number) {
  const int status = 128 + number;
  claimRunEnd();
  requestStop();
  // The main thread notes a temporary folder as this run's before it makes
  // it and looks for a stop after: without the note it parks before any.
  if (!mayHoldTempFolders()) endRun(status);
  if (!awaitMainThreadParked(kStopPatience)) {
    // Removing folders the main thread may still be writing into or renaming
    // could leave half of one under its final name: a later run removes them.
    dprintf(STDERR_FILENO,
            "[Extractor] Interrupted by signal %d; the run did not stop within %lld seconds, so its temporary "
            "folders are left for a later run to remove\n",
            number, static_cast<long long>(kStopPatience.count()));
    std::fflush(nullptr);
    std::_Exit(status);
  }
  logMessage("[Extractor] Interrupted by signal %d; removing this run's temporary folders\n", number);
  endRun(status);
}

template <typename T>
T valueOrEnd(Result<T> result) {
  if (!result.ok()) endRun(result.status());
  return std::move(*result);
}

// Decides, with the records of the decision; installed is what it found.
Decision decideOver(const RunSettings& s, InstalledVersions& installed) {
  logMessage("[Extractor] Checking for a latest valid GU\n");
  installed = findInstalled(s.masterFolder, s.jreName, s.header.appName);
  Decision d = decide(s.header, installed);
  for (const std::string& record : d.records) logMessage("%s", record.c_str());
  if (d.action == Action::Install) {
    logMessage(installed.jre ? "[Extractor] Note: Latest JRE version does exist\n"
                             : "[Extractor] Note: No latest JRE version exists\n");
    logMessage(installed.updater ? "[Extractor] Note: Latest GU version does exist\n"
                                 : "[Extractor] Note: No latest GU version exists\n");
  }
  return d;
}

// The updater's version folder to hand over to, and whether the run
// installed anything to get it.
struct Installed {
  std::string updaterFolder;
  bool installed = false;
};

// The newest installed updater, after installing what the tail carries when
// the decision says so.
Result<Installed> installWhatIsNeeded(const Invocation& invocation, const RunSettings& s, TailEntries& tail) {
  InstalledVersions installed;
  Decision d = decideOver(s, installed);
  UniqueFd turn;
  // What another run installed while this one waited may be all it needs.
  if (d.action == Action::Install && takeInstallTurn(s.masterFolder, turn)) d = decideOver(s, installed);
  if (d.action == Action::JustRun) {
    logMessage("[Extractor] Running without extraction now\n");
    return Installed{*installed.updater, false};
  }
  if (!s.hasGu) {
    logMessage("[Extractor] Unable to run (we are just a launcher)\n");
    return Status::failure();
  }
  Result<std::string> updater = installFromTail(InstallRun{invocation, s, tail});
  if (!updater.ok()) return updater.status();
  return Installed{*updater, true};
}

// A setup file leaves the installed launcher (and, when it installed, the
// menu entry) behind, so that the application starts without it.
void leaveLauncherBehind(const OwnFile& own, const Invocation& invocation, const RunSettings& s,
                         const Installed& done) {
  const std::string copy = setPath(s.masterFolder, kLauncherCopyName);
  if (!s.hasGu || (!done.installed && access(copy.c_str(), X_OK) == 0)) return;
  writeLauncherCopy(invocation.launcherPath, own.tailMarkerAt, own.paramsStart, s.header, s.masterFolder);
  if (done.installed) installDesktopEntry(s, setPath(s.masterFolder, done.updaterFolder));
}

// Starts the updater of the version folder, telling it of the installed
// launcher and application; prepare-only runs end before.
Status handOver(const Invocation& invocation, const RunSettings& s, const std::string& updaterFolder) {
  if (invocation.prepareOnly) return Status::success();
  LaunchRequest request{s.masterFolder,      updaterFolder,      s.properties, invocation.userArgs,
                        s.staticUpdateUrl, s.dynamicUpdateUrl, invocation.absolutePath};
  const std::string copy = setPath(s.masterFolder, kLauncherCopyName);
  if (access(copy.c_str(), X_OK) == 0) addStaticProperty(request.properties, "launcher", copy);
  addApplicationProperties(request.properties, s.masterFolder, s.header.appName);
  return launchApp(request, s.jreName);
}

// A run of one of the launcher's own words other than prepare-only.
[[noreturn]] void runMode(const Invocation& invocation, const RunSettings& settings) {
  switch (invocation.mode) {
    case Mode::Update:
    case Mode::UpdateWait:
      endRun(checkForUpdates(invocation, settings, invocation.mode == Mode::UpdateWait));
    case Mode::Uninstall:
      endRun(uninstall(settings));
    case Mode::Run:
    case Mode::PrepareOnly:
      break;
  }
  endRun(Status::failure());
}

}  // namespace

void runLauncher(const Invocation& given) {
  watchInterruptions(onInterruption);  // before any other thread exists
  ignoreSigpipe();
  // A run of the launcher's own words says what it did in a few lines of its
  // own; its records go to the log file only.
  const bool quiet = given.mode != Mode::Run && given.mode != Mode::PrepareOnly;
  if (quiet) setConsoleLogging(false);
  logConsole("Extracting wrapper tail...\n");
  Invocation invocation = given;
  // Every run that may show the splash notes the display first; the splash
  // connects to it (and loads Xlib) only when it is first configured.
  // Without a display it stays off.
  if (given.mode != Mode::Update && given.mode != Mode::Uninstall) init();
  invocation.absolutePath = getAbsoluteExePath(invocation.launcherPath);
  logMessage("[Extractor] The absolute wrapper path is %s\n", invocation.absolutePath.c_str());
  logMessage("[Extractor] The executable name is %s\n", invocation.launcherPath.c_str());

  OwnFile own = valueOrEnd(readOwnFile(invocation));
  const RunSettings settings =
      valueOrEnd(settleRun(invocation, std::move(own.header), std::move(own.params), std::move(own.properties)));
  if (quiet) runMode(invocation, settings);
  TailEntries tail(std::move(own.tail), tailPlan(settings.header, settings.jreName), invocation.launcherPath,
                   settings.key.get());
  const Installed done = valueOrEnd(installWhatIsNeeded(invocation, settings, tail));
  tail.close();
  leaveLauncherBehind(own, invocation, settings, done);
  endRun(handOver(invocation, settings, done.updaterFolder));
}

}  // namespace velmoran
