package dev.velmoran.updater;

import java.util.ArrayList;
import java.util.List;

/**
 * The processes the updater started and has not seen end: when its JVM ends (the application
 * returned from main or called System.exit, or the updater was told to end), they are ended too,
 * with SIGTERM. An update check ended so cleans up after itself and is run again next time.
 */
final class Children implements Runnable {
  private static final List<Process> RUNNING = new ArrayList<>();
  private static boolean hooked;
  private static boolean ending;

  private Children() {}

  /** Called before a child is started, so that none can start unseen by the end of the JVM. */
  static synchronized void watch() {
    if (hooked || ending) return;
    hooked = true;
    try {
      Runtime.getRuntime().addShutdownHook(new Thread(new Children(), "Velmoran children"));
    } catch (IllegalStateException e) {
      ending = true;
    }
  }

  static synchronized void add(Process process) {
    if (ending) {
      process.destroy();
    } else {
      RUNNING.add(process);
    }
  }

  static synchronized void remove(Process process) {
    RUNNING.remove(process);
  }

  @Override
  public void run() {
    final List<Process> left;
    synchronized (Children.class) {
      ending = true;
      left = new ArrayList<>(RUNNING);
    }
    for (Process process : left) {
      if (process.isAlive()) {
        Log.record("[Updater] Ending process " + process.pid() + " with the JVM");
        process.destroy();
      }
    }
  }
}
