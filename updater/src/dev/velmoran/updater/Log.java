package dev.velmoran.updater;

import java.io.IOException;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;

/**
 * The updater's records, written as the launcher writes its own: "+", the milliseconds since the
 * previous record left-justified in 8 columns, a blank and the text. They are kept in memory until
 * the log file is open ({@link LogFile}), which the start of an application does not wait for.
 */
final class Log {
  static final long STARTED = System.currentTimeMillis();
  private static long last = STARTED;
  private static StringBuilder pending = new StringBuilder();
  private static OutputStream file;
  private static Path path;

  private Log() {}

  static synchronized void record(String text) {
    final long now = System.currentTimeMillis();
    final StringBuilder line = new StringBuilder(text.length() + 16).append('+').append(now - last);
    while (line.length() < 9) line.append(' ');
    line.append(' ').append(text).append('\n');
    last = now;
    if (file != null) {
      write(line);
    } else if (pending != null) {
      pending.append(line);
    }
  }

  /** An error: a record, and the same line on standard error. */
  static void error(String text) {
    record(text);
    System.out.flush();
    System.err.println(text);
  }

  /** The log file, once open; null before, or when it could not be made. */
  static synchronized Path path() {
    return file == null ? null : path;
  }

  /** From now on the records go to this file, the ones so far first. */
  static synchronized void writeTo(OutputStream out, Path outPath) {
    file = out;
    path = outPath;
    if (pending != null) write(pending);
    pending = null;
  }

  /** There is no log file: the records so far are dropped, and no more are kept. */
  static synchronized void none() {
    pending = null;
  }

  private static void write(CharSequence text) {
    try {
      file.write(text.toString().getBytes(StandardCharsets.UTF_8));
    } catch (IOException e) {
      System.err.println("[Updater] Cannot write the log file " + path + ": " + e.getMessage());
      try {
        file.close();
      } catch (IOException ignored) {
        // Closed or not, nothing more is written to it.
      }
      file = null;
      pending = null;
    }
  }
}
