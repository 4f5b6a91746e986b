package dev.velmoran.updater;

import java.io.IOException;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/**
 * The minimal updater: started by the launcher with the launch properties file as its first
 * argument, it prints the properties, then starts the newest installed version of the application
 * on the newest private JRE and ends without waiting for it. It downloads nothing.
 *
 * <p>Each property is printed as "[Updater] property N: KEY=VALUE", N counting from 0 in file
 * order, KEY and VALUE percent-encoded as {@link Text#percentEncode} says. The empty-value mark
 * (the lone byte 0x04) is printed as an empty VALUE; since no entry of the file is ever empty, an
 * empty VALUE always stands for that one byte.
 */
public final class Updater {
  private Updater() {}

  public static void main(String[] args) {
    try {
      run(args);
    } catch (UpdaterException e) {
      System.out.flush();
      System.err.println("[Updater] " + e.getMessage());
      System.exit(1);
    }
  }

  private static void run(String[] args) throws UpdaterException {
    if (args.length < 1) {
      throw new UpdaterException("usage: java " + Updater.class.getName()
          + " LAUNCH_PROPERTIES_FILE [ARGUMENT...]");
    }
    final LaunchProperties properties = LaunchProperties.read(Text.path(args[0], "launch properties file"));
    final List<LaunchProperties.Property> all = properties.all();
    for (int i = 0; i < all.size(); i++) {
      final LaunchProperties.Property p = all.get(i);
      System.out.println("[Updater] property " + i + ": " + Text.percentEncode(p.key(), true) + "="
          + (p.isEmptyMark() ? "" : Text.percentEncode(p.value(), false)));
    }

    // The launcher runs us from our own version folder, which sits in the master folder.
    final Path appDir = Text.path(properties.required("vlstat_app_dir"), "vlstat_app_dir").toAbsolutePath();
    final Path master = appDir.getParent();
    if (master == null) throw new UpdaterException("vlstat_app_dir " + appDir + " has no parent folder");
    final String appName = properties.required("vlstat_app_name");
    final String jreName = properties.required("vlstat_jre_name");

    final String appFolder = VersionFolders.newest(master, appName).orElseThrow(() -> new UpdaterException(
        "No version of " + appName + " is installed in " + master + " (this updater downloads nothing)"));
    final String jreFolder = VersionFolders.newest(master, jreName).orElseThrow(
        () -> new UpdaterException("No private JRE " + jreName + " is installed in " + master));
    final Path appPath = master.resolve(appFolder);
    final Path launchPath = appPath.resolve(LaunchFile.NAME);
    final LaunchFile launch = LaunchFile.read(launchPath);
    if (launch.mainClass().isEmpty()) throw new UpdaterException("launch file " + launchPath + " names no main class");

    final List<String> command = command(launch, appPath, master.resolve(jreFolder).resolve("bin").resolve("java"),
        Arrays.asList(args).subList(1, args.length));
    System.out.println("[Updater] Starting " + appFolder + " with " + jreFolder);
    for (int i = 0; i < command.size(); i++) System.out.println("[Updater] argument " + i + ": " + command.get(i));
    System.out.flush();
    try {
      new ProcessBuilder(command).inheritIO().start();
    } catch (IOException e) {
      throw new UpdaterException("cannot start " + command.get(0) + ": " + e.getMessage());
    }
  }

  /**
   * java [-Xmx..m] [-Xms..m] -cp CLASSPATH CLASS EXTRA_ARGS... USER_ARGS..., the class path entries
   * joined to the application's folder and separated by ':'.
   */
  static List<String> command(LaunchFile launch, Path appPath, Path java, List<String> userArgs) {
    final List<String> command = new ArrayList<>();
    command.add(java.toString());
    if (launch.jvmMem() > 0) command.add("-Xmx" + launch.jvmMem() + "m");
    if (launch.jvmStack() > 0) command.add("-Xms" + launch.jvmStack() + "m");
    command.add("-cp");
    final List<String> entries = new ArrayList<>();
    for (String entry : launch.classpath()) entries.add(appPath + "/" + entry);
    command.add(String.join(":", entries));
    command.add(launch.mainClass());
    command.addAll(launch.extraArgs());
    command.addAll(userArgs);
    return command;
  }
}
