package dev.velmoran.updater;

import java.io.IOException;
import java.nio.channels.FileChannel;
import java.nio.channels.FileLock;
import java.nio.channels.SeekableByteChannel;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.LinkOption;
import java.nio.file.OpenOption;
import java.nio.file.Path;
import java.nio.file.SecureDirectoryStream;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.BasicFileAttributeView;
import java.nio.file.attribute.PosixFileAttributeView;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayList;
import java.util.List;
import java.util.Set;

/**
 * The version folders in use: a shared lock on {@code <master>/VLRunning/<folder name>} for each,
 * held until the process ends. The launcher tries a write lock there before it removes a folder.
 * A lock that cannot be taken is a record; the start goes on.
 */
final class Locks {
  // Kept reachable: a lock lives as long as its channel is open.
  private static final List<FileLock> HELD = new ArrayList<>();
  private static final List<String> NAMES = new ArrayList<>();

  private Locks() {}

  static synchronized void hold(Path master, boolean worldWritable, String... folders) {
    try (SecureDirectoryStream<Path> running = Folders.open(master, "VLRunning", worldWritable)) {
      for (String folder : folders) {
        if (folder == null || NAMES.contains(folder)) continue;
        try {
          final FileLock lock = open(running, folder, worldWritable).tryLock(0, Long.MAX_VALUE, true);
          if (lock == null) {
            Log.record("[Updater] " + folder + " is locked for its removal: running without a lock on it");
            continue;
          }
          HELD.add(lock);
          NAMES.add(folder);
        } catch (IOException e) {
          Log.record("[Updater] Cannot lock " + master.resolve("VLRunning").resolve(folder) + ": " + e);
        }
      }
    } catch (IOException e) {
      Log.record("[Updater] Cannot lock the folders in use: " + e.getMessage());
    }
  }

  /** The names of the folders locked so far. */
  static synchronized List<String> held() {
    return new ArrayList<>(NAMES);
  }

  // Opened for reading and writing, also when the file is there already: an open for reading alone
  // would wait for a writer if someone put a FIFO there, and the launcher's write lock needs a file
  // that others can write (0666 where the master folder is open to all).
  private static FileChannel open(SecureDirectoryStream<Path> running, String folder, boolean worldWritable)
      throws IOException {
    final Path name = Path.of(folder);
    if (name.getNameCount() != 1 || folder.equals("..") || folder.equals(".")) {
      throw new IOException("\"" + folder + "\" is not a folder name");
    }
    SeekableByteChannel channel;
    try {
      channel = running.newByteChannel(name, Set.<OpenOption>of(StandardOpenOption.READ, StandardOpenOption.WRITE,
          StandardOpenOption.CREATE_NEW, LinkOption.NOFOLLOW_LINKS));
      running.getFileAttributeView(name, PosixFileAttributeView.class, LinkOption.NOFOLLOW_LINKS)
          .setPermissions(PosixFilePermissions.fromString(worldWritable ? "rw-rw-rw-" : "rw-r--r--"));
    } catch (FileAlreadyExistsException e) {
      if (!running.getFileAttributeView(name, BasicFileAttributeView.class, LinkOption.NOFOLLOW_LINKS)
          .readAttributes().isRegularFile()) {
        throw new IOException("not a regular file");
      }
      channel = running.newByteChannel(name, Set.<OpenOption>of(StandardOpenOption.READ, StandardOpenOption.WRITE,
          LinkOption.NOFOLLOW_LINKS));
    }
    if (!(channel instanceof FileChannel)) {
      channel.close();
      throw new IOException("not a file channel");
    }
    return (FileChannel) channel;
  }
}
