package dev.velmoran.hello;

import java.awt.AWTError;
import java.awt.BorderLayout;
import java.awt.Font;
import java.awt.GraphicsEnvironment;
import java.awt.HeadlessException;
import java.awt.event.MouseAdapter;
import java.awt.event.MouseEvent;
import java.io.FileInputStream;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.util.Properties;
import javax.swing.JFrame;
import javax.swing.JLabel;
import javax.swing.SwingConstants;
import javax.swing.SwingUtilities;
import javax.swing.Timer;

/**
 * The demo application. It prints "Hello from NAME VERSION", one line per argument and one per
 * system property it is asked to show; with a display it also shows the first line in a window
 * that closes after a few seconds or on a click.
 */
public final class Hello {
  private static final int WINDOW_MILLIS = 4000;

  private Hello() {}

  public static void main(String[] args) throws IOException {
    // bench/start.sh: the system property names a file to append two numbers to when main is
    // reached: the monotonic clock (the same clock as Python's time.monotonic_ns) and the processor
    // time this thread has used so far, in nanoseconds. Unset, it costs one lookup.
    final String stamp = System.getProperty("dev.velmoran.hello.main_stamp");
    if (stamp != null) {
      final long now = System.nanoTime();
      String used;
      try (InputStream in = new FileInputStream("/proc/thread-self/schedstat")) {
        used = new String(in.readAllBytes(), StandardCharsets.US_ASCII).split(" ")[0];
      } catch (IOException e) {
        used = "-1";
      }
      try (FileOutputStream out = new FileOutputStream(stamp, true)) {
        out.write((now + " " + used + "\n").getBytes(StandardCharsets.US_ASCII));
      }
    }
    final Properties about = new Properties();
    try (InputStream in = Hello.class.getResourceAsStream("hello.properties")) {
      if (in != null) about.load(in);
    }
    final String name = about.getProperty("name", "Hello");
    final String line = "Hello from " + name + " " + about.getProperty("version", "unknown");
    System.out.println(line);
    for (int i = 0; i < args.length; i++) System.out.println("Hello argument " + i + ": " + args[i]);
    // The system properties the comma-separated list in dev.velmoran.hello.show names, one line
    // each: what the launcher file's JVM options and parameters set.
    final String show = System.getProperty("dev.velmoran.hello.show", "");
    for (String property : show.split(",")) {
      if (!property.isEmpty()) System.out.println("Hello property " + property + ": " + System.getProperty(property));
    }
    System.out.flush();

    final String display = System.getenv("DISPLAY");
    if (display == null || display.isEmpty() || GraphicsEnvironment.isHeadless()) return;
    try {
      // Connects to the display here, so that a display that cannot be opened is reported, not thrown
      // on the event thread.
      GraphicsEnvironment.getLocalGraphicsEnvironment().getScreenDevices();
    } catch (AWTError | HeadlessException e) {
      System.err.println("Hello: no window: " + e.getMessage());
      return;
    }
    SwingUtilities.invokeLater(() -> showWindow(name, line));
  }

  private static void showWindow(String title, String line) {
    final JFrame frame = new JFrame(title);
    final JLabel label = new JLabel(line, SwingConstants.CENTER);
    label.setFont(label.getFont().deriveFont(Font.BOLD, 20f));
    frame.add(label, BorderLayout.CENTER);
    frame.setDefaultCloseOperation(JFrame.EXIT_ON_CLOSE);
    frame.setSize(420, 160);
    frame.setLocationRelativeTo(null);
    final Runnable close = () -> {
      frame.dispose();
      System.exit(0);
    };
    label.addMouseListener(new MouseAdapter() {
      @Override
      public void mouseClicked(MouseEvent e) {
        close.run();
      }
    });
    final Timer timer = new Timer(WINDOW_MILLIS, e -> close.run());
    timer.setRepeats(false);
    timer.start();
    frame.setVisible(true);
  }
}
