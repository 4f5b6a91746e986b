#include "launcher/driver.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "format/tail_plan.h"
#include "install/locations.h"
#include "launch/launch.h"
#include "launcher/decision.h"
#include "launcher/install.h"
#include "launcher/own_file.h"
#include "launcher/settings.h"
#include "platform/signals.h"
#include "platform/stop.h"
#include "splash/splash.h"
#include "util/file.h"
#include "util/log.h"

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

// Runs for one application take turns at installing: a second launcher
// started meanwhile waits for the first one's install, and then finds it in
// place, instead of extracting the same versions beside it and copying them
// over folders the first run has started from. The lock on the master folder
// goes with the process (its descriptor is not inherited by what it starts);
// where none can be taken the run goes on without. True when it waited.
bool takeInstallTurn(const std::string& masterFolder, UniqueFd& turn) {
  UniqueFd master(open(masterFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!master) return false;
  bool waited = false;
  if (flock(master.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) return false;
    logMessage("[Extractor] Another run is installing into %s; waiting for it to finish\n", masterFolder.c_str());
    waited = true;
    int locked = 0;
    while ((locked = flock(master.get(), LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (locked != 0) return true;
  }
  turn = std::move(master);
  return waited;
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

// The updater's version folder to hand over to: the newest installed, after
// installing what the tail carries when the decision says so.
Result<std::string> installWhatIsNeeded(const Invocation& invocation, const RunSettings& s, TailEntries& tail) {
  InstalledVersions installed;
  Decision d = decideOver(s, installed);
  UniqueFd turn;
  // What another run installed while this one waited may be all it needs.
  if (d.action == Action::Install && takeInstallTurn(s.masterFolder, turn)) d = decideOver(s, installed);
  if (d.action == Action::JustRun) {
    logMessage("[Extractor] Running without extraction now\n");
    return *installed.updater;
  }
  if (!s.hasGu) {
    logMessage("[Extractor] Unable to run (we are just a launcher)\n");
    return Status::failure();
  }
  return installFromTail(InstallRun{invocation, s, tail});
}

// Starts the updater of the version folder; prepare-only runs end before.
Status handOver(const Invocation& invocation, const RunSettings& s, const std::string& updaterFolder) {
  if (invocation.prepareOnly) return Status::success();
  const LaunchRequest request{s.masterFolder,      updaterFolder,      s.properties, invocation.userArgs,
                              s.staticUpdateUrl, s.dynamicUpdateUrl, invocation.absolutePath};
  return launchApp(request, s.jreName);
}

}  // namespace

void runLauncher(const Invocation& given) {
  watchInterruptions(onInterruption);  // before any other thread exists
  ignoreSigpipe();
  std::printf("Extracting wrapper tail...\n");
  std::fflush(stdout);
  Invocation invocation = given;
  // Every run notes the display first; the splash connects to it (and loads
  // Xlib) only when it is first configured. Without a display it stays off.
  init();
  invocation.absolutePath = getAbsoluteExePath(invocation.launcherPath);
  logMessage("[Extractor] The absolute wrapper path is %s\n", invocation.absolutePath.c_str());
  logMessage("[Extractor] The executable name is %s\n", invocation.launcherPath.c_str());

  OwnFile own = valueOrEnd(readOwnFile(invocation));
  const RunSettings settings =
      valueOrEnd(settleRun(invocation, std::move(own.header), std::move(own.params), std::move(own.properties)));
  TailEntries tail(std::move(own.tail), tailPlan(settings.header, settings.jreName), invocation.launcherPath,
                   settings.key.get());
  const std::string updaterFolder = valueOrEnd(installWhatIsNeeded(invocation, settings, tail));
  tail.close();
  endRun(handOver(invocation, settings, updaterFolder));
}

}  // namespace velmoran
