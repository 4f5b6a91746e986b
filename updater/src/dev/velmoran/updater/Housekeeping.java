package dev.velmoran.updater;

import java.nio.file.Path;
import java.util.List;

/** What goes on beside the application: the folders in use, the log file, the update check. */
final class Housekeeping {
  private static boolean begun;

  private Housekeeping() {}

  /**
   * Locks the folders in use (with the application's when it runs), opens the log file and
   * records the launch properties. Once per run; later calls add the application's lock.
   */
  static void begin(Launch launch, boolean withApplication) {
    final boolean worldWritable = Folders.worldWritable(launch.master);
    Locks.hold(launch.master, worldWritable, withApplication ? launch.appFolder : null, name(launch.jreFolder),
        name(launch.updaterFolder));
    synchronized (Housekeeping.class) {
      if (begun) return;
      begun = true;
    }
    LogFile.open(launch.master, worldWritable);
    final List<LaunchProperties.Property> all = launch.properties.all();
    for (int i = 0; i < all.size(); i++) {
      final LaunchProperties.Property p = all.get(i);
      Log.record("[Updater] property " + i + ": " + Text.percentEncode(p.key(), true) + "="
          + (p.isEmptyMark() ? "" : Text.percentEncode(p.value(), false)));
    }
    Log.record("[Updater] Locked as in use: " + Locks.held());
  }

  /** {@code <launcher> VLUPDATE}, when the launcher named its copy. */
  static void check(Launch launch) {
    if (launch.launcher == null) {
      Log.record("[Updater] No launcher copy named: no update check");
      return;
    }
    final LauncherRun run = LauncherRun.run(launch.launcher, LauncherRun.CHECK, true);
    if (!run.ok()) Log.record("[Updater] The update check failed: " + run.describe());
  }

  private static String name(String folder) {
    if (folder == null) return null;
    final Path name = Path.of(folder).getFileName();
    return name == null ? null : name.toString();
  }
}
