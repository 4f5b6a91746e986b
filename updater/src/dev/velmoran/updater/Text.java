package dev.velmoran.updater;

import java.nio.charset.StandardCharsets;
import java.nio.file.InvalidPathException;
import java.nio.file.Path;

/** Conversions shared by the readers: numbers as the launcher reads them, bytes for printing. */
final class Text {
  private Text() {}

  /**
   * The value of a number field as the launcher's atol reads it: optional blanks and a sign, then
   * decimal digits up to the first other character; 0 without digits. Values past the range of a
   * long saturate, as strtoll does.
   */
  static long atol(String text) {
    int i = 0;
    final int n = text.length();
    while (i < n && " \t\n\u000b\f\r".indexOf(text.charAt(i)) >= 0) i++;
    boolean negative = false;
    if (i < n && (text.charAt(i) == '+' || text.charAt(i) == '-')) {
      negative = text.charAt(i) == '-';
      i++;
    }
    // Accumulated as a negative number so that Long.MIN_VALUE is reachable.
    long value = 0;
    for (; i < n && text.charAt(i) >= '0' && text.charAt(i) <= '9'; i++) {
      final int digit = text.charAt(i) - '0';
      if (value < (Long.MIN_VALUE + digit) / 10) return negative ? Long.MIN_VALUE : Long.MAX_VALUE;
      value = value * 10 - digit;
    }
    if (negative) return value;
    return value == Long.MIN_VALUE ? Long.MAX_VALUE : -value;
  }

  /**
   * Bytes as one line of printable ASCII that gives back the exact bytes: every byte outside
   * 0x20..0x7E, and '%' itself, is written as %XX (upper-case hex); in a key '=' is too, so the
   * first '=' of a printed "key=value" is always the separator.
   */
  static String percentEncode(byte[] bytes, boolean isKey) {
    final StringBuilder out = new StringBuilder(bytes.length);
    for (byte b : bytes) {
      final int c = b & 0xff;
      if (c < 0x20 || c > 0x7e || c == '%' || (isKey && c == '=')) {
        out.append('%').append(Character.toUpperCase(Character.forDigit(c >> 4, 16)))
            .append(Character.toUpperCase(Character.forDigit(c & 0xf, 16)));
      } else {
        out.append((char) c);
      }
    }
    return out.toString();
  }

  static String utf8(byte[] bytes, int offset, int length) {
    return new String(bytes, offset, length, StandardCharsets.UTF_8);
  }

  /** A path from text read from a file or the command line, refused clearly when the platform cannot name it. */
  static Path path(String text, String what) throws UpdaterException {
    try {
      return Path.of(text);
    } catch (InvalidPathException e) {
      throw new UpdaterException(what + " \"" + text + "\" is not a usable path: " + e.getReason());
    }
  }
}
