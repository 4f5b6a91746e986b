package dev.velmoran.updater;

import java.io.File;
import java.lang.reflect.Method;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.List;

/**
 * The updater. The launcher starts it with a launch properties file (read once, then deleted) and
 * the user's arguments; the properties describe the newest installed application. It starts that
 * application at once, in this JVM when the application's heap sizes and JVM options are the
 * updater's own, else in a second JVM that it waits for, and checks for updates on a daemon thread
 * meanwhile ({@code <launcher> VLUPDATE}). It waits for an update first only when it must: when
 * no application is installed, or when the update status file names a required version newer
 * than the one installed ({@code <launcher> VLUPDATE_WAIT}, then the launcher copy runs again with
 * the user's arguments and hands over to the newest updater).
 *
 * <p>Its records go to a log file of its own in {@code <master>/logs}; standard output carries
 * only the launcher's "Updated ..." lines and what the application prints, standard error the
 * errors. Exit status: the application's (1 for an exception out of its main, as from java), the
 * launcher copy's after an update it waited for, 1 when it cannot start anything.
 */
public final class Updater {
  static final String STATUS_FILE = "VelmoranUpdateStatus";
  private static final int MAX_STATUS_FILE = 64 << 10;
  private static boolean logOpened;

  private Updater() {}

  public static void main(String[] args) throws Throwable {
    final Launch launch;
    try {
      launch = read(args);
    } catch (UpdaterException e) {
      fail(e.getMessage());
      return;
    }
    if (launch.appFolder == null) {
      update(launch, "No version of " + launch.appName + " is installed");
      return;
    }
    final long required = requiredVersion(launch.master);
    if (required > launch.appVersion) {
      update(launch, "Version " + required + " of " + launch.appName + " is required; "
          + launch.appVersion + " is installed");
      return;
    }
    start(launch, true);
  }

  /** The launch properties file, read and then deleted; the user's arguments follow it. */
  private static Launch read(String[] args) throws UpdaterException {
    if (args.length < 1) {
      throw new UpdaterException("usage: java " + Updater.class.getName() + " LAUNCH_PROPERTIES_FILE [ARGUMENT...]");
    }
    final Path file = Text.path(args[0], "launch properties file");
    final LaunchProperties properties = LaunchProperties.read(file);
    if (!new File(args[0]).delete()) {
      try {
        Files.delete(file);
      } catch (Exception e) {
        Log.record("[Updater] Cannot delete the launch properties file " + file + ": " + e);
      }
    }
    return Launch.of(properties, List.copyOf(Arrays.asList(args).subList(1, args.length)));
  }

  /**
   * Starts the installed application, holding its folders as in use; with check, the update
   * check runs meanwhile. This thread does only what main needs first.
   */
  private static void start(Launch launch, boolean check) throws Throwable {
    if (launch.sameJvm()) {
      final Method main;
      try {
        main = Application.load(launch);
      } catch (UpdaterException e) {
        fail(launch, e.getMessage());
        return;
      }
      Log.record("[Updater] Starting " + launch.appFolder + " in this JVM");
      final Background background = background(launch, check);
      try {
        Application.runHere(launch, main);
      } finally {
        // A main that returns at once does not take the log file and the locks with it.
        background.awaitRecords();
      }
      return;
    }
    final List<String> command;
    final Process process;
    try {
      command = Application.command(launch);
      process = Application.start(command);
    } catch (UpdaterException e) {
      fail(launch, e.getMessage());
      return;
    }
    Log.record("[Updater] Started " + launch.appFolder + " in a second JVM, process " + process.pid() + ": "
        + String.join(" ", command));
    background(launch, check);
    final int status = process.waitFor();
    Children.remove(process);
    Log.record("[Updater] " + launch.appFolder + " ended with exit status " + status);
    System.exit(status);
  }

  /**
   * The locks on the folders in use, the log file and, with check, the update check: on a daemon
   * thread, off the start's way. The locks come a few milliseconds after main is called, where the
   * launcher's choice of the folders came the JVM's start before it.
   */
  private static Background background(Launch launch, boolean check) {
    final Background background = new Background(launch, check);
    final Thread thread = new Thread(background, "Velmoran update check");
    thread.setDaemon(true);
    thread.start();
    return background;
  }

