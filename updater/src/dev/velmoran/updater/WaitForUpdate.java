package dev.velmoran.updater;

/**
 * The update the start waits for: when no application is installed, or when a required version
 * is newer than the installed one. {@code <launcher> VLUPDATE_WAIT} runs in the foreground (its
 * "Updated ..." lines on standard output), then the launcher copy runs again with the user's
 * arguments and hands over to the newest updater, which starts what was installed. When the wait
 * fails or installs nothing, the installed application starts, if there is one: a server that is
 * down never stops the start.
 */
final class WaitForUpdate {
  private WaitForUpdate() {}

  static void run(Launch launch, String why) throws Throwable {
    Housekeeping.begin(launch, false);
    Log.record("[Updater] " + why + ": waiting for the update");
    final String failure;
    if (launch.launcher == null) {
      failure = "no launcher copy is named (vlstat_launcher) to update with";
    } else {
      final LauncherRun run = LauncherRun.run(launch.launcher, LauncherRun.WAIT, false);
      // Nothing installed: running the launcher copy again would come back here.
      if (run.ok() && run.updated > 0) {
        final int status;
        try {
          status = LauncherRun.relaunch(launch.launcher, launch.userArgs);
        } catch (UpdaterException e) {
          Updater.fail(launch, e.getMessage());
          return;
        }
        System.exit(status);
      }
      failure = run.ok() ? "the update installed nothing" : "the update failed (" + run.describe() + ")";
    }
    if (launch.appFolder != null) {
      Log.record("[Updater] " + failure + ": starting the installed " + launch.appFolder);
      Updater.start(launch, false);
      return;
    }
    Updater.fail(launch, why + "; " + failure + "; see " + Log.path());
  }
}
