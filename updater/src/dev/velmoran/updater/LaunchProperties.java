package dev.velmoran.updater;

import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.Optional;

/**
 * The launch properties file the launcher hands over: key and value entries separated by single
 * NUL bytes, with no terminator. An entry is never empty, so an empty value is stored as the single
 * byte 0x04. Keys ("vlstat_" or "vldyna_" and a name) may repeat; every pair is kept, in file order.
 */
final class LaunchProperties {
  static final byte EMPTY_MARK = 0x04;
  // The launcher's block starts at 200,000 bytes; anything near this limit is not one of its files.
  static final int MAX_FILE_SIZE = 16 << 20;

  /** One key and value pair, as the bytes of the file. */
  record Property(byte[] key, byte[] value) {
    String keyText() {
      return Text.utf8(key, 0, key.length);
    }

    /** The value as text, with the empty-value mark read as "". */
    String valueText() {
      return isEmptyMark() ? "" : Text.utf8(value, 0, value.length);
    }

    boolean isEmptyMark() {
      return value.length == 1 && value[0] == EMPTY_MARK;
    }
  }

  private final List<Property> properties;

  private LaunchProperties(List<Property> properties) {
    this.properties = Collections.unmodifiableList(properties);
  }

  static LaunchProperties read(Path file) throws UpdaterException {
    return parse(FileBytes.read(file, MAX_FILE_SIZE, "launch properties file"), file.toString());
  }

  static LaunchProperties parse(byte[] bytes, String source) throws UpdaterException {
    final List<byte[]> entries = new ArrayList<>();
    // An empty file holds no properties; otherwise every NUL and the end close an entry.
    for (int i = 0, start = 0; bytes.length > 0 && i <= bytes.length; i++) {
      if (i < bytes.length && bytes[i] != 0) continue;
      // Two NULs in a row, a NUL first or last: no writer of this format makes such a file.
      if (i == start) {
        throw new UpdaterException("launch properties file " + source + ": empty entry at byte " + start
            + " (an empty value is the byte 0x04)");
      }
      entries.add(Arrays.copyOfRange(bytes, start, i));
      start = i + 1;
    }
    if (entries.size() % 2 != 0) {
      throw new UpdaterException("launch properties file " + source + ": " + entries.size()
          + " entries, an odd number: the last key has no value");
    }
    final List<Property> properties = new ArrayList<>(entries.size() / 2);
    for (int i = 0; i < entries.size(); i += 2) {
      properties.add(new Property(entries.get(i), entries.get(i + 1)));
    }
    return new LaunchProperties(properties);
  }

  List<Property> all() {
    return properties;
  }

  /** The value of the last pair with this key: a key added again supersedes the earlier pair. */
  Optional<String> last(String key) {
    final byte[] wanted = key.getBytes(StandardCharsets.UTF_8);
    for (int i = properties.size() - 1; i >= 0; i--) {
      if (Arrays.equals(properties.get(i).key(), wanted)) return Optional.of(properties.get(i).valueText());
    }
    return Optional.empty();
  }

  /** The last value of a property the launcher always writes; missing or empty is an error. */
  String required(String key) throws UpdaterException {
    return required(key, false);
  }

  String required(String key, boolean emptyAllowed) throws UpdaterException {
    final Optional<String> value = last(key);
    if (value.isEmpty()) throw new UpdaterException("the launch properties have no " + key);
    if (!emptyAllowed && value.get().isEmpty()) throw new UpdaterException("the launch property " + key + " is empty");
    return value.get();
  }
}
