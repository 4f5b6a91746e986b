package dev.velmoran.updater;

import java.io.File;
import java.io.IOException;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.net.MalformedURLException;
import java.net.URL;
import java.net.URLClassLoader;
import java.security.CodeSource;
import java.security.PermissionCollection;
import java.security.Permissions;
import java.util.ArrayList;
import java.util.List;

/** The start of the application the launch properties describe, in this JVM or in a second one. */
final class Application {
  private Application() {}

  /**
   * The application's main method, loaded by a class loader of its own over its class path. Its
   * parent is the platform class loader: none of the updater's classes are visible to it.
   */
  static Method load(Launch launch) throws UpdaterException {
    final List<URL> urls = new ArrayList<>();
    for (String entry : launch.classpath.split(":")) {
      if (entry.isEmpty()) continue;
      try {
        urls.add(new File(entry).toURI().toURL());
      } catch (MalformedURLException | IllegalArgumentException e) {
        throw new UpdaterException("class path entry " + entry + " is not usable: " + e.getMessage());
      }
    }
    final URLClassLoader loader = new Loader(urls.toArray(new URL[0]));
    final Method main;
    try {
      main = Class.forName(launch.mainClass, false, loader).getMethod("main", String[].class);
    } catch (ClassNotFoundException | LinkageError e) {
      throw new UpdaterException("cannot load the main class " + launch.mainClass + " from " + launch.classpath
          + ": " + e);
    } catch (NoSuchMethodException e) {
      throw new UpdaterException("the main class " + launch.mainClass + " has no public main(String[])");
    }
    if (!Modifier.isStatic(main.getModifiers()) || main.getReturnType() != void.class) {
      throw new UpdaterException("main of " + launch.mainClass + " is not static void");
    }
    // java calls main whether or not its class is public.
    main.setAccessible(true);
    return main;
  }

  /**
   * Calls main on this thread with the application's class loader as the context class loader
   * and its Params as system properties. What main throws is thrown on, as java would have it.
   */
  static void runHere(Launch launch, Method main) throws Throwable {
    for (String[] param : launch.params) {
      if (!param[0].isEmpty()) System.setProperty(param[0], param[1]);
    }
    // What java would have set for a second JVM; the JVM itself read it at its start, long ago.
    System.setProperty("java.class.path", launch.classpath);
    Thread.currentThread().setContextClassLoader(main.getDeclaringClass().getClassLoader());
    try {
      main.invoke(null, (Object) arguments(launch));
    } catch (InvocationTargetException e) {
      throw e.getCause();
    }
  }

  private static String[] arguments(Launch launch) {
    final List<String> args = new ArrayList<>(launch.appArgs);
    args.addAll(launch.userArgs);
    return args.toArray(new String[0]);
  }

  /**
   * JRE/bin/java [-Xmx..m] [-Xms..m] JVM_OPTIONS... -DNAME=VALUE... -cp CLASSPATH CLASS
   * EXTRA_ARGS... USER_ARGS...
   */
  static List<String> command(Launch launch) throws UpdaterException {
    if (launch.jreFolder == null) throw new UpdaterException("the launch properties have no vlstat_jre_folder");
    final List<String> command = new ArrayList<>();
    command.add(launch.jreFolder + "/bin/java");
    if (Text.atol(launch.appMaxHeap) > 0) command.add("-Xmx" + Text.atol(launch.appMaxHeap) + "m");
    if (Text.atol(launch.appInitialHeap) > 0) command.add("-Xms" + Text.atol(launch.appInitialHeap) + "m");
    command.addAll(launch.appJvmOptions);
    for (String[] param : launch.params) {
      if (!param[0].isEmpty()) command.add("-D" + param[0] + "=" + param[1]);
    }
    command.add("-cp");
    command.add(launch.classpath);
    command.add(launch.mainClass);
    command.addAll(launch.appArgs);
    command.addAll(launch.userArgs);
    return command;
  }

  /**
   * The application's class loader. Its classes get no permissions of their own: no security
   * manager reads them, and URLClassLoader's would read the JDK's security configuration at the
   * first class, for nothing.
   */
  private static final class Loader extends URLClassLoader {
    static {
      ClassLoader.registerAsParallelCapable();
    }

    Loader(URL[] urls) {
      super(urls, ClassLoader.getPlatformClassLoader());
    }

    @Override
    protected PermissionCollection getPermissions(CodeSource source) {
      return new Permissions();
    }
  }

  /** Starts the second JVM with the updater's standard streams. */
  static Process start(List<String> command) throws UpdaterException {
    Children.watch();
    try {
      final Process process = new ProcessBuilder(command).inheritIO().start();
      Children.add(process);
      return process;
    } catch (IOException e) {
      throw new UpdaterException("cannot start " + command.get(0) + ": " + e.getMessage());
    }
  }
}
