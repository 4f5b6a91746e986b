package dev.velmoran.updater;

import java.io.BufferedReader;
import java.io.File;
import java.io.IOException;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;

/**
 * A run of the installed launcher copy in one of its update modes. Its standard output is read
 * line by line: its result lines ("Updated ...") go to the updater's standard output and log, the
 * rest to the log alone.
 */
final class LauncherRun {
  static final String CHECK = "VLUPDATE";
  static final String WAIT = "VLUPDATE_WAIT";
  static final String RESULT_PREFIX = "Updated ";

  /** The exit status, or -1 when it could not be started or read. */
  final int status;
  /** How many components it installed. */
  final int updated;
  final String failure;

  private LauncherRun(int status, int updated, String failure) {
    this.status = status;
    this.updated = updated;
    this.failure = failure;
  }

  boolean ok() {
    return status == 0;
  }

  String describe() {
    return failure != null ? failure : "exit status " + status;
  }

  /**
   * Runs {@code launcher mode}. In the background its standard error joins its output in the log;
   * in the foreground (the user waits for it) the user sees it.
   */
  static LauncherRun run(String launcher, String mode, boolean background) {
    final List<String> command = List.of(launcher, mode);
    final ProcessBuilder builder = new ProcessBuilder(command)
        .redirectInput(ProcessBuilder.Redirect.from(new File("/dev/null")));
    if (background) {
      builder.redirectErrorStream(true);
    } else {
      builder.redirectError(ProcessBuilder.Redirect.INHERIT);
    }
    final Process process;
    Children.watch();
    try {
      process = builder.start();
    } catch (IOException e) {
      return new LauncherRun(-1, 0, "cannot start " + launcher + ": " + e.getMessage());
    }
    Children.add(process);
    Log.record("[Updater] Running " + launcher + " " + mode + " as process " + process.pid());
    int updated = 0;
    String failure = null;
    try (BufferedReader lines =
        new BufferedReader(new InputStreamReader(process.getInputStream(), StandardCharsets.UTF_8))) {
      for (String line; (line = lines.readLine()) != null; ) {
        if (line.startsWith(RESULT_PREFIX)) {
          updated++;
          System.out.println(line);
          System.out.flush();
          Log.record("[Updater] " + line);
        } else {
          Log.record("[" + mode + "] " + line);
        }
      }
    } catch (IOException e) {
      failure = "cannot read the output of " + mode + ": " + e.getMessage();
    }
    try {
      final int status = process.waitFor();
      Children.remove(process);
      Log.record("[Updater] " + mode + " ended with exit status " + status + ", " + updated + " components updated");
      return new LauncherRun(failure == null ? status : -1, updated, failure);
    } catch (InterruptedException e) {
      Thread.currentThread().interrupt();
      return new LauncherRun(-1, updated, mode + " was interrupted");
    }
  }

  /** Runs the launcher copy with the user's arguments, as a user would; returns its exit status. */
  static int relaunch(String launcher, List<String> userArgs) throws UpdaterException {
    final List<String> command = new ArrayList<>();
    command.add(launcher);
    command.addAll(userArgs);
    Log.record("[Updater] Running " + launcher + " with " + userArgs.size() + " arguments");
    Children.watch();
    try {
      final Process process = new ProcessBuilder(command).inheritIO().start();
      Children.add(process);
      final int status = process.waitFor();
      Log.record("[Updater] " + launcher + " ended with exit status " + status);
      return status;
    } catch (IOException e) {
      throw new UpdaterException("cannot start " + launcher + ": " + e.getMessage());
    } catch (InterruptedException e) {
      Thread.currentThread().interrupt();
      throw new UpdaterException(launcher + " was interrupted");
    }
  }
}
