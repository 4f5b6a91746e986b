package dev.velmoran.updater;

import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

/**
 * What the launcher handed over, taken from the launch properties: the master folder, the
 * installed launcher copy, the updater's own JVM settings and the newest installed application.
 * The launcher has read the launch files and picked the folders; nothing here looks at the disk.
 */
final class Launch {
  /** The master folder: the parent of the updater's own version folder. */
  final Path master;
  /** The installed launcher copy, or null when the launcher named none. */
  final String launcher;
  final String jreFolder;
  final String updaterFolder;
  /** The application's version folder name; null when no application is installed. */
  final String appFolder;
  final long appVersion;
  final String appName;
  final String mainClass;
  final String classpath;
  final String appMaxHeap;
  final String appInitialHeap;
  final List<String> appJvmOptions;
  final List<String> appArgs;
  /** Null when the launcher did not say how it started the updater. */
  final String updaterMaxHeap;
  final String updaterInitialHeap;
  final List<String> updaterJvmOptions;
  /** The Params: names (without "vldyna_") and values, in file order. */
  final List<String[]> params;
  final List<String> userArgs;
  final LaunchProperties properties;

  private Launch(LaunchProperties p, List<String> userArgs) throws UpdaterException {
    properties = p;
    this.userArgs = userArgs;
    final Path updaterDir = Text.path(p.required("vlstat_app_dir"), "vlstat_app_dir").toAbsolutePath();
    master = updaterDir.getParent();
    if (master == null) throw new UpdaterException("vlstat_app_dir " + updaterDir + " has no parent folder");
    launcher = p.last("vlstat_launcher").orElse(null);
    jreFolder = p.last("vlstat_jre_folder").orElse(null);
    updaterFolder = p.last("vlstat_updater_folder").orElse(updaterDir.toString());
    appName = p.last("vlstat_app_name").orElse("the application");
    appFolder = p.last("vlstat_app_folder").orElse(null);
    appVersion = Text.atol(p.last("vlstat_app_version").orElse(""));
    if (appFolder != null) {
      mainClass = p.required("vlstat_app_main_class");
      classpath = p.last("vlstat_app_classpath").orElse("");
      appMaxHeap = p.last("vlstat_app_max_heap").orElse("0");
      appInitialHeap = p.last("vlstat_app_initial_heap").orElse("0");
      appJvmOptions = list(p, "vlstat_app_jvm_options_count", "vlstat_app_jvm_option_");
      appArgs = list(p, "vlstat_app_args_count", "vlstat_app_arg_");
    } else {
      mainClass = classpath = appMaxHeap = appInitialHeap = null;
      appJvmOptions = appArgs = List.of();
    }
    updaterMaxHeap = p.last("vlstat_updater_max_heap").orElse(null);
    updaterInitialHeap = p.last("vlstat_updater_initial_heap").orElse(null);
    updaterJvmOptions = updaterMaxHeap == null ? List.of()
        : list(p, "vlstat_updater_jvm_options_count", "vlstat_updater_jvm_option_");
    params = new ArrayList<>();
    for (LaunchProperties.Property property : p.all()) {
      final String key = property.keyText();
      if (key.startsWith("vldyna_")) params.add(new String[] {key.substring(7), property.valueText()});
    }
  }

  static Launch of(LaunchProperties properties, List<String> userArgs) throws UpdaterException {
    return new Launch(properties, userArgs);
  }

  /**
   * The application can run in this JVM when it would get the same JVM: the same heap sizes (as
   * numbers, "0" for none) and the same JVM options in the same order.
   */
  boolean sameJvm() {
    return appFolder != null && updaterMaxHeap != null
        && Text.atol(appMaxHeap) == Text.atol(updaterMaxHeap)
        && Text.atol(appInitialHeap) == Text.atol(updaterInitialHeap == null ? "0" : updaterInitialHeap)
        && appJvmOptions.equals(updaterJvmOptions);
  }

  /** A count and that many numbered entries; every entry the count names must be there. */
  private static List<String> list(LaunchProperties p, String countKey, String entryPrefix) throws UpdaterException {
    final long count = Text.atol(p.last(countKey).orElse("0"));
    // More entries than properties cannot all be there: refused before anything is allocated.
    if (count > p.all().size()) {
      throw new UpdaterException(countKey + " is " + count + ", more than the launch properties hold");
    }
    final List<String> entries = new ArrayList<>();
    for (int i = 0; i < count; i++) entries.add(p.required(entryPrefix + i, true));
    return entries;
  }
}
