package dev.velmoran.updater;

import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;

/** Whole small input files, read with a size limit so that a huge or endless file is refused, not held. */
final class FileBytes {
  private FileBytes() {}

  static byte[] read(Path file, int limit, String what) throws UpdaterException {
    try (InputStream in = Files.newInputStream(file)) {
      final byte[] bytes = in.readNBytes(limit + 1);
      if (bytes.length > limit) {
        throw new UpdaterException(what + " " + file + " is larger than " + limit + " bytes");
      }
      return bytes;
    } catch (NoSuchFileException e) {
      throw new UpdaterException(what + " " + file + " does not exist");
    } catch (IOException e) {
      throw new UpdaterException("cannot read " + what + " " + file + ": " + e.getMessage());
    }
  }
}
