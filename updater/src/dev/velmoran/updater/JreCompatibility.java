package dev.velmoran.updater;

/**
 * The JRE compatibility class: the launcher runs it on a candidate system JRE, with the launch
 * properties file as its first argument, and adopts the JRE when it exits with 72. It does when
 * this JVM's feature version meets "vlstat_java_version" (its leading digits; empty means any).
 */
public final class JreCompatibility {
  static final int COMPATIBLE = 72;
  static final int INCOMPATIBLE = 1;

  private JreCompatibility() {}

  public static void main(String[] args) {
    int status;
    try {
      status = check(args);
    } catch (UpdaterException e) {
      System.err.println("[Updater] " + e.getMessage());
      status = INCOMPATIBLE;
    }
    System.exit(status);
  }

  private static int check(String[] args) throws UpdaterException {
    if (args.length < 1) {
      throw new UpdaterException("usage: java " + JreCompatibility.class.getName() + " LAUNCH_PROPERTIES_FILE");
    }
    final LaunchProperties properties = LaunchProperties.read(Text.path(args[0], "launch properties file"));
    final String required = properties.last("vlstat_java_version").orElse("");
    final int feature = Runtime.version().feature();
    final boolean meets = feature >= Text.atol(required);
    System.out.println("[Updater] Java " + feature + (meets ? " meets" : " does not meet")
        + " the required version \"" + required + "\"");
    return meets ? COMPATIBLE : INCOMPATIBLE;
  }
}
