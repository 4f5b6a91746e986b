package dev.velmoran.updater;

/** A failure that ends the run with exit status 1; its message is the one line the user sees. */
final class UpdaterException extends Exception {
  private static final long serialVersionUID = 1L;

  UpdaterException(String message) {
    super(message);
  }
}
