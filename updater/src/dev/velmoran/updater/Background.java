package dev.velmoran.updater;

/**
 * The daemon thread beside the application: it marks the folders as in use, opens the log file
 * and, with check, runs the update check. This class is all the start's thread sees of it, so
 * that the classes the work needs are loaded on the daemon thread, not before main.
 */
final class Background implements Runnable {
  private final Launch launch;
  private final boolean check;
  private boolean recorded;

  private Background(Launch launch, boolean check) {
    this.launch = launch;
    this.check = check;
  }

  static Background start(Launch launch, boolean check) {
    final Background background = new Background(launch, check);
    final Thread thread = new Thread(background, "Velmoran update check");
    thread.setDaemon(true);
    thread.start();
    return background;
  }

  @Override
  public void run() {
    try {
      Housekeeping.begin(launch, true);
    } finally {
      synchronized (this) {
        recorded = true;
        notifyAll();
      }
    }
    if (check) Housekeeping.check(launch);
  }

  /** Waits until the locks are taken and the log file is open (or could not be). */
  synchronized void awaitRecords() throws InterruptedException {
    while (!recorded) wait();
  }
}
