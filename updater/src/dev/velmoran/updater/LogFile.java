package dev.velmoran.updater;

import java.io.IOException;
import java.nio.channels.Channels;
import java.nio.channels.SeekableByteChannel;
import java.nio.file.DirectoryIteratorException;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.LinkOption;
import java.nio.file.OpenOption;
import java.nio.file.Path;
import java.nio.file.SecureDirectoryStream;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.BasicFileAttributeView;
import java.nio.file.attribute.PosixFilePermissions;
import java.time.Instant;
import java.time.LocalDateTime;
import java.time.ZoneId;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.Set;

/**
 * The updater's log file: {@code <master>/logs/Updater-yyyy-MM-dd-HH-mm-ss-SSS.log}, named after
 * the time of the start. The folder keeps the newest {@value #KEPT} of these files.
 */
final class LogFile {
  static final int KEPT = 20;
  static final String PREFIX = "Updater-";
  static final String SUFFIX = ".log";
  private static final String SHAPE = "dddd-dd-dd-dd-dd-dd-ddd";
  // Another updater started in the same millisecond has the name: the next ones are tried.
  private static final int NAME_ATTEMPTS = 10;

  private LogFile() {}

  /**
   * Opens the log file in {@code <master>/logs} (made when missing, never through a link), sends
   * the records there and removes the oldest files of its kind beyond {@value #KEPT}. A file that
   * cannot be made leaves the records unwritten, and says so on standard error.
   */
  static void open(Path master, boolean worldWritable) {
    final Path folder = master.resolve("logs");
    try (SecureDirectoryStream<Path> logs = Folders.open(master, "logs", worldWritable)) {
      final LocalDateTime start = LocalDateTime.ofInstant(Instant.ofEpochMilli(Log.STARTED), ZoneId.systemDefault());
      final Set<OpenOption> options =
          Set.of(StandardOpenOption.WRITE, StandardOpenOption.CREATE_NEW, LinkOption.NOFOLLOW_LINKS);
      String name = null;
      SeekableByteChannel channel = null;
      for (int i = 0; channel == null; i++) {
        name = PREFIX + stamp(start.plusNanos(i * 1_000_000L)) + SUFFIX;
        try {
          channel = logs.newByteChannel(Path.of(name), options,
              PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString("rw-r--r--")));
        } catch (FileAlreadyExistsException e) {
          if (i + 1 == NAME_ATTEMPTS) throw e;
        }
      }
      Log.writeTo(Channels.newOutputStream(channel), folder.resolve(name));
      Log.record("[Updater] Logging to " + folder.resolve(name));
      prune(logs, folder, name);
    } catch (IOException | DirectoryIteratorException e) {
      Log.none();
      System.err.println("[Updater] Cannot write a log file in " + folder + ": " + e.getMessage());
    }
  }

  static String stamp(LocalDateTime t) {
    final StringBuilder s = new StringBuilder(SHAPE.length());
    pad(s, t.getYear(), 4).append('-');
    pad(s, t.getMonthValue(), 2).append('-');
    pad(s, t.getDayOfMonth(), 2).append('-');
    pad(s, t.getHour(), 2).append('-');
    pad(s, t.getMinute(), 2).append('-');
    pad(s, t.getSecond(), 2).append('-');
    return pad(s, t.getNano() / 1_000_000, 3).toString();
  }

  private static StringBuilder pad(StringBuilder s, int value, int width) {
    final String digits = Integer.toString(value);
    for (int i = digits.length(); i < width; i++) s.append('0');
    return s.append(digits);
  }

  /** Whether a name is one of the updater's log files: the time has its fixed shape. */
  static boolean isLogName(String name) {
    if (name.length() != PREFIX.length() + SHAPE.length() + SUFFIX.length() || !name.startsWith(PREFIX)
        || !name.endsWith(SUFFIX)) {
      return false;
    }
    for (int i = 0; i < SHAPE.length(); i++) {
      final char c = name.charAt(PREFIX.length() + i);
      if (SHAPE.charAt(i) == 'd' ? c < '0' || c > '9' : c != '-') return false;
    }
    return true;
  }

  // Only regular files of exactly that name are removed, each by its name in the folder already
  // open: a link is removed as a link, never followed.
  private static void prune(SecureDirectoryStream<Path> logs, Path folder, String own) {
    final List<String> names = new ArrayList<>();
    for (Path entry : logs) {
      final String name = entry.getFileName().toString();
      if (!isLogName(name) || name.equals(own)) continue;
      try {
        if (logs.getFileAttributeView(Path.of(name), BasicFileAttributeView.class, LinkOption.NOFOLLOW_LINKS)
            .readAttributes().isRegularFile()) {
          names.add(name);
        }
      } catch (IOException e) {
        Log.record("[Updater] Cannot look at " + folder.resolve(name) + ": " + e.getMessage());
      }
    }
    // The time in the name sorts as text: the newest first. This run's file is one of those kept.
    Collections.sort(names, Collections.reverseOrder());
    for (int i = KEPT - 1; i < names.size(); i++) {
      try {
        logs.deleteFile(Path.of(names.get(i)));
      } catch (IOException e) {
        Log.record("[Updater] Cannot remove the old log file " + folder.resolve(names.get(i)) + ": " + e);
      }
    }
  }
}
