package dev.velmoran.updater;

import java.io.FileInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Path;

/** Whole small input files, read with a size limit so that a huge or endless file is refused, not held. */
final class FileBytes {
  private FileBytes() {}

  /** The bytes, or null when the file does not exist. */
  static byte[] readIfThere(Path file, int limit, String what) throws UpdaterException {
    // java.io's stream: the JVM has loaded it already, which the start of an application notices.
    try (InputStream in = new FileInputStream(file.toString())) {
      final byte[] bytes = in.readNBytes(limit + 1);
      if (bytes.length > limit) {
        throw new UpdaterException(what + " " + file + " is larger than " + limit + " bytes");
      }
      return bytes;
    } catch (IOException e) {
      if (!file.toFile().exists()) return null;
      throw new UpdaterException("cannot read " + what + " " + file + ": " + e.getMessage());
    }
  }

  static byte[] read(Path file, int limit, String what) throws UpdaterException {
    final byte[] bytes = readIfThere(file, limit, what);
    if (bytes == null) throw new UpdaterException(what + " " + file + " does not exist");
    return bytes;
  }
}
