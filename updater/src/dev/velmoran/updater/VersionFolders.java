package dev.velmoran.updater;

import java.io.IOException;
import java.nio.file.DirectoryIteratorException;
import java.nio.file.DirectoryStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Optional;

/**
 * Version folders in a master folder, named "Velmoran-" + component + "-" + version + "-complete".
 * The component is the text between the first and second "-", the version the text between the
 * second and third, compared as a number (so 10 is newer than 9); the other fields are not looked at.
 */
final class VersionFolders {
  static final long NO_VERSION = -1;

  private VersionFolders() {}

  static boolean matches(String name, String component) {
    final int p1 = name.indexOf('-');
    final int p2 = p1 < 0 ? -1 : name.indexOf('-', p1 + 1);
    return p2 >= 0 && name.substring(p1 + 1, p2).equals(component);
  }

  /** The version field as a number, or NO_VERSION when the name has fewer than three "-". */
  static long version(String name) {
    final int p1 = name.indexOf('-');
    final int p2 = p1 < 0 ? -1 : name.indexOf('-', p1 + 1);
    final int p3 = p2 < 0 ? -1 : name.indexOf('-', p2 + 1);
    return p3 < 0 ? NO_VERSION : Text.atol(name.substring(p2 + 1, p3));
  }

  /**
   * The name of the component's newest version folder, as the launcher picks it: the highest
   * version wins, the first in directory order among equals, and a name without a version never.
   */
  static Optional<String> newest(Path master, String component) throws UpdaterException {
    long best = NO_VERSION;
    String bestName = null;
    try (DirectoryStream<Path> entries = Files.newDirectoryStream(master)) {
      for (Path entry : entries) {
        final String name = entry.getFileName().toString();
        if (name.length() <= 2 || !matches(name, component)) continue;
        final long version = version(name);
        if (version > best) {
          best = version;
          bestName = name;
        }
      }
    } catch (IOException | DirectoryIteratorException e) {
      throw new UpdaterException("cannot list the master folder " + master + ": " + e.getMessage());
    }
    return Optional.ofNullable(bestName);
  }
}
