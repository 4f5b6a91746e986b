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

  private Updater() {}

  // The classes this one uses on the way to the application's main are few and small: each one
  // loaded, and each class its checks need, delays main.
  public static void main(String[] args) throws Throwable {
    final Launch launch;
    try {
      launch = read(args);
    } catch (UpdaterException e) {
      fail(e.getMessage());
      return;
    }
    if (launch.appFolder == null) {
      WaitForUpdate.run(launch, "No version of " + launch.appName + " is installed");
      return;
    }
    final long required = requiredVersion(launch.master);
    if (required > launch.appVersion) {
      WaitForUpdate.run(launch, "Version " + required + " of " + launch.appName + " is required; "
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
    final Path file = Path.of(args[0]);
    final LaunchProperties properties = LaunchProperties.read(file);
    if (!new File(args[0]).delete()) {
      try {
        Files.delete(file);
      } catch (Exception e) {
        Log.record("[Updater] Cannot delete the launch properties file " + file + ": " + e);
      }
    }
    return Launch.of(properties, List.of(Arrays.copyOfRange(args, 1, args.length)));
  }

  /**
   * Starts the installed application; the folders in use, the log file and, with check, the
   * update check follow on a daemon thread. This thread does only what main needs first.
   */
  static void start(Launch launch, boolean check) throws Throwable {
    if (launch.sameJvm()) {
      final Method main;
      try {
        main = Application.load(launch);
      } catch (UpdaterException e) {
        fail(launch, e.getMessage());
        return;
      }
      Log.record("[Updater] Starting " + launch.appFolder + " in this JVM");
      // The locks come a few milliseconds after main is called, where the launcher's choice of
      // the folders came the JVM's start before it.
      final Background background = Background.start(launch, check);
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
    Background.start(launch, check);
    final int status = process.waitFor();
    Children.remove(process);
    Log.record("[Updater] " + launch.appFolder + " ended with exit status " + status);
    System.exit(status);
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

  static void fail(String message) {
    Log.error("[Updater] " + message);
    System.exit(1);
  }

  /** A failure once the master folder is known: its record goes to the log file too. */
  static void fail(Launch launch, String message) {
    Housekeeping.begin(launch, false);
    fail(message);
  }
}