  private static final class Background implements Runnable {
    private final Launch launch;
    private final boolean check;
    private boolean recorded;

    Background(Launch launch, boolean check) {
      this.launch = launch;
      this.check = check;
    }

    @Override
    public void run() {
      final boolean worldWritable = Folders.worldWritable(launch.master);
      Locks.hold(launch.master, worldWritable, launch.appFolder, name(launch.jreFolder), name(launch.updaterFolder));
      openLog(launch, worldWritable);
      synchronized (this) {
        recorded = true;
        notifyAll();
      }
      if (!check) return;
      if (launch.launcher == null) {
        Log.record("[Updater] No launcher copy named: no update check");
        return;
      }
      final LauncherRun run = LauncherRun.run(launch.launcher, LauncherRun.CHECK, true);
      if (!run.ok()) Log.record("[Updater] The update check failed: " + run.describe());
    }

    /** Waits until the locks are taken and the log file is open (or could not be). */
    synchronized void awaitRecords() throws InterruptedException {
      while (!recorded) wait();
    }
  }

  private static void openLog(Launch launch, boolean worldWritable) {
    synchronized (Updater.class) {
      if (logOpened) return;
      logOpened = true;
    }
    Log.open(launch.master, worldWritable);
    final List<LaunchProperties.Property> all = launch.properties.all();
    for (int i = 0; i < all.size(); i++) {
      final LaunchProperties.Property p = all.get(i);
      Log.record("[Updater] property " + i + ": " + Text.percentEncode(p.key(), true) + "="
          + (p.isEmptyMark() ? "" : Text.percentEncode(p.value(), false)));
    }
    Log.record("[Updater] Locked as in use: " + Locks.held());
  }

  /**
   * Waits for an update in the foreground, then has the launcher copy run again with the user's
   * arguments; the newest updater it hands over to starts what was installed. When the wait
   * fails or installs nothing, the installed application starts, if there is one.
   */
  private static void update(Launch launch, String why) throws Throwable {
    final boolean worldWritable = Folders.worldWritable(launch.master);
    Locks.hold(launch.master, worldWritable, name(launch.jreFolder), name(launch.updaterFolder));
    openLog(launch, worldWritable);
    Log.record("[Updater] " + why + ": waiting for the update");
    final String failure;
    if (launch.launcher == null) {
      failure = "no launcher copy is named (vlstat_launcher) to update with";
    } else {
      final LauncherRun run = LauncherRun.run(launch.launcher, LauncherRun.WAIT, false);
      if (run.ok() && run.updated > 0) {
        final int status;
        try {
          status = LauncherRun.relaunch(launch.launcher, launch.userArgs);
        } catch (UpdaterException e) {
          fail(launch, e.getMessage());
          return;
        }
        System.exit(status);
      }
      failure = run.ok() ? "the update installed nothing" : "the update failed (" + run.describe() + ")";
    }
    if (launch.appFolder != null) {
      Log.record("[Updater] " + failure + ": starting the installed " + launch.appFolder);
      start(launch, false);
      return;
    }
    fail(launch, why + "; " + failure + "; see " + Log.path());
  }

  /** The version the update status file marks as required, or -1 when none. */
  static long requiredVersion(Path master) {
    final Path file = master.resolve(STATUS_FILE);
    long required = -1;
    try {
      final byte[] bytes = FileBytes.readIfThere(file, MAX_STATUS_FILE, "update status file");
      if (bytes == null) return required;
      for (String line : new String(bytes, StandardCharsets.UTF_8).split("\n")) {
        if (line.startsWith("required ")) required = Text.atol(line.substring(9));
      }
    } catch (UpdaterException e) {
      Log.record("[Updater] " + e.getMessage());
    }
    return required;
  }

  private static String name(String folder) {
    if (folder == null) return null;
    final Path name = Path.of(folder).getFileName();
    return name == null ? null : name.toString();
  }

  private static void fail(String message) {
    Log.error("[Updater] " + message);
    System.exit(1);
  }

  /** A failure once the master folder is known: its record goes to the log file too. */
  private static void fail(Launch launch, String message) {
    openLog(launch, Folders.worldWritable(launch.master));
    fail(message);
  }
}
