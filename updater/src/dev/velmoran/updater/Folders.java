package dev.velmoran.updater;

import java.io.IOException;
import java.nio.file.DirectoryStream;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.SecureDirectoryStream;
import java.nio.file.attribute.PosixFileAttributeView;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;

/**
 * Folders of the master folder that the updater writes into (logs, VLRunning), opened so that
 * nothing is reached through a link: the folder itself is opened without following one, and the
 * files in it are made and removed relative to that open folder.
 */
final class Folders {
  private Folders() {}

  /**
   * Whether the master folder is open to every user (a perm_all install in /opt): then what the
   * updater makes there is too, so that the launcher and updaters of other users can use it.
   */
  static boolean worldWritable(Path master) {
    try {
      return Files.getPosixFilePermissions(master).contains(PosixFilePermission.OTHERS_WRITE);
    } catch (IOException | UnsupportedOperationException e) {
      return false;
    }
  }

  /** The folder {@code master/name}, made when missing (mode 0777 or 0755, whatever the umask). */
  static SecureDirectoryStream<Path> open(Path master, String name, boolean worldWritable) throws IOException {
    boolean made = false;
    try {
      Files.createDirectory(master.resolve(name));
      made = true;
    } catch (FileAlreadyExistsException e) {
      // Used as it is, when it is a folder and not a link.
    }
    try (DirectoryStream<Path> parent = Files.newDirectoryStream(master)) {
      if (!(parent instanceof SecureDirectoryStream)) {
        throw new IOException("this platform cannot open a folder without following links");
      }
      final SecureDirectoryStream<Path> folder;
      try {
        folder = ((SecureDirectoryStream<Path>) parent).newDirectoryStream(Path.of(name), LinkOption.NOFOLLOW_LINKS);
      } catch (IOException e) {
        throw new IOException(master.resolve(name) + " is a link or not a folder (" + e.getMessage() + ")");
      }
      if (made) {
        folder.getFileAttributeView(PosixFileAttributeView.class)
            .setPermissions(PosixFilePermissions.fromString(worldWritable ? "rwxrwxrwx" : "rwxr-xr-x"));
      }
      return folder;
    }
  }
}
