package dev.velmoran.updater;

import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

/**
 * A launch file ("VelmoranLaunch"): NUL-terminated text fields in a fixed order, no header, read
 * as the launcher reads them. A file that ends early gives empty fields (numbers 0) from there on.
 * Fields 13 to 18 exist from the format version named beside them.
 */
record LaunchFile(
    long version,
    String mainClass,
    String onUpdateClass,
    String appName,
    String osIcns,
    boolean urlRequired,
    long jvmMem,
    long jvmStack,
    List<String> classpath,
    List<String> extraArgs,
    String jreCompatibilityClass,
    String postInstallClass,
    String preUninstallClass,
    List<String> appJvmOptions,
    boolean mustFork) {

  static final String NAME = "VelmoranLaunch";
  // The launcher's field readers keep at most this many characters of a text and of a number.
  static final int MAX_TEXT = 1023;
  static final int MAX_NUMBER = 39;
  static final int MAX_FILE_SIZE = 16 << 20;

  static LaunchFile read(Path file) throws UpdaterException {
    return parse(FileBytes.read(file, MAX_FILE_SIZE, "launch file"), file.toString());
  }

  static LaunchFile parse(byte[] bytes, String source) throws UpdaterException {
    final Fields in = new Fields(bytes, source);
    final long version = in.number("LaunchFile VER");
    final String mainClass = in.text("Class");
    final String onUpdateClass = in.text("Class OnUpdate");
    final String appName = in.text("App Name");
    final String osIcns = in.text("OS ICNS");
    final boolean urlRequired = in.bool("URL Required");
    final long jvmMem = in.number("jvmMem (old)");
    final long jvmStack = in.number("jvmStack (old)");
    final List<String> classpath = in.list("Classpath Count", "Classpath Entry");
    final List<String> extraArgs = in.list("Extra Args Count", "Extra Args Entry");
    final String jreCompatibilityClass = version >= 3 ? in.text("Main Class JRECompatibility") : "";
    final String postInstallClass = version >= 4 ? in.text("Main Class PostInstall") : "";
    final String preUninstallClass = version >= 4 ? in.text("Main Class PreUninstall") : "";
    final List<String> appJvmOptions =
        version >= 5 ? in.list("App JVM Option Count", "App JVM Option Entry") : List.of();
    final boolean mustFork = version >= 6 && in.bool("Must Fork");
    return new LaunchFile(version, mainClass, onUpdateClass, appName, osIcns, urlRequired, jvmMem,
        jvmStack, classpath, extraArgs, jreCompatibilityClass, postInstallClass, preUninstallClass,
        appJvmOptions, mustFork);
  }

  private static final class Fields {
    private final byte[] bytes;
    private final String source;
    private int pos;

    Fields(byte[] bytes, String source) {
      this.bytes = bytes;
      this.source = source;
    }

    String text(String label) throws UpdaterException {
      return field(label, MAX_TEXT);
    }

    long number(String label) throws UpdaterException {
      return Text.atol(field(label, MAX_NUMBER));
    }

    boolean bool(String label) throws UpdaterException {
      return number(label) == 1;
    }

    /** A count and that many entries; 0 or less means none. */
    List<String> list(String countLabel, String entryLabel) throws UpdaterException {
      final long count = number(countLabel);
      // Each entry in the file takes at least its NUL, so past the bytes left every entry would be
      // empty: the count is bounded by them rather than trusted.
      final long n = Math.max(0, Math.min(count, bytes.length - pos));
      if (n < count) {
        System.out.printf("[Updater] Launch file %s: \"%s\" is %d, more than the %d bytes left; reading %d%n",
            source, countLabel, count, bytes.length - pos, n);
      }
      final List<String> entries = new ArrayList<>((int) n);
      for (long i = 0; i < n; i++) entries.add(text(entryLabel));
      return entries;
    }

    // An over-long field is refused: the launcher's reader would split it and misread every field
    // after it.
    private String field(String label, int max) throws UpdaterException {
      final int start = pos;
      while (pos < bytes.length && bytes[pos] != 0) {
        if (pos - start == max) {
          throw new UpdaterException(String.format(
              "launch file %s: field \"%s\" at byte %d is longer than %d characters", source, label, start, max));
        }
        pos++;
      }
      final String text = Text.utf8(bytes, start, pos - start);
      if (pos < bytes.length) pos++;
      return text;
    }
  }
}
